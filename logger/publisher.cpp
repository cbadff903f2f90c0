#include "logger/publisher.h"

#include <QJsonDocument>
#include <QMetaObject>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const QByteArray Online = QByteArrayLiteral("online");
const QByteArray Offline = QByteArrayLiteral("offline");

// libmosquitto wants exactly one init and one cleanup per process, whatever
// the number of publishers.
void ensureLibrary()
{
    struct Library {
        Library() { mosquitto_lib_init(); }
        ~Library() { mosquitto_lib_cleanup(); }
    };
    static Library library;
}

QString refusalText(int code)
{
    const QString refused = QStringLiteral("the broker refused the connection: ");
    switch (code) {
    case 1:
        return refused + QStringLiteral("unacceptable protocol version");
    case 2:
        return refused + QStringLiteral("client id rejected");
    case 3:
        return refused + QStringLiteral("server unavailable");
    case 4:
        return refused + QStringLiteral("bad user name or password");
    case 5:
        return refused + QStringLiteral("not authorised");
    default:
        return refused + QStringLiteral("code %1").arg(code);
    }
}

QString lossText(int rc, int savedErrno, const QString& host)
{
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return savedErrno ? QString::fromLocal8Bit(std::strerror(savedErrno)) : QStringLiteral("network error");
    case MOSQ_ERR_EAI:
        return QStringLiteral("cannot resolve %1: %2").arg(host, QString::fromLocal8Bit(gai_strerror(savedErrno)));
    case MOSQ_ERR_CONN_LOST:
        return QStringLiteral("the broker closed the connection");
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("the broker stopped answering");
    case MOSQ_ERR_TLS:
        return QStringLiteral("TLS failed (certificate or handshake)");
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_SUCCESS:
        return QStringLiteral("connection closed");
    default:
        return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

bool validTopicLevel(const QString& level)
{
    return !level.isEmpty() && !level.contains(QLatin1Char('+')) && !level.contains(QLatin1Char('#'))
        && !level.contains(QChar(0));
}
} // namespace

Publisher::Publisher(Settings settings, QObject* parent)
    : QObject(parent),
      m_settings(std::move(settings)),
      m_readingTopic(topic("reading").toUtf8()),
      m_alarmTopic(topic("alarm").toUtf8()),
      m_statusTopic(topic("status").toUtf8())
{
    ensureLibrary();
}

Publisher::~Publisher()
{
    stop();
}

std::optional<QString> Publisher::checkSecurity(const Settings& settings)
{
    if (!settings.password.isEmpty() && settings.caFile.isEmpty() && !settings.insecure)
        return QStringLiteral("refusing to send the MQTT password without TLS: give --mqtt-cafile, or "
                              "--mqtt-insecure to allow it");
    return std::nullopt;
}

QString Publisher::topic(const char* leaf) const
{
    return m_settings.topicPrefix + QLatin1Char('/') + m_settings.sensorId + QLatin1Char('/') + QLatin1String(leaf);
}

