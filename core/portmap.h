#pragma once

#include <QMap>
#include <QString>

// Which device each port number 1 to 4 stands for: COMn on Windows, a
// default /dev/ttySn-1 on Linux, and any device the operator maps with
// --port N=DEVICE (USB adapters, the simulated sensor).
class PortMap {
public:
    static constexpr int FirstPort = 1;
    static constexpr int LastPort = 4;

    QString deviceFor(int number) const;
    static QString defaultDeviceFor(int number);
    void setDevice(int number, const QString& device) { m_overrides[number] = device; }
    bool isMapped(int number) const { return m_overrides.contains(number); }

private:
    QMap<int, QString> m_overrides;
};
