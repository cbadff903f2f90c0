// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/discovery.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace discovery {

namespace {
struct Entity {
    const char* component;
    const char* object;
};
// Every entity a site may have, in the order they are published.
constexpr Entity Entities[] = {{"sensor", "pitch"}, {"sensor", "roll"}, {"sensor", "temperature"},
    {"sensor", "pitch_change"}, {"sensor", "roll_change"}, {"binary_sensor", "pitch_alarm"},
    {"binary_sensor", "roll_alarm"}, {"binary_sensor", "sensor"}};

QString configTopic(const Site& site, const Entity& e)
{
    return site.discoveryPrefix + QLatin1Char('/') + QLatin1String(e.component) + QLatin1Char('/')
        + nodeId(site.sensorId) + QLatin1Char('/') + QLatin1String(e.object) + QStringLiteral("/config");
}
} // namespace

QString nodeId(const QString& sensorId)
{
    QString id;
    for (const QChar c : sensorId) {
        const bool plain
            = c.unicode() < 128 && (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-'));
        id += plain ? c : QLatin1Char('_');
    }
    if (id != sensorId)
        id += QLatin1Char('_')
            + QString::fromLatin1(
                QCryptographicHash::hash(sensorId.toUtf8(), QCryptographicHash::Sha256).toHex().left(8));
    return QStringLiteral("veltrak_") + id;
}

QList<Config> configs(const Site& site)
{
    const QString base = site.topicPrefix + QLatin1Char('/') + site.sensorId + QLatin1Char('/');
    const QString node = nodeId(site.sensorId);
    const QJsonObject device {{QStringLiteral("identifiers"), QJsonArray {node}},
        {QStringLiteral("name"), site.sensorId}, {QStringLiteral("manufacturer"), QStringLiteral("VELTRAK")},
        {QStringLiteral("model"), QStringLiteral("VELTRAK ") + site.model.toUpper()},
        {QStringLiteral("sw_version"), QStringLiteral(VELTRAK_VERSION)}};
    const QJsonObject origin {
        {QStringLiteral("name"), QStringLiteral("veltrak-logger")}, {QStringLiteral("sw_version"), VELTRAK_VERSION}};
    const auto availability = [&base](const char* leaf, const char* up, const char* down) {
        return QJsonObject {{QStringLiteral("topic"), base + QLatin1String(leaf)},
            {QStringLiteral("payload_available"), QLatin1String(up)},
            {QStringLiteral("payload_not_available"), QLatin1String(down)}};
    };
    const QJsonObject running = availability("status", "online", "offline");
    QList<Config> out;
    auto add = [&](const Entity& e, const QString& name, QJsonObject config, bool needsSensor) {
        config.insert(QStringLiteral("name"), name);
        config.insert(QStringLiteral("unique_id"), node + QLatin1Char('_') + QLatin1String(e.object));
        if (needsSensor) {
            config.insert(
                QStringLiteral("availability"), QJsonArray {running, availability("sensor", "connected", "lost")});
            config.insert(QStringLiteral("availability_mode"), QStringLiteral("all"));
        } else {
            config.insert(QStringLiteral("availability"), QJsonArray {running});
        }
        config.insert(QStringLiteral("device"), device);
        config.insert(QStringLiteral("origin"), origin);
        out.append({configTopic(site, e), QJsonDocument(config).toJson(QJsonDocument::Compact)});
    };
    const QString angle = site.degrees ? QStringLiteral("°") : QString();
    auto measurement = [&](const Entity& e, const QString& name, const QString& unit, int precision) {
        QJsonObject config {{QStringLiteral("state_topic"), base + QStringLiteral("reading")},
            {QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(QLatin1String(e.object))},
            {QStringLiteral("state_class"), QStringLiteral("measurement")},
            {QStringLiteral("suggested_display_precision"), precision}};
        if (!unit.isEmpty())
            config.insert(QStringLiteral("unit_of_measurement"), unit);
        if (e.object == QLatin1String("temperature"))
            config.insert(QStringLiteral("device_class"), QStringLiteral("temperature"));
        if (site.expireAfterS > 0)
            config.insert(QStringLiteral("expire_after"), site.expireAfterS);
        add(e, name, config, true);
    };
    measurement(Entities[0], QStringLiteral("Pitch"), angle, 2);
    measurement(Entities[1], QStringLiteral("Roll"), angle, 2);
    measurement(Entities[2], QStringLiteral("Temperature"), QStringLiteral("°C"), 2);
    if (site.withChange) {
        measurement(Entities[3], QStringLiteral("Pitch change"), angle, 4);
        measurement(Entities[4], QStringLiteral("Roll change"), angle, 4);
    }
    for (const bool pitch : {true, false}) {
        if (!(pitch ? site.pitchAlarm : site.rollAlarm))
            continue;
        // "unknown" (not judged yet) and "off" are neither on nor off: the
        // template gives None, Home Assistant's unknown state.
        const QString axis = pitch ? QStringLiteral("pitch") : QStringLiteral("roll");
        add(Entities[pitch ? 5 : 6], pitch ? QStringLiteral("Pitch alarm") : QStringLiteral("Roll alarm"),
            {{QStringLiteral("state_topic"), base + QStringLiteral("alarm/state")},
                {QStringLiteral("value_template"),
                    QStringLiteral("{{ value_json.%1 if value_json.%1 in ('raised', 'ok') else None }}").arg(axis)},
                {QStringLiteral("payload_on"), QStringLiteral("raised")},
                {QStringLiteral("payload_off"), QStringLiteral("ok")},
                {QStringLiteral("device_class"), QStringLiteral("problem")}},
            true);
    }
    add(Entities[7], QStringLiteral("Sensor"),
        {{QStringLiteral("state_topic"), base + QStringLiteral("sensor")},
            {QStringLiteral("payload_on"), QStringLiteral("connected")},
            {QStringLiteral("payload_off"), QStringLiteral("lost")},
            {QStringLiteral("device_class"), QStringLiteral("connectivity")}},
        false);
    return out;
}

QList<Config> removals(const Site& site, bool all)
{
    const QList<Config> present = all ? QList<Config>() : configs(site);
    QList<Config> out;
    for (const Entity& e : Entities) {
        const QString topic = configTopic(site, e);
        if (std::none_of(present.cbegin(), present.cend(), [&topic](const Config& c) { return c.topic == topic; }))
            out.append({topic, QByteArray()});
    }
    return out;
}

} // namespace discovery
