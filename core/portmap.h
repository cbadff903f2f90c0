// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMap>
#include <QString>

class QSettings;

// Which device each port number 1 to 4 stands for: a default /dev/ttySn-1,
// the device the operator chose in the port dialog (remembered between
// runs), or --port N=DEVICE, which wins for the run it is given to.
class PortMap {
public:
    static constexpr int FirstPort = 1;
    static constexpr int LastPort = 4;

    enum class Source { Default, Remembered, CommandLine };

    QString deviceFor(int number) const;
    Source sourceOf(int number) const;
    static QString defaultDeviceFor(int number);
    static QString sourceName(Source source);

    // --port N=DEVICE: this run only.
    void setDevice(int number, const QString& device) { m_given[number] = device; }
    // The operator's choice: it replaces a --port mapping for the rest of the run.
    void choose(int number, const QString& device);

    // The choices kept between runs, and the port number last confirmed (0
    // when none is kept).
    int loadRemembered(const QSettings& settings);
    static void remember(QSettings& settings, int number, const QString& device);
    static void rememberNumber(QSettings& settings, int number);
    bool anyRemembered() const { return !m_remembered.isEmpty(); }

private:
    QMap<int, QString> m_given;
    QMap<int, QString> m_remembered;
};
