// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/loggeroptions.h"

#include "core/numberformat.h"
#include "core/safefile.h"
#include "logger/topicrules.h"

#include <QCommandLineParser>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace loggeroptions {

namespace {

// A config file is a few lines; a bigger one is not what the operator meant
// to pass, and reading a device or FIFO to its end could take forever.
constexpr qint64 MaxConfigBytes = qint64(64) * 1024;
constexpr int MaxHoldMs = 24 * 60 * 60 * 1000;
constexpr qint64 MaxDurationS = 1'000'000'000; // keeps the duration in ms well inside qint64

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Plain decimal notation only, "." as the point: no exponent, hex, "inf" or
// locale forms, which would let a typo pass as some other number.
std::optional<double> decimal(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const bool sign = i == 0 && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'));
        if (!sign && !isAsciiDigit(t[i]) && t[i] != QLatin1Char('.'))
            return std::nullopt;
    }
    bool ok = false;
    const double value = t.toDouble(&ok); // C locale whatever the user's
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<int> whole(const QString& text, int minimum, int maximum)
{
    QString t = text.trimmed();
    if (t.startsWith(QLatin1Char('+')))
        t.remove(0, 1);
    if (t.isEmpty() || t.size() > 10 || !std::all_of(t.cbegin(), t.cend(), isAsciiDigit))
        return std::nullopt;
    const qint64 value = t.toLongLong();
    if (value < minimum || value > maximum)
        return std::nullopt;
    return int(value);
}

const char* const DurationExpected = "a duration from 100 ms to 24 h: milliseconds, or a number with ms, s, min or h";

// A plain decimal number times `scale` in whole thousandths of it, counted
// in integers so that "1.001" seconds is exactly 1001 ms (in floating point
// it lands just off a whole number); std::nullopt for a sign, a second point,
// anything but digits, too many digits, or a result that is not whole.
// `roundUp`: a remainder rounds up to the next whole unit instead.
std::optional<qint64> scaledWhole(const QString& text, qint64 scale, bool roundUp = false)
{
    QString t = text.trimmed();
    if (t.startsWith(QLatin1Char('+')))
        t.remove(0, 1);
    const qsizetype point = t.indexOf(QLatin1Char('.'));
    const QString whole = point < 0 ? t : t.left(point);
    const QString fraction = point < 0 ? QString() : t.mid(point + 1);
    const auto digits = [](const QString& d) { return std::all_of(d.cbegin(), d.cend(), isAsciiDigit); };
    if ((whole.isEmpty() && fraction.isEmpty()) || whole.size() > 12 || fraction.size() > 12 || !digits(whole)
        || !digits(fraction) || (point >= 0 && fraction.isEmpty() && whole.isEmpty()))
        return std::nullopt;
    qint64 denominator = 1;
    for (qsizetype i = 0; i < fraction.size(); ++i)
        denominator *= 10;
    const qint64 numerator = (whole.toLongLong() * denominator + fraction.toLongLong()) * scale;
    if (numerator % denominator != 0 && !roundUp)
        return std::nullopt;
    return numerator / denominator + (numerator % denominator != 0 ? 1 : 0);
}

// "1000", "500ms", "1.5s", "10min", "1h": whole milliseconds from 100 ms to
// 24 h. Only these units: "m" could be minutes or metres, "1e3" a typo.
bool setDuration(int& target, const QString& text)
{
    static const std::pair<const char*, qint64> units[] = {{"ms", 1}, {"min", 60'000}, {"s", 1000}, {"h", 3'600'000}};
    QString t = text.trimmed().toLower();
    qint64 scale = 1;
    for (const auto& [unit, ms] : units) {
        if (t.endsWith(QLatin1String(unit))) {
            t.chop(qsizetype(std::strlen(unit)));
            scale = ms;
            break;
        }
    }
    const std::optional<qint64> ms = scaledWhole(t, scale);
    if (!ms || *ms < interval::Minimum || *ms > MaxHoldMs)
        return false;
    target = int(*ms);
    return true;
}

bool setDuration(std::optional<int>& target, const QString& text)
{
    int ms = 0;
    if (!setDuration(ms, text))
        return false;
    target = ms;
    return true;
}

// One of two words, in any case: `target` is whether it was `on`.
bool setChoice(bool& target, const QString& text, const char* off, const char* on)
{
    const QString t = text.trimmed().toLower();
    if (t != QLatin1String(off) && t != QLatin1String(on))
        return false;
    target = t == QLatin1String(on);
    return true;
}

bool setWhole(int& target, const QString& text, int minimum, int maximum)
{
    const std::optional<int> value = whole(text, minimum, maximum);
    if (value)
        target = *value;
    return value.has_value();
}

bool setLimit(double& target, const QString& text)
{
    const std::optional<double> value = decimal(text);
    if (!value || *value < 0.0)
        return false;
    target = *value;
    return true;
}

bool setText(QString& target, const QString& text)
{
    if (text.trimmed().isEmpty())
        return false;
    target = text;
    return true;
}

bool setBool(bool& target, const QString& text)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("yes") || t == QLatin1String("on") || t == QLatin1String("1"))
        target = true;
    else if (t == QLatin1String("false") || t == QLatin1String("no") || t == QLatin1String("off")
        || t == QLatin1String("0"))
        target = false;
    else
        return false;
    return true;
}

bool isHostChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_');
}

