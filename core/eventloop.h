// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>

// Chooses Qt's own poll() loop over GLib's; call before the
// application object exists. Every character from the sensor wakes the loop,
// and GLib's prepare/check/dispatch round costs about a fifth of the
// program's CPU against a sensor at its real line rate. The program uses no
// native dialogs and no GTK integration that would need GLib's loop. A
// QT_NO_GLIB already in the environment is left as the operator set it.
inline void preferLeanEventLoop()
{
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", QByteArrayLiteral("1"));
}
