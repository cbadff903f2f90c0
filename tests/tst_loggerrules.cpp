// SPDX-License-Identifier: GPL-3.0-or-later
// The tilt alarm rule, the logger's CSV text and its options, as QtTest
// data tables: each row a path or boundary no other row covers.
#include "core/alarm.h"
#include "logger/csvlog.h"
#include "logger/devicewatch.h"
#include "logger/discovery.h"
#include "logger/eventlog.h"
#include "logger/fieldlogger.h"
#include "logger/loggeroptions.h"
#include "logger/reference.h"

#include <QDir>
#include <QLocale>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {
constexpr qint64 Dec7 = 1796613904123; // 2026-12-07T03:25:04.123Z

struct Step {
    std::optional<AlarmAxis> axis; // none: both axes missing (a lost device)
    std::optional<double> value; // none: a missing reading
    qint64 ms;
};
using Steps = QList<Step>;
using Check = std::function<bool(const LoggerOptions&)>;

// What happens to the device, at a time in ms.
struct Event {
    enum Kind { Start, Opened, OpenFailed, Reply, Cycle, Failed, Timeout } kind;
    qint64 at;
    Quantity quantity = Quantity::Pitch; // of a reply
    QString reason = QStringLiteral("Input/output error"); // of a failure
};
using Events = QList<Event>;

Step p(std::optional<double> v, qint64 ms)
{
    return {AlarmAxis::Pitch, v, ms};
}
Step r(std::optional<double> v, qint64 ms)
{
    return {AlarmAxis::Roll, v, ms};
}
Step lost(qint64 ms)
{
    return {std::nullopt, std::nullopt, ms};
}

QStringList args(const char* text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

const QString Duration
    = QStringLiteral("expected a duration from 100 ms to 24 h: milliseconds, or a number with ms, s, min or h");
const QString Broker = QStringLiteral("expected HOST, HOST:PORT or [IPV6]:PORT with PORT from 1 to 65535");
const QString Topic
    = QStringLiteral("expected topic levels separated by /, without +, #, blanks or empty levels, not starting with $");
} // namespace

