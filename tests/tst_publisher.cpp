// SPDX-License-Identifier: GPL-3.0-or-later
// The MQTT publisher, alone and inside the logger, against a private broker
// read back by a plain libmosquitto subscriber.
#include "brokerfixture.h"
#include "logger/sitepublishing.h"
#include "simline.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTcpServer>
#include <QTest>

#include <mosquitto.h>
#include <sys/stat.h>

namespace {
// Synchronous on purpose: it runs its network and the Qt events in the
// test's own thread, so waiting for a message also delivers the publisher's
// signals. Each message is kept as "<topic> <qos>[ retained]: <payload>".
struct Subscriber {
    Subscriber(quint16 port, const char* filter) : mosq(mosquitto_new(nullptr, true, this))
    {
        mosquitto_message_callback_set(mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
            static_cast<Subscriber*>(self)->messages << QString::asprintf("%s %d%s: %.*s", m->topic, m->qos,
                m->retain ? " retained" : "", m->payloadlen, static_cast<const char*>(m->payload));
        });
        mosquitto_subscribe_callback_set(
            mosq, [](mosquitto*, void* self, int, int, const int*) { static_cast<Subscriber*>(self)->ready = true; });
        mosquitto_username_pw_set(mosq, BrokerFixture::User, BrokerFixture::Password);
        if (!mosquitto_connect(mosq, "127.0.0.1", port, 30) && !mosquitto_subscribe(mosq, nullptr, filter, 1))
            wait([this] { return ready; });
    }
    ~Subscriber() { mosquitto_destroy(mosq); }
    template <class Done> bool wait(Done done, int timeoutMs = 3000)
    {
        for (QDeadlineTimer deadline(timeoutMs); !done() && !deadline.hasExpired();) {
            mosquitto_loop(mosq, 10, 1);
            QCoreApplication::processEvents();
        }
        return done();
    }
    mosquitto* mosq;
    QStringList messages;
    bool ready = false; // subscribed
};

// A CA, a broker certificate it signed for 127.0.0.1 alone (the tests connect
// as "localhost" to miss it), and an unrelated CA; false without openssl 3.
bool makeCertificates(const QString& dir)
{
    const QString req = "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -config /dev/null",
                  ca = " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=keyCertSign";
    for (const QString& step : {req + " -subj /CN=TestCA -keyout ca.key -out ca.pem" + ca,
             req + " -subj /CN=OtherCA -keyout other.key -out other.pem" + ca,
             req + " -subj /CN=broker -keyout broker.key -out broker.pem -CA ca.pem -CAkey ca.key -addext "
                 + "subjectAltName=IP:127.0.0.1"}) {
        QProcess openssl;
        openssl.setWorkingDirectory(dir);
        openssl.start("openssl", step.split(' '));
        if (!openssl.waitForFinished() || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
            return false;
    }
    return true;
}

Publisher::Settings settingsFor(quint16 port, const char* id)
{
    Publisher::Settings s;
    s.host = "127.0.0.1";
    s.port = port;
    s.sensorId = id;
    s.user = BrokerFixture::User;
    s.password = BrokerFixture::Password;
    s.insecure = true;
    s.reconnectMinMs = 100;
    return s;
}
} // namespace

class TestPublisher : public QObject {
    Q_OBJECT
    // One broker for all: each test publishes under its own sensor id.
    BrokerFixture m_broker;
    QTemporaryDir m_dir; // the certificates and the files given to the logger
    quint16 port() const { return m_broker.port(); }
    // What a subscriber arriving now is given at once: the retained message.
    QString retained(const char* filter)
    {
        Subscriber late(port(), filter);
        return late.wait([&] { return !late.messages.empty(); }) ? late.messages[0] : QString();
    }

private slots:
    void initTestCase()
    {
        if (makeCertificates(m_dir.path()))
            m_broker.tlsDir = QFile::encodeName(m_dir.path());
        QVERIFY(!mosquitto_lib_init() && m_broker.start());
        const auto owner = QFile::ReadOwner | QFile::WriteOwner;
        for (const auto& [name, content, mode] : {std::tuple {"blank", QByteArray(" \r\n"), owner},
                 {"password", QByteArray(BrokerFixture::Password) + '\n', owner}, {"private", "private\n", owner},
                 {"shared", "shared\n", owner | QFile::ReadGroup | QFile::ReadOther}}) {
            QFile f(m_dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.setPermissions(mode));
        }
        QCOMPARE(::mkfifo(QFile::encodeName(m_dir.filePath("fifo")).constData(), 0600), 0);
    }

