// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/linefailure.h"
#include "core/lineformat.h"
#include "core/replytiming.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>

#include <optional>

// The serial line of the sensor link, over QSerialPort, in Qt's shape: open
// with a device and a line format, received bytes in a signal, a write is a
// call, failures to open are values. Only SensorLink holds one.
//
// Modem control lines are never touched: setting them fails on
// pseudo-terminals and the sensor does not use them. On a read, write or
// resource error the port is closed, since QSerialPort can otherwise report
// the same error in a tight loop on a vanished device.
class SerialLine : public QObject {
    Q_OBJECT
public:
    explicit SerialLine(QObject* parent = nullptr);
    ~SerialLine() override;

    // Not from inside `received` (refused): QSerialPort may not close there.
    [[nodiscard]] std::optional<LineFailure> open(const QString& device, const LineFormat& format);
    // Closing from inside the line's own `received` is allowed: nothing more
    // is delivered, and the port itself closes once control is back in the
    // event loop (QSerialPort may not be closed from its notification).
    void close();
    bool isOpen() const { return m_port.isOpen() && !m_closing; }
    // The device last opened.
    const QString& device() const { return m_device; }
    const LineFormat& format() const { return m_format; }
    // Applies at once to an open line, and to the next open in any case.
    [[nodiscard]] std::optional<LineFailure> setFormat(const LineFormat& format);

    // False when the line is closed or the driver refused the bytes
    // (lastError() then says why).
    [[nodiscard]] bool write(const QByteArray& bytes);

    // How many bytes the kernel gathers before it wakes the program: the
    // length of the reply awaited. 1 delivers every character at once. On a
    // line that runs at its baud rate, the line also stops listening after a
    // command until that many bytes can have come back, so that a reply
    // costs one wake-up rather than one per character.
    void setWakeAfter(int bytes);
    // Delivers, through `received`, whatever waits below that threshold.
    void takeWaiting();

    // The system's reason of the last read, write or resource error since
    // the line was opened (the line then closes itself); empty without one.
    const QString& lastError() const { return m_lastError; }

signals:
    void received(const QByteArray& bytes);

private:
    std::optional<LineFailure> applyFormat();
    void applyWakeAfter();
    void onReadyRead();
    QByteArray readWaiting();
    void deliver(const QByteArray& bytes);
    void onHoldEnd();
    void onError(QSerialPort::SerialPortError error);
    void breakLine(const QString& reason);
    void closeNow();
    void closeLater();
    void holdReading(qint64 us);
    void endHold();

    // QSerialPort offers no way to stop listening for a while, and Qt's
    // timers count whole milliseconds while a reply takes 2.6 ms at 19200
    // baud: the port's own read notifier is paused, and a timerfd ends the
    // pause. Without either the line simply listens all the time.
    QPointer<QSocketNotifier> m_portReader;
    int m_holdTimer = -1;
    QSocketNotifier* m_holdEnd = nullptr;
    ReplyTiming m_timing;
    QElapsedTimer m_sentAt;
    int m_replyBytes = 0; // still to come of the reply awaited, 0: none
    bool m_held = false; // the reply awaited was listened for only after a hold
    bool m_holding = false; // the port's reader is paused until the timer ends

    QSerialPort m_port;
    QString m_device;
    LineFormat m_format;
    QString m_lastError;
    int m_wakeAfter = 1;
    bool m_inNotification = false;
    bool m_closing = false;
};
