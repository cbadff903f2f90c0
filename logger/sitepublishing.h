// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "logger/discovery.h"
#include "logger/eventlog.h"
#include "logger/fieldlogger.h"
#include "logger/loggeroptions.h"
#include "logger/publisher.h"

#include <QObject>
#include <QStringList>

#include <memory>
#include <optional>
#include <variant>

class QTimer;

// The logger's readings and alarms on an MQTT broker: what to publish when,
// and the broker's coming and going as event lines. The broker never holds
// up polling: the publisher only queues.
class SitePublishing : public QObject {
    Q_OBJECT
public:
    // The publisher's settings from the options: the password from
    // --mqtt-password-file, else from the service manager's credential
    // "mqtt-password", else from VELTRAK_MQTT_PASSWORD, never from the command
    // line; an error text (exit code 2) for what cannot work, e.g. a password
    // without TLS, an empty password file or a CA file without a certificate.
    // What works but is unwise (a password file others can read) is added to
    // `warnings`, to be told once the event log exists.
    static std::variant<Publisher::Settings, QString> settingsFrom(
        const LoggerOptions& options, QStringList* warnings = nullptr);

    // Readings and alarms come from `logger`; the broker's coming and going
    // is told in `log`.
    SitePublishing(const Publisher::Settings& settings, std::optional<int> intervalMs, FieldLogger& logger,
        EventLog& log, QObject* parent = nullptr);
    // Home Assistant's discovery configurations, published on each connect.
    void setDiscovery(const discovery::Site& site) { m_discovery = site; }
    std::optional<QString> start();
    void stop(); // "offline", bounded
    // "broker HOST:PORT, topics PREFIX/ID/..." for the start line.
    QString describe() const;
    // The broker's state, what waits and what was dropped, for a status line.
    QString statusText() const;

    static QJsonObject readingJson(const csvlog::Record& record);
    static QJsonObject alarmJson(qint64 wallMs, const AlarmTransition& transition);

private:
    FieldLogger& m_logger;
    EventLog& m_log;
    std::unique_ptr<Publisher> m_publisher;
    QTimer* m_publishTimer = nullptr; // with a publish interval of its own
    QString m_broker; // HOST:PORT
    IntervalStats m_publishStats; // of that interval
    std::optional<discovery::Site> m_discovery;
    bool m_sensorUp = false; // "connected" only after a complete cycle

    void publishStates(bool sensor, bool alarm);
};
