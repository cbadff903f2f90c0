// SPDX-License-Identifier: GPL-3.0-or-later
// The sensor link without a widget, under QCoreApplication, against the
// simulated sensor over a real pseudo-terminal.
#include "fakeprompter.h"
#include "link/sensorlink.h"
#include "simline.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
struct Rig {
    std::unique_ptr<sim::SimSensor> sensor;
    SensorLink link;
    QList<Frame> frames;
    QList<LineFailure> failures;
    QString device;
    explicit Rig(sim::SimOptions o = {}, Model model = Model::Z1)
    {
        QObject::connect(&link, &SensorLink::frameReady, &link, [this](const Frame& f) { frames << f; });
        QObject::connect(&link, &SensorLink::lineFailed, &link, [this](const LineFailure& f) { failures << f; });
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
        device = QString::fromStdString(o.linkPath.empty() ? sensor->devicePath() : o.linkPath);
    }
    void start()
    {
        QCOMPARE(link.open(device, LineFormat {}), std::nullopt);
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
        QVERIFY(r.link.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());
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
        sim::SimOptions paced; // the real line rate: listened for once whole
        paced.baud = 19200;
        sim::SimOptions late = paced; // not there when it could be: listened for
        late.latencyUs = 3000;
        sim::SimOptions pacedSplit = split; // partly there, the rest listened for
        pacedSplit.baud = 19200;
        for (sim::SimOptions o : {split, paced, late, pacedSplit}) {
            o.pitch = 0x7FF;
            o.roll = 0x801;
            Rig r(o, Model::Raw);
            // A real event loop: QTRY's 10 ms naps would find every reply
            // whole, however late the line listened for it.
            QSignalSpy frames(&r.link, &SensorLink::frameReady);
            r.start();
            while (r.frames.size() < 10 && frames.wait(2000)) { }
            QVERIFY(r.frames.size() >= 10);
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
        QVERIFY(r.link.isOpen() && !r.link.portResetting());
        // Closed and reopened with nothing written in between: the cycle goes on
        // with "B" right after the handshake.
        QVERIFY2(r.sent().startsWith(QStringLiteral("FABCD")), qPrintable(r.sent().left(20)));
        QVERIFY(r.failures.isEmpty());
    }

    void silentSensorIsResynchronised()
    {
        Rig r({}, Model::Raw);
        QSignalSpy silent(&r.link, &SensorLink::silent);
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
        QSignalSpy ticks(r.link.findChild<QTimer*>(QStringLiteral("Timer1")), &QTimer::timeout);
        QVERIFY(ticks.wait(3000) && ticks.wait(3000));
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
        QTRY_COMPARE_WITH_TIMEOUT(r.failures.size(), 1, 5000);
        // Named by the system, with the device; the line closed itself.
        QCOMPARE(r.failures.first().kind, LineFailure::Kind::Broken);
        QCOMPARE(r.failures.first().device, r.device);
        QVERIFY(!r.failures.first().reason.isEmpty());
        QVERIFY(!r.link.isOpen());
        // Once: the watchdog's next ticks report nothing more.
        auto* watchdog = r.link.findChild<QTimer*>(QStringLiteral("Timer1"));
        QSignalSpy ticks(watchdog, &QTimer::timeout);
        QVERIFY(!watchdog->isActive() || (ticks.wait(3000) && ticks.wait(3000)));
        QCOMPARE(r.failures.size(), 1);
        // A device that is not there: refused with its name and the reason.
        r.link.stopPolling();
        const auto missing = r.link.open(r.device, LineFormat {});
        QVERIFY(missing && missing->kind == LineFailure::Kind::OpenFailed && missing->device == r.device);
        QCOMPARE(describeOpenFailure(*missing), r.device + QStringLiteral(": ") + missing->reason);
        // Back again: the link starts over.
        r.plug(o);
        const qsizetype before = r.frames.size();
        r.start();
        QTRY_VERIFY(r.frames.size() >= before + 3);
        QVERIFY(r.sent().startsWith(QStringLiteral("FABCD")));
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
