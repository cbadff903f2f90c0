// SPDX-License-Identifier: GPL-3.0-or-later
// The core without a port: number formats, hex reading and the conversions;
// the coefficient file, the recording file, interval answers, line format,
// command line, data directory. Each table row covers a path or boundary
// that no other row covers.
#include "core/apppaths.h"
#include "core/coeffile.h"
#include "core/commandline.h"
#include "core/conversion.h"
#include "core/hexreading.h"
#include "core/interval.h"
#include "core/lineformat.h"
#include "core/numberformat.h"
#include "core/recorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <future>
#include <limits>
#include <tuple>
#include <utility>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr double Inf = std::numeric_limits<double>::infinity();

// Leaves `kind` under `name`, as a hostile user could.
bool makeEntry(const QString& kind, const QDir& dir, const QString& name, const QByteArray& content = {})
{
    const QByteArray path = QFile::encodeName(dir.filePath(name)), fifo = path + ".fifo";
    QFile file(dir.filePath(name));
    if (kind == "regular")
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    if (kind == "fifo")
        return ::mkfifo(path.constData(), 0600) == 0;
    if (kind == "link to fifo")
        return ::mkfifo(fifo.constData(), 0600) == 0 && ::symlink(fifo.constData(), path.constData()) == 0;
    if (kind == "link to device")
        return ::symlink("/dev/null", path.constData()) == 0;
    return kind == "directory" && dir.mkdir(name);
}

// What a load gave: the values, or the kind of failure and its detail.
QString outcome(const std::variant<Coefficients, coeffile::LoadError>& result)
{
    if (const auto* c = std::get_if<Coefficients>(&result))
        return QStringLiteral("%1,%2,%3").arg(c->x1).arg(c->x2).arg(c->x3);
    const auto& e = std::get<coeffile::LoadError>(result);
    return (e.failure == coeffile::Failure::Open ? QStringLiteral("open: ") : QStringLiteral("format: ")) + e.detail;
}

QByteArray contentOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}

const QString Regular = QStringLiteral("regular"), P = QStringLiteral("01.00"), R = QStringLiteral("-02.00");
const QString Name = QStringLiteral("KvdCoef.TXT"); // found whatever the case

} // namespace

class TestCore : public QObject {
    Q_OBJECT
private slots:
    void textForms()
    {
        // Exponent form below 1E-4 and from 1E+15 on, 15 significant digits.
        static const std::pair<double, const char*> decimals[]
            = {{0.0129, "0.0129"}, {-3E-10, "-3E-10"}, {-2E-9, "-2E-09"}, {-0.0, "0"}, {-130.0, "-130"},
                {123456789012345.0, "123456789012345"}, {1e15, "1E+15"}, {0.0001, "0.0001"}, {0.00005, "5E-05"},
                {1.0 / 3.0, "0.333333333333333"}, {std::nan(""), "NaN"}, {Inf, "Inf"}, {-Inf, "-Inf"}};
        for (const auto& [value, text] : decimals)
            QCOMPARE(numfmt::plainDecimal(value), QString::fromLatin1(text));

        static const std::tuple<double, int, int, const char*> patterns[] = {{0.0, 2, 2, "00.00"},
            {-1.0, 2, 2, "-01.00"}, {123.4, 2, 2, "123.40"}, {-0.001, 2, 2, "00.00"}, {0.7855, 1, 2, "0.79"},
            {-1.5708, 1, 2, "-1.57"}, {0.031768, 1, 4, "0.0318"}, {-0.0636, 1, 4, "-0.0636"}, {-Inf, 1, 2, "-Inf"}};
        for (const auto& [value, minInt, places, text] : patterns)
            QCOMPARE(numfmt::pattern(value, minInt, places), QString::fromLatin1(text));

        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // may be missing; harmless then
        QCOMPARE(numfmt::plainDecimal(0.25), QStringLiteral("0.25"));
        QCOMPARE(numfmt::pattern00_00(-1.5), QStringLiteral("-01.50"));
        QCOMPARE(numfmt::pattern0_0000(0.031768), QStringLiteral("0.0318"));
        std::setlocale(LC_NUMERIC, "C");
        QLocale::setDefault(before);

        // Line feeds are dropped, so replies run together; any other character
        // ends the digits; too many digits saturate rather than wrap.
        constexpr quint64 max = std::numeric_limits<quint64>::max();
        static const std::pair<const char*, quint64> hex[] = {{"800\n7FF\n", 0x8007FF}, {"09E\n", 158}, {"7fag", 0x7FA},
            {"80\r0", 0x80}, {"R\n", 0}, {"FFFFFFFFFFFFFFFA", max - 5}, {"10000000000000000", max}};
        for (const auto& [text, count] : hex)
            QCOMPARE(QString::number(hexreading::countOf(QString::fromLatin1(text))), QString::number(count));
    }