Q_DECLARE_METATYPE(Steps)
Q_DECLARE_METATYPE(Check)
Q_DECLARE_METATYPE(Events)

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
        // Limits pitch 5 and roll 3, hysteresis 0.1.
        QTest::addColumn<int>("holdMs");
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QStringList>("transitions");
        QTest::addColumn<QString>("state");
        const double nan = std::nan("");
        QTest::newRow("limits strictly, magnitude")
            << 0 << Steps {p(4, 0), r(4, 0), p(5, 1), p(-5.1, 2)}
            << QStringList {"roll raised 4 at 0", "pitch raised -5.1 at 2"} << "pitch;roll";
        QTest::newRow("band, magnitude") << 0 << Steps {r(-4, 0), r(-2.95, 1), r(-2.9, 2), r(-2.85, 3)}
                                         << QStringList {"roll raised -4 at 0", "roll cleared -2.85 at 3"} << "ok";
        QTest::newRow("hold restarts") << 3
                                       << Steps {p(6, 0), p(4, 2), p(6, 3), p(6, 5), p(7, 6), p(1, 7), p(6, 8), p(1, 9),
                                              p(1, 11), p(1, 12)}
                                       << QStringList {"pitch raised 7 at 6", "pitch cleared 1 at 12"} << "ok";
        QTest::newRow("missing restarts the hold, never clears")
            << 3
            << Steps {r(6, 0), r({}, 1), r(6, 2), r(nan, 3), r(6, 4), p(6, 4), lost(5), r(6, 6), r(6, 7), p(6, 8),
                   r(6, 9), r({}, 10), lost(11)}
            << QStringList {"roll raised 6 at 9"} << "roll";
        QTest::newRow("clock stepping back")
            << 3 << Steps {p(6, 10), p(6, 0), p(6, 2), p(6, 3)} << QStringList {"pitch raised 6 at 3"} << "pitch";
    }

    void alarm()
    {
        QFETCH(int, holdMs);
        QFETCH(Steps, steps);
        AlarmRule rule({true, 5.0, 3.0, 0.1, holdMs});
        QStringList transitions;
        for (const Step& s : steps) {
            if (!s.axis)
                rule.missing();
            else if (const auto t = rule.feed(*s.axis, s.value, s.ms))
                transitions << QStringLiteral("%1 %2 %3 at %4")
                                   .arg(
                                       t->axis == AlarmAxis::Pitch ? "pitch" : "roll", t->raised ? "raised" : "cleared")
                                   .arg(t->value)
                                   .arg(t->timeMs);
        }
        QTEST(transitions, "transitions");
        QTEST(rule.stateText(), "state");
    }

    void alarmSettingsAndRows()
    {
        AlarmRule rule({true, 5.0, 5.0, 0.1, 0});
        QVERIFY(rule.feed(AlarmAxis::Pitch, 6, 0) && rule.feed(AlarmAxis::Roll, 6, 0));
        const auto cleared = rule.setSettings({true, 0.0, 5.0, 0.1, 0}, 50); // pitch now off
        QVERIFY(cleared.size() == 1 && rule.stateText() == "roll" && !rule.feed(AlarmAxis::Pitch, 50, 55));
        QCOMPARE(alarmcsv::row(0, cleared[0]), QStringLiteral("1970-01-01T00:00:00.000Z,pitch,cleared,"));
        QVERIFY(rule.setSettings({false, 5.0, 5.0, 0.1, 0}, 60).size() == 1 && rule.stateText() == "ok");
        QCOMPARE(alarmcsv::row(Dec7, {AlarmAxis::Roll, true, -5.25, 1}), "2026-12-07T03:25:04.123Z,roll,raised,-5.25");
    }

    void csv_data()
    {
        QTest::addColumn<double>("pitch");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("fields"); // pitch to alarm
        QTest::newRow("four decimals always, ';' plain") << 1.5 << "a;b"
                                                         << "1.5000,-0.2500,23.40,a;b,ok";
        QTest::newRow("rounded, comma") << 1.23456789 << "a,b"
                                        << "1.2346,-0.2500,23.40,\"a,b\",ok";
        QTest::newRow("no minus zero, quote") << -0.00001 << "a\"b"
                                              << R"(0.0000,-0.2500,23.40,"a""b",ok)";
        QTest::newRow("no reading, CR") << std::nan("") << "a\rb"
                                        << ",-0.2500,23.40,\"a\rb\",ok";
        QTest::newRow("sign kept, LF") << -2.125 << "a\nb"
                                       << "-2.1250,-0.2500,23.40,\"a\nb\",ok";
    }

    void csv()
    {
        QFETCH(double, pitch);
        QFETCH(QString, unit);
        QFETCH(QString, fields);
        QCOMPARE(csvlog::row({Dec7, 12.3, pitch, -0.25, 23.4, unit, "ok", -1, 2, -0.5, 0, 47, {}, {}}),
            "2026-12-07T03:25:04.123Z,12.300," + fields + ",-1.00,2.00,-0.50,0.00,47\r\n");
    }

    void csvDaysEventsAndBackoff()
    {
        QVERIFY(csvlog::row({Dec7, 0, 1, 2, 3, "deg", "ok", 0, 0, 0, 0, 1, 0.25, -1.5})
                    .endsWith(",deg,ok,0.00,0.00,0.00,0.00,1,0.2500,-1.5000\r\n"));
        // The last cycle alone: its readings as displayed, as before.
        QVERIFY(csvlog::row({Dec7, 0, 1.5, 2, 3, "deg", "ok", 1.5, 1.5, 2, 2, 1, 0.25, -1.5, true})
                    .endsWith(",1.50,2.00,3.00,deg,ok,1.50,1.50,2.00,2.00,1,0.25,-1.50\r\n"));
        const qint64 midnight = 1796688000000; // 2026-12-08T00:00:00.000Z
        // Rows on the clock, counted from midnight UTC; a day's short last interval ends at midnight.
        QCOMPARE(csvlog::nextRowTime(Dec7, 600'000), midnight - 86'400'000 + (3LL * 60 + 30) * 60'000);
        QCOMPARE(csvlog::nextRowTime(midnight - 600'000, 600'000), midnight);
        QCOMPARE(csvlog::nextRowTime(midnight - 1, 7000), midnight);
        QCOMPARE(csvlog::nextRowTime(midnight, 7000), midnight + 7000);
        csvlog::DayRoller roller;
        QStringList due;
        for (const qint64 t : {Dec7, midnight - 1, midnight, midnight + 86399999, midnight - 1, qint64(0), qint64(-1)})
            due << roller.due(t).value_or("-");
        QCOMPARE(due.join(' '), "2026-12-07.csv - 2026-12-08.csv - 2026-12-07.csv 1970-01-01.csv 1969-12-31.csv");
        QCOMPARE(EventLog::line(Dec7, QStringLiteral("lost\rretry\nin 1 s\r\nok"), EventLog::Priority::Warning, false),
            QStringLiteral("2026-12-07T03:25:04.123Z lost retry in 1 s ok\n"));

        // The pause before each attempt to reopen a lost device.
        Backoff backoff;
        QList<int> pauses;
        for (int i = 0; i < 7; ++i)
            pauses << backoff.next();
        backoff.reset();
        pauses << backoff.next();
        QCOMPARE(pauses, (QList<int> {1000, 2000, 4000, 8000, 16000, 30000, 30000, 1000}));
    }

    void qtMessagesInTheEventLog()
    {
        // As under systemd: each line begins with its priority for the journal.
        std::FILE* stream = std::tmpfile();
        QVERIFY(stream);
        const auto close = qScopeGuard([stream] { std::fclose(stream); });
        {
            EventLog log(stream, true);
            log.takeQtMessages();
            const QLoggingCategory category("qt.network.ssl");
            qCWarning(category, "no certificate\nyet");
            qCritical("out of memory");
        }
        qWarning("after the log: not in it");
        std::rewind(stream);
        QByteArray text(4096, '\0');
        text.truncate(qsizetype(std::fread(text.data(), 1, std::size_t(text.size()), stream)));
        const QString time = QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z");
        const QRegularExpression expected(
            QStringLiteral("^<4>%1 qt.network.ssl: no certificate yet\n<3>%1 out of memory\n$").arg(time));
        QVERIFY2(expected.match(QString::fromUtf8(text)).hasMatch(), text.constData());
    }

    void referenceCreatedWholeAndOnce()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("zero.txt")), disk = dir.filePath(QStringLiteral("disk"));
        Calibration z1;
        z1.coefficients = presetFor(Model::Z1);
        QVERIFY(std::holds_alternative<reference::Stored>(reference::create(path, {1.25, -0.5}, Dec7, "z1", z1)));
        // A second logger taking its own at the same path reads the first one's instead.
        const auto second = reference::create(path, {3, 3}, Dec7, "z1", z1);
        QVERIFY(std::holds_alternative<Reference>(second) && std::get<Reference>(second).pitch == 1.25);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // no temporary file left
        // A full disk: the system's reason, and nothing at the path.
        QVERIFY(QDir().mkpath(disk));
        if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=4k", "tmpfs", disk}) != 0)
            QSKIP("cannot mount a small disk here (needs root)");
        const auto unmount = qScopeGuard([&disk] { QProcess::execute(QStringLiteral("umount"), {disk}); });
        QFile filler(disk + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(512, 'x')) == 512 && filler.flush()) { }
        const auto full = reference::create(disk + "/zero.txt", {1, 1}, Dec7, "z1", z1);
        QVERIFY(std::get_if<QString>(&full) && std::get<QString>(full).endsWith("No space left on device"));
        QVERIFY(!QFile::exists(disk + "/zero.txt"));
    }

    void discoveryIdsAndRemovals()
    {
        // Ids that differ only where a node id cannot hold them stay two devices.
        QCOMPARE(discovery::nodeId("site_1-a"), "veltrak_site_1-a");
        QStringList ids;
        for (const char* id : {"wall-north", "wall.north", "wall_north", "Wand-Nord-\u00fc", "Wand-Nord-\u00f6"})
            ids << discovery::nodeId(QString::fromUtf8(id));
        QCOMPARE(QSet<QString>(ids.cbegin(), ids.cend()).size(), 5);
        // Without a reference and limits: their entities are removed, the rest kept.
        discovery::Site site {"ha", "v", "s", "z1", true, false, true, false, 30};
        QStringList removed;
        for (const discovery::Config& c : discovery::removals(site))
            removed << c.topic.section('/', 3, 3) + (c.payload.isEmpty() ? "" : "!");
        QCOMPARE(removed.join(' '), "pitch_change roll_change roll_alarm");
        QCOMPARE(
            discovery::configs(site).size() + discovery::removals(site).size(), discovery::removals(site, true).size());
    }

    void deviceWatch_data()
    {
        QTest::addColumn<qint64>("sampleEveryMs"); // 0: polling continuously; lost after 5 s
        QTest::addColumn<Events>("events");
        QTest::addColumn<QStringList>("actions"); // one per event
        using E = Event;
        QTest::newRow("silent, reopened with a back-off, announced once")
            << qint64(0)
            << Events {{E::Start, 0}, {E::Opened, 0}, {E::Timeout, 4999}, {E::Timeout, 5000}, {E::Timeout, 6000},
                   {E::Opened, 6000}, {E::Timeout, 11000}}
            << QStringList {"open", "wake 5000", "wake 5000",
                   "close down 'device lost: no valid reply for 5 s' wake 6000", "open", "wake 11000",
                   "close wake 13000"};
        QTest::newRow("one letter never answered")
            << qint64(0)
            << Events {{E::Opened, 0}, {E::Reply, 4000, Quantity::Pitch}, {E::Reply, 4000, Quantity::Temperature},
                   {E::Timeout, 5000}}
            << QStringList {"wake 5000", "", "", "close down 'device lost: no valid reply to C for 5 s' wake 6000"};
        QTest::newRow("missing at start, back at its first cycle")
            << qint64(0)
            << Events {{E::Start, 0}, {E::OpenFailed, 0, Quantity::Pitch, "No such file or directory"},
                   {E::Timeout, 1000}, {E::OpenFailed, 1000}, {E::Timeout, 3000}, {E::Opened, 3000}, {E::Cycle, 3100},
                   {E::Cycle, 3200}, {E::Timeout, 8000}}
            << QStringList {"open", "down 'device not available: No such file or directory' wake 1000", "open",
                   "wake 3000", "open", "wake 8000", "up back", "", "wake 8200"};
        QTest::newRow("silent just after a cycle's first reply")
            << qint64(0)
            << Events {{E::Opened, 0}, {E::Cycle, 100}, {E::Reply, 101, Quantity::Pitch}, {E::Timeout, 5100}}
            << QStringList {"wake 5000", "up", "", "close down 'device lost: no valid reply for 5 s' wake 6100"};
        QTest::newRow("a failure, then late replies of the closed link")
            << qint64(0) << Events {{E::Opened, 0}, {E::Cycle, 10}, {E::Failed, 20}, {E::Cycle, 30}, {E::Failed, 40}}
            << QStringList {"wake 5000", "up", "close down 'device lost: Input/output error' wake 1020", "", ""};
        QTest::newRow("quiet gaps longer than lost-after are no silence")
            << qint64(10000)
            << Events {{E::Opened, 0}, {E::Cycle, 100}, {E::Timeout, 10000}, {E::Cycle, 10100}, {E::Timeout, 20000},
                   {E::Timeout, 25000}}
            << QStringList {"wake 5000", "hold up wake 10000", "release wake 15000", "hold wake 20000",
                   "release wake 25000", "close down 'device lost: no valid reply for 5 s' wake 26000"};
    }

    void deviceWatch()
    {
        QFETCH(qint64, sampleEveryMs);
        QFETCH(Events, events);
        DeviceWatch watch({5000, sampleEveryMs ? std::optional(sampleEveryMs) : std::nullopt});
        QStringList actions;
        for (const Event& e : events) {
            const DeviceWatch::Actions a = e.kind == Event::Start ? watch.start(e.at)
                : e.kind == Event::Opened                         ? watch.opened(e.at)
                : e.kind == Event::OpenFailed                     ? watch.openFailed(e.at, e.reason)
                : e.kind == Event::Reply                          ? watch.reply(e.at, e.quantity)
                : e.kind == Event::Cycle                          ? watch.cycle(e.at)
                : e.kind == Event::Failed                         ? watch.failed(e.at, e.reason)
                                                                  : watch.timeout(e.at);
            QStringList words;
            if (a.open)
                words << "open";
            if (a.close)
                words << "close";
            if (a.hold)
                words << (*a.hold ? "hold" : "release");
            if (a.sensorUp)
                words << (*a.sensorUp ? "up" : "down");
            if (a.back)
                words << "back";
            if (!a.announce.isEmpty())
                words << "'" + a.announce + "'";
            if (a.wakeAt)
                words << QStringLiteral("wake %1").arg(*a.wakeAt);
            actions << words.join(' ');
        }
        QTEST(actions, "actions");
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("ini"); // given with --config after the arguments
        QTest::addColumn<QString>("error"); // "INI" stands for the config file's name
        QTest::addColumn<Check>("check");
        const auto ok = [](const char* a, const Check& check, const QByteArray& ini = {}) {
            QTest::newRow(a) << args(a) << ini << QString() << check;
        };
        const auto bad = [](const char* a, const QString& error) {
            QTest::newRow(a) << args(a) << QByteArray() << error << Check();
        };
        const auto badIni = [](const char* name, const QByteArray& ini, const QString& error) {
            QTest::newRow(name) << QStringList() << ini << error << Check();
        };
        ok("--device d", [](const LoggerOptions& o) {
            return o.model == Model::Z1 && o.intervalMs == 1000 && o.csvPath == "-" && o.csvDir.isEmpty()
                && !o.durationMs && !o.sampleEveryMs && !o.alignStart && !o.keepDays && o.lostAfter == 5
                && !o.alarm.enabled && o.alarm.hysteresis == 0.1 && o.mqtt.host.isEmpty() && o.mqtt.qos == 1
                && o.mqtt.queueSize == 10000;
        });
        ok("--device=/dev/x --model=RAW --interval=100.0 --csv-dir=/d --duration=1.5 --lost-after=3600",
            [](const LoggerOptions& o) {
                return o.device == "/dev/x" && o.model == Model::Raw && o.intervalMs == 100 && o.csvPath.isEmpty()
                    && o.csvDir == "/d" && o.durationMs == 1500 && o.lostAfter == 3600;
            });
        // Counted in integers: these land just off a whole number in floating point.
        ok("--device d --interval 1.001s --sample-every 4.1min --duration 2.0005 --align start --csv-dir /d "
           "--keep-days 9",
            [](const LoggerOptions& o) {
                return o.intervalMs == 1001 && o.sampleEveryMs == 246000 && o.durationMs == 2001 && o.alignStart
                    && o.keepDays == 9;
            });
        ok("--device d --model custom --coefficients /c --kvddt /k --csv - --interval 200 --interval 300 "
           "--alarm-roll 2 --alarm-hysteresis 0 --alarm-hold 300",
            [](const LoggerOptions& o) {
                const AlarmSettings& a = o.alarm;
                return !o.model && o.coefficientsFile == "/c" && o.kvddtPath == "/k" && o.csvPath == "-"
                    && o.intervalMs == 300 && a.enabled && a.pitchLimit == 0 && a.rollLimit == 2 && a.hysteresis == 0
                    && a.holdMs == 300;
            });
        ok("--device d --mqtt broker.local:8883 --topic-prefix site/a --sensor-id s1 --qos 0 --publish-interval 5s "
           "--queue-size 1 --mqtt-user u --mqtt-password-file /p --mqtt-cafile /ca --mqtt-insecure",
            [](const LoggerOptions& o) {
                const MqttOptions& m = o.mqtt;
                return m.host == "broker.local" && m.port == 8883 && m.topicPrefix == "site/a" && m.sensorId == "s1"
                    && m.qos == 0 && m.publishIntervalMs == 5000 && m.queueSize == 1 && m.user == "u"
                    && m.passwordFile == "/p" && m.caFile == "/ca" && m.insecure && m.haDiscovery.isEmpty();
            });
        ok("--device d --mqtt=[::1]:1884 --ha-discovery --interval 10min --sample-every 1.5s",
            [](const LoggerOptions& o) {
                return o.mqtt.host == "::1" && o.mqtt.port == 1884 && o.mqtt.haDiscovery == "homeassistant"
                    && o.intervalMs == 600000 && o.sampleEveryMs == 1500;
            });
        ok("--device d --mqtt h --ha-discovery ha/x --interval 500ms --sample-every 1h", [](const LoggerOptions& o) {
            return !o.mqtt.port && o.mqtt.haDiscovery == "ha/x" && o.intervalMs == 500 && o.sampleEveryMs == 3600000;
        });
        ok("-h -v", [](const LoggerOptions& o) { return o.help && o.version && o.device.isEmpty(); });
        ok("--device d --csv-dir /x --csv /f",
            [](const LoggerOptions& o) { return o.csvPath == "/f" && o.csvDir.isEmpty(); });
        ok("--device d --csv /f --csv-dir /x --kvddt /k",
            [](const LoggerOptions& o) { return o.csvPath.isEmpty() && o.csvDir == "/x" && o.kvddtPath == "/k"; });
        ok("--device d --csv-dir /x --kvddt /k --csv-dir= --kvddt=",
            [](const LoggerOptions& o) { return o.csvPath == "-" && o.csvDir.isEmpty() && o.kvddtPath.isEmpty(); });
        ok("--device d --kvddt= --kvddt /k", [](const LoggerOptions& o) { return o.kvddtPath == "/k"; });
        ok(
            "--interval 700 --csv-dir=",
            [](const LoggerOptions& o) {
                return o.device == "/d" && o.intervalMs == 700 && o.csvPath.isEmpty() && o.csvDir.isEmpty()
                    && o.kvddtPath == "/a,b;c" && o.alarm.enabled && o.alarm.pitchLimit == 5;
            },
            "\xEF\xBB\xBF;\r\n[x]\nfoo=1\n[Logger]\n#\ndevice = /d\r\ninterval=500\ncsv-dir=/x\nkvddt=/a,b;c\n"
            "alarm-pitch=5\n");

        bad("--interval 500", "--device is required: the serial device of the inclinometer, e.g. /dev/ttyUSB0");
        bad("--interval=250.5", "--interval: " + Duration + ", got '250.5'");
        bad("--interval=1.0001s", "--interval: " + Duration + ", got '1.0001s'");
        bad("--device d --keep-days 3", "--keep-days needs --csv-dir DIR");
        bad("--interval 25h", "--interval: " + Duration + ", got '25h'");
        bad("--model z9", "--model: expected z1, z2, z3, raw or custom, got 'z9'");
        bad("--duration 1e3",
            "--duration: expected seconds above 0 and up to 1000000000, fractions allowed, got '1e3'");
        bad("--lost-after 3601", "--lost-after: expected a whole number from 1 to 3600, got '3601'");
        bad("--alarm-pitch -5", "--alarm-pitch: expected a limit of 0 (off) or more, got '-5'");
        bad("--alarm-hold 1.5", "--alarm-hold: expected whole milliseconds from 0 to 86400000, got '1.5'");
        bad("--mqtt h:0", "--mqtt: " + Broker + ", got 'h:0'");
        bad("--mqtt [ab]:1", "--mqtt: " + Broker + ", got '[ab]:1'");
        bad("--mqtt [::g]:1", "--mqtt: " + Broker + ", got '[::g]:1'");
        bad("--mqtt ::1", "--mqtt: " + Broker + ", got '::1'");
        bad("--topic-prefix a//b", "--topic-prefix: " + Topic + ", got 'a//b'");
        bad("--topic-prefix $SYS/site", "--topic-prefix: " + Topic + ", got '$SYS/site'");
        bad("--queue-size 0", "--queue-size: expected a whole number from 1 to 10000000, got '0'");
        bad("--sensor-id a/b", "--sensor-id: expected one topic level: no /, +, # or blanks, got 'a/b'");
        bad("--device d --alarm-roll 0.5 --alarm-hysteresis 0.5",
            "--alarm-hysteresis: expected less than --alarm-roll (0.5), got '0.5'");
        bad("--device d --alarm-pitch 0.05", "--alarm-hysteresis: expected less than --alarm-pitch (0.05), got '0.1'");
        bad("--interval", "--interval: missing value, " + Duration);
        bad("--csv --interval 500", "--csv: missing value, expected a file path, or - for standard output");
        bad("--intervall 500", "unknown option '--intervall', see --help");
        bad("--mqtt-password x",
            "unknown option '--mqtt-password': the password is never taken from the command line; put it in a file "
            "for --mqtt-password-file, or in VELTRAK_MQTT_PASSWORD");
        bad("500", "unexpected argument '500'; options start with --, see --help");
        bad("-device /dev/x", "unexpected argument '-device'; options start with --, see --help");
        bad("--mqtt-insecure=yes", "--mqtt-insecure: takes no value, got 'yes'");
        bad("--device d --model custom", "--model custom needs --coefficients FILE");
        bad("--device d --model z2 --coefficients c", "--coefficients: only allowed with --model custom");
        bad("--device d --ha-discovery", "--ha-discovery needs --mqtt HOST");
        bad("--device d --alarm-on change", "--alarm-on change needs --reference FILE");
        bad("--config=/no/such.ini", "--config: cannot read '/no/such.ini': No such file or directory");
        badIni("unknown key", "[logger]\ndevice=d\nspeed=9\n", "INI line 3: unknown key 'speed'");
        badIni("command-line only", "[logger]\nconfig=x\n", "INI line 2: unknown key 'config'");
        badIni("bad value", "[logger]\n\nmqtt-insecure=maybe\n",
            "INI line 3: mqtt-insecure: expected true or false, got 'maybe'");
        badIni("twice", "[logger]\ndevice=a\ndevice=b\n", "INI line 3: 'device' already set on line 2");
        badIni("no section yet", "device=a\n[logger]\n", "INI line 1: expected [logger] or key=value, got 'device=a'");
        badIni("no =", "[logger]\ndevice\n", "INI line 2: expected [logger] or key=value, got 'device'");
        badIni("no [logger]", "[loggers]\ndevice=a\n", "INI: no [logger] section");
    }

    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, ini);
        QFETCH(QString, error);
        QFETCH(Check, check);
        QTemporaryFile file;
        if (!ini.isEmpty()) {
            QVERIFY(file.open() && file.write(ini) == ini.size() && file.flush());
            args << "--config" << file.fileName();
        }
        const auto parsed = loggeroptions::parse(args);
        if (const QString* got = std::get_if<QString>(&parsed))
            QCOMPARE(*got, QString(error).replace("INI", file.fileName()));
        else
            QVERIFY2(check && check(std::get<LoggerOptions>(parsed)), "parsed, but not as expected");
    }
};

QTEST_GUILESS_MAIN(TestLoggerRules)
#include "tst_loggerrules.moc"
