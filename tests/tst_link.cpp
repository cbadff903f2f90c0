// SPDX-License-Identifier: GPL-3.0-or-later
// The sensor link without a widget, under QCoreApplication, against the
// simulated sensor over a real pseudo-terminal.
#include "fakeprompter.h"
#include "link/sensorlink.h"
#include "link/serialport.h"
#include "simline.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {
struct Rig {
    std::unique_ptr<sim::SimSensor> sensor;
    SensorLink link;
    QList<Frame> frames;
    QStringList failures;
    explicit Rig(sim::SimOptions o = {}, Model model = Model::Z1)
    {
        QObject::connect(&link, &SensorLink::frameReady, &link, [this](const Frame& f) { frames << f; });
        QObject::connect(&link, &SensorLink::failure, &link, [this](const QString& t) { failures << t; });
        plug(std::move(o));
        Calibration cal;
        cal.coefficients = presetFor(model);
        link.setCalibration(cal);
        link.setModelChosen(true);
    }
    void plug(sim::SimOptions o)
    {
        sensor = std::make_unique<sim::SimSensor>(o);
        std::string error;
        if (!sensor->start(&error))
            qFatal("simulator: %s", error.c_str());
        (void)link.port().setDevice(QString::fromStdString(o.linkPath.empty() ? sensor->devicePath() : o.linkPath));
    }
    void start()
    {
        QVERIFY(!link.port().setPortOpen(true));
        link.startPolling();
    }
    // The commands sent, without the initialisation's zeros.
    QString sent() const { return QString::fromStdString(sensor->received()).replace("F00000000", "F"); }
};
} // namespace

class TestLink : public QObject {
    Q_OBJECT
private slots:
    void pollsInOrderAndDeliversFrames()
    {
        sim::SimOptions o;
        o.pitch = 0xBE8; // centred 1000
        o.roll = 0x000; // centred -2048
        Rig r(o);
        QSignalSpy handshakes(&r.link, &SensorLink::handshake);
        const qint64 wallBefore = QDateTime::currentMSecsSinceEpoch();
        r.start();
        QTRY_VERIFY(r.frames.size() >= 5);
        QCOMPARE(handshakes.size(), 1);
        const QString sent = r.sent();
        QVERIFY2(QRegularExpression(QStringLiteral("^FA(BCD)+(B|BC)?$")).match(sent).hasMatch(), qPrintable(sent));
        QVERIFY(handshakeKept(r.sensor->log()));
        const Frame& f = r.frames.last();
        QVERIFY(
            f.pitch.text == "12.60" && f.pitch.value == 12.6 && f.roll.value == -23.84 && f.temperature.value == 25);
        QVERIFY(f.pitch.monotonicMs <= f.roll.monotonicMs && f.roll.monotonicMs <= f.temperature.monotonicMs);
        QVERIFY(f.pitch.wallMs >= wallBefore && f.pitch.wallMs <= QDateTime::currentMSecsSinceEpoch());
        QVERIFY(r.link.watchdog().isActive());
        // Counts instead of values from the next reply on.
        r.link.setRawDisplay(true);
        QTRY_VERIFY(r.frames.last().temperature.rawDisplay);
        QCOMPARE(r.frames.last().temperature.rawColumnText(), QStringLiteral("158"));
        QVERIFY(r.failures.isEmpty());
    }

    void splitAndPacedReplies()
    {
        sim::SimOptions split; // replies in three pieces 3 ms apart
        split.splitPieces = 3;
        split.splitGapUs = 3000;
        sim::SimOptions paced; // the real line rate
        paced.baud = 19200;
        for (sim::SimOptions o : {split, paced}) {
            o.pitch = 0x7FF;
            o.roll = 0x801;
            Rig r(o, Model::Raw);
            r.start();
            QTRY_VERIFY(r.frames.size() >= 10);
            const Frame& f = r.frames.last();
            QVERIFY(f.pitch.text == "-01.00" && f.roll.text == "01.00" && r.link.silentTicks() == 0);
            QVERIFY(handshakeKept(r.sensor->log()));
        }
    }