bool isIpv6Char(QChar c)
{
    return isAsciiDigit(c) || (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'))
        || c == QLatin1Char(':') || c == QLatin1Char('.');
}

// HOST, HOST:PORT, [IPV6] or [IPV6]:PORT. A bare IPv6 address is refused:
// its last group could not be told from a port.
bool setBroker(MqttOptions& mqtt, const QString& text)
{
    QString host;
    QString rest;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 2)
            return false;
        host = text.mid(1, close - 1);
        rest = text.mid(close + 1);
        if (!std::all_of(host.cbegin(), host.cend(), isIpv6Char) || !host.contains(QLatin1Char(':')))
            return false;
    } else {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        host = colon < 0 ? text : text.left(colon);
        rest = colon < 0 ? QString() : text.mid(colon);
        if (host.isEmpty() || host.startsWith(QLatin1Char('-')) || host.startsWith(QLatin1Char('.'))
            || !std::all_of(host.cbegin(), host.cend(), isHostChar))
            return false;
    }
    std::optional<int> port;
    if (!rest.isEmpty()) {
        if (!rest.startsWith(QLatin1Char(':')) || !(port = whole(rest.mid(1), 1, 65535)))
            return false;
    }
    mqtt.host = host;
    mqtt.port = port;
    return true;
}

bool setTopicPrefix(MqttOptions& mqtt, const QString& text)
{
    if (!topicrules::isPrefix(text))
        return false;
    mqtt.topicPrefix = text;
    return true;
}

bool setModel(LoggerOptions& o, const QString& text)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("z1"))
        o.model = Model::Z1;
    else if (t == QLatin1String("z2"))
        o.model = Model::Z2;
    else if (t == QLatin1String("z3"))
        o.model = Model::Z3;
    else if (t == QLatin1String("raw"))
        o.model = Model::Raw;
    else if (t == QLatin1String("custom"))
        o.model = std::nullopt;
    else
        return false;
    return true;
}

// Every message names the option and what it allows, as operators and
// scripts know them; the [logger] file shares the table.
struct Option {
    const char* name;
    const char* valueName; // nullptr: a flag, "true" on the command line
    const char* expected;
    const char* help;
    bool (*set)(LoggerOptions&, const QString&);
    bool inFile = true;
    const char* implied = nullptr; // the value when none follows on the command line
};

