// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/devicewatch.h"

#include <QStringList>

#include <algorithm>

DeviceWatch::Actions DeviceWatch::start(qint64)
{
    m_opening = true;
    Actions a;
    a.open = true;
    return a;
}

DeviceWatch::Actions DeviceWatch::opened(qint64 now)
{
    m_opening = false;
    m_state = m_state == State::Lost ? State::Reopened : m_state;
    m_held = false;
    m_lastCycle = now;
    m_lastReply.fill(now);
    m_nextSample = now + m_settings.sampleEveryMs.value_or(0);
    Actions a;
    a.wakeAt = now + m_settings.lostAfterMs;
    return a;
}

DeviceWatch::Actions DeviceWatch::openFailed(qint64 now, const QString& reason)
{
    m_opening = false;
    Actions a;
    if (!m_announced) {
        m_announced = true;
        a.announce = (m_state == State::Starting ? QStringLiteral("device not available: %1")
                                                 : QStringLiteral("device lost: %1"))
                         .arg(reason);
        a.sensorUp = false;
    }
    m_state = State::Lost;
    a.wakeAt = now + m_backoff.next();
    return a;
}

DeviceWatch::Actions DeviceWatch::reply(qint64 now, Quantity quantity)
{
    m_lastReply[std::size_t(quantity)] = now;
    return {};
}

DeviceWatch::Actions DeviceWatch::cycle(qint64 now)
{
    Actions a;
    if (m_state == State::Lost)
        return a; // a late reply of a link being closed
    m_lastCycle = now;
    if (m_state != State::Up) {
        m_state = State::Up;
        m_backoff.reset();
        a.sensorUp = true;
        a.back = m_announced;
        m_announced = false;
    }
    if (m_settings.sampleEveryMs) {
        // One cycle per sample; the line stays quiet until the next.
        while (m_nextSample <= now)
            m_nextSample += *m_settings.sampleEveryMs;
        m_held = true;
        a.hold = true;
        a.wakeAt = m_nextSample;
    }
    return a;
}

DeviceWatch::Actions DeviceWatch::failed(qint64 now, const QString& reason)
{
    return lose(now, reason);
}

DeviceWatch::Actions DeviceWatch::timeout(qint64 now)
{
    Actions a;
    if (m_state == State::Lost) {
        if (!m_opening) {
            m_opening = true;
            a.open = true;
        }
        return a;
    }
    if (m_held) {
        if (now < m_nextSample) {
            a.wakeAt = m_nextSample;
            return a;
        }
        // The silence counts from the sample's start, not from the last
        // reply before the quiet gap.
        m_held = false;
        m_lastCycle = now;
        m_lastReply.fill(now);
        a.hold = false;
        a.wakeAt = now + m_settings.lostAfterMs;
        return a;
    }
    const qint64 deadline = m_lastCycle + m_settings.lostAfterMs;
    if (now < deadline) {
        a.wakeAt = deadline;
        return a;
    }
    return lose(now, silence(now));
}

QString DeviceWatch::silence(qint64 now) const
{
    const qint64 seconds = m_settings.lostAfterMs / 1000;
    // A sensor that still talks (a valid reply in the last half of the
    // window) but completes no cycle is named by the letters it leaves
    // unanswered; one that fell silent, perhaps after the first reply of a
    // cycle, is simply silent.
    const qint64 latest = *std::max_element(m_lastReply.begin(), m_lastReply.end());
    if (now - latest >= m_settings.lostAfterMs / 2)
        return QStringLiteral("no valid reply for %1 s").arg(seconds);
    QStringList unanswered;
    for (const auto& [quantity, letter] :
        {std::pair {Quantity::Pitch, "B"}, {Quantity::Roll, "C"}, {Quantity::Temperature, "D"}})
        if (now - m_lastReply[std::size_t(quantity)] >= m_settings.lostAfterMs)
            unanswered << QLatin1String(letter);
    if (unanswered.isEmpty())
        return QStringLiteral("no complete cycle for %1 s").arg(seconds);
    return QStringLiteral("no valid reply to %1 for %2 s").arg(unanswered.join(QLatin1String(" and "))).arg(seconds);
}

DeviceWatch::Actions DeviceWatch::lose(qint64 now, const QString& reason)
{
    Actions a;
    if (m_state == State::Lost)
        return a;
    m_state = State::Lost;
    m_held = false;
    a.close = true;
    if (!m_announced) {
        ++m_losses;
        m_announced = true;
        a.announce = QStringLiteral("device lost: %1").arg(reason);
        a.sensorUp = false;
    }
    a.wakeAt = now + m_backoff.next();
    return a;
}
