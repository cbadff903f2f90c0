// The simulated sensor on its own, through the device it creates.
#include "sim/simsensor.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <set>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
// A client end of the line, in raw mode, as the program opens it.
struct Client {
    int fd = -1;
    explicit Client(const std::string& path)
    {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t {};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    ~Client() { ::close(fd); }
    void send(const char* s) { QVERIFY(::write(fd, s, std::strlen(s)) == ssize_t(std::strlen(s))); }
    // Reads until `count` bytes arrived or `ms` passed; also counts the reads.
    std::string read(std::size_t count, int ms, int* reads = nullptr)
    {
        std::string got;
        QElapsedTimer t;
        t.start();
        while (got.size() < count && t.elapsed() < ms) {
            pollfd p {fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                char buf[64];
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0) {
                    got.append(buf, std::size_t(n));
                    if (reads)
                        ++*reads;
                }
            }
        }
        return got;
    }
};

// One command on a fresh client end; optionally counts the reads and the
// milliseconds until the answer was in.
std::string exchange(sim::SimSensor& s, const char* command, std::size_t expect, int ms = 1000, int* reads = nullptr,
    qint64* took = nullptr)
{
    Client c(s.devicePath());
    QElapsedTimer t;
    t.start();
    c.send(command);
    std::string got = c.read(expect, ms, reads);
    if (took)
        *took = t.elapsed();
    return got;
}
} // namespace

class TestSimulator : public QObject {
    Q_OBJECT
private slots:
    void answersCommands();
    void motionAndSeed();
    void latencySplitAndPace();
    void silenceWrongAnswersAndGarbage();
    void linkAndLog();
};

void TestSimulator::answersCommands()
{
    sim::SimOptions o;
    o.pitch = 0x8FB;
    o.roll = 0x7FF;
    sim::SimSensor s(o);
    QVERIFY(s.start());
    QCOMPARE(exchange(s, "A", 1), std::string("R"));
    QCOMPARE(exchange(s, "B", 4), std::string("8FB\n"));
    QCOMPARE(exchange(s, "C", 4), std::string("7FF\n"));
    QCOMPARE(exchange(s, "D", 4), std::string("09E\n"));
    QCOMPARE(exchange(s, "F00000000", 1, 200), std::string()); // the initialisation gets no answer
    QCOMPARE(exchange(s, "BCD", 12), std::string("8FB\n7FF\n09E\n"));
    s.setCounts(0x123, 0xFFF, 0x0A0);
    QCOMPARE(exchange(s, "BCD", 12), std::string("123\nFFF\n0A0\n"));
    QCOMPARE(sim::SimSensor::countReply(5000), std::string("FFF\n"));
    QCOMPARE(sim::SimSensor::countReply(-3), std::string("000\n"));
    s.setUnanswered("C");
    QCOMPARE(exchange(s, "C", 4, 200), std::string());
    QVERIFY(s.received().find("F00000000") != std::string::npos);
}

void TestSimulator::motionAndSeed()
{
    sim::SimOptions o;
    o.motion = true;
    o.motionPeriodS = 0.4;
    sim::SimSensor s(o);
    QVERIFY(s.start());
    Client c(s.devicePath());
    std::set<std::string> seen;
    for (int i = 0; i < 8; ++i) {
        c.send("B");
        const std::string r = c.read(4, 500);
        QCOMPARE(r.size(), std::size_t(4));
        const int count = std::stoi(r.substr(0, 3), nullptr, 16);
        QVERIFY(std::abs(count - 2048) <= 300);
        seen.insert(r);
        QTest::qWait(50);
    }
    QVERIFY(seen.size() >= 3); // it moves

    // The same seed gives the same wrong answers and garbage.
    auto run = [](unsigned seed) {
        sim::SimOptions g;
        g.seed = seed;
        g.badAnswerToA = 0.5;
        g.garbage = 0.5;
        sim::SimSensor x(g);
        if (!x.start())
            return std::string("no start");
        Client cl(x.devicePath());
        std::string all;
        for (int i = 0; i < 10; ++i) {
            cl.send(i % 2 ? "A" : "B");
            all += cl.read(i % 2 ? 1 : 4, 300) + "|";
            QTest::qWait(20);
            all += cl.read(16, 30);
        }
        return all;
    };
    QCOMPARE(run(7), run(7));
}