std::optional<QString> Publisher::start()
{
    if (m_mosq)
        return QStringLiteral("the publisher is already started");
    const Settings& s = m_settings;
    if (!validTopicLevel(s.topicPrefix))
        return QStringLiteral("the MQTT topic prefix must not be empty nor contain + or #");
    if (!validTopicLevel(s.sensorId) || s.sensorId.contains(QLatin1Char('/')))
        return QStringLiteral("the sensor id must not be empty nor contain /, + or #");
    if (s.host.isEmpty() || s.port < 1 || s.port > 65535)
        return QStringLiteral("the MQTT broker needs a host and a port between 1 and 65535");
    if (s.qos < 0 || s.qos > 1)
        return QStringLiteral("the MQTT QoS must be 0 or 1");
    if (s.queueSize < 1 || s.maxInFlight < 1 || s.reconnectMinMs < 1 || s.reconnectMaxMs < s.reconnectMinMs)
        return QStringLiteral("the MQTT queue, in-flight and reconnect limits must be positive");
    if (s.keepAliveSeconds < 5 || s.keepAliveSeconds > 65535)
        return QStringLiteral("the MQTT keepalive must be between 5 and 65535 seconds");
    if (auto refusal = checkSecurity(s))
        return refusal;

    const QByteArray clientId = (s.clientId.isEmpty() ? QStringLiteral("veltrak-") + s.sensorId : s.clientId).toUtf8();
    mosquitto* mosq = mosquitto_new(clientId.constData(), true, this);
    if (!mosq)
        return QStringLiteral("cannot create the MQTT client: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    auto fail = [mosq](const QString& text) {
        mosquitto_destroy(mosq);
        return std::optional<QString>(text);
    };
    // The network thread is ours, not libmosquitto's; without this a publish
    // from the caller's thread would write to the socket itself.
    mosquitto_threaded_set(mosq, true);
    // A little above our own limit, so the status messages never wait inside
    // libmosquitto behind readings.
    mosquitto_max_inflight_messages_set(mosq, static_cast<unsigned>(s.maxInFlight) + 2);
    if (!s.user.isEmpty()) {
        const QByteArray user = s.user.toUtf8(), password = s.password.toUtf8();
        if (mosquitto_username_pw_set(mosq, user.constData(), s.password.isEmpty() ? nullptr : password.constData()))
            return fail(QStringLiteral("the MQTT user name or password is not valid UTF-8"));
    }
    if (!s.caFile.isEmpty()) {
        const QByteArray caFile = s.caFile.toLocal8Bit();
        if (mosquitto_tls_set(mosq, caFile.constData(), nullptr, nullptr, nullptr, nullptr))
            return fail(QStringLiteral("cannot use the CA file %1").arg(s.caFile));
    }
    if (mosquitto_will_set(mosq, m_statusTopic.constData(), int(Offline.size()), Offline.constData(), 1, true))
        return fail(QStringLiteral("cannot set the MQTT last will on %1").arg(QString::fromUtf8(m_statusTopic)));
    mosquitto_connect_callback_set(mosq, &Publisher::onConnect);
    mosquitto_disconnect_callback_set(mosq, &Publisher::onDisconnect);
    mosquitto_publish_callback_set(mosq, &Publisher::onPublish);

    {
        std::lock_guard lock(m_mutex);
        m_mosq = mosq;
        m_stopping = m_quit = m_threadDone = m_offlineConfirmed = false;
        m_offlineMid = -1;
    }
    m_thread = std::thread(&Publisher::run, this);
    return std::nullopt;
}

void Publisher::publishReading(const QByteArray& json)
{
    enqueue(false, json);
}

void Publisher::publishReading(const QJsonObject& reading)
{
    enqueue(false, QJsonDocument(reading).toJson(QJsonDocument::Compact));
}

void Publisher::publishAlarm(const QByteArray& json)
{
    enqueue(true, json);
}

void Publisher::publishAlarm(const QJsonObject& alarm)
{
    enqueue(true, QJsonDocument(alarm).toJson(QJsonDocument::Compact));
}

Publisher::Counters Publisher::counters() const
{
    std::lock_guard lock(m_mutex);
    Counters c = m_counters;
    c.queued = m_queue.size();
    c.inFlight = m_inFlight.size();
    return c;
}

bool Publisher::isConnected() const
{
    std::lock_guard lock(m_mutex);
    return m_connected;
}

void Publisher::enqueue(bool alarm, const QByteArray& payload)
{
    std::lock_guard lock(m_mutex);
    if (m_stopping) {
        ++m_counters.dropped;
        return;
    }
    if (m_queue.size() >= static_cast<size_t>(m_settings.queueSize)) {
        m_queue.pop_front();
        ++m_counters.dropped;
    }
    m_queue.push_back(Message {m_nextSeq++, alarm, alarm ? 1 : m_settings.qos, payload});
    pumpLocked();
}

void Publisher::pumpLocked()
{
    while (m_connected && !m_queue.empty() && m_inFlight.size() < static_cast<size_t>(m_settings.maxInFlight)) {
        Message message = std::move(m_queue.front());
        m_queue.pop_front();
        if (!handOverLocked(message)) {
            m_queue.push_front(std::move(message));
            return;
        }
    }
}

