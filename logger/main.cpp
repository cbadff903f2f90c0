// veltrak-logger: the sensor polled without a window, for a small computer
// left beside a sensor on site.
#include "core/coeffile.h"
#include "core/eventloop.h"
#include "logger/fieldlogger.h"
#include "logger/loggeroptions.h"
#include "logger/sitepublishing.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

void catchStopSignals()
{
    ::signal(SIGPIPE, SIG_IGN); // a closed stdout or stderr is a failed write, not death
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    struct sigaction sa { };
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}

int usageError(const QString& text)
{
    std::fprintf(stderr, "veltrak-logger: %s\n(see veltrak-logger --help)\n", qPrintable(text));
    return loggerexit::BadOptions;
}
} // namespace

int main(int argc, char* argv[])
{
    catchStopSignals();
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const auto parsed = loggeroptions::parse(args);
    if (const auto* error = std::get_if<QString>(&parsed))
        return usageError(*error);
    const auto& options = std::get<LoggerOptions>(parsed);
    if (options.help) {
        std::fputs(qPrintable(loggeroptions::usageText()), stdout);
        return loggerexit::Clean;
    }
    if (options.version) {
        std::printf("veltrak-logger %s\n", VELTRAK_VERSION);
        return loggerexit::Clean;
    }

    // The calibration is settled before anything is sent: all or nothing.
    Calibration calibration;
    if (options.model) {
        calibration.coefficients = presetFor(*options.model);
        calibration.counts = *options.model == Model::Raw;
    } else {
        const auto loaded = coeffile::readFile(options.coefficientsFile);
        if (const auto* error = std::get_if<coeffile::LoadError>(&loaded))
            return usageError(
                QStringLiteral("--coefficients: %1: %2")
                    .arg(options.coefficientsFile,
                        error->failure == coeffile::Failure::Open ? error->detail
                                                                  : QStringLiteral("wrong format, ") + error->detail));
        calibration.coefficients = std::get<Coefficients>(loaded);
    }

    std::optional<Publisher::Settings> broker;
    if (!options.mqtt.host.isEmpty()) {
        auto settings = SitePublishing::settingsFrom(options);
        if (const auto* error = std::get_if<QString>(&settings))
            return usageError(*error);
        broker = std::get<Publisher::Settings>(settings);
    }

    preferLeanEventLoop();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veltrak-logger"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELTRAK_VERSION));

    FieldLogger logger(options, calibration);
    std::unique_ptr<SitePublishing> publishing;
    if (broker) {
        publishing = std::make_unique<SitePublishing>(*broker, options.mqtt.publishIntervalMs, logger);
        if (const auto error = publishing->start())
            return usageError(QStringLiteral("--mqtt: %1").arg(*error));
    }
    QObject::connect(&logger, &FieldLogger::finished, &app, [&publishing](int code) {
        if (publishing)
            publishing->stop(); // "offline" before the exit
        QCoreApplication::exit(code);
    });
    if (signalPipe[0] >= 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &logger);
        QObject::connect(notifier, &QSocketNotifier::activated, &logger, [&logger] {
            char c;
            [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
            logger.stop(loggerexit::Clean, QStringLiteral("signal"));
        });
    }
    if (options.durationS) {
        QTimer::singleShot(std::chrono::milliseconds(qint64(*options.durationS * 1000.0)), &logger,
            [&logger] { logger.stop(loggerexit::Clean, QStringLiteral("duration reached")); });
    }
    if (const auto error = logger.start()) {
        logger.event(QStringLiteral("cannot start: %1").arg(*error));
        return loggerexit::Failure;
    }
    return QCoreApplication::exec();
}
