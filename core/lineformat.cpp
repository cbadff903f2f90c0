// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/lineformat.h"

QString LineFormat::toText() const
{
    return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(parity).arg(dataBits).arg(stopBits);
}
