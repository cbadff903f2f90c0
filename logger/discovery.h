// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Home Assistant's MQTT discovery: retained configurations that make the
// sensor appear on a dashboard without any YAML. Values come from the
// logger's own topics (the reading JSON, the alarm state, the sensor state);
// a reading or an alarm is available only while the logger runs (`status`)
// and its sensor answers (`sensor`), so a lost sensor never shows its last
// tilt as if it were current.
namespace discovery {

struct Site {
    QString discoveryPrefix = QStringLiteral("homeassistant");
    QString topicPrefix; // the logger's, e.g. "veltrak"
    QString sensorId;
    QString model; // e.g. "z1"
    bool degrees = true; // angles in degrees (not counts)
    bool withChange = false; // a reference zero: change since then
    bool pitchAlarm = false, rollAlarm = false; // an axis with a limit has an alarm entity
    int expireAfterS = 0; // readings older than this are unknown; 0: never
};

struct Config {
    QString topic; // <discovery prefix>/<component>/<node>/<object>/config
    QByteArray payload; // JSON; empty removes the entity
};

// The node id: "veltrak_" and the sensor id, every character outside
// [a-zA-Z0-9_-] made "_" and then, when one was, a short hash of the whole
// id added, so that "wall-north" and "wall.north" stay two devices.
QString nodeId(const QString& sensorId);

// The configurations of the entities this site has.
QList<Config> configs(const Site& site);
// An empty configuration for each entity this site could have but has not
// (a removed reference, an axis without a limit): Home Assistant removes
// them. With `all`, for every entity: the sensor taken out of service.
QList<Config> removals(const Site& site, bool all = false);

} // namespace discovery
