#pragma once

#include "core/alarm.h"
#include "core/recorder.h"
#include "link/sensorlink.h"
#include "logger/csvlog.h"
#include "logger/csvoutput.h"
#include "logger/intervalstats.h"
#include "logger/loggeroptions.h"
#include "logger/reference.h"

#include <QElapsedTimer>
#include <QObject>

#include <algorithm>
#include <optional>

class QTimer;

// The pause before each attempt to open a lost device again: doubled after
// each failed attempt up to its cap, back to the first once the sensor
// answers.
class Backoff {
public:
    static constexpr int FirstMs = 1000;
    static constexpr int CapMs = 30'000;
    int next()
    {
        const int delay = m_next;
        m_next = std::min(m_next * 2, CapMs);
        return delay;
    }
    void reset() { m_next = FirstMs; }

private:
    int m_next = FirstMs;
};

// The headless logger: the sensor link polling one device, a row per record
// tick from the last complete well-formed cycle, the tilt alarm, and the
// recovery of a lost device without a person. Events go to standard error,
// one line each, beginning with the UTC time (and the priority, for the
// journal). Readings and frames arrive by signal from the link, in the
// order the link emits them; stop() ends the link first, which is the
// logger's only stopped state.
class FieldLogger : public QObject {
    Q_OBJECT
public:
    // Without `reference`, a --reference file is taken from the first
    // interval's means.
    FieldLogger(LoggerOptions options, Calibration calibration, std::optional<Reference> reference = std::nullopt,
        QObject* parent = nullptr);
    ~FieldLogger() override;

    // Opens the outputs (an error text if one cannot be opened) and starts
    // polling; a device that is not there yet is waited for. `publishing`
    // describes the broker for the start line.
    std::optional<QString> start(const QString& publishing = QString());
    // Ends with `exitCode`: files closed, nothing more sent.
    void stop(int exitCode, const QString& why);
    // After a rotation (SIGHUP): every output file opened again at its path.
    void reopenFiles();
    // Rows, readings, bad replies, alarms and the device, for a status line.
    QString statusText() const;

    void report(csvlog::Priority priority, const QString& text) const;
    void report(const QString& text) const { report(csvlog::Priority::Info, text); }
    // A row of `summary` as of now: time, unit, alarm state and the change
    // since the reference.
    csvlog::Record record(const IntervalStats::Summary& summary) const;

signals:
    void rowWritten(const csvlog::Record& record);
    void alarmChanged(qint64 wallMs, const AlarmTransition& transition);
    // The sensor answers (true) after a start or a loss, or is lost (false).
    void sensorChanged(bool up);
    // Each well-formed cycle, for summaries of another interval.
    void cycle(const Frame& frame);
    void finished(int exitCode);

private:
    enum class Device { Starting, Up, Lost, Reopened };

    void onReading(const Reading& reading);
    void onFrame(const Frame& frame);
    void onTick();
    void takeSample();
    void armSilence(); // polling (again): the silence counts from now
    void reportBadReplies();
    void lose(const QString& why);
    void reconnect();
    void fail(const QString& what);

    LoggerOptions m_options;
    SensorLink m_link;
    AlarmRule m_alarm;
    bool m_alarmsOn = false;
    Recorder m_kvddt;
    CsvOutput m_csv;
    QTimer* m_recordTimer = nullptr;
    QTimer* m_reconnectTimer = nullptr;
    QTimer* m_silenceTimer = nullptr; // no well-formed reply for --lost-after
    qint64 m_lastValidMs = 0; // monotonic time of the last well-formed reply
    QTimer* m_badReplyTimer = nullptr; // one line a minute at most
    QTimer* m_sampleTimer = nullptr; // --sample-every
    IntervalStats m_stats;
    std::optional<Reference> m_reference;
    QElapsedTimer m_clock;
    std::optional<Frame> m_frame; // of the last complete well-formed cycle
    Backoff m_backoff;
    Device m_device = Device::Starting;
    bool m_lossAnnounced = false; // "device lost" said, "device back" not yet
    bool m_journal = false;
    quint64 m_rows = 0;
    quint64 m_readings = 0; // well-formed
    quint64 m_badReplies = 0;
    quint64 m_badUnreported = 0;
    QString m_lastBadReply;
    quint64 m_alarmsRaised = 0;
};
