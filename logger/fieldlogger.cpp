#include "logger/fieldlogger.h"

#include "link/serialport.h"

#include <QDateTime>
#include <QDir>
#include <QTimer>

#include <cstdio>

namespace {
constexpr int FirstBackoffMs = 1000;
constexpr int LastBackoffMs = 30'000;
// A frame older than this is not recorded: the sensor has gone quiet and
// the watchdog has not yet given up on it.
constexpr qint64 FreshMs = 1500;
const QString LineFormatText = QStringLiteral("19200,N,8,1");
} // namespace

FieldLogger::FieldLogger(LoggerOptions options, Calibration calibration, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_alarm(m_options.alarm)
{
    m_alarmsOn = m_alarm.active() && calibration.anglesInDegrees();
    PortMap ports;
    ports.setDevice(1, m_options.device);
    m_link.port().setPortMap(ports);
    (void)m_link.port().setCommPort(1);
    (void)m_link.port().setSettings(LineFormatText);
    m_link.setCalibration(calibration);
    m_link.setModelChosen(true);
    connect(&m_link, &SensorLink::frameReady, this, &FieldLogger::onFrame);
    connect(&m_link, &SensorLink::failure, this, [this](const QString& text) { lose(text); });
    connect(&m_link, &SensorLink::silentTick, this, [this](qint64 ticks) {
        if (ticks >= m_options.lostAfter)
            lose(QStringLiteral("no reply for %1 s").arg(ticks));
    });
    m_recordTimer = new QTimer(this);
    m_recordTimer->setInterval(m_options.intervalMs);
    m_recordTimer->setTimerType(Qt::PreciseTimer);
    connect(m_recordTimer, &QTimer::timeout, this, &FieldLogger::onTick);
    m_reconnectTimer = new QTimer(this);
    m_reconnectTimer->setSingleShot(true);
    connect(m_reconnectTimer, &QTimer::timeout, this, &FieldLogger::reconnect);
}

FieldLogger::~FieldLogger()
{
    m_link.end();
}

void FieldLogger::event(const QString& text) const
{
    const QByteArray line = csvlog::eventLine(QDateTime::currentMSecsSinceEpoch(), text).toUtf8();
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
    std::fflush(stderr);
}

std::optional<QString> FieldLogger::openCsvFile(const QString& path)
{
    m_csv.close();
    if (path == loggeroptions::StandardOutput) {
        if (!m_csv.open(stdout, QIODevice::WriteOnly | QIODevice::Append))
            return QStringLiteral("standard output: %1").arg(m_csv.errorString());
        return writeCsv(csvlog::header()) ? std::nullopt : std::optional<QString>(m_csv.errorString());
    }
    // Appended to, so that a restarted service continues its file; the
    // header goes only into a new or empty one.
    m_csv.setFileName(path);
    if (!m_csv.open(QIODevice::WriteOnly | QIODevice::Append))
        return QStringLiteral("%1: %2").arg(path, m_csv.errorString());
    if (m_csv.size() == 0 && !writeCsv(csvlog::header()))
        return QStringLiteral("%1: %2").arg(path, m_csv.errorString());
    return std::nullopt;
}

std::optional<QString> FieldLogger::start()
{
    m_clock.start();
    if (!m_options.csvDir.isEmpty() && !QDir().mkpath(m_options.csvDir))
        return QStringLiteral("%1: cannot create the directory").arg(m_options.csvDir);
    if (!m_options.csvPath.isEmpty())
        if (auto error = openCsvFile(m_options.csvPath))
            return error;
    if (!m_options.kvddtPath.isEmpty())
        if (auto error = m_kvddt.open(m_options.kvddtPath))
            return QStringLiteral("%1: %2").arg(m_options.kvddtPath, *error);
    QString settings = QStringLiteral("start: device %1, model %2, interval %3 ms, lost after %4 s")
                           .arg(m_options.device,
                               m_link.calibration().counts ? QStringLiteral("raw")
                                   : m_options.model       ? QStringLiteral("preset")
                                                           : QStringLiteral("custom ") + m_options.coefficientsFile)
                           .arg(m_options.intervalMs)
                           .arg(m_options.lostAfter);
    if (m_alarm.active())
        settings += m_alarmsOn ? QStringLiteral(", alarm pitch %1 roll %2 hysteresis %3 hold %4 ms")
                                     .arg(m_options.alarm.pitchLimit)
                                     .arg(m_options.alarm.rollLimit)
                                     .arg(m_options.alarm.hysteresis)
                                     .arg(m_options.alarm.holdMs)
                               : QStringLiteral(", alarm off (the values are not angles)");
    event(settings);
    m_recordTimer->start();
    if (const auto error = m_link.port().setPortOpen(true)) {
        m_lost = true;
        event(QStringLiteral("device not available: %1").arg(*error));
        m_reconnectTimer->start(m_backoffMs);
    } else {
        m_link.Start_Click();
    }
    return std::nullopt;
}

void FieldLogger::onFrame(const Frame& frame)
{
    m_frame = frame;
    ++m_frameSerial;
    if (!m_alarmsOn)
        return;
    for (const auto& [axis, reading] : {std::pair {AlarmAxis::Pitch, frame.pitch}, {AlarmAxis::Roll, frame.roll}}) {
        if (const auto t = m_alarm.feed(axis, reading.value, reading.monotonicMs)) {
            event(QStringLiteral("alarm %1: %2 %3")
                      .arg(t->raised ? QStringLiteral("raised") : QStringLiteral("cleared"), axisName(t->axis),
                          alarmcsv::angle(t->value)));
            emit alarmChanged(reading.wallMs, *t);
        }
    }
}

std::optional<csvlog::Record> FieldLogger::currentRecord() const
{
    if (m_stopped || !m_frame || monotonicNowMs() - m_frame->temperature.monotonicMs > FreshMs)
        return std::nullopt; // no rows invented for a gap: the gap shows in the times
    csvlog::Record record;
    record.wallMsUtc = QDateTime::currentMSecsSinceEpoch();
    record.elapsedS = double(m_clock.elapsed()) / 1000.0;
    record.pitch = m_frame->pitch.value;
    record.roll = m_frame->roll.value;
    record.temperature = m_frame->temperature.value;
    record.unit = m_link.calibration().unitName();
    record.alarm = m_alarmsOn ? m_alarm.stateText() : QStringLiteral("ok");
    return record;
}

void FieldLogger::onTick()
{
    // Each row needs a cycle of its own: between a vanished device and its
    // detection no row repeats the last values.
    const std::optional<csvlog::Record> current = currentRecord();
    if (!current || m_frameSerial == m_rowSerial)
        return;
    m_rowSerial = m_frameSerial;
    const csvlog::Record& record = *current;
    const qint64 now = record.wallMsUtc;
    if (!m_options.csvDir.isEmpty()) {
        if (const auto name = m_days.due(now))
            if (const auto error = openCsvFile(QDir(m_options.csvDir).filePath(*name)))
                return fail(*error);
    }
    if (m_csv.isOpen() && !writeCsv(csvlog::row(record)))
        return fail(QStringLiteral("%1: %2").arg(m_csv.fileName(), m_csv.errorString()));
    if (m_kvddt.isOpen()) {
        if (const auto error = m_kvddt.writeRecord(
                m_options.intervalMs, m_frame->pitch.valueColumnText(), m_frame->roll.valueColumnText()))
            return fail(QStringLiteral("%1: %2").arg(m_kvddt.path(), *error));
    }
    emit rowWritten(record);
}

bool FieldLogger::writeCsv(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return m_csv.write(bytes) == bytes.size() && m_csv.flush();
}

void FieldLogger::fail(const QString& what)
{
    event(QStringLiteral("write failure: %1").arg(what));
    stop(loggerexit::Failure, QStringLiteral("write failure"));
}

void FieldLogger::lose(const QString& why)
{
    if (m_lost || m_stopped)
        return;
    m_lost = true;
    m_frame.reset();
    m_alarm.missing();
    m_link.stopPolling();
    event(QStringLiteral("device lost: %1").arg(why));
    m_backoffMs = FirstBackoffMs;
    m_reconnectTimer->start(m_backoffMs);
}

void FieldLogger::reconnect()
{
    if (m_stopped)
        return;
    if (m_link.port().setPortOpen(true)) {
        m_backoffMs = std::min(m_backoffMs * 2, LastBackoffMs);
        m_reconnectTimer->start(m_backoffMs);
        return;
    }
    m_lost = false;
    event(QStringLiteral("device back: %1").arg(m_options.device));
    m_backoffMs = FirstBackoffMs;
    m_link.Start_Click();
}

void FieldLogger::stop(int exitCode, const QString& why)
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_recordTimer->stop();
    m_reconnectTimer->stop();
    m_link.end();
    m_kvddt.close();
    if (m_csv.isOpen()) {
        m_csv.flush();
        m_csv.close();
    }
    event(QStringLiteral("stop: %1").arg(why));
    emit finished(exitCode);
}
