// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/alarm.h"
#include "core/recorder.h"
#include "link/sensorlink.h"
#include "logger/csvlog.h"
#include "logger/csvoutput.h"
#include "logger/devicewatch.h"
#include "logger/eventlog.h"
#include "logger/intervalstats.h"
#include "logger/loggeroptions.h"
#include "logger/reference.h"

#include <QElapsedTimer>
#include <QObject>

#include <optional>

class QTimer;

// The headless logger: the sensor link polling one device, a row per
// interval of its complete well-formed cycles, the tilt alarm, and the
// recovery of a lost device without a person (DeviceWatch decides, the
// logger carries out). Rows close on the clock (whole multiples of the
// interval from UTC midnight) for intervals of a second or more, unless
// --align start. Events go to the EventLog it is given. Readings and frames
// arrive by signal from the link, in the order the link emits them; stop()
// writes the unfinished interval's row on a clean stop, then ends the link,
// which is the logger's only stopped state.
class FieldLogger : public QObject {
    Q_OBJECT
public:
    // Without `reference`, a --reference file is taken from the first
    // interval's means.
    FieldLogger(LoggerOptions options, Calibration calibration, EventLog& log,
        std::optional<Reference> reference = std::nullopt, QObject* parent = nullptr);
    ~FieldLogger() override;

    // Opens the outputs (an error text if one cannot be opened) and starts
    // polling; a device that is not there yet is waited for. `publishing`
    // describes the broker for the start line.
    std::optional<QString> start(const QString& publishing = QString());
    // Ends with `exitCode`: on a clean stop the unfinished interval is
    // written first; then files closed, nothing more sent.
    void stop(int exitCode, const QString& why);
    // After a rotation (SIGHUP): every output file opened again at its path.
    void reopenFiles();
    // The device, cycles, rows, losses, uptime, bad replies and alarms, for a
    // status line.
    QString statusText() const;
    // "off" (no limit, or values that are not angles), "unknown" (not judged
    // yet since the start), "raised" or "ok".
    QString alarmState(AlarmAxis axis) const;

    // A row of `summary` as of now: time, unit, alarm state and the change
    // since the reference.
    csvlog::Record record(const IntervalStats::Summary& summary) const;

signals:
    void rowWritten(const csvlog::Record& record);
    void alarmChanged(qint64 wallMs, const AlarmTransition& transition);
    // An axis not judged before was found below its limit for the hold.
    void alarmJudged();
    // The sensor answers (true) after a start or a loss, or is lost (false).
    void sensorChanged(bool up);
    // Each well-formed cycle, for summaries of another interval.
    void cycle(const Frame& frame);
    void finished(int exitCode);

private:
    void onReading(const Reading& reading);
    void onFrame(const Frame& frame);
    void onTick();
    // Writes the interval's row stamped `wallMs` (nothing without a cycle);
    // false after a write failure, which has stopped the logger.
    bool writeRow(qint64 wallMs);
    void armRecordTimer(qint64 wallNow);
    void carryOut(const DeviceWatch::Actions& actions);
    void openDevice();
    void reportBadReplies();
    void fail(const QString& what);
    std::optional<QString> storeReference(const Reference& taken);

    EventLog& m_log;
    LoggerOptions m_options;
    SensorLink m_link;
    AlarmRule m_alarmRule;
    bool m_alarmsOn = false;
    Recorder m_kvddt;
    CsvOutput m_csv;
    QTimer* m_recordTimer = nullptr;
    bool m_onClock = false; // rows at whole multiples of the interval from UTC midnight
    qint64 m_nextRowMs = 0; // wall time the running interval closes at (on the clock)
    qint64 m_lastRowMs = 0; // wall time of the last row: rows never repeat a time
    qint64 m_tickWallMs = 0, m_tickMonoMs = 0; // at the last tick, to notice clock steps
    DeviceWatch m_deviceWatch;
    QTimer* m_wakeTimer = nullptr; // DeviceWatch's wake-up
    QTimer* m_badReplyTimer = nullptr; // one line a minute at most
    IntervalStats m_intervalStats;
    std::optional<Reference> m_reference;
    QElapsedTimer m_sinceStart;
    quint64 m_rowsWritten = 0;
    quint64 m_cyclesSeen = 0;
    quint64 m_badReplyCount = 0;
    quint64 m_badRepliesUnreported = 0;
    QString m_lastBadReply;
    quint64 m_alarmsRaised = 0;
};
