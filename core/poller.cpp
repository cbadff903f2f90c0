#include "core/poller.h"

#include "core/numberformat.h"

#include <QMetaObject>

#include <iterator>

Poller::Poller(SharedState& state, PollerHost& host, QObject* parent) : QObject(parent), m_state(state), m_host(host)
{
}

void Poller::startPolling()
{
    if (m_ended)
        return;
    if (!m_host.startEnabled()) {
        m_host.setWatchdog(false);
        m_host.message(QStringLiteral("Veltrak option has to be selected"), Prompter::Icon::None);
        return;
    }
    m_host.setWatchdog(true);
    m_cycles.push_back(Cycle {});
    // Run the start sequence as far as it goes now; if a reply is awaited,
    // the cycle starts when that reply is consumed.
    advance();
}

void Poller::sendInitialisation()
{
    if (m_ended)
        return;
    ++m_pendingInits;
    advance();
}

void Poller::watchdogTick()
{
    if (m_ended)
        return;
    if (!m_state.ReplySeen) {
        ++m_state.WaitCount;
        m_host.watchdogSilent(m_state.WaitCount);
        if (m_ended)
            return;
        m_host.setStatus(
            QStringLiteral(" Waiting ") + m_state.RxBuffer + numfmt::plainDecimal(double(m_state.WaitCount)));
        if (m_host.portOpen() && m_host.writeToPort("A")) {
            m_state.LastCommand = QStringLiteral("A");
        } else if (!m_host.portResetting() && !m_state.LastCommand.isEmpty()) {
            // No reply can arrive on a closed port: stop waiting, so that the
            // cycle's next write reports the failure instead of idling for ever.
            m_state.LastCommand.clear();
            replyConsumed();
        }
    }
    m_state.ReplySeen = false;
}

void Poller::replyConsumed()
{
    advance();
}

void Poller::end()
{
    m_ended = true;
    m_pendingInits = 0;
}

void Poller::reset()
{
    m_cycles.clear();
    m_pendingInits = 0;
}

void Poller::advance()
{
    if (m_advancing || m_ended)
        return;
    m_advancing = true;
    while (!m_ended && m_state.LastCommand.isEmpty() && !m_host.portResetting()) {
        if (m_pendingInits > 0) {
            // The menu's initialisation has no error path of its own: on a
            // closed or failing port it is skipped.
            --m_pendingInits;
            if (m_host.portOpen() && m_host.writeToPort("F")) {
                m_state.LastCommand = QStringLiteral("F");
                m_host.writeToPort("00000000");
            }
            continue;
        }
        if (m_cycles.empty() || m_cycles.back().failing)
            break;
        if (!runStep(m_cycles.back())) {
            m_cycles.back().failing = true;
            m_host.setWatchdog(false);
            QMetaObject::invokeMethod(this, &Poller::reportFailure, Qt::QueuedConnection);
        }
    }
    m_advancing = false;
}

bool Poller::send(const char* bytes)
{
    return m_host.writeToPort(QByteArray(bytes));
}

// Write, then mark: the letter is recorded only after it went out, and no
// event runs in between.
bool Poller::runStep(Cycle& cycle)
{
    switch (cycle.next) {
    case Step::Init:
        if (!send("F"))
            return false;
        m_state.LastCommand = QStringLiteral("F");
        if (!send("00000000") || !send("A"))
            return false;
        m_state.LastCommand = QStringLiteral("A");
        cycle.next = Step::B;
        return true;
    case Step::B:
        if (!send("B"))
            return false;
        m_state.LastCommand = QStringLiteral("B");
        cycle.next = Step::C;
        return true;
    case Step::C:
        if (!send("C"))
            return false;
        m_state.LastCommand = QStringLiteral("C");
        cycle.next = Step::D;
        return true;
    case Step::D:
        if (!send("D"))
            return false;
        m_state.LastCommand = QStringLiteral("D");
        cycle.next = Step::B;
        return true;
    }
    return false;
}

void Poller::reportFailure()
{
    if (m_ended)
        return;
    // The box runs a nested event loop; the failing cycle blocks the ones
    // beneath it until the operator has closed it.
    m_host.message(QStringLiteral("Error RS232"), Prompter::Icon::Critical);
    for (auto it = m_cycles.rbegin(); it != m_cycles.rend(); ++it) {
        if (it->failing) {
            m_cycles.erase(std::next(it).base());
            break;
        }
    }
    advance(); // the cycle beneath, if any, resumes its wait
}
