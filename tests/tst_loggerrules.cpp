// The tilt alarm, the logger's CSV text and its options. Every table has an
// input and the expected text.
#include "core/alarm.h"
#include "logger/csvlog.h"
#include "logger/loggeroptions.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cmath>

namespace {
constexpr qint64 Dec7 = 1796613904123; // 2026-12-07T03:25:04.123Z
constexpr qint64 Day = 86400000;

QStringList words(const QString& text)
{
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

void columns()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
}

void row(const char* name, const QString& input, const QString& expected)
{
    QTest::newRow(name) << input << expected;
}

// Pitch and roll limits 5, hysteresis 0.1, unless "roll=3" or "hold=300"
// says otherwise. "p5.5@100" feeds pitch 5.5 at 100 ms, "r?@100" a missing
// roll, "lost@100" both missing. Out come the transitions, "p^5.5@100"
// raised, "rv-4@300" cleared, then the state.
QString runAlarm(const QString& script)
{
    AlarmSettings settings {true, 5.0, 5.0, 0.1, 0};
    QStringList out;
    for (const QString& step : words(script)) {
        if (step.startsWith("roll="))
            settings.rollLimit = step.mid(5).toDouble();
        else if (step.startsWith("hold="))
            settings.holdMs = step.mid(5).toInt();
    }
    AlarmRule rule(settings);
    for (const QString& step : words(script)) {
        const QString what = step.section('@', 0, 0);
        const qint64 t = step.section('@', 1).toLongLong();
        if (what == "lost")
            rule.missing();
        else if (!step.contains('='))
            if (const auto tr = rule.feed(what[0] == 'p' ? AlarmAxis::Pitch : AlarmAxis::Roll,
                    what[1] == '?' ? std::nullopt : std::optional(what.mid(1).toDouble()), t))
                out << QStringLiteral("%1%2%3@%4").arg(what[0]).arg(tr->raised ? '^' : 'v').arg(tr->value).arg(t);
    }
    return (out << rule.stateText()).join(' ');
}

// Each option as field=value, without blanks, for comparing a few at a time.
QStringList fieldsOf(const LoggerOptions& o)
{
    const auto n = [](auto v) { return QString::number(v); };
    const auto opt = [](auto v) { return v ? QString::number(*v) : QStringLiteral("none"); };
    const auto& a = o.alarm;
    const auto& m = o.mqtt;
    const QStringList mqtt {m.host, opt(m.port), m.topicPrefix, m.sensorId, n(m.qos), opt(m.publishIntervalMs),
        n(m.queueSize), m.user, m.passwordFile, m.caFile, n(m.insecure)};
    return {"device=" + o.device, "model=" + (o.model ? words("z1 z2 z3 raw")[int(*o.model)] : "custom"),
        "coefficients=" + o.coefficientsFile, "interval=" + n(o.intervalMs), "csv=" + o.csvPath, "csvDir=" + o.csvDir,
        "kvddt=" + o.kvddtPath, "duration=" + opt(o.durationS), "lostAfter=" + n(o.lostAfter), "help=" + n(o.help),
        "alarm=" + QStringList {n(a.enabled), n(a.pitchLimit), n(a.rollLimit), n(a.hysteresis), n(a.holdMs)}.join(':'),
        "mqtt=" + mqtt.join('|')};
}

// The fields `expected` names, or the error text.
QString outcome(const QStringList& args, const QString& expected)
{
    const auto parsed = loggeroptions::parse(args);
    if (const QString* error = std::get_if<QString>(&parsed))
        return *error;
    const QStringList fields = fieldsOf(std::get<LoggerOptions>(parsed));
    QStringList picked;
    for (const QString& e : words(expected))
        picked << fields.filter(QRegularExpression('^' + e.section('=', 0, 0) + '=')).value(0, e + '?');
    return picked.join(' ');
}
} // namespace

