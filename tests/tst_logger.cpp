// veltrak-logger as a process against the simulated sensor.
#include "simline.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {
struct Site {
    QTemporaryDir dir;
    sim::SimOptions options;
    std::unique_ptr<sim::SimSensor> sensor;
    QProcess logger;
    Site()
    {
        options.linkPath = dir.filePath(QStringLiteral("tty")).toStdString();
        plug();
        // No display, no window system: the logger must not need one.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        logger.setProcessEnvironment(env);
    }
    void plug()
    {
        sensor = std::make_unique<sim::SimSensor>(options);
        if (!sensor->start())
            qFatal("simulator did not start");
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    void run(const QStringList& args)
    {
        logger.start(QStringLiteral(VELTRAK_LOGGER), QStringList {QStringLiteral("--device"), path("tty")} + args);
        if (!logger.waitForStarted())
            qFatal("logger did not start");
    }
    QString errors; // everything the logger said so far
    QString err() { return errors += QString::fromUtf8(logger.readAllStandardError()); }
    QStringList rows(const char* csv) const
    {
        QFile f(path(csv));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts)
                                           : QStringList();
    }
};
qint64 timeOf(const QString& row)
{
    return QDateTime::fromString(row.section(QLatin1Char(','), 0, 0), Qt::ISODateWithMs).toMSecsSinceEpoch();
}
} // namespace

class TestLogger : public QObject {
    Q_OBJECT
private slots:
    void rowsAlarmsAndALostDevice();
    void badInputEndsBeforeAnythingIsSent();
};

void TestLogger::rowsAlarmsAndALostDevice()
{
    Site s;
    s.sensor->setCounts(0xBE8, 0x7FF, 0x09E); // pitch 12.60 degrees
    s.run({"--interval", "100", "--csv", s.path("log.csv"), "--kvddt", s.path("kvddt.txt"), "--alarm-pitch", "10",
        "--alarm-hysteresis", "1", "--alarm-hold", "300", "--lost-after", "3"});
    QTRY_VERIFY(s.rows("log.csv").size() >= 6);
    // No window system is loaded.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(s.logger.processId()));
    const QByteArray mapped = maps.open(QIODevice::ReadOnly) ? maps.readAll() : QByteArray();
    QVERIFY(mapped.contains("libQt6Core") && !mapped.contains("libQt6Gui") && !mapped.contains("libX11"));
    s.sensor->setCounts(0x882, 0x7FF, 0x09E); // 1.68 degrees: back below the band
    QTRY_VERIFY(s.err().contains(QStringLiteral(" alarm cleared: pitch 1.68")));
    QTest::qWait(300);

    const qint64 pulledAt = QDateTime::currentMSecsSinceEpoch();
    s.sensor->stop(); // the adapter is pulled
    QTRY_VERIFY_WITH_TIMEOUT(s.err().contains(QStringLiteral(" device lost: ")), 8000);
    const qsizetype atLoss = s.rows("log.csv").size();
    QTest::qWait(1500);
    QCOMPARE(s.rows("log.csv").size(), atLoss); // no rows invented for the gap
    s.plug(); // and put back, long before the next attempt to reopen
    s.sensor->setCounts(0x882, 0x7FF, 0x09E);
    QTRY_VERIFY_WITH_TIMEOUT(s.err().contains(QStringLiteral(" device back: ")), 8000);
    QTRY_VERIFY_WITH_TIMEOUT(s.rows("log.csv").size() >= atLoss + 4, 5000);
    ::kill(pid_t(s.logger.processId()), SIGTERM);
    QVERIFY(s.logger.waitForFinished(5000));
    QVERIFY(s.logger.exitStatus() == QProcess::NormalExit && s.logger.exitCode() == 0);

    const QStringList rows = s.rows("log.csv");
    QCOMPARE(rows.first(), QStringLiteral("time,elapsed,pitch,roll,temperature,unit,alarm"));
    QCOMPARE(rows[1].section(QLatin1Char(','), 2), QStringLiteral("12.60,-0.01,25.00,deg,ok"));
    QVERIFY(!rows.filter(QStringLiteral(",12.60,-0.01,25.00,deg,pitch")).isEmpty());
    QVERIFY(rows.last().endsWith(QStringLiteral(",1.68,-0.01,25.00,deg,ok")));
    // The gap shows in the times. Rows end once the last reading is 1.5 s
    // old, well before the device counts as lost after 3 s of silence.
    QVERIFY(timeOf(rows[atLoss]) - timeOf(rows[atLoss - 1]) >= 1400 && timeOf(rows[atLoss - 1]) < pulledAt + 2200);
    qint64 last = 0;
    for (const QString& row : rows.mid(1)) {
        QVERIFY2(row.count(QLatin1Char(',')) == 6 && row.contains(QStringLiteral("Z,")) && timeOf(row) > last,
            qPrintable(row));
        last = timeOf(row);
    }
    QCOMPARE(s.rows("kvddt.txt").first(), QStringLiteral("0.1\tPitch\t12.60\tRoll\t-00.01"));
    const QString err = s.err();
    QCOMPARE(err.count(QStringLiteral(" device lost: ")), 1);
    for (const char* event : {" start: device ", " alarm raised: pitch 12.60", " alarm cleared: pitch 1.68", " stop: "})
        QVERIFY2(err.contains(QString::fromLatin1(event)), qPrintable(err));
    // The hold: raised only after 300 ms above the limit.
    const QString raised = err.split(QLatin1Char('\n')).filter(QStringLiteral("alarm raised")).value(0);
    QVERIFY(timeOf(raised.section(QLatin1Char(' '), 0, 0) + QLatin1Char(',')) >= timeOf(rows[1]) + 150);
}

void TestLogger::badInputEndsBeforeAnythingIsSent()
{
    Site s;
    QFile bad(s.path("coef.txt"));
    QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write("0.0129\n0\nminus three\n") > 0 && bad.flush());
    const struct {
        QStringList args;
        const char* says;
        int exitCode;
    } cases[] = {
        {{"--model", "custom", "--coefficients", s.path("coef.txt")}, "coef.txt: wrong format, line 3", 2},
        {{"--model", "custom", "--coefficients", s.path("none.txt")}, "none.txt: /", 2},
        {{"--interval", "50"}, "--interval", 2},
        {{"--help"}, "Usage: veltrak-logger", 0},
    };
    for (const auto& c : cases) {
        s.run(c.args + QStringList {"--csv", s.path("out.csv")});
        QVERIFY(s.logger.waitForFinished(5000));
        const QString said = QString::fromUtf8(s.logger.readAllStandardOutput() + s.logger.readAllStandardError());
        QVERIFY2(s.logger.exitCode() == c.exitCode && said.contains(QString::fromLatin1(c.says)), qPrintable(said));
    }
    QVERIFY(!QFile::exists(s.path("out.csv")));
    QTest::qWait(100);
    QCOMPARE(s.sensor->received(), std::string());
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
