#include "logger/fieldlogger.h"

#include "link/serialport.h"

#include <QDateTime>
#include <QTimer>

#include <cstdio>

namespace {
constexpr int BadReplyReportMs = 60'000;

QString modelName(const LoggerOptions& o)
{
    return o.model ? loggeroptions::modelName(*o.model) : QStringLiteral("custom ") + o.coefficientsFile;
}

// A reply as it came, printable on one line: 'ZZZ\n' to B.
QString describeReply(const Reading& reading)
{
    QString shown;
    for (const QChar c : reading.reply) {
        if (c == QLatin1Char('\n'))
            shown += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            shown += QLatin1String("\\r");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    const char* command = reading.quantity == Quantity::Pitch ? "B" : reading.quantity == Quantity::Roll ? "C" : "D";
    return QStringLiteral("'%1' to %2").arg(shown, QLatin1String(command));
}
} // namespace

FieldLogger::FieldLogger(
    LoggerOptions options, Calibration calibration, std::optional<Reference> reference, QObject* parent)
    : QObject(parent),
      m_options(std::move(options)),
      m_alarm(m_options.alarm),
      m_csv(m_options.csvPath, m_options.csvDir, csvlog::header(!m_options.referenceFile.isEmpty())),
      m_stats(m_options.aggregateLast),
      m_reference(reference)
{
    m_alarmsOn = m_alarm.active() && calibration.anglesInDegrees();
    m_journal = csvlog::standardErrorIsJournal();
    (void)m_link.port().setDevice(m_options.device);
    m_link.setCalibration(calibration);
    m_link.setModelChosen(true);
    connect(&m_link, &SensorLink::readingReady, this, &FieldLogger::onReading);
    connect(&m_link, &SensorLink::frameReady, this, &FieldLogger::onFrame);
    // Queued: the link is closed from the event loop, not from inside its
    // own report.
    connect(
        &m_link, &SensorLink::failure, this, [this](const QString& text) { lose(text); }, Qt::QueuedConnection);
    auto timer = [this](bool singleShot) {
        auto* t = new QTimer(this);
        t->setSingleShot(singleShot);
        return t;
    };
    m_recordTimer = timer(false);
    m_recordTimer->setInterval(m_options.intervalMs);
    m_recordTimer->setTimerType(Qt::PreciseTimer);
    connect(m_recordTimer, &QTimer::timeout, this, &FieldLogger::onTick);
    m_reconnectTimer = timer(true);
    connect(m_reconnectTimer, &QTimer::timeout, this, &FieldLogger::reconnect);
    // Not restarted at every reply (thousands a second at full speed): when
    // it fires it looks at the last valid reply and waits out the rest.
    m_silenceTimer = timer(true);
    m_silenceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_silenceTimer, &QTimer::timeout, this, [this] {
        const qint64 left = m_options.lostAfter * 1000LL - (monotonicNowMs() - m_lastValidMs);
        if (left > 0)
            m_silenceTimer->start(int(left));
        else
            lose(QStringLiteral("no valid reply for %1 s").arg(m_options.lostAfter));
    });
    m_badReplyTimer = timer(true);
    m_badReplyTimer->setInterval(BadReplyReportMs);
    connect(m_badReplyTimer, &QTimer::timeout, this, &FieldLogger::reportBadReplies);
    m_sampleTimer = timer(false);
    m_sampleTimer->setInterval(m_options.sampleEveryMs.value_or(0));
    m_sampleTimer->setTimerType(Qt::PreciseTimer);
    connect(m_sampleTimer, &QTimer::timeout, this, &FieldLogger::takeSample);
}

FieldLogger::~FieldLogger()
{
    m_link.end();
}

void FieldLogger::report(csvlog::Priority priority, const QString& text) const
{
    const QByteArray line = csvlog::eventLine(
        QDateTime::currentMSecsSinceEpoch(), text, m_journal ? std::optional(priority) : std::nullopt)
                                .toUtf8();
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
    std::fflush(stderr);
}

