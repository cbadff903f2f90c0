#include "link/portlist.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMultiMap>
#include <QSerialPortInfo>
#include <QTextStream>

QString serialDevicesText()
{
    QString text;
    QTextStream out(&text);
    // Stable names that survive re-plugging, where udev provides them.
    QMultiMap<QString, QString> stableNames;
    for (const char* dir : {"/dev/serial/by-id", "/dev/serial/by-path"}) {
        QDirIterator it(QString::fromLatin1(dir), QDir::System | QDir::Files | QDir::NoDotAndDotDot);
        while (it.hasNext()) {
            const QString link = it.next();
            stableNames.insert(QFileInfo(link).canonicalFilePath(), link);
        }
    }
    const auto ports = QSerialPortInfo::availablePorts();
    out << "Serial devices found:\n";
    if (ports.isEmpty())
        out << "  (none)\n";
    for (const QSerialPortInfo& p : ports) {
        out << "  " << p.systemLocation();
        if (!p.description().isEmpty())
            out << "  " << p.description();
        if (!p.manufacturer().isEmpty())
            out << "  maker: " << p.manufacturer();
        if (p.hasVendorIdentifier() && p.hasProductIdentifier())
            out << QStringLiteral("  %1:%2")
                       .arg(p.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                       .arg(p.productIdentifier(), 4, 16, QLatin1Char('0'));
        if (!p.serialNumber().isEmpty())
            out << "  serial: " << p.serialNumber();
        out << "\n";
        for (const QString& name : stableNames.values(QFileInfo(p.systemLocation()).canonicalFilePath()))
            out << "      " << name << "\n";
    }
    out.flush();
    return text;
}
