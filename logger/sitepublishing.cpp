// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/sitepublishing.h"

#include "core/safefile.h"
#include "core/timeformat.h"
#include "logger/topicrules.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <sys/stat.h>

namespace {
// With LoadCredential=mqtt-password:/path in the service unit, systemd hands
// the password over in a private folder named by CREDENTIALS_DIRECTORY.
const QString PasswordCredential = QStringLiteral("mqtt-password");

// The password on the first line of `path` into `password`, or why it
// cannot be used: only a regular file (a FIFO would hold up the start for
// ever) with a password.
std::optional<QString> readPassword(const QString& path, QString& password, QStringList* warnings)
{
    const auto content = safefile::read(path, 4096);
    if (const QString* error = std::get_if<QString>(&content))
        return QStringLiteral("%1: %2").arg(path, *error);
    password = QString::fromUtf8(std::get<QByteArray>(content).split('\n').first()).trimmed();
    // Sent as is, an empty password would fail later at the broker, with a
    // less telling complaint.
    if (password.isEmpty())
        return QStringLiteral("%1: no password on its first line").arg(path);
    struct stat st { };
    if (warnings && ::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)))
        *warnings << QStringLiteral("%1 can be read by other users; chmod 600 it").arg(path);
    return std::nullopt;
}

// With the CSV's six decimals at most: 12.6, not 12.599999999999998.
QJsonValue jsonNumber(double value)
{
    return std::isfinite(value) ? QJsonValue(std::round(value * 1e6) / 1e6 + 0.0) : QJsonValue(QJsonValue::Null);
}

// The very number the CSV row shows, so the two never disagree.
QJsonValue rowNumber(const csvlog::Record& record, csvlog::Column column, double value)
{
    const QString text = csvlog::number(record, column, value);
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text.toDouble() + 0.0);
}
} // namespace

std::variant<Publisher::Settings, QString> SitePublishing::settingsFrom(
    const LoggerOptions& options, QStringList* warnings)
{
    const MqttOptions& mqtt = options.mqtt;
    Publisher::Settings settings;
    settings.host = mqtt.host;
    settings.port = mqtt.port.value_or(mqtt.caFile.isEmpty() ? 1883 : 8883);
    settings.sensorId = topicrules::levelFrom(mqtt.sensorId.isEmpty()
            ? QSysInfo::machineHostName() + QLatin1Char('-') + QFileInfo(options.device).fileName()
            : mqtt.sensorId);
    settings.topicPrefix = mqtt.topicPrefix;
    // MQTT carries a topic of at most 65535 bytes; a longer one would be
    // dropped by the broker without a word, every time.
    const qsizetype sensorTopic = settings.topicPrefix.toUtf8().size() + settings.sensorId.toUtf8().size() + 16;
    const qsizetype discoveryTopic = mqtt.haDiscovery.isEmpty()
        ? 0
        : mqtt.haDiscovery.toUtf8().size() + discovery::nodeId(settings.sensorId).toUtf8().size() + 40;
    if (std::max(sensorTopic, discoveryTopic) > topicrules::MaxTopicBytes) {
        const qsizetype id = settings.sensorId.toUtf8().size(), prefix = settings.topicPrefix.toUtf8().size(),
                        ha = mqtt.haDiscovery.toUtf8().size();
        const char* option = id >= prefix && id >= ha ? "--sensor-id"
            : prefix >= ha                            ? "--topic-prefix"
                                                      : "--ha-discovery";
        return QStringLiteral("%1: the MQTT topics would be longer than %2 bytes")
            .arg(QLatin1String(option))
            .arg(topicrules::MaxTopicBytes);
    }
    settings.qos = mqtt.qos;
    settings.queueSize = mqtt.queueSize;
    settings.user = mqtt.user;
    settings.caFile = mqtt.caFile;
    settings.insecure = mqtt.insecure;
    if (!settings.caFile.isEmpty()) {
        auto ca = Publisher::readCaFile(settings.caFile);
        if (const QString* error = std::get_if<QString>(&ca))
            return QStringLiteral("--mqtt-cafile: %1").arg(*error);
        settings.caContent = std::move(std::get<QByteArray>(ca)); // read once: the publisher takes these bytes
    }
    const QString credentials = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    const QString credential = credentials.isEmpty() ? QString() : QDir(credentials).filePath(PasswordCredential);
    if (!mqtt.passwordFile.isEmpty()) {
        if (const auto error = readPassword(mqtt.passwordFile, settings.password, warnings))
            return QStringLiteral("--mqtt-password-file: ") + *error;
    } else if (!credential.isEmpty() && QFileInfo::exists(credential)) {
        if (const auto error = readPassword(credential, settings.password, warnings))
            return QStringLiteral("credential %1: %2").arg(PasswordCredential, *error);
    } else {
        settings.password = qEnvironmentVariable("VELTRAK_MQTT_PASSWORD");
    }
    if (!settings.password.isEmpty() && settings.user.isEmpty())
        return QStringLiteral("--mqtt-user: a password is given but no user name");
    if (const auto error = Publisher::checkSecurity(settings))
        return *error;
    return settings;
}

