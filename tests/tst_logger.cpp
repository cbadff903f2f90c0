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
    void run(QStringList args)
    {
        args.prepend(path("tty"));
        args.prepend(QStringLiteral("--device"));
        logger.start(QStringLiteral(VELTRAK_LOGGER), args);
        if (!logger.waitForStarted())
            qFatal("logger did not start");
    }
    QString errors; // everything the logger said so far
    QString err() { return errors += QString::fromUtf8(logger.readAllStandardError()); }
    QStringList rows(const char* csv) const
    {
        QFile f(path(csv));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
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
    void rowsTimesAndAlarms();
    void recoversALostDeviceByItself();
    void badInputEndsBeforeAnythingIsSent();
};

void TestLogger::rowsTimesAndAlarms()
{
    Site s;
    s.options.pitch = 0xBE8; // 12.60 degrees
    s.sensor->setCounts(0xBE8, 0x7FF, 0x09E);
    s.run({"--interval", "100", "--csv", s.path("log.csv"), "--kvddt", s.path("kvddt.txt"), "--alarm-pitch", "10",
        "--alarm-hysteresis", "1", "--alarm-hold", "300"});
    QTRY_VERIFY(s.rows("log.csv").size() >= 6);
    // No window system is loaded.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(s.logger.processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    QVERIFY(!mapped.contains("libQt6Gui") && !mapped.contains("libX11"));
    s.sensor->setCounts(0x882, 0x7FF, 0x09E); // 1.68 degrees: back below the band
    QTRY_VERIFY(s.err().contains(QStringLiteral(" alarm cleared: pitch 1.68")));
    QTest::qWait(300);
    ::kill(pid_t(s.logger.processId()), SIGTERM);
    QVERIFY(s.logger.waitForFinished(5000));
    QCOMPARE(s.logger.exitStatus(), QProcess::NormalExit);
    QCOMPARE(s.logger.exitCode(), 0);

    const QStringList rows = s.rows("log.csv");
    QCOMPARE(rows.first(), QStringLiteral("time,elapsed,pitch,roll,temperature,unit,alarm"));
    QVERIFY(rows.size() >= 12);
    QCOMPARE(rows[1].section(QLatin1Char(','), 2), QStringLiteral("12.60,-0.01,25.00,deg,ok"));
    QVERIFY(!rows.filter(QStringLiteral(",12.60,-0.01,25.00,deg,pitch")).isEmpty());
    QVERIFY(rows.last().endsWith(QStringLiteral(",1.68,-0.01,25.00,deg,ok")));
    qint64 last = 0;
    for (const QString& row : rows.mid(1)) {
        QVERIFY2(row.count(QLatin1Char(',')) == 6 && row.section(QLatin1Char(','), 0, 0).endsWith(QLatin1Char('Z')),
            qPrintable(row));
        QVERIFY(timeOf(row) > last);
        last = timeOf(row);
    }
    QCOMPARE(s.rows("kvddt.txt").first(), QStringLiteral("0.1\tPitch\t12.60\tRoll\t-00.01"));
    const QString err = s.err();
    for (const char* event : {" start: device ", " alarm raised: pitch 12.60", " alarm cleared: pitch 1.68", " stop: "})
        QVERIFY2(err.contains(QString::fromLatin1(event)), qPrintable(err));
    // The hold: raised only after 300 ms above the limit.
    const QString raised = err.split(QLatin1Char('\n')).filter(QStringLiteral("alarm raised")).value(0);
    QVERIFY(timeOf(raised.section(QLatin1Char(' '), 0, 0) + QLatin1Char(',')) >= timeOf(rows[1]) + 150);
}

void TestLogger::recoversALostDeviceByItself()
{
    Site s;
    s.run({"--interval", "100", "--csv", s.path("log.csv"), "--lost-after", "2"});
    QTRY_VERIFY(s.rows("log.csv").size() >= 4);
    s.sensor->stop(); // the adapter is pulled
    QTRY_VERIFY_WITH_TIMEOUT(s.err().contains(QStringLiteral(" device lost: ")), 5000);
    const qsizetype atLoss = s.rows("log.csv").size();
    QTest::qWait(1500);
    QCOMPARE(s.rows("log.csv").size(), atLoss); // no rows invented for the gap
    s.plug(); // and put back
    QTRY_VERIFY_WITH_TIMEOUT(s.err().contains(QStringLiteral(" device back: ")), 8000);
    QTRY_VERIFY_WITH_TIMEOUT(s.rows("log.csv").size() >= atLoss + 4, 5000);
    const QStringList rows = s.rows("log.csv");
    QVERIFY(timeOf(rows[atLoss]) - timeOf(rows[atLoss - 1]) >= 1400); // the gap shows in the times
    QCOMPARE(s.err().count(QStringLiteral(" device lost: ")), 1);
    s.logger.terminate();
    QVERIFY(s.logger.waitForFinished(5000));
    QCOMPARE(s.logger.exitCode(), 0);
}

void TestLogger::badInputEndsBeforeAnythingIsSent()
{
    Site s;
    QFile bad(s.path("coef.txt"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("0.0129\n0\nminus three\n");
    bad.close();
    const struct {
        QStringList args;
        const char* says;
    } cases[] = {
        {{"--model", "custom", "--coefficients", s.path("coef.txt")}, "line 3"},
        {{"--model", "custom", "--coefficients", s.path("none.txt")}, "none.txt"},
        {{"--interval", "50"}, "--interval"},
        {{"--model", "z9"}, "--model"},
        {{"--config", s.path("none.ini")}, "none.ini"},
    };
    for (const auto& c : cases) {
        s.run(c.args + QStringList {"--csv", s.path("out.csv")});
        QVERIFY(s.logger.waitForFinished(5000));
        QCOMPARE(s.logger.exitCode(), 2);
        s.errors.clear();
        QVERIFY2(s.err().contains(QString::fromLatin1(c.says)), c.says);
    }
    QVERIFY(!QFile::exists(s.path("out.csv")));
    QTest::qWait(100);
    QCOMPARE(s.sensor->received(), std::string());
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