// One table for parsing, the config file keys and the help, so none of them
// can miss an option the others know.
const Option Options[] = {
    {"device", "PATH", "a serial device path", "the serial device of the inclinometer (required)",
        [](LoggerOptions& o, const QString& v) { return setText(o.device, v); }},
    {"model", "MODEL", "z1, z2, z3, raw or custom",
        "the sensor model: z1 (default), z2, z3, raw (counts),\ncustom (needs --coefficients)", setModel},
    {"coefficients", "FILE", "a coefficient file path",
        "the linear, square and cube coefficients for --model custom,\nin the format of kvdcoef.txt",
        [](LoggerOptions& o, const QString& v) { return setText(o.coefficientsFile, v); }},
    {"interval", "DURATION", DurationExpected,
        "time between rows (default 1000): milliseconds, or with a unit:\n500ms, 10s, 1min, 10min, 1h",
        [](LoggerOptions& o, const QString& v) { return setDuration(o.intervalMs, v); }},
    {"aggregate", "mean|last", "mean or last",
        "a row holds the means, minima and maxima of the interval's\ncycles (mean, the default), or its last cycle",
        [](LoggerOptions& o, const QString& v) { return setChoice(o.aggregateLast, v, "mean", "last"); }},
    {"align", "clock|start", "clock or start",
        "rows of 1 s and longer close at whole multiples of the interval\nfrom midnight UTC (clock, the default), or "
        "counted from the\nstart (start)",
        [](LoggerOptions& o, const QString& v) { return setChoice(o.alignStart, v, "clock", "start"); }},
    {"sample-every", "DURATION", DurationExpected,
        "poll one cycle per DURATION and leave the line quiet in between\n(default: poll continuously)",
        [](LoggerOptions& o, const QString& v) { return setDuration(o.sampleEveryMs, v); }},
    {"reference", "FILE", "a file path",
        "the reference zero: rows gain the change since it; taken from\nthe first interval when FILE does not exist",
        [](LoggerOptions& o, const QString& v) { return setText(o.referenceFile, v); }},
    {"alarm-on", "angle|change", "angle or change",
        "apply the alarm limits to the angle (default) or to the change\nsince the reference (needs --reference)",
        [](LoggerOptions& o, const QString& v) { return setChoice(o.alarmOnChange, v, "angle", "change"); }},
    // --csv and --csv-dir are two forms of the one CSV output: the later
    // one, or the command line's over the config file's, wins.
    {"csv", "PATH", "a file path, or - for standard output",
        "append CSV rows to PATH; - is standard output, also the output\nwhen none of --csv, --csv-dir, --kvddt is "
        "given",
        [](LoggerOptions& o, const QString& v) {
            o.csvDir.clear();
            return setText(o.csvPath, v);
        }},
    {"csv-dir", "DIR", "a directory", "write CSV into DIR/YYYY-MM-DD.csv, a new file at midnight UTC",
        [](LoggerOptions& o, const QString& v) {
            o.csvPath.clear();
            return setText(o.csvDir, v);
        }},
    {"keep-days", "N", "a whole number from 1 to 36500",
        "with --csv-dir, remove day files (YYYY-MM-DD*.csv) older than N\ndays at start and after each midnight "
        "(default: keep all)",
        [](LoggerOptions& o, const QString& v) {
            o.keepDays = whole(v, 1, 36500);
            return o.keepDays.has_value();
        }},
    {"kvddt", "PATH", "a file path", "record to PATH in the format of the window's kvddt.txt",
        [](LoggerOptions& o, const QString& v) { return setText(o.kvddtPath, v); }},
    {"duration", "SECONDS", "seconds above 0 and up to 1000000000, fractions allowed",
        "stop cleanly after SECONDS (default: run until SIGINT or SIGTERM)",
        [](LoggerOptions& o, const QString& v) {
            // Exactly, in integers; a fraction of a millisecond rounds up.
            const std::optional<qint64> ms = scaledWhole(v, 1000, true);
            if (!ms || *ms <= 0 || *ms > MaxDurationS * 1000)
                return false;
            o.durationMs = ms;
            return true;
        }},
    {"lost-after", "N", "a whole number from 1 to 3600",
        "report the device lost after N seconds without a valid reply\n(default 5)",
        [](LoggerOptions& o, const QString& v) { return setWhole(o.lostAfter, v, 1, 3600); }},
    {"alarm-pitch", "DEG", "a limit of 0 (off) or more",
        "raise the pitch alarm when |pitch| exceeds DEG (default 0: off)",
        [](LoggerOptions& o, const QString& v) { return setLimit(o.alarm.pitchLimit, v); }},
    {"alarm-roll", "DEG", "a limit of 0 (off) or more", "raise the roll alarm when |roll| exceeds DEG (default 0: off)",
        [](LoggerOptions& o, const QString& v) { return setLimit(o.alarm.rollLimit, v); }},
    {"alarm-hysteresis", "DEG", "0 or more, less than each alarm limit",
        "a raised alarm clears only below its limit minus DEG (default 0.1)",
        [](LoggerOptions& o, const QString& v) { return setLimit(o.alarm.hysteresis, v); }},
    {"alarm-hold", "MS", "whole milliseconds from 0 to 86400000",
        "raise or clear only after the condition held for MS (default 0);\nmissing readings restart the hold",
        [](LoggerOptions& o, const QString& v) { return setWhole(o.alarm.holdMs, v, 0, MaxHoldMs); }},
    {"mqtt", "HOST[:PORT]", "HOST, HOST:PORT or [IPV6]:PORT with PORT from 1 to 65535",
        "publish readings to this MQTT broker",
        [](LoggerOptions& o, const QString& v) { return setBroker(o.mqtt, v.trimmed()); }},
    {"topic-prefix", "TOPIC", topicrules::PrefixRule, "first levels of the published topics (default veltrak)",
        [](LoggerOptions& o, const QString& v) { return setTopicPrefix(o.mqtt, v); }},
    {"ha-discovery", "[PREFIX]", topicrules::PrefixRule,
        "publish Home Assistant discovery configurations under PREFIX\n(default homeassistant) on each connect",
        [](LoggerOptions& o, const QString& v) {
            MqttOptions discovery;
            if (!setTopicPrefix(discovery, v.trimmed()))
                return false;
            o.mqtt.haDiscovery = discovery.topicPrefix;
            return true;
        },
        true, "homeassistant"},
    {"sensor-id", "ID", topicrules::LevelRule, "the sensor's topic level",
        [](LoggerOptions& o, const QString& v) {
            if (!topicrules::isLevel(v))
                return false;
            o.mqtt.sensorId = v;
            return true;
        }},
    {"qos", "0|1", "0 or 1", "MQTT quality of service (default 1)",
        [](LoggerOptions& o, const QString& v) { return setWhole(o.mqtt.qos, v, 0, 1); }},
    {"publish-interval", "DURATION", DurationExpected, "publish a summary once per DURATION (default: each row)",
        [](LoggerOptions& o, const QString& v) { return setDuration(o.mqtt.publishIntervalMs, v); }},
    {"queue-size", "N", "a whole number from 1 to 10000000",
        "readings kept while the broker is unreachable (default 10000)",
        [](LoggerOptions& o, const QString& v) { return setWhole(o.mqtt.queueSize, v, 1, 10000000); }},
    {"mqtt-user", "NAME", "a user name", "MQTT user name",
        [](LoggerOptions& o, const QString& v) { return setText(o.mqtt.user, v); }},
    {"mqtt-password-file", "FILE", "a file path", "read the MQTT password from FILE (kept off the command line)",
        [](LoggerOptions& o, const QString& v) { return setText(o.mqtt.passwordFile, v); }},
    {"mqtt-cafile", "FILE", "a file path", "connect with TLS, trusting the certificate authorities in FILE",
        [](LoggerOptions& o, const QString& v) { return setText(o.mqtt.caFile, v); }},
    {"mqtt-insecure", nullptr, "true or false", "allow --mqtt-user with a password on a connection without TLS",
        [](LoggerOptions& o, const QString& v) { return setBool(o.mqtt.insecure, v); }},
    {"config", "FILE", "a file path", "read options from the [logger] section of the INI file FILE",
        [](LoggerOptions& o, const QString& v) { return setText(o.configFile, v); }, false},
    {"forget", nullptr, "true or false",
        "remove this sensor's retained messages (readings, states and\nHome Assistant configurations) from the broker "
        "and exit",
        [](LoggerOptions& o, const QString& v) { return setBool(o.forget, v); }, false},
    {"list-ports", nullptr, "", "print the serial devices found, with their stable names",
        [](LoggerOptions& o, const QString&) { return o.listPorts = true; }, false},
    {"help", nullptr, "", "print this help", [](LoggerOptions& o, const QString&) { return o.help = true; }, false},
    {"version", nullptr, "", "print the version", [](LoggerOptions& o, const QString&) { return o.version = true; },
        false},
};

