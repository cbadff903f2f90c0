#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Home Assistant's MQTT discovery: retained configurations that make the
// sensor appear on a dashboard without any YAML. Values come from the
// logger's own topics (the reading JSON, the alarm state, the sensor state),
// availability from its status topic.
namespace discovery {

struct Site {
    QString discoveryPrefix = QStringLiteral("homeassistant");
    QString topicPrefix; // the logger's, e.g. "veltrak"
    QString sensorId;
    QString model; // e.g. "z1"
    bool degrees = true; // angles in degrees (not counts)
    bool withChange = false; // a reference zero: change since then
};

struct Config {
    QString topic; // <discovery prefix>/<component>/<node>/<object>/config
    QByteArray payload; // JSON
};

QList<Config> configs(const Site& site);

} // namespace discovery
