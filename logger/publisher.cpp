// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/publisher.h"

#include "core/backoff.h"
#include "core/safefile.h"
#include "logger/topicrules.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QMetaObject>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const QByteArray Online = QByteArrayLiteral("online");
const QByteArray Offline = QByteArrayLiteral("offline");
const QByteArray CertificateBlock = QByteArrayLiteral("-----BEGIN CERTIFICATE-----");
constexpr qint64 MaxCaFileBytes = 16 << 20; // far above any system bundle
const QString TlsFailed = QStringLiteral("TLS failed (certificate or handshake)");

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
    // MQTT 5's reason codes, told as 3.1.1's where they mean the same.
    static const std::pair<int, int> same[]
        = {{MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION, 1}, {MQTT_RC_CLIENTID_NOT_VALID, 2}, {MQTT_RC_SERVER_UNAVAILABLE, 3},
            {MQTT_RC_BAD_USERNAME_OR_PASSWORD, 4}, {MQTT_RC_NOT_AUTHORIZED, 5}};
    for (const auto& [v5, v3] : same)
        code = code == v5 ? v3 : code;
    if (code >= 128)
        return refused + QString::fromUtf8(mosquitto_reason_string(code)).toLower();
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
        return TlsFailed;
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_SUCCESS:
        return QStringLiteral("connection closed");
    default:
        return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

// 0 once the non-blocking connect of `fd` has succeeded, else its errno
// (ETIMEDOUT at the deadline, ECANCELED when cancelled). A write on the
// socket before takes the errno of a failed connect with it: `taken` is
// told instead, if the writer kept it.
int awaitConnect(int fd, Clock::time_point deadline, const std::function<bool()>& cancelled, int taken = 0)
{
    if (fd < 0)
        return EBADF;
    for (pollfd p {fd, POLLOUT, 0};;) {
        const int ready = ::poll(&p, 1, 100);
        if (ready > 0)
            break;
        if (ready < 0 && errno != EINTR)
            return errno;
        if (cancelled())
            return ECANCELED;
        if (Clock::now() >= deadline)
            return ETIMEDOUT;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return errno;
    sockaddr_storage peer {};
    socklen_t peerSize = sizeof peer;
    if (error == 0 && ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0)
        error = taken != 0 && taken != EINPROGRESS && taken != EAGAIN ? taken : errno;
    return error;
}
} // namespace

Publisher::Publisher(Settings settings, QObject* parent)
    : QObject(parent),
      m_settings(std::move(settings)),
      m_readingTopic(topic("reading").toUtf8()),
      m_statusTopic(topic("status").toUtf8()),
      m_queue(PublishQueue::Limits {m_settings.queueSize, m_settings.eventQueueSize, m_settings.maxInFlight})
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

