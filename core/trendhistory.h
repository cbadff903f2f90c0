// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPointF>

#include <cmath>
#include <limits>
#include <vector>

// The history behind the trend chart: the displayed pitch and roll values
// against elapsed time. Memory is bounded whatever the reply rate: samples
// closer together than the resolution are merged, and samples older than
// the span are dropped.
class TrendHistory {
public:
    static constexpr double Missing = std::numeric_limits<double>::quiet_NaN();

    struct Sample {
        qint64 tMs;
        double pitch; // NaN when the label shows no number
        double roll;
    };

    // The whole capacity is allocated (and touched) here, so the memory in
    // use stays flat however long the chart runs.
    explicit TrendHistory(qint64 spanMs = 10LL * 60 * 1000, qint64 resolutionMs = 10);

    void add(qint64 tMs, double pitch, double roll);
    void clear() { m_count = 0; }

    std::size_t size() const { return m_count; }
    std::size_t capacity() const { return m_ring.size(); }
    const Sample* latest() const { return m_count == 0 ? nullptr : &at(m_count - 1); }

    // The points of the last `windowMs` before `nowMs`, x in seconds, at most
    // about `maxPoints` of them: each slice of the window keeps its lowest
    // and highest value, so short peaks stay visible.
    QList<QPointF> points(bool roll, qint64 nowMs, qint64 windowMs, int maxPoints) const;

    // The value range of both series over the window, for the axis.
    bool range(qint64 nowMs, qint64 windowMs, double* lo, double* hi) const;

private:
    qint64 m_spanMs;
    qint64 m_resolutionMs;
    // Oldest first: the i-th sample lives at m_ring[(m_first + i) % capacity].
    const Sample& at(std::size_t i) const { return m_ring[(m_first + i) % m_ring.size()]; }
    Sample& at(std::size_t i) { return m_ring[(m_first + i) % m_ring.size()]; }
    std::size_t firstAtOrAfter(qint64 tMs) const; // index of the first sample with time >= tMs

    std::vector<Sample> m_ring;
    std::size_t m_first = 0;
    std::size_t m_count = 0;
};