SitePublishing::SitePublishing(const Publisher::Settings& settings, std::optional<int> intervalMs, FieldLogger& logger,
    EventLog& log, QObject* parent)
    : QObject(parent), m_logger(logger), m_log(log), m_publisher(std::make_unique<Publisher>(settings))
{
    if (intervalMs) {
        m_publishTimer = new QTimer(this);
        m_publishTimer->setInterval(*intervalMs);
        // Its own pace, its own summary: the cycles since the last tick.
        connect(&logger, &FieldLogger::cycle, this, [this](const Frame& frame) { m_publishStats.add(frame); });
        connect(m_publishTimer, &QTimer::timeout, this, [this] {
            const auto summary = m_publishStats.summary();
            m_publishStats.clear();
            if (summary)
                m_publisher->publishReading(readingJson(m_logger.record(*summary)));
        });
    } else {
        connect(&logger, &FieldLogger::rowWritten, this,
            [this](const csvlog::Record& record) { m_publisher->publishReading(readingJson(record)); });
    }
    connect(&logger, &FieldLogger::alarmChanged, this, [this](qint64 wallMs, const AlarmTransition& transition) {
        m_publisher->publishAlarm(alarmJson(wallMs, transition));
        publishStates(false, true);
    });
    connect(&logger, &FieldLogger::alarmJudged, this, [this] { publishStates(false, true); });
    connect(&logger, &FieldLogger::sensorChanged, this, [this](bool up) {
        m_sensorUp = up;
        publishStates(true, false);
    });
    // What a subscriber that comes late should find, also after a broker that
    // kept nothing has restarted.
    connect(m_publisher.get(), &Publisher::connected, this, [this] {
        // Entities this configuration no longer has are removed, as Home
        // Assistant expects: an empty retained configuration.
        if (m_discovery)
            for (const discovery::Config& config : discovery::configs(*m_discovery) + discovery::removals(*m_discovery))
                m_publisher->publishEventTo(config.topic, config.payload, 1, true);
        publishStates(true, true);
    });
    const QString broker = m_broker = QStringLiteral("%1:%2").arg(settings.host).arg(settings.port);
    connect(m_publisher.get(), &Publisher::connectionChanged, this,
        [this, broker](bool up, quint64 dropped, const QString& reason) {
            if (up)
                m_log.report(EventLog::Priority::Notice,
                    QStringLiteral("broker connected: %1 (%2 messages dropped while away)").arg(broker).arg(dropped));
            else
                m_log.report(EventLog::Priority::Warning,
                    QStringLiteral("broker lost: %1: %2 (%3 messages dropped)").arg(broker, reason).arg(dropped));
        });
    connect(m_publisher.get(), &Publisher::limitNoticed, this, [this, broker](const QString& text) {
        m_log.report(EventLog::Priority::Warning, QStringLiteral("broker %1: %2").arg(broker, text));
    });
    connect(m_publisher.get(), &Publisher::authenticationFailed, this, [this, broker](const QString& reason) {
        m_log.report(EventLog::Priority::Warning, QStringLiteral("broker %1: %2").arg(broker, reason));
    });
}