std::optional<QString> FieldLogger::start(const QString& publishing)
{
    m_clock.start();
    if (!m_options.csvPath.isEmpty() || !m_options.csvDir.isEmpty())
        if (auto error = m_csv.open())
            return error;
    if (!m_options.kvddtPath.isEmpty())
        if (auto error = m_kvddt.open(m_options.kvddtPath))
            return QStringLiteral("%1: %2").arg(m_options.kvddtPath, *error);
    QStringList outputs;
    if (!m_options.csvPath.isEmpty() || !m_options.csvDir.isEmpty())
        outputs << QStringLiteral("csv ") + m_csv.describe();
    if (!m_options.kvddtPath.isEmpty())
        outputs << QStringLiteral("kvddt ") + m_options.kvddtPath;
    QString settings
        = QStringLiteral("start: device %1, model %2, interval %3 ms (%4), %5, lost after %6 s, %7")
              .arg(m_options.device, modelName(m_options))
              .arg(m_options.intervalMs)
              .arg(m_options.aggregateLast ? QStringLiteral("last cycle") : QStringLiteral("means"))
              .arg(m_options.sampleEveryMs ? QStringLiteral("a sample every %1 ms").arg(*m_options.sampleEveryMs)
                                           : QStringLiteral("polling continuously"))
              .arg(m_options.lostAfter)
              .arg(outputs.join(QLatin1String(", ")));
    if (!m_options.referenceFile.isEmpty())
        settings += m_reference
            ? QStringLiteral(", reference %1 (pitch %2 roll %3)")
                  .arg(m_options.referenceFile, alarmcsv::angle(m_reference->pitch), alarmcsv::angle(m_reference->roll))
            : QStringLiteral(", reference %1 taken from the first interval").arg(m_options.referenceFile);
    if (m_alarm.active())
        settings += m_alarmsOn ? QStringLiteral(", alarm pitch %1 roll %2 hysteresis %3 hold %4 ms")
                                     .arg(m_options.alarm.pitchLimit)
                                     .arg(m_options.alarm.rollLimit)
                                     .arg(m_options.alarm.hysteresis)
                                     .arg(m_options.alarm.holdMs)
                + (m_options.alarmOnChange ? QStringLiteral(" on the change") : QString())
                               : QStringLiteral(", alarm off (the values are not angles)");
    if (!publishing.isEmpty())
        settings += QStringLiteral(", ") + publishing;
    report(csvlog::Priority::Info, settings);
    m_recordTimer->start();
    if (m_options.sampleEveryMs)
        m_sampleTimer->start();
    if (const auto error = m_link.port().setPortOpen(true)) {
        m_device = Device::Lost;
        m_lossAnnounced = true;
        report(csvlog::Priority::Warning, QStringLiteral("device not available: %1").arg(*error));
        m_reconnectTimer->start(m_backoff.next());
    } else {
        m_link.startPolling();
        armSilence();
    }
    return std::nullopt;
}

void FieldLogger::onReading(const Reading& reading)
{
    if (!reading.wellFormed) {
        // Noise is no sign of life: the silence goes on counting.
        ++m_badReplies;
        ++m_badUnreported;
        m_lastBadReply = describeReply(reading);
        if (!m_badReplyTimer->isActive())
            reportBadReplies();
        return;
    }
    ++m_readings;
    m_lastValidMs = reading.monotonicMs;
    if (m_device == Device::Up)
        return;
    m_device = Device::Up;
    m_backoff.reset();
    if (m_lossAnnounced) {
        m_lossAnnounced = false;
        report(csvlog::Priority::Notice, QStringLiteral("device back: %1").arg(m_options.device));
    }
    emit sensorChanged(true);
}

