// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/calibration.h"

QString Calibration::unitName() const
{
    if (thickness) {
        switch (unit) {
        case conversion::ThicknessUnit::Millimetres:
            return QStringLiteral("mm");
        case conversion::ThicknessUnit::Inches:
            return QStringLiteral("in");
        case conversion::ThicknessUnit::Degrees:
            break;
        }
        return QStringLiteral("deg");
    }
    return counts ? QStringLiteral("count") : QStringLiteral("deg");
}

QString Calibration::unitTitle() const
{
    switch (unit) {
    case conversion::ThicknessUnit::Degrees:
        return QStringLiteral("Angle(Deg)");
    case conversion::ThicknessUnit::Inches:
        return QStringLiteral("Thickness(in)");
    case conversion::ThicknessUnit::Millimetres:
        break;
    }
    return QStringLiteral("Thickness(mm)");
}