std::variant<QByteArray, QString> Publisher::readCaFile(const QString& path)
{
    auto content = safefile::read(path, MaxCaFileBytes);
    if (const QString* error = std::get_if<QString>(&content))
        return QStringLiteral("%1: %2").arg(path, *error);
    if (!std::get<QByteArray>(content).contains(CertificateBlock))
        return QStringLiteral("%1: no certificate in it (no %2 line)").arg(path, QLatin1String(CertificateBlock));
    return content;
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
    // The options' own rules: a prefix they let through is never refused here.
    if (s.topicPrefix.startsWith(QLatin1Char('$')))
        return QStringLiteral("the MQTT topic prefix must not start with $");
    if (!topicrules::isPrefix(s.topicPrefix))
        return QStringLiteral("the MQTT topic prefix must be %1").arg(QLatin1String(topicrules::PrefixRule));
    if (!topicrules::isLevel(s.sensorId))
        return QStringLiteral("the sensor id must be %1").arg(QLatin1String(topicrules::LevelRule));
    if (s.host.isEmpty() || s.port < 1 || s.port > 65535)
        return QStringLiteral("the MQTT broker needs a host and a port between 1 and 65535");
    if (s.qos < 0 || s.qos > 1)
        return QStringLiteral("the MQTT QoS must be 0 or 1");
    if (s.queueSize < 1 || s.eventQueueSize < 1 || s.maxInFlight < 1 || s.reconnectMinMs < 1
        || s.reconnectMaxMs < s.reconnectMinMs)
        return QStringLiteral("the MQTT queue, in-flight and reconnect limits must be positive");
    if (s.keepAliveSeconds < 5 || s.keepAliveSeconds > 65535)
        return QStringLiteral("the MQTT keepalive must be between 5 and 65535 seconds");
    if (auto refusal = checkSecurity(s))
        return refusal;
    // The TLS context from the file's bytes, read safely and once (here,
    // unless the settings bring them): libmosquitto would open the path
    // itself, and stay blocked on a FIFO.
    m_tls.reset();
    if (!s.caFile.isEmpty()) {
        std::variant<QByteArray, QString> ca = s.caContent;
        if (s.caContent.isEmpty())
            ca = readCaFile(s.caFile);
        if (const QString* error = std::get_if<QString>(&ca))
            return QStringLiteral("cannot use the CA file %1").arg(*error);
        m_tls = BrokerTls::create(std::get<QByteArray>(ca), s.host);
        if (!m_tls)
            return QStringLiteral("cannot use the CA file %1").arg(s.caFile);
    }

    const QByteArray clientId = s.clientId.isEmpty() ? clientIdFor(s.sensorId) : s.clientId.toUtf8();
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
    // MQTT 5: the broker tells its limits (largest packet, retained
    // messages) in its acknowledgement; a broker without it gets 3.1.1.
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // A little above our own limit, so the status messages never wait inside
    // libmosquitto behind readings.
    mosquitto_max_inflight_messages_set(mosq, static_cast<unsigned>(s.maxInFlight) + 2);
    if (!s.user.isEmpty()) {
        const QByteArray user = s.user.toUtf8(), password = s.password.toUtf8();
        if (mosquitto_username_pw_set(mosq, user.constData(), s.password.isEmpty() ? nullptr : password.constData()))
            return fail(QStringLiteral("the MQTT user name or password is not valid UTF-8"));
    }
    // Our context as it is: libmosquitto's defaults would load the CA file
    // again by its path.
    if (m_tls
        && (mosquitto_int_option(mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0)
            || mosquitto_void_option(mosq, MOSQ_OPT_SSL_CTX, m_tls->context())))
        return fail(QStringLiteral("cannot use the CA file %1").arg(s.caFile));
    if (s.presence
        && mosquitto_will_set(mosq, m_statusTopic.constData(), int(Offline.size()), Offline.constData(), 1, true))
        return fail(QStringLiteral("cannot set the MQTT last will on %1").arg(QString::fromUtf8(m_statusTopic)));
    mosquitto_connect_v5_callback_set(mosq, &Publisher::onConnect);
    mosquitto_disconnect_callback_set(mosq, &Publisher::onDisconnect);
    mosquitto_publish_callback_set(mosq, &Publisher::onPublish);

    {
        std::lock_guard lock(m_mutex);
        m_mosq = mosq;
        m_stopping = m_quit = m_threadDone = m_offlineConfirmed = m_retainUnavailable = false;
        m_offlineMid = -1;
        m_queue.open();
    }
    m_thread = std::thread(&Publisher::run, this);
    return std::nullopt;
}

void Publisher::publishReading(const QByteArray& json)
{
    // Retained, so a subscriber that comes late (a restarted dashboard) has
    // the last row at once.
    enqueue(PublishQueue::Message {0, false, m_settings.qos, true, m_readingTopic, json});
}

void Publisher::publishReading(const QJsonObject& reading)
{
    publishReading(QJsonDocument(reading).toJson(QJsonDocument::Compact));
}

void Publisher::publishAlarm(const QByteArray& json)
{
    publishEvent("alarm", json, 1, false);
}

void Publisher::publishAlarm(const QJsonObject& alarm)
{
    publishAlarm(QJsonDocument(alarm).toJson(QJsonDocument::Compact));
}

void Publisher::publishEvent(const char* leaf, const QByteArray& payload, int qos, bool retain)
{
    publishEventTo(topic(leaf), payload, qos, retain);
}

void Publisher::publishEventTo(const QString& topicName, const QByteArray& payload, int qos, bool retain)
{
    enqueue(PublishQueue::Message {0, true, qos, retain, topicName.toUtf8(), payload});
}

Publisher::Counters Publisher::counters() const
{
    std::lock_guard lock(m_mutex);
    const PublishQueue::Counters q = m_queue.counters();
    return Counters {q.published, q.dropped, q.droppedEvents, q.queued, q.inFlight, m_connectAttempts};
}

bool Publisher::isConnected() const
{
    std::lock_guard lock(m_mutex);
    return m_connected;
}

void Publisher::enqueue(PublishQueue::Message message)
{
    std::lock_guard lock(m_mutex);
    m_queue.add(std::move(message));
    pumpLocked();
}

void Publisher::pumpLocked()
{
    while (m_connected) {
        std::optional<PublishQueue::Message> message = m_queue.takeNext();
        if (!message)
            return;
        if (!handOverLocked(*message)) {
            m_queue.giveBack(std::move(*message));
            return;
        }
    }
}

