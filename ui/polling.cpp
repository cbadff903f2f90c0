// The main window's side of polling: its handlers hand over to Poller, and
// Poller reaches the port, the watchdog timer and the status line through
// these host functions.
#include "ui/form1.h"
#include "link/serialport.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

void Form1::Start_Click()
{
    if (!m_ended)
        m_poller->Start_Click();
}

void Form1::mnuinit_Click()
{
    if (!m_ended)
        m_poller->mnuinit_Click();
}

void Form1::Timer1_Timer()
{
    if (!m_ended)
        m_poller->Timer1_Timer();
}

bool Form1::startEnabled() const
{
    return Start->isEnabled();
}

bool Form1::portOpen() const
{
    return m_comm->PortOpen();
}

bool Form1::writeToPort(const QByteArray& bytes)
{
    if (m_ended)
        return false;
    return !m_comm->Output(bytes).has_value();
}

void Form1::setWatchdog(bool on)
{
    if (on && !m_ended)
        Timer1->start();
    else
        Timer1->stop();
}

// Through the same path as the decoder's captions, so the two keep their order.
void Form1::setStatus(const QString& text)
{
    setCaption(Label::Ldebug, text);
}
