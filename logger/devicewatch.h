// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/backoff.h"
#include "core/reading.h"

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <optional>

// The life of the logger's device as a value, like the poller: it takes what
// happened (opened, a valid reply, a complete cycle, a failure, a wake-up)
// with the monotonic time, and returns what to do; it calls nobody back and
// sets no timer. The logger carries out the actions and arms one timer for
// `wakeAt`.
//
// The device counts as lost when the link fails, or when no complete
// well-formed cycle came for lostAfter while polling: a sensor that answers
// two letters but never the third is as useless as a silent one, and the
// loss names the letter that goes unanswered. With a sample period the line
// is held quiet between samples, and a quiet gap is never a silence.
class DeviceWatch {
public:
    enum class State { Starting, Up, Lost, Reopened };
    struct Settings {
        qint64 lostAfterMs = 5000;
        std::optional<qint64> sampleEveryMs; // none: poll continuously
    };
    struct Actions {
        bool open = false; // open the device and poll; answer with opened() or openFailed()
        bool close = false; // the device is lost: stop polling, close it
        std::optional<bool> hold; // hold the line quiet (true) or poll again (false)
        QString announce; // an event line, when not empty ("device lost: ...")
        bool back = false; // an announced loss is over: "device back"
        std::optional<bool> sensorUp; // the sensor's state for subscribers changed
        std::optional<qint64> wakeAt; // call timeout() then (replaces an earlier wake)
        friend bool operator==(const Actions&, const Actions&) = default;
    };

    explicit DeviceWatch(Settings settings) : m_settings(settings) { }

    Actions start(qint64 now);
    Actions opened(qint64 now);
    Actions openFailed(qint64 now, const QString& reason);
    Actions reply(qint64 now, Quantity quantity); // a well-formed reply
    Actions cycle(qint64 now); // a complete well-formed cycle
    Actions failed(qint64 now, const QString& reason); // the link failed (write error, device gone)
    Actions timeout(qint64 now);

    State state() const { return m_state; }
    bool held() const { return m_held; }
    quint64 losses() const { return m_losses; }

private:
    Actions lose(qint64 now, const QString& reason);
    QString silence(qint64 now) const;

    Settings m_settings;
    State m_state = State::Starting;
    bool m_opening = false; // an open() asked for and not yet answered
    bool m_announced = false; // a loss was announced and the device is not back yet
    bool m_held = false;
    qint64 m_lastCycle = 0; // or the time polling (re)started
    std::array<qint64, 3> m_lastReply {}; // per quantity, the same
    qint64 m_nextSample = 0;
    quint64 m_losses = 0;
    Backoff m_backoff;
};
