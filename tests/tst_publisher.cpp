// The MQTT publisher, alone and inside the logger, against a private broker
// read back by a plain libmosquitto subscriber.
#include "brokerfixture.h"
#include "logger/sitepublishing.h"
#include "sim/simsensor.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTest>

#include <mosquitto.h>

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
    quint16 port() const { return m_broker.port(); }

private slots:
    void initTestCase() { QVERIFY(!mosquitto_lib_init() && m_broker.start()); }

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
        // What is still queued goes out before the goodbye.
        QVERIFY(msFor([&](int) { publisher.stop(); }) < 1000);
        QCOMPARE(publisher.counters().published, 2u);
        QCOMPARE(firstFor(port(), "veltrak/s1/status"), "veltrak/s1/status 1 retained: offline");
        QVERIFY(sub.wait([&] { return sub.messages.size() == 4; }));
        QCOMPARE(sub.messages,
            (QStringList {"veltrak/s1/status 1: online", R"(veltrak/s1/reading 0: {"pitch":1.25,"roll":-0.5})",
                R"(veltrak/s1/alarm 1: {"alarm":"tilt"})", "veltrak/s1/status 1: offline"}));
        // Such a level would publish where others listen, or nowhere.
        for (const char* id : {"", "a/b", "a+", "#"})
            QVERIFY(Publisher(settingsFor(port(), id)).start());
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
        o.linkPath = dir.filePath(QStringLiteral("tty")).toStdString();
        sim::SimSensor sensor(o);
        QVERIFY(sensor.start());
        Subscriber sub(port(), "veltrak/site1/#");
        QProcess logger;
        logger.start(QStringLiteral(VELTRAK_LOGGER),
            {"--device", QString::fromStdString(o.linkPath), "--interval", "200", "--csv", dir.filePath("log.csv"),
                "--mqtt", QStringLiteral("127.0.0.1:%1").arg(port()), "--sensor-id", "site1", "--alarm-pitch", "10",
                "--mqtt-user", BrokerFixture::User, "--mqtt-password-file", pw.fileName(), "--mqtt-insecure"});
        QVERIFY(sub.wait([&] { return sub.messages.size() >= 3; }, 8000));
        sub.messages.replaceInStrings(
            QRegularExpression(R"("time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z")"), R"("time":T)");
        sub.messages.replaceInStrings(QRegularExpression(R"("elapsed":\d(\.\d{1,3})?,)"), R"("elapsed":E,)");
        // The alarm leaves with the first reading; its row only at the next tick.
        QCOMPARE(sub.messages.mid(0, 3),
            (QStringList {"veltrak/site1/status 1: online",
                R"(veltrak/site1/alarm 1: {"axis":"pitch","state":"raised","time":T,"value":12.6})",
                R"(veltrak/site1/reading 1: {"alarm":"pitch","elapsed":E,"pitch":12.6,"roll":0,"temperature":25,"time":T,"unit":"deg"})"}));
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
        // Generous for a loaded machine; waiting for the broker takes seconds.
        QVERIFY(msFor([&](int i) { publisher.publishReading(QByteArray::number(i)); }, 10) < 250);
        QCOMPARE(publisher.counters().queued, 5u);
        QCOMPARE(publisher.counters().dropped, 5u);

        const quint64 attempts = publisher.counters().connectAttempts;
        QTRY_VERIFY_WITH_TIMEOUT(publisher.counters().connectAttempts > attempts, 2000);
        QVERIFY(m_broker.start());
        Subscriber sub(port(), "veltrak/s4/#");
        QCOMPARE(publisher.counters().connectAttempts, attempts + 1); // subscribed before the next attempt
        QStringList expected {"veltrak/s4/status 1: online"};
        for (int i = 5; i < 10; ++i)
            expected << QStringLiteral("veltrak/s4/reading 1: %1").arg(i);
        QVERIFY(sub.wait([&] { return sub.messages == expected; }));
        QCOMPARE(changes.count(), 3);
        QCOMPARE(changes[2].mid(0, 2), (QVariantList {true, quint64(5)}));
    }

    void passwordsAndSecurity()
    {
        Publisher::Settings s = settingsFor(port(), "s5");
        s.password = "wrong";
        Publisher publisher(s);
        QSignalSpy refused(&publisher, &Publisher::authenticationFailed);
        QVERIFY(!publisher.start());
        QVERIFY(msFor([&](int i) { publisher.publishReading(QByteArray::number(i)); }, 100) < 250);
        QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, 3000);
        QCOMPARE(refused[0][0].toString(), "the broker refused the connection: not authorised");
        // The attempts that follow are refused alike, and not told again.
        QTRY_VERIFY(publisher.counters().connectAttempts > 2);
        QCOMPARE(refused.count(), 1);
        QVERIFY(msFor([&](int) { publisher.stop(); }) < 500);
        QCOMPARE(publisher.counters().dropped, 100u);

        // Every other publisher here sends its password in clear text, which
        // insecure allows.
        LoggerOptions o = std::get<LoggerOptions>(
            loggeroptions::parse({"--device", "/dev/a+b", "--mqtt", "127.0.0.1", "--mqtt-user", "u"}));
        qputenv("VELTRAK_MQTT_PASSWORD", "p");
        QVERIFY(std::get<QString>(SitePublishing::settingsFrom(o))
                    .contains("refusing to send the MQTT password without TLS"));
        o.mqtt.caFile = "/nonexistent/ca.pem";
        s = std::get<Publisher::Settings>(SitePublishing::settingsFrom(o));
        QCOMPARE(s.port, 8883);
        QCOMPARE(s.sensorId, QSysInfo::machineHostName() + "-a_b");
        QVERIFY(Publisher(s).start().value_or("").contains("CA file"));
        s.caFile.clear();
        QVERIFY(Publisher(s).start().value_or("").contains("without TLS"));
    }
};

QTEST_GUILESS_MAIN(TestPublisher)
#include "tst_publisher.moc"
