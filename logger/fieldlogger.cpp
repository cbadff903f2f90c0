// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/fieldlogger.h"

#include "core/numberformat.h"

#include <QDateTime>
#include <QTime>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int BadReplyReportMs = 60'000;
// A wall clock that moved this much against the steady clock was set.
constexpr qint64 ClockStepMs = 1000;

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
    LoggerOptions options, Calibration calibration, EventLog& log, std::optional<Reference> reference, QObject* parent)
    : QObject(parent),
      m_log(log),
      m_options(std::move(options)),
      m_alarmRule(m_options.alarm),
      m_csv(
          m_options.csvPath, m_options.csvDir, csvlog::header(!m_options.referenceFile.isEmpty()), m_options.keepDays),
      m_deviceWatch({m_options.lostAfter * 1000LL,
          m_options.sampleEveryMs ? std::optional<qint64>(*m_options.sampleEveryMs) : std::nullopt}),
      m_intervalStats(m_options.aggregateLast),
      m_reference(reference)
{
    m_alarmsOn = m_alarmRule.active() && calibration.anglesInDegrees();
    m_onClock = !m_options.alignStart && m_options.intervalMs >= 1000;
    m_link.setCalibration(calibration);
    m_link.setModelChosen(true);
    connect(&m_link, &SensorLink::readingReady, this, &FieldLogger::onReading);
    connect(&m_link, &SensorLink::frameReady, this, &FieldLogger::onFrame);
    // Queued: the link is closed from the event loop, not from inside its
    // own report.
    connect(
        &m_link, &SensorLink::lineFailed, this,
        [this](const LineFailure& failure) {
            carryOut(m_deviceWatch.failed(monotonicNowMs(),
                failure.reason.isEmpty() ? QStringLiteral("the serial line stopped working") : failure.reason));
        },
        Qt::QueuedConnection);
    auto makeTimer = [this](bool singleShot) {
        auto* timer = new QTimer(this);
        timer->setSingleShot(singleShot);
        timer->setTimerType(Qt::PreciseTimer);
        return timer;
    };
    m_recordTimer = makeTimer(m_onClock);
    m_recordTimer->setInterval(m_options.intervalMs);
    connect(m_recordTimer, &QTimer::timeout, this, &FieldLogger::onTick);
    m_wakeTimer = makeTimer(true);
    connect(m_wakeTimer, &QTimer::timeout, this, [this] { carryOut(m_deviceWatch.timeout(monotonicNowMs())); });
    m_badReplyTimer = makeTimer(true);
    m_badReplyTimer->setInterval(BadReplyReportMs);
    connect(m_badReplyTimer, &QTimer::timeout, this, &FieldLogger::reportBadReplies);
}

FieldLogger::~FieldLogger()
{
    m_link.end();
}

std::optional<QString> FieldLogger::start(const QString& publishing)
{
    m_sinceStart.start();
    const bool csv = !m_options.csvPath.isEmpty() || !m_options.csvDir.isEmpty();
    QStringList notes;
    if (csv)
        if (auto error = m_csv.open(QDateTime::currentMSecsSinceEpoch(), &notes))
            return error;
    if (!m_options.kvddtPath.isEmpty())
        if (auto error = m_kvddt.open(m_options.kvddtPath))
            return QStringLiteral("%1: %2").arg(m_options.kvddtPath, *error);
    QStringList outputs;
    if (csv)
        outputs << QStringLiteral("csv ") + m_csv.describe();
    if (!m_options.kvddtPath.isEmpty())
        outputs << QStringLiteral("kvddt ") + m_options.kvddtPath;
    QString settings
        = QStringLiteral("start: device %1, model %2, interval %3 ms (%4%5), %6, lost after %7 s, %8")
              .arg(m_options.device, loggeroptions::modelName(m_options))
              .arg(m_options.intervalMs)
              .arg(m_options.aggregateLast ? QStringLiteral("last cycle") : QStringLiteral("means"))
              .arg(m_onClock ? QStringLiteral(", on the clock") : QString())
              .arg(m_options.sampleEveryMs ? QStringLiteral("a sample every %1 ms").arg(*m_options.sampleEveryMs)
                                           : QStringLiteral("polling continuously"))
              .arg(m_options.lostAfter)
              .arg(outputs.join(QLatin1String(", ")));
    if (!m_options.referenceFile.isEmpty())
        settings += m_reference
            ? QStringLiteral(", reference %1 (pitch %2 roll %3)")
                  .arg(m_options.referenceFile, numfmt::angle(m_reference->pitch), numfmt::angle(m_reference->roll))
            : QStringLiteral(", reference %1 taken from the first interval").arg(m_options.referenceFile);
    if (m_alarmRule.active())
        settings += m_alarmsOn ? QStringLiteral(", alarm pitch %1 roll %2 hysteresis %3 hold %4 ms")
                                     .arg(m_options.alarm.pitchLimit)
                                     .arg(m_options.alarm.rollLimit)
                                     .arg(m_options.alarm.hysteresis)
                                     .arg(m_options.alarm.holdMs)
                + (m_options.alarmOnChange ? QStringLiteral(" on the change") : QString())
                               : QStringLiteral(", alarm off (the values are not angles)");
    if (!publishing.isEmpty())
        settings += QStringLiteral(", ") + publishing;
    m_log.report(EventLog::Priority::Info, settings);
    for (const QString& note : std::as_const(notes))
        m_log.report(EventLog::Priority::Notice, note);
    m_tickWallMs = QDateTime::currentMSecsSinceEpoch();
    m_tickMonoMs = monotonicNowMs();
    armRecordTimer(m_tickWallMs);
    carryOut(m_deviceWatch.start(monotonicNowMs()));
    return std::nullopt;
}

