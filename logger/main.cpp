// SPDX-License-Identifier: GPL-3.0-or-later
// veltrak-logger: the sensor polled without a window, for a small computer
// left beside a sensor on site.
#include "core/coeffile.h"
#include "core/eventloop.h"
#include "core/stopsignals.h"
#include "link/portlist.h"
#include "logger/eventlog.h"
#include "logger/fieldlogger.h"
#include "logger/loggeroptions.h"
#include "logger/sitepublishing.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {
const char* signalName(int signalNumber)
{
    return signalNumber == SIGTERM ? "TERM" : signalNumber == SIGINT ? "INT" : "?";
}

// Descriptors 0 to 2 that were closed at the start (>&- in a shell) are
// opened on the null device before anything else is opened: otherwise the
// first file or socket the logger opens would take the number, and rows or
// event lines would go into it. Which were closed, by bit.
int makeStandardStreamsValid()
{
    int closed = 0;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        closed |= 1 << fd;
        const int null = ::open("/dev/null", O_RDWR); // the lowest free number: this one
        if (null >= 0 && null != fd)
            ::close(null);
    }
    return closed;
}

int usageError(const QString& text)
{
    std::fprintf(stderr, "veltrak-logger: %s\n(see veltrak-logger --help)\n", qPrintable(text));
    return loggerexit::BadOptions;
}

// --forget: every retained message this sensor leaves on the broker is
// replaced by an empty one, which removes it (and a Home Assistant entity
// with its configuration). Waits for the broker at most `waitMs`.
int forgetSensor(Publisher::Settings settings, const QString& discoveryPrefix, int waitMs)
{
    settings.presence = false; // no "offline" left behind either
    Publisher publisher(settings);
    discovery::Site site;
    site.discoveryPrefix = discoveryPrefix.isEmpty() ? QStringLiteral("homeassistant") : discoveryPrefix;
    site.topicPrefix = settings.topicPrefix;
    site.sensorId = settings.sensorId;
    const QList<discovery::Config> removals = discovery::removals(site, true);
    for (const discovery::Config& config : removals)
        publisher.publishEventTo(config.topic, QByteArray(), 1, true);
    const char* leaves[] = {"reading", "alarm/state", "sensor", "status"};
    for (const char* leaf : leaves)
        publisher.publishEvent(leaf, QByteArray(), 1, true);
    QString lastReason = QStringLiteral("no answer");
    QObject::connect(&publisher, &Publisher::disconnected, [&lastReason](const QString& r) { lastReason = r; });
    QObject::connect(&publisher, &Publisher::connected, [] { QCoreApplication::exit(loggerexit::Clean); });
    QTimer::singleShot(waitMs, [] { QCoreApplication::exit(loggerexit::Failure); });
    if (const auto error = publisher.start())
        return usageError(QStringLiteral("--mqtt: %1").arg(*error));
    const bool reached = QCoreApplication::exec() == loggerexit::Clean;
    publisher.stop(waitMs); // sends what is queued while connected
    const Publisher::Counters c = publisher.counters();
    const qsizetype cleared = removals.size() + qsizetype(std::size(leaves));
    if (!reached || c.published < quint64(cleared)) {
        std::fprintf(stderr, "veltrak-logger: --forget: %s:%d: %s\n", qPrintable(settings.host), settings.port,
            qPrintable(reached ? QStringLiteral("the broker did not confirm every message") : lastReason));
        return loggerexit::Failure;
    }
    std::printf("sensor %s forgotten on %s:%d: %lld retained topics cleared\n", qPrintable(settings.sensorId),
        qPrintable(settings.host), settings.port, static_cast<long long>(cleared));
    return loggerexit::Clean;
}
} // namespace

