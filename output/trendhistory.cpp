#include "output/trendhistory.h"

#include <QString>

#include <algorithm>

void TrendHistory::add(qint64 tMs, double pitch, double roll)
{
    if (!m_samples.empty() && tMs - m_samples.back().tMs < m_resolutionMs && tMs >= m_samples.back().tMs) {
        Sample& last = m_samples.back();
        last.pitch = pitch;
        last.roll = roll;
    } else {
        m_samples.push_back({tMs, pitch, roll});
    }
    while (!m_samples.empty() && (m_samples.front().tMs < tMs - m_spanMs || m_samples.size() > capacity()))
        m_samples.pop_front();
}

QList<QPointF> TrendHistory::points(bool roll, qint64 nowMs, qint64 windowMs, int maxPoints) const
{
    QList<QPointF> out;
    const qint64 from = nowMs - windowMs;
    auto first = std::lower_bound(
        m_samples.begin(), m_samples.end(), from, [](const Sample& s, qint64 t) { return s.tMs < t; });
    // Samples after `nowMs` (collected while the plot is paused) wait.
    const auto last
        = std::upper_bound(first, m_samples.end(), nowMs, [](qint64 t, const Sample& s) { return t < s.tMs; });
    const auto count = std::distance(first, last);
    if (count <= 0)
        return out;
    const int slices = std::max(1, maxPoints / 2);
    if (count <= maxPoints) {
        out.reserve(int(count));
        for (auto it = first; it != last; ++it) {
            const double v = roll ? it->roll : it->pitch;
            if (std::isfinite(v))
                out.append(QPointF(it->tMs / 1000.0, v));
        }
        return out;
    }
    out.reserve(qsizetype(slices) * 2);
    const double sliceMs = double(windowMs) / slices;
    auto it = first;
    for (int s = 0; s < slices && it != last; ++s) {
        const double end = double(from) + sliceMs * (s + 1);
        const Sample* lo = nullptr;
        const Sample* hi = nullptr;
        for (; it != last && double(it->tMs) < end; ++it) {
            const double v = roll ? it->roll : it->pitch;
            if (!std::isfinite(v))
                continue;
            if (!lo || v < (roll ? lo->roll : lo->pitch))
                lo = &*it;
            if (!hi || v > (roll ? hi->roll : hi->pitch))
                hi = &*it;
        }
        if (!lo)
            continue;
        const Sample* a = lo->tMs <= hi->tMs ? lo : hi;
        const Sample* b = lo->tMs <= hi->tMs ? hi : lo;
        out.append(QPointF(a->tMs / 1000.0, roll ? a->roll : a->pitch));
        if (b != a)
            out.append(QPointF(b->tMs / 1000.0, roll ? b->roll : b->pitch));
    }
    return out;
}

bool TrendHistory::range(qint64 nowMs, qint64 windowMs, double* lo, double* hi) const
{
    bool any = false;
    for (auto it = m_samples.rbegin(); it != m_samples.rend() && it->tMs >= nowMs - windowMs; ++it) {
        if (it->tMs > nowMs)
            continue;
        for (const double v : {it->pitch, it->roll}) {
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

double TrendHistory::valueOf(const QString& text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? v : Missing;
}