bool Publisher::handOverLocked(Message& message)
{
    const QByteArray& topicName = message.alarm ? m_alarmTopic : m_readingTopic;
    int mid = 0;
    const int rc = mosquitto_publish(m_mosq, &mid, topicName.constData(), int(message.payload.size()),
        message.payload.constData(), message.qos, false);
    // A QoS 1 message stays with libmosquitto even when the socket has just
    // gone, and is sent again after the reconnect.
    if (rc == MOSQ_ERR_SUCCESS || (rc == MOSQ_ERR_NO_CONN && message.qos > 0)) {
        m_inFlight.emplace(mid, std::move(message));
        return true;
    }
    if (rc == MOSQ_ERR_NO_CONN)
        return false;
    // Too big or otherwise unsendable: retrying would block the queue forever.
    ++m_counters.dropped;
    return true;
}

void Publisher::run()
{
    const QByteArray host = m_settings.host.toUtf8();
    int delayMs = m_settings.reconnectMinMs;
    bool socketOpen = false;
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_quit || (m_stopping && !socketOpen))
                break;
        }
        int rc = MOSQ_ERR_SUCCESS;
        int savedErrno = 0;
        if (!socketOpen) {
            {
                std::lock_guard lock(m_mutex);
                ++m_counters.connectAttempts;
                m_refusal.clear();
                m_closeRc = MOSQ_ERR_SUCCESS;
            }
            errno = 0;
            rc = mosquitto_connect_async(m_mosq, host.constData(), m_settings.port, m_settings.keepAliveSeconds);
            savedErrno = errno;
            socketOpen = rc == MOSQ_ERR_SUCCESS;
        }
        if (socketOpen) {
            errno = 0;
            // Every publish and stop() wakes the wait, so it need not be
            // shorter than the keepalive.
            rc = mosquitto_loop(m_mosq, m_settings.keepAliveSeconds * 1000, 1);
            savedErrno = errno;
            if (m_connackOk && mosquitto_socket(m_mosq) >= 0) {
                // Only now, after libmosquitto has re-sent what was unconfirmed
                // on the previous connection, may newer messages follow.
                delayMs = m_settings.reconnectMinMs;
                {
                    std::lock_guard lock(m_mutex);
                    m_connected = true;
                    mosquitto_publish(
                        m_mosq, nullptr, m_statusTopic.constData(), int(Online.size()), Online.constData(), 1, true);
                    pumpLocked();
                }
                report(true, QString(), false);
            }
            m_connackOk = false;
            if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(m_mosq) >= 0)
                continue;
            socketOpen = false;
        }
        connectionLost(rc, savedErrno);
        std::unique_lock lock(m_mutex);
        if (m_changed.wait_for(lock, milliseconds(delayMs), [this] { return m_quit || m_stopping; }))
            continue;
        delayMs = std::min(delayMs * 2, m_settings.reconnectMaxMs);
    }
    std::lock_guard lock(m_mutex);
    m_connected = false;
    m_threadDone = true;
    m_changed.notify_all();
}

void Publisher::connectionLost(int rc, int savedErrno)
{
    QString reason;
    bool authentication = false;
    {
        std::lock_guard lock(m_mutex);
        m_connected = false;
        // libmosquitto discards unwritten QoS 0 packets with the connection;
        // they go back to the head of the queue, oldest first.
        std::vector<Message> unsent;
        for (auto it = m_inFlight.begin(); it != m_inFlight.end();) {
            if (it->second.qos == 0) {
                unsent.push_back(std::move(it->second));
                it = m_inFlight.erase(it);
            } else {
                ++it;
            }
        }
        std::sort(unsent.begin(), unsent.end(), [](const Message& a, const Message& b) { return a.seq < b.seq; });
        m_queue.insert(m_queue.begin(), std::make_move_iterator(unsent.begin()), std::make_move_iterator(unsent.end()));
        while (m_queue.size() > static_cast<size_t>(m_settings.queueSize)) {
            m_queue.pop_front();
            ++m_counters.dropped;
        }
        m_changed.notify_all();
        if (m_stopping)
            return;
        if (!m_refusal.isEmpty()) {
            reason = m_refusal;
            authentication = m_refusalCode == 4 || m_refusalCode == 5;
        } else if (m_closeRc != MOSQ_ERR_SUCCESS) {
            reason = lossText(m_closeRc, m_closeErrno, m_settings.host);
        } else {
            reason = lossText(rc, savedErrno, m_settings.host);
        }
    }
    report(false, reason, authentication);
}

