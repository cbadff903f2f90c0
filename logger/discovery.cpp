#include "logger/discovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace discovery {

namespace {
// A node id may hold only letters, digits, "_" and "-".
QString nodeId(const QString& sensorId)
{
    QString id;
    for (const QChar c : sensorId)
        id += c.isLetterOrNumber() && c.unicode() < 128 ? c : QLatin1Char('_');
    return QStringLiteral("veltrak_") + id;
}
} // namespace

QList<Config> configs(const Site& site)
{
    const QString base = site.topicPrefix + QLatin1Char('/') + site.sensorId + QLatin1Char('/');
    const QString node = nodeId(site.sensorId);
    const QJsonObject device {{QStringLiteral("identifiers"), QJsonArray {node}},
        {QStringLiteral("name"), site.sensorId}, {QStringLiteral("manufacturer"), QStringLiteral("VELTRAK")},
        {QStringLiteral("model"), QStringLiteral("VELTRAK ") + site.model.toUpper()},
        {QStringLiteral("sw_version"), QStringLiteral(VELTRAK_VERSION)}};
    QList<Config> out;
    auto add = [&](const char* component, const char* object, const QString& name, QJsonObject config) {
        config.insert(QStringLiteral("name"), name);
        config.insert(QStringLiteral("unique_id"), node + QLatin1Char('_') + QLatin1String(object));
        config.insert(QStringLiteral("availability_topic"), base + QStringLiteral("status"));
        config.insert(QStringLiteral("payload_available"), QStringLiteral("online"));
        config.insert(QStringLiteral("payload_not_available"), QStringLiteral("offline"));
        config.insert(QStringLiteral("device"), device);
        out.append({site.discoveryPrefix + QLatin1Char('/') + QLatin1String(component) + QLatin1Char('/') + node
                + QLatin1Char('/') + QLatin1String(object) + QStringLiteral("/config"),
            QJsonDocument(config).toJson(QJsonDocument::Compact)});
    };
    auto measurement = [&](const char* field, const QString& name, const QString& unit, const QString& deviceClass) {
        QJsonObject config {{QStringLiteral("state_topic"), base + QStringLiteral("reading")},
            {QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(QLatin1String(field))},
            {QStringLiteral("state_class"), QStringLiteral("measurement")}};
        if (!unit.isEmpty())
            config.insert(QStringLiteral("unit_of_measurement"), unit);
        if (!deviceClass.isEmpty())
            config.insert(QStringLiteral("device_class"), deviceClass);
        add("sensor", field, name, config);
    };
    const QString angle = site.degrees ? QStringLiteral("°") : QString();
    measurement("pitch", QStringLiteral("Pitch"), angle, QString());
    measurement("roll", QStringLiteral("Roll"), angle, QString());
    measurement("temperature", QStringLiteral("Temperature"), QStringLiteral("°C"), QStringLiteral("temperature"));
    if (site.withChange) {
        measurement("pitch_change", QStringLiteral("Pitch change"), angle, QString());
        measurement("roll_change", QStringLiteral("Roll change"), angle, QString());
    }
    for (const char* axis : {"pitch", "roll"}) {
        add("binary_sensor", axis == QLatin1String("pitch") ? "pitch_alarm" : "roll_alarm",
            QStringLiteral("%1 alarm")
                .arg(axis == QLatin1String("pitch") ? QStringLiteral("Pitch") : QStringLiteral("Roll")),
            {{QStringLiteral("state_topic"), base + QStringLiteral("alarm/state")},
                {QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(QLatin1String(axis))},
                {QStringLiteral("payload_on"), QStringLiteral("raised")},
                {QStringLiteral("payload_off"), QStringLiteral("ok")},
                {QStringLiteral("device_class"), QStringLiteral("problem")}});
    }
    add("binary_sensor", "sensor", QStringLiteral("Sensor"),
        {{QStringLiteral("state_topic"), base + QStringLiteral("sensor")},
            {QStringLiteral("payload_on"), QStringLiteral("connected")},
            {QStringLiteral("payload_off"), QStringLiteral("lost")},
            {QStringLiteral("device_class"), QStringLiteral("connectivity")}});
    return out;
}

} // namespace discovery
