// The MQTT publisher against a private broker, read back by a plain
// libmosquitto subscriber.
#include "brokerfixture.h"
#include "logger/publisher.h"
#include "sim/simsensor.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

#include <mosquitto.h>

#include <cstdio>
#include <functional>
#include <memory>

namespace {
struct Received {
    QByteArray topic, payload;
    int qos = 0;
    bool retained = false;
};

// Synchronous on purpose: it runs its network and the Qt events in the
// test's own thread, so waiting for a message also delivers the publisher's
// signals.
class Subscriber {
public:
    Subscriber(quint16 port, const char* filter) : m_mosq(mosquitto_new(nullptr, true, this))
    {
        mosquitto_message_callback_set(m_mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
            static_cast<Subscriber*>(self)->messages.push_back(
                {m->topic, QByteArray(static_cast<const char*>(m->payload), m->payloadlen), m->qos, m->retain});
        });
        mosquitto_subscribe_callback_set(
            m_mosq, [](mosquitto*, void* self, int, int, const int*) { static_cast<Subscriber*>(self)->ready = true; });
        if (mosquitto_connect(m_mosq, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS
            && mosquitto_subscribe(m_mosq, nullptr, filter, 1) == MOSQ_ERR_SUCCESS)
            wait([this] { return ready; });
    }
    ~Subscriber()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_destroy(m_mosq);
    }
    bool wait(const std::function<bool()>& done, int timeoutMs = 3000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < timeoutMs) {
            mosquitto_loop(m_mosq, 10, 1);
            QCoreApplication::processEvents();
        }
        return done();
    }
    QList<QByteArray> payloads(const char* leaf) const
    {
        QList<QByteArray> list;
        for (const Received& m : messages)
            if (m.topic.endsWith(QByteArray("/") + leaf))
                list << m.payload;
        return list;
    }
    std::vector<Received> messages;
    bool ready = false; // subscribed

private:
    mosquitto* m_mosq;
};

Publisher::Settings settingsFor(quint16 port, const QString& id)
{
    Publisher::Settings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    s.sensorId = id;
    s.reconnectMinMs = 100;
    s.reconnectMaxMs = 400;
    return s;
}

// In a child process: a publisher that tells when it is up, to be killed
// without any chance to say goodbye.
int runChild(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Publisher publisher(settingsFor(quint16(QByteArray(argv[2]).toUShort()), QString::fromLatin1(argv[3])));
    QObject::connect(&publisher, &Publisher::connected, [] {
        std::fputs("up\n", stdout);
        std::fflush(stdout);
    });
    return publisher.start() ? 2 : app.exec();
}
} // namespace

