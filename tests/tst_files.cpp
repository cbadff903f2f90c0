// File formats and text parsing: coefficient file, record lines, interval
// answers, line format, command line, data directory.
#include "core/apppaths.h"
#include "core/commandline.h"
#include "core/coeffile.h"
#include "core/interval.h"
#include "core/recorder.h"
#include "core/lineformat.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(Coefficients)

class TestFiles : public QObject {
    Q_OBJECT
private slots:
    void coefficientText_data();
    void coefficientText();
    void coefficientFileLookup();
    void intervalAnswers_data();
    void intervalAnswers();
    void recordLines();
    void recordTimeFollowsIntervalChanges();
    void recordFileIsTruncatedAndFlushed();
    void lineFormat();
    void dialogChoicesFromLineFormat();
    void commandLine();
    void dataDirectoryFallback();
};

void TestFiles::coefficientText_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<Coefficients>("expected");
    const Coefficients z1 {0.0129, 0, -3E-10};
    QTest::newRow("one per line") << QByteArray("0.0129\n0\n-3E-10\n") << true << z1;
    QTest::newRow("CRLF") << QByteArray("0.0129\r\n0\r\n-3E-10\r\n") << true << z1;
    QTest::newRow("one line, commas") << QByteArray("0.0129,0,-3E-10") << true << z1;
    QTest::newRow("blanks in front") << QByteArray("  0.0129,\t0,  -3e-10\n") << true << z1;
    QTest::newRow("blanks around commas") << QByteArray("0.0129 , 0 , -3E-10") << true << z1;
    QTest::newRow("empty lines skipped") << QByteArray("\n0.0129\n\n0\n-3E-10") << true << z1;
    QTest::newRow("fourth value ignored") << QByteArray("1.50\n2\n3\n4\n") << true << Coefficients {1.5, 2, 3};
    QTest::newRow("text after third ignored")
        << QByteArray("1,2,3 end of file\ngarbage") << true << Coefficients {1, 2, 3};
    QTest::newRow("plus sign") << QByteArray("+1,0,0") << true << Coefficients {1, 0, 0};
    QTest::newRow("all zero accepted") << QByteArray("0,0,0") << true << Coefficients {0, 0, 0};
    QTest::newRow("empty file") << QByteArray("") << false << Coefficients {};
    QTest::newRow("two values") << QByteArray("0.5\n0.25\n") << false << Coefficients {};
    QTest::newRow("a word") << QByteArray("one\n0\n0\n") << false << Coefficients {};
    QTest::newRow("trailing letters") << QByteArray("1.5x\n0\n0\n") << false << Coefficients {};
    QTest::newRow("decimal comma splits") << QByteArray("0,0129\n0\n") << true << Coefficients {0, 129, 0};
    QTest::newRow("empty field") << QByteArray("1,,2") << false << Coefficients {};
    QTest::newRow("infinite") << QByteArray("1e999,0,0") << false << Coefficients {};
    QTest::newRow("nan") << QByteArray("nan,0,0") << false << Coefficients {};
    QTest::newRow("two on a line without comma") << QByteArray("1 2\n3\n") << false << Coefficients {};
}

void TestFiles::coefficientText()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, ok);
    QFETCH(Coefficients, expected);
    const auto result = coeffile::parse(content);
    QCOMPARE(std::holds_alternative<Coefficients>(result), ok);
    if (ok)
        QCOMPARE(std::get<Coefficients>(result), expected);
    else
        QCOMPARE(std::get<coeffile::LoadError>(result).failure, coeffile::Failure::Format);
}

void TestFiles::coefficientFileLookup()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto missing = coeffile::load(dir.path());
    QCOMPARE(std::get<coeffile::LoadError>(missing).failure, coeffile::Failure::Open);

    QFile f(dir.filePath(QStringLiteral("KVDcoef.txt"))); // the spelling of the messages
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("0.03125\n0\n-2E-9\n");
    f.close();
    const auto found = coeffile::load(dir.path());
    QCOMPARE(std::get<Coefficients>(found), (Coefficients {0.03125, 0, -2E-9}));

    QVERIFY(QFile::remove(f.fileName()));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("kvdcoef.txt"))); // a directory is no file
    QCOMPARE(std::get<coeffile::LoadError>(coeffile::load(dir.path())).failure, coeffile::Failure::Open);
}