int main(int argc, char* argv[])
{
    const int closedStreams = makeStandardStreamsValid();
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
    if (options.listPorts) {
        QCoreApplication app(argc, argv);
        std::fputs(qPrintable(serialDevicesText()), stdout);
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

    // A reference zero given but malformed, of another model, or in a place
    // it cannot be written to stops here, before anything is sent; a missing
    // one is taken from the first interval.
    std::optional<Reference> storedReference;
    if (!options.referenceFile.isEmpty()) {
        QList<std::pair<QString, QString>> outputs;
        if (!options.csvPath.isEmpty() && options.csvPath != loggeroptions::StandardOutput)
            outputs.append({QStringLiteral("--csv"), options.csvPath});
        if (!options.kvddtPath.isEmpty())
            outputs.append({QStringLiteral("--kvddt"), options.kvddtPath});
        for (const auto& [option, path] : {std::pair {QStringLiteral("--coefficients"), options.coefficientsFile},
                 {QStringLiteral("--config"), options.configFile}, {QStringLiteral("--device"), options.device}})
            if (!path.isEmpty())
                outputs.append({option, path});
        if (const auto error = reference::checkPlace(options.referenceFile, outputs))
            return usageError(*error);
        const auto read = reference::read(options.referenceFile, loggeroptions::modelName(options), calibration);
        if (const QString* error = std::get_if<QString>(&read))
            return usageError(*error);
        if (const auto* found = std::get_if<Reference>(&read))
            storedReference = *found;
    }

    std::optional<Publisher::Settings> broker;
    QStringList warnings;
    if (!options.mqtt.host.isEmpty()) {
        auto settings = SitePublishing::settingsFrom(options, &warnings);
        if (const auto* error = std::get_if<QString>(&settings))
            return usageError(*error);
        broker = std::get<Publisher::Settings>(settings);
    }

    if ((closedStreams & (1 << STDOUT_FILENO)) && options.csvPath == loggeroptions::StandardOutput) {
        std::fprintf(stderr, "veltrak-logger: cannot start: standard output: %s\n", std::strerror(EBADF));
        return loggerexit::Failure;
    }

    preferLeanEventLoop();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veltrak-logger"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELTRAK_VERSION));
    if (options.forget)
        return forgetSensor(*broker, options.mqtt.haDiscovery, 10'000);

    EventLog log;
    log.takeQtMessages();
    FieldLogger logger(options, calibration, log, storedReference);
    for (const QString& warning : std::as_const(warnings))
        log.report(EventLog::Priority::Warning, QStringLiteral("warning: ") + warning);
    std::unique_ptr<SitePublishing> publishing;
    if (broker) {
        publishing = std::make_unique<SitePublishing>(*broker, options.mqtt.publishIntervalMs, logger, log);
        if (!options.mqtt.haDiscovery.isEmpty()) {
            discovery::Site site;
            site.discoveryPrefix = options.mqtt.haDiscovery;
            site.topicPrefix = broker->topicPrefix;
            site.sensorId = broker->sensorId;
            site.model = options.model ? loggeroptions::modelName(*options.model) : QStringLiteral("custom");
            site.degrees = calibration.anglesInDegrees();
            site.withChange = !options.referenceFile.isEmpty();
            site.pitchAlarm = logger.alarmState(AlarmAxis::Pitch) != QLatin1String("off");
            site.rollAlarm = logger.alarmState(AlarmAxis::Roll) != QLatin1String("off");
            // A reading not renewed in three of its periods is old: unknown,
            // not shown as current.
            site.expireAfterS = int((3LL * options.mqtt.publishIntervalMs.value_or(options.intervalMs) + 999) / 1000);
            publishing->setDiscovery(site);
        }
        if (const auto error = publishing->start())
            return usageError(QStringLiteral("--mqtt: %1").arg(*error));
    }
    log.addStatusSource([&logger] { return logger.statusText(); });
    if (publishing)
        log.addStatusSource([&publishing] { return publishing->statusText(); });
    else
        log.addStatusSource([] { return QStringLiteral("broker off"); });
    QObject::connect(&logger, &FieldLogger::finished, &app, [&publishing](int code) {
        if (publishing)
            publishing->stop(); // "offline" before the exit
        QCoreApplication::exit(code);
    });
    if (stopSignals >= 0) {
        auto* notifier = new QSocketNotifier(stopSignals, QSocketNotifier::Read, &logger);
        QObject::connect(notifier, &QSocketNotifier::activated, &logger, [&logger, &log] {
            switch (const int signalNumber = stopsignals::take()) {
            case SIGHUP: // logrotate has moved the files away
                logger.reopenFiles();
                break;
            case SIGUSR1:
                log.reportStatus();
                break;
            case 0:
                break;
            default:
                logger.stop(
                    loggerexit::Clean, QStringLiteral("signal %1").arg(QString::fromLatin1(signalName(signalNumber))));
            }
        });
    }
    if (options.durationMs) {
        // A timer holds at most 24 days in ms: a longer run waits in steps
        // of a day towards its deadline on the steady clock.
        auto* duration = new QTimer(&logger);
        duration->setSingleShot(true);
        duration->setTimerType(Qt::PreciseTimer);
        const QDeadlineTimer deadline(*options.durationMs, Qt::PreciseTimer);
        auto arm = [duration, deadline] {
            duration->start(int(std::min<qint64>(deadline.remainingTime(), 24LL * 3600 * 1000)));
        };
        QObject::connect(duration, &QTimer::timeout, &logger, [&logger, deadline, arm] {
            if (!deadline.hasExpired())
                return arm();
            logger.stop(loggerexit::Clean, QStringLiteral("duration reached"));
        });
        arm();
    }
    if (const auto error = logger.start(publishing ? publishing->describe() : QString())) {
        log.report(EventLog::Priority::Error, QStringLiteral("cannot start: %1").arg(*error));
        return loggerexit::Failure;
    }
    return QCoreApplication::exec();
}