class TestPublisher : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { mosquitto_lib_init(); }
    void cleanupTestCase() { mosquitto_lib_cleanup(); }

    void securityCheck()
    {
        Publisher::Settings s = settingsFor(1883, "s");
        s.password = "p";
        QVERIFY(Publisher::checkSecurity(s)->contains("refusing to send the MQTT password without TLS"));
        s.insecure = true;
        QVERIFY(!Publisher::checkSecurity(s));
        s.insecure = false;
        s.caFile = "/nonexistent/ca.pem";
        QVERIFY(!Publisher::checkSecurity(s));
        QVERIFY(Publisher(s).start()->contains("CA file"));
    }

    void readingAndAlarmArrive()
    {
        BrokerFixture broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), "veltrak/s1/#");
        Publisher::Settings s = settingsFor(broker.port(), "s1");
        s.qos = 0;
        Publisher publisher(s);
        QVERIFY(!publisher.start());
        QVERIFY(sub.wait([&] { return sub.payloads("status") == QList<QByteArray> {"online"}; }));
        publisher.publishReading(QJsonObject {{"pitch", 1.25}, {"roll", -0.5}});
        publisher.publishAlarm(QByteArray(R"({"alarm":"tilt"})"));
        QVERIFY(sub.wait([&] { return sub.messages.size() == 3; }));
        QCOMPARE(QJsonDocument::fromJson(sub.payloads("reading").value(0))["pitch"].toDouble(), 1.25);
        QCOMPARE(sub.payloads("alarm"), QList<QByteArray> {R"({"alarm":"tilt"})"});
        for (const Received& m : sub.messages)
            QCOMPARE(m.qos, m.topic.endsWith("reading") ? 0 : 1);
        QTRY_COMPARE(publisher.counters().published, 2u);
    }

    void statusRetainedOnlineThenOffline()
    {
        BrokerFixture broker;
        QVERIFY(broker.start());
        Publisher publisher(settingsFor(broker.port(), "s2"));
        QSignalSpy up(&publisher, &Publisher::connected);
        QVERIFY(!publisher.start());
        QTRY_COMPARE_WITH_TIMEOUT(up.count(), 1, 3000);
        for (const char* expected : {"online", "offline"}) {
            Subscriber late(broker.port(), "veltrak/s2/status");
            QVERIFY(late.wait([&] { return !late.messages.empty(); }));
            QCOMPARE(late.messages[0].payload, expected);
            QVERIFY(late.messages[0].retained);
            QElapsedTimer clock;
            clock.start();
            publisher.stop();
            QVERIFY(clock.elapsed() < 1000);
        }
    }

    // The logger itself: its rows as JSON, its presence, its Last Will.
    void loggerPublishesItsRowsAndStatus()
    {
        BrokerFixture broker;
        QVERIFY(broker.start());
        QTemporaryDir dir;
        sim::SimOptions o;
        o.pitch = 0xBE8;
        o.linkPath = dir.filePath(QStringLiteral("tty")).toStdString();
        sim::SimSensor sensor(o);
        QVERIFY(sensor.start());
        Subscriber sub(broker.port(), "veltrak/site1/#");
        QProcess logger;
        logger.start(QStringLiteral(VELTRAK_LOGGER),
            {"--device", QString::fromStdString(o.linkPath), "--interval", "200", "--csv", dir.filePath("log.csv"),
                "--mqtt", QStringLiteral("127.0.0.1:%1").arg(broker.port()), "--sensor-id", "site1"});
        QVERIFY(sub.wait([&] { return sub.payloads("reading").size() >= 2; }, 8000));
        QCOMPARE(sub.payloads("status").value(0), QByteArray("online"));
        const QJsonObject reading = QJsonDocument::fromJson(sub.payloads("reading").last()).object();
        QCOMPARE(reading.keys(),
            (QStringList {"alarm", "elapsed", "pitch", "roll", "temperature", "time", "unit"}));
        QCOMPARE(reading["pitch"].toDouble(), 12.6);
        QCOMPARE(reading["temperature"].toDouble(), 25.0);
        QCOMPARE(reading["unit"].toString(), QStringLiteral("deg"));
        QVERIFY(reading["time"].toString().endsWith(QLatin1Char('Z')));
        logger.kill();
        QVERIFY(logger.waitForFinished(3000));
        QVERIFY(sub.wait([&] { return sub.payloads("status").contains("offline"); }, 5000));
    }

    void killedPublisherLeavesWill()
    {
        BrokerFixture broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), "veltrak/s3/status");
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--child", QString::number(broker.port()), "s3"});
        QVERIFY(child.waitForReadyRead(5000));
        QCOMPARE(child.readLine().trimmed(), "up");
        QVERIFY(sub.wait([&] { return sub.payloads("status") == QList<QByteArray> {"online"}; }));
        child.kill(); // SIGKILL
        QVERIFY(child.waitForFinished(3000));
        QVERIFY(sub.wait([&] { return sub.payloads("status") == QList<QByteArray> {"online", "offline"}; }));
    }

    void brokerRestartKeepsTheNewestAndResumes()
    {
        BrokerFixture broker;
        QVERIFY(broker.start());
        Publisher::Settings s = settingsFor(broker.port(), "s4");
        s.queueSize = 5;
        // A fixed pace lets the test restart the broker just after a failed
        // attempt and subscribe well before the next one.
        s.reconnectMinMs = s.reconnectMaxMs = 800;
        Publisher publisher(s);
        QSignalSpy changes(&publisher, &Publisher::connectionChanged);
        QVERIFY(!publisher.start());
        auto sub = std::make_unique<Subscriber>(broker.port(), "veltrak/s4/#");
        QVERIFY(sub->wait([&] { return changes.count() == 1; }));
        for (int i = 0; i < 3; ++i)
            publisher.publishReading(QByteArray::number(i));
        QVERIFY(sub->wait([&] { return sub->payloads("reading").size() == 3; }));

        broker.stop();
        QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 2, 3000);
        QCOMPARE(changes[1][0].toBool(), false);
        sub.reset();
        QElapsedTimer clock;
        clock.start();
        for (int i = 3; i < 13; ++i)
            publisher.publishReading(QByteArray::number(i));
        QVERIFY(clock.elapsed() < 250); // generous for a loaded machine; waiting for the broker takes seconds
        QCOMPARE(publisher.counters().queued, 5u);
        QCOMPARE(publisher.counters().dropped, 5u);

        const quint64 attempts = publisher.counters().connectAttempts;
        QTRY_VERIFY_WITH_TIMEOUT(publisher.counters().connectAttempts > attempts, 2000);
        clock.start();
        QVERIFY(broker.start());
        sub = std::make_unique<Subscriber>(broker.port(), "veltrak/s4/#");
        QVERIFY2(sub->ready && clock.elapsed() < 700, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(sub->wait([&] { return sub->payloads("reading").size() == 5; }));
        QCOMPARE(sub->payloads("reading"), (QList<QByteArray> {"8", "9", "10", "11", "12"}));
        QCOMPARE(sub->payloads("status"), QList<QByteArray> {"online"});
        QCOMPARE(changes.count(), 3);
        QCOMPARE(changes[2].mid(0, 2), (QVariantList {true, quint64(5)}));
    }

    void wrongPasswordReportedWithoutBlocking()
    {
        BrokerFixture broker;
        QVERIFY(broker.start("logger", "right"));
        Publisher::Settings s = settingsFor(broker.port(), "s5");
        s.user = "logger";
        s.password = "wrong";
        s.insecure = true;
        Publisher publisher(s);
        QSignalSpy refused(&publisher, &Publisher::authenticationFailed);
        QVERIFY(!publisher.start());
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 100; ++i)
            publisher.publishReading(QByteArray::number(i));
        QVERIFY(clock.elapsed() < 250);
        QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, 3000);
        const QString reason = refused[0][0].toString();
        QVERIFY2(reason.contains("not authorised") || reason.contains("bad user name or password"), qPrintable(reason));
        QTest::qWait(300); // the attempts that follow are refused alike, and not told again
        QCOMPARE(refused.count(), 1);
        QVERIFY(publisher.counters().connectAttempts > 1);
        clock.start();
        publisher.stop();
        QVERIFY(clock.elapsed() < 500);
        QCOMPARE(publisher.counters().dropped, 100u);
    }
};

int main(int argc, char** argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--child") == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestPublisher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_publisher.moc"
