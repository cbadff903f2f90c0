#include "logger/csvlog.h"

#include "core/alarm.h"

#include <QDateTime>
#include <QStringList>

namespace csvlog {

namespace {
constexpr qint64 MsPerDay = 24LL * 60 * 60 * 1000;

qint64 dayOf(qint64 wallMsUtc)
{
    // Rounded down, so instants before 1970 fall in their own day.
    return wallMsUtc >= 0 ? wallMsUtc / MsPerDay : -((-wallMsUtc + MsPerDay - 1) / MsPerDay);
}
} // namespace

QString header()
{
    return QStringLiteral("time,elapsed,pitch,roll,temperature,unit,alarm") + QLatin1String(LineEnd);
}

QString row(const Record& record)
{
    // QString::number ignores the locale.
    const QStringList fields {alarmcsv::isoUtc(record.wallMsUtc), QString::number(record.elapsedS, 'f', 3),
        alarmcsv::angle(record.pitch), alarmcsv::angle(record.roll), alarmcsv::angle(record.temperature),
        field(record.unit), field(record.alarm)};
    return fields.join(QLatin1Char(',')) + QLatin1String(LineEnd);
}

QString field(const QString& text)
{
    const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"'))
        || text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
    if (!quote)
        return text;
    QString escaped = text;
    escaped.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString dayFileName(qint64 wallMsUtc)
{
    return QDateTime::fromMSecsSinceEpoch(wallMsUtc, Qt::UTC).date().toString(Qt::ISODate) + QLatin1String(".csv");
}

std::optional<QString> DayRoller::due(qint64 wallMsUtc)
{
    const qint64 day = dayOf(wallMsUtc);
    if (m_day == day)
        return std::nullopt;
    m_day = day;
    return dayFileName(wallMsUtc);
}

QString eventLine(qint64 wallMsUtc, const QString& text)
{
    QString flat = text;
    flat.replace(QLatin1String("\r\n"), QLatin1String(" "));
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return alarmcsv::isoUtc(wallMsUtc) + QLatin1Char(' ') + flat + QLatin1Char('\n');
}

} // namespace csvlog
