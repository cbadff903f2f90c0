#pragma once

#include "core/lineformat.h"
#include "core/portmap.h"

#include <QObject>
#include <QSerialPort>

#include <optional>

// The serial port component of the main window, over QSerialPort. It offers
// what the program needs and nothing more: a port number 1 to 4 (mapped to a
// device), the line format text, the flow-control mode, the open state, a
// write, a read of all waiting characters, the kind of the last event and a
// communication event raised on the GUI thread.
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

    void setPortMap(const PortMap& map) { m_map = map; }
    const PortMap& portMap() const { return m_map; }

    int CommPort() const { return m_number; }
    [[nodiscard]] std::optional<QString> setCommPort(int number);

    QString Settings() const { return m_format.toText(); }
    [[nodiscard]] std::optional<QString> setSettings(const QString& text);

    int Handshaking() const { return m_handshaking; }
    [[nodiscard]] std::optional<QString> setHandshaking(int mode);

    bool PortOpen() const { return m_port.isOpen(); }
    [[nodiscard]] std::optional<QString> setPortOpen(bool open);

    [[nodiscard]] std::optional<QString> Output(const QByteArray& bytes);
    QString Input();

    int CommEvent() const { return m_event; }

    // True while the communication event is raised from inside QSerialPort's
    // own notification, where the port must not be closed; such a handler
    // can ask for the event again from the event loop.
    bool insideNotification() const { return m_inNotification; }
    void raiseReceivedLater();
    QString device() const { return m_map.deviceFor(m_number); }

signals:
    void OnComm();

private:
    std::optional<QString> applyLineSettings();
    void onReadyRead();
    void raiseReceived();
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    PortMap m_map;
    int m_number = 4;
    LineFormat m_format;
    int m_handshaking = 0;
    int m_event = 0;
    bool m_inNotification = false;
};

// The text shown when opening fails; on Linux a missing permission names the
// group that owns the device.
QString openFailureText(const QString& device, const QString& portError, QSerialPort::SerialPortError code);
