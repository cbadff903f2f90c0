// veltrak-logger: the sensor polled without a window, for a small computer
// left beside a sensor on site.
#include "core/coeffile.h"
#include "core/eventloop.h"
#include "core/stopsignals.h"
#include "logger/fieldlogger.h"
#include "logger/loggeroptions.h"
#include "logger/sitepublishing.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {
int usageError(const QString& text)
{
    std::fprintf(stderr, "veltrak-logger: %s\n(see veltrak-logger --help)\n", qPrintable(text));
    return loggerexit::BadOptions;
}
} // namespace

int main(int argc, char* argv[])
{
    const int stopSignals = stopsignals::install();
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
    if (stopSignals >= 0) {
        auto* notifier = new QSocketNotifier(stopSignals, QSocketNotifier::Read, &logger);
        QObject::connect(notifier, &QSocketNotifier::activated, &logger, [&logger] {
            stopsignals::take();
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