bool Publisher::handOverLocked(PublishQueue::Message& message)
{
    int mid = 0;
    const int rc = mosquitto_publish(m_mosq, &mid, message.topic.constData(), int(message.payload.size()),
        message.payload.constData(), message.qos, message.retain && !m_retainUnavailable);
    // A QoS 1 message stays with libmosquitto even when the socket has just
    // gone, and is sent again after the reconnect.
    if (rc == MOSQ_ERR_SUCCESS || (rc == MOSQ_ERR_NO_CONN && message.qos > 0)) {
        m_queue.handedOver(mid, std::move(message));
        return true;
    }
    if (rc == MOSQ_ERR_NO_CONN)
        return false;
    // Too big or otherwise unsendable: retrying would block the queue forever.
    m_queue.dropUnsendable(message);
    notice(QStringLiteral("message to %1 dropped: %2 bytes, %3")
               .arg(QString::fromUtf8(message.topic))
               .arg(message.payload.size())
               .arg(rc == MOSQ_ERR_OVERSIZE_PACKET ? QStringLiteral("more than the broker's maximum packet size")
                                                   : QString::fromUtf8(mosquitto_strerror(rc))));
    return true;
}

void Publisher::run()
{
    // A write to a broker that has just gone must fail with EPIPE, not end
    // the program; the signal then stays pending on this thread alone.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    const QByteArray host = m_settings.host.toUtf8();
    // The pause between attempts is the logger's Backoff, the one its device
    // uses, rather than libmosquitto's mosquitto_reconnect_delay_set(): that
    // one only paces mosquitto_loop_forever() and the library's own thread,
    // whereas this thread connects by itself, so that stop() can cut a pause
    // short, a taken-over connection can be waited out, and a connection that
    // lasted starts the pauses afresh.
    Backoff backoff(m_settings.reconnectMinMs, m_settings.reconnectMaxMs);
    bool socketOpen = false;
    bool connackSeen = false; // on the present socket
    Clock::time_point connectedAt;
    int shortConnections = 0; // closed by the broker soon after its acknowledgement, in a row
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
                ++m_connectAttempts;
                m_refusal.clear();
                m_closeRc = MOSQ_ERR_SUCCESS;
            }
            if (m_tls)
                m_tls->beginAttempt();
            errno = 0;
            rc = mosquitto_connect_async(m_mosq, host.constData(), m_settings.port, m_settings.keepAliveSeconds);
            savedErrno = errno;
            socketOpen = rc == MOSQ_ERR_SUCCESS;
            connackSeen = false;
            // A handshake that failed at once had a TCP connection to fail on.
            m_tlsReached = rc == MOSQ_ERR_TLS;
            // With TLS, libmosquitto begins the handshake before the TCP
            // connect is done and takes a refusal for a slow handshake: it
            // would wait the whole keepalive, then blame the broker's silence.
            if (socketOpen && m_tls) {
                const int error = awaitConnect(
                    mosquitto_socket(m_mosq), Clock::now() + std::chrono::seconds(m_settings.keepAliveSeconds),
                    [this] { return leaving(); }, savedErrno);
                if (error) {
                    rc = MOSQ_ERR_ERRNO;
                    savedErrno = error;
                    socketOpen = false;
                }
                // A reset, unlike a refusal, comes from a peer that had
                // accepted the connection: one that may not speak TLS.
                m_tlsReached = error == 0 || error == ECONNRESET || error == EPIPE;
            }
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
                connackSeen = true;
                connectedAt = Clock::now();
                {
                    std::lock_guard lock(m_mutex);
                    m_connected = true;
                    if (m_settings.presence)
                        mosquitto_publish(m_mosq, nullptr, m_statusTopic.constData(), int(Online.size()),
                            Online.constData(), 1, !m_retainUnavailable);
                    pumpLocked();
                }
                report(true, QString(), false);
            }
            m_connackOk = false;
            if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(m_mosq) >= 0)
                continue;
            socketOpen = false;
        }
        // A connection that lasted starts the back-off afresh; one the broker
        // closes again and again right after accepting it means another
        // client with our id (mosquitto says nothing of a takeover): waited
        // out with a growing pause, not in a tight loop.
        const bool lasted = connackSeen && Clock::now() - connectedAt >= std::chrono::seconds(10);
        if (lasted || !connackSeen)
            shortConnections = 0;
        else if (rc == MOSQ_ERR_CONN_LOST || m_closeRc == MOSQ_ERR_CONN_LOST)
            ++shortConnections;
        if (lasted)
            backoff.reset();
        connectionLost(rc, savedErrno, !connackSeen, shortConnections >= 2);
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, milliseconds(backoff.next()), [this] { return m_quit || m_stopping; });
    }
    std::lock_guard lock(m_mutex);
    m_connected = false;
    m_threadDone = true;
    m_changed.notify_all();
}

bool Publisher::leaving() const
{
    std::lock_guard lock(m_mutex);
    return m_stopping || m_quit;
}