    void conversions()
    {
        // Ties go to the even neighbour, also those made by the scaling by 100
        // (0.005); a negative value that rounds to zero leaves no "-0".
        static const std::pair<double, double> ties[] = {{0.125, 0.12}, {0.375, 0.38}, {2.625, 2.62}, {-0.125, -0.12},
            {0.005, 0.0}, {12.6049, 12.6}, {12.6051, 12.61}, {-0.001, 0.0}};
        for (const auto& [value, rounded] : ties)
            QCOMPARE(numfmt::roundHalfEven2(value), rounded);
        QVERIFY(!std::signbit(numfmt::roundHalfEven2(-0.001)));

        static const std::tuple<Model, double, double> presets[] = {{Model::Z1, 12.6, -23.84},
            {Model::Z2, 29.25, -46.82}, {Model::Z3, 42.8, -61.49}, {Model::Raw, 1000, -2048}};
        for (const auto& [model, at1000, atMinus2048] : presets) {
            const Coefficients c = presetFor(model);
            QCOMPARE(conversion::polynomial(1000, c.x1, c.x2, c.x3), at1000);
            QCOMPARE(conversion::polynomial(-2048, c.x1, c.x2, c.x3), atMinus2048);
        }
        QCOMPARE(conversion::polynomial(10, 1, 2, 3), 3210.0); // no preset has a square term

        using U = conversion::ThicknessUnit;
        static const std::tuple<double, double, U, const char*> thickness[]
            = {{251, 130, U::Millimetres, "0.79"}, {251, 130, U::Inches, "0.0318"}, {251, 130, U::Degrees, "1.00"},
                {-112, 130, U::Millimetres, "-1.57"}, {251, 251, U::Inches, "0.0000"}};
        for (const auto& [centred, zero, unit, text] : thickness)
            QCOMPARE(conversion::thicknessText(centred, zero, unit), QString::fromLatin1(text));
        QCOMPARE(conversion::temperature(158), 25.0);
    }

