// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/csvlog.h"

#include "core/numberformat.h"
#include "core/timeformat.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace csvlog {

namespace {
constexpr qint64 MsPerDay = 24LL * 60 * 60 * 1000;

qint64 dayOf(qint64 wallMsUtc)
{
    // Rounded down, so instants before 1970 fall in their own day.
    return wallMsUtc >= 0 ? wallMsUtc / MsPerDay : -((-wallMsUtc + MsPerDay - 1) / MsPerDay);
}

// "YYYY-MM-DD.csv" for the UTC day holding the instant.
QString dayFileName(qint64 wallMsUtc)
{
    return QDateTime::fromMSecsSinceEpoch(wallMsUtc, Qt::UTC).date().toString(Qt::ISODate) + QLatin1String(".csv");
}
} // namespace

QString header(bool withChange)
{
    return QStringLiteral(
               "time,elapsed,pitch,roll,temperature,unit,alarm,pitch_min,pitch_max,roll_min,roll_max,samples")
        + (withChange ? QStringLiteral(",pitch_change,roll_change") : QString()) + QLatin1String(LineEnd);
}

QString number(const Record& record, Column column, double value)
{
    if (!std::isfinite(value))
        return {};
    if (record.lastCycle)
        return numfmt::angle(value);
    return numfmt::pattern(value, 1, column == Column::Mean || column == Column::Change ? 4 : 2);
}

QString row(const Record& record)
{
    // QString::number ignores the locale.
    QStringList fields {timefmt::isoUtc(record.wallMsUtc), QString::number(record.elapsedS, 'f', 3),
        number(record, Column::Mean, record.pitch), number(record, Column::Mean, record.roll),
        number(record, Column::Temperature, record.temperature), field(record.unit), field(record.alarm),
        number(record, Column::Extreme, record.pitchMin), number(record, Column::Extreme, record.pitchMax),
        number(record, Column::Extreme, record.rollMin), number(record, Column::Extreme, record.rollMax),
        QString::number(record.samples)};
    if (record.pitchChange && record.rollChange)
        fields << number(record, Column::Change, *record.pitchChange)
               << number(record, Column::Change, *record.rollChange);
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

qint64 nextRowTime(qint64 wallMsUtc, qint64 intervalMs)
{
    const qint64 midnight = dayOf(wallMsUtc) * MsPerDay;
    const qint64 next = midnight + ((wallMsUtc - midnight) / intervalMs + 1) * intervalMs;
    return std::min(next, midnight + MsPerDay);
}

std::optional<QString> DayRoller::due(qint64 wallMsUtc)
{
    const qint64 day = dayOf(wallMsUtc);
    if (m_day == day)
        return std::nullopt;
    m_day = day;
    return dayFileName(wallMsUtc);
}

} // namespace csvlog