void FieldLogger::reportBadReplies()
{
    if (m_badUnreported == 0)
        return; // quiet again: the timer stays off
    report(csvlog::Priority::Warning,
        QStringLiteral("bad replies from the sensor: %1 since the last report, the last %2; %3 in all")
            .arg(m_badUnreported)
            .arg(m_lastBadReply)
            .arg(m_badReplies));
    m_badUnreported = 0;
    m_badReplyTimer->start();
}

void FieldLogger::takeSample()
{
    if (m_device != Device::Lost) {
        m_link.setHold(false);
        armSilence();
    }
}

void FieldLogger::onFrame(const Frame& frame)
{
    if (!frame.wellFormed())
        return;
    if (m_options.sampleEveryMs) {
        // One cycle per sample; the line stays quiet until the next.
        m_link.setHold(true);
        m_silenceTimer->stop();
    }
    m_frame = frame;
    m_stats.add(frame);
    emit cycle(frame);
    if (!m_alarmsOn || (m_options.alarmOnChange && !m_reference))
        return;
    for (const auto& [axis, reading] : {std::pair {AlarmAxis::Pitch, frame.pitch}, {AlarmAxis::Roll, frame.roll}}) {
        const double zero = !m_options.alarmOnChange ? 0.0
            : axis == AlarmAxis::Pitch               ? m_reference->pitch
                                                     : m_reference->roll;
        if (const auto t = m_alarm.feed(axis, reading.value - zero, reading.monotonicMs)) {
            m_alarmsRaised += t->raised ? 1 : 0;
            report(t->raised ? csvlog::Priority::Warning : csvlog::Priority::Notice,
                QStringLiteral("alarm %1: %2 %3")
                    .arg(t->raised ? QStringLiteral("raised") : QStringLiteral("cleared"), axisName(t->axis),
                        alarmcsv::angle(t->value)));
            emit alarmChanged(reading.wallMs, *t);
        }
    }
}

csvlog::Record FieldLogger::record(const IntervalStats::Summary& summary) const
{
    csvlog::Record r;
    r.wallMsUtc = QDateTime::currentMSecsSinceEpoch();
    r.elapsedS = double(m_clock.elapsed()) / 1000.0;
    r.pitch = summary.pitch;
    r.roll = summary.roll;
    r.temperature = summary.temperature;
    r.pitchMin = summary.pitchMin;
    r.pitchMax = summary.pitchMax;
    r.rollMin = summary.rollMin;
    r.rollMax = summary.rollMax;
    r.samples = summary.samples;
    r.unit = m_link.calibration().unitName();
    r.alarm = m_alarmsOn ? m_alarm.stateText() : QStringLiteral("ok");
    if (m_reference) {
        r.pitchChange = summary.pitch - m_reference->pitch;
        r.rollChange = summary.roll - m_reference->roll;
    }
    return r;
}

void FieldLogger::onTick()
{
    // An interval without a well-formed cycle writes no row: nothing is
    // invented for a gap, which shows in the times.
    const std::optional<IntervalStats::Summary> summary = m_stats.summary();
    m_stats.clear();
    if (m_link.ended() || !summary)
        return;
    if (!m_options.referenceFile.isEmpty() && !m_reference) {
        const Reference taken {summary->pitch, summary->roll};
        const auto stored = reference::write(
            m_options.referenceFile, taken, QDateTime::currentMSecsSinceEpoch(), modelName(m_options));
        if (const QString* error = std::get_if<QString>(&stored))
            return fail(*error);
        m_reference = taken;
        report(csvlog::Priority::Notice,
            QStringLiteral("reference zero taken: pitch %1 roll %2, stored in %3")
                .arg(alarmcsv::angle(taken.pitch), alarmcsv::angle(taken.roll), m_options.referenceFile));
    }
    const csvlog::Record record = this->record(*summary);
    if (!m_options.csvPath.isEmpty() || !m_options.csvDir.isEmpty()) {
        QString note;
        const auto error = m_csv.write(record.wallMsUtc, csvlog::row(record), &note);
        if (!note.isEmpty())
            report(csvlog::Priority::Warning, note);
        if (error)
            return fail(*error);
    }
    if (m_kvddt.isOpen()) {
        if (!m_kvddt.stillThere()) {
            report(csvlog::Priority::Warning,
                QStringLiteral("%1 was removed or renamed: writing a new one").arg(m_kvddt.path()));
            if (const auto error = m_kvddt.reopen())
                return fail(QStringLiteral("%1: %2").arg(m_kvddt.path(), *error));
        }
        if (const auto error = m_kvddt.writeRecord(
                m_options.intervalMs, m_frame->pitch.valueColumnText(), m_frame->roll.valueColumnText()))
            return fail(QStringLiteral("%1: %2").arg(m_kvddt.path(), *error));
    }
    ++m_rows;
    emit rowWritten(record);
}