const Option* find(const QString& name)
{
    for (const Option& option : Options) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

QString badValue(const QString& where, const Option& option, const QString& value)
{
    return QStringLiteral("%1: expected %2, got '%3'").arg(where, QLatin1String(option.expected), value);
}

std::variant<QByteArray, QString> readConfig(const QString& path)
{
    auto content = safefile::read(path, MaxConfigBytes);
    if (const QString* error = std::get_if<QString>(&content))
        return QStringLiteral("--config: cannot read '%1': %2").arg(path, *error);
    return content;
}

std::optional<QString> crossCheck(LoggerOptions& o)
{
    if (o.forget && o.mqtt.host.isEmpty())
        return QStringLiteral("--forget needs --mqtt HOST");
    // Only the sensor id is needed to forget a sensor; without one, it is
    // made from the device's name as when logging.
    if (o.device.isEmpty() && !(o.forget && !o.mqtt.sensorId.isEmpty()))
        return QStringLiteral("--device is required: the serial device of the inclinometer, e.g. /dev/ttyUSB0");
    if (!o.mqtt.haDiscovery.isEmpty() && o.mqtt.host.isEmpty())
        return QStringLiteral("--ha-discovery needs --mqtt HOST");
    if (o.alarmOnChange && o.referenceFile.isEmpty())
        return QStringLiteral("--alarm-on change needs --reference FILE");
    if (!o.model && o.coefficientsFile.isEmpty())
        return QStringLiteral("--model custom needs --coefficients FILE");
    if (o.model && !o.coefficientsFile.isEmpty())
        return QStringLiteral("--coefficients: only allowed with --model custom");
    const struct {
        const char* name;
        double limit;
    } limits[] = {{"--alarm-pitch", o.alarm.pitchLimit}, {"--alarm-roll", o.alarm.rollLimit}};
    for (const auto& l : limits) {
        // Not below the limit, a raised alarm could never clear.
        if (l.limit > 0.0 && o.alarm.hysteresis >= l.limit)
            return QStringLiteral("--alarm-hysteresis: expected less than %1 (%2), got '%3'")
                .arg(QLatin1String(l.name), numfmt::plainDecimal(l.limit), numfmt::plainDecimal(o.alarm.hysteresis));
    }
    o.alarm.enabled = o.alarm.pitchLimit > 0.0 || o.alarm.rollLimit > 0.0;
    if (o.keepDays && o.csvDir.isEmpty())
        return QStringLiteral("--keep-days needs --csv-dir DIR");
    if (o.csvPath.isEmpty() && o.csvDir.isEmpty() && o.kvddtPath.isEmpty())
        o.csvPath = StandardOutput;
    return std::nullopt;
}

} // namespace

