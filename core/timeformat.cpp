// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/timeformat.h"

#include <QDateTime>

namespace timefmt {

QString isoUtc(qint64 msSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch, Qt::UTC).toString(Qt::ISODateWithMs);
}

} // namespace timefmt
