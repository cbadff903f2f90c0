#include "ui/form1.h"
#include "link/serialport.h"

// Every received chunk reaches the decoder in arrival order; other events of
// the line (errors, modem lines) change nothing here.
void Form1::MSComm1_OnComm()
{
    if (m_ended || m_comm->CommEvent() != SerialPortComponent::ReceivedEvent)
        return;
    if (m_state.LastCommand == QLatin1String("A") && m_comm->insideNotification()) {
        // The answer to "A" may make the decoder close and reopen the port,
        // which QSerialPort does not allow from inside its own notification:
        // take this chunk from the event loop instead (nothing is read yet,
        // so the order of chunks is kept).
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
