#pragma once

#include "logger/fieldlogger.h"
#include "logger/loggeroptions.h"
#include "logger/publisher.h"

#include <QObject>

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
    // The publisher's settings from the options: the password from its file
    // or VELTRAK_MQTT_PASSWORD, never the command line; an error text (exit
    // code 2) for what cannot work, e.g. a password without TLS.
    static std::variant<Publisher::Settings, QString> settingsFrom(const LoggerOptions& options);

    SitePublishing(const Publisher::Settings& settings, std::optional<int> intervalMs, FieldLogger& logger,
        QObject* parent = nullptr);
    std::optional<QString> start();
    void stop(); // "offline", bounded

    static QJsonObject readingJson(const csvlog::Record& record);
    static QJsonObject alarmJson(qint64 wallMs, const AlarmTransition& transition);

private:
    FieldLogger& m_logger;
    std::unique_ptr<Publisher> m_publisher;
    QTimer* m_tick = nullptr;
};