void Publisher::connectionLost(int rc, int savedErrno, bool beforeConnack, bool takenOver)
{
    QString reason;
    bool authentication = false;
    bool diagnose = false;
    {
        std::lock_guard lock(m_mutex);
        m_connected = false;
        // libmosquitto discards unwritten QoS 0 packets with the connection.
        m_queue.connectionLost();
        m_changed.notify_all();
        if (m_stopping)
            return;
        if (m_closeRc != MOSQ_ERR_SUCCESS) {
            rc = m_closeRc;
            savedErrno = m_closeErrno;
        }
        if (!m_refusal.isEmpty()) {
            reason = m_refusal;
            authentication = m_refusalCode == 4 || m_refusalCode == 5
                || m_refusalCode == MQTT_RC_BAD_USERNAME_OR_PASSWORD || m_refusalCode == MQTT_RC_NOT_AUTHORIZED;
        } else if (takenOver) {
            reason = QStringLiteral("another client took over the connection of sensor %1").arg(m_settings.sensorId);
        } else {
            reason = lossText(rc, savedErrno, m_settings.host);
            // Whatever went wrong in the handshake, libmosquitto tells no
            // more than this; a broker that is simply away needs no look.
            diagnose = m_tls && m_tlsReached && beforeConnack && rc != MOSQ_ERR_EAI
                && !(rc == MOSQ_ERR_ERRNO
                    && (savedErrno == ECONNREFUSED || savedErrno == EHOSTUNREACH || savedErrno == ENETUNREACH
                        || savedErrno == ETIMEDOUT));
        }
    }
    if (diagnose) {
        if (const auto fault = m_tls->fault(m_settings.port))
            reason = *fault;
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
        dropped = m_queue.takeDroppedSinceReport();
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
        m_queue.close();
        m_changed.notify_all();
        if (m_connected) {
            m_changed.wait_until(lock, now + milliseconds(std::max(timeoutMs, 0) / 2),
                [this] { return !m_connected || m_queue.isEmpty(); });
        }
        if (m_connected && !m_settings.presence) {
            clean = m_queue.isEmpty();
        } else if (m_connected) {
            int mid = 0;
            if (mosquitto_publish(m_mosq, &mid, m_statusTopic.constData(), int(Offline.size()), Offline.constData(), 1,
                    !m_retainUnavailable)
                == MOSQ_ERR_SUCCESS) {
                m_offlineMid = mid;
                m_changed.wait_until(lock, deadline, [this] { return !m_connected || m_offlineConfirmed; });
            }
            clean = m_offlineConfirmed;
        }
        m_queue.dropWaiting();
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
    m_queue.forgetInFlight();
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

void Publisher::onConnect(mosquitto* mosq, void* self, int rc, int, const mosquitto_property* properties)
{
    auto* publisher = static_cast<Publisher*>(self);
    std::uint8_t retain = 1;
    mosquitto_property_read_byte(properties, MQTT_PROP_RETAIN_AVAILABLE, &retain, false);
    if (rc == 0) {
        publisher->m_connackOk = true;
        if (retain == 0 && !publisher->m_retainUnavailable) {
            std::lock_guard lock(publisher->m_mutex);
            publisher->m_retainUnavailable = true;
            publisher->notice(QStringLiteral("the broker keeps no retained messages: publishing without retain"));
        }
        return;
    }
    std::lock_guard lock(publisher->m_mutex);
    if (rc == MQTT_RC_RETAIN_NOT_SUPPORTED && !publisher->m_retainUnavailable) {
        // A broker without retained messages refuses a retained Will: the
        // next attempt goes without, and so does everything after it.
        publisher->m_retainUnavailable = true;
        if (publisher->m_settings.presence)
            mosquitto_will_set(
                mosq, publisher->m_statusTopic.constData(), int(Offline.size()), Offline.constData(), 1, false);
        publisher->notice(QStringLiteral("the broker keeps no retained messages: publishing without retain"));
        return;
    }
    if (rc == 1 || rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION) {
        // A broker that does not speak MQTT 5: 3.1.1 from the next attempt.
        mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    }
    publisher->m_refusal = refusalText(rc);
    publisher->m_refusalCode = rc;
}

void Publisher::notice(const QString& text)
{
    QMetaObject::invokeMethod(
        this, [this, text] { emit limitNoticed(text); }, Qt::QueuedConnection);
}

QByteArray Publisher::clientIdFor(const QString& sensorId)
{
    // The sensor id itself while it is short: a broker shows it; a long one
    // would exceed what brokers take, so it is shortened with a hash that
    // keeps it distinct.
    const QByteArray id = sensorId.toUtf8();
    if (id.size() <= 64)
        return "veltrak-" + id;
    return "veltrak-" + id.left(40) + '-' + QCryptographicHash::hash(id, QCryptographicHash::Sha256).toHex().left(16);
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
    } else if (publisher->m_queue.confirm(mid)) {
        publisher->pumpLocked();
    }
    publisher->m_changed.notify_all();
}
