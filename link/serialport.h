// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/lineformat.h"

#include <QObject>
#include <QSerialPort>

#include <optional>

// The serial port of the sensor link, over QSerialPort. It offers what the
// programs need and nothing more: a device path, the line format, the
// flow-control mode, the open state, a write, a read of all waiting
// characters, the kind of the last event and a communication event raised on
// the thread it lives in. (The window's port numbers and their mapping to
// devices belong to its port dialog.)
//
// Modem control lines are never touched: setting them fails on
// pseudo-terminals and the sensor does not use them. On a read, write or
// resource error the port is closed, since QSerialPort can otherwise report
// the same error in a tight loop on a vanished device.
class SerialPortComponent : public QObject {
    Q_OBJECT
public:
    static constexpr int ReceivedEvent = 2;
    static constexpr int ErrorEventBase = 1000; // + QSerialPort::SerialPortError

    explicit SerialPortComponent(QObject* parent = nullptr);
    ~SerialPortComponent() override;

    // The device opened next, e.g. /dev/ttyUSB0; refused while open.
    [[nodiscard]] std::optional<QString> setDevice(const QString& path);
    QString device() const { return m_device; }

    const LineFormat& lineFormat() const { return m_format; }
    [[nodiscard]] std::optional<QString> setLineFormat(const LineFormat& format);

    int Handshaking() const { return m_handshaking; }
    [[nodiscard]] std::optional<QString> setHandshaking(int mode);

    bool PortOpen() const { return m_port.isOpen(); }
    [[nodiscard]] std::optional<QString> setPortOpen(bool open);

    [[nodiscard]] std::optional<QString> Output(const QByteArray& bytes);
    QString Input();

    int CommEvent() const { return m_event; }
    // The system's reason of the last read, write or resource error since the
    // port was opened ("Input/output error"); empty without one.
    QString lastError() const { return m_lastError; }

    // True while the communication event is raised from inside QSerialPort's
    // own notification, where the port must not be closed; such a handler
    // can ask for the event again from the event loop.
    bool insideNotification() const { return m_inNotification; }
    void raiseReceivedLater();

signals:
    void OnComm();

private:
    std::optional<QString> applyLineSettings();
    void onReadyRead();
    void raiseReceived();
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    QString m_device;
    LineFormat m_format;
    int m_handshaking = 0;
    int m_event = 0;
    QString m_lastError;
    bool m_inNotification = false;
};

// The text shown when opening fails; on Linux a missing permission names the
// group that owns the device.
QString openFailureText(const QString& device, const QString& portError, QSerialPort::SerialPortError code);
