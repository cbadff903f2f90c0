// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/intervalstats.h"

#include <algorithm>

void IntervalStats::Axis::add(const Reading& reading, bool first)
{
    const auto count = std::clamp(int(reading.count), 0, Counts - 1);
    ++cycles[std::size_t(count)];
    exact[std::size_t(count)] = reading.exact;
    min = first ? reading.value : std::min(min, reading.value);
    max = first ? reading.value : std::max(max, reading.value);
    last = reading.value;
}

double IntervalStats::Axis::mean(quint64 samples) const
{
    // Each count's distance from the first count's value times its cycles,
    // summed once per interval: the rounding of at most 4096 small terms,
    // whatever the number of cycles, and a sensor standing still has
    // exactly its value.
    std::optional<double> base;
    double sum = 0.0;
    for (std::size_t c = 0; c < cycles.size(); ++c) {
        if (cycles[c] == 0)
            continue;
        if (!base)
            base = exact[c];
        sum += double(cycles[c]) * (exact[c] - *base);
    }
    return base.value_or(0.0) + sum / double(samples);
}

void IntervalStats::add(const Frame& frame)
{
    const bool first = m_samples == 0;
    m_pitch.add(frame.pitch, first);
    m_roll.add(frame.roll, first);
    m_temperature.add(frame.temperature, first);
    ++m_samples;
    m_last = frame;
}

std::optional<IntervalStats::Summary> IntervalStats::summary() const
{
    if (m_samples == 0)
        return std::nullopt;
    if (m_lastOnly) {
        const double p = m_pitch.last, r = m_roll.last;
        return Summary {p, r, m_temperature.last, p, p, r, r, 1, true};
    }
    return Summary {m_pitch.mean(m_samples), m_roll.mean(m_samples), m_temperature.mean(m_samples), m_pitch.min,
        m_pitch.max, m_roll.min, m_roll.max, m_samples, false};
}

void IntervalStats::clear()
{
    m_last.reset();
    if (m_samples == 0)
        return;
    for (Axis* axis : {&m_pitch, &m_roll, &m_temperature})
        axis->cycles.fill(0);
    m_samples = 0;
}
