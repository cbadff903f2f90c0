// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/trendhistory.h"

#include <algorithm>

TrendHistory::TrendHistory(qint64 spanMs, qint64 resolutionMs)
    : m_spanMs(spanMs),
      m_resolutionMs(std::max<qint64>(1, resolutionMs)),
      m_ring(std::size_t(spanMs / m_resolutionMs) + 2, Sample {0, Missing, Missing})
{
}

void TrendHistory::add(qint64 tMs, double pitch, double roll)
{
    if (m_count > 0) {
        Sample& last = at(m_count - 1);
        if (tMs >= last.tMs && tMs - last.tMs < m_resolutionMs) {
            last.pitch = pitch; // merged: the latest value of the slot wins
            last.roll = roll;
            return;
        }
    }
    if (m_count == m_ring.size()) {
        m_first = (m_first + 1) % m_ring.size();
        --m_count;
    }
    at(m_count++) = Sample {tMs, pitch, roll};
    while (m_count > 0 && at(0).tMs < tMs - m_spanMs) {
        m_first = (m_first + 1) % m_ring.size();
        --m_count;
    }
}

std::size_t TrendHistory::firstAtOrAfter(qint64 tMs) const
{
    std::size_t lo = 0, hi = m_count;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (at(mid).tMs < tMs)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

QList<QPointF> TrendHistory::points(bool roll, qint64 nowMs, qint64 windowMs, int maxPoints) const
{
    QList<QPointF> out;
    const qint64 from = nowMs - windowMs;
    const std::size_t first = firstAtOrAfter(from);
    // Samples after `nowMs` (collected while the plot is paused) wait.
    const std::size_t last = firstAtOrAfter(nowMs + 1);
    if (last <= first)
        return out;
    const std::size_t count = last - first;
    auto value = [roll](const Sample& s) { return roll ? s.roll : s.pitch; };
    if (count <= std::size_t(std::max(0, maxPoints))) {
        out.reserve(qsizetype(count));
        for (std::size_t i = first; i < last; ++i) {
            const double v = value(at(i));
            if (std::isfinite(v))
                out.append(QPointF(double(at(i).tMs) / 1000.0, v));
        }
        return out;
    }
    // Each slice of the window keeps its lowest and highest value.
    const int slices = std::max(1, maxPoints / 2);
    out.reserve(qsizetype(slices) * 2);
    const double sliceMs = double(windowMs) / slices;
    std::size_t i = first;
    for (int s = 0; s < slices && i < last; ++s) {
        const double end = double(from) + sliceMs * (s + 1);
        const Sample* lo = nullptr;
        const Sample* hi = nullptr;
        for (; i < last && double(at(i).tMs) < end; ++i) {
            const Sample& smp = at(i);
            const double v = value(smp);
            if (!std::isfinite(v))
                continue;
            if (!lo || v < value(*lo))
                lo = &smp;
            if (!hi || v > value(*hi))
                hi = &smp;
        }
        if (!lo)
            continue;
        const Sample* a = lo->tMs <= hi->tMs ? lo : hi;
        const Sample* b = lo->tMs <= hi->tMs ? hi : lo;
        out.append(QPointF(double(a->tMs) / 1000.0, value(*a)));
        if (b != a)
            out.append(QPointF(double(b->tMs) / 1000.0, value(*b)));
    }
    return out;
}

bool TrendHistory::range(qint64 nowMs, qint64 windowMs, double* lo, double* hi) const
{
    bool any = false;
    const std::size_t last = firstAtOrAfter(nowMs + 1);
    for (std::size_t i = firstAtOrAfter(nowMs - windowMs); i < last; ++i) {
        for (const double v : {at(i).pitch, at(i).roll}) {
            if (!std::isfinite(v))
                continue;
            if (!any) {
                *lo = *hi = v;
                any = true;
            }
            *lo = std::min(*lo, v);
            *hi = std::max(*hi, v);
        }
    }
    return any;
}
