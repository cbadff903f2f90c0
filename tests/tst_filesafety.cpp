#include "core/coeffile.h"
#include "core/recorder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Code that wrongly waits on a FIFO is let go after a while, so it fails the
// time check instead of hanging the test.
class FifoRelease {
public:
    explicit FifoRelease(const QStringList& paths)
        : m_thread([paths, done = m_done.get_future()] {
              if (done.wait_for(std::chrono::seconds(2)) == std::future_status::timeout) {
                  for (const QString& path : paths)
                      ::close(::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK));
              }
          })
    {
    }
    ~FifoRelease()
    {
        m_done.set_value();
        m_thread.join();
    }

private:
    std::promise<void> m_done;
    std::thread m_thread;
};

// Leaves `kind` under `name`, as a hostile user could.
bool makeEntry(const QString& kind, const QDir& dir, const QString& name, const QByteArray& content = {})
{
    const QByteArray path = QFile::encodeName(dir.filePath(name));
    const QByteArray fifo = path + ".fifo";
    QFile file(dir.filePath(name));
    if (kind == QLatin1String("regular"))
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(path.constData(), 0600) == 0;
    if (kind == QLatin1String("link to fifo"))
        return ::mkfifo(fifo.constData(), 0600) == 0 && ::symlink(fifo.constData(), path.constData()) == 0;
    if (kind == QLatin1String("link to device"))
        return ::symlink("/dev/null", path.constData()) == 0;
    return kind == QLatin1String("directory") && dir.mkdir(name);
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

const QString P = QStringLiteral("01.00");
const QString R = QStringLiteral("-02.00");
const QString Name = QStringLiteral("KvdCoef.TXT");
} // namespace

class TestFileSafety : public QObject {
    Q_OBJECT
private slots:
    void entries_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("ok");
        for (const char* kind : {"fifo", "link to fifo", "link to device", "directory"})
            QTest::newRow(kind) << kind << false;
        QTest::newRow("regular") << "regular" << true;
    }
    void entries()
    {
        QFETCH(QString, kind);
        QFETCH(bool, ok);
        QTemporaryDir tmp;
        const QString recording = tmp.filePath(Recorder::FileName);
        QVERIFY(makeEntry(kind, QDir(tmp.path()), Name, "0.5,0,0"));
        QVERIFY(makeEntry(kind, QDir(tmp.path()), Recorder::FileName, "old"));
        const FifoRelease release({tmp.filePath(Name), recording, tmp.filePath(Name + ".fifo"), recording + ".fifo"});
        QElapsedTimer timer;
        timer.start();
        const QString loaded = outcome(coeffile::load(tmp.path()));
        Recorder rec;
        const QString opened = rec.open(recording).value_or(QStringLiteral("opened"));
        QVERIFY2(timer.elapsed() < 1500, "waited on an entry");
        QCOMPARE(loaded, ok ? "0.5,0,0" : QStringLiteral("open: %1 is not a regular file").arg(tmp.filePath(Name)));
        QCOMPARE(opened, ok ? "opened" : "not a regular file");
        QCOMPARE(rec.isOpen(), ok);
        if (ok)
            QCOMPARE(contentOf(recording), QByteArray()); // truncated
        QVERIFY(!rec.open(tmp.filePath(QStringLiteral("missing.txt")))); // created
    }

    void coefficientContent_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        const QByteArray values("0.0129\n0\n-3E-10");
        const QByteArray fill(coeffile::MaxFileBytes - values.size(), ' ');
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF"
                                                       "0.0129,0,-3E-10\r\n")
                                         << "0.0129,0,-3e-10";
        QTest::newRow("at the limit") << fill + values << "0.0129,0,-3e-10";
        QTest::newRow("a byte past") << ' ' + fill + values << "format: FILE is larger than 1048576 bytes";
    }
    void coefficientContent()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QTemporaryDir tmp;
        QVERIFY(makeEntry(QStringLiteral("regular"), QDir(tmp.path()), Name, content));
        QCOMPARE(outcome(coeffile::load(tmp.path())).replace(tmp.filePath(Name), QLatin1String("FILE")), expected);
    }

    void firstDirectoryHoldingTheFile()
    {
        QTemporaryDir a, b, c;
        QVERIFY(makeEntry(QStringLiteral("regular"), QDir(b.path()), Name, "2,0,0"));
        QVERIFY(makeEntry(QStringLiteral("regular"), QDir(c.path()), coeffile::FileName, "3,0,0"));
        QCOMPARE(outcome(coeffile::loadFirst({a.path(), b.path(), c.path()})), QStringLiteral("2,0,0"));
        QCOMPARE(outcome(coeffile::loadFirst({c.path(), b.path()})), QStringLiteral("3,0,0"));
        QCOMPARE(outcome(coeffile::loadFirst({a.path()})), QStringLiteral("open: no kvdcoef.txt in ") + a.path());
        QVERIFY(outcome(coeffile::loadFirst({})).startsWith(QLatin1String("open: ")));
        // An unusable entry in front is reported, not passed over for another file.
        QVERIFY(makeEntry(QStringLiteral("directory"), QDir(a.path()), coeffile::FileName));
        QVERIFY(outcome(coeffile::loadFirst({a.path(), b.path()})).endsWith(QLatin1String("not a regular file")));
    }

    void wholeRecordsOnly_data()
    {
        QTest::addColumn<int>("room"); // bytes the failing record may still take
        QTest::newRow("none") << 0;
        QTest::newRow("part of a record") << 10;
    }
    void wholeRecordsOnly()
    {
        QFETCH(int, room);
        QTemporaryDir tmp;
        const QString path = tmp.filePath(Recorder::FileName);
        Recorder rec;
        QVERIFY(!rec.open(path));
        QVERIFY(!rec.writeRecord(1000, P, R));
        QVERIFY(!rec.writeRecord(1000, P, R));
        const QByteArray before = contentOf(path);
        // Past a file size limit writes fail (EFBIG) as they do on a full
        // disk, after letting `room` bytes through. Nothing else may write
        // until the limit is lifted.
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
        QCOMPARE(contentOf(path), before);
        QCOMPARE(rec.RecCount, 2);
        QCOMPARE(rec.recordedMs(), 2000);
        QVERIFY(!rec.writeRecord(500, P, R));
        QCOMPARE(contentOf(path), before + Recorder::recordLine(2500, P, R).toUtf8());
    }

    void removedOrReplaced_data()
    {
        QTest::addColumn<bool>("replaced");
        QTest::newRow("removed") << false;
        QTest::newRow("replaced") << true;
    }
    void removedOrReplaced()
    {
        QFETCH(bool, replaced);
        QTemporaryDir tmp;
        const QString path = tmp.filePath(Recorder::FileName);
        Recorder rec;
        QVERIFY(!rec.open(path));
        QVERIFY(!rec.writeRecord(1000, P, R));
        QVERIFY(QFile::remove(path));
        if (replaced) {
            QVERIFY(makeEntry(QStringLiteral("regular"), QDir(tmp.path()), QStringLiteral("new"), "other"));
            QVERIFY(QFile::rename(tmp.filePath(QStringLiteral("new")), path));
        }
        QCOMPARE(rec.writeRecord(1000, P, R).value_or(QString()), QStringLiteral("the file was removed or replaced"));
        QCOMPARE(rec.RecCount, 1);
        QCOMPARE(contentOf(path), replaced ? QByteArray("other") : QByteArray("(none)"));
    }
};

QTEST_GUILESS_MAIN(TestFileSafety)
#include "tst_filesafety.moc"
