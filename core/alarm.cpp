// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/alarm.h"

#include "core/numberformat.h"
#include "core/timeformat.h"

#include <algorithm>
#include <cmath>
#include <limits>

QString axisName(AlarmAxis axis)
{
    return axis == AlarmAxis::Pitch ? QStringLiteral("pitch") : QStringLiteral("roll");
}

AlarmRule::AlarmRule(const AlarmSettings& settings) : m_settings(settings)
{
}

bool AlarmRule::axisOn(AlarmAxis axis) const
{
    return m_settings.enabled && limit(axis) > 0.0;
}

double AlarmRule::limit(AlarmAxis axis) const
{
    return axis == AlarmAxis::Pitch ? m_settings.pitchLimit : m_settings.rollLimit;
}

bool AlarmRule::active() const
{
    return axisOn(AlarmAxis::Pitch) || axisOn(AlarmAxis::Roll);
}

std::optional<AlarmTransition> AlarmRule::feed(AlarmAxis axis, std::optional<double> value, qint64 timeMs)
{
    AxisState& s = state(axis);
    if (!axisOn(axis))
        return std::nullopt;
    if (!value || std::isnan(*value)) {
        s.holdSince.reset();
        s.fineSince.reset();
        return std::nullopt;
    }
    const double magnitude = std::fabs(*value);
    const bool toward
        = s.raised ? magnitude < limit(axis) - std::max(0.0, m_settings.hysteresis) : magnitude > limit(axis);
    if (!toward) {
        s.holdSince.reset();
        if (!s.judged && !s.raised) {
            if (!s.fineSince || timeMs < *s.fineSince)
                s.fineSince = timeMs;
            s.judged = timeMs - *s.fineSince >= std::max(0, m_settings.holdMs);
        }
        return std::nullopt;
    }
    s.fineSince.reset();
    // A clock that steps back cannot prove the condition held; start over.
    if (!s.holdSince || timeMs < *s.holdSince)
        s.holdSince = timeMs;
    if (timeMs - *s.holdSince < std::max(0, m_settings.holdMs))
        return std::nullopt;
    s.raised = !s.raised;
    s.judged = true;
    s.holdSince.reset();
    return AlarmTransition {axis, s.raised, *value, timeMs};
}

void AlarmRule::missing()
{
    for (AxisState* s : {&m_pitch, &m_roll}) {
        s->holdSince.reset();
        s->fineSince.reset();
    }
}

std::vector<AlarmTransition> AlarmRule::setSettings(const AlarmSettings& settings, qint64 timeMs)
{
    m_settings = settings;
    missing();
    std::vector<AlarmTransition> cleared;
    for (const AlarmAxis axis : {AlarmAxis::Pitch, AlarmAxis::Roll}) {
        AxisState& s = state(axis);
        if (s.raised && !axisOn(axis)) {
            s.raised = false;
            cleared.push_back({axis, false, std::numeric_limits<double>::quiet_NaN(), timeMs});
        }
        s.judged = s.raised; // a new limit is judged anew
    }
    return cleared;
}

QString AlarmRule::stateText() const
{
    if (m_pitch.raised && m_roll.raised)
        return QStringLiteral("pitch;roll");
    if (m_pitch.raised)
        return QStringLiteral("pitch");
    if (m_roll.raised)
        return QStringLiteral("roll");
    return QStringLiteral("ok");
}

namespace alarmcsv {

QString header()
{
    return QStringLiteral("time,axis,state,value");
}

QString row(qint64 wallMsUtc, const AlarmTransition& transition)
{
    return QStringLiteral("%1,%2,%3,%4")
        .arg(timefmt::isoUtc(wallMsUtc), axisName(transition.axis),
            transition.raised ? QStringLiteral("raised") : QStringLiteral("cleared"), numfmt::angle(transition.value));
}

} // namespace alarmcsv
