// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The simulated sensor on a pseudo-terminal, and what the tests read off
// its byte log.
#include "core/portmap.h"
#include "sim/simsensor.h"

#include <QString>

// The sensor on its own thread; port 4 is mapped to it.
struct Line {
    sim::SimSensor sensor;
    PortMap ports;
    explicit Line(sim::SimOptions o = {}) : sensor(std::move(o))
    {
        std::string error;
        if (!sensor.start(&error))
            qFatal("simulator: %s", error.c_str());
        ports.setDevice(4, QString::fromStdString(sensor.devicePath()));
    }
    QString received() const { return QString::fromStdString(sensor.received()); }
};

// Every command but "F" waits until the reply to the one before it has
// completely left the sensor.
inline bool handshakeKept(const std::vector<sim::LogEntry>& log)
{
    bool replyDone = true;
    char last = 0;
    for (const sim::LogEntry& e : log) {
        if (!e.received) {
            replyDone = replyDone || e.byte == '\n' || (last == 'A' && e.byte == 'R');
        } else if (e.byte != '0') {
            // The initialisation is answered by nothing.
            if (!replyDone && !(e.byte == 'A' && last == 'F'))
                return false;
            replyDone = false;
            last = e.byte;
        }
    }
    return true;
}
