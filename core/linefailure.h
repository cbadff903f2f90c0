// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Why the serial line could not be opened or stopped working, as a value the
// link hands out: what happened, to which device, and the system's reason
// ("No such file or directory"). The window and the logger word it.
struct LineFailure {
    enum class Kind {
        OpenFailed, // the device could not be opened (missing, not a tty...)
        NoPermission, // the user may not open it; `group` owns it when known
        InUse, // another program holds it (its lock)
        SettingsRefused, // the driver refused the line format
        Broken, // a read, write or resource error on an open line
        NotOpen, // a write while the line is closed
    };
    Kind kind = Kind::OpenFailed;
    QString device;
    QString reason;
    QString group;

    friend bool operator==(const LineFailure&, const LineFailure&) = default;
};

// The operator's text of a failure to open or configure the line: the device
// and the reason, with the group to join when a permission is missing.
QString describeOpenFailure(const LineFailure& failure);
