// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A serial device found on this machine, with the stable names udev gives it.
struct SerialDevice {
    QString path; // e.g. /dev/ttyUSB0
    QStringList byId; // /dev/serial/by-id/...: the same adapter under the same name after re-plugging
    QStringList byPath; // /dev/serial/by-path/...: the same socket
    QString description;
    QString maker;
    QString serialNumber;
    int vendorId = -1; // -1 = unknown
    int productId = -1;

    // A USB serial adapter or a USB modem-class device (ttyUSB*, ttyACM*, or
    // a by-id name udev made for a USB device).
    bool isUsbAdapter() const;
};

// The folder of by-id names: /dev/serial/by-id, or VELTRAK_SERIAL_BY_ID
// where set (a test stands a folder of its own symlinks in for it).
QString byIdFolder();

// The serial devices found: those QSerialPortInfo reports, and the target of
// any by-id name it does not report.
QList<SerialDevice> serialDevices();

// Whether `path` leads to a device now. A /dev/ttyS node exists whether or
// not a UART is behind it, so such a node counts only when it was found.
bool devicePresent(const QString& path, const QList<SerialDevice>& found);

// The device among `found` that `path` leads to, or null.
const SerialDevice* deviceAt(const QString& path, const QList<SerialDevice>& found);

// The devices found (path, description, maker, VID:PID, serial number) with
// their stable names, as text for standard output; both programs print it
// for --list-ports.
QString serialDevicesText();