class TestLoggerRules : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // Every number below must come out with "." in spite of this.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // may be missing; harmless then
    }

    void alarm_data()
    {
        columns();
        row("immediate raise", "p4.9@0 p5.1@100", "p^5.1@100 pitch");
        row("at the limit is not above", "p5@0", "ok");
        row("hysteresis band keeps it", "p6@0 p4.95@100 p4.91@200", "p^6@0 pitch");
        row("below the band clears", "p6@0 p4.95@100 p4.85@200", "p^6@0 pv4.85@200 ok");
        row("hold delays raise", "hold=300 p6@0 p6@299 p7@300", "p^7@300 pitch");
        row("dip restarts raise hold", "hold=300 p6@0 p4@250 p6@260 p6@559 p6@560", "p^6@560 pitch");
        row("hold delays clear", "hold=300 p6@0 p6@300 p1@400 p1@699 p1@700", "p^6@300 pv1@700 ok");
        row("return restarts clear hold", "hold=300 p6@0 p6@300 p1@400 p6@500 p1@600 p1@899 p1@900",
            "p^6@300 pv1@900 ok");
        row("missing does not count", "hold=300 p6@0 p?@100 p6@200 p6@499 p6@500", "p^6@500 pitch");
        row("lost does not count", "hold=300 r6@0 lost@100 r6@200 r6@499 r6@500", "r^6@500 roll");
        row("missing does not clear", "p6@0 p?@100 lost@200 p?@90000", "p^6@0 pitch");
        row("NaN is missing", "hold=300 p6@0 pnan@300", "ok");
        row("clock stepping back", "hold=300 p6@1000 p6@0 p6@299 p6@300", "p^6@300 pitch");
        row("both axes", "roll=3 p4@0 r4@0 p-6@10", "r^4@0 p^-6@10 pitch;roll");
        row("negative uses magnitude", "r-5.5@0 r-4.95@100 r-4.5@200", "r^-5.5@0 rv-4.5@200 ok");
        row("roll off", "roll=0 r50@0 r-50@10", "ok");
    }
    void alarm()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(runAlarm(input), expected);
    }
    void alarmSettingsAndRows()
    {
        AlarmRule rule({true, 5.0, 5.0, 0.1, 0});
        QVERIFY(rule.feed(AlarmAxis::Pitch, 6, 0) && rule.feed(AlarmAxis::Roll, 6, 0));
        const auto cleared = rule.setSettings({true, 0.0, 5.0, 0.1, 0}, 50); // pitch now off
        QCOMPARE(cleared.size(), std::size_t(1));
        QCOMPARE(alarmcsv::row(0, cleared[0]), QStringLiteral("1970-01-01T00:00:00.000Z,pitch,cleared,"));
        QCOMPARE(rule.stateText(), QStringLiteral("roll"));
        QCOMPARE(rule.setSettings({false, 5.0, 5.0, 0.1, 0}, 60).size(), std::size_t(1));
        QVERIFY(!rule.feed(AlarmAxis::Pitch, 9, 70) && rule.stateText() == "ok");
        QCOMPARE(alarmcsv::header(), QStringLiteral("time,axis,state,value"));
        QCOMPARE(alarmcsv::row(Dec7, {AlarmAxis::Roll, true, -5.25, 1}),
            QStringLiteral("2026-12-07T03:25:04.123Z,roll,raised,-5.25"));
    }

    void csvRow_data()
    {
        columns(); // pitch|unit, and the fields after time and elapsed
        row("two decimals at least", "1.5|deg", "1.50,-0.25,23.40,deg,ok\r\n");
        row("six decimals at most", "1.23456789|deg", "1.234568,-0.25,23.40,deg,ok\r\n");
        row("no trailing noise", "0.30000000000000004|deg", "0.30,-0.25,23.40,deg,ok\r\n");
        row("no minus zero", "-0.0000001|deg", "0.00,-0.25,23.40,deg,ok\r\n");
        row("no reading", "nan|deg", ",-0.25,23.40,deg,ok\r\n");
        row("empty", "1|", "1.00,-0.25,23.40,,ok\r\n");
        row("semicolon", "1|a;b", "1.00,-0.25,23.40,a;b,ok\r\n");
        row("comma and quote", "1|mm, \"thin\"", "1.00,-0.25,23.40,\"mm, \"\"thin\"\"\",ok\r\n");
        row("CR", "1|a\rb", "1.00,-0.25,23.40,\"a\rb\",ok\r\n");
        row("LF", "1|a\nb", "1.00,-0.25,23.40,\"a\nb\",ok\r\n");
    }
    void csvRow()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const csvlog::Record r {
            Dec7, 12.3, input.section('|', 0, 0).toDouble(), -0.25, 23.4, input.section('|', 1), "ok"};
        QCOMPARE(csvlog::row(r), "2026-12-07T03:25:04.123Z,12.300," + expected);
        QCOMPARE(csvlog::header(), QStringLiteral("time,elapsed,pitch,roll,temperature,unit,alarm\r\n"));
    }
    void dayFiles()
    {
        const qint64 midnight = Dec7 - Dec7 % Day + Day; // 2026-12-08T00:00:00.000Z
        QCOMPARE(csvlog::dayFileName(0), QStringLiteral("1970-01-01.csv"));
        csvlog::DayRoller roller;
        QStringList due;
        for (const qint64 t : {Dec7, midnight - 1, midnight, midnight + Day - 1, midnight - 1})
            due << roller.due(t).value_or("-");
        QCOMPARE(due.join(' '), QStringLiteral("2026-12-07.csv - 2026-12-08.csv - 2026-12-07.csv"));
        QCOMPARE(csvlog::eventLine(Dec7, QStringLiteral("lost\rretry\nin 1 s\r\nok")),
            QStringLiteral("2026-12-07T03:25:04.123Z lost retry in 1 s ok\n"));
    }

    void options_data()
    {
        columns(); // arguments, and the fields named or the error
        row("defaults", "--device /dev/ttyUSB0",
            "device=/dev/ttyUSB0 model=z1 interval=1000 csv=- csvDir= duration=none lostAfter=5 alarm=0:0:0:0.1:0 "
            "mqtt=|none|veltrak||1|none|10000||||0");
        row("equals form", "--device=/dev/x --model=RAW --interval=250.0 --csv-dir=/d --duration=1.5 --lost-after=3600",
            "model=raw interval=250 csv= csvDir=/d duration=1.5 lostAfter=3600");
        row("custom", "--device d --model custom --coefficients /c", "model=custom coefficients=/c");
        row("alarm", "--device d --alarm-roll 2 --alarm-hysteresis 0 --alarm-hold 300", "alarm=1:0:2:0:300");
        row("later wins", "--device d --kvddt /k --csv - --interval 200 --interval 300", "kvddt=/k csv=- interval=300");
        row("mqtt",
            "--device d --mqtt broker.local:8883 --topic-prefix site/a --sensor-id s1 --qos 0 --publish-interval 5000 "
            "--queue-size 1 --mqtt-user u --mqtt-password-file /p --mqtt-cafile /ca --mqtt-insecure",
            "mqtt=broker.local|8883|site/a|s1|0|5000|1|u|/p|/ca|1");
        row("mqtt ipv6", "--device d --mqtt=[::1]:1884", "mqtt=::1|1884|veltrak||1|none|10000||||0");
        row("help needs nothing", "-h", "help=1 device=");
        row("no device", "--interval 500",
            "--device is required: the serial device of the inclinometer, e.g. /dev/ttyUSB0");
        // "--opt VALUE" or "--opt=VALUE" refused as "--opt: expected ALLOWED, got 'VALUE'".
        const auto bad = [](const char* args, const char* allowed) {
            const QString last = words(args).last();
            const QString opt = words(args).filter(QRegularExpression("^--")).last().section('=', 0, 0);
            row(args, "--device d " + QString(args),
                QStringLiteral("%1: expected %2, got '%3'").arg(opt, allowed, last.section('=', last.contains('='))));
        };
        bad("--interval 50", "whole milliseconds from 100 to 32767");
        bad("--interval=250.5", "whole milliseconds from 100 to 32767");
        bad("--device=", "a serial device path");
        bad("--model z9", "z1, z2, z3, raw or custom");
        bad("--duration 0", "seconds above 0 and up to 1000000000, fractions allowed");
        bad("--duration 1e3", "seconds above 0 and up to 1000000000, fractions allowed");
        bad("--lost-after 3601", "a whole number from 1 to 3600");
        bad("--alarm-pitch -5", "a limit of 0 (off) or more");
        bad("--alarm-hold 1.5", "whole milliseconds from 0 to 86400000");
        bad("--mqtt h:0", "HOST, HOST:PORT or [IPV6]:PORT with PORT from 1 to 65535");
        bad("--mqtt [ab]:1", "HOST, HOST:PORT or [IPV6]:PORT with PORT from 1 to 65535");
        bad("--mqtt ::1", "HOST, HOST:PORT or [IPV6]:PORT with PORT from 1 to 65535");
        bad("--topic-prefix a//b", "topic levels separated by /, without +, #, blanks or empty levels");
        bad("--sensor-id a/b", "one topic level: no /, +, # or blanks");
        bad("--qos 2", "0 or 1");
        bad("--queue-size 0", "a whole number from 1 to 10000000");
        bad("--alarm-roll 0.5 --alarm-hysteresis 0.5", "less than --alarm-roll (0.5)");
        bad("--alarm-pitch 0.05 --alarm-hysteresis=0.05", "less than --alarm-pitch (0.05)");
        const auto refused
            = [](const char* args, const char* error) { row(args, "--device d " + QString(args), error); };
        refused("--interval", "--interval: missing value, expected whole milliseconds from 100 to 32767");
        refused("--csv --interval 500", "--csv: missing value, expected a file path, or - for standard output");
        refused("--intervall 500", "unknown option '--intervall', see --help");
        refused("500", "unexpected argument '500'; options start with --, see --help");
        refused("--model custom", "--model custom needs --coefficients FILE");
        refused("--model z2 --coefficients c", "--coefficients: only allowed with --model custom");
        refused("--alarm-pitch 0.05", "--alarm-hysteresis: expected less than --alarm-pitch (0.05), got '0.1'");
        refused("--mqtt-insecure=yes", "--mqtt-insecure: takes no value, got 'yes'");
    }
    void options()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(outcome(words(input), expected), expected);
    }

    void configFile_data()
    {
        columns(); // the file, and the fields named or the error with FILE for its path
        row("command line wins",
            "\xEF\xBB\xBF; note\r\n[other]\nfoo=1\n[Logger]\n# note\ndevice = /dev/ttyS1\r\ninterval=500\n"
            "csv-dir=/data/a,b;c\nalarm-pitch=5\nmqtt-insecure=true\n",
            "device=/dev/ttyS1 interval=700 csvDir=/data/a,b;c alarm=1:5:0:0.1:0 "
            "mqtt=|none|veltrak||1|none|10000||||1");
        row("unknown key", "[logger]\ndevice=d\nspeed=9\n", "FILE line 3: unknown key 'speed'");
        row("config key", "[logger]\nconfig=x\n", "FILE line 2: unknown key 'config'");
        row("bad value", "[logger]\n\nalarm-hold=-1\n",
            "FILE line 3: alarm-hold: expected whole milliseconds from 0 to 86400000, got '-1'");
        row("bad flag", "[logger]\nmqtt-insecure=maybe\n",
            "FILE line 2: mqtt-insecure: expected true or false, got 'maybe'");
        row("twice", "[logger]\ndevice=a\ndevice=b\n", "FILE line 3: 'device' already set on line 2");
        row("outside", "device=a\n[logger]\n", "FILE line 1: expected [logger] or key=value, got 'device=a'");
        row("no equals", "[logger]\ndevice\n", "FILE line 2: expected [logger] or key=value, got 'device'");
        row("no section", "[loggers]\ndevice=a\n", "FILE: no [logger] section");
    }
    void configFile()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath("veltrak.ini");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(input.toUtf8()) == input.toUtf8().size());
        file.close();
        expected.replace("FILE", path);
        QCOMPARE(outcome({"--interval", "700", "--config", path}, expected), expected);
        QCOMPARE(outcome({"--device", "d", "--config=" + path + "x"}, ""),
            "--config: cannot read '" + path + "x': no such file");
    }
    void usage()
    {
        const QString usage = loggeroptions::usageText();
        QVERIFY(usage.contains("--mqtt HOST[:PORT]") && usage.contains("--mqtt-insecure") && usage.contains("\n  2 "));
    }
};

QTEST_GUILESS_MAIN(TestLoggerRules)
#include "tst_loggerrules.moc"