void FieldLogger::carryOut(const DeviceWatch::Actions& actions)
{
    if (m_link.ended())
        return;
    if (!actions.announce.isEmpty())
        m_log.report(EventLog::Priority::Warning, actions.announce);
    if (actions.back)
        m_log.report(EventLog::Priority::Notice, QStringLiteral("device back: %1").arg(m_options.device));
    if (actions.close) {
        m_alarmRule.missing();
        m_link.stopPolling();
    }
    if (actions.hold)
        m_link.setHold(*actions.hold);
    if (actions.sensorUp)
        emit sensorChanged(*actions.sensorUp);
    if (actions.wakeAt)
        m_wakeTimer->start(int(std::clamp<qint64>(*actions.wakeAt - monotonicNowMs(), 0, 24LL * 3600 * 1000)));
    if (actions.open)
        openDevice();
}

void FieldLogger::openDevice()
{
    if (const auto failure = m_link.open(m_options.device, LineFormat {}))
        return carryOut(m_deviceWatch.openFailed(monotonicNowMs(), describeOpenFailure(*failure)));
    // Back only once the sensor completes a cycle: an open port may hide a
    // sensor that stays silent, which then waits its turn like a missing
    // device.
    m_link.startPolling();
    carryOut(m_deviceWatch.opened(monotonicNowMs()));
}

void FieldLogger::onReading(const Reading& reading)
{
    if (!reading.wellFormed) {
        // Noise is no sign of life: the silence goes on counting.
        ++m_badReplyCount;
        ++m_badRepliesUnreported;
        m_lastBadReply = describeReply(reading);
        if (!m_badReplyTimer->isActive())
            reportBadReplies();
        return;
    }
    carryOut(m_deviceWatch.reply(reading.monotonicMs, reading.quantity));
}

void FieldLogger::reportBadReplies()
{
    if (m_badRepliesUnreported == 0)
        return; // quiet again: the timer stays off
    m_log.report(EventLog::Priority::Warning,
        QStringLiteral("bad replies from the sensor: %1 since the last report, the last %2; %3 in all")
            .arg(m_badRepliesUnreported)
            .arg(m_lastBadReply)
            .arg(m_badReplyCount));
    m_badRepliesUnreported = 0;
    m_badReplyTimer->start();
}

void FieldLogger::onFrame(const Frame& frame)
{
    if (!frame.wellFormed() || m_deviceWatch.state() == DeviceWatch::State::Lost)
        return;
    ++m_cyclesSeen;
    m_intervalStats.add(frame);
    emit cycle(frame);
    carryOut(m_deviceWatch.cycle(frame.temperature.monotonicMs));
    if (!m_alarmsOn || (m_options.alarmOnChange && !m_reference))
        return;
    for (const auto& [axis, reading] : {std::pair {AlarmAxis::Pitch, frame.pitch}, {AlarmAxis::Roll, frame.roll}}) {
        const double zero = !m_options.alarmOnChange ? 0.0
            : axis == AlarmAxis::Pitch               ? m_reference->pitch
                                                     : m_reference->roll;
        const bool judged = m_alarmRule.isJudged(axis);
        const auto transition = m_alarmRule.feed(axis, reading.value - zero, reading.monotonicMs);
        if (!transition && judged != m_alarmRule.isJudged(axis))
            emit alarmJudged(); // first found below its limit: now known to be fine
        if (transition) {
            m_alarmsRaised += transition->raised ? 1 : 0;
            m_log.report(transition->raised ? EventLog::Priority::Warning : EventLog::Priority::Notice,
                QStringLiteral("alarm %1: %2 %3")
                    .arg(transition->raised ? QStringLiteral("raised") : QStringLiteral("cleared"),
                        axisName(transition->axis), numfmt::angle(transition->value)));
            emit alarmChanged(reading.wallMs, *transition);
        }
    }
}

