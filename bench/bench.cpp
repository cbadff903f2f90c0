// SPDX-License-Identifier: GPL-3.0-or-later
// veltrak-bench: throughput, turnaround, CPU and memory of the program's
// poller, decoder and main window against the simulated sensor over a real
// pseudo-terminal, beside a bare QSerialPort ping-pong baseline.
#include "brokerfixture.h"
#include "core/eventloop.h"
#include "sim/simsensor.h"
#include "ui/calibrationmenu.h"
#include "ui/mainwindow.h"
#include "ui/recordingmenu.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct QuietPrompter : Prompter {
    QStringList answers;
    int messages = 0;

protected:
    void show(const QString&, Icon, const QString&) override { ++messages; }
    std::optional<QString> ask(const QString&, const QString&) override
    {
        if (answers.isEmpty())
            return std::nullopt;
        return answers.takeFirst();
    }
};

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double threadCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Times this thread went to sleep waiting (for the line, mostly).
long threadSleeps()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

double wallSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace

// Also the History benchmark's (historybench.cpp).
long rssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

void historyBench(); // historybench.cpp

namespace {
double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

// Readings per second over `ms`, and the main thread's CPU share.
struct Rate {
    double perSecond;
    double cpuShare;
    double sleepsPerReading = 0;
};

// The sensor's replies per second while `run` runs, and this thread's CPU
// share and sleeps per reply.
Rate measure(sim::SimSensor& sensor, const std::function<void()>& run)
{
    const std::size_t r0 = sensor.repliesSent();
    const long s0 = threadSleeps();
    const double c0 = threadCpuSeconds(), w0 = wallSeconds();
    run();
    const double c1 = threadCpuSeconds(), w1 = wallSeconds();
    const auto replies = double(sensor.repliesSent() - r0);
    return {replies / (w1 - w0), (c1 - c0) / (w1 - w0), replies > 0 ? double(threadSleeps() - s0) / replies : 0};
}

Rate measure(sim::SimSensor& sensor, int ms)
{
    return measure(sensor, [ms] { runFor(ms); });
}

// Time from the last byte of a reply leaving the sensor to the next command.
std::vector<double> turnaroundsUs(const std::vector<sim::LogEntry>& log)
{
    std::vector<double> out;
    std::int64_t replyEnd = -1;
    for (const auto& e : log) {
        if (!e.received && (e.byte == '\n' || e.byte == 'R')) {
            replyEnd = e.tNs;
        } else if (e.received && replyEnd >= 0 && e.byte >= 'A' && e.byte <= 'D') {
            out.push_back(double(e.tNs - replyEnd) / 1000.0);
            replyEnd = -1;
        }
    }
    return out;
}

// Command in -> last byte of its reply out, on the sensor's side.
std::vector<double> sensorSideUs(const std::vector<sim::LogEntry>& log)
{
    std::vector<double> out;
    std::int64_t cmdAt = -1;
    for (const auto& e : log) {
        if (e.received && e.byte >= 'B' && e.byte <= 'D') {
            cmdAt = e.tNs;
        } else if (!e.received && e.byte == '\n' && cmdAt >= 0) {
            out.push_back(double(e.tNs - cmdAt) / 1000.0);
            cmdAt = -1;
        }
    }
    return out;
}

// The least any client can do: poll, read, write the next letter once four
// bytes are in. No Qt, no event loop; it blocks the caller for `ms`.
Rate plainClient(sim::SimSensor& sensor, int ms)
{
    const int fd = ::open(sensor.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        qFatal("plain client: cannot open %s", sensor.devicePath().c_str());
    termios tio {};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    char buf[64];
    int have = 0;
    bool ok = ::write(fd, "B", 1) == 1;
    auto pumpUntil = [&](double end) {
        while (ok && wallSeconds() < end) {
            pollfd p {fd, POLLIN, 0};
            ::poll(&p, 1, 100);
            const ssize_t n = ::read(fd, buf, sizeof buf);
            have += n > 0 ? int(n) : 0;
            if (have >= 4) {
                have = 0;
                ok = ::write(fd, "B", 1) == 1;
            }
        }
    };
    pumpUntil(wallSeconds() + 0.3);
    const Rate rate = measure(sensor, [&] { pumpUntil(wallSeconds() + ms / 1000.0); });
    ::close(fd);
    return rate;
}

// What the rounds of one client collect.
struct Samples {
    std::vector<double> rate, cpu, sleeps, turnaround, sensorSide;
    void add(const Rate& r)
    {
        rate.push_back(r.perSecond);
        cpu.push_back(r.cpuShare);
        sleeps.push_back(r.sleepsPerReading);
    }
};

// A process's CPU seconds (user + system) and resident memory, from /proc.
double processCpuSeconds(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = all.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(all.substr(close + 2));
    std::string f;
    double ticks = 0;
    for (int i = 0; i < 13 && fields >> f; ++i) // utime and stime are the 12th and 13th after the name
        if (i >= 11)
            ticks += std::stod(f);
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

long processRssKiB(qint64 pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// veltrak-logger as the operator runs it, writing its CSV to a scratch file.
struct LoggerProcess {
    QTemporaryDir dir;
    QProcess process;
    LoggerProcess(const std::string& device, QStringList extra)
    {
        extra << "--device" << QString::fromStdString(device) << "--csv" << dir.filePath(QStringLiteral("log.csv"));
        process.setStandardErrorFile(QProcess::nullDevice()); // its event lines would mix with the figures
        process.start(QStringLiteral(VELTRAK_LOGGER), extra);
        if (!process.waitForStarted())
            qFatal("cannot start %s", VELTRAK_LOGGER);
    }
    ~LoggerProcess()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
    qint64 pid() const { return process.processId(); }
};

// One round of the logger against a fresh sensor: its readings per second
// and its CPU per wall second.
void loggerRound(const sim::SimOptions& o, int ms, Samples& out, const QStringList& extra = {})
{
    sim::SimSensor sensor(o);
    sensor.start();
    LoggerProcess logger(sensor.devicePath(), extra);
    runFor(600);
    const std::size_t r0 = sensor.repliesSent();
    const double c0 = processCpuSeconds(logger.pid()), w0 = wallSeconds();
    runFor(ms);
    const double c1 = processCpuSeconds(logger.pid()), w1 = wallSeconds();
    out.add({double(sensor.repliesSent() - r0) / (w1 - w0), (c1 - c0) / (w1 - w0)});
}

// The program: port dialog OK, model Z1, Start.
struct Program {
    QTemporaryDir dir;
    QuietPrompter prompter;
    std::unique_ptr<MainWindow> form;
    explicit Program(const std::string& device)
    {
        PortMap ports;
        ports.setDevice(4, QString::fromStdString(device));
        form = std::make_unique<MainWindow>(prompter, AppPaths(dir.path()), ports);
        form->setQuitAction([] {});
        form->startUp();
        form->portDialog()->findChild<QPushButton*>("OKButton")->click();
        form->calibration().chooseZ1();
        form->modelDialog()->findChild<QPushButton*>("Okbutton")->click();
        form->startPolling();
    }
};

// The baseline: write a letter, wait for its four-byte reply, repeat.
struct PingPong : QObject {
    QSerialPort port;
    QByteArray pending;
    explicit PingPong(const std::string& device)
    {
        port.setPortName(QString::fromStdString(device));
        if (!port.open(QIODevice::ReadWrite))
            qFatal("baseline: %s", qPrintable(port.errorString()));
        port.setBaudRate(19200);
        connect(&port, &QSerialPort::readyRead, this, [this] {
            pending += port.readAll();
            if (pending.size() >= 4) {
                pending.clear();
                port.write("B");
                port.flush();
            }
        });
        port.write("B");
        port.flush();
    }
};

// One round of the program against a fresh sensor: start-up chain, 300 ms to
// settle, then `ms` measured.
void programRound(const sim::SimOptions& o, int ms, Samples& out)
{
    sim::SimSensor sensor(o);
    sensor.start();
    Program p(sensor.devicePath());
    runFor(300);
    sensor.clearLog();
    out.add(measure(sensor, ms));
    const auto log = sensor.log();
    const auto t = turnaroundsUs(log);
    out.turnaround.insert(out.turnaround.end(), t.begin(), t.end());
    const auto side = sensorSideUs(log);
    out.sensorSide.insert(out.sensorSide.end(), side.begin(), side.end());
    p.form->closeProgram();
}

void baselineRound(const sim::SimOptions& o, int ms, Samples& out)
{
    sim::SimSensor sensor(o);
    sensor.start();
    PingPong pp(sensor.devicePath());
    runFor(300);
    sensor.clearLog();
    out.add(measure(sensor, ms));
    const auto t = turnaroundsUs(sensor.log());
    out.turnaround.insert(out.turnaround.end(), t.begin(), t.end());
}

sim::SimOptions quickSensor()
{
    sim::SimOptions o;
    o.motion = qgetenv("BENCH_STATIC").isEmpty();
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    // The figures and nothing else: the offscreen platform's notes (it cannot
    // raise a window, and so on) would bury them.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    qputenv(
        "QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    // The port dialog's OK keeps the choice: in a folder of the benchmark's
    // own, not in the user's settings.
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    int minutes = 1;
    int rounds = 5;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--minutes" && i + 1 < argc)
            minutes = std::max(0, std::atoi(argv[++i]));
        else if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--only" && i + 1 < argc)
            only = argv[++i];
        else {
            std::printf("Usage: veltrak-bench [--rounds N] [--minutes N] [--only "
                        "full|logger|paced|memory|logger-memory|history]\n");
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    qputenv("VELTRAK_MQTT_PASSWORD", BrokerFixture::Password); // for the loggers it starts
    preferLeanEventLoop(); // as the program does
    QApplication app(argc, argv);
    const long rssStart = rssKiB();
    std::printf("veltrak-bench: %d rounds of 2 s each, long run %d min\n\n", rounds, minutes);

    auto wanted = [&only](const char* part) { return only.empty() || only == part; };

    // 1. Full speed: the program, then the baseline, against a sensor that answers at once.
    Samples prog, base;
    for (int r = 0; r < rounds && wanted("full"); ++r) {
        programRound(quickSensor(), 2000, prog);
        baselineRound(quickSensor(), 2000, base);
    }
    if (wanted("full")) {
        const double progMed = median(prog.rate), baseMed = median(base.rate);
        std::printf("Readings per second, sensor answering at once:\n");
        std::printf("  program   %10.0f\n  baseline  %10.0f\n  ratio     %10.2f   (target >= 0.5)\n\n", progMed,
            baseMed, baseMed > 0 ? progMed / baseMed : 0.0);
        // Absolute microseconds move with the load of the machine; the
        // ratios to the baseline, measured the same way in the same rounds,
        // do not.
        const double pm = median(prog.turnaround), pp99 = percentile(prog.turnaround, 0.99);
        const double bm = median(base.turnaround), bp99 = percentile(base.turnaround, 0.99);
        std::printf("Turnaround, last reply byte out of the sensor -> next command in:\n");
        std::printf("  program   median %8.1f us   p99 %8.1f us   (%zu samples)\n", pm, pp99, prog.turnaround.size());
        std::printf("  baseline  median %8.1f us   p99 %8.1f us   (%zu samples)\n", bm, bp99, base.turnaround.size());
        std::printf(
            "  program/baseline: median %.2f, p99 %.2f\n\n", bm > 0 ? pm / bm : 0.0, bp99 > 0 ? pp99 / bp99 : 0.0);
    }

    // 1b. The logger at full speed, publishing off and on (to a broker of
    // its own on 127.0.0.1), in the same rounds.
    if (wanted("logger")) {
        BrokerFixture broker;
        const bool brokerUp = broker.start();
        Samples off, on;
        const QStringList mqtt = {"--mqtt", QStringLiteral("127.0.0.1:%1").arg(broker.port()), "--mqtt-user",
            BrokerFixture::User, "--mqtt-insecure", "--interval", "100"};
        for (int r = 0; r < rounds; ++r) {
            loggerRound(quickSensor(), 2000, off, {"--interval", "100"});
            if (brokerUp)
                loggerRound(quickSensor(), 2000, on, mqtt);
        }
        std::printf("The logger at full speed, recording and publishing every 100 ms:\n");
        std::printf("  publishing off  %10.0f readings/s   CPU %6.1f %%\n", median(off.rate), 100.0 * median(off.cpu));
        if (brokerUp)
            std::printf("  publishing on   %10.0f readings/s   CPU %6.1f %%   (ratio %.2f)\n\n", median(on.rate),
                100.0 * median(on.cpu), median(off.rate) > 0 ? median(on.rate) / median(off.rate) : 0.0);
        else
            std::printf("  publishing on   (no mosquitto here)\n\n");
    }

    // 2. Paced at 19200 baud: one command byte plus a four-byte reply per reading.
    // Each round measures the program, the QSerialPort baseline and a plain
    // poll/read/write client one after the other, so that all three see the
    // same state of the machine; the plain client shows what the pseudo-
    // terminal and the scheduler allow at all.
    if (wanted("paced")) {
        sim::SimOptions o = quickSensor();
        o.baud = 19200;
        Samples paced, pacedBase, plain, logger, sampling;
        for (int r = 0; r < rounds; ++r) {
            programRound(o, 2000, paced);
            baselineRound(o, 2000, pacedBase);
            loggerRound(o, 2000, logger);
            loggerRound(o, 4000, sampling, {"--sample-every", "1s"});
            sim::SimSensor sensor(o);
            sensor.start();
            plain.add(plainClient(sensor, 2000));
        }
        const double ceiling = 19200.0 / 10.0 / 5.0;
        std::printf("Paced at 19200 baud (the line's ceiling is %.0f readings/s):\n", ceiling);
        std::printf(
            "  program        %7.1f readings/s = %5.1f %%   (target >= 97 %%)   CPU %5.2f %%   (target < 5 %%)\n",
            median(paced.rate), 100.0 * median(paced.rate) / ceiling, 100.0 * median(paced.cpu));
        std::printf("  baseline       %7.1f readings/s = %5.1f %%                      CPU %5.2f %%\n",
            median(pacedBase.rate), 100.0 * median(pacedBase.rate) / ceiling, 100.0 * median(pacedBase.cpu));
        std::printf("  logger         %7.1f readings/s = %5.1f %%                      CPU %5.2f %%   (process)\n",
            median(logger.rate), 100.0 * median(logger.rate) / ceiling, 100.0 * median(logger.cpu));
        if (median(sampling.cpu) > 0)
            std::printf("  logger, a sample every 1 s: %4.1f readings/s, CPU %5.3f %% (%.0f times less than polling "
                        "continuously)\n",
                median(sampling.rate), 100.0 * median(sampling.cpu), median(logger.cpu) / median(sampling.cpu));
        else // less than one clock tick of CPU time in the 4 s round
            std::printf("  logger, a sample every 1 s: %4.1f readings/s, CPU < 0.25 %% (under one clock tick)\n",
                median(sampling.rate));
        std::printf("  plain syscalls %7.1f readings/s = %5.1f %%                      CPU %5.2f %%\n",
            median(plain.rate), 100.0 * median(plain.rate) / ceiling, 100.0 * median(plain.cpu));
        std::printf("  logger/plain: readings %.3f (target >= 0.99), CPU %.2f (target <= 1.5)\n",
            median(plain.rate) > 0 ? median(logger.rate) / median(plain.rate) : 0.0,
            median(plain.cpu) > 0 ? median(logger.cpu) / median(plain.cpu) : 0.0);
        std::printf("  program/plain: CPU %.2f (target <= 1.3)\n",
            median(plain.cpu) > 0 ? median(paced.cpu) / median(plain.cpu) : 0.0);
        std::printf("  waits for the line per reading: program %.2f, baseline %.2f, plain %.2f\n", median(paced.sleeps),
            median(pacedBase.sleeps), median(plain.sleeps));
        std::printf("  program turnaround: median %.1f us, p99 %.1f us; sensor side (command in -> last byte out): "
                    "median %.1f us, ideal %.1f us\n\n",
            median(paced.turnaround), percentile(paced.turnaround, 0.99), median(paced.sensorSide), 1e6 / ceiling);

        // 3. Silent sensor: only the watchdog's "A" once a second.
        sim::SimSensor sensor(o);
        sensor.start();
        Program p(sensor.devicePath());
        runFor(300);
        sensor.setSilent(true);
        runFor(1500);
        const double c0 = threadCpuSeconds(), w0 = wallSeconds();
        runFor(rounds * 2000);
        const double silentCpu = (threadCpuSeconds() - c0) / (wallSeconds() - w0);
        // The device vanishes: one failure, then the program idles.
        sensor.stop();
        runFor(1500);
        const double c1 = threadCpuSeconds(), w1 = wallSeconds();
        runFor(rounds * 2000);
        const double vanishedCpu = (threadCpuSeconds() - c1) / (wallSeconds() - w1);
        std::printf("CPU time of the program per second of wall time (GUI thread):\n");
        if (!prog.cpu.empty())
            std::printf("  full speed     %7.2f %%\n", 100.0 * median(prog.cpu));
        std::printf("  paced sensor   %7.2f %%   (target < 5 %%)\n  silent sensor  %7.3f %%   (target < 0.5 %%)\n",
            100.0 * median(paced.cpu), 100.0 * silentCpu);
        std::printf("  device gone    %7.3f %%   (target < 0.5 %%)\n\n", 100.0 * vanishedCpu);
        p.form->closeProgram();
    }

    // 4. Memory over a long run at full speed, recording every 100 ms, chart open.
    long windowRss = -1;
    if (wanted("memory") && only.empty()) {
        // The window's memory in a process of its own: what the sections
        // above left in this one's heap (their logs, freed but kept by the
        // allocator) is not the window's. The child prints the figures.
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(
            QCoreApplication::applicationFilePath(), {"--only", "memory", "--minutes", QString::number(minutes)});
        child.waitForFinished(-1);
        const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
        std::fputs(qPrintable(out.section(QLatin1Char('\n'), 2)), stdout);
        const QRegularExpression more(QStringLiteral("more (\\d+): growth"));
        windowRss = more.match(out).captured(1).toLong();
    } else if (wanted("memory")) {
        sim::SimOptions o = quickSensor();
        o.keepLog = false;
        sim::SimSensor sensor(o);
        sensor.start();
        Program p(sensor.devicePath());
        p.prompter.answers = {QStringLiteral("100")};
        p.form->recording().askInterval();
        p.form->recording().toggleRecording();
        if (qgetenv("BENCH_NO_CHART").isEmpty())
            p.form->openTrendChart();
        // Warm up until the chart's default 60 s window has filled: from then
        // on nothing should grow with run time.
        runFor(65'000);
        const long rssWarm = rssKiB();
        const std::size_t r0 = sensor.repliesSent();
        for (int m = 0; m < minutes; ++m) {
            runFor(60'000);
            std::printf("  after minute %d: %ld KiB\n", m + 1, rssKiB());
            std::fflush(stdout);
        }
        const long rssEnd = rssKiB();
        std::printf(
            "Resident memory (KiB): at start %ld, after a 65 s warm-up %ld, after %d min more %ld: growth %ld KiB"
            "   (target < 1024 over 10 min)\n",
            rssStart, rssWarm, minutes, rssEnd, rssEnd - rssWarm);
        std::printf(
            "  window: %.1f MB, %.2f of the 50 MB allowed\n", double(rssEnd) / 1024.0, double(rssEnd) / 1024.0 / 50.0);
        std::printf("  (%zu readings, %lld records in the long run)\n\n", sensor.repliesSent() - r0,
            static_cast<long long>(p.form->recording().recorder().recordCount));
        windowRss = rssEnd;
        p.form->closeProgram();
    }

    // 5. The logger's memory over a long run at full speed, recording and
    // publishing every 100 ms to a broker that is stopped after the warm-up:
    // what waits for it must stay bounded.
    if (wanted("logger-memory")) {
        BrokerFixture broker;
        const bool brokerUp = broker.start();
        sim::SimOptions o = quickSensor();
        o.keepLog = false;
        sim::SimSensor sensor(o);
        sensor.start();
        // A queue that fills within the warm-up: from then on its bound
        // shows (the default 10 000 takes 17 minutes at 10 messages a second).
        QStringList args = {"--interval", "100", "--queue-size", "500"};
        if (brokerUp)
            args << "--mqtt" << QStringLiteral("127.0.0.1:%1").arg(broker.port()) << "--mqtt-user"
                 << BrokerFixture::User << "--mqtt-insecure";
        LoggerProcess logger(sensor.devicePath(), args);
        runFor(5000);
        broker.stop();
        runFor(60'000);
        const long warm = processRssKiB(logger.pid());
        for (int m = 0; m < minutes; ++m) {
            runFor(60'000);
            std::printf("  logger after minute %d: %ld KiB\n", m + 1, processRssKiB(logger.pid()));
            std::fflush(stdout);
        }
        const long end = processRssKiB(logger.pid());
        std::printf("Logger resident memory (KiB), broker %s: after warm-up %ld, after %d min more %ld: growth %ld KiB"
                    "   (target < 1024)\n",
            brokerUp ? "stopped" : "absent", warm, minutes, end, end - warm);
        if (windowRss > 0)
            std::printf("  logger/window: %.2f   (target < 0.5)\n", double(end) / double(windowRss));
    }
    if (wanted("history"))
        historyBench();
    return 0;
}