void SitePublishing::publishStates(bool sensor, bool alarm)
{
    if (sensor)
        m_publisher->publishEvent("sensor", m_sensorUp ? "connected" : "lost", 1, true);
    if (alarm) {
        const QJsonObject json {{QStringLiteral("time"), timefmt::isoUtc(QDateTime::currentMSecsSinceEpoch())},
            {QStringLiteral("pitch"), m_logger.alarmState(AlarmAxis::Pitch)},
            {QStringLiteral("roll"), m_logger.alarmState(AlarmAxis::Roll)}};
        m_publisher->publishEvent("alarm/state", QJsonDocument(json).toJson(QJsonDocument::Compact), 1, true);
    }
}

std::optional<QString> SitePublishing::start()
{
    if (auto error = m_publisher->start())
        return error;
    if (m_publishTimer)
        m_publishTimer->start();
    return std::nullopt;
}

void SitePublishing::stop()
{
    if (m_publishTimer)
        m_publishTimer->stop();
    m_publisher->stop();
}

QJsonObject SitePublishing::readingJson(const csvlog::Record& record)
{
    using csvlog::Column;
    QJsonObject json {{QStringLiteral("time"), timefmt::isoUtc(record.wallMsUtc)},
        {QStringLiteral("elapsed"), std::round(record.elapsedS * 1000.0) / 1000.0},
        {QStringLiteral("pitch"), rowNumber(record, Column::Mean, record.pitch)},
        {QStringLiteral("roll"), rowNumber(record, Column::Mean, record.roll)},
        {QStringLiteral("temperature"), rowNumber(record, Column::Temperature, record.temperature)},
        {QStringLiteral("unit"), record.unit}, {QStringLiteral("alarm"), record.alarm},
        {QStringLiteral("pitch_min"), rowNumber(record, Column::Extreme, record.pitchMin)},
        {QStringLiteral("pitch_max"), rowNumber(record, Column::Extreme, record.pitchMax)},
        {QStringLiteral("roll_min"), rowNumber(record, Column::Extreme, record.rollMin)},
        {QStringLiteral("roll_max"), rowNumber(record, Column::Extreme, record.rollMax)},
        {QStringLiteral("samples"), qint64(record.samples)}};
    if (record.pitchChange && record.rollChange) {
        json.insert(QStringLiteral("pitch_change"), rowNumber(record, Column::Change, *record.pitchChange));
        json.insert(QStringLiteral("roll_change"), rowNumber(record, Column::Change, *record.rollChange));
    }
    return json;
}

QJsonObject SitePublishing::alarmJson(qint64 wallMs, const AlarmTransition& transition)
{
    return QJsonObject {{QStringLiteral("time"), timefmt::isoUtc(wallMs)},
        {QStringLiteral("axis"), axisName(transition.axis)},
        {QStringLiteral("state"), transition.raised ? QStringLiteral("raised") : QStringLiteral("cleared")},
        {QStringLiteral("value"), jsonNumber(transition.value)}};
}

QString SitePublishing::describe() const
{
    return QStringLiteral("broker %1, topics %2").arg(m_broker, m_publisher->topic("#"));
}

QString SitePublishing::statusText() const
{
    const Publisher::Counters counters = m_publisher->counters();
    return QStringLiteral("broker %1 %2, queue %3, dropped %4 readings and %5 events")
        .arg(m_broker, m_publisher->isConnected() ? QStringLiteral("connected") : QStringLiteral("away"))
        .arg(counters.queued)
        .arg(counters.dropped)
        .arg(counters.droppedEvents);
}
