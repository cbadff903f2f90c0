// SPDX-License-Identifier: GPL-3.0-or-later
// Looking back: the readers of recorded files, the summary the chart draws
// from, the History window, and the export without a window.
#include "core/history.h"
#include "ui/historywindow.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <sys/stat.h>

namespace {
const QByteArray Header
    = "time,elapsed,pitch,roll,temperature,unit,alarm,pitch_min,pitch_max,roll_min,roll_max,samples";

// A logger row at minute `m` of 2026-12-01 (UTC).
QByteArray row(int m, const char* pitch, const char* alarm = "ok", const char* unit = "deg")
{
    return QStringLiteral("2026-12-01T%1:%2:00.000Z,%3.000,%4,-0.5000,25.00,%5,%6,1.00,2.00,-0.60,-0.40,10")
        .arg(m / 60, 2, 10, QLatin1Char('0'))
        .arg(m % 60, 2, 10, QLatin1Char('0'))
        .arg(m * 60)
        .arg(QLatin1String(pitch), QLatin1String(unit), QLatin1String(alarm))
        .toUtf8();
}

QString described(const history::Data& d)
{
    QStringList out;
    for (const history::Row& r : d.rows)
        out << QStringLiteral("%1=%2").arg(r.timeMs % 86'400'000 / 60'000).arg(r.pitch);
    return out.join(' ');
}

bool write(const QString& path, const QByteArray& content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}
} // namespace

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    void readers_data()
    {
        QTest::addColumn<QByteArrayList>("files");
        QTest::addColumn<QString>("rows"); // minute=pitch, in time order
        QTest::addColumn<QString>("says"); // in the summary or the error
        const QByteArray h = Header + "\r\n";
        QTest::newRow("CR LF") << QByteArrayList {h + row(0, "1.5000") + "\r\n" + row(1, "1.2500") + "\r\n"}
                               << "0=1.5 1=1.25"
                               << "2 rows from 2026-12-01T00:00:00.000Z";
        QTest::newRow("LF, byte order mark, seven columns")
            << QByteArrayList {"\xEF\xBB\xBFtime,elapsed,pitch,roll,temperature,unit,alarm\n"
                               "2026-12-01T00:03:00.000Z,0.000,-2.5,1,25,deg,ok\n"}
            << "3=-2.5"
            << "1 rows";
        QTest::newRow("a torn last row waits")
            << QByteArrayList {h + row(0, "1.0000") + "\r\n" + row(1, "2.0").left(30)} << "0=1"
            << "1 rows";
        QTest::newRow("wrong number of fields")
            << QByteArrayList {h + row(0, "1.0000") + ",9\r\n" + row(1, "2.0000") + "\r\n"} << "1=2"
            << "1 bad lines skipped, the first %1 line 2: 13 fields";
        QTest::newRow("not a number") << QByteArrayList {h + row(0, "1e5") + "\r\n" + row(1, "2.0000") + "\r\n"}
                                      << "1=2"
                                      << "line 2: pitch is not a number";
        QTest::newRow("header again, rows out of order")
            << QByteArrayList {h + row(5, "5.0000") + "\r\n" + h + row(2, "2.0000") + "\r\n"} << "2=2 5=5"
            << "line 3: the header again";
        QTest::newRow("two files, a row in both once")
            << QByteArrayList {h + row(0, "1.0000") + "\r\n" + row(2, "3.0000") + "\r\n",
                   h + row(2, "3.0000") + "\r\n" + row(1, "2.0000") + "\r\n"}
            << "0=1 1=2 2=3"
            << "3 rows";
        QTest::newRow("counts beside degrees")
            << QByteArrayList {h + row(0, "1.0000") + "\r\n", h + row(1, "99.0000", "ok", "count") + "\r\n"} << "0=1"
            << "in count, the others in deg: not drawn on one axis";
        QTest::newRow("kvddt, elapsed time")
            << QByteArrayList {"0.5\tPitch\t01.50\tRoll\t-00.01\r\n60\tPitch\t-02.00\tRoll\t"
                               "00.00\r\n"}
            << "0=1.5 1=-2"
            << "2 rows over 60 s";
        QTest::newRow("empty") << QByteArrayList {QByteArray()} << ""
                               << "no rows in";
        QTest::newRow("binary") << QByteArrayList {QByteArray("\x7F"
                                                              "ELF\x02\x01\x00\x00\n\x00\x01",
            12)} << ""
                                << "neither the logger's CSV nor a kvddt.txt";
    }