csvlog::Record FieldLogger::record(const IntervalStats::Summary& summary) const
{
    csvlog::Record row;
    row.wallMsUtc = QDateTime::currentMSecsSinceEpoch();
    row.elapsedS = double(m_sinceStart.elapsed()) / 1000.0;
    row.pitch = summary.pitch;
    row.roll = summary.roll;
    row.temperature = summary.temperature;
    row.pitchMin = summary.pitchMin;
    row.pitchMax = summary.pitchMax;
    row.rollMin = summary.rollMin;
    row.rollMax = summary.rollMax;
    row.samples = summary.samples;
    row.lastCycle = summary.lastCycle;
    row.unit = m_link.calibration().unitName();
    row.alarm = m_alarmsOn ? m_alarmRule.stateText() : QStringLiteral("ok");
    if (m_reference) {
        row.pitchChange = summary.pitch - m_reference->pitch;
        row.rollChange = summary.roll - m_reference->roll;
    }
    return row;
}

void FieldLogger::armRecordTimer(qint64 wallNow)
{
    if (!m_onClock) {
        if (!m_recordTimer->isActive())
            m_recordTimer->start();
        return;
    }
    m_nextRowMs = csvlog::nextRowTime(std::max(wallNow, m_lastRowMs), m_options.intervalMs);
    m_recordTimer->start(int(std::clamp<qint64>(m_nextRowMs - wallNow, 0, 24LL * 3600 * 1000)));
}

void FieldLogger::onTick()
{
    const qint64 wallMs = QDateTime::currentMSecsSinceEpoch();
    const qint64 monoMs = monotonicNowMs();
    // The wall clock set (NTP, by hand) between two ticks: said once; the
    // rows follow the clock as it now is, and never repeat a time.
    const qint64 stepMs = (wallMs - m_tickWallMs) - (monoMs - m_tickMonoMs);
    if (std::abs(stepMs) >= ClockStepMs)
        m_log.report(EventLog::Priority::Notice,
            QStringLiteral("clock step: the wall clock moved %1 s %2")
                .arg(QString::number(double(std::abs(stepMs)) / 1000.0, 'f', 3),
                    stepMs > 0 ? QStringLiteral("forward") : QStringLiteral("back")));
    m_tickWallMs = wallMs;
    m_tickMonoMs = monoMs;
    if (!m_onClock) {
        writeRow(wallMs);
        return;
    }
    if (wallMs < m_nextRowMs) // early, or the clock went back: the interval goes on
        return armRecordTimer(wallMs);
    // Stamped with the boundary just passed, so rows of every sensor line up.
    const qint64 boundary = csvlog::nextRowTime(wallMs - m_options.intervalMs, m_options.intervalMs);
    const qint64 stamp = boundary > m_lastRowMs && boundary <= wallMs ? boundary : wallMs;
    if (writeRow(stamp))
        armRecordTimer(wallMs);
}

bool FieldLogger::writeRow(qint64 wallMs)
{
    // An interval without a well-formed cycle writes no row: nothing is
    // invented for a gap, which shows in the times.
    const std::optional<IntervalStats::Summary> summary = m_intervalStats.summary();
    const std::optional<Frame> lastCycle = m_intervalStats.lastFrame();
    m_intervalStats.clear();
    if (m_link.ended() || !summary)
        return true;
    if (!m_options.referenceFile.isEmpty() && !m_reference) {
        if (const auto error = storeReference({summary->pitch, summary->roll})) {
            fail(*error);
            return false;
        }
    }
    csvlog::Record record = this->record(*summary);
    record.wallMsUtc = std::max(wallMs, m_lastRowMs + 1);
    m_lastRowMs = record.wallMsUtc;
    if (!m_options.csvPath.isEmpty() || !m_options.csvDir.isEmpty()) {
        QStringList notes;
        const auto error = m_csv.write(record.wallMsUtc, csvlog::row(record), &notes);
        for (const QString& note : std::as_const(notes))
            m_log.report(EventLog::Priority::Warning, note);
        if (error) {
            fail(*error);
            return false;
        }
    }
    if (m_kvddt.isOpen() && lastCycle) {
        if (!m_kvddt.stillThere()) {
            m_log.report(EventLog::Priority::Warning,
                QStringLiteral("%1 was removed or renamed: writing a new one").arg(m_kvddt.path()));
            if (const auto error = m_kvddt.reopen()) {
                fail(QStringLiteral("%1: %2").arg(m_kvddt.path(), *error));
                return false;
            }
        }
        if (const auto error = m_kvddt.writeRecord(
                m_options.intervalMs, lastCycle->pitch.valueColumnText(), lastCycle->roll.valueColumnText())) {
            fail(QStringLiteral("%1: %2").arg(m_kvddt.path(), *error));
            return false;
        }
    }
    ++m_rowsWritten;
    emit rowWritten(record);
    return true;
}

