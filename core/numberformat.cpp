// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/numberformat.h"

#include <algorithm>
#include <cmath>

namespace numfmt {

QString plainDecimal(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-Inf") : QStringLiteral("Inf");
    if (value == 0.0)
        return QStringLiteral("0"); // also for -0.0
    // Counts and whole temperatures, most of what a sensor sends: the same
    // digits as below, without the cost of a shortest-form conversion.
    if (std::fabs(value) < 1e15 && value == std::trunc(value))
        return QString::number(qint64(value));
    // QString::number ignores the locale; 'g' with 15 digits gives the cut-over
    // to exponent form below 1e-4 and from 1e15 on, with two exponent digits.
    QString text = QString::number(value, 'g', 15);
    return text.toUpper();
}

QString pattern(double value, int minIntDigits, int decimals)
{
    if (!std::isfinite(value))
        return plainDecimal(value);
    // Built in one piece: this runs for every reading of a fast sensor.
    QString digits = QString::number(std::fabs(value), 'f', decimals);
    const qsizetype point = digits.indexOf(QLatin1Char('.'));
    const qsizetype padding = std::max<qsizetype>(minIntDigits - (point < 0 ? digits.size() : point), 0);
    const bool negative = value < 0 && std::any_of(digits.cbegin(), digits.cend(), [](QChar c) {
        return c != QLatin1Char('0') && c != QLatin1Char('.');
    });
    if (padding == 0 && !negative)
        return digits;
    QString text;
    text.reserve(digits.size() + padding + 1);
    if (negative)
        text += QLatin1Char('-');
    for (qsizetype i = 0; i < padding; ++i)
        text += QLatin1Char('0');
    text += digits;
    return text;
}

QString angle(double value)
{
    if (!std::isfinite(value))
        return {};
    QString text = QString::number(value, 'f', 6);
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    qsizetype end = text.size();
    while (end > point + 3 && text[end - 1] == QLatin1Char('0'))
        --end;
    text.truncate(end);
    if (text.startsWith(QLatin1Char('-')) && std::all_of(text.cbegin() + 1, text.cend(), [](QChar c) {
            return c == QLatin1Char('0') || c == QLatin1Char('.');
        }))
        text.remove(0, 1);
    return text;
}

double roundHalfEven2(double value)
{
    if (!std::isfinite(value))
        return value;
    const double scaled = value * 100.0;
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 4.5e15)
        return value; // already far beyond two-decimal resolution
    double whole = std::round(scaled); // half-way cases away from zero...
    if (std::fabs(scaled - std::trunc(scaled)) == 0.5)
        whole = 2.0 * std::round(scaled / 2.0); // ...except that they go to the even neighbour
    const double rounded = whole / 100.0;
    return rounded == 0.0 ? 0.0 : rounded;
}

} // namespace numfmt
