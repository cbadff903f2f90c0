#pragma once

#include <QString>

// Conversions from sensor counts to the numbers shown on screen.
namespace conversion {

inline constexpr double CountsPerDegree = 121.0;
inline constexpr double TemperatureOffset = 133.0;
inline constexpr double Pi = 3.14159; // the instrument's constant, not full-precision pi
inline constexpr double ThicknessLengthMm = 45.0;
inline constexpr double ThicknessLengthIn = 1.82;

enum class ThicknessUnit { Millimetres, Inches, Degrees };

// (x3*c^3 + x2*c^2) + x1*c, rounded to two decimals (half to even).
double polynomial(double centred, double x1, double x2, double x3);

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