    void wrongAnswerToAResetsThePort()
    {
        sim::SimOptions o;
        o.badAnswerToA = 1.0; // every "A" answered with "r" or "R\n"
        Rig r(o, Model::Raw);
        r.start();
        QTRY_VERIFY(r.frames.size() >= 3);
        QVERIFY(r.link.port().PortOpen() && !r.link.portResetting());
        // Closed and reopened with nothing written in between: the cycle goes on
        // with "B" right after the handshake.
        QVERIFY2(r.sent().startsWith(QStringLiteral("FABCD")), qPrintable(r.sent().left(20)));
        QVERIFY(r.failures.isEmpty());
    }

    void silentSensorIsResynchronised()
    {
        Rig r({}, Model::Raw);
        QSignalSpy silent(&r.link, &SensorLink::silentTick);
        r.start();
        QTRY_VERIFY(r.frames.size() >= 3);
        r.sensor->setUnanswered("C"); // roll replies stop
        QTRY_VERIFY_WITH_TIMEOUT(r.link.silentTicks() >= 2, 5000);
        QVERIFY(silent.size() >= 2);
        QCOMPARE(silent.last().at(0).toLongLong(), r.link.silentTicks());
        // After each unanswered "C" comes the watchdog's "A", then "D".
        const qsizetype stall = r.sent().lastIndexOf(QStringLiteral("CA"));
        QVERIFY2(stall > 0, qPrintable(r.sent().right(30)));
        QTRY_VERIFY(r.sent().mid(stall).startsWith(QStringLiteral("CAD")));
        QVERIFY(!r.sent().contains(QStringLiteral("CC")));
        const qsizetype framesBefore = r.frames.size();
        r.sensor->setUnanswered("");
        QTRY_VERIFY_WITH_TIMEOUT(r.frames.size() > framesBefore + 20, 5000);
        const qint64 waits = r.link.silentTicks();
        QTest::qWait(2500);
        QCOMPARE(r.link.silentTicks(), waits); // readings are back
        QVERIFY(r.failures.isEmpty());
    }

    void vanishedDeviceEndsInOneFailureAndRecovers()
    {
        QTemporaryDir dir;
        sim::SimOptions o;
        o.linkPath = dir.filePath(QStringLiteral("sensor")).toStdString();
        Rig r(o, Model::Raw);
        r.start();
        QTRY_VERIFY(r.frames.size() >= 3);
        r.sensor->stop(); // the adapter is pulled
        QTRY_COMPARE_WITH_TIMEOUT(r.failures, QStringList {QStringLiteral("Error RS232")}, 5000);
        QVERIFY(!r.link.port().PortOpen());
        QTest::qWait(1500);
        QCOMPARE(r.failures.size(), 1);
        // A write to the vanished device says why and raises one error event.
        SerialPortComponent& port = r.link.port();
        r.plug(o);
        QVERIFY(!port.setPortOpen(true));
        r.sensor->stop();
        QList<int> events;
        connect(&port, &SerialPortComponent::OnComm, this, [&] { events << port.CommEvent(); });
        const auto error = port.Output("C");
        QVERIFY(error && !error->isEmpty());
        QCOMPARE(events, QList<int> {SerialPortComponent::ErrorEventBase + QSerialPort::WriteError});
        QTRY_VERIFY(!port.PortOpen());
        QCOMPARE(port.Output("D"), std::optional<QString>(QStringLiteral("Port is not open")));
        // Back again: the link starts over.
        r.link.stopPolling();
        r.plug(o);
        const qsizetype before = r.frames.size();
        r.start();
        QTRY_VERIFY(r.frames.size() >= before + 3);
        QVERIFY(r.sent().startsWith(QStringLiteral("FABCD")));
    }

    void aFullDriverIsNoFailedLine()
    {
        // A line whose other end stops reading for a while: commands wait, in
        // order, and go out once it reads again.
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        SerialPortComponent port;
        QVERIFY(!port.setDevice(QString::fromLatin1(::ptsname(master))) && !port.setPortOpen(true));
        QByteArray sent;
        for (int i = 0; i < 400; ++i) { // far more than the driver holds
            const QByteArray chunk = QByteArray::number(i).rightJustified(64, 'x');
            QCOMPARE(port.Output(chunk), std::optional<QString>());
            sent += chunk;
        }
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
            char buf[4096];
            for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
                got.append(buf, n);
            return got.size() >= sent.size();
        }()),
            10000);
        QVERIFY(got == sent && port.PortOpen());
        ::close(master);
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
