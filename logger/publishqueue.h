// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <deque>
#include <map>
#include <optional>

// What the publisher owes the broker, as a value: the messages waiting, those
// handed over and not yet confirmed, and what was dropped. It does no I/O and
// takes no lock; the publisher guards it with its own.
//
// Messages leave in the order they were given. Readings and events (alarm
// transitions, states) wait in separate queues: a full reading queue drops
// its oldest reading, since the newest matter most to whoever watches the
// sensor, but never an event: a lost alarm would leave a subscriber
// believing the wrong state. Events have a bound of their own, far above what
// an outage brings, so that only an alarm flapping for hours drops events,
// the oldest first.
class PublishQueue {
public:
    struct Message {
        quint64 order = 0; // given by add(): the place among all messages
        bool event = false;
        int qos = 0;
        bool retain = false;
        QByteArray topic;
        QByteArray payload;
    };

    struct Limits {
        int readings = 10000;
        int events = 1000;
        int inFlight = 32; // handed over and not yet confirmed
    };

    struct Counters {
        quint64 published = 0; // confirmed
        quint64 dropped = 0; // readings pushed out, unsendable, or refused once closed
        quint64 droppedEvents = 0; // events alike
        quint64 queued = 0; // waiting, not yet handed over
        quint64 inFlight = 0;
    };

    explicit PublishQueue(Limits limits) : m_limits(limits) { }

    // Queues the message behind all others, pushing out the oldest of its
    // kind when full; counted as dropped instead while closed.
    void add(Message message);
    // The oldest waiting message, taken out, while fewer than the limit are
    // in flight; nothing otherwise.
    std::optional<Message> takeNext();
    // The message taken could not be handed over yet: first again.
    void giveBack(Message message);
    // Handed over under this id; in flight until confirmed or lost.
    void handedOver(int id, Message message);
    // The message taken can never be sent (too big, say): counted, gone.
    void dropUnsendable(const Message& message);
    // True when `id` was in flight: it counts as published.
    bool confirm(int id);
    // The connection is gone. Messages of QoS 0 in flight went with it and
    // wait again at the head of their queues, in their order; those of QoS 1
    // stay in flight, since the client library sends them again itself after
    // the reconnect.
    void connectionLost();
    // No new messages while closed (those waiting may still leave); open()
    // takes them again.
    void close() { m_closed = true; }
    void open() { m_closed = false; }
    // Whatever waits counts as dropped: the publisher gives up on it.
    void dropWaiting();
    // What is in flight is forgotten with the client that held it.
    void forgetInFlight() { m_inFlight.clear(); }

    bool isEmpty() const { return m_readings.empty() && m_events.empty() && m_inFlight.empty(); }
    Counters counters() const;
    // Readings and events dropped since the previous call: what an outage
    // cost, told when the broker is back.
    quint64 takeDroppedSinceReport();

private:
    std::deque<Message>& queueOf(const Message& message) { return message.event ? m_events : m_readings; }
    quint64& droppedOf(const Message& message) { return message.event ? m_droppedEvents : m_dropped; }
    void trim();

    const Limits m_limits;
    std::deque<Message> m_readings, m_events;
    std::map<int, Message> m_inFlight; // by the client library's message id
    quint64 m_nextOrder = 0;
    quint64 m_published = 0, m_dropped = 0, m_droppedEvents = 0;
    quint64 m_droppedReported = 0;
    bool m_closed = false;
};