void TestSimulator::latencySplitAndPace()
{
    sim::SimOptions late;
    late.latencyUs = 150'000;
    sim::SimSensor l(late);
    QVERIFY(l.start());
    qint64 took = 0;
    QCOMPARE(exchange(l, "B", 4, 1000, nullptr, &took), std::string("800\n"));
    QVERIFY(took >= 140);

    sim::SimOptions split;
    split.splitPieces = 3;
    split.splitGapUs = 40'000;
    sim::SimSensor sp(split);
    QVERIFY(sp.start());
    int reads = 0;
    QCOMPARE(exchange(sp, "B", 4, 1000, &reads), std::string("800\n"));
    QCOMPARE(reads, 3);

    sim::SimOptions paced;
    paced.baud = 1200; // slow enough to measure: 8.3 ms a character
    sim::SimSensor p(paced);
    QVERIFY(p.start());
    QCOMPARE(exchange(p, "BCD", 12, 2000, nullptr, &took), std::string("800\n800\n09E\n"));
    QVERIFY(took >= 100); // 15 characters at 8.3 ms
    const auto log = p.log();
    std::int64_t firstTx = -1, lastTx = -1;
    for (const auto& e : log) {
        if (!e.received) {
            if (firstTx < 0)
                firstTx = e.tNs;
            lastTx = e.tNs;
        }
    }
    QVERIFY(lastTx - firstTx >= 11 * 8'000'000LL);
}

void TestSimulator::silenceWrongAnswersAndGarbage()
{
    sim::SimOptions quiet;
    quiet.silenceEveryMs = 300;
    quiet.silenceForMs = 300;
    sim::SimSensor q(quiet);
    QVERIFY(q.start());
    {
        Client c(q.devicePath());
        c.send("B");
        QCOMPARE(c.read(4, 200), std::string("800\n"));
        QTest::qWait(350); // inside the silence
        c.send("B");
        QCOMPARE(c.read(4, 150), std::string());
        q.setSilent(false);
        QTest::qWait(300);
        c.send("B");
        QCOMPARE(c.read(4, 200), std::string("800\n"));
        q.setSilent(true);
        c.send("B");
        QCOMPARE(c.read(4, 150), std::string());
    }

    sim::SimOptions bad;
    bad.badAnswerToA = 1.0;
    bad.garbage = 1.0;
    sim::SimSensor b(bad);
    QVERIFY(b.start());
    {
        Client c(b.devicePath());
        for (int i = 0; i < 5; ++i) {
            c.send("A");
            QTest::qWait(30);
            const std::string r = c.read(8, 100);
            QVERIFY2(r != "R" && !r.empty(), r.c_str());
        }
        c.send("B");
        QTest::qWait(30);
        const std::string r = c.read(16, 100);
        QVERIFY(r.size() > 4);
        QCOMPARE(r.substr(r.size() - 4), std::string("800\n"));
    }
}

void TestSimulator::linkAndLog()
{
    QTemporaryDir dir;
    sim::SimOptions o;
    o.linkPath = dir.filePath(QStringLiteral("dev")).toStdString();
    o.logPath = dir.filePath(QStringLiteral("log.txt")).toStdString();
    {
        sim::SimSensor s(o);
        QVERIFY(s.start());
        QVERIFY(QFileInfo(QString::fromStdString(o.linkPath)).isSymLink());
        QCOMPARE(exchange(s, "A", 1), std::string("R"));
        s.stop();
        QVERIFY(!QFileInfo::exists(QString::fromStdString(o.linkPath))); // the device vanished
    }
    QFile log(QString::fromStdString(o.logPath));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].endsWith(" rx 41"));
    QVERIFY(lines[1].endsWith(" tx 52"));
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
