// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/publishqueue.h"

#include <algorithm>
#include <vector>

void PublishQueue::add(Message message)
{
    if (m_closed) {
        ++droppedOf(message);
        return;
    }
    message.order = m_nextOrder++;
    queueOf(message).push_back(std::move(message));
    trim();
}

std::optional<PublishQueue::Message> PublishQueue::takeNext()
{
    if (m_inFlight.size() >= static_cast<size_t>(m_limits.inFlight))
        return std::nullopt;
    // The older of the two heads: the order in which they were given.
    const bool event = !m_events.empty() && (m_readings.empty() || m_events.front().order < m_readings.front().order);
    std::deque<Message>& queue = event ? m_events : m_readings;
    if (queue.empty())
        return std::nullopt;
    Message message = std::move(queue.front());
    queue.pop_front();
    return message;
}

void PublishQueue::giveBack(Message message)
{
    queueOf(message).push_front(std::move(message));
}

void PublishQueue::handedOver(int id, Message message)
{
    m_inFlight.insert_or_assign(id, std::move(message));
}

void PublishQueue::dropUnsendable(const Message& message)
{
    ++droppedOf(message);
}

bool PublishQueue::confirm(int id)
{
    if (!m_inFlight.erase(id))
        return false;
    ++m_published;
    return true;
}

void PublishQueue::connectionLost()
{
    std::vector<Message> unsent;
    for (auto it = m_inFlight.begin(); it != m_inFlight.end();) {
        if (it->second.qos == 0) {
            unsent.push_back(std::move(it->second));
            it = m_inFlight.erase(it);
        } else {
            ++it;
        }
    }
    // Newest first onto the heads, so the oldest ends up in front.
    std::sort(unsent.begin(), unsent.end(), [](const Message& a, const Message& b) { return a.order > b.order; });
    for (Message& message : unsent)
        queueOf(message).push_front(std::move(message));
    trim();
}

void PublishQueue::dropWaiting()
{
    m_dropped += m_readings.size();
    m_droppedEvents += m_events.size();
    m_readings.clear();
    m_events.clear();
}

PublishQueue::Counters PublishQueue::counters() const
{
    return Counters {m_published, m_dropped, m_droppedEvents, m_readings.size() + m_events.size(), m_inFlight.size()};
}

quint64 PublishQueue::takeDroppedSinceReport()
{
    const quint64 total = m_dropped + m_droppedEvents;
    const quint64 since = total - m_droppedReported;
    m_droppedReported = total;
    return since;
}

void PublishQueue::trim()
{
    for (const bool events : {false, true}) {
        std::deque<Message>& queue = events ? m_events : m_readings;
        const auto limit = static_cast<size_t>(events ? m_limits.events : m_limits.readings);
        for (; queue.size() > limit; queue.pop_front())
            ++(events ? m_droppedEvents : m_dropped);
    }
}
