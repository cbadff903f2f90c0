// The tilt alarm, the logger's CSV text and its options: tables of input and
// expected text, each row taking in all the cases that share its setup.
#include "core/alarm.h"
#include "logger/csvlog.h"
#include "logger/fieldlogger.h"
#include "logger/loggeroptions.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

#include <algorithm>
#include <clocale>

// QCOMPARE in a loop would not say which row failed. Both sides are evaluated
// twice, so they must be free of side effects.
#define CHECK_ROW(row, got, want)                                                                                      \
    QVERIFY2((got) == (want), qPrintable(QStringLiteral("%1: got '%2', want '%3'").arg(row, got, want)))

namespace {
constexpr qint64 Dec7 = 1796613904123; // 2026-12-07T03:25:04.123Z

const auto words = [](const QString& text) { return text.split(QLatin1Char(' '), Qt::SkipEmptyParts); };

// `want` itself if the options parse and have every field it names, e.g.
// "interval=250 csv=-"; else the error, or all the fields.
QString outcome(const QStringList& args, const QString& want)
{
    const auto parsed = loggeroptions::parse(args);
    if (const QString* error = std::get_if<QString>(&parsed))
        return *error;
    const LoggerOptions& o = std::get<LoggerOptions>(parsed);
    const auto n = [](auto v) { return QString::number(v); };
    const auto opt = [](auto v) { return v ? QString::number(*v) : QStringLiteral("none"); };
    const AlarmSettings& a = o.alarm;
    const MqttOptions& m = o.mqtt;
    const QStringList fields {"device=" + o.device,
        "model=" + (o.model ? words("z1 z2 z3 raw")[int(*o.model)] : "custom"), "coefficients=" + o.coefficientsFile,
        "interval=" + n(o.intervalMs), "csv=" + o.csvPath, "csvDir=" + o.csvDir, "kvddt=" + o.kvddtPath,
        "duration=" + opt(o.durationS), "sampleEvery=" + opt(o.sampleEveryMs), "lostAfter=" + n(o.lostAfter),
        "help=" + n(o.help), "version=" + n(o.version),
        QStringList {"alarm=" + n(a.enabled), n(a.pitchLimit), n(a.rollLimit), n(a.hysteresis), n(a.holdMs)}.join(':'),
        QStringList {"mqtt=" + m.host, opt(m.port), m.topicPrefix, m.sensorId, n(m.qos), opt(m.publishIntervalMs),
            n(m.queueSize), m.user, m.passwordFile, m.caFile, n(m.insecure)}
            .join('|')};
    return std::ranges::all_of(words(want), [&](auto& w) { return fields.contains(w); }) ? want : fields.join(' ');
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

    void alarm()
    {
        // Limits pitch 5 and roll 3, hysteresis 0.1, hold 0 or 3 ms after a
        // leading "hold". "p5.5@1" feeds pitch 5.5 at 1 ms, "r?@1" a missing
        // roll, "lost@1" both missing. Out come the transitions, "p^5.5@1"
        // raised, "rv-4@3" cleared, then the state.
        static const char* const rows[][3] = {
            {"limits strictly, magnitude", "p4@0 r4@0 p5@1 p-5.1@2", "r^4@0 p^-5.1@2 pitch;roll"},
            {"band, magnitude", "r-4@0 r-2.95@1 r-2.9@2 r-2.85@3", "r^-4@0 rv-2.85@3 ok"},
            {"hold restarts", "hold p6@0 p4@2 p6@3 p6@5 p7@6 p1@7 p6@8 p1@9 p1@11 p1@12", "p^7@6 pv1@12 ok"},
            {"missing restarts the hold, never clears",
                "hold r6@0 r?@1 r6@2 rnan@3 r6@4 p6@4 lost@5 r6@6 r6@7 p6@8 r6@9 r?@10 lost@11", "r^6@9 roll"},
            {"clock stepping back", "hold p6@10 p6@0 p6@2 p6@3", "p^6@3 pitch"},
        };
        for (const auto& r : rows) {
            const bool hold = QString(r[1]).startsWith("hold ");
            AlarmRule rule({true, 5.0, 3.0, 0.1, hold ? 3 : 0});
            QStringList out;
            for (const QString& step : words(r[1]).mid(hold)) {
                const QString what = step.section('@', 0, 0);
                const qint64 t = step.section('@', 1).toLongLong();
                if (what == "lost")
                    rule.missing();
                else if (const auto tr = rule.feed(what[0] == 'p' ? AlarmAxis::Pitch : AlarmAxis::Roll,
                             what[1] == '?' ? std::nullopt : std::optional(what.mid(1).toDouble()), t))
                    out << QStringLiteral("%1%2%3@%4").arg(what[0]).arg(tr->raised ? '^' : 'v').arg(tr->value).arg(t);
            }
            CHECK_ROW(r[0], (out + QStringList {rule.stateText()}).join(' '), r[2]);
        }

        AlarmRule rule({true, 5.0, 5.0, 0.1, 0});
        QVERIFY(rule.feed(AlarmAxis::Pitch, 6, 0) && rule.feed(AlarmAxis::Roll, 6, 0));
        const auto cleared = rule.setSettings({true, 0.0, 5.0, 0.1, 0}, 50); // pitch now off
        QVERIFY(cleared.size() == 1 && rule.stateText() == "roll" && !rule.feed(AlarmAxis::Pitch, 50, 55));
        QCOMPARE(alarmcsv::row(0, cleared[0]), QStringLiteral("1970-01-01T00:00:00.000Z,pitch,cleared,"));
        QVERIFY(rule.setSettings({false, 5.0, 5.0, 0.1, 0}, 60).size() == 1 && rule.stateText() == "ok");
        QCOMPARE(alarmcsv::row(Dec7, {AlarmAxis::Roll, true, -5.25, 1}), "2026-12-07T03:25:04.123Z,roll,raised,-5.25");
    }

    void csv()
    {
        static const char* const rows[][4] = {
            // name, pitch, unit, the row after time and elapsed
            {"two decimals at least, ';' plain", "1.5", "a;b", "1.50,-0.25,23.40,a;b,ok"},
            {"six decimals at most, comma", "1.23456789", "a,b", "1.234568,-0.25,23.40,\"a,b\",ok"},
            {"no minus zero, quote", "-0.0000001", "a\"b", "0.00,-0.25,23.40,\"a\"\"b\",ok"},
            {"no reading, CR", "nan", "a\rb", ",-0.25,23.40,\"a\rb\",ok"},
            {"sign kept, LF", "-2.125", "a\nb", "-2.125,-0.25,23.40,\"a\nb\",ok"},
        };
        for (const auto& r : rows)
            CHECK_ROW(r[0],
                csvlog::row(
                    {Dec7, 12.3, QString(r[1]).toDouble(), -0.25, 23.4, r[2], "ok", -1, 2, -0.5, 0, 47, {}, {}}),
                "2026-12-07T03:25:04.123Z,12.300," + QString(r[3]) + ",-1.00,2.00,-0.50,0.00,47\r\n");
        QVERIFY(csvlog::row({Dec7, 0, 1, 2, 3, "deg", "ok", 0, 0, 0, 0, 1, 0.25, -1.5})
                    .endsWith(",deg,ok,0.00,0.00,0.00,0.00,1,0.25,-1.50\r\n"));

        const qint64 midnight = 1796688000000; // 2026-12-08T00:00:00.000Z
        csvlog::DayRoller roller;
        QStringList due;
        for (const qint64 t : {Dec7, midnight - 1, midnight, midnight + 86399999, midnight - 1, qint64(0), qint64(-1)})
            due << roller.due(t).value_or("-");
        QCOMPARE(due.join(' '), "2026-12-07.csv - 2026-12-08.csv - 2026-12-07.csv 1970-01-01.csv 1969-12-31.csv");
        QCOMPARE(csvlog::eventLine(Dec7, QStringLiteral("lost\rretry\nin 1 s\r\nok")),
            QStringLiteral("2026-12-07T03:25:04.123Z lost retry in 1 s ok\n"));

        // The pause before each attempt to reopen a lost device.
        Backoff backoff;
        QStringList pauses;
        for (int i = 0; i < 7; ++i)
            pauses << QString::number(backoff.next());
        backoff.reset();
        pauses << QString::number(backoff.next());
        QCOMPARE(pauses.join(' '), QStringLiteral("1000 2000 4000 8000 16000 30000 30000 1000"));
    }

    void options()
    {
        // Arguments, or the lines of a config file INI given after
        // "--interval 700"; then the fields expected or the error. An error
        // starting "expected" is for the last option and value.
        static const char* const rows[][2] = {
            {"--device d", "model=z1 interval=1000 csv=- csvDir= duration=none lostAfter=5 alarm=0:0:0:0.1:0"},
            {"--device=/dev/x --model=RAW --interval=250.0 --csv-dir=/d --duration=1.5 --lost-after=3600",
                "device=/dev/x model=raw interval=250 csv= csvDir=/d duration=1.5 lostAfter=3600"},
            {"--device d --model custom --coefficients /c --kvddt /k --csv - --interval 200 --interval 300 "
             "--alarm-roll 2 --alarm-hysteresis 0 --alarm-hold 300",
                "model=custom coefficients=/c kvddt=/k csv=- interval=300 alarm=1:0:2:0:300"},
            {"--device d --mqtt broker.local:8883 --topic-prefix site/a --sensor-id s1 --qos 0 --publish-interval 5000 "
             "--queue-size 1 --mqtt-user u --mqtt-password-file /p --mqtt-cafile /ca --mqtt-insecure",
                "mqtt=broker.local|8883|site/a|s1|0|5000|1|u|/p|/ca|1"},
            {"--device d --mqtt=[::1]:1884", "mqtt=::1|1884|veltrak||1|none|10000||||0"},
            {"-h -v", "help=1 version=1 device="},
            {"--device d --csv-dir /x --csv /f", "csv=/f csvDir="},
            {"--device d --csv /f --csv-dir /x --kvddt /k", "csv= csvDir=/x kvddt=/k"},
            {"--device d --csv-dir /x --kvddt /k --csv-dir= --kvddt=", "csv=- csvDir= kvddt="},
            {"--interval 500", "--device is required: the serial device of the inclinometer, e.g. /dev/ttyUSB0"},
            {"--interval=250.5",
                "expected a duration from 100 ms to 24 h: milliseconds, or a number with ms, s, min or h"},
            {"--interval 25h",
                "expected a duration from 100 ms to 24 h: milliseconds, or a number with ms, s, min or h"},
            {"--device d --interval 10min --sample-every 1.5s", "interval=600000 sampleEvery=1500"},
            {"--device d --interval 500ms --sample-every 1h", "interval=500 sampleEvery=3600000"},
            {"--model z9", "expected z1, z2, z3, raw or custom"},
            {"--duration 0", "expected seconds above 0 and up to 1000000000, fractions allowed"},
            {"--duration 1e3", "expected seconds above 0 and up to 1000000000, fractions allowed"},
            {"--lost-after 3601", "expected a whole number from 1 to 3600"},
            {"--alarm-pitch -5", "expected a limit of 0 (off) or more"},
            {"--alarm-hold 1.5", "expected whole milliseconds from 0 to 86400000"},
            {"--mqtt h:0", "expected HOST, HOST:PORT or [IPV6]:PORT with PORT from 1 to 65535"},
            {"--mqtt [ab]:1", "expected HOST, HOST:PORT or [IPV6]:PORT with PORT from 1 to 65535"},
            {"--mqtt ::1", "expected HOST, HOST:PORT or [IPV6]:PORT with PORT from 1 to 65535"},
            {"--topic-prefix a//b",
                "expected topic levels separated by /, without +, #, blanks or empty levels, not starting with $"},
            {"--topic-prefix $SYS/site",
                "expected topic levels separated by /, without +, #, blanks or empty levels, not starting with $"},
            {"--sensor-id a/b", "expected one topic level: no /, +, # or blanks"},
            {"--qos 2", "expected 0 or 1"},
            {"--queue-size 0", "expected a whole number from 1 to 10000000"},
            {"--device d --alarm-roll 0.5 --alarm-hysteresis 0.5", "expected less than --alarm-roll (0.5)"},
            {"--device d --alarm-pitch 0.05", "--alarm-hysteresis: expected less than --alarm-pitch (0.05), got '0.1'"},
            {"--interval",
                "--interval: missing value, expected a duration from 100 ms to 24 h: milliseconds, or a number with "
                "ms, s, min or h"},
            {"--csv --interval 500", "--csv: missing value, expected a file path, or - for standard output"},
            {"--intervall 500", "unknown option '--intervall', see --help"},
            {"500", "unexpected argument '500'; options start with --, see --help"},
            {"--device d --model custom", "--model custom needs --coefficients FILE"},
            {"--device d --model z2 --coefficients c", "--coefficients: only allowed with --model custom"},
            {"--mqtt-insecure=yes", "--mqtt-insecure: takes no value, got 'yes'"},
            {"--config=/no/such.ini", "--config: cannot read '/no/such.ini': No such file or directory"},
            {"\xEF\xBB\xBF;\r\n[x]\nfoo=1\n[Logger]\n#\ndevice = /d\r\ninterval=500\ncsv-dir=/a,b;c\nalarm-pitch=5\n",
                "device=/d interval=700 csvDir=/a,b;c alarm=1:5:0:0.1:0"},
            {"[logger]\ndevice=d\nspeed=9\n", "INI line 3: unknown key 'speed'"},
            {"[logger]\nconfig=x\n", "INI line 2: unknown key 'config'"},
            {"[logger]\n\nmqtt-insecure=maybe\n", "INI line 3: mqtt-insecure: expected true or false, got 'maybe'"},
            {"[logger]\ndevice=a\ndevice=b\n", "INI line 3: 'device' already set on line 2"},
            {"device=a\n[logger]\n", "INI line 1: expected [logger] or key=value, got 'device=a'"},
            {"[logger]\ndevice\n", "INI line 2: expected [logger] or key=value, got 'device'"},
            {"[loggers]\ndevice=a\n", "INI: no [logger] section"},
        };
        for (const auto& r : rows) {
            QTemporaryFile ini;
            const bool file = QString(r[0]).contains('\n');
            QVERIFY(!file || (ini.open() && ini.write(r[0]) > 0 && ini.flush()));
            const QStringList args = file ? QStringList {"--interval", "700", "--config", ini.fileName()} : words(r[0]);
            QString want = QString(r[1]).replace("INI", ini.fileName());
            if (const QString last = args.last(); want.startsWith("expected "))
                want = args.filter(QRegularExpression("^--")).last().section('=', 0, 0) + ": " + want + ", got '"
                    + last.section('=', last.contains('=')) + "'";
            CHECK_ROW(r[0], outcome(args, want), want);
        }
        QVERIFY(loggeroptions::usageText().contains(QRegularExpression("(?s)--mqtt HOST\\[:PORT\\] .*\n  2 ")));
    }
};

QTEST_GUILESS_MAIN(TestLoggerRules)
#include "tst_loggerrules.moc"
