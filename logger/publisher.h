// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "logger/brokertls.h"
#include "logger/publishqueue.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>

#include <mosquitto.h>

// Sends readings, alarms and the sensor's presence to an MQTT broker.
//
// The thread that polls the sensor must never wait for the network, so every
// call here returns at once except the bounded stop(). libmosquitto is driven
// by a thread of this class; publish calls only put the message in a bounded
// PublishQueue (whose rules say what waits, what is dropped and what a
// reconnect sends again) and, while the broker is connected and fewer than
// maxInFlight messages are unconfirmed, hand it to libmosquitto, which never
// holds more than that.
//
// Signals are emitted on the thread this object lives in (queued from the
// network thread), so a caller without an event loop running gets them
// whenever it next processes events.
class Publisher : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QString host;
        int port = 1883;
        QString sensorId; // the <id> in every topic
        QString clientId; // empty: "veltrak-<sensorId>"
        QString topicPrefix = QStringLiteral("veltrak");
        int qos = 1; // readings; alarms and the status always go with 1
        int queueSize = 10000; // readings
        int eventQueueSize = 1000;
        QString user;
        QString password; // from a file or the environment, never from the command line
        QString caFile; // set: TLS, the broker's certificate checked against it and the host
        QByteArray caContent; // caFile as readCaFile() gave it; empty: start() reads caFile
        bool insecure = false; // allows the password to travel in clear text
        int keepAliveSeconds = 30; // a silent network is noticed after 1.5 times this
        int reconnectMinMs = 1000; // doubled after each failed attempt
        int reconnectMaxMs = 30000;
        int maxInFlight = 32;
        // "online" at each connect, "offline" at stop and as the Will; off
        // for a run that only clears what the sensor left on the broker.
        bool presence = true;
    };

    struct Counters {
        quint64 published = 0; // written (QoS 0) or acknowledged (QoS 1)
        quint64 dropped = 0; // readings pushed out of the full queue or left in it at stop
        quint64 droppedEvents = 0; // events alike, from their own queue
        quint64 queued = 0; // readings and events waiting now, not yet handed to libmosquitto
        quint64 inFlight = 0; // handed over, not yet confirmed
        quint64 connectAttempts = 0;
    };

    explicit Publisher(Settings settings, QObject* parent = nullptr);
    ~Publisher() override; // a clean stop() if still running

    // The error text when the settings would send the password in clear text.
    static std::optional<QString> checkSecurity(const Settings& settings);

    // The content of a CA file holding at least one certificate, or why it
    // cannot be used, naming the file. Never blocks, whatever the path names.
    static std::variant<QByteArray, QString> readCaFile(const QString& path);

    // Starts the network thread, which connects and keeps reconnecting in the
    // background. The error text when the settings cannot work at all
    // (bad topic levels, unreadable CA file, ...); nothing is started then.
    std::optional<QString> start();

    // Publishes what is still queued while connected, then the retained
    // "offline" status, waits for the broker to acknowledge it and
    // disconnects, all within timeoutMs. When the broker did not acknowledge
    // in time, the connection is dropped without a DISCONNECT so that the
    // broker sends the Last Will ("offline") instead. Messages still queued
    // then count as dropped.
    void stop(int timeoutMs = 2000);

    void publishReading(const QByteArray& json);
    void publishReading(const QJsonObject& reading);
    void publishAlarm(const QByteArray& json);
    void publishAlarm(const QJsonObject& alarm);
    // An event to "<prefix>/<id>/<leaf>" (leaf may hold further levels):
    // kept in order with the readings, never dropped for them.
    void publishEvent(const char* leaf, const QByteArray& payload, int qos, bool retain);
    // The same to a topic of its own (e.g. another program's discovery).
    void publishEventTo(const QString& topicName, const QByteArray& payload, int qos, bool retain);

    Counters counters() const;
    bool isConnected() const;
    QString topic(const char* leaf) const; // "<prefix>/<id>/<leaf>"

signals:
    void connected();
    // At the first failed attempt, at each loss, and when the reason changes
    // while down (e.g. "closed" then "refused"); not repeated otherwise.
    // A failed TLS handshake is told by the check that failed (trust, host
    // name, a port without TLS), as the TLS context watched it.
    void disconnected(const QString& reason);
    // Only when up or down changes (and at the first failed attempt);
    // `dropped` counts the readings and events the full queues pushed out
    // since the previous emission, so an "up" tells what the outage cost.
    void connectionChanged(bool up, quint64 dropped, const QString& reason);
    // The broker refused the user name or password or the authorisation;
    // retries go on, since credentials may be fixed on the broker side.
    void authenticationFailed(const QString& reason);
    // A limit of the broker met: a message dropped for its size, retained
    // messages unavailable. One line each, for the event log.
    void limitNoticed(const QString& text);

private:
    void enqueue(PublishQueue::Message message);
    void pumpLocked();
    bool handOverLocked(PublishQueue::Message& message);
    void run();
    void connectionLost(int rc, int savedErrno, bool beforeConnack, bool takenOver);
    void notice(const QString& text); // limitNoticed, from any thread
    static QByteArray clientIdFor(const QString& sensorId);
    bool leaving() const; // stop() has begun: waits of the network thread end early
    void report(bool up, const QString& reason, bool authentication);
    void abortConnection();

    static void onConnect(mosquitto* mosq, void* self, int rc, int flags, const mosquitto_property* properties);
    static void onDisconnect(mosquitto* mosq, void* self, int rc);
    static void onPublish(mosquitto* mosq, void* self, int mid);

    const Settings m_settings;
    const QByteArray m_readingTopic, m_statusTopic;
    std::unique_ptr<BrokerTls> m_tls; // made by start(), before the network thread exists
    mosquitto* m_mosq = nullptr;
    std::thread m_thread;

    mutable std::mutex m_mutex; // everything below, and every mosquitto_publish
    std::condition_variable m_changed;
    PublishQueue m_queue;
    quint64 m_connectAttempts = 0;
    bool m_connected = false; // CONNACK accepted and not lost since: messages may be handed over
    QString m_refusal; // CONNACK text of the attempt in progress
    int m_refusalCode = 0;
    int m_closeRc = 0; // why libmosquitto closed the socket, and errno then
    int m_closeErrno = 0;
    int m_offlineMid = -1;
    bool m_offlineConfirmed = false;
    bool m_retainUnavailable = false; // the broker said it keeps no retained messages
    bool m_stopping = false; // no new messages; no reconnect after a loss
    bool m_quit = false; // the network thread leaves at its next turn
    bool m_threadDone = false;

    // The network thread's own.
    bool m_connackOk = false;
    bool m_tlsReached = false; // TCP is connected on the present attempt: a handshake failure is TLS's
    bool m_reportedOnce = false;
    bool m_reportedUp = false;
    QString m_reportedReason;
};
