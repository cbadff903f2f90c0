// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <vector>

// The sending side of the protocol as a state machine that takes events and
// returns what to do next; it does no I/O and calls nobody back. The link
// performs the actions in order and reports each write's outcome, which may
// bring more actions.
//
// A command goes out when nothing is awaited; the link tells the poller when
// the decoder has consumed the awaited reply, and the next command goes out
// at once. A failed write ends the cycle with a "line failed" report, given
// from a fresh event rather than from inside the handler that found it. A
// watchdog tick without a sign of life since the last one asks the sensor
// again with "A".
//
// A press of Start while a cycle runs pushes a new cycle that drives the
// line; the one beneath resumes only when the newer one fails (after its
// failure has been reported), which is how the nested original behaved.
class Poller {
public:
    struct Action {
        enum Kind {
            Write, // `bytes`; report the outcome with written()
            ArmWatchdog,
            StopWatchdog,
            Silent, // a watchdog tick found no sign of life; `ticks` in a row
            ReportLater, // call failureDue() from a fresh event
            NoModel, // start refused: no sensor model chosen
            LineFailed, // the cycle's write failed ("Error RS232")
        };
        Kind kind;
        QByteArray bytes = {};
        qint64 ticks = 0;
        friend bool operator==(const Action&, const Action&) = default;
    };
    using Actions = std::vector<Action>;

    Actions start(bool modelChosen, bool held);
    Actions initialise(bool held); // the menu's initialisation, once
    // `open`: the port is open; `held`: nothing may be written now (a port
    // being reset, a line left quiet between samples).
    Actions watchdogTick(bool open, bool held);
    Actions replyConsumed(bool seen, bool held);
    Actions written(bool ok, bool held);
    Actions failureDue(); // the report asked for by ReportLater
    Actions failureReported(bool held); // the cycle beneath, if any, resumes
    Actions resume(bool held); // no longer held: what waited goes out
    // Forget every cycle, what is awaited and the watchdog's count.
    void reset();

    char awaited() const { return m_awaited; } // 0: nothing
    qint64 silentTicks() const { return m_waitCount; }
    int cycleDepth() const { return static_cast<int>(m_cycles.size()); }

private:
    enum class Step { Init, B, C, D };
    struct Cycle {
        Step next = Step::Init;
        bool failing = false;
    };
    // What the write in flight was for.
    enum class Pending { None, InitF, InitZeros, InitA, Command, MenuF, MenuZeros, WatchdogA };

    Actions advance(bool held);
    Actions write(Pending what, const char* bytes);
    Actions giveUpWaiting(bool held);

    std::vector<Cycle> m_cycles;
    int m_pendingInits = 0;
    char m_awaited = 0;
    char m_sending = 0; // the command of the write in flight
    Pending m_pending = Pending::None;
    bool m_seen = false; // a sign of life since the last watchdog tick
    qint64 m_waitCount = 0; // ticks without one, wide so it never wraps
};