    // The logger itself: its rows and alarms as JSON, its presence, its Last
    // Will when killed without a chance to say goodbye.
    void loggerPublishesItsRowsAndStatus()
    {
        sim::SimOptions o;
        o.pitch = 0xBE8;
        Line line(o);
        Subscriber sub(port(), "veltrak/site1/#");
        QProcess logger;
        logger.start(QStringLiteral(VELTRAK_LOGGER),
            {"--device", line.ports.deviceFor(4), "--interval", "200", "--csv", m_dir.filePath("log.csv"), "--mqtt",
                QStringLiteral("127.0.0.1:%1").arg(port()), "--sensor-id", "site1", "--alarm-pitch", "10",
                "--mqtt-user", BrokerFixture::User, "--mqtt-password-file", m_dir.filePath("password"),
                "--mqtt-insecure", "--ha-discovery", "--reference", m_dir.filePath("zero.txt")});
        QVERIFY(sub.wait([&] { return sub.messages.filter("/reading ").size() >= 2; }, 8000));
        const QRegularExpression varying(
            R"re((?<="time":)"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z"|(?<="elapsed":)\d(\.\d{1,3})?(?=,)|(?<="samples":)\d+(?=,))re");
        sub.messages.replaceInStrings(varying, "X");
        // The alarm leaves with the first reading; its row only at the next
        // tick. The states follow every change, for subscribers to come.
        const QString row
            = R"(veltrak/site1/reading 1: {"alarm":"pitch","elapsed":X,"pitch":12.6,"pitch_change":0,"pitch_max":12.6,"pitch_min":12.6,"roll":0,"roll_change":0,"roll_max":0,"roll_min":0,"samples":X,"temperature":25,"time":X,"unit":"deg"})",
            alarm = R"(veltrak/site1/alarm 1: {"axis":"pitch","state":"raised","time":X,"value":12.6})",
            state = R"(veltrak/site1/alarm/state 1: {"pitch":"raised","roll":"off","time":X})";
        for (const QString& expected : {QStringLiteral("veltrak/site1/sensor 1: connected"), alarm, state, row})
            QVERIFY2(sub.messages.contains(expected), qPrintable(sub.messages.join('\n')));
        QVERIFY(sub.messages.indexOf(state) > sub.messages.indexOf(alarm));
        QCOMPARE(retained("veltrak/site1/sensor"), "veltrak/site1/sensor 1 retained: connected");
        QVERIFY(retained("veltrak/site1/alarm/state").contains(R"(retained: {"pitch":"raised","roll":"off",)"));
        QVERIFY(retained("veltrak/site1/reading").contains(R"( retained: {"alarm":"pitch",)")); // for a late dashboard

        // Home Assistant's discovery: every configuration has what the schema
        // requires, and each template names a field its topic carries.
        Subscriber ha(port(), "homeassistant/#");
        QVERIFY(ha.wait([&] { return ha.messages.size() >= 7; }));
        const QString reading = sub.messages.filter("/reading ").last();
        QStringList objects;
        for (const QString& m : std::as_const(ha.messages)) {
            const QJsonObject c = QJsonDocument::fromJson(m.section(": ", 1).toUtf8()).object();
            const QString component = m.section('/', 1, 1), topic = c["state_topic"].toString(),
                          field = c["value_template"].toString().section("value_json.", 1).section(' ', 0, 0);
            const bool sensor = component == "sensor" && topic == "veltrak/site1/reading"
                && reading.contains('"' + field + "\":") && c["state_class"] == "measurement";
            const bool binary = component == "binary_sensor" && !c["payload_on"].toString().isEmpty()
                && topic == (field.isEmpty() ? "veltrak/site1/sensor" : "veltrak/site1/alarm/state");
            QVERIFY2((sensor || binary) && m.contains(" 1 retained: ") && m.section(' ', 0, 0).endsWith("/config")
                    && !c["name"].toString().isEmpty() && c["unique_id"].toString().startsWith("veltrak_site1_")
                    && c["device"]["identifiers"][0] == "veltrak_site1" && c["device"]["name"] == "site1"
                    && c["availability"][0]["topic"] == "veltrak/site1/status" && !c.contains("availability_topic")
                    && c["origin"]["name"] == "veltrak-logger"
                    // Readings and alarms only while the sensor answers; the connectivity entity says whether it does.
                    && (field.isEmpty() ? c["availability"].toArray().size() == 1
                                        : c["availability"][1]["payload_not_available"] == "lost"
                                && c["availability_mode"] == "all"),
                qPrintable(m));
            objects << c["unique_id"].toString().mid(14) + "=" + c["device_class"].toString()
                    + c["unit_of_measurement"].toString() + c["suggested_display_precision"].toVariant().toString()
                    + c["expire_after"].toVariant().toString();
        }
        objects.sort();
        QCOMPARE(objects.join(' '),
            QStringLiteral("pitch=°21 pitch_alarm=problem pitch_change=°41 roll=°21 roll_change=°41 "
                           "sensor=connectivity temperature=temperature°C21"));
        QVERIFY(logger.readAllStandardError().contains(
            QStringLiteral("broker connected: 127.0.0.1:%1 (0 messages dropped while away)").arg(port()).toUtf8()));
        logger.kill();
        QVERIFY(sub.wait([&] { return sub.messages.contains("veltrak/site1/status 1: offline"); }));
        QCOMPARE(retained("veltrak/site1/status"), "veltrak/site1/status 1 retained: offline");
    }

