// SPDX-License-Identifier: GPL-3.0-or-later
// The core without a port: number formats, hex reading and the conversions;
// the coefficient file, the recording file, interval answers, the
// command line, data directory. Each table row covers a path or boundary
// that no other row covers.
#include "core/apppaths.h"
#include "core/coeffile.h"
#include "core/commandline.h"
#include "core/conversion.h"
#include "core/hexreading.h"
#include "core/interval.h"
#include "core/linefailure.h"
#include "core/numberformat.h"
#include "core/recorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <functional>
#include <future>
#include <limits>
#include <string>
#include <tuple>
#include <utility>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr quint64 Max = std::numeric_limits<quint64>::max();

// A rule's result as text, computed when its row runs.
using Text = std::function<QString()>;

void row(const QString& name, const QString& expected, const Text& text)
{
    QTest::newRow(qPrintable(name)) << text << expected;
}

// The shortest text that reads back as exactly this double ("-0" for -0.0).
QString exactly(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

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

Q_DECLARE_METATYPE(Text)

class TestCore : public QObject {
    Q_OBJECT
private slots:
    // The rules that turn a number into text (or a rounded number, written
    // exactly), one row each.
    void numberTexts_data()
    {
        QTest::addColumn<Text>("text");
        QTest::addColumn<QString>("expected");
        // Exponent form below 1E-4 and from 1E+15 on, 15 significant digits.
        for (const auto& [value, text] : std::initializer_list<std::pair<double, const char*>> {{0.0129, "0.0129"},
                 {-3E-10, "-3E-10"}, {-2E-9, "-2E-09"}, {-0.0, "0"}, {-130.0, "-130"},
                 {123456789012345.0, "123456789012345"}, {1e15, "1E+15"}, {0.0001, "0.0001"}, {0.00005, "5E-05"},
                 {1.0 / 3.0, "0.333333333333333"}, {std::nan(""), "NaN"}, {Inf, "Inf"}, {-Inf, "-Inf"}})
            row(QStringLiteral("plain %1").arg(text), text, [v = value] { return numfmt::plainDecimal(v); });
        for (const auto& [value, minInt, places, text] :
            std::initializer_list<std::tuple<double, int, int, const char*>> {{0.0, 2, 2, "00.00"},
                {-1.0, 2, 2, "-01.00"}, {123.4, 2, 2, "123.40"}, {-0.001, 2, 2, "00.00"}, {0.7855, 1, 2, "0.79"},
                {-1.5708, 1, 2, "-1.57"}, {0.031768, 1, 4, "0.0318"}, {-0.0636, 1, 4, "-0.0636"}, {-Inf, 1, 2, "-Inf"}})
            row(QStringLiteral("pattern %1 of %2").arg(text).arg(value), text,
                [v = value, i = minInt, d = places] { return numfmt::pattern(v, i, d); });
        for (const auto& [value, text] : std::initializer_list<std::pair<double, const char*>> {
                 {1.5, "1.50"}, {1.23456789, "1.234568"}, {-0.0000004, "0.00"}, {-2.0000004, "-2.00"}, {Inf, ""}})
            row(QStringLiteral("angle %1").arg(value), text, [v = value] { return numfmt::angle(v); });
        // Ties go to the even neighbour, also those made by the scaling by 100
        // (0.005); a negative value that rounds to zero leaves no "-0".
        for (const auto& [value, rounded] :
            std::initializer_list<std::pair<double, const char*>> {{0.125, "0.12"}, {0.375, "0.38"}, {2.625, "2.62"},
                {-0.125, "-0.12"}, {0.005, "0"}, {12.6049, "12.6"}, {12.6051, "12.61"}, {-0.001, "0"}})
            row(QStringLiteral("round %1").arg(value), rounded,
                [v = value] { return exactly(numfmt::roundHalfEven2(v)); });
        // Line feeds are dropped, so replies run together; any other character
        // ends the digits; too many digits saturate rather than wrap.
        for (const auto& [name, reply, count] : std::initializer_list<std::tuple<const char*, const char*, quint64>> {
                 {"replies run together", "800\n7FF\n", 0x8007FF}, {"leading zero", "09E\n", 158},
                 {"lower case, ended by g", "7fag", 0x7FA}, {"ended by CR", "80\r0", 0x80}, {"no digits", "R\n", 0},
                 {"largest", "FFFFFFFFFFFFFFFA", Max - 5}, {"saturates", "10000000000000000", Max}})
            row(QStringLiteral("hex %1").arg(name), QString::number(count),
                [r = reply] { return QString::number(hexreading::countOf(r)); });
        for (const auto& [name, model, at1000, atMinus2048] :
            std::initializer_list<std::tuple<const char*, Model, const char*, const char*>> {
                {"z1", Model::Z1, "12.6", "-23.84"}, {"z2", Model::Z2, "29.25", "-46.82"},
                {"z3", Model::Z3, "42.8", "-61.49"}, {"raw", Model::Raw, "1000", "-2048"}})
            for (const auto& [count, value] : {std::pair {1000.0, at1000}, {-2048.0, atMinus2048}})
                row(QStringLiteral("%1 at %2").arg(name).arg(count), value, [c = presetFor(model), n = count] {
                    return QString::number(conversion::polynomial(n, c.x1, c.x2, c.x3), 'g', 12);
                });
        row("square term (no preset has one)", "3210",
            [] { return QString::number(conversion::polynomial(10, 1, 2, 3)); });
        using U = conversion::ThicknessUnit;
        for (const auto& [name, centred, zero, unit, text] :
            std::initializer_list<std::tuple<const char*, double, double, U, const char*>> {
                {"millimetres", 251, 130, U::Millimetres, "0.79"}, {"inches", 251, 130, U::Inches, "0.0318"},
                {"degrees", 251, 130, U::Degrees, "1.00"}, {"below the zero", -112, 130, U::Millimetres, "-1.57"},
                {"at the zero", 251, 251, U::Inches, "0.0000"}})
            row(QStringLiteral("thickness %1").arg(name), text,
                [c = centred, z = zero, u = unit] { return conversion::thicknessText(c, z, u); });
        row("temperature", "25", [] { return exactly(conversion::temperature(158)); });
    }

    void numberTexts()
    {
        QFETCH(Text, text);
        QTEST(text(), "expected");
    }

    void numbersIgnoreTheLocale()
    {
        // German numbers ("0,25") until the end of this function, failed or
        // not: the tests after it find the locale as it was.
        const QLocale before;
        const std::string cNumeric = std::setlocale(LC_NUMERIC, nullptr);
        const auto restore = qScopeGuard([&] {
            std::setlocale(LC_NUMERIC, cNumeric.c_str());
            QLocale::setDefault(before);
        });
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // may be missing; harmless then
        QCOMPARE(numfmt::plainDecimal(0.25), QStringLiteral("0.25"));
        QCOMPARE(numfmt::twoIntegerTwoDecimals(-1.5), QStringLiteral("-01.50"));
        QCOMPARE(numfmt::fourDecimals(0.031768), QStringLiteral("0.0318"));
        QCOMPARE(numfmt::angle(-1.2345678), QStringLiteral("-1.234568"));
    }

    // The rules that read text: the coefficient file, the interval answer
    // and the command line, with their exact complaints.
    void readTexts_data()
    {
        QTest::addColumn<Text>("text");
        QTest::addColumn<QString>("expected");
        for (const auto& [name, content, loaded] :
            std::initializer_list<std::tuple<const char*, const char*, const char*>> {
                {"lines, CR LF", "\r\n0.0129\r\n\r\n0\r\n-3E-10", "0.0129,0,-3e-10"},
                {"commas, blanks", "  0.0129 ,\t0,  -3e-10", "0.0129,0,-3e-10"},
                {"byte order mark", "\357\273\2770.0129,0,-3E-10\r\n", "0.0129,0,-3e-10"},
                {"sign, text after", "+1.50,2,3 end of file\ngarbage", "1.5,2,3"},
                {"a comma is no decimal point", "0,0129\n0\n", "0,129,0"},
                {"empty", "", "format: line 1: value 1 is missing"},
                {"two lines", "0.5\n0.25\n", "format: line 3: value 3 is missing"},
                {"a comma promises a value", "1,\n2,3", "format: line 1: value 2 is missing"},
                {"word", "one\n0\n0\n", "format: line 1: value 1 is not a number: 'one'"},
                {"number and letter", "0\n1.5x\n0\n", "format: line 2: value 2 is not a number: '1.5x'"},
                {"beyond double", "1e999,0,0", "format: line 1: value 1 is not a number: '1e999'"},
                {"nan", "nan,0,0", "format: line 1: value 1 is not a number: 'nan'"},
                {"not finite", "0.0129,0,1e308", "format: the polynomial is not finite over the counts 0 to 4095"},
                {"two on a line", "1 2\n3\n", "format: line 1: unexpected text after value 1"}})
            row(QStringLiteral("coefficients %1").arg(name), loaded,
                [c = content] { return outcome(coeffile::parse(c)); });
        for (const auto& [answer, ms] : std::initializer_list<std::pair<const char*, int>> {{"100", 100}, {"99", 0},
                 {" 250 ", 250}, {"500.0", 500}, {"150.5", 0}, {"32767", 32767}, {"32768", 0}, {"1e3", 0}})
            row(QStringLiteral("interval '%1'").arg(answer), QString::number(ms),
                [a = answer] { return QString::number(interval::parseAnswer(a).value_or(0)); });
        using Kind = LineFailure::Kind;
        const QString usb = QStringLiteral("/dev/ttyUSB0");
        for (const auto& [name, failure, text] : std::initializer_list<std::tuple<const char*, LineFailure, QString>> {
                 {"missing", {Kind::OpenFailed, usb, "No such file or directory", {}},
                     "/dev/ttyUSB0: No such file or directory"},
                 {"held", {Kind::InUse, usb, "Permission denied", {}},
                     "/dev/ttyUSB0: the device is in use by another program"},
                 {"group", {Kind::NoPermission, usb, "Permission denied", "dialout"},
                     "/dev/ttyUSB0: Permission denied\nYour user must be a member of the group 'dialout' that owns "
                     "/dev/ttyUSB0."},
                 {"no group", {Kind::NoPermission, usb, "Permission denied", {}}, "/dev/ttyUSB0: Permission denied"},
                 {"settings", {Kind::SettingsRefused, usb, "Invalid argument", {}}, "Invalid argument"}})
            row(QStringLiteral("line failure %1").arg(name), text, [f = failure] { return describeOpenFailure(f); });
        const QString port = QStringLiteral("--port expects N=DEVICE with N from 1 to 4, got ");
        for (const auto& [args, error] : std::initializer_list<std::pair<QStringList, QString>> {
                 {{"--port"}, "--port needs a value"}, {{"--port", "5=/dev/x"}, port + "'5=/dev/x'"},
                 {{"--port", "1"}, port + "'1'"}, {{"--port", "x=/dev/x"}, port + "'x=/dev/x'"},
                 {{"--bogus"}, "unknown option '--bogus'"}, {{"--data-dir"}, "--data-dir needs a value"}})
            row(QStringLiteral("command line %1").arg(args.join(' ')), error, [a = args] {
                const auto parsed = parseCommandLine(a);
                return std::holds_alternative<QString>(parsed) ? std::get<QString>(parsed) : QStringLiteral("accepted");
            });
    }

    void readTexts()
    {
        QFETCH(Text, text);
        QTEST(text(), "expected");
    }

    void coefficientFilesAndDirectories()
    {
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
        QCOMPARE(outcome(coeffile::loadFirst({a.path(), b.path()})),
            "open: " + QDir(a.path()).filePath(coeffile::FileName) + " is not a regular file");

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

    void onlyRegularFiles_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"fifo", "link to fifo", "link to device", "directory", "regular"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }

    void onlyRegularFiles()
    {
        QFETCH(QString, kind);
        const bool ok = kind == Regular;
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
        QVERIFY(!waited);
        QCOMPARE(loaded, ok ? "0.5,0,0" : QStringLiteral("open: %1 is not a regular file").arg(tmp.filePath(Name)));
        QCOMPARE(opened, ok ? "opened" : "not a regular file");
        QCOMPARE(rec.isOpen(), ok);
        if (ok)
            QCOMPARE(contentOf(recording), QByteArray()); // truncated
        QVERIFY(!rec.open(tmp.filePath(QStringLiteral("missing.txt")))); // created
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
        QCOMPARE(rec.recordCount, 9);
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
        QCOMPARE(rec.recordCount, 10);
        QCOMPARE(rec.recordedMs(), 6300);
    }

    void commandLine()
    {

        QCOMPARE(std::get<CommandLine>(parseCommandLine({})).ports.deviceFor(4), QStringLiteral("/dev/ttyS3"));
        const auto cl = std::get<CommandLine>(
            parseCommandLine({"--port", "1=/dev/ttyUSB0", "--port=4=/tmp/sim", "--data-dir", "/tmp/x", "--help"}));
        QCOMPARE(cl.ports.deviceFor(1), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(cl.ports.deviceFor(4), QStringLiteral("/tmp/sim"));
        QCOMPARE(cl.ports.deviceFor(2), QStringLiteral("/dev/ttyS1"));
        QCOMPARE(cl.dataDir, QStringLiteral("/tmp/x"));
        QVERIFY(cl.help && !cl.version && !cl.listPorts);
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
