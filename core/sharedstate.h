#pragma once

#include <QString>
#include <QtGlobal>

// The protocol state the poller and the decoder share. One instance lives in
// the sensor link; everything runs on one thread, so there is no locking.
struct SharedState {
    QString LastCommand; // letter whose reply is awaited; "" = nothing awaited
    QString RxBuffer; // characters of the reply being gathered
    bool ReplySeen = false; // a pitch/roll reply (or a port reset) since the last watchdog tick
    qint64 WaitCount = 0; // watchdog ticks without a reply; wide so it never wraps
    double LastReading = 0.0; // last centred pitch count shown as an angle
};
