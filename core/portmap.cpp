#include "core/portmap.h"

QString PortMap::deviceFor(int number) const
{
    const auto it = m_overrides.constFind(number);
    return it != m_overrides.constEnd() ? *it : defaultDeviceFor(number);
}

QString PortMap::defaultDeviceFor(int number)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}
