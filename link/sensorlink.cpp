// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/sensorlink.h"

#include "core/numberformat.h"
#include "link/serialport.h"

#include <QDateTime>
#include <QMetaObject>
#include <QTimer>

SensorLink::SensorLink(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("SensorLink"));
    m_comm = new SerialPortComponent(this);
    m_watchdog = new QTimer(this);
    m_watchdog->setObjectName(QStringLiteral("Timer1"));
    m_watchdog->setInterval(1000);
    connect(m_watchdog, &QTimer::timeout, this, &SensorLink::onWatchdog);
    connect(m_comm, &SerialPortComponent::OnComm, this, &SensorLink::onComm);
}

SensorLink::~SensorLink()
{
    end();
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
    (void)m_comm->setPortOpen(false);
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
    (void)m_comm->setPortOpen(false);
    disconnect(this, nullptr, nullptr, nullptr);
}

void SensorLink::perform(const Poller::Actions& actions)
{
    for (const Poller::Action& action : actions) {
        if (m_ended)
            return;
        switch (action.kind) {
        case Poller::Action::Write:
            perform(m_poller.written(!m_comm->Output(action.bytes).has_value(), held()));
            break;
        case Poller::Action::ArmWatchdog:
            m_watchdog->start();
            break;
        case Poller::Action::StopWatchdog:
            m_watchdog->stop();
            break;
        case Poller::Action::Silent:
            emit silentTick(action.ticks);
            if (!m_ended)
                emit status(
                    QStringLiteral(" Waiting ") + m_decoder.partial() + numfmt::plainDecimal(double(action.ticks)));
            break;
        case Poller::Action::ReportLater:
            // Not from inside the handler that found the failure.
            QMetaObject::invokeMethod(
                this, [this] { perform(m_poller.failureDue()); }, Qt::QueuedConnection);
            break;
        case Poller::Action::NoModel:
            emit failure(QStringLiteral("Veltrak option has to be selected"), Prompter::Icon::None);
            break;
        case Poller::Action::LineFailed:
            // A receiver may show this modally; the failing cycle blocks the
            // ones beneath it until it returns.
            emit failure(QStringLiteral("Error RS232"), Prompter::Icon::Critical);
            if (!m_ended)
                perform(m_poller.failureReported(held()));
            break;
        }
    }
}

void SensorLink::onWatchdog()
{
    if (!m_ended)
        perform(m_poller.watchdogTick(m_comm->PortOpen(), held()));
}

// Every received chunk reaches the decoder in arrival order; other events of
// the line (errors, modem lines) change nothing here: a failing port is
// closed by the component and the next write reports it.
void SensorLink::onComm()
{
    if (m_ended || m_comm->CommEvent() != SerialPortComponent::ReceivedEvent)
        return;
    if (m_poller.awaited() == 'A' && m_comm->insideNotification()) {
        // The answer to "A" may reset the port, which QSerialPort does not
        // allow from inside its own notification: take this chunk from the
        // event loop instead (nothing is read yet, so the order of chunks is
        // kept).
        m_comm->raiseReceivedLater();
        return;
    }
    const QString chunk = m_comm->Input();
    if (chunk.isEmpty())
        return;
    if (const auto seen = decode(chunk, m_poller.awaited()); seen && !m_ended)
        perform(m_poller.replyConsumed(*seen, held()));
}

std::optional<bool> SensorLink::decode(const QString& chunk, char awaited)
{
    const ReplyDecoder::Result result = m_decoder.take(chunk, awaited, m_calibration, m_rawDisplay);
    if (result.resetPort) {
        // Closed now, opened again from the event loop once what is pending
        // has run; nothing is written in between.
        m_portResetting = true;
        (void)m_comm->setPortOpen(false);
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
    (void)m_comm->setPortOpen(true);
    m_portResetting = false;
    perform(m_poller.resume(held()));
}
