// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/serialport.h"
#include <QFile>

#include <QFileInfo>
#include <QMetaObject>

#include <cerrno>
#include <cstring>
#include <unistd.h>

SerialPortComponent::SerialPortComponent(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("MSComm1"));
    m_port.setReadBufferSize(0); // unlimited: never drop received characters
    connect(&m_port, &QSerialPort::readyRead, this, &SerialPortComponent::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialPortComponent::onError);
}

SerialPortComponent::~SerialPortComponent()
{
    if (m_port.isOpen())
        m_port.close();
}

std::optional<QString> SerialPortComponent::setDevice(const QString& path)
{
    if (m_port.isOpen())
        return QStringLiteral("Operation not valid while the port is open");
    m_device = path;
    return std::nullopt;
}

std::optional<QString> SerialPortComponent::setLineFormat(const LineFormat& format)
{
    m_format = format;
    return m_port.isOpen() ? applyLineSettings() : std::nullopt;
}

std::optional<QString> SerialPortComponent::setHandshaking(int mode)
{
    if (mode < 0 || mode > 2)
        return QStringLiteral("Invalid flow-control mode %1").arg(mode);
    m_handshaking = mode;
    return m_port.isOpen() ? applyLineSettings() : std::nullopt;
}

std::optional<QString> SerialPortComponent::applyLineSettings()
{
    bool ok = m_port.setBaudRate(m_format.baud);
    ok = m_port.setDataBits(static_cast<QSerialPort::DataBits>(m_format.dataBits)) && ok;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (m_format.parity.toLatin1()) {
    case 'E':
        parity = QSerialPort::EvenParity;
        break;
    case 'O':
        parity = QSerialPort::OddParity;
        break;
    case 'M':
        parity = QSerialPort::MarkParity;
        break;
    case 'S':
        parity = QSerialPort::SpaceParity;
        break;
    default:
        break;
    }
    ok = m_port.setParity(parity) && ok;
    const QSerialPort::StopBits stop = m_format.stopBits == QLatin1String("2") ? QSerialPort::TwoStop
        : m_format.stopBits == QLatin1String("1.5")                            ? QSerialPort::OneAndHalfStop
                                                                               : QSerialPort::OneStop;
    ok = m_port.setStopBits(stop) && ok;
    const QSerialPort::FlowControl flow = m_handshaking == 1 ? QSerialPort::SoftwareControl
        : m_handshaking == 2                                 ? QSerialPort::HardwareControl
                                                             : QSerialPort::NoFlowControl;
    ok = m_port.setFlowControl(flow) && ok;
    if (!ok) {
        const QString text = m_port.errorString();
        m_port.clearError();
        return text;
    }
    return std::nullopt;
}

std::optional<QString> SerialPortComponent::setPortOpen(bool open)
{
    if (!open) {
        if (m_port.isOpen())
            m_port.close();
        return std::nullopt;
    }
    if (m_port.isOpen())
        return std::nullopt;
    const QString dev = device();
    m_port.setPortName(dev);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QString text = openFailureText(dev, m_port.errorString(), m_port.error());
        m_port.clearError();
        return text;
    }
    if (auto error = applyLineSettings()) {
        m_port.close();
        return error;
    }
    m_port.clear(QSerialPort::AllDirections); // drop anything left from before
    m_lastError.clear();
    return std::nullopt;
}

std::optional<QString> SerialPortComponent::Output(const QByteArray& bytes)
{
    if (!m_port.isOpen())
        return QStringLiteral("Port is not open");
    qsizetype done = 0;
    // Straight to the driver while nothing is queued: QSerialPort's own
    // buffer arms and disarms a write notifier for every command, which
    // costs two extra turns of the event loop per reading.
    if (m_port.bytesToWrite() == 0) {
        const ssize_t n = ::write(m_port.handle(), bytes.constData(), std::size_t(bytes.size()));
        if (n > 0) {
            done = n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            const QString text = QString::fromLocal8Bit(std::strerror(errno));
            onError(QSerialPort::WriteError);
            m_lastError = text;
            return text;
        }
    }
    if (done < bytes.size()) {
        const QByteArray rest = bytes.mid(done);
        if (m_port.write(rest) != rest.size())
            return m_port.errorString();
        // The rest waits in QSerialPort's buffer until the driver
        // can take it: forcing it out now would meet the same full driver
        // and be reported as a failed line.
        if (m_port.error() == QSerialPort::WriteError || m_port.error() == QSerialPort::ResourceError)
            return m_port.errorString();
    }
    return std::nullopt;
}

QString SerialPortComponent::Input()
{
    return m_port.isOpen() ? QString::fromLatin1(m_port.readAll()) : QString();
}

void SerialPortComponent::onReadyRead()
{
    m_inNotification = true;
    raiseReceived();
    m_inNotification = false;
}

void SerialPortComponent::raiseReceived()
{
    if (!m_port.isOpen() || m_port.bytesAvailable() == 0)
        return; // already read by an earlier event, or closed since
    m_event = ReceivedEvent;
    emit OnComm();
}

void SerialPortComponent::raiseReceivedLater()
{
    // From the event loop, where the port may be closed.
    QMetaObject::invokeMethod(this, &SerialPortComponent::raiseReceived, Qt::QueuedConnection);
}

void SerialPortComponent::onError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError)
        return;
    m_event = ErrorEventBase + int(error);
    if (error == QSerialPort::ReadError || error == QSerialPort::WriteError || error == QSerialPort::ResourceError) {
        // QSerialPort's own text may carry whatever errno a later call left
        // ("Inappropriate ioctl for device"): a device gone from /dev is
        // named so, a resource that vanished under us is an I/O error.
        if (::access(QFile::encodeName(m_device).constData(), F_OK) != 0)
            m_lastError = QString::fromLocal8Bit(std::strerror(errno));
        else
            m_lastError = error == QSerialPort::ResourceError ? QString::fromLocal8Bit(std::strerror(EIO))
                                                              : m_port.errorString();
    }
    emit OnComm();
    if (error == QSerialPort::ReadError || error == QSerialPort::WriteError || error == QSerialPort::ResourceError) {
        // Closing from inside QSerialPort's own notification is not safe;
        // do it as soon as control is back in the event loop.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_port.isOpen())
                    m_port.close();
                m_port.clearError();
            },
            Qt::QueuedConnection);
    }
}

QString openFailureText(const QString& device, const QString& portError, QSerialPort::SerialPortError code)
{
    QString text = QStringLiteral("%1: %2").arg(device, portError);
    if (code == QSerialPort::PermissionError) {
        const QFileInfo info(device);
        // Qt reports a device another program holds (its lock) as a
        // permission error; the operator needs to hear which it is.
        if (info.exists() && info.isReadable() && info.isWritable())
            return QStringLiteral("%1: the device is in use by another program").arg(device);
        if (info.exists() && (!info.isReadable() || !info.isWritable()) && !info.group().isEmpty())
            text += QStringLiteral("\nYour user must be a member of the group '%1' that owns %2.")
                        .arg(info.group(), device);
    }
    return text;
}