std::variant<QList<IniEntry>, QString> parseIni(const QByteArray& content, const QString& fileName)
{
    QList<IniEntry> entries;
    QString text = QString::fromUtf8(content);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const QStringList lines = text.split(QLatin1Char('\n'));
    enum { None, Logger, Other } section = None;
    bool sawLogger = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        const int number = int(i + 1);
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            const bool logger
                = line.mid(1, line.size() - 2).trimmed().compare(QLatin1String("logger"), Qt::CaseInsensitive) == 0;
            section = logger ? Logger : Other;
            sawLogger = sawLogger || logger;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (section == None || eq <= 0) {
            // A line here means a forgotten section header or a typo; taking
            // it silently would run with options the operator did not set.
            return QStringLiteral("%1 line %2: expected [logger] or key=value, got '%3'")
                .arg(fileName)
                .arg(number)
                .arg(line);
        }
        if (section != Logger)
            continue;
        const QString key = line.left(eq).trimmed();
        for (const IniEntry& e : std::as_const(entries)) {
            if (e.key == key)
                return QStringLiteral("%1 line %2: '%3' already set on line %4")
                    .arg(fileName)
                    .arg(number)
                    .arg(key)
                    .arg(e.line);
        }
        entries.append({key, line.mid(eq + 1).trimmed(), number});
    }
    if (!sawLogger)
        return QStringLiteral("%1: no [logger] section").arg(fileName);
    return entries;
}

