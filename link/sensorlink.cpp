#include "link/sensorlink.h"

#include "link/serialport.h"

#include <QDateTime>
#include <QMetaObject>
#include <QTimer>

SensorLink::SensorLink(QObject* parent) : QObject(parent), m_decoder(m_state, *this)
{
    setObjectName(QStringLiteral("SensorLink"));
    m_comm = new SerialPortComponent(this);
    m_watchdog = new QTimer(this);
    m_watchdog->setObjectName(QStringLiteral("Timer1"));
    m_watchdog->setInterval(1000);
    m_poller = new Poller(m_state, *this, this);
    m_poller->setObjectName(QStringLiteral("Poller"));
    connect(m_watchdog, &QTimer::timeout, m_poller, &Poller::watchdogTick);
    connect(m_comm, &SerialPortComponent::OnComm, this, &SensorLink::onComm);
}

SensorLink::~SensorLink()
{
    end();
}

void SensorLink::startPolling()
{
    if (!m_ended)
        m_poller->startPolling();
}

void SensorLink::sendInitialisation()
{
    if (!m_ended)
        m_poller->sendInitialisation();
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
        m_poller->replyConsumed(); // the command held back goes out now
    }
}

void SensorLink::stopPolling()
{
    m_hold = false;
    m_poller->reset();
    m_watchdog->stop();
    m_state.LastCommand.clear();
    m_state.RxBuffer.clear();
    m_state.ReplySeen = false;
    m_state.WaitCount = 0;
    m_framePitch.reset();
    m_frameRoll.reset();
    (void)m_comm->setPortOpen(false);
}

void SensorLink::end()
{
    if (m_ended)
        return;
    m_ended = true;
    m_poller->end();
    m_watchdog->stop();
    (void)m_comm->setPortOpen(false);
}

// Every received chunk reaches the decoder in arrival order; other events of
// the line (errors, modem lines) change nothing here: a failing port is
// closed by the component and the next write reports it.
void SensorLink::onComm()
{
    if (m_ended || m_comm->CommEvent() != SerialPortComponent::ReceivedEvent)
        return;
    if (m_state.LastCommand == QLatin1String("A") && m_comm->insideNotification()) {
        // The answer to "A" may make the decoder close the port, which
        // QSerialPort does not allow from inside its own notification: take
        // this chunk from the event loop instead (nothing is read yet, so
        // the order of chunks is kept).
        m_comm->raiseReceivedLater();
        return;
    }
    QString chunk = m_comm->Input();
    if (chunk.isEmpty())
        return;
    m_decoder.ProcessReply(chunk); // empties what it is given
    if (m_state.LastCommand.isEmpty())
        m_poller->replyConsumed();
}

void SensorLink::deliver(Reading reading)
{
    reading.monotonicMs = monotonicNowMs();
    reading.wallMs = QDateTime::currentMSecsSinceEpoch();
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

// The port is closed now and opened again from the event loop, once what is
// pending has run; the poller writes nothing while the reset is under way.
void SensorLink::resetPort()
{
    m_portResetting = true;
    (void)m_comm->setPortOpen(false);
    QMetaObject::invokeMethod(this, &SensorLink::finishReset, Qt::QueuedConnection);
}

void SensorLink::finishReset()
{
    // A port that does not open again stays closed; the cycle's next write
    // then reports "Error RS232".
    if (!m_ended)
        (void)m_comm->setPortOpen(true);
    m_portResetting = false;
    m_poller->replyConsumed();
}

bool SensorLink::portOpen() const
{
    return m_comm->PortOpen();
}

bool SensorLink::writeToPort(const QByteArray& bytes)
{
    if (m_ended)
        return false;
    return !m_comm->Output(bytes).has_value();
}

void SensorLink::setWatchdog(bool on)
{
    if (on && !m_ended)
        m_watchdog->start();
    else
        m_watchdog->stop();
}

void SensorLink::setStatus(const QString& text)
{
    if (!m_ended)
        emit status(text);
}

void SensorLink::message(const QString& text, Prompter::Icon icon)
{
    if (!m_ended)
        emit failure(text, icon);
}
