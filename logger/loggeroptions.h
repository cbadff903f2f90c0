// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/alarm.h"
#include "core/interval.h"
#include "core/presets.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <variant>

// The headless logger's exit codes. Their meanings are written here only;
// --help prints them.
namespace loggerexit {
inline constexpr int Clean = 0;
inline constexpr int Failure = 1;
inline constexpr int BadOptions = 2;
inline constexpr std::pair<int, const char*> Meanings[] = {
    {Clean, "stopped by SIGINT or SIGTERM, or at the end of --duration"},
    {Failure, "an output (a file or standard output) could not be opened or written"},
    {BadOptions, "bad options, config file, coefficient, reference, password or CA file"},
};
} // namespace loggerexit

// Stored for the publisher; only the form of each value is checked here.
struct MqttOptions {
    QString host; // empty: no publishing
    std::optional<int> port; // none: the default port for plain or TLS connections
    QString topicPrefix = QStringLiteral("veltrak");
    QString sensorId; // empty: the publisher chooses
    int qos = 1;
    std::optional<int> publishIntervalMs; // none: with each row
    int queueSize = 10000;
    QString user;
    QString passwordFile;
    QString caFile;
    bool insecure = false; // a password may travel without TLS
    QString haDiscovery; // Home Assistant's discovery prefix; empty: none
};

struct LoggerOptions {
    QString device;
    std::optional<Model> model = Model::Z1; // std::nullopt: custom, read from coefficientsFile
    QString coefficientsFile;
    int intervalMs = interval::Default;
    bool aggregateLast = false; // a row from the interval's last cycle instead of its means
    bool alignStart = false; // intervals counted from the start instead of on the clock
    std::optional<int> sampleEveryMs; // none: poll continuously
    QString referenceFile; // the reference zero; empty: no change columns
    bool alarmOnChange = false; // the alarm limits apply to the change since the reference
    QString csvPath; // "-": standard output, also when no other output is chosen
    QString csvDir; // daily files, see csvlog::DayRoller
    std::optional<int> keepDays; // with csvDir: day files older than this are removed
    QString kvddtPath;
    std::optional<qint64> durationMs; // none: until a signal
    int lostAfter = 5; // seconds without a complete cycle before the device counts as lost
    AlarmSettings alarm; // enabled when --alarm-pitch or --alarm-roll is above 0
    MqttOptions mqtt;
    QString configFile;
    bool listPorts = false;
    bool forget = false; // clear this sensor's retained messages on the broker and exit
    bool help = false;
    bool version = false;
};

namespace loggeroptions {

inline const QString StandardOutput = QStringLiteral("-");

// `args` without the program name. Each option is "--name value" or
// "--name=value"; a value that itself starts with "--" needs the second
// form. A later option overrides an earlier one, and every command-line
// option overrides the --config file. With --help or --version, the options
// still must be well formed but nothing is required.
//
// An error names the option (or the config file, line and key) and what it
// allows, e.g. "--interval: expected whole milliseconds from 100 to 32767,
// got '50'".
std::variant<LoggerOptions, QString> parse(const QStringList& args);

struct IniEntry {
    QString key;
    QString value;
    int line;
    friend bool operator==(const IniEntry&, const IniEntry&) = default;
};

// The key=value lines of the [logger] section (its name in any case).
// Values are taken literally up to the line end, blanks around them
// trimmed: no quotes, escapes, lists or comments after a value, so a path
// with a comma or ";" stays whole. Lines starting with ";" or "#" are
// comments. Other sections are skipped; a key outside any section, a line
// without "=", a key given twice or a file without [logger] is an error
// naming `fileName` and the line.
std::variant<QList<IniEntry>, QString> parseIni(const QByteArray& content, const QString& fileName);

QString usageText();

// "z1", "z2", "z3" or "raw", as --model takes it.
QString modelName(Model model);
// The same, or "custom FILE" with coefficients from a file.
QString modelName(const LoggerOptions& options);

} // namespace loggeroptions
