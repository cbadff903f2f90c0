#pragma once

#include "core/alarm.h"
#include "core/recorder.h"
#include "link/sensorlink.h"
#include "logger/csvlog.h"
#include "logger/loggeroptions.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>

#include <memory>
#include <optional>

class QTimer;

// The headless logger: the sensor link polling one device, a row per record
// tick from the last complete cycle, the tilt alarm, and the recovery of a
// lost device without a person. Events go to standard error, one line each,
// beginning with the UTC time.
class FieldLogger : public QObject {
    Q_OBJECT
public:
    FieldLogger(LoggerOptions options, Calibration calibration, QObject* parent = nullptr);
    ~FieldLogger() override;

    // Opens the outputs (an error text if one cannot be opened) and starts
    // polling; a device that is not there yet is waited for.
    std::optional<QString> start();
    // Ends with `exitCode`: files closed, nothing more sent.
    void stop(int exitCode, const QString& why);

    void event(const QString& text) const;
    // A row from the last complete cycle, if it is fresh; nothing otherwise.
    std::optional<csvlog::Record> currentRecord() const;

signals:
    void rowWritten(const csvlog::Record& record);
    void alarmChanged(qint64 wallMs, const AlarmTransition& transition);
    void finished(int exitCode);

private:
    void onFrame(const Frame& frame);
    void onTick();
    void lose(const QString& why);
    void reconnect();
    bool writeCsv(const QString& text);
    std::optional<QString> openCsvFile(const QString& path);
    void fail(const QString& what);

    LoggerOptions m_options;
    SensorLink m_link;
    AlarmRule m_alarm;
    bool m_alarmsOn = false;
    Recorder m_kvddt;
    QFile m_csv;
    csvlog::DayRoller m_days;
    QTimer* m_recordTimer = nullptr;
    QTimer* m_reconnectTimer = nullptr;
    QElapsedTimer m_clock;
    std::optional<Frame> m_frame; // of the last complete cycle
    quint64 m_frameSerial = 0; // cycles so far
    quint64 m_rowSerial = 0; // the cycle the last row was written from
    int m_backoffMs = 1000;
    bool m_lost = false;
    bool m_stopped = false;
};