std::optional<QString> FieldLogger::storeReference(const Reference& taken)
{
    const auto stored = reference::create(m_options.referenceFile, taken, QDateTime::currentMSecsSinceEpoch(),
        loggeroptions::modelName(m_options), m_link.calibration());
    if (const QString* error = std::get_if<QString>(&stored))
        return *error;
    if (const Reference* theirs = std::get_if<Reference>(&stored)) {
        m_reference = *theirs;
        m_log.report(EventLog::Priority::Notice,
            QStringLiteral("reference zero taken by another logger first: pitch %1 roll %2, read from %3")
                .arg(numfmt::angle(theirs->pitch), numfmt::angle(theirs->roll), m_options.referenceFile));
        return std::nullopt;
    }
    m_reference = taken;
    m_log.report(EventLog::Priority::Notice,
        QStringLiteral("reference zero taken: pitch %1 roll %2, stored in %3")
            .arg(numfmt::angle(taken.pitch), numfmt::angle(taken.roll), m_options.referenceFile));
    return std::nullopt;
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
    m_log.report(EventLog::Priority::Info, QStringLiteral("output files reopened"));
}

QString FieldLogger::statusText() const
{
    const DeviceWatch::State state = m_deviceWatch.state();
    const char* device = state == DeviceWatch::State::Up ? "answering"
        : state == DeviceWatch::State::Lost              ? "lost"
        : state == DeviceWatch::State::Reopened          ? "reopened, no valid reply yet"
                                                         : "opened, no valid reply yet";
    const qint64 uptimeS = m_sinceStart.elapsed() / 1000;
    return QStringLiteral("status: device %1 %2, cycles %3, rows %4, losses %5, uptime %6d %7, bad replies %8, alarms "
                          "raised %9, alarm now %10")
        .arg(m_options.device, QLatin1String(device))
        .arg(m_cyclesSeen)
        .arg(m_rowsWritten)
        .arg(m_deviceWatch.losses())
        .arg(uptimeS / 86400)
        .arg(QTime(0, 0).addSecs(int(uptimeS % 86400)).toString(QStringLiteral("HH:mm:ss")))
        .arg(m_badReplyCount)
        .arg(m_alarmsRaised)
        .arg(m_alarmsOn ? m_alarmRule.stateText() : QStringLiteral("off"));
}

QString FieldLogger::alarmState(AlarmAxis axis) const
{
    if (!m_alarmsOn || !m_alarmRule.isOn(axis))
        return QStringLiteral("off");
    if (!m_alarmRule.isJudged(axis))
        return QStringLiteral("unknown");
    return m_alarmRule.isRaised(axis) ? QStringLiteral("raised") : QStringLiteral("ok");
}

void FieldLogger::fail(const QString& what)
{
    m_log.report(EventLog::Priority::Error, QStringLiteral("write failure: %1").arg(what));
    stop(loggerexit::Failure, QStringLiteral("write failure"));
}

void FieldLogger::stop(int exitCode, const QString& why)
{
    // Ending the link is the logger's one stopped state: from here on no
    // reading, frame or failure reaches the logger.
    if (m_link.ended())
        return;
    // A clean stop finishes the row of the interval under way: a restart
    // loses no readings. Its `samples` shows it is short.
    if (exitCode == loggerexit::Clean && !writeRow(QDateTime::currentMSecsSinceEpoch()))
        return; // the write failure has stopped the logger
    m_link.end();
    for (QTimer* timer : {m_recordTimer, m_wakeTimer, m_badReplyTimer})
        timer->stop();
    m_kvddt.close();
    m_csv.close();
    m_log.report(EventLog::Priority::Info, QStringLiteral("stop: %1").arg(why));
    emit finished(exitCode);
}
