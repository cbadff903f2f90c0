// SPDX-License-Identifier: GPL-3.0-or-later
// veltrak-logger as a process against the simulated sensor.
#include "simline.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {
struct Site {
    QTemporaryDir dir;
    sim::SimOptions options;
    std::unique_ptr<sim::SimSensor> sensor;
    QProcess logger;
    QString errors; // everything the logger said so far
    Site()
    {
        // No display, no window system: the logger must not need one. Unset before any thread starts.
        qunsetenv("DISPLAY");
        qunsetenv("QT_QPA_PLATFORM");
        options.linkPath = dir.filePath(QStringLiteral("tty")).toStdString();
        plug();
    }
    void plug()
    {
        sensor = std::make_unique<sim::SimSensor>(options);
        if (!sensor->start())
            qFatal("simulator did not start");
    }
    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); } // or an absolute path
    void run(const QStringList& args)
    {
        logger.start(QStringLiteral(VELTRAK_LOGGER), QStringList {QStringLiteral("--device"), path("tty")} + args);
        if (!logger.waitForStarted())
            qFatal("logger did not start");
    }
    bool signal(int sig) const { return logger.processId() > 0 && ::kill(pid_t(logger.processId()), sig) == 0; }
    void write(const char* name, const QByteArray& content) const
    {
        QFile f(path(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write %s", name);
    }
    QByteArray content(const QString& name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool exited(int code, int timeoutMs = 5000)
    {
        return logger.waitForFinished(timeoutMs) && logger.exitStatus() == QProcess::NormalExit
            && logger.exitCode() == code;
    }
    bool stop() { return signal(SIGTERM) && exited(0); } // as systemd stops it: a clean end
    QString err() { return errors += QString::fromUtf8(logger.readAllStandardError()); }
    QStringList rows(const QString& f) const { return QString::fromUtf8(content(f)).split("\r\n", Qt::SkipEmptyParts); }
};
qint64 timeOf(const QString& row)
{
    return QDateTime::fromString(row.section(QLatin1Char(','), 0, 0), Qt::ISODateWithMs).toMSecsSinceEpoch();
}
// The time of the first event line holding `what` (after its priority, if any), 0 if none.
qint64 eventTime(const QString& errors, const QString& what)
{
    const QString line = errors.split(QLatin1Char('\n')).filter(what).value(0);
    return line.isEmpty() ? 0 : timeOf(line.section(QLatin1Char(' '), 0, 0).section(QLatin1Char('>'), -1) + ',');
}
const QString Header
    = QStringLiteral("time,elapsed,pitch,roll,temperature,unit,alarm,pitch_min,pitch_max,roll_min,roll_max,samples");
// When the logger sent `letter`, in ms of the steady clock.
std::vector<qint64> sentAt(const sim::SimSensor& sensor, char letter)
{
    std::vector<qint64> t;
    for (const sim::LogEntry& e : sensor.log())
        if (e.received && e.byte == letter)
            t.push_back(e.tNs / 1'000'000);
    return t;
}
const auto values = [](const QString& row) { return row.section(QLatin1Char(','), 2, 6); }; // pitch to alarm
} // namespace

class TestLogger : public QObject {
    Q_OBJECT
private slots:
    void rowsAlarmsAndALostDevice()
    {
        Site s;
        s.sensor->setCounts(0xBE8, 0x7FF, 0x09E); // pitch 12.60 degrees
        s.run({"--interval", "100", "--csv", s.path("log.csv"), "--kvddt", s.path("kvddt.txt"), "--alarm-pitch", "10",
            "--alarm-hysteresis", "1", "--alarm-hold", "300", "--lost-after", "3", "--reference", s.path("zero.txt")});
        QTRY_VERIFY(s.rows("log.csv").size() >= 6);
        // No window system is loaded.
        const QByteArray maps = s.content(QStringLiteral("/proc/%1/maps").arg(s.logger.processId()));
        QVERIFY(maps.contains("libQt6Core") && !maps.contains("libQt6Gui") && !maps.contains("libX11"));
        s.sensor->setCounts(0x882, 0x7FF, 0x09E); // 1.68 degrees: back below the band
        QTRY_VERIFY(s.err().contains(QStringLiteral(" alarm cleared: pitch 1.68")));
        const qsizetype atClear = s.rows("log.csv").size();
        QTRY_VERIFY(s.rows("log.csv").size() >= atClear + 2);

        const qint64 pulledAt = QDateTime::currentMSecsSinceEpoch();
        s.sensor->stop(); // the adapter is pulled
        QTRY_VERIFY_WITH_TIMEOUT(s.err().contains(QStringLiteral(" device lost: ")), 8000);
        const qsizetype atLoss = s.rows("log.csv").size();
        s.plug(); // and put back, long before the next attempt to reopen
        s.sensor->setCounts(0x882, 0x7FF, 0x09E);
        QTRY_VERIFY_WITH_TIMEOUT(s.err().contains(QStringLiteral(" device back: ")), 8000);
        QTRY_VERIFY_WITH_TIMEOUT(s.rows("log.csv").size() >= atLoss + 4, 5000);
        QVERIFY(s.stop());

        const QStringList rows = s.rows("log.csv");
        QCOMPARE(rows.first(), Header + ",pitch_change,roll_change"); // a reference zero taken from the first interval
        QVERIFY(
            values(rows[1]) == QStringLiteral("12.6000,-0.0129,25.00,deg,ok") && rows[1].endsWith(",0.0000,0.0000"));
        QVERIFY(s.content("zero.txt").contains("\nmodel=z1\npitch=12.6\nroll=-0.0128999997"));
        QVERIFY(!rows.filter(QStringLiteral(",12.6000,-0.0129,25.00,deg,pitch,")).isEmpty());
        QCOMPARE(values(rows.last()), QStringLiteral("1.6763,-0.0129,25.00,deg,ok"));
        // No rows invented for the gap: none while the device is lost, and rows
        // end with the last cycle, long before 3 s of silence count as a loss.
        const QString err = s.err();
        const qint64 lostAt = eventTime(err, QStringLiteral(" device lost: "));
        const qint64 backAt = eventTime(err, QStringLiteral(" device back: "));
        QVERIFY(timeOf(rows[atLoss - 1]) < lostAt && timeOf(rows[atLoss]) >= backAt);
        const auto silentRows = std::count_if(rows.cbegin() + 1, rows.cbegin() + atLoss,
            [pulledAt](const QString& row) { return timeOf(row) > pulledAt; });
        QVERIFY2(2 * silentRows * 100 < lostAt - pulledAt, qPrintable(QString::number(silentRows)));
        qint64 last = 0;
        for (const QString& row : rows.mid(1)) {
            QVERIFY2(row.count(QLatin1Char(',')) == 13 && row.contains("Z,") && timeOf(row) > last, qPrintable(row));
            last = timeOf(row);
        }
        QCOMPARE(s.rows("kvddt.txt").first(), QStringLiteral("0.1\tPitch\t12.60\tRoll\t-00.01"));
        QCOMPARE(err.count(QStringLiteral(" device lost: ")), 1);
        for (const char* event : {" start: device ", " alarm raised: pitch 12.60",
                 " stop: ", " reference zero taken: pitch 12.60 roll -0.0129, stored in "})
            QVERIFY2(err.contains(QString::fromLatin1(event)), qPrintable(err));
        // The hold: raised only after 300 ms above the limit.
        QVERIFY(eventTime(err, QStringLiteral(" alarm raised")) >= timeOf(rows[1]) + 150);
    }

    void badInputEndsBeforeAnythingIsSent()
    {
        Site s;
        s.write("coef.txt", "0.0129\n0\nminus three\n");
        s.write("zero.txt", "pitch=10\nroll=one\n");
        s.write("raw.txt", "model=raw\npitch=2048\nroll=0\n"); // another model's
        s.write("far.txt", "model=z1\npitch=1e308\nroll=0\n");
        s.write("huge.txt", "0.0129,0,1e308");
        const struct {
            QStringList args;
            QString says;
            int exitCode;
        } cases[] = {
            {{"--model", "custom", "--coefficients", s.path("coef.txt")}, "coef.txt: wrong format, line 3", 2},
            {{"--model", "custom", "--coefficients", s.path("none.txt")}, "none.txt: /", 2},
            {{"--interval", "50"},
                "--interval: expected a duration from 100 ms to 24 h: milliseconds, or a number with ms, "
                "s, min or h, got '50'",
                2},
            {{"--reference", s.path("zero.txt")}, "zero.txt line 2: expected a number for roll, got 'one'", 2},
            {{"--reference", s.path("raw.txt")}, "raw.txt line 1: taken with model raw, not this logger's model z1", 2},
            {{"--reference", s.path("far.txt")}, "far.txt line 2: pitch 1e308 is outside what model z1 gives", 2},
            {{"--reference", s.path("out.csv")}, "out.csv is also the file of --csv", 2},
            {{"--reference", s.path("no/z.txt")}, "cannot write the reference into " + s.path("no"), 2},
            {{"--model", "custom", "--coefficients", s.path("huge.txt")}, "polynomial is not finite", 2},
            {{"--help"}, "\nExit status:\n  0  stopped by SIGINT or SIGTERM", 0},
        };
        for (const auto& c : cases) {
            s.run(c.args + QStringList {"--csv", s.path("out.csv")});
            QVERIFY(s.logger.waitForFinished(5000));
            const QString said = QString::fromUtf8(s.logger.readAllStandardOutput() + s.logger.readAllStandardError());
            QVERIFY2(s.logger.exitCode() == c.exitCode && said.contains(c.says), qPrintable(said));
        }
        QVERIFY(!QFile::exists(s.path("out.csv")));
        // A mark written after they all ended arrives after anything they sent.
        const int tty = ::open(QFile::encodeName(s.path("tty")).constData(), O_WRONLY | O_NOCTTY);
        QVERIFY(tty >= 0 && ::write(tty, "#", 1) == 1 && ::close(tty) == 0);
        QTRY_VERIFY(!s.sensor->received().empty());
        QCOMPARE(s.sensor->received(), std::string("#"));
    }

    void outputsFollowTheirFiles()
    {
        Site s;
        s.write("log.csv", (Header + "\r\n2026-12-07T13:16").toUtf8()); // torn by a crash
        s.run({"--interval", "100", "--csv", s.path("log.csv"), "--kvddt", s.path("k.txt")});
        QTRY_VERIFY(s.rows("log.csv").size() >= 4);
        QVERIFY(s.content("log.csv").startsWith((Header + "\r\n2026-12-07T13:16\r\n20").toUtf8()));

        // Removed by hand: made again, header first, and said.
        QVERIFY(QFile::remove(s.path("log.csv")) && QFile::remove(s.path("k.txt")));
        QTRY_VERIFY(s.rows("log.csv").size() >= 3 && s.rows("k.txt").size() >= 2);
        QCOMPARE(s.rows("log.csv").first(), Header);
        QVERIFY(s.err().contains(QStringLiteral("/log.csv was removed or renamed: writing a new one")));

        // Rotated as logrotate does: renamed, then SIGHUP.
        QVERIFY(QFile::rename(s.path("log.csv"), s.path("log.csv.1")));
        QVERIFY(s.signal(SIGHUP));
        QTRY_VERIFY(s.rows("log.csv").size() >= 3);
        QCOMPARE(s.rows("log.csv").first(), Header);
        const QByteArray rotated = s.content("log.csv.1");
        const qsizetype reopened = s.rows("log.csv").size();
        QTRY_VERIFY(s.rows("log.csv").size() >= reopened + 3);
        QCOMPARE(s.content("log.csv.1"), rotated);
        QVERIFY(rotated.endsWith("\r\n"));

        QVERIFY(s.signal(SIGUSR1));
        QTRY_VERIFY(s.err().contains(QRegularExpression(" status: device .*, bad replies 0, .*, broker off")));
        QProcess second; // on the same device, so this one has not ended on SIGUSR1
        second.start(QStringLiteral(VELTRAK_LOGGER),
            {"--device", s.path("tty"), "--csv", "/dev/null", "--duration", "0.3", "--lost-after", "1"});
        QVERIFY(second.waitForFinished(5000) && second.exitCode() == 0);
        QVERIFY(second.readAllStandardError().contains("tty: the device is in use by another program"));
        QVERIFY(s.stop()); // so no write failure either
    }

    void standardOutputIntoAPipe()
    {
        // With the config file's folder overridden by the command line; the
        // reader goes away after three lines: one line, exit code 1.
        Site s;
        s.write("site.ini", "[logger]\ncsv-dir=" + s.path("dir").toUtf8() + "\n");
        s.logger.start(QStringLiteral("bash"),
            {"-c", R"("$0" "$@" | head -n 3; exit ${PIPESTATUS[0]})", VELTRAK_LOGGER, "--device", s.path("tty"),
                "--interval", "100", "--config", s.path("site.ini"), "--csv", "-"});
        QVERIFY(s.exited(1));
        const QByteArray out = s.logger.readAllStandardOutput();
        QVERIFY2(out.startsWith((Header + "\r\n").toUtf8()) && out.count("\r\n") == 3, out.constData());
        QVERIFY(!QFile::exists(s.path("dir")));
        QCOMPARE(s.err().count(QStringLiteral("write failure: standard output: Broken pipe")), 1);
    }

    void noiseSilenceAndSlownessAreNeverReadings()
    {
        // Standard error is "the journal": lines start with their priority.
        Site s;
        s.logger.start(QStringLiteral("sh"),
            {"-c", R"(JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) exec "$0" "$@")", VELTRAK_LOGGER, "--device",
                s.path("tty"), "--interval", "100", "--csv", s.path("log.csv"), "--alarm-pitch", "10", "--alarm-roll",
                "10", "--lost-after", "3"});
        QTRY_VERIFY(s.rows("log.csv").size() >= 3);
        for (const char* reply : {"ZZZ\n", "ZZZ\n"}) // as a count: pitch -23.84
            s.sensor->script('B', reply);
        s.sensor->script('C', "1 2\n");
        s.sensor->script('D', "8F\n"); // with the next character: 2427 degrees C
        QTRY_VERIFY(s.err().contains(QStringLiteral("<4>")) && s.err().contains(QStringLiteral(" bad replies ")));
        const qsizetype before = s.rows("log.csv").size();
        QTRY_VERIFY_WITH_TIMEOUT(s.rows("log.csv").size() >= before + 5, 15000);
        QVERIFY(s.signal(SIGUSR1));
        QTRY_VERIFY(s.err().contains(QStringLiteral("<6>")) && s.err().contains(QStringLiteral(" status: ")));

        // Silent while the device stays open: lost, and back only once it answers (the times are
        // DeviceWatch's, tested in its table).
        s.sensor->setSilent(true);
        QTRY_VERIFY_WITH_TIMEOUT(s.err().contains(QStringLiteral(" device lost: no valid reply for 3 s")), 6000);
        s.sensor->setSilent(false);
        QTRY_VERIFY_WITH_TIMEOUT(s.err().contains(QStringLiteral(" device back: ")), 5000);
        QVERIFY(s.stop());
        for (const QString& row : s.rows("log.csv").mid(1))
            QVERIFY2(values(row) == QStringLiteral("0.0000,0.0000,25.00,deg,ok"), qPrintable(row));
        const QString err = s.err();
        QVERIFY2(!err.contains(" alarm raised") && err.count(" device lost: ") == 1 && err.count(" device back: ") == 1,
            qPrintable(err));
        QCOMPARE(err.count(QStringLiteral(" bad replies from the sensor: ")), 1); // at most one line a minute
        QVERIFY2(err.contains(QRegularExpression(" status: .*, bad replies [2-9], ")), qPrintable(err));
        QVERIFY(err.startsWith(QStringLiteral("<6>")));

        // A sensor slower than the interval: never more rows (one kvddt line each) than cycles.
        // And the null device, for a logger that only publishes or records kvddt.
        s.errors.clear();
        s.options.latencyUs = 150'000;
        s.plug();
        s.run({"--interval", "100", "--csv", "/dev/null", "--kvddt", s.path("k.txt"), "--duration", "2"});
        QVERIFY(s.exited(0, 8000));
        QVERIFY2(s.err().contains(" start: ") && !s.errors.contains("QIODevice"), qPrintable(s.errors));
        const qsizetype rows = s.rows("k.txt").size();
        const qsizetype cycles = qsizetype(sentAt(*s.sensor, 'D').size());
        QVERIFY2(rows >= 2 && rows <= cycles, qPrintable(QStringLiteral("%1 rows, %2 cycles").arg(rows).arg(cycles)));
    }

    void fullDiskKeepsWholeRows()
    {
        Site s;
        const QString disk = s.path("disk");
        QVERIFY(QDir().mkpath(disk));
        if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=16k", "tmpfs", disk}) != 0)
            QSKIP("cannot mount a small disk here (needs root)");
        const auto unmount = qScopeGuard([&disk] { QProcess::execute(QStringLiteral("umount"), {disk}); });
        s.run({"--interval", "100", "--csv", disk + "/log.csv"});
        QTRY_VERIFY(s.rows("disk/log.csv").size() >= 2);
        QFile filler(disk + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(512, 'x')) == 512 && filler.flush()) { }
        QVERIFY(s.exited(1, 20000));
        QVERIFY2(s.err().contains(QStringLiteral("log.csv: No space left on device")), qPrintable(s.errors));
        QVERIFY(s.content("disk/log.csv").endsWith("\r\n"));
        for (const QString& row : s.rows("disk/log.csv").mid(1))
            QVERIFY2(row.count(QLatin1Char(',')) == 11 && row.contains(",deg,ok,"), qPrintable(row));
    }

    void intervalSummaries_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("last");
        QTest::addColumn<bool>("sampled");
        QTest::newRow("means") << QStringList {"--interval", "0.5s"} << false << false;
        QTest::newRow("last cycle") << QStringList {"--interval", "500ms", "--aggregate", "last"} << true << false;
        QTest::newRow("a sample every 200 ms")
            << QStringList {"--interval", "500", "--sample-every", "200ms"} << false << true;
    }

    void intervalSummaries()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, last);
        QFETCH(bool, sampled);
        Site s;
        s.sensor->setCounts(0x882, 0x7FF, 0x09E); // pitch 1.68
        s.run(args + QStringList {"--csv", s.path("log.csv")});
        QTRY_VERIFY(s.rows("log.csv").size() >= 3);
        // One cycle in one interval reads pitch 12.60 and roll 0.00.
        s.sensor->script('B', sim::SimSensor::countReply(0xBE8));
        s.sensor->script('C', sim::SimSensor::countReply(0x800));
        QTRY_VERIFY(s.rows("log.csv").size() >= 6);
        QVERIFY(s.stop());
        const QStringList rows = s.rows("log.csv").mid(2); // the first interval began mid-way
        const QStringList odd = rows.filter(QStringLiteral(",12.60,"));
        // A last cycle is rarely the odd one; if it is, its row is that cycle alone.
        QVERIFY2(last ? odd.size() <= 1 : odd.size() == 1, qPrintable(odd.join('|')));
        for (const QString& row : rows) {
            const QStringList f = row.split(QLatin1Char(','));
            const qint64 samples = f[11].toLongLong();
            // The stop's row, the last, holds only what came since the last tick.
            const bool stopRow = &row == &rows.last();
            QVERIFY2(last     ? samples == 1
                    : stopRow ? samples >= 1
                    : sampled ? samples >= 2 && samples <= 3
                              : samples > 20,
                qPrintable(row));
            if (row != odd.value(0)) {
                QCOMPARE(f.mid(2, 9).join(','),
                    last ? "1.68,-0.01,25.00,deg,ok,1.68,1.68,-0.01,-0.01"
                         : "1.6763,-0.0129,25.00,deg,ok,1.68,1.68,-0.01,-0.01");
                continue;
            }
            // Means of the cycles' full values to the last digit, extremes as displayed.
            QCOMPARE(f.mid(7, 4).join(','), last ? "12.60,12.60,0.00,0.00" : "1.68,12.60,-0.01,0.00");
            const double n = double(samples), pitch = 1.6763409, roll = -0.0128999997;
            if (!last) {
                QCOMPARE(f[2], QString::number((12.6 + pitch * (n - 1)) / n, 'f', 4));
                QCOMPARE(f[3], QString::number((roll * (n - 1)) / n, 'f', 4));
            }
        }
        // Between samples the line is quiet: no command at all.
        const auto cycleStarts = sentAt(*s.sensor, 'B');
        for (std::size_t i = 3; sampled && i < cycleStarts.size(); ++i)
            QVERIFY2(cycleStarts[i] - cycleStarts[i - 1] >= 150,
                qPrintable(QString::number(cycleStarts[i] - cycleStarts[i - 1])));
    }

    void aStopOrALossFinishesTheRow()
    {
        Site s;
        s.sensor->setCounts(0x882, 0x7FF, 0x09E); // pitch 1.6763409
        s.run({"--interval", "1s", "--csv", s.path("log.csv"), "--duration", "3.5"});
        QVERIFY(s.exited(0, 8000));
        const QStringList clocked = s.rows("log.csv");
        QVERIFY2(clocked.size() >= 4, qPrintable(clocked.join('|')));
        for (const QString& row : clocked.mid(1, clocked.size() - 2)) // rows on whole seconds; the stop's at its time
            QVERIFY2(row.section(',', 0, 0).endsWith(".000Z"), qPrintable(row));

        // A reference now: other columns, so another file. An hour's interval
        // cut by a loss, then a stop: one row of the cycles before the loss.
        const std::size_t sentBefore = s.sensor->received().size(); // the first run's commands
        s.run({"--interval", "1h", "--csv", s.path("log.csv"), "--kvddt", s.path("k.txt"), "--reference",
            s.path("zero.txt"), "--lost-after", "1"});
        QTRY_VERIFY(s.err().contains(QStringLiteral("/log.csv has other columns: writing to ") + s.path("log-2.csv")));
        QTRY_VERIFY(s.sensor->received().size() > sentBefore + 300);
        s.sensor->setSilent(true);
        QTRY_VERIFY(s.err().contains(QStringLiteral(" device lost: no valid reply for 1 s")));
        QVERIFY(s.stop());
        QStringList rows = s.rows("log-2.csv");
        QVERIFY2(rows.size() == 2 && values(rows[1]) == QStringLiteral("1.6763,-0.0129,25.00,deg,ok")
                && rows[1].endsWith(",0.0000,0.0000") && rows[1].section(',', 11, 11).toInt() > 10,
            qPrintable(rows.join('|')));
        QCOMPARE(s.rows("k.txt"), QStringList {QStringLiteral("3600\tPitch\t01.68\tRoll\t-00.01")});

        // Read back after a restart: a sensor that has not moved has not changed, exactly.
        s.sensor->setSilent(false);
        s.run(
            {"--interval", "100", "--csv", s.path("log-2.csv"), "--reference", s.path("zero.txt"), "--duration", "1"});
        QVERIFY(s.exited(0) && (rows = s.rows("log-2.csv")).size() >= 6);
        for (const QString& row : rows.mid(1))
            QVERIFY2(row.endsWith(",0.0000,0.0000"), qPrintable(row));
    }

    void dayFilesKeptForDays()
    {
        Site s;
        QVERIFY(QDir().mkpath(s.path("d")));
        const QDate today = QDateTime::currentDateTimeUtc().date();
        const QString old = "d/" + today.addDays(-3).toString(Qt::ISODate),
                      kept = "d/" + today.addDays(-2).toString(Qt::ISODate);
        const QString day = "d/" + today.toString(Qt::ISODate) + ".csv";
        const QStringList removed {old + ".csv", old + "-2.csv"},
            others {kept + ".csv", old + ".csv.gz", "d/notes.txt"};
        for (const QString& name : removed + others)
            QVERIFY(QFile(s.path(name)).open(QIODevice::WriteOnly));
        s.run({"--interval", "100", "--csv-dir", s.path("d"), "--keep-days", "2"});
        QTRY_VERIFY(s.rows(day).size() >= 3);
        for (const QString& name : removed)
            QVERIFY2(!QFile::exists(s.path(name)), qPrintable(name));
        for (const QString& name : others)
            QVERIFY2(QFile::exists(s.path(name)), qPrintable(name));
        // Removed by hand, then SIGHUP: the day's file again, header first.
        QVERIFY(QFile::remove(s.path(day)) && s.signal(SIGHUP));
        QTRY_VERIFY(s.rows(day).size() >= 2);
        QCOMPARE(s.rows(day).first(), Header);
        QVERIFY(s.stop());
    }

    void closedStandardStreams()
    {
        Site s;
        const QString shell = QStringLiteral("exec \"$0\" \"$@\" ");
        s.logger.start("sh", {"-c", shell + ">&-", VELTRAK_LOGGER, "--device", s.path("tty"), "--csv", "-"});
        QVERIFY(s.exited(1) && s.err().contains(QStringLiteral("cannot start: standard output: Bad file descriptor")));
        s.logger.start("sh",
            {"-c", shell + "2>&-", VELTRAK_LOGGER, "--device", s.path("tty"), "--interval", "100", "--csv",
                s.path("log.csv"), "--duration", "1"});
        QVERIFY(s.exited(0) && s.rows("log.csv").size() >= 6);
    }

    void referenceZeroReused()
    {
        // A stored reference zero: the change since then, and the alarm on the change (2.6 < 5).
        Site s;
        s.sensor->setCounts(0xBE8, 0x7FF, 0x09E); // pitch 12.60
        s.write("zero.txt", "model=z1\npitch=10\nroll=1\n");
        s.run({"--interval", "200", "--csv", s.path("log.csv"), "--reference", s.path("zero.txt"), "--alarm-pitch", "5",
            "--alarm-on", "change"});
        QTRY_VERIFY(s.rows("log.csv").size() >= 4);
        QVERIFY(s.stop());
        QVERIFY(
            s.rows("log.csv").last().endsWith(QStringLiteral(",12.6000,-0.0129,25.00,deg,ok,12.60,12.60,-0.01,-0.01,")
                + s.rows("log.csv").last().section(',', 11, 11) + QStringLiteral(",2.6000,-1.0129")));
        QVERIFY(s.err().contains(QStringLiteral(", reference ")) && !s.err().contains(QStringLiteral("alarm raised")));
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
