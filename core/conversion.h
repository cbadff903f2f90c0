// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// Conversions from sensor counts to the numbers shown on screen.
namespace conversion {

inline constexpr double CountsPerDegree = 121.0;
inline constexpr double TemperatureOffset = 133.0;
inline constexpr double Pi = 3.14159; // the instrument's constant, not full-precision pi
inline constexpr double ThicknessLengthMm = 45.0;
inline constexpr double ThicknessLengthIn = 1.82;

enum class ThicknessUnit { Millimetres, Inches, Degrees };

// (x3*c^3 + x2*c^2) + x1*c at full precision.
double polynomialExact(double centred, double x1, double x2, double x3);
// The same rounded to two decimals (half to even), as displayed.
double polynomial(double centred, double x1, double x2, double x3);

// The smallest and largest value the polynomial gives over the sensor's
// counts 0 to 4095 centred by `offset`; std::nullopt when it is not finite
// at one of them (coefficients that overflow).
struct Range {
    double low = 0.0, high = 0.0;
};
std::optional<Range> rangeOverCounts(double x1, double x2, double x3, double offset = -2048.0);

// Angle from the zero reference in degrees, at 121 counts per degree.
double thicknessAngle(double centred, double zeroReference);

// The thickness in `unit` (degrees: the angle from the zero reference).
double thicknessValue(double centred, double zeroReference, ThicknessUnit unit);

// The text of the pitch row in thickness mode: mm as "0.00", inches as
// "0.0000", degrees as "0.00".
QString thicknessText(double centred, double zeroReference, ThicknessUnit unit);

inline double temperature(double count)
{
    return count - TemperatureOffset;
}

} // namespace conversion
