// SPDX-License-Identifier: GPL-3.0-or-later
// Fault soak: the whole program against a sensor that, by a fixed seed,
// splits replies at random points, injects garbage, answers "A" wrongly,
// falls silent now and then, and finally vanishes.
// VELTRAK_SOAK_SECONDS (default 20) and VELTRAK_SOAK_SEED (default 1) set the
// length and the seed; the long version is the same test with more seconds.
#include "rig.h"

#include <QFile>

#include <algorithm>

namespace {
int envInt(const char* name, int fallback)
{
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : fallback;
}
} // namespace

class TestSoak : public QObject {
    Q_OBJECT
private slots:
    void soak()
    {
        const int seconds = envInt("VELTRAK_SOAK_SECONDS", 20);
        sim::SimOptions o;
        o.seed = unsigned(envInt("VELTRAK_SOAK_SEED", 1));
        qInfo("soak: %d s, seed %u", seconds, o.seed);
        o.motion = true;
        o.splitPieces = 0; // random pieces
        o.splitGapUs = 300;
        o.garbage = 0.02;
        o.badAnswerToA = 0.3;
        o.silenceEveryMs = 5000; // answer 5 s, silent 2 s, ...
        o.silenceForMs = 2000;
        Line line(o);
        FormRig r(line.ports);
        r.startUp();
        r.prompter.answers = {QStringLiteral("100")};
        r.a("mnuInterval")->trigger();
        r.a("mnuRecording")->trigger();
        r.a("mnuTrend")->trigger(); // polling runs since the start-up

        // Run, and after each silence see readings come back.
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(
            clock.elapsed() >= seconds * 1000LL || !r.prompter.messages.isEmpty(), seconds * 1000 + 5000);
        QVERIFY2(r.prompter.messages.isEmpty(), qPrintable(r.prompter.texts().join('|')));
        const auto log = line.sensor.log();
        const qint64 period = o.silenceEveryMs + o.silenceForMs;
        int recoveries = 0;
        for (qint64 end = period * 1'000'000; end < log.back().tNs - 2'100'000'000LL; end += period * 1'000'000) {
            const auto reply = std::find_if(log.begin(), log.end(),
                [end](const sim::LogEntry& e) { return !e.received && e.byte == '\n' && e.tNs > end; });
            QVERIFY2(reply != log.end(), "no reply after a silence");
            ++recoveries;
        }
        QVERIFY(recoveries >= 1 || seconds < 8);
        QVERIFY(r.form->link().silentTicks() >= 1 || seconds < 8);

        // The device vanishes: one "Error RS232" (its idle CPU is in the benchmark).
        line.sensor.stop();
        QTRY_COMPARE_WITH_TIMEOUT(r.prompter.texts().count(QStringLiteral("Error RS232")), 1, 5000);
        QVERIFY(!r.form->link().isOpen());
        // The watchdog's next ticks show no other box.
        auto* watchdog = r.form->findChild<QTimer*>(QStringLiteral("Timer1"));
        QSignalSpy ticks(watchdog, &QTimer::timeout);
        QVERIFY(!watchdog->isActive() || (ticks.wait(3000) && ticks.wait(3000)));
        QCOMPARE(r.prompter.messages.size(), 1);

        // Every record has its five fields and ends whole, and time never goes back.
        QFile f(r.dir.filePath(QStringLiteral("kvddt.txt")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QStringList lines = QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"));
        QVERIFY(lines.size() > seconds * 5 && lines.takeLast().isEmpty());
        double lastTime = 0;
        for (const QString& record : std::as_const(lines)) {
            const QStringList fields = record.split(QLatin1Char('\t'));
            QVERIFY2(
                fields.size() == 5 && fields[1] == "Pitch" && fields[3] == "Roll" && fields[0].toDouble() > lastTime,
                qPrintable(record));
            lastTime = fields[0].toDouble();
        }
    }
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
