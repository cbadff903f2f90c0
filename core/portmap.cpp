// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/portmap.h"

#include <QSettings>

namespace {
QString deviceKey(int number)
{
    return QStringLiteral("ports/device%1").arg(number);
}
const QString NumberKey = QStringLiteral("ports/number");
} // namespace

QString PortMap::deviceFor(int number) const
{
    if (const auto it = m_given.constFind(number); it != m_given.constEnd())
        return *it;
    if (const auto it = m_remembered.constFind(number); it != m_remembered.constEnd())
        return *it;
    return defaultDeviceFor(number);
}

PortMap::Source PortMap::sourceOf(int number) const
{
    return m_given.contains(number)     ? Source::CommandLine
        : m_remembered.contains(number) ? Source::Remembered
                                        : Source::Default;
}

QString PortMap::defaultDeviceFor(int number)
{
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

QString PortMap::sourceName(Source source)
{
    switch (source) {
    case Source::Remembered:
        return QStringLiteral("remembered");
    case Source::CommandLine:
        return QStringLiteral("--port");
    case Source::Default:
        break;
    }
    return QStringLiteral("default");
}

void PortMap::choose(int number, const QString& device)
{
    m_given.remove(number);
    m_remembered[number] = device;
}

int PortMap::loadRemembered(const QSettings& settings)
{
    for (int n = FirstPort; n <= LastPort; ++n) {
        // A hand-edited file may hold anything: only a non-empty text counts.
        const QString device = settings.value(deviceKey(n)).toString();
        if (!device.isEmpty())
            m_remembered[n] = device;
    }
    bool ok = false;
    const int number = settings.value(NumberKey).toInt(&ok);
    return ok && number >= FirstPort && number <= LastPort ? number : 0;
}

void PortMap::remember(QSettings& settings, int number, const QString& device)
{
    settings.setValue(deviceKey(number), device);
}

void PortMap::rememberNumber(QSettings& settings, int number)
{
    settings.setValue(NumberKey, number);
}