    void coefficientsAndDirectories()
    {
        static const std::pair<const char*, const char*> rows[]
            = {{"\r\n0.0129\r\n\r\n0\r\n-3E-10", "0.0129,0,-3e-10"}, {"  0.0129 ,\t0,  -3e-10", "0.0129,0,-3e-10"},
                {"\357\273\2770.0129,0,-3E-10\r\n", "0.0129,0,-3e-10"}, // UTF-8 byte order mark
                {"+1.50,2,3 end of file\ngarbage", "1.5,2,3"},
                {"0,0129\n0\n", "0,129,0"}, // "." is the decimal point whatever the locale
                {"", "format: line 1: value 1 is missing"}, {"0.5\n0.25\n", "format: line 3: value 3 is missing"},
                {"1,\n2,3", "format: line 1: value 2 is missing"}, // a comma promises a value on its line
                {"one\n0\n0\n", "format: line 1: value 1 is not a number: 'one'"},
                {"0\n1.5x\n0\n", "format: line 2: value 2 is not a number: '1.5x'"},
                {"1e999,0,0", "format: line 1: value 1 is not a number: '1e999'"},
                {"nan,0,0", "format: line 1: value 1 is not a number: 'nan'"},
                {"0.0129,0,1e308", "format: the polynomial is not finite over the counts 0 to 4095"},
                {"1 2\n3\n", "format: line 1: unexpected text after value 1"}};
        for (const auto& [content, expected] : rows)
            QCOMPARE(outcome(coeffile::parse(content)), QString::fromLatin1(expected));

        QTemporaryDir a, b, c;
        QVERIFY(makeEntry(Regular, QDir(a.path()), Recorder::FileName, "1,2,3")); // not a coefficient file
        QVERIFY(makeEntry(Regular, QDir(b.path()), Name, "2,0,0"));
        QVERIFY(makeEntry(Regular, QDir(c.path()), coeffile::FileName, "3,0,0"));
        QCOMPARE(outcome(coeffile::loadFirst({a.path(), b.path(), c.path()})), QStringLiteral("2,0,0"));
        QCOMPARE(outcome(coeffile::loadFirst({c.path(), b.path()})), QStringLiteral("3,0,0"));
        // The exact spelling wins. Several other spellings, so that the listing
        // order of the file system puts at least one of them first.
        for (const char* other : {"KvdCoef.TXT", "KVDCOEF.TXT", "kvdcoef.TXT"})
            QVERIFY(makeEntry(Regular, QDir(c.path()), other, "2,0,0"));
        QCOMPARE(outcome(coeffile::load(c.path())), QStringLiteral("3,0,0"));
        QCOMPARE(outcome(coeffile::load(a.path())), QStringLiteral("open: no kvdcoef.txt in ") + a.path());
        QCOMPARE(outcome(coeffile::loadFirst({a.path()})), QStringLiteral("open: no kvdcoef.txt in ") + a.path());
        // An unusable entry in front is reported, not passed over for another file.
        QVERIFY(makeEntry(QStringLiteral("directory"), QDir(a.path()), coeffile::FileName));
        QVERIFY(outcome(coeffile::loadFirst({a.path(), b.path()})).endsWith(QLatin1String("not a regular file")));

        // Refused as a whole one byte past the limit: reading only the start could
        // load a cut value that looks valid.
        const QByteArray values("0.0129\n0\n-3E-10"), fill(coeffile::MaxFileBytes - values.size(), ' ');
        QVERIFY(makeEntry(Regular, QDir(b.path()), Name, fill + values));
        QCOMPARE(outcome(coeffile::load(b.path())), QStringLiteral("0.0129,0,-3e-10"));
        QVERIFY(makeEntry(Regular, QDir(b.path()), Name, ' ' + fill + values));
        QCOMPARE(outcome(coeffile::load(b.path())),
            "format: " + QDir(b.path()).filePath(Name) + " is larger than 1048576 bytes");

        QTemporaryDir dir;
        const QString exeDir = dir.filePath(QStringLiteral("bin")), fallback = dir.filePath("data/veltrak");
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

    void onlyRegularFiles()
    {
        for (const char* kind : {"fifo", "link to fifo", "link to device", "directory", "regular"}) {
            const bool ok = QLatin1String(kind) == Regular;
            QTemporaryDir tmp;
            const QString recording = tmp.filePath(Recorder::FileName);
            QVERIFY(makeEntry(kind, QDir(tmp.path()), Name, "0.5,0,0"));
            QVERIFY(makeEntry(kind, QDir(tmp.path()), Recorder::FileName, "old"));
            const QStringList fifos {tmp.filePath(Name), recording, tmp.filePath(Name + ".fifo"), recording + ".fifo"};
            Recorder rec;
            auto result = std::async(std::launch::async,
                [&] { return std::pair(outcome(coeffile::load(tmp.path())), rec.open(recording).value_or("opened")); });
            // Code that wrongly waits on a FIFO is let go, so it fails the time
            // check instead of hanging the test.
            const bool waited = result.wait_for(std::chrono::milliseconds(1500)) == std::future_status::timeout;
            while (result.wait_for(std::chrono::milliseconds(50)) == std::future_status::timeout) {
                for (const QString& fifo : fifos)
                    ::close(::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK));
            }
            const auto [loaded, opened] = result.get();
            QVERIFY2(!waited, kind);
            QCOMPARE(loaded, ok ? "0.5,0,0" : QStringLiteral("open: %1 is not a regular file").arg(tmp.filePath(Name)));
            QCOMPARE(opened, ok ? "opened" : "not a regular file");
            QCOMPARE(rec.isOpen(), ok);
            if (ok)
                QCOMPARE(contentOf(recording), QByteArray()); // truncated
            QVERIFY(!rec.open(tmp.filePath(QStringLiteral("missing.txt")))); // created
        }
    }