    // One publisher across a broker's restart: what an outage costs, what is
    // sent and kept for late subscribers, and its goodbye.
    void publishesAcrossABrokerRestart()
    {
        Publisher::Settings s = settingsFor(port(), "s1");
        s.qos = 0;
        s.queueSize = 5;
        // A fixed pace lets the test restart the broker just after a failed
        // attempt and subscribe well before the next one.
        s.reconnectMinMs = s.reconnectMaxMs = 800;
        Publisher publisher(s);
        QSignalSpy changes(&publisher, &Publisher::connectionChanged);
        QVERIFY(!publisher.start());
        QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 1, 3000);
        QCOMPARE(retained("veltrak/s1/status"), "veltrak/s1/status 1 retained: online");
        m_broker.stop();
        QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 2, 3000);
        // The alarms must outlive the readings that push each other out, and
        // keep their place among those that are left.
        publisher.publishAlarm(QByteArray("raised"));
        for (int i = 0; i < 7; ++i)
            publisher.publishReading(QByteArray::number(i));
        publisher.publishAlarm(QByteArray("cleared"));
        for (int i = 7; i < 10; ++i)
            publisher.publishReading(QByteArray::number(i));
        const Publisher::Counters c = publisher.counters();
        QCOMPARE((QList<quint64> {c.queued, c.dropped, c.droppedEvents}), (QList<quint64> {7, 5, 0}));
        const quint64 attempts = publisher.counters().connectAttempts;
        QTRY_VERIFY_WITH_TIMEOUT(publisher.counters().connectAttempts > attempts, 2000);
        QVERIFY(m_broker.start());
        Subscriber sub(port(), "veltrak/s1/#");
        QCOMPARE(publisher.counters().connectAttempts, attempts + 1); // subscribed before the next attempt
        QStringList expected {"veltrak/s1/status 1: online", "veltrak/s1/alarm 1: raised", "veltrak/s1/reading 0: 5",
            "veltrak/s1/reading 0: 6", "veltrak/s1/alarm 1: cleared", "veltrak/s1/reading 0: 7",
            "veltrak/s1/reading 0: 8", "veltrak/s1/reading 0: 9"};
        QVERIFY(sub.wait([&] { return sub.messages == expected; }));
        QCOMPARE(changes.count(), 3);
        QCOMPARE(changes[2].mid(0, 2), (QVariantList {true, quint64(5)}));

        publisher.publishReading(QJsonObject {{"pitch", 1.25}, {"roll", -0.5}});
        publisher.publishAlarm(QByteArray(R"({"alarm":"tilt"})"));
        publisher.publishEvent("alarm/state", "pitch", 1, true);
        // What is still queued goes out before the goodbye.
        publisher.stop();
        QCOMPARE(publisher.counters().published, 10u);
        QCOMPARE(retained("veltrak/s1/status"), "veltrak/s1/status 1 retained: offline");
        QCOMPARE(retained("veltrak/s1/alarm/state"), "veltrak/s1/alarm/state 1 retained: pitch");
        expected += QStringList {R"(veltrak/s1/reading 0: {"pitch":1.25,"roll":-0.5})",
            R"(veltrak/s1/alarm 1: {"alarm":"tilt"})", "veltrak/s1/alarm/state 1: pitch",
            "veltrak/s1/status 1: offline"};
        QVERIFY(sub.wait([&] { return sub.messages == expected; }));
        // Such a level would publish where others listen, or nowhere.
        for (const char* id : {"", "a/b", "a+", "#"})
            QVERIFY(Publisher(settingsFor(port(), id)).start());
        s.topicPrefix = "$SYS/site";
        QCOMPARE(Publisher(s).start().value_or(""), "the MQTT topic prefix must not start with $");
    }

    // A broker's limits, a second client with our id, and a sensor taken out of service.
    void limitsTakeoverAndForget()
    {
        BrokerFixture small;
        small.limits = "max_packet_size 2000\nretain_available false\n";
        QVERIFY(small.start());
        Subscriber sub(small.port(), "veltrak/lim/reading");
        Publisher limited(settingsFor(small.port(), "lim"));
        QSignalSpy notes(&limited, &Publisher::limitNoticed);
        QVERIFY(!limited.start());
        limited.publishReading(QByteArray(5000, 'x'));
        limited.publishReading(QByteArray("small"));
        QVERIFY(sub.wait([&] { return sub.messages.contains("veltrak/lim/reading 1: small"); }, 8000));
        QTRY_COMPARE(notes.count(), 2);
        QCOMPARE(notes[0][0], "the broker keeps no retained messages: publishing without retain");
        QCOMPARE(notes[1][0],
            "message to veltrak/lim/reading dropped: 5000 bytes, more than the broker's maximum packet size");

        Publisher first(settingsFor(port(), "twin")), second(settingsFor(port(), "twin"));
        QSignalSpy lost(&first, &Publisher::disconnected), lost2(&second, &Publisher::disconnected);
        QVERIFY(!first.start() && !second.start());
        const QString takeover = "another client took over the connection of sensor twin";
        QTRY_VERIFY_WITH_TIMEOUT(QVariantList(lost.cbegin(), lost.cend()).contains(QVariantList {takeover})
                || QVariantList(lost2.cbegin(), lost2.cend()).contains(QVariantList {takeover}),
            15000);

        // Started without its device: "lost", not last run's "connected"; then forgotten.
        const QStringList common {"--mqtt", QStringLiteral("127.0.0.1:%1").arg(port()), "--sensor-id", "gone",
            "--mqtt-user", BrokerFixture::User, "--mqtt-password-file", m_dir.filePath("password"), "--mqtt-insecure",
            "--ha-discovery"};
        QProcess logger;
        logger.start(VELTRAK_LOGGER,
            common + QStringList {"--device", m_dir.filePath("none"), "--csv", "/dev/null", "--duration", "1"});
        QVERIFY(logger.waitForFinished(8000) && logger.exitCode() == 0);
        QCOMPARE(retained("veltrak/gone/sensor"), "veltrak/gone/sensor 1 retained: lost");
        logger.start(VELTRAK_LOGGER, common + QStringList {"--forget"});
        QVERIFY(logger.waitForFinished(15000) && logger.exitCode() == 0);
        QVERIFY(logger.readAllStandardOutput().contains("sensor gone forgotten on 127.0.0.1:"));
        // The broker sends the retained messages right after the subscription,
        // so a message of our own that comes back has come after all of them.
        Subscriber everything(port(), "#");
        QVERIFY(!mosquitto_publish(everything.mosq, nullptr, "probe", 3, "end", 1, false));
        QVERIFY(everything.wait([&] { return everything.messages.contains("probe 1: end"); }));
        QVERIFY2(everything.messages.filter("gone").isEmpty(), qPrintable(everything.messages.join('\n')));
    }

    void passwordsAndSecurity()
    {
        Publisher::Settings s = settingsFor(port(), "s5");
        s.password = "wrong";
        s.eventQueueSize = 3;
        Publisher publisher(s);
        QSignalSpy refused(&publisher, &Publisher::authenticationFailed);
        QVERIFY(!publisher.start());
        for (int i = 0; i < 100; ++i)
            publisher.publishReading(QByteArray::number(i));
        for (int i = 0; i < 4; ++i)
            publisher.publishEvent("alarm", QByteArray::number(i), 1, false);
        QCOMPARE(publisher.counters().droppedEvents, 1u); // their own bound, untouched by the readings
        QCOMPARE(publisher.counters().queued, 103u);
        QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, 3000);
        QCOMPARE(refused[0][0].toString(), "the broker refused the connection: not authorised");
        // The attempts that follow are refused alike, and not told again.
        QTRY_VERIFY(publisher.counters().connectAttempts > 2);
        QCOMPARE(refused.count(), 1);
        publisher.stop();
        QCOMPARE(publisher.counters().dropped, 100u);
        QCOMPARE(publisher.counters().droppedEvents, 4u);
        s.insecure = false; // which every other publisher here needs for its password in clear text
        QVERIFY(Publisher(s).start().value_or("").contains("without TLS"));
        s.caFile = "/nonexistent/ca.pem";
        QVERIFY(Publisher(s).start().value_or("").contains("CA file /nonexistent/ca.pem: "));
    }

    // Settings from the options, through the program where it must stop at once
    // (exit code 2): only regular files (a FIFO would hold the start up for ever)
    // with something usable. "@": the files' folder; "env": VELTRAK_MQTT_PASSWORD.
    void startupSettings_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("credential"); // empty: none
        QTest::addColumn<bool>("process");
        QTest::addColumn<QString>("outcome"); // the error, or the password and the warnings
        const std::tuple<const char*, const char*, const char*, bool, const char*> rows[] = {
            {"password FIFO", "--mqtt-password-file @/fifo", "", true,
                "--mqtt-password-file: @/fifo: not a regular file"},
            {"CA FIFO", "--mqtt-cafile @/fifo", "", true, "--mqtt-cafile: @/fifo: not a regular file"},
            {"blank", "--mqtt-password-file @/blank", "", false,
                "--mqtt-password-file: @/blank: no password on its first line"},
            {"no certificate", "--mqtt-cafile @/private", "", true,
                "--mqtt-cafile: @/private: no certificate in it (no -----BEGIN CERTIFICATE----- line)"},
            {"readable by others", "--mqtt-insecure --mqtt-password-file @/shared", "", false,
                "shared; @/shared can be read by other users; chmod 600 it"},
            {"credential", "--mqtt-insecure", "cred\n", false, "cred"},
            {"empty credential", "", "\n", false,
                "credential mqtt-password: @/mqtt-password: no password on its first line"},
            {"file over credential", "--mqtt-insecure --mqtt-password-file @/private", "cred", false, "private"},
            {"environment", "--mqtt-insecure", "", false, "env"},
            {"clear text", "", "", false,
                "refusing to send the MQTT password without TLS: give --mqtt-cafile, or --mqtt-insecure to allow it"},
        };
        for (const auto& [name, args, credential, process, outcome] : rows)
            QTest::newRow(name) << QString(args) << QString(credential) << process << QString(outcome);
    }

    void startupSettings()
    {
        QFETCH(QString, args);
        QFETCH(QString, credential);
        QFETCH(bool, process);
        QFETCH(QString, outcome);
        QFile f(m_dir.filePath("mqtt-password"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(credential.toUtf8()) == credential.size() && f.flush()
            && f.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        qputenv("CREDENTIALS_DIRECTORY", credential.isEmpty() ? QByteArray() : QFile::encodeName(m_dir.path()));
        qputenv("VELTRAK_MQTT_PASSWORD", "env");
        outcome.replace('@', m_dir.path());
        const QStringList options = QStringList {"--device", "/dev/a+b", "--mqtt", "127.0.0.1", "--mqtt-user", "u"}
            + args.replace('@', m_dir.path()).split(' ', Qt::SkipEmptyParts);
        if (process) {
            QProcess logger;
            logger.start(QStringLiteral(VELTRAK_LOGGER), options);
            QVERIFY(logger.waitForFinished(5000));
            QCOMPARE(logger.exitCode(), 2);
            QCOMPARE(logger.readAllStandardError().split('\n').first(), "veltrak-logger: " + outcome.toUtf8());
            return;
        }
        QStringList warnings;
        const auto result
            = SitePublishing::settingsFrom(std::get<LoggerOptions>(loggeroptions::parse(options)), &warnings);
        const auto* s = std::get_if<Publisher::Settings>(&result);
        QCOMPARE(s ? (QStringList {s->password} + warnings).join("; ") : std::get<QString>(result), outcome);
        if (s) // the defaults, neither a port nor --sensor-id given
            QCOMPARE(QString::number(s->port) + ' ' + s->sensorId, "1883 " + QSysInfo::machineHostName() + "-a_b");
    }

    // libmosquitto tells only that TLS failed; the operator needs to know
    // which side to fix.
    void tlsFaultsAreNamed_data()
    {
        QTest::addColumn<QString>("ca");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("listener"); // "tls", "plain" or "none"
        QTest::addColumn<QString>("reason"); // empty: connected
        const char* rows[][5] = {
            {"trusted", "ca.pem", "127.0.0.1", "tls", ""},
            {"unknown issuer", "other.pem", "127.0.0.1", "tls",
                "TLS failed: the broker's certificate is not trusted (unknown issuer)"},
            {"other name", "ca.pem", "localhost", "tls",
                "TLS failed: the broker's certificate does not match the host name localhost"},
            {"plain port", "ca.pem", "127.0.0.1", "plain", "TLS failed: the broker does not speak TLS on port %1"},
            // Not a TLS fault, and told at once rather than after the keepalive.
            {"no broker", "ca.pem", "127.0.0.1", "none", "Connection refused"},
        };
        for (const auto& r : rows)
            QTest::newRow(r[0]) << QString(r[1]) << QString(r[2]) << QString(r[3]) << QString(r[4]);
    }

    void tlsFaultsAreNamed()
    {
        if (!m_broker.tlsPort())
            QSKIP("the openssl tool could not make the test certificates");
        QFETCH(QString, ca);
        QFETCH(QString, host);
        QFETCH(QString, listener);
        QFETCH(QString, reason);
        QTcpServer probe; // closed again below: a port nobody listens on
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 to = listener == "tls" ? m_broker.tlsPort() : listener == "plain" ? port() : probe.serverPort();
        probe.close();
        Publisher::Settings s = settingsFor(to, "s6");
        s.host = host;
        s.caFile = m_dir.filePath(ca);
        Publisher publisher(s);
        QSignalSpy down(&publisher, &Publisher::disconnected);
        QVERIFY(!publisher.start());
        QTRY_VERIFY_WITH_TIMEOUT(publisher.isConnected() || !down.isEmpty(), 8000);
        QCOMPARE(down.value(0).value(0).toString(), reason.replace("%1", QString::number(to)));
    }
};

QTEST_GUILESS_MAIN(TestPublisher)
#include "tst_publisher.moc"