void FieldLogger::reopenFiles()
{
    if (m_link.ended())
        return;
    if (auto error = m_csv.reopen())
        return fail(*error);
    if (m_kvddt.isOpen())
        if (const auto error = m_kvddt.reopen())
            return fail(QStringLiteral("%1: %2").arg(m_kvddt.path(), *error));
    report(csvlog::Priority::Info, QStringLiteral("output files reopened"));
}

QString FieldLogger::statusText() const
{
    const char* device = m_device == Device::Up ? "answering"
        : m_device == Device::Lost              ? "lost"
        : m_device == Device::Reopened          ? "reopened, no valid reply yet"
                                                : "opened, no valid reply yet";
    return QStringLiteral("status: device %1 %2, rows %3, readings %4, bad replies %5, alarms raised %6, alarm now %7")
        .arg(m_options.device, QLatin1String(device))
        .arg(m_rows)
        .arg(m_readings)
        .arg(m_badReplies)
        .arg(m_alarmsRaised)
        .arg(m_alarmsOn ? m_alarm.stateText() : QStringLiteral("off"));
}

void FieldLogger::fail(const QString& what)
{
    report(csvlog::Priority::Error, QStringLiteral("write failure: %1").arg(what));
    stop(loggerexit::Failure, QStringLiteral("write failure"));
}

void FieldLogger::lose(const QString& why)
{
    if (m_link.ended() || m_device == Device::Lost)
        return;
    if (!m_lossAnnounced) {
        m_lossAnnounced = true;
        report(csvlog::Priority::Warning, QStringLiteral("device lost: %1").arg(why));
        emit sensorChanged(false);
    }
    m_device = Device::Lost;
    m_frame.reset();
    m_alarm.missing();
    m_silenceTimer->stop();
    m_link.stopPolling();
    m_reconnectTimer->start(m_backoff.next());
}

void FieldLogger::reconnect()
{
    if (m_link.ended())
        return;
    if (m_link.port().setPortOpen(true)) {
        m_reconnectTimer->start(m_backoff.next());
        return;
    }
    // Back only once the sensor answers: an open port may hide a sensor
    // that stays silent, which then waits its turn like a missing device.
    m_device = Device::Reopened;
    m_link.startPolling();
    armSilence();
}

void FieldLogger::armSilence()
{
    m_lastValidMs = monotonicNowMs();
    m_silenceTimer->start(m_options.lostAfter * 1000);
}

void FieldLogger::stop(int exitCode, const QString& why)
{
    // Ending the link is the logger's one stopped state: from here on no
    // reading, frame or failure reaches the logger.
    if (m_link.ended())
        return;
    m_link.end();
    for (QTimer* t : {m_recordTimer, m_reconnectTimer, m_silenceTimer, m_badReplyTimer, m_sampleTimer})
        t->stop();
    m_kvddt.close();
    m_csv.close();
    report(csvlog::Priority::Info, QStringLiteral("stop: %1").arg(why));
    emit finished(exitCode);
}
