#pragma once

#include "core/alarm.h"
#include "core/interval.h"
#include "core/presets.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// The headless logger's exit codes, also listed in its help.
namespace loggerexit {
inline constexpr int Clean = 0; // stopped by a signal or at the end of --duration
inline constexpr int Failure = 1; // the device could not be used, or a write failed
inline constexpr int BadOptions = 2; // bad options, config file or coefficient file
} // namespace loggerexit

// Stored for the publisher; only the form of each value is checked here.
struct MqttOptions {
    QString host; // empty: no publishing
    std::optional<int> port; // none: the default port for plain or TLS connections
    QString topicPrefix = QStringLiteral("veltrak");
    QString sensorId; // empty: the publisher chooses
    int qos = 1;
    std::optional<int> publishIntervalMs; // none: every reading
    int queueSize = 10000;
    QString user;
    QString passwordFile;
    QString caFile;
    bool insecure = false; // a password may travel without TLS
};

struct LoggerOptions {
    QString device;
    std::optional<Model> model = Model::Z1; // std::nullopt: custom, read from coefficientsFile
    QString coefficientsFile;
    int intervalMs = interval::Default;
    QString csvPath; // "-": standard output, also when no other output is chosen
    QString csvDir; // daily files, see csvlog::DayRoller
    QString kvddtPath;
    std::optional<double> durationS; // none: until a signal
    int lostAfter = 5; // watchdog ticks without a reply
    AlarmSettings alarm; // enabled when --alarm-pitch or --alarm-roll is above 0
    MqttOptions mqtt;
    QString configFile;
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

} // namespace loggeroptions