void Publisher::report(bool up, const QString& reason, bool authentication)
{
    // A broker that stays away would otherwise repeat the same complaint at
    // every attempt; a new complaint while down is told, but is no change of
    // state, so the drop count waits for the connection to come back.
    const bool change = !m_reportedOnce || up != m_reportedUp;
    if (!change && (up || reason == m_reportedReason))
        return;
    m_reportedOnce = true;
    m_reportedUp = up;
    m_reportedReason = reason;
    quint64 dropped = 0;
    if (change) {
        std::lock_guard lock(m_mutex);
        dropped = m_counters.dropped - m_droppedReported;
        m_droppedReported = m_counters.dropped;
    }
    QMetaObject::invokeMethod(
        this,
        [this, up, change, dropped, reason, authentication] {
            if (authentication)
                emit authenticationFailed(reason);
            if (up)
                emit connected();
            else
                emit disconnected(reason);
            if (change)
                emit connectionChanged(up, dropped, reason);
        },
        Qt::QueuedConnection);
}

void Publisher::stop(int timeoutMs)
{
    if (!m_thread.joinable())
        return;
    const auto now = Clock::now();
    const auto deadline = now + milliseconds(std::max(timeoutMs, 0));
    bool clean = false;
    {
        std::unique_lock lock(m_mutex);
        m_stopping = true;
        m_changed.notify_all();
        if (m_connected) {
            m_changed.wait_until(lock, now + milliseconds(std::max(timeoutMs, 0) / 2),
                [this] { return !m_connected || (m_queue.empty() && m_inFlight.empty()); });
        }
        if (m_connected) {
            int mid = 0;
            if (mosquitto_publish(
                    m_mosq, &mid, m_statusTopic.constData(), int(Offline.size()), Offline.constData(), 1, true)
                == MOSQ_ERR_SUCCESS) {
                m_offlineMid = mid;
                m_changed.wait_until(lock, deadline, [this] { return !m_connected || m_offlineConfirmed; });
            }
            clean = m_offlineConfirmed;
        }
        m_counters.dropped += m_queue.size();
        m_queue.clear();
        m_quit = !clean;
    }
    if (clean)
        mosquitto_disconnect(m_mosq);
    else
        abortConnection();
    {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_until(
                lock, std::max(deadline, Clock::now() + milliseconds(200)), [this] { return m_threadDone; })) {
            m_quit = true;
            m_changed.notify_all();
            lock.unlock();
            abortConnection();
        }
    }
    m_thread.join();
    mosquitto_destroy(m_mosq);
    std::lock_guard lock(m_mutex);
    m_mosq = nullptr;
    m_inFlight.clear();
}

void Publisher::abortConnection()
{
    // Without a DISCONNECT the broker treats the end as a loss and sends the
    // Last Will; shutting the socket down also wakes the network thread from
    // its wait on it.
    const int fd = mosquitto_socket(m_mosq);
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
    std::lock_guard lock(m_mutex);
    m_changed.notify_all();
}

void Publisher::onConnect(mosquitto*, void* self, int rc)
{
    auto* publisher = static_cast<Publisher*>(self);
    if (rc == 0) {
        publisher->m_connackOk = true;
        return;
    }
    std::lock_guard lock(publisher->m_mutex);
    publisher->m_refusal = refusalText(rc);
    publisher->m_refusalCode = rc;
}

void Publisher::onDisconnect(mosquitto*, void* self, int rc)
{
    const int savedErrno = errno;
    auto* publisher = static_cast<Publisher*>(self);
    std::lock_guard lock(publisher->m_mutex);
    publisher->m_connected = false;
    publisher->m_closeRc = rc;
    publisher->m_closeErrno = savedErrno;
    publisher->m_changed.notify_all();
}

void Publisher::onPublish(mosquitto*, void* self, int mid)
{
    auto* publisher = static_cast<Publisher*>(self);
    std::lock_guard lock(publisher->m_mutex);
    if (mid == publisher->m_offlineMid) {
        publisher->m_offlineConfirmed = true;
    } else if (publisher->m_inFlight.erase(mid)) {
        ++publisher->m_counters.published;
        publisher->pumpLocked();
    }
    publisher->m_changed.notify_all();
}