void TestFiles::intervalAnswers_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("ms"); // 0 = refused
    QTest::newRow("minimum") << "100" << 100;
    QTest::newRow("below minimum") << "99" << 0;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("blanks") << " 250 " << 250;
    QTest::newRow("whole with point") << "500.0" << 500;
    QTest::newRow("fraction") << "150.5" << 0;
    QTest::newRow("negative") << "-500" << 0;
    QTest::newRow("maximum") << "32767" << 32767;
    QTest::newRow("too large") << "32768" << 0;
    QTest::newRow("huge") << "99999999999999999999" << 0;
    QTest::newRow("word") << "fast" << 0;
    QTest::newRow("exponent") << "1e3" << 0;
    QTest::newRow("hex") << "0x200" << 0;
    QTest::newRow("decimal comma") << "150,5" << 0;
}

void TestFiles::intervalAnswers()
{
    QFETCH(QString, answer);
    QFETCH(int, ms);
    QCOMPARE(interval::parseAnswer(answer).value_or(0), ms);
}

void TestFiles::recordLines()
{
    QCOMPARE(Recorder::recordLine(1000, QStringLiteral("12.60"), QStringLiteral("-01.00")),
        QStringLiteral("1\tPitch\t12.60\tRoll\t-01.00\r\n"));
    QCOMPARE(Recorder::recordLine(300, QString(), QString()), QStringLiteral("0.3\tPitch\t\tRoll\t\r\n"));
    QCOMPARE(Recorder::recordLine(750, QStringLiteral("0.79"), QStringLiteral("     ")),
        QStringLiteral("0.75\tPitch\t0.79\tRoll\t     \r\n"));
}

void TestFiles::recordTimeFollowsIntervalChanges()
{
    QTemporaryDir dir;
    Recorder rec;
    QVERIFY(!rec.open(dir.filePath(Recorder::FileName)));
    for (int i = 0; i < 5; ++i)
        QVERIFY(!rec.writeRecord(1000, QStringLiteral("p"), QStringLiteral("r")));
    QVERIFY(!rec.writeRecord(500, QStringLiteral("p"), QStringLiteral("r")));
    for (int i = 0; i < 3; ++i)
        QVERIFY(!rec.writeRecord(100, QStringLiteral("p"), QStringLiteral("r")));
    rec.close();
    QFile f(dir.filePath(Recorder::FileName));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QStringList times;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (!line.isEmpty())
            times << QString::fromLatin1(line.split('\t').first());
    }
    QCOMPARE(times, (QStringList {"1", "2", "3", "4", "5", "5.5", "5.6", "5.7", "5.8"}));
    QCOMPARE(rec.RecCount, 9);

    // Ticks at 100 ms never pick up binary noise.
    Recorder fast;
    QVERIFY(!fast.open(dir.filePath(QStringLiteral("fast.txt"))));
    for (int i = 0; i < 1000; ++i)
        QVERIFY(!fast.writeRecord(100, QString(), QString()));
    QCOMPARE(Recorder::recordLine(fast.recordedMs(), QString(), QString()).section(QLatin1Char('\t'), 0, 0),
        QStringLiteral("100"));
}

void TestFiles::recordFileIsTruncatedAndFlushed()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(Recorder::FileName);
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("left over from an earlier run\r\n");
    }
    Recorder rec;
    QVERIFY(!rec.open(path));
    QCOMPARE(QFileInfo(path).size(), 0);
    QVERIFY(!rec.writeRecord(1000, QStringLiteral("00.00"), QStringLiteral("00.00")));
    // On disk at once, while the file is still open.
    QFile check(path);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArray("1\tPitch\t00.00\tRoll\t00.00\r\n"));
}

void TestFiles::lineFormat()
{
    const auto ok = parseLineFormat(QStringLiteral("19200,n,8,1"));
    QVERIFY(std::holds_alternative<LineFormat>(ok));
    QCOMPARE(std::get<LineFormat>(ok).toText(), QStringLiteral("19200,N,8,1"));
    QCOMPARE(
        std::get<LineFormat>(parseLineFormat(QStringLiteral("9600,E,7,2"))).toText(), QStringLiteral("9600,E,7,2"));
    for (const char* bad :
        {"", "19200", ",N,8,1", "19200,X,8,1", "19200,N,9,1", "19200,N,8,3", "fast,N,8,1", "19200,N,8,1,0"}) {
        const auto r = parseLineFormat(QString::fromLatin1(bad));
        QVERIFY2(std::holds_alternative<QString>(r), bad);
        QVERIFY(!std::get<QString>(r).isEmpty());
    }
}

