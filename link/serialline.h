// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/linefailure.h"
#include "core/lineformat.h"

#include <QObject>
#include <QSerialPort>

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
    // length of the reply awaited. A paced line then costs one wake-up per
    // reply rather than one per character. 1 delivers every character at once.
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
    void onError(QSerialPort::SerialPortError error);
    void breakLine(const QString& reason);
    void closeNow();
    void closeLater();

    QSerialPort m_port;
    QString m_device;
    LineFormat m_format;
    QString m_lastError;
    int m_wakeAfter = 1;
    bool m_inNotification = false;
    bool m_closing = false;
};
