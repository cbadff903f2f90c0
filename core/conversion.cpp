// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversion.h"

#include "core/numberformat.h"

#include <algorithm>
#include <cmath>

namespace conversion {

double polynomialExact(double centred, double x1, double x2, double x3)
{
    const double c = centred;
    return (x3 * c * c * c + x2 * c * c) + x1 * c;
}

double polynomial(double centred, double x1, double x2, double x3)
{
    return numfmt::roundHalfEven2(polynomialExact(centred, x1, x2, x3));
}

std::optional<Range> rangeOverCounts(double x1, double x2, double x3, double offset)
{
    Range range {INFINITY, -INFINITY};
    for (int count = 0; count <= 4095; ++count) {
        const double v = polynomialExact(count + offset, x1, x2, x3);
        if (!std::isfinite(v))
            return std::nullopt;
        range.low = std::min(range.low, v);
        range.high = std::max(range.high, v);
    }
    return range;
}

double thicknessAngle(double centred, double zeroReference)
{
    return (centred - zeroReference) / CountsPerDegree;
}

double thicknessValue(double centred, double zeroReference, ThicknessUnit unit)
{
    const double a = thicknessAngle(centred, zeroReference);
    switch (unit) {
    case ThicknessUnit::Millimetres:
        return ThicknessLengthMm * std::tan(a * (Pi / 180.0));
    case ThicknessUnit::Inches:
        return ThicknessLengthIn * std::tan(a * (Pi / 180.0));
    case ThicknessUnit::Degrees:
        break;
    }
    return a;
}

QString thicknessText(double centred, double zeroReference, ThicknessUnit unit)
{
    const double v = thicknessValue(centred, zeroReference, unit);
    return unit == ThicknessUnit::Inches ? numfmt::fourDecimals(v) : numfmt::twoDecimals(v);
}

} // namespace conversion
