#pragma once

#include "core/prompter.h"
#include "core/sharedstate.h"

#include <QByteArray>
#include <QObject>

#include <vector>

// What the poller needs of the main window and its serial port.
class PollerHost {
public:
    virtual ~PollerHost() = default;
    virtual bool startEnabled() const = 0;
    virtual bool portOpen() const = 0;
    virtual bool portResetting() const = 0; // the decoder has closed the port for a moment
    virtual bool writeToPort(const QByteArray& bytes) = 0; // false: closed or failed
    virtual void setWatchdog(bool on) = 0;
    virtual void setStatus(const QString& text) = 0;
    virtual void message(const QString& text, Prompter::Icon icon) = 0;
    virtual void watchdogSilent(qint64 ticks) = 0; // a tick found no reply since the last one
};

// The sending side of the protocol as an explicit state machine on the event
// loop. A command goes out when nothing is awaited (LastCommand == "") and
// the port is not being reset; the decoder clears LastCommand and the link
// calls replyConsumed() once the
// decoder has returned, which sends the next command at once. Nothing here
// waits or pumps events, so a silent sensor costs no CPU. A failed write
// ends the cycle through "Error RS232", shown from a fresh event rather than
// from inside the serial handler that found the failure.
//
// A press of Start while a cycle runs pushes a new cycle that drives the line;
// the one beneath resumes only when the newer one fails (after its "Error
// RS232" box is closed), which is how the nested original behaved.
class Poller : public QObject {
    Q_OBJECT
public:
    enum class Step { Init, B, C, D };

    Poller(SharedState& state, PollerHost& host, QObject* parent = nullptr);

    void startPolling();
    void sendInitialisation();
    void watchdogTick();

    // LastCommand may have become "": send what comes next.
    void replyConsumed();
    // Shutdown: from now on nothing is written and no box is shown.
    void end();
    // Forget every cycle and pending initialisation (the link starts over).
    void reset();

    int cycleDepth() const { return static_cast<int>(m_cycles.size()); }

private:
    struct Cycle {
        Step next = Step::Init;
        bool failing = false;
    };

    void advance();
    bool runStep(Cycle& cycle);
    bool send(const char* bytes);
    void reportFailure();

    SharedState& m_state;
    PollerHost& m_host;
    std::vector<Cycle> m_cycles;
    int m_pendingInits = 0;
    bool m_advancing = false;
    bool m_ended = false;
};
