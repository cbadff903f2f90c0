#include "logger/sitepublishing.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QSysInfo>
#include <QTimer>

#include <cmath>

namespace {
// A topic level may not hold these.
QString topicSafe(QString text)
{
    for (QChar& c : text)
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#'))
            c = QLatin1Char('_');
    return text;
}

QJsonValue number(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}
} // namespace

std::variant<Publisher::Settings, QString> SitePublishing::settingsFrom(const LoggerOptions& options)
{
    const MqttOptions& m = options.mqtt;
    Publisher::Settings s;
    s.host = m.host;
    s.port = m.port.value_or(m.caFile.isEmpty() ? 1883 : 8883);
    s.sensorId = topicSafe(m.sensorId.isEmpty()
            ? QSysInfo::machineHostName() + QLatin1Char('-') + QFileInfo(options.device).fileName()
            : m.sensorId);
    s.topicPrefix = m.topicPrefix;
    s.qos = m.qos;
    s.queueSize = m.queueSize;
    s.user = m.user;
    s.caFile = m.caFile;
    s.insecure = m.insecure;
    if (!m.passwordFile.isEmpty()) {
        QFile f(m.passwordFile);
        if (!f.open(QIODevice::ReadOnly))
            return QStringLiteral("--mqtt-password-file: %1: %2").arg(m.passwordFile, f.errorString());
        s.password = QString::fromUtf8(f.readLine(4096)).trimmed();
    } else {
        s.password = qEnvironmentVariable("VELTRAK_MQTT_PASSWORD");
    }
    if (!s.password.isEmpty() && s.user.isEmpty())
        return QStringLiteral("--mqtt-user: a password is given but no user name");
    if (const auto error = Publisher::checkSecurity(s))
        return *error;
    return s;
}

SitePublishing::SitePublishing(
    const Publisher::Settings& settings, std::optional<int> intervalMs, FieldLogger& logger, QObject* parent)
    : QObject(parent), m_logger(logger), m_publisher(std::make_unique<Publisher>(settings))
{
    if (intervalMs) {
        // Its own pace: the freshest row at each tick.
        m_tick = new QTimer(this);
        m_tick->setInterval(*intervalMs);
        connect(m_tick, &QTimer::timeout, this, [this] {
            if (const auto record = m_logger.currentRecord())
                m_publisher->publishReading(readingJson(*record));
        });
    } else {
        connect(&logger, &FieldLogger::rowWritten, this,
            [this](const csvlog::Record& record) { m_publisher->publishReading(readingJson(record)); });
    }
    connect(&logger, &FieldLogger::alarmChanged, this,
        [this](qint64 wallMs, const AlarmTransition& t) { m_publisher->publishAlarm(alarmJson(wallMs, t)); });
    const QString broker = QStringLiteral("%1:%2").arg(settings.host).arg(settings.port);
    connect(m_publisher.get(), &Publisher::connectionChanged, this,
        [this, broker](bool up, quint64 dropped, const QString& reason) {
            if (up)
                m_logger.event(
                    QStringLiteral("broker connected: %1 (%2 messages dropped while away)").arg(broker).arg(dropped));
            else
                m_logger.event(
                    QStringLiteral("broker lost: %1: %2 (%3 messages dropped)").arg(broker, reason).arg(dropped));
        });
    connect(m_publisher.get(), &Publisher::authenticationFailed, this,
        [this, broker](const QString& reason) { m_logger.event(QStringLiteral("broker %1: %2").arg(broker, reason)); });
}

std::optional<QString> SitePublishing::start()
{
    if (auto error = m_publisher->start())
        return error;
    if (m_tick)
        m_tick->start();
    return std::nullopt;
}

void SitePublishing::stop()
{
    if (m_tick)
        m_tick->stop();
    m_publisher->stop();
}

QJsonObject SitePublishing::readingJson(const csvlog::Record& r)
{
    return QJsonObject {{QStringLiteral("time"), alarmcsv::isoUtc(r.wallMsUtc)},
        {QStringLiteral("elapsed"), std::round(r.elapsedS * 1000.0) / 1000.0},
        {QStringLiteral("pitch"), number(r.pitch)}, {QStringLiteral("roll"), number(r.roll)},
        {QStringLiteral("temperature"), number(r.temperature)}, {QStringLiteral("unit"), r.unit},
        {QStringLiteral("alarm"), r.alarm}};
}

QJsonObject SitePublishing::alarmJson(qint64 wallMs, const AlarmTransition& t)
{
    return QJsonObject {{QStringLiteral("time"), alarmcsv::isoUtc(wallMs)}, {QStringLiteral("axis"), axisName(t.axis)},
        {QStringLiteral("state"), t.raised ? QStringLiteral("raised") : QStringLiteral("cleared")},
        {QStringLiteral("value"), number(t.value)}};
}
