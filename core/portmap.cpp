#include "core/portmap.h"

QString PortMap::deviceFor(int number) const
{
    const auto it = m_overrides.constFind(number);
    return it != m_overrides.constEnd() ? *it : defaultDeviceFor(number);
}

QString PortMap::defaultDeviceFor(int number)
{
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}
