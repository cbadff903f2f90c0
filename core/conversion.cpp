#include "core/conversion.h"

#include "core/numberformat.h"

#include <cmath>

namespace conversion {

double polynomial(double centred, double x1, double x2, double x3)
{
    const double c = centred;
    const double v = (x3 * c * c * c + x2 * c * c) + x1 * c;
    return numfmt::roundHalfEven2(v);
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
    return unit == ThicknessUnit::Inches ? numfmt::pattern0_0000(v) : numfmt::pattern0_00(v);
}

} // namespace conversion
