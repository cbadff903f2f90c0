// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/sensorlink.h"

#include "link/serialline.h"

#include <QDateTime>
#include <QMetaObject>
#include <QTimer>

SensorLink::SensorLink(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("SensorLink"));
    m_line = new SerialLine(this);
    m_watchdog = new QTimer(this);
    m_watchdog->setObjectName(QStringLiteral("Timer1"));
    m_watchdog->setInterval(1000);
    connect(m_watchdog, &QTimer::timeout, this, &SensorLink::onWatchdog);
    connect(m_line, &SerialLine::received, this, &SensorLink::onReceived);
}

SensorLink::~SensorLink()
{
    end();
}

std::optional<LineFailure> SensorLink::open(const QString& device, const LineFormat& format)
{
    if (m_ended)
        return LineFailure {LineFailure::Kind::NotOpen, device, QStringLiteral("Port is not open"), {}};
    auto failure = m_line->open(device, format);
    wakeForReply();
    return failure;
}

void SensorLink::close()
{
    m_line->close();
}

bool SensorLink::isOpen() const
{
    return m_line->isOpen();
}

QString SensorLink::device() const
{
    return m_line->device();
}

LineFormat SensorLink::lineFormat() const
{
    return m_line->format();
}

std::optional<LineFailure> SensorLink::setLineFormat(const LineFormat& format)
{
    return m_line->setFormat(format);
}

void SensorLink::startPolling()
{
    if (!m_ended)
        perform(m_poller.start(m_modelChosen, held()));
}

void SensorLink::sendInitialisation()
{
    if (!m_ended)
        perform(m_poller.initialise(held()));
}

void SensorLink::stopPolling()
{
    m_hold = false;
    m_poller.reset();
    m_decoder.clear();
    m_watchdog->stop();
    m_framePitch.reset();
    m_frameRoll.reset();
    m_line->close();
}

void SensorLink::setHold(bool on)
{
    if (m_hold == on || m_ended)
        return;
    m_hold = on;
    if (on) {
        m_watchdog->stop();
    } else {
        m_watchdog->start();
        perform(m_poller.resume(held())); // the command held back goes out now
    }
}

void SensorLink::end()
{
    if (m_ended)
        return;
    m_ended = true;
    m_watchdog->stop();
    m_line->close();
    disconnect(this, nullptr, nullptr, nullptr);
}

void SensorLink::perform(const Poller::Actions& actions)
{
    for (const Poller::Action& action : actions) {
        if (m_ended)
            return;
        switch (action.kind) {
        case Poller::Action::Write:
            // Set before the command goes, so a quick reply already finds it.
            m_line->setWakeAfter(m_decoder.missing(action.bytes.size() == 1 ? action.bytes.front() : '\0'));
            perform(m_poller.written(m_line->write(action.bytes), held()));
            break;
        case Poller::Action::ArmWatchdog:
            m_watchdog->start();
            break;
        case Poller::Action::StopWatchdog:
            m_watchdog->stop();
            break;
        case Poller::Action::Silent:
            emit silent(action.ticks, m_decoder.partial());
            break;
        case Poller::Action::ReportLater:
            // Not from inside the handler that found the failure.
            QMetaObject::invokeMethod(
                this, [this] { perform(m_poller.failureDue()); }, Qt::QueuedConnection);
            break;
        case Poller::Action::NoModel:
            emit modelMissing();
            break;
        case Poller::Action::LineFailed:
            // A receiver may show this modally; the failing cycle blocks the
            // ones beneath it until it returns.
            emit lineFailed(m_line->lastError().isEmpty()
                    ? LineFailure {LineFailure::Kind::NotOpen, m_line->device(), {}, {}}
                    : LineFailure {LineFailure::Kind::Broken, m_line->device(), m_line->lastError(), {}});
            if (!m_ended)
                perform(m_poller.failureReported(held()));
            break;
        }
    }
}

void SensorLink::onWatchdog()
{
    // What came short of a whole reply is still the kernel's: the decoder
    // sees it before the tick judges the silence.
    m_line->takeWaiting();
    if (!m_ended)
        perform(m_poller.watchdogTick(m_line->isOpen(), held()));
    wakeForReply();
}

// Every received chunk reaches the decoder in arrival order; errors of the
// line change nothing here: a failing line closes itself and the next write
// reports it.
void SensorLink::onReceived(const QByteArray& bytes)
{
    if (m_ended)
        return;
    if (const auto seen = decode(QString::fromLatin1(bytes), m_poller.awaited()); seen && !m_ended)
        perform(m_poller.replyConsumed(*seen, held()));
    wakeForReply();
}

void SensorLink::wakeForReply()
{
    if (!m_ended)
        m_line->setWakeAfter(m_decoder.missing(m_poller.awaited()));
}

std::optional<bool> SensorLink::decode(const QString& chunk, char awaited)
{
    const ReplyDecoder::Result result = m_decoder.take(chunk, awaited, m_calibration, m_rawDisplay);
    if (result.resetPort) {
        // Closed now, opened again from the event loop once what is pending
        // has run; nothing is written in between.
        m_portResetting = true;
        m_line->close();
        QMetaObject::invokeMethod(this, &SensorLink::finishReset, Qt::QueuedConnection);
    }
    if (result.handshake)
        emit handshake();
    if (result.status && !m_ended)
        emit status(*result.status);
    if (result.reading && !m_ended)
        deliver(*result.reading);
    return result.consumed ? std::optional(result.seen) : std::nullopt;
}

void SensorLink::deliver(Reading reading)
{
    reading.monotonicMs = monotonicNowMs();
    reading.wallMs = QDateTime::currentMSecsSinceEpoch();
    if (reading.quantity == Quantity::Pitch && !reading.rawDisplay)
        m_lastPitchCentred = reading.centred;
    emit readingReady(reading);
    switch (reading.quantity) {
    case Quantity::Pitch:
        m_framePitch = reading;
        m_frameRoll.reset();
        break;
    case Quantity::Roll:
        if (m_framePitch)
            m_frameRoll = reading;
        break;
    case Quantity::Temperature:
        if (m_framePitch && m_frameRoll)
            emit frameReady(Frame {*m_framePitch, *m_frameRoll, reading});
        m_framePitch.reset();
        m_frameRoll.reset();
        break;
    }
}

void SensorLink::finishReset()
{
    // A port that does not open again stays closed; the cycle's next write
    // then reports "Error RS232".
    if (m_ended)
        return;
    (void)m_line->open(m_line->device(), m_line->format());
    m_portResetting = false;
    perform(m_poller.resume(held()));
}
