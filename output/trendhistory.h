#pragma once

#include <QList>
#include <QPointF>

#include <cmath>
#include <deque>
#include <limits>

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

    explicit TrendHistory(qint64 spanMs = 10LL * 60 * 1000, qint64 resolutionMs = 10)
        : m_spanMs(spanMs), m_resolutionMs(resolutionMs)
    {
    }

    void add(qint64 tMs, double pitch, double roll);
    void clear() { m_samples.clear(); }

    std::size_t size() const { return m_samples.size(); }
    std::size_t capacity() const { return std::size_t(m_spanMs / m_resolutionMs) + 2; }
    const Sample* latest() const { return m_samples.empty() ? nullptr : &m_samples.back(); }

    // The points of the last `windowMs` before `nowMs`, x in seconds, at most
    // about `maxPoints` of them: each slice of the window keeps its lowest
    // and highest value, so short peaks stay visible.
    QList<QPointF> points(bool roll, qint64 nowMs, qint64 windowMs, int maxPoints) const;

    // The value range of both series over the window, for the axis.
    bool range(qint64 nowMs, qint64 windowMs, double* lo, double* hi) const;

    // A label's text as a number; NaN for blanks or anything else.
    static double valueOf(const QString& text);

private:
    qint64 m_spanMs;
    qint64 m_resolutionMs;
    std::deque<Sample> m_samples;
};