std::variant<LoggerOptions, QString> parse(const QStringList& args)
{
    // QCommandLineParser finds the options and their values. What it cannot
    // express is settled on the arguments first: --ha-discovery's optional
    // value, a value option followed by another option (a forgotten value,
    // not a device called "--interval"), and our own message for a flag
    // given a value or a word with one dash.
    const QString unexpected = QStringLiteral("unexpected argument '%1'; options start with --, see --help");
    QStringList words {QStringLiteral("veltrak-logger")};
    for (qsizetype i = 0; i < args.size(); ++i) {
        words << args[i];
        if (!args[i].startsWith(QLatin1String("--"))) {
            if (args[i].startsWith(QLatin1Char('-')) && args[i] != QLatin1String("-h")
                && args[i] != QLatin1String("-v"))
                return unexpected.arg(args[i]);
            continue;
        }
        const qsizetype eq = args[i].indexOf(QLatin1Char('='));
        const QString name = args[i].mid(2, eq < 0 ? -1 : eq - 2);
        const Option* option = find(name);
        if (!option)
            continue;
        if (!option->valueName && eq >= 0)
            return QStringLiteral("--%1: takes no value, got '%2'").arg(name, args[i].mid(eq + 1));
        if (!option->valueName || eq >= 0)
            continue;
        if (i + 1 < args.size() && !args[i + 1].startsWith(QLatin1String("--")))
            words << args[++i];
        else if (option->implied)
            words.last() += QLatin1Char('=') + QLatin1String(option->implied);
        else
            return QStringLiteral("--%1: missing value, expected %2").arg(name, QLatin1String(option->expected));
    }
    QCommandLineParser parser;
    for (const Option& option : Options) {
        QStringList names {QLatin1String(option.name)};
        if (option.name == std::string_view("help") || option.name == std::string_view("version"))
            names.prepend(QString(QLatin1Char(option.name[0])));
        parser.addOption(option.valueName ? QCommandLineOption(names, QString(), QLatin1String(option.valueName))
                                          : QCommandLineOption(names));
    }
    if (!parser.parse(words)) {
        // With the checks above, an unknown option is the only fault left.
        const QString name = parser.unknownOptionNames().value(0);
        if (name == QLatin1String("mqtt-password"))
            return QStringLiteral("unknown option '--mqtt-password': the password is never taken from the command "
                                  "line; put it in a file for --mqtt-password-file, or in VELTRAK_MQTT_PASSWORD");
        return QStringLiteral("unknown option '--%1', see --help").arg(name);
    }
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty())
        return unexpected.arg(extra.first());

    // The options in the order given, each with its own value, so that a
    // later one can override an earlier one.
    struct Given {
        const Option* option;
        QString value;
        bool clears; // an empty value: back to the default
    };
    QList<Given> given;
    QHash<QString, qsizetype> taken;
    for (const QString& name : parser.optionNames()) {
        const Option* option = find(name == QLatin1String("h") ? QStringLiteral("help")
                : name == QLatin1String("v")                   ? QStringLiteral("version")
                                                               : name);
        const QString value = option->valueName ? parser.values(name).value(taken[name]++) : QStringLiteral("true");
        given.append({option, value, option->valueName && value.trimmed().isEmpty()});
    }

    // An empty value on the command line clears the option, the config
    // file's value included: the default applies.
    QSet<const Option*> cleared;
    for (const Given& g : std::as_const(given)) {
        if (g.clears)
            cleared.insert(g.option);
        else
            cleared.remove(g.option);
    }

    LoggerOptions options;
    for (const Given& g : std::as_const(given)) {
        // The file is read first, so that the command line can override it.
        if (g.option == find(QStringLiteral("config")) && !g.option->set(options, g.value))
            return badValue(QStringLiteral("--config"), *g.option, g.value);
    }
    if (!options.configFile.isEmpty()) {
        const auto content = readConfig(options.configFile);
        if (const QString* error = std::get_if<QString>(&content))
            return *error;
        const auto entries = parseIni(std::get<QByteArray>(content), options.configFile);
        if (const QString* error = std::get_if<QString>(&entries))
            return *error;
        for (const IniEntry& e : std::get<QList<IniEntry>>(entries)) {
            const QString where = QStringLiteral("%1 line %2").arg(options.configFile).arg(e.line);
            const Option* option = find(e.key);
            if (!option || !option->inFile)
                return QStringLiteral("%1: unknown key '%2'").arg(where, e.key);
            if (cleared.contains(option))
                continue;
            if (!option->set(options, e.value))
                return badValue(QStringLiteral("%1: %2").arg(where, e.key), *option, e.value);
        }
    }
    for (const Given& g : std::as_const(given)) {
        // An empty value only clears: "--kvddt= --kvddt FILE" is FILE.
        if (g.clears || cleared.contains(g.option))
            continue;
        if (!g.option->set(options, g.value))
            return badValue(QStringLiteral("--") + QLatin1String(g.option->name), *g.option, g.value);
    }
    if (options.help || options.version || options.listPorts)
        return options;
    if (const std::optional<QString> error = crossCheck(options))
        return *error;
    return options;
}

