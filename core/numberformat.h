// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Text forms of numbers. Every form uses "." as the decimal separator,
// whatever the user's locale, so that the recording file and the equation
// display read the same on every machine.
namespace numfmt {

// Shortest decimal text with at most 15 significant digits: no trailing
// zeros, no separator for whole values, exponent form ("-3E-10", "1E+15")
// below 1E-4 and from 1E+15 on. Never "-0".
QString plainDecimal(double value);

// The display patterns "00.00", "0.00" and "0.0000": at least `minIntDigits`
// digits before the point, exactly `decimals` after it, halves rounded away
// from zero. A value that rounds to zero never shows a minus sign.
QString pattern(double value, int minIntDigits, int decimals);

// The value labels' "00.00": "-01.50".
inline QString twoIntegerTwoDecimals(double v)
{
    return pattern(v, 2, 2);
}
inline QString twoDecimals(double v)
{
    return pattern(v, 1, 2);
}
inline QString fourDecimals(double v)
{
    return pattern(v, 1, 4);
}

// An angle as the logs write it: at least 2 and at most 6 decimals, no
// trailing zeros beyond the second: 1.5 -> "1.50", 1.23456789 -> "1.234568".
// Finer than any display pattern, so nothing shown is lost. Never "-0.00";
// "" for NaN or infinity, an empty field in a CSV row.
QString angle(double value);

// Rounds to two decimals; a value exactly half-way (as scaled by 100 in
// double precision) goes to the even neighbour.
double roundHalfEven2(double value);

} // namespace numfmt
