// The MQTT publisher, alone and inside the logger, against a private broker
// read back by a plain libmosquitto subscriber.
#include "brokerfixture.h"
#include "logger/sitepublishing.h"
#include "simline.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTest>

#include <mosquitto.h>
#include <sys/stat.h>

namespace {
// Synchronous on purpose: it runs its network and the Qt events in the
// test's own thread, so waiting for a message also delivers the publisher's
// signals. Each message is kept as "<topic> <qos>[ retained]: <payload>", so
// that one comparison checks all of it.
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

// What a subscriber arriving now is given at once: the retained message.
QString firstFor(quint16 port, const char* filter)
{
    Subscriber late(port, filter);
    late.wait([&] { return !late.messages.empty(); });
    return late.messages.value(0);
}

// The caller must never wait for the network: how long f(0) ... f(times - 1)
// kept it.
template <class F> qint64 msFor(F f, int times = 1)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < times; ++i)
        f(i);
    return clock.elapsed();
}

// A CA, a broker certificate it signed for 127.0.0.1 alone (the tests
// connect as "localhost" to miss it), and an unrelated CA; false without the
// openssl tool.
bool makeCertificates(const QString& dir)
{
    QFile conf(dir + "/openssl.cnf");
    const QByteArray text = "[req]\ndistinguished_name = dn\n[dn]\n[ca]\nbasicConstraints = critical,CA:TRUE\n"
                            "keyUsage = keyCertSign\n[broker]\nsubjectAltName = IP:127.0.0.1\n";
    if (!conf.open(QIODevice::WriteOnly) || conf.write(text) != text.size() || !conf.flush())
        return false;
    const QString key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -config openssl.cnf -days 2";
    for (const QString& step : {"req -x509 -extensions ca -subj /CN=TestCA -keyout ca.key -out ca.pem" + key,
             "req -x509 -extensions ca -subj /CN=OtherCA -keyout other.key -out other.pem" + key,
             "req -new -subj /CN=broker -keyout broker.key -out broker.csr" + key,
             QStringLiteral("x509 -req -in broker.csr -CA ca.pem -CAkey ca.key -set_serial 2 -days 2 -extfile "
                            "openssl.cnf -extensions broker -out broker.pem")}) {
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
    QTemporaryDir m_certs;
    bool m_tls = false;
    quint16 port() const { return m_broker.port(); }

private slots:
    void initTestCase()
    {
        if ((m_tls = makeCertificates(m_certs.path()))) {
            m_broker.cert = QFile::encodeName(m_certs.filePath("broker.pem"));
            m_broker.key = QFile::encodeName(m_certs.filePath("broker.key"));
        }
        QVERIFY(!mosquitto_lib_init() && m_broker.start());
    }

    void readingsAlarmsAndRetainedStatus()
    {
        Subscriber sub(port(), "veltrak/s1/#");
        Publisher::Settings s = settingsFor(port(), "s1");
        s.qos = 0;
        Publisher publisher(s);
        QSignalSpy up(&publisher, &Publisher::connected);
        QVERIFY(!publisher.start());
        QTRY_COMPARE(up.count(), 1);
        QCOMPARE(firstFor(port(), "veltrak/s1/status"), "veltrak/s1/status 1 retained: online");
        publisher.publishReading(QJsonObject {{"pitch", 1.25}, {"roll", -0.5}});
        publisher.publishAlarm(QByteArray(R"({"alarm":"tilt"})"));
        publisher.publishEvent("alarm/state", "pitch", 1, true);
        // What is still queued goes out before the goodbye.
        QVERIFY(msFor([&](int) { publisher.stop(); }) < 1000);
        QCOMPARE(publisher.counters().published, 3u);
        QCOMPARE(firstFor(port(), "veltrak/s1/status"), "veltrak/s1/status 1 retained: offline");
        QCOMPARE(firstFor(port(), "veltrak/s1/alarm/state"), "veltrak/s1/alarm/state 1 retained: pitch");
        QVERIFY(sub.wait([&] { return sub.messages.size() == 5; }));
        QCOMPARE(sub.messages,
            (QStringList {"veltrak/s1/status 1: online", R"(veltrak/s1/reading 0: {"pitch":1.25,"roll":-0.5})",
                R"(veltrak/s1/alarm 1: {"alarm":"tilt"})", "veltrak/s1/alarm/state 1: pitch",
                "veltrak/s1/status 1: offline"}));
        // Such a level would publish where others listen, or nowhere.
        for (const char* id : {"", "a/b", "a+", "#"})
            QVERIFY(Publisher(settingsFor(port(), id)).start());
        s.topicPrefix = "$SYS/site";
        QCOMPARE(Publisher(s).start().value_or(""), "the MQTT topic prefix must not start with $");
    }

    // The logger itself: its rows and alarms as JSON, its presence, its Last
    // Will when killed without a chance to say goodbye.
    void loggerPublishesItsRowsAndStatus()
    {
        QTemporaryDir dir;
        QFile pw(dir.filePath("password"));
        QVERIFY(pw.open(QIODevice::WriteOnly) && pw.write(BrokerFixture::Password + QByteArray("\n")) && pw.flush());
        sim::SimOptions o;
        o.pitch = 0xBE8;
        Line line(o);
        Subscriber sub(port(), "veltrak/site1/#");
        QProcess logger;
        logger.start(QStringLiteral(VELTRAK_LOGGER),
            {"--device", line.ports.deviceFor(4), "--interval", "200", "--csv", dir.filePath("log.csv"), "--mqtt",
                QStringLiteral("127.0.0.1:%1").arg(port()), "--sensor-id", "site1", "--alarm-pitch", "10",
                "--mqtt-user", BrokerFixture::User, "--mqtt-password-file", pw.fileName(), "--mqtt-insecure",
                "--ha-discovery", "--reference", dir.filePath("zero.txt")});
        QVERIFY(sub.wait([&] { return sub.messages.filter("/reading ").size() >= 2; }, 8000));
        sub.messages.replaceInStrings(
            QRegularExpression(R"("time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z")"), R"("time":T)");
        sub.messages.replaceInStrings(QRegularExpression(R"("elapsed":\d(\.\d{1,3})?,)"), R"("elapsed":E,)");
        sub.messages.replaceInStrings(QRegularExpression(R"("samples":\d+,)"), R"("samples":N,)");
        // The alarm leaves with the first reading; its row only at the next
        // tick. The states follow every change, for subscribers to come.
        QCOMPARE(sub.messages.first(), "veltrak/site1/status 1: online");
        for (const char* expected :
            {R"(veltrak/site1/sensor 1: connected)",
                R"(veltrak/site1/alarm 1: {"axis":"pitch","state":"raised","time":T,"value":12.6})",
                R"(veltrak/site1/alarm/state 1: {"pitch":"raised","roll":"ok","time":T})",
                R"(veltrak/site1/reading 1: {"alarm":"pitch","elapsed":E,"pitch":12.6,"pitch_change":0,"pitch_max":12.6,"pitch_min":12.6,"roll":0,"roll_change":0,"roll_max":0,"roll_min":0,"samples":N,"temperature":25,"time":T,"unit":"deg"})"})
            QVERIFY2(sub.messages.contains(expected), qPrintable(sub.messages.join('\n')));
        QVERIFY(sub.messages.indexOf(R"(veltrak/site1/alarm/state 1: {"pitch":"raised","roll":"ok","time":T})")
            > sub.messages.indexOf(
                R"(veltrak/site1/alarm 1: {"axis":"pitch","state":"raised","time":T,"value":12.6})"));
        QCOMPARE(firstFor(port(), "veltrak/site1/sensor"), "veltrak/site1/sensor 1 retained: connected");
        QVERIFY(firstFor(port(), "veltrak/site1/alarm/state").contains(R"(retained: {"pitch":"raised","roll":"ok",)"));

        // Home Assistant's discovery: every configuration has what the schema
        // requires, and each template names a field its topic carries.
        Subscriber ha(port(), "homeassistant/#");
        QVERIFY(ha.wait([&] { return ha.messages.size() >= 8; }));
        const QString reading = sub.messages.filter("/reading ").last();
        QStringList objects;
        for (const QString& m : std::as_const(ha.messages)) {
            const QJsonObject c = QJsonDocument::fromJson(m.section(": ", 1).toUtf8()).object();
            const QString component = m.section('/', 1, 1), state = c["state_topic"].toString();
            QVERIFY2(m.contains(" 1 retained: ") && m.section(' ', 0, 0).endsWith("/config"), qPrintable(m));
            QVERIFY2(!c["name"].toString().isEmpty() && c["unique_id"].toString().startsWith("veltrak_site1_")
                    && c["device"]["identifiers"][0] == "veltrak_site1" && c["device"]["name"] == "site1"
                    && c["availability_topic"] == "veltrak/site1/status" && c["payload_available"] == "online",
                qPrintable(m));
            const QString field = c["value_template"].toString().section("value_json.", 1).section(' ', 0, 0);
            if (component == "sensor")
                QVERIFY2(state == "veltrak/site1/reading" && reading.contains('"' + field + "\":")
                        && c["state_class"] == "measurement",
                    qPrintable(m));
            else
                QVERIFY2(component == "binary_sensor" && !c["payload_on"].toString().isEmpty()
                        && (field.isEmpty() ? state == "veltrak/site1/sensor" : state == "veltrak/site1/alarm/state"),
                    qPrintable(m));
            objects << c["unique_id"].toString().mid(14) + "=" + c["device_class"].toString()
                    + c["unit_of_measurement"].toString();
        }
        objects.sort();
        QCOMPARE(objects.join(' '),
            QStringLiteral("pitch=° pitch_alarm=problem pitch_change=° roll=° roll_alarm=problem "
                           "roll_change=° sensor=connectivity temperature=temperature°C"));
        QVERIFY(logger.readAllStandardError().contains(
            QStringLiteral("broker connected: 127.0.0.1:%1 (0 messages dropped while away)").arg(port()).toUtf8()));
        logger.kill();
        QVERIFY(sub.wait([&] { return sub.messages.contains("veltrak/site1/status 1: offline"); }));
        QCOMPARE(firstFor(port(), "veltrak/site1/status"), "veltrak/site1/status 1 retained: offline");
    }

    void brokerRestartKeepsTheNewestAndResumes()
    {
        Publisher::Settings s = settingsFor(port(), "s4");
        s.queueSize = 5;
        // A fixed pace lets the test restart the broker just after a failed
        // attempt and subscribe well before the next one.
        s.reconnectMinMs = s.reconnectMaxMs = 800;
        Publisher publisher(s);
        QSignalSpy changes(&publisher, &Publisher::connectionChanged);
        QVERIFY(!publisher.start());
        QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 1, 3000);
        m_broker.stop();
        QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 2, 3000);
        // The alarms must outlive the readings that push each other out, and
        // keep their place among those that are left.
        publisher.publishAlarm(QByteArray("raised"));
        const auto publish = [&](int i) {
            if (i == 7)
                publisher.publishAlarm(QByteArray("cleared"));
            publisher.publishReading(QByteArray::number(i));
        };
        // Generous for a loaded machine; waiting for the broker takes seconds.
        QVERIFY(msFor(publish, 10) < 250);
        QCOMPARE(publisher.counters().queued, 7u);
        QCOMPARE(publisher.counters().dropped, 5u);
        QCOMPARE(publisher.counters().droppedEvents, 0u);

        const quint64 attempts = publisher.counters().connectAttempts;
        QTRY_VERIFY_WITH_TIMEOUT(publisher.counters().connectAttempts > attempts, 2000);
        QVERIFY(m_broker.start());
        Subscriber sub(port(), "veltrak/s4/#");
        QCOMPARE(publisher.counters().connectAttempts, attempts + 1); // subscribed before the next attempt
        const QStringList expected {"veltrak/s4/status 1: online", "veltrak/s4/alarm 1: raised",
            "veltrak/s4/reading 1: 5", "veltrak/s4/reading 1: 6", "veltrak/s4/alarm 1: cleared",
            "veltrak/s4/reading 1: 7", "veltrak/s4/reading 1: 8", "veltrak/s4/reading 1: 9"};
        QVERIFY(sub.wait([&] { return sub.messages == expected; }));
        QCOMPARE(changes.count(), 3);
        QCOMPARE(changes[2].mid(0, 2), (QVariantList {true, quint64(5)}));
    }

    void passwordsAndSecurity()
    {
        Publisher::Settings s = settingsFor(port(), "s5");
        s.password = "wrong";
        s.eventQueueSize = 3;
        Publisher publisher(s);
        QSignalSpy refused(&publisher, &Publisher::authenticationFailed);
        QVERIFY(!publisher.start());
        QVERIFY(msFor([&](int i) { publisher.publishReading(QByteArray::number(i)); }, 100) < 250);
        for (int i = 0; i < 4; ++i)
            publisher.publishEvent("alarm", QByteArray::number(i), 1, false);
        QCOMPARE(publisher.counters().droppedEvents, 1u); // their own bound, untouched by the readings
        QCOMPARE(publisher.counters().queued, 103u);
        QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, 3000);
        QCOMPARE(refused[0][0].toString(), "the broker refused the connection: not authorised");
        // The attempts that follow are refused alike, and not told again.
        QTRY_VERIFY(publisher.counters().connectAttempts > 2);
        QCOMPARE(refused.count(), 1);
        QVERIFY(msFor([&](int) { publisher.stop(); }) < 500);
        QCOMPARE(publisher.counters().dropped, 100u);
        QCOMPARE(publisher.counters().droppedEvents, 4u);

        // Every other publisher here sends its password in clear text, which
        // insecure allows.
        LoggerOptions o = std::get<LoggerOptions>(
            loggeroptions::parse({"--device", "/dev/a+b", "--mqtt", "127.0.0.1", "--mqtt-user", "u"}));
        qputenv("VELTRAK_MQTT_PASSWORD", "p");
        QVERIFY(std::get<QString>(SitePublishing::settingsFrom(o))
                    .contains("refusing to send the MQTT password without TLS"));
        s = settingsFor(port(), "s5");
        s.caFile = "/nonexistent/ca.pem";
        QVERIFY(Publisher(s).start().value_or("").contains("CA file /nonexistent/ca.pem: "));
        s.caFile.clear();
        s.insecure = false;
        QVERIFY(Publisher(s).start().value_or("").contains("without TLS"));
        o.mqtt.insecure = true;
        s = std::get<Publisher::Settings>(SitePublishing::settingsFrom(o));
        QCOMPARE(s.port, 1883);
        QCOMPARE(s.sensorId, QSysInfo::machineHostName() + "-a_b");
    }

    // The files read at start: only regular ones (a FIFO would hold the start
    // up for ever), with something usable in them. "@" stands for the
    // folder of the files, "env" for the password in VELTRAK_MQTT_PASSWORD.
    void startupFiles_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QByteArray>("credential"); // null: no credential
        QTest::addColumn<bool>("process"); // through the program: its exit code 2, at once
        QTest::addColumn<QString>("outcome"); // the error, or the password and the warnings
        QTest::newRow("password FIFO") << "--mqtt-password-file @/fifo" << QByteArray() << true
                                       << "--mqtt-password-file: @/fifo: not a regular file";
        QTest::newRow("CA FIFO") << "--mqtt-cafile @/fifo" << QByteArray() << true
                                 << "--mqtt-cafile: @/fifo: not a regular file";
        QTest::newRow("blank") << "--mqtt-password-file @/blank" << QByteArray() << false
                               << "--mqtt-password-file: @/blank: no password on its first line";
        QTest::newRow("no certificate")
            << "--mqtt-cafile @/private" << QByteArray() << true
            << "--mqtt-cafile: @/private: no certificate in it (no -----BEGIN CERTIFICATE----- line)";
        QTest::newRow("readable by others") << "--mqtt-password-file @/shared" << QByteArray() << false
                                            << "shared; @/shared can be read by other users; chmod 600 it";
        QTest::newRow("credential") << "" << QByteArray("cred\n") << false << "cred";
        QTest::newRow("empty credential") << "" << QByteArray("\n") << false
                                          << "credential mqtt-password: @/mqtt-password: no password on its first line";
        QTest::newRow("file over credential")
            << "--mqtt-password-file @/private" << QByteArray("cred") << false << "private";
        QTest::newRow("environment") << "" << QByteArray() << false << "env";
    }

    void startupFiles()
    {
        QFETCH(QString, args);
        QFETCH(QByteArray, credential);
        QFETCH(bool, process);
        QFETCH(QString, outcome);
        QTemporaryDir dir;
        const auto write = [&](const char* name, const QByteArray& content, QFile::Permissions mode) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.setPermissions(mode));
        };
        const auto owner = QFile::ReadOwner | QFile::WriteOwner;
        write("blank", " \r\n", owner);
        write("private", "private\n", owner);
        write("shared", "shared\n", owner | QFile::ReadGroup | QFile::ReadOther);
        if (!credential.isNull())
            write("mqtt-password", credential, owner);
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600), 0);
        qputenv("VELTRAK_MQTT_PASSWORD", "env");
        if (credential.isNull())
            qunsetenv("CREDENTIALS_DIRECTORY");
        else
            qputenv("CREDENTIALS_DIRECTORY", QFile::encodeName(dir.path()));
        outcome.replace('@', dir.path());
        const QStringList options
            = QStringList {"--device", "/dev/null", "--mqtt", "127.0.0.1", "--mqtt-user", "u", "--mqtt-insecure"}
            + args.replace('@', dir.path()).split(' ', Qt::SkipEmptyParts);
        if (process) {
            QProcess logger;
            logger.start(QStringLiteral(VELTRAK_LOGGER), options);
            QVERIFY(logger.waitForFinished(5000));
            QCOMPARE(logger.exitCode(), 2);
            QCOMPARE(logger.readAllStandardError().split('\n').first(), "veltrak-logger: " + outcome.toUtf8());
            return;
        }
        const auto parsed = loggeroptions::parse(options);
        if (const QString* error = std::get_if<QString>(&parsed)) {
            QCOMPARE(*error, outcome);
            return;
        }
        QStringList warnings;
        const auto settings = SitePublishing::settingsFrom(std::get<LoggerOptions>(parsed), &warnings);
        if (const QString* error = std::get_if<QString>(&settings)) {
            QCOMPARE(*error, outcome);
            return;
        }
        QCOMPARE((QStringList {std::get<Publisher::Settings>(settings).password} + warnings).join("; "), outcome);
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
        if (!m_tls)
            QSKIP("the openssl tool could not make the test certificates");
        QFETCH(QString, ca);
        QFETCH(QString, host);
        QFETCH(QString, listener);
        QFETCH(QString, reason);
        quint16 to = listener == "tls" ? m_broker.tlsPort() : port();
        if (QTcpServer probe; listener == "none") {
            QVERIFY(probe.listen(QHostAddress::LocalHost)); // and closed again: a port nobody listens on
            to = probe.serverPort();
        }
        Publisher::Settings s = settingsFor(to, "s6");
        s.host = host;
        s.caFile = m_certs.filePath(ca);
        Publisher publisher(s);
        QSignalSpy up(&publisher, &Publisher::connected);
        QSignalSpy down(&publisher, &Publisher::disconnected);
        QVERIFY(!publisher.start());
        QTRY_VERIFY_WITH_TIMEOUT(up.count() + down.count() > 0, 8000);
        QCOMPARE(down.value(0).value(0).toString(), reason.replace("%1", QString::number(to)));
    }
};

QTEST_GUILESS_MAIN(TestPublisher)
#include "tst_publisher.moc"
