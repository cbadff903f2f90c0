// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/replytiming.h"

#include <algorithm>

void ReplyTiming::setFormat(const LineFormat& format)
{
    const double stopBits = format.stopBits == QLatin1String("2") ? 2.0
        : format.stopBits == QLatin1String("1.5")                 ? 1.5
                                                                  : 1.0;
    const double parityBits = format.parity == QLatin1Char('N') ? 0.0 : 1.0;
    const double bits = 1.0 + format.dataBits + parityBits + stopBits;
    m_characterUs = format.baud > 0 ? bits * 1e6 / format.baud : 0.0;
    m_lastWireUs = 0;
    m_measured = 0;
    m_next = 0;
    m_sinceProbe = 0;
    m_paced = false;
}

qint64 ReplyTiming::holdUs(int sent, int awaited)
{
    m_lastWireUs = qint64(double(sent + awaited) * m_characterUs);
    // A reply of one character wakes the reader once anyway.
    if (awaited < 2 || m_lastWireUs < MinimumHoldUs || !m_paced)
        return 0;
    // Measured at once until there are enough measurements: one slow first
    // reply (the program still starting) does not set the hold for long.
    if (m_measured < Remembered || ++m_sinceProbe >= ProbeEvery) {
        m_sinceProbe = 0;
        return 0;
    }
    // One character short of the quickest: a measured reply was seen only
    // once the program had woken and taken it, and listening a little early
    // costs one wake-up, listening late costs readings. Never shorter than
    // the wire time, when no reply can be whole; never longer than twice
    // that: a sensor slower still is listened for.
    const qint64 quickest = *std::min_element(m_beyondWireUs.cbegin(), m_beyondWireUs.cend());
    const qint64 hold = m_lastWireUs + quickest - qint64(m_characterUs);
    return std::clamp(hold, m_lastWireUs, 2 * m_lastWireUs);
}

void ReplyTiming::replyWhole(qint64 elapsedUs, bool held)
{
    if (held || m_lastWireUs < MinimumHoldUs)
        return;
    // Three quarters: the pseudo-terminal of a simulated line and a USB
    // adapter's clock are not exact, but a line that does not pace at all
    // answers in a small fraction of the time.
    m_paced = elapsedUs * 4 >= m_lastWireUs * 3;
    if (!m_paced) {
        m_measured = 0;
        m_next = 0;
        return;
    }
    m_beyondWireUs[std::size_t(m_next)] = elapsedUs - m_lastWireUs;
    m_next = (m_next + 1) % Remembered;
    m_measured = std::min(m_measured + 1, Remembered);
}
