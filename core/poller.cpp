// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/poller.h"

Poller::Actions Poller::start(bool modelChosen, bool held)
{
    if (!modelChosen)
        return {{Action::StopWatchdog}, {Action::NoModel}};
    m_cycles.push_back(Cycle {});
    // The start sequence runs as far as it goes now; if a reply is awaited,
    // the cycle starts when that reply is consumed.
    Actions actions {{Action::ArmWatchdog}};
    for (Action& a : advance(held))
        actions.push_back(std::move(a));
    return actions;
}

Poller::Actions Poller::initialise(bool held)
{
    ++m_pendingInits;
    return advance(held);
}

Poller::Actions Poller::watchdogTick(bool open, bool held)
{
    if (m_seen) {
        m_seen = false;
        return {};
    }
    ++m_waitCount;
    Actions actions {{Action::Silent, {}, m_waitCount}};
    // Asked again; on a closed port no reply can come, so the wait ends and
    // the cycle's next write reports the failure instead of idling for ever.
    for (Action& a : open ? write(Pending::WatchdogA, "A") : giveUpWaiting(held))
        actions.push_back(std::move(a));
    return actions;
}

Poller::Actions Poller::replyConsumed(bool seen, bool held)
{
    m_seen = m_seen || seen;
    m_awaited = 0;
    return advance(held);
}

Poller::Actions Poller::resume(bool held)
{
    return advance(held);
}

Poller::Actions Poller::giveUpWaiting(bool held)
{
    if (held || m_awaited == 0)
        return {};
    m_awaited = 0;
    return advance(held);
}

Poller::Actions Poller::written(bool ok, bool held)
{
    const Pending what = m_pending;
    m_pending = Pending::None;
    // The letter is recorded only after it went out.
    auto failed = [this, held] {
        m_cycles.back().failing = true;
        Actions actions {{Action::StopWatchdog}, {Action::ReportLater}};
        for (Action& a : advance(held))
            actions.push_back(std::move(a));
        return actions;
    };
    switch (what) {
    case Pending::InitF:
        if (!ok)
            return failed();
        m_awaited = 'F';
        return write(Pending::InitZeros, "00000000");
    case Pending::InitZeros:
        return ok ? write(Pending::InitA, "A") : failed();
    case Pending::InitA:
    case Pending::Command:
        if (!ok)
            return failed();
        m_awaited = m_sending;
        m_cycles.back().next = m_sending == 'A' ? Step::B
            : m_sending == 'B'                  ? Step::C
            : m_sending == 'C'                  ? Step::D
                                                : Step::B;
        return advance(held);
    case Pending::MenuF:
        // The menu's initialisation has no error path of its own: on a
        // closed or failing port it is skipped.
        if (!ok)
            return advance(held);
        m_awaited = 'F';
        return write(Pending::MenuZeros, "00000000");
    case Pending::MenuZeros:
        return advance(held);
    case Pending::WatchdogA:
        if (ok) {
            m_awaited = 'A';
            return {};
        }
        return giveUpWaiting(held);
    case Pending::None:
        break;
    }
    return {};
}

Poller::Actions Poller::failureDue()
{
    return {{Action::LineFailed}};
}

Poller::Actions Poller::failureReported(bool held)
{
    for (auto it = m_cycles.rbegin(); it != m_cycles.rend(); ++it) {
        if (it->failing) {
            m_cycles.erase(std::next(it).base());
            break;
        }
    }
    return advance(held); // the cycle beneath, if any, resumes its wait
}

void Poller::reset()
{
    m_cycles.clear();
    m_pendingInits = 0;
    m_awaited = 0;
    m_sending = 0;
    m_pending = Pending::None;
    m_seen = false;
    m_waitCount = 0;
}

Poller::Actions Poller::advance(bool held)
{
    if (held || m_awaited != 0)
        return {};
    if (m_pendingInits > 0) {
        --m_pendingInits;
        return write(Pending::MenuF, "F");
    }
    if (m_cycles.empty() || m_cycles.back().failing)
        return {};
    switch (m_cycles.back().next) {
    case Step::Init:
        return write(Pending::InitF, "F");
    case Step::B:
        m_sending = 'B';
        break;
    case Step::C:
        m_sending = 'C';
        break;
    case Step::D:
        m_sending = 'D';
        break;
    }
    return write(Pending::Command, m_sending == 'B' ? "B" : m_sending == 'C' ? "C" : "D");
}

Poller::Actions Poller::write(Pending what, const char* bytes)
{
    m_pending = what;
    if (what == Pending::InitA)
        m_sending = 'A';
    return {{Action::Write, QByteArray(bytes)}};
}
