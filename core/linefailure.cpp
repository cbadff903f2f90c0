// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/linefailure.h"

QString describeOpenFailure(const LineFailure& failure)
{
    switch (failure.kind) {
    case LineFailure::Kind::InUse:
        return QStringLiteral("%1: the device is in use by another program").arg(failure.device);
    case LineFailure::Kind::SettingsRefused:
    case LineFailure::Kind::NotOpen:
        return failure.reason;
    case LineFailure::Kind::NoPermission:
        if (!failure.group.isEmpty())
            return QStringLiteral("%1: %2\nYour user must be a member of the group '%3' that owns %1.")
                .arg(failure.device, failure.reason, failure.group);
        break;
    case LineFailure::Kind::OpenFailed:
    case LineFailure::Kind::Broken:
        break;
    }
    return QStringLiteral("%1: %2").arg(failure.device, failure.reason);
}