    void readers()
    {
        QFETCH(QByteArrayList, files);
        QFETCH(QString, rows);
        QFETCH(QString, says);
        QTemporaryDir dir;
        QStringList paths;
        for (int i = 0; i < files.size(); ++i) {
            paths << dir.filePath(QStringLiteral("f%1.csv").arg(i));
            QVERIFY(write(paths.last(), files[i]));
        }
        history::Data data;
        const auto error = data.load(paths);
        QCOMPARE(described(data), rows);
        const QString text = error.value_or(data.summaryText());
        QVERIFY2(text.contains(says.contains("%1") ? says.arg(paths[0]) : says), qPrintable(text));
        QCOMPARE(error.has_value(), rows.isEmpty());
    }

    void foldersFifosAndExportWithoutAWindow()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("days") && QDir(dir.path()).mkdir("none"));
        QVERIFY(write(dir.filePath("days/2026-12-02.csv"),
            Header + "\r\n" + row(1, "2.0000").replace("12-01", "12-02") + "\r\n"));
        QVERIFY(write(dir.filePath("days/2026-12-01.csv"), Header + "\r\n" + row(0, "1.0000", "pitch") + "\r\n"));
        QVERIFY(write(dir.filePath("days/notes.csv"), "not a day file\n"));
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600), 0);
        history::Data data;
        QVERIFY(!data.load({dir.filePath("days"), dir.filePath("fifo")}));
        QCOMPARE(data.rows.size(), std::size_t(2)); // both days, in date order, nothing else
        QVERIFY(data.summaryText().contains("fifo: not a regular file"));
        QCOMPARE(data.alarms().size(), std::size_t(1));
        QVERIFY(history::Data().load({dir.filePath("none")}).value_or("").contains("no day files"));

        const auto program = [](const QStringList& args) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("DISPLAY"); // as from a timer on a box without a display
            env.remove("QT_QPA_PLATFORM");
            p.setProcessEnvironment(env);
            p.start(QStringLiteral(VELTRAK_BINARY), args);
            p.waitForFinished(20000);
            return std::pair {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
        };
        const QString csv = dir.filePath("out.csv"), png = dir.filePath("out.png");
        QCOMPARE(program({"--history", dir.filePath("days"), "--export", csv, "--from", "2026-12-02"}),
            std::pair(0, QString()));
        QFile out(csv);
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), Header + "\r\n" + row(1, "2.0000").replace("12-01", "12-02") + "\r\n");
        QCOMPARE(program({"--history", dir.filePath("days"), "--export", png, "--size", "640x300"}).first, 0);
        QCOMPARE(QImage(png).size(), QSize(640, 300));
        QCOMPARE(program({"--history", dir.filePath("days"), "--export", csv, "--from", "2027-01-01"}).first, 0);
        QVERIFY(QFile(csv).size() == Header.size() + 2); // a span without rows: the header alone
        const auto bad = program({"--history", dir.filePath("days"), "--export", png, "--size", "big"});
        QVERIFY(bad.first == 2 && bad.second.contains("--size: expected WxH"));
        const auto none = program({"--history", dir.filePath("none"), "--export", png});
        QVERIFY(none.first == 1 && none.second.contains("no day files"));
    }

    // For random rows, any span and any width: each column's extremes are
    // those of a plain scan over the rows in it.
    void envelopeMatchesAScan()
    {
        QRandomGenerator random(7);
        history::Data data;
        QTemporaryDir dir;
        QByteArray content = Header + "\n";
        qint64 t = 0;
        for (int i = 0; i < 3000; ++i) {
            t += random.bounded(1, 5) * (random.bounded(50) == 0 ? 1000 : 1); // gaps now and then
            content += row(0, QByteArray::number(random.bounded(2000) / 100.0 - 10.0, 'f', 2))
                           .replace("T00:00:00.000Z",
                               QStringLiteral("T%1:%2:%3.000Z")
                                   .arg(t / 3600 % 24, 2, 10, QLatin1Char('0'))
                                   .arg(t / 60 % 60, 2, 10, QLatin1Char('0'))
                                   .arg(t % 60, 2, 10, QLatin1Char('0'))
                                   .toUtf8())
                + "\n";
        }
        QVERIFY(write(dir.filePath("r.csv"), content) && !data.load({dir.filePath("r.csv")}));
        for (int trial = 0; trial < 200; ++trial) {
            const qint64 from = data.rows.front().timeMs + random.bounded(qint64(t * 1000)) - 500'000;
            const qint64 to = from + random.bounded(qint64(1000), qint64(t * 1000));
            const int width = random.bounded(1, 700);
            const auto columns = data.envelope(history::Series::Pitch, from, to, width);
            for (int c = 0; c < width; ++c) {
                const qint64 c0 = c == 0 ? from : from + qint64(std::floor(c * double(to - from) / width));
                const qint64 c1 = c + 1 == width ? to : from + qint64(std::floor((c + 1) * double(to - from) / width));
                double low = INFINITY, high = -INFINITY;
                for (const history::Row& r : data.rows)
                    if (r.timeMs >= c0 && r.timeMs < c1) {
                        low = std::min(low, r.pitch);
                        high = std::max(high, r.pitch);
                    }
                const history::Column& col = columns[std::size_t(c)];
                QVERIFY2(col.empty() ? low > high : col.low == low && col.high == high,
                    qPrintable(QStringLiteral("trial %1 column %2").arg(trial).arg(c)));
            }
        }
    }

    void ticksAndTimes()
    {
        const qint64 day = history::parseTime("2026-12-01").value_or(0);
        QCOMPARE(history::parseTime("2026-12-01T06:00Z"), day + 6 * 3'600'000);
        QCOMPARE(history::parseTime("2026-12-01T06:00:30"), day + 6 * 3'600'000 + 30'000);
        QVERIFY(!history::parseTime("yesterday") && !history::parseTime("2026-13-01"));
        QStringList labels;
        for (const auto& [from, to, wanted] : {std::tuple {day + 1, day + 3'600'000, 6},
                 {day, day + 7 * 86'400'000LL, 7}, {day, day + 400 * 86'400'000LL, 6}}) {
            QStringList one;
            for (const history::Tick& tick : history::ticks(from, to, wanted, true, false))
                one << tick.label;
            labels << one.join(',');
        }
        QCOMPARE(labels,
            (QStringList {"00:10,00:20,00:30,00:40,00:50", "12-01,12-02,12-03,12-04,12-05,12-06,12-07",
                "2027-01,2027-03,2027-05,2027-07,2027-09,2027-11,2028-01"}));
    }

    void windowFollowsAGrowingFolder()
    {
        QTemporaryDir dir;
        const QString today = dir.filePath("2026-12-01.csv");
        QByteArray content = Header + "\r\n";
        for (int m = 0; m < 600; ++m)
            content += row(m, QByteArray::number(std::sin(m / 50.0), 'f', 4)) + "\r\n";
        QVERIFY(write(today, content));
        HistoryWindow window;
        window.show();
        QSignalSpy loaded(&window, &HistoryWindow::loaded);
        window.open({dir.path()});
        QVERIFY(loaded.wait());
        QCOMPARE(window.data()->rows.size(), std::size_t(600));
        HistoryChart* chart = window.chart();
        const qint64 span = chart->view().toMs - chart->view().fromMs;
        QWheelEvent wheel(QPointF(chart->width() / 2, 50), chart->mapToGlobal(QPointF(chart->width() / 2, 50)),
            QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(chart, &wheel);
        QVERIFY(chart->view().toMs - chart->view().fromMs < span * 0.7);
        chart->showLast(3'600'000); // the last hour: it follows the end
        QFile grow(today);
        QVERIFY(grow.open(QIODevice::Append));
        grow.write(row(600, "9.0000") + "\r\n" + row(601, "9.5").left(20)); // the second one torn
        grow.flush();
        QTRY_COMPARE_WITH_TIMEOUT(window.data()->rows.size(), std::size_t(601), 4000);
        QCOMPARE(chart->view().toMs > window.data()->rows.back().timeMs, true);
        QVERIFY(write(
            dir.filePath("2026-12-02.csv"), Header + "\r\n" + row(0, "3.0000").replace("12-01", "12-02") + "\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(window.data()->rows.size(), std::size_t(602), 4000); // a new day file
        const QString png = dir.filePath("shown.png");
        QVERIFY(!exportHistory(*window.data(), png, chart->view(), QSize(400, 200)));
        const QImage image(png);
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                colours.insert(image.pixel(x, y));
        QVERIFY(image.size() == QSize(400, 200) && colours.size() > 4); // axes, labels, lines
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
