// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/portlist.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMultiMap>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QTextStream>

#include <algorithm>

namespace {
// Each symlink in `folder` by the device it leads to.
QMultiMap<QString, QString> linksIn(const QString& folder)
{
    QMultiMap<QString, QString> links;
    QDirIterator it(folder, QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString link = it.next();
        const QString target = QFileInfo(link).canonicalFilePath();
        if (!target.isEmpty()) // a dangling link leads nowhere
            links.insert(target, link);
    }
    return links;
}

QStringList sorted(QStringList names)
{
    names.sort();
    return names;
}
} // namespace

bool SerialDevice::isUsbAdapter() const
{
    static const QRegularExpression usbTty(QStringLiteral("^tty(USB|ACM)[0-9]+$"));
    if (usbTty.match(QFileInfo(path).fileName()).hasMatch())
        return true;
    return std::any_of(byId.begin(), byId.end(),
        [](const QString& name) { return QFileInfo(name).fileName().startsWith(QLatin1String("usb-")); });
}

QString byIdFolder()
{
    const QString folder = qEnvironmentVariable("VELTRAK_SERIAL_BY_ID");
    return folder.isEmpty() ? QStringLiteral("/dev/serial/by-id") : folder;
}

QList<SerialDevice> serialDevices()
{
    QMultiMap<QString, QString> byId = linksIn(byIdFolder());
    const QMultiMap<QString, QString> byPath = linksIn(QStringLiteral("/dev/serial/by-path"));
    QList<SerialDevice> found;
    auto add = [&](SerialDevice d) {
        const QString real = QFileInfo(d.path).canonicalFilePath();
        d.byId = sorted(byId.values(real));
        d.byPath = sorted(byPath.values(real));
        byId.remove(real);
        found.append(std::move(d));
    };
    for (const QSerialPortInfo& p : QSerialPortInfo::availablePorts()) {
        SerialDevice d;
        d.path = p.systemLocation();
        d.description = p.description();
        d.maker = p.manufacturer();
        d.serialNumber = p.serialNumber();
        if (p.hasVendorIdentifier() && p.hasProductIdentifier()) {
            d.vendorId = p.vendorIdentifier();
            d.productId = p.productIdentifier();
        }
        add(std::move(d));
    }
    // udev makes by-id names for serial devices only: what they lead to is
    // one, even where QSerialPortInfo does not report it.
    for (const QString& target : byId.uniqueKeys()) {
        SerialDevice d;
        d.path = target;
        add(std::move(d));
    }
    return found;
}

const SerialDevice* deviceAt(const QString& path, const QList<SerialDevice>& found)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    if (real.isEmpty())
        return nullptr;
    for (const SerialDevice& d : found)
        if (QFileInfo(d.path).canonicalFilePath() == real)
            return &d;
    return nullptr;
}

bool devicePresent(const QString& path, const QList<SerialDevice>& found)
{
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    if (deviceAt(path, found))
        return true;
    static const QRegularExpression uartNode(QStringLiteral("^ttyS[0-9]+$"));
    return !uartNode.match(QFileInfo(info.canonicalFilePath()).fileName()).hasMatch();
}

QString serialDevicesText()
{
    QString text;
    QTextStream out(&text);
    const QList<SerialDevice> devices = serialDevices();
    out << "Serial devices found:\n";
    if (devices.isEmpty())
        out << "  (none)\n";
    for (const SerialDevice& d : devices) {
        out << "  " << d.path;
        if (!d.description.isEmpty())
            out << "  " << d.description;
        if (!d.maker.isEmpty())
            out << "  maker: " << d.maker;
        if (d.vendorId >= 0 && d.productId >= 0)
            out << QStringLiteral("  %1:%2")
                       .arg(d.vendorId, 4, 16, QLatin1Char('0'))
                       .arg(d.productId, 4, 16, QLatin1Char('0'));
        if (!d.serialNumber.isEmpty())
            out << "  serial: " << d.serialNumber;
        out << "\n";
        for (const QString& name : d.byId + d.byPath)
            out << "      " << name << "\n";
    }
    out.flush();
    return text;
}
