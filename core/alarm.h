// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>
#include <vector>

// The tilt alarm, one rule for the headless logger and for the window, so
// both raise and clear at the same readings.
//
// Not a namespace "alarm": that would collide with ::alarm() from <unistd.h>.

enum class AlarmAxis { Pitch, Roll };

// "pitch" or "roll", as in the state text and the CSV rows.
QString axisName(AlarmAxis axis);

struct AlarmSettings {
    bool enabled = false;
    double pitchLimit = 0.0; // on |pitch|; 0 or less = pitch alarm off
    double rollLimit = 0.0; // on |roll|; 0 or less = roll alarm off
    // A raised axis clears only below limit - hysteresis, so a value
    // wavering at the limit does not flood the alarm log. Negative counts as
    // 0; a hysteresis not below the limit keeps a raised axis raised.
    double hysteresis = 0.1;
    int holdMs = 0; // 0 or less = at once
    friend bool operator==(const AlarmSettings&, const AlarmSettings&) = default;
};

struct AlarmTransition {
    AlarmAxis axis;
    bool raised; // false: cleared
    double value; // the signed reading that completed the hold
    qint64 timeMs; // the monotonic time of that reading
    friend bool operator==(const AlarmTransition&, const AlarmTransition&) = default;
};

// Fed with each axis reading and its monotonic time in ms. An axis is raised
// once |value| has stayed above its limit (strictly) for the hold time, and
// cleared once |value| has stayed below limit - hysteresis for the hold time.
// Any reading outside the condition being held restarts that hold.
//
// A missing reading (std::nullopt or NaN: device lost, no number) leaves the
// raised state as it is and drops any hold in progress: the next real
// reading starts it again. Without that, a gap in the data could let the
// alarm change on evidence nobody saw.
class AlarmRule {
public:
    explicit AlarmRule(const AlarmSettings& settings = {});

    // The transition this reading completes, if any.
    std::optional<AlarmTransition> feed(AlarmAxis axis, std::optional<double> value, qint64 timeMs);

    // Both axes missing at once, e.g. when the device is lost.
    void missing();

    // New limits take effect with the next reading; holds in progress start
    // again. An axis that is raised and is now off (or the whole rule
    // disabled) is cleared here, so a log that saw it raised sees it end;
    // those transitions carry NaN as value.
    std::vector<AlarmTransition> setSettings(const AlarmSettings& settings, qint64 timeMs);
    const AlarmSettings& settings() const { return m_settings; }

    // Enabled with at least one axis limit above 0.
    bool active() const;
    bool isRaised(AlarmAxis axis) const { return state(axis).raised; }
    // The axis has been judged since the start (or new settings): raised, or
    // below its limit for the hold time. Before that its state is not known,
    // and nobody may be told it is fine.
    bool isJudged(AlarmAxis axis) const { return state(axis).judged; }
    bool isOn(AlarmAxis axis) const { return axisOn(axis); }

    // "ok", "pitch", "roll" or "pitch;roll".
    QString stateText() const;

private:
    struct AxisState {
        bool raised = false;
        std::optional<qint64> holdSince; // the opposite condition has held since then
        bool judged = false;
        std::optional<qint64> fineSince; // not judged yet: below the limit since then
    };
    bool axisOn(AlarmAxis axis) const;
    double limit(AlarmAxis axis) const;
    AxisState& state(AlarmAxis axis) { return axis == AlarmAxis::Pitch ? m_pitch : m_roll; }
    const AxisState& state(AlarmAxis axis) const { return axis == AlarmAxis::Pitch ? m_pitch : m_roll; }

    AlarmSettings m_settings;
    AxisState m_pitch;
    AxisState m_roll;
};

// Rows of the alarm log. Shared by the window's alarms.csv and the logger's
// stderr, so they carry no line end: the file adds "\r\n", stderr "\n".
namespace alarmcsv {

// "time,axis,state,value"
QString header();

// e.g. "2026-12-07T03:25:04.123Z,pitch,raised,5.25": the time as
// timefmt::isoUtc() and the value as numfmt::angle() write them. The time is
// wall clock, not the transition's monotonic time; a NaN value leaves the
// field empty.
QString row(qint64 wallMsUtc, const AlarmTransition& transition);

} // namespace alarmcsv