    void recording()
    {
        QTemporaryDir tmp;
        const QString path = tmp.filePath(Recorder::FileName);
        Recorder rec;
        QCOMPARE(rec.writeRecord(1000, P, R).value_or(QString()), QStringLiteral("the file is not open"));
        QVERIFY(!rec.open(path));
        QVERIFY(!rec.writeRecord(1000, P, R));
        QCOMPARE(contentOf(path), QByteArray("1\tPitch\t01.00\tRoll\t-02.00\r\n")); // on disk while still open
        for (int ms : {1000, 1000, 1000, 1000, 500, 100, 100, 100})
            QVERIFY(!rec.writeRecord(ms, QString(), QString()));
        QStringList times;
        for (const QByteArray& line : contentOf(path).split('\n'))
            times << QString::fromLatin1(line.split('\t').first());
        QCOMPARE(times, (QStringList {"1", "2", "3", "4", "5", "5.5", "5.6", "5.7", "5.8", ""}));

        // Past a file size limit writes fail (EFBIG) as they do on a full disk,
        // after letting `room` bytes through. Nothing else may write until the
        // limit is lifted.
        const QByteArray before = contentOf(path);
        for (int room : {0, 10}) {
            rlimit saved {};
            QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
            rlimit limit = saved;
            limit.rlim_cur = rlim_t(before.size() + room);
            const auto handler = std::signal(SIGXFSZ, SIG_IGN);
            const bool limited = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
            const auto error = rec.writeRecord(1000, P, R);
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, handler);
            QVERIFY(limited);
            QCOMPARE(error.value_or(QString()), qt_error_string(EFBIG));
            QCOMPARE(contentOf(path), before); // whole records only
        }
        QCOMPARE(rec.RecCount, 9);
        QVERIFY(!rec.writeRecord(500, P, R));
        QCOMPARE(contentOf(path), before + "6.3\tPitch\t01.00\tRoll\t-02.00\r\n");

        // Moved away and replaced while the old file lives on, then removed.
        const QString gone = QStringLiteral("the file was removed or replaced");
        QVERIFY(QFile::rename(path, path + ".old"));
        QVERIFY(makeEntry(Regular, QDir(tmp.path()), Recorder::FileName, "other"));
        QCOMPARE(rec.writeRecord(1000, P, R).value_or(QString()), gone);
        QCOMPARE(contentOf(path), QByteArray("other"));
        QVERIFY(QFile::remove(path) && QFile::remove(path + ".old"));
        QCOMPARE(rec.writeRecord(1000, P, R).value_or(QString()), gone);
        QCOMPARE(contentOf(path), QByteArray("(none)"));
        QCOMPARE(rec.RecCount, 10);
        QCOMPARE(rec.recordedMs(), 6300);
    }

    void answers()
    {
        static const std::pair<const char*, int> intervals[] = {{"100", 100}, {"99", 0}, {" 250 ", 250}, {"500.0", 500},
            {"150.5", 0}, {"32767", 32767}, {"32768", 0}, {"1e3", 0}}; // 0: refused
        for (const auto& [answer, ms] : intervals)
            QVERIFY2(interval::parseAnswer(QString::fromLatin1(answer)).value_or(0) == ms, answer);

        QCOMPARE(std::get<CommandLine>(parseCommandLine({})).ports.deviceFor(4), QStringLiteral("/dev/ttyS3"));
        const auto cl = std::get<CommandLine>(
            parseCommandLine({"--port", "1=/dev/ttyUSB0", "--port=4=/tmp/sim", "--data-dir", "/tmp/x", "--help"}));
        QCOMPARE(cl.ports.deviceFor(1), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(cl.ports.deviceFor(4), QStringLiteral("/tmp/sim"));
        QCOMPARE(cl.ports.deviceFor(2), QStringLiteral("/dev/ttyS1"));
        QCOMPARE(cl.dataDir, QStringLiteral("/tmp/x"));
        QVERIFY(cl.help && !cl.version && !cl.listPorts);
        for (const QStringList& bad :
            {QStringList {"--port"}, QStringList {"--port", "5=/dev/x"}, QStringList {"--port", "1"},
                QStringList {"--port", "x=/dev/x"}, QStringList {"--bogus"}, QStringList {"--data-dir"}})
            QVERIFY2(std::holds_alternative<QString>(parseCommandLine(bad)), qPrintable(bad.join(' ')));
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
