// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/serialline.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {
QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool brokenLine(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ReadError || error == QSerialPort::WriteError || error == QSerialPort::ResourceError;
}

LineFailure openFailure(const QString& device, const QSerialPort& port)
{
    LineFailure failure {LineFailure::Kind::OpenFailed, device, port.errorString(), {}};
    if (port.error() == QSerialPort::PermissionError) {
        const QFileInfo info(device);
        // Qt reports a device another program holds (its lock) as a
        // permission error; the operator needs to hear which it is.
        if (info.exists() && info.isReadable() && info.isWritable()) {
            failure.kind = LineFailure::Kind::InUse;
        } else {
            failure.kind = LineFailure::Kind::NoPermission;
            if (info.exists())
                failure.group = info.group();
        }
    }
    return failure;
}
} // namespace

SerialLine::SerialLine(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("MSComm1"));
    m_port.setReadBufferSize(0); // unlimited: never drop received characters
    connect(&m_port, &QSerialPort::readyRead, this, &SerialLine::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialLine::onError);
    m_holdTimer = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_holdTimer >= 0) {
        m_holdEnd = new QSocketNotifier(m_holdTimer, QSocketNotifier::Read, this);
        connect(m_holdEnd, &QSocketNotifier::activated, this, &SerialLine::onHoldEnd);
    }
}

SerialLine::~SerialLine()
{
    if (m_port.isOpen())
        m_port.close();
    delete m_holdEnd;
    if (m_holdTimer >= 0)
        ::close(m_holdTimer);
}

std::optional<LineFailure> SerialLine::open(const QString& device, const LineFormat& format)
{
    // QSerialPort may not be closed from inside its own notification, and
    // an open closes first: a receiver of `received` opens from the event
    // loop instead.
    if (m_inNotification)
        return LineFailure {LineFailure::Kind::OpenFailed, device, QStringLiteral("Operation not allowed now"), {}};
    if (m_closing)
        closeNow(); // a close asked from inside a notification, not yet done
    endHold();
    m_replyBytes = 0;
    if (m_port.isOpen())
        m_port.close();
    m_format = format;
    m_port.setPortName(device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const LineFailure failure = openFailure(device, m_port);
        m_port.clearError();
        return failure;
    }
    const QString previous = std::exchange(m_device, device);
    if (auto failure = applyFormat()) {
        m_port.close();
        m_device = previous;
        return failure;
    }
    m_port.clear(QSerialPort::AllDirections); // drop anything left from before
    m_lastError.clear();
    m_portReader = nullptr;
    for (QSocketNotifier* notifier : m_port.findChildren<QSocketNotifier*>()) {
        if (notifier->type() == QSocketNotifier::Read && notifier->socket() == m_port.handle())
            m_portReader = notifier;
    }
    m_timing.setFormat(m_format);
    return std::nullopt;
}

void SerialLine::close()
{
    if (!m_port.isOpen())
        return;
    if (m_inNotification)
        closeLater();
    else
        closeNow();
}

void SerialLine::closeLater()
{
    if (!m_port.isOpen() || m_closing)
        return;
    m_closing = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_closing)
                closeNow();
        },
        Qt::QueuedConnection);
}

