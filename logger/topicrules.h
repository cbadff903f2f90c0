// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What the logger's MQTT topics may be made of, in one place: the options
// refuse what breaks these rules with the rule's own words, the publisher
// refuses settings that break them, and a sensor id the logger makes up
// itself is made to keep them.
namespace topicrules {

// MQTT carries a topic of at most this many bytes; a longer one is dropped
// by the broker without a word, every time.
inline constexpr qsizetype MaxTopicBytes = 65535;

// The rules as --help and the option errors word them.
inline constexpr const char* PrefixRule
    = "topic levels separated by /, without +, #, blanks or empty levels, not starting with $";
inline constexpr const char* LevelRule = "one topic level: no /, +, # or blanks";

// One level: not empty, no "/", no wildcard ("+", "#") that would make a
// subscription of it, no blank or control character that shells and
// dashboards mangle.
bool isLevel(const QString& level);

// Levels separated by "/", not starting with "$": brokers keep such topics
// for themselves and drop what clients publish there.
bool isPrefix(const QString& prefix);

// `text` with every character a level may not hold made "_", for an id made
// from a host and device name; "_" when nothing is left.
QString levelFrom(QString text);

} // namespace topicrules
