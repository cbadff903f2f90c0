// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/interval.h"

#include <cmath>

namespace interval {

std::optional<int> parseAnswer(const QString& answer)
{
    const QString text = answer.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    for (const QChar c : text) {
        // Plain decimal notation only: no exponents, hex or thousands marks.
        if (!c.isDigit() && c != QLatin1Char('.') && c != QLatin1Char('+') && c != QLatin1Char('-'))
            return std::nullopt;
    }
    bool ok = false;
    const double value = text.toDouble(&ok); // C locale: "." is the separator
    if (!ok || !std::isfinite(value) || value != std::floor(value))
        return std::nullopt;
    if (value < Minimum || value > Maximum)
        return std::nullopt;
    return static_cast<int>(value);
}

} // namespace interval