QString modelName(Model model)
{
    switch (model) {
    case Model::Z1:
        return QStringLiteral("z1");
    case Model::Z2:
        return QStringLiteral("z2");
    case Model::Z3:
        return QStringLiteral("z3");
    case Model::Raw:
        break;
    }
    return QStringLiteral("raw");
}

QString usageText()
{
    QString text = QStringLiteral("Usage: veltrak-logger --device PATH [options]\n"
                                  "Logs the readings of a VELTRAK dual-axis inclinometer without a window.\n\n"
                                  "Options (--name VALUE or --name=VALUE; the command line overrides --config):\n");
    constexpr int Column = 30;
    for (const Option& option : Options) {
        QString left = QStringLiteral("  --") + QLatin1String(option.name);
        if (option.valueName)
            left += QLatin1Char(' ') + QLatin1String(option.valueName);
        // Two blanks at least between an option and its text, which is how
        // help2man tells them apart for the manual page.
        left = left.size() > Column - 2 ? left + QLatin1Char('\n') + QString(Column, QLatin1Char(' '))
                                        : left.leftJustified(Column);
        QString help = QLatin1String(option.help);
        help.replace(QLatin1Char('\n'), QLatin1Char('\n') + QString(Column, QLatin1Char(' ')));
        text += left + help + QLatin1Char('\n');
    }
    text += QStringLiteral("  -h, -v                      short for --help and --version\n\n"
                           "Config file: a [logger] section of key=value lines, the keys being the long\n"
                           "option names without dashes (device=/dev/ttyUSB0, alarm-pitch=5,\n"
                           "mqtt-insecure=true). Values are taken literally to the line end; lines\n"
                           "starting with ; or # are comments.\n\n"
                           "CSV columns: time (ISO 8601 UTC), elapsed (s), pitch, roll, temperature\n"
                           "(the interval's means), unit, alarm (ok, pitch, roll or pitch;roll),\n"
                           "pitch_min, pitch_max, roll_min, roll_max, samples (cycles in the interval),\n"
                           "and with --reference pitch_change, roll_change. Events and alarm changes go\n"
                           "to standard error.\n\n"
                           "An empty value on the command line (--csv-dir=) clears the option.\n\n"
                           "Signals: SIGTERM or SIGINT stop cleanly; SIGHUP opens the output files again\n"
                           "at their paths (after a rotation); SIGUSR1 prints a status line.\n\n"
                           "Exit status:\n");
    for (const auto& [code, meaning] : loggerexit::Meanings)
        text += QStringLiteral("  %1  %2\n").arg(code).arg(QLatin1String(meaning));
    return text;
}

QString modelName(const LoggerOptions& options)
{
    return options.model ? modelName(*options.model) : QStringLiteral("custom ") + options.coefficientsFile;
}

} // namespace loggeroptions