void TestFiles::dialogChoicesFromLineFormat()
{
    auto all = [](const LineFormatChoices& c) { return c.baud19200 && c.parityNone && c.dataBits8 && c.stopBits1; };
    QVERIFY(all(readDialogChoices(QStringLiteral("19200,N,8,1"))));
    QVERIFY(all(readDialogChoices(QStringLiteral("19200,n,8,1"))));
    const LineFormatChoices other = readDialogChoices(QStringLiteral("9600,E,7,2"));
    QVERIFY(!other.baud19200 && !other.parityNone && !other.dataBits8 && !other.stopBits1);
    // Fields sit at fixed distances from the first comma.
    QVERIFY(all(readDialogChoices(QStringLiteral("19200,N,8,1.5"))));
    QVERIFY(!readDialogChoices(QStringLiteral("19200")).baud19200);
    QVERIFY(!readDialogChoices(QStringLiteral("19200,")).dataBits8); // short text reads past its end safely
}

void TestFiles::commandLine()
{
    const auto none = parseCommandLine({});
    QVERIFY(std::holds_alternative<CommandLine>(none));
    QCOMPARE(std::get<CommandLine>(none).ports.deviceFor(4), PortMap::defaultDeviceFor(4));
#ifndef Q_OS_WIN
    QCOMPARE(PortMap::defaultDeviceFor(1), QStringLiteral("/dev/ttyS0"));
#endif
    const auto mapped = parseCommandLine({"--port", "1=/dev/ttyUSB0", "--port=4=/tmp/sim", "--data-dir", "/tmp/x"});
    QVERIFY(std::holds_alternative<CommandLine>(mapped));
    const CommandLine& cl = std::get<CommandLine>(mapped);
    QCOMPARE(cl.ports.deviceFor(1), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(cl.ports.deviceFor(4), QStringLiteral("/tmp/sim"));
    QCOMPARE(cl.ports.deviceFor(2), PortMap::defaultDeviceFor(2));
    QCOMPARE(cl.dataDir, QStringLiteral("/tmp/x"));
    QVERIFY(std::get<CommandLine>(parseCommandLine({"--help"})).help);
    QVERIFY(std::get<CommandLine>(parseCommandLine({"--version"})).version);
    QVERIFY(std::get<CommandLine>(parseCommandLine({"--list-ports"})).listPorts);
    for (const QStringList& bad :
        {QStringList {"--port"}, QStringList {"--port", "5=/dev/x"}, QStringList {"--port", "1"},
            QStringList {"--port", "x=/dev/x"}, QStringList {"--bogus"}, QStringList {"--data-dir"}})
        QVERIFY2(std::holds_alternative<QString>(parseCommandLine(bad)), qPrintable(bad.join(' ')));
}

void TestFiles::dataDirectoryFallback()
{
    QTemporaryDir dir;
    const QString exeDir = dir.filePath(QStringLiteral("bin"));
    const QString fallback = dir.filePath(QStringLiteral("data/veltrak"));
    QVERIFY(QDir().mkpath(exeDir));
    QCOMPARE(AppPaths::chooseDataDir(exeDir, fallback), exeDir);
    // /proc takes no new files, not even from root (CI runs as root, who
    // ignores permission bits).
    QCOMPARE(AppPaths::chooseDataDir(QStringLiteral("/proc"), fallback), fallback);
    QVERIFY(QFileInfo(fallback).isDir());
    QCOMPARE(AppPaths(fallback).recordingFile(), fallback + QStringLiteral("/kvddt.txt"));
    // The calibration beside the program is looked for first.
    QCOMPARE(AppPaths(fallback, exeDir).coefficientDirs(), (QStringList {exeDir, fallback}));
    QCOMPARE(AppPaths(fallback, fallback).coefficientDirs(), QStringList {fallback});
}

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
