// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/reading.h"

#include <QtGlobal>

#include <array>
#include <optional>

// What one output interval saw: the well-formed cycles, summarised as the
// means of the full-precision values with the extremes of pitch and roll
// as displayed (rounding is monotonic, so those are the displayed values'
// extremes too).
//
// A well-formed reply is a count from 0 to 4095, and within one run a count
// always converts to the same value. So instead of adding up values, which
// drifts once millions of cycles are summed, the cycles are counted per
// count: the mean is then the same whether an interval holds ten cycles or
// ten minutes of them at the line's full rate.
class IntervalStats {
public:
    struct Summary {
        double pitch = 0.0, roll = 0.0, temperature = 0.0; // means
        double pitchMin = 0.0, pitchMax = 0.0, rollMin = 0.0, rollMax = 0.0;
        quint64 samples = 0; // cycles
        bool lastCycle = false; // the interval's last cycle alone, as displayed
    };

    // `lastOnly`: the interval is summarised by its last cycle alone.
    explicit IntervalStats(bool lastOnly = false) : m_lastOnly(lastOnly) { }

    void add(const Frame& frame);
    quint64 samples() const { return m_samples; }
    // The interval's last cycle, for the kvddt record; nothing without one.
    const std::optional<Frame>& lastFrame() const { return m_last; }
    // Nothing without a cycle.
    std::optional<Summary> summary() const;
    void clear();

private:
    static constexpr int Counts = 4096;
    struct Axis {
        std::array<quint64, Counts> cycles {}; // per count
        std::array<double, Counts> exact {}; // the full-precision value of each count seen
        double min = 0.0, max = 0.0, last = 0.0;
        void add(const Reading& reading, bool first);
        double mean(quint64 samples) const;
    };

    bool m_lastOnly;
    quint64 m_samples = 0;
    Axis m_pitch, m_roll, m_temperature;
    std::optional<Frame> m_last;
};
