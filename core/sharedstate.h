#pragma once

#include <QString>
#include <QtGlobal>

// The run's shared state. One instance lives for the whole run (the main
// window owns it); every subsystem reads and writes these fields by name.
// Everything runs on the one GUI thread, so there is no locking.
struct SharedState {
    QString LastCommand; // letter whose reply is awaited; "" = nothing awaited
    QString RxBuffer; // characters of the reply being gathered
    bool ReplySeen = false; // a pitch/roll reply (or a port reset) since the last watchdog tick
    qint64 WaitCount = 0; // watchdog ticks without a reply; wide so it never wraps
    double PitchOffset = -2048.0;
    double RollOffset = -2048.0;
    double CoefX1 = 1.0;
    double CoefX2 = 0.0;
    double CoefX3 = 0.0;
    double ZeroReference = 130.0; // centred pitch count at which thickness reads zero
    double LastReading = 0.0; // last centred pitch count shown as an angle
};