void SerialLine::closeNow()
{
    endHold();
    m_replyBytes = 0;
    m_closing = false;
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

std::optional<LineFailure> SerialLine::setFormat(const LineFormat& format)
{
    m_format = format;
    return isOpen() ? applyFormat() : std::nullopt;
}

std::optional<LineFailure> SerialLine::applyFormat()
{
    m_timing.setFormat(m_format); // even if refused: part of it may apply
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
    const QSerialPort::FlowControl flow = m_format.flow == FlowControl::Software ? QSerialPort::SoftwareControl
        : m_format.flow == FlowControl::Hardware                                 ? QSerialPort::HardwareControl
                                                                                 : QSerialPort::NoFlowControl;
    ok = m_port.setFlowControl(flow) && ok;
    if (!ok) {
        const LineFailure failure {LineFailure::Kind::SettingsRefused, m_device, m_port.errorString(), {}};
        m_port.clearError();
        return failure;
    }
    applyWakeAfter();
    return std::nullopt;
}

void SerialLine::setWakeAfter(int bytes)
{
    bytes = std::clamp(bytes, 1, 255);
    if (bytes == m_wakeAfter)
        return;
    m_wakeAfter = bytes;
    applyWakeAfter();
}

// The line discipline reports the descriptor readable only once VMIN bytes
// wait (VTIME 0); reads stay non-blocking and return what is there.
void SerialLine::applyWakeAfter()
{
    if (!isOpen())
        return;
    termios settings {};
    if (::tcgetattr(m_port.handle(), &settings) != 0)
        return; // a line that cannot say simply wakes at every character
    if (settings.c_cc[VMIN] == m_wakeAfter && settings.c_cc[VTIME] == 0)
        return;
    settings.c_cc[VMIN] = cc_t(m_wakeAfter);
    settings.c_cc[VTIME] = 0;
    (void)::tcsetattr(m_port.handle(), TCSANOW, &settings);
}

void SerialLine::takeWaiting()
{
    if (!isOpen())
        return;
    m_replyBytes = 0; // not whole in time: says nothing of the line
    const QByteArray bytes = readWaiting();
    if (!bytes.isEmpty())
        emit received(bytes);
}

// Everything waiting, as the port's own reading would take it (what follows
// a reply in the same chunk is known not to be the next one), also below the
// wake-up threshold: the descriptor does not block. The port's own buffer is
// empty but for a failure; reading it through QIODevice would also switch
// its notifier back on, in the middle of a hold.
QByteArray SerialLine::readWaiting()
{
    QByteArray bytes = m_port.bytesAvailable() > 0 ? m_port.read(m_port.bytesAvailable()) : QByteArray();
    std::array<char, 4096> buffer {};
    ssize_t n = 0;
    do {
        n = ::read(m_port.handle(), buffer.data(), buffer.size());
        if (n > 0)
            bytes.append(buffer.data(), qsizetype(n));
    } while (n == ssize_t(buffer.size()));
    return bytes;
}

bool SerialLine::write(const QByteArray& bytes)
{
    if (!isOpen())
        return false;
    qsizetype done = 0;
    // Straight to the driver while nothing is queued: QSerialPort's own
    // buffer arms and disarms a write notifier for every command, which
    // costs two extra turns of the event loop per reading.
    if (m_port.bytesToWrite() == 0) {
        const ssize_t n = ::write(m_port.handle(), bytes.constData(), std::size_t(bytes.size()));
        if (n > 0) {
            done = n;
            if (done == bytes.size() && m_wakeAfter > 1) {
                m_replyBytes = m_wakeAfter;
                m_sentAt.start();
                holdReading(m_timing.holdUs(int(done), m_wakeAfter));
            }
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            breakLine(systemReason(errno));
            return false;
        }
    }
    if (done < bytes.size()) {
        const QByteArray rest = bytes.mid(done);
        if (m_port.write(rest) != rest.size())
            return false;
        // The rest waits in QSerialPort's buffer until the driver can take
        // it: forcing it out now would meet the same full driver and be
        // reported as a failed line.
        if (m_port.error() == QSerialPort::WriteError || m_port.error() == QSerialPort::ResourceError)
            return false;
    }
    return true;
}

void SerialLine::onReadyRead()
{
    if (!isOpen())
        return; // closing: nothing more is delivered
    const QByteArray bytes = m_port.readAll();
    if (!bytes.isEmpty())
        deliver(bytes);
}

void SerialLine::deliver(const QByteArray& bytes)
{
    if (m_replyBytes > 0) {
        m_replyBytes = int(std::max<qsizetype>(m_replyBytes - bytes.size(), 0));
        if (m_replyBytes == 0)
            m_timing.replyWhole(m_sentAt.nsecsElapsed() / 1000, m_held);
    }
    // Kept, not cleared: a receiver's modal box runs the event loop, and
    // the notification it interrupted is still under way.
    const bool outer = std::exchange(m_inNotification, true);
    emit received(bytes);
    m_inNotification = outer;
}

void SerialLine::holdReading(qint64 us)
{
    m_held = us > 0 && m_portReader && m_holdEnd;
    if (!m_held) {
        endHold(); // a reply measured while the line is deaf would lie
        return;
    }
    itimerspec due {};
    due.it_value.tv_sec = time_t(us / 1000000);
    due.it_value.tv_nsec = long(us % 1000000) * 1000;
    if (::timerfd_settime(m_holdTimer, 0, &due, nullptr) != 0) {
        m_held = false;
        return;
    }
    m_holding = true;
    m_portReader->setEnabled(false);
}

// The reply is usually whole by now: it is read here at once, and the
// command it leads to starts the next hold before the port's notifier would
// have been needed at all. Anything else (a reply still coming, a read
// error, bytes nobody asked for) goes the port's own way again.
void SerialLine::onHoldEnd()
{
    m_holding = false;
    // The port's notifier may have been switched on meanwhile and be due in
    // this same turn of the event loop: read empty below, it would take the
    // empty line for a failed one. Switching it off drops that turn.
    if (m_portReader)
        m_portReader->setEnabled(false);
    if (isOpen()) {
        if (const QByteArray bytes = readWaiting(); !bytes.isEmpty())
            deliver(bytes);
    }
    if (m_holding)
        return; // re-armed by the next command, which also clears the expiry
    quint64 expirations = 0;
    (void)::read(m_holdTimer, &expirations, sizeof expirations);
    if (m_portReader && isOpen())
        m_portReader->setEnabled(true);
}

void SerialLine::endHold()
{
    if (m_holding) {
        const itimerspec off {};
        (void)::timerfd_settime(m_holdTimer, 0, &off, nullptr);
        m_holding = false;
    }
    if (m_portReader && !m_portReader->isEnabled())
        m_portReader->setEnabled(true);
}

void SerialLine::onError(QSerialPort::SerialPortError error)
{
    if (!brokenLine(error))
        return; // framing, parity and the like: the reply simply comes out wrong
    // QSerialPort's own text may carry whatever errno a later call left
    // ("Inappropriate ioctl for device"): a device gone from /dev is named
    // so, a resource that vanished under us is an I/O error.
    if (::access(QFile::encodeName(m_device).constData(), F_OK) != 0)
        breakLine(systemReason(errno));
    else
        breakLine(error == QSerialPort::ResourceError ? systemReason(EIO) : m_port.errorString());
}

void SerialLine::breakLine(const QString& reason)
{
    m_lastError = reason;
    // Reported from inside QSerialPort's own notification, where closing is
    // not safe; the port closes as soon as control is back in the event loop.
    closeLater();
}
