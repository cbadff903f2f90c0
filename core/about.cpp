// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/about.h"

#include <QStringList>

namespace about {

QString text()
{
    const QStringList lines = {
        MakerName,
        QStringLiteral("14 Larkspur Yard"),
        QStringLiteral(" Tallowmere, Westreach 30417, Freeland"),
        QStringLiteral("Tel. +99 555 0147"),
        QStringLiteral("www.brindlewood-tilt.example"),
        QStringLiteral("Rev " VELTRAK_REVISION),
    };
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace about
