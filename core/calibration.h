// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/conversion.h"
#include "core/presets.h"

#include <QString>

// Everything that turns counts into the values shown: the polynomial's
// coefficients, the axis offsets, thickness mode with its zero and unit.
// One value, owned by the calibration menu and handed to the sensor link.
struct Calibration {
    static constexpr double TrueZero = 130.0; // centred pitch count at which thickness reads zero

    Coefficients coefficients; // 1, 0, 0 until a model is chosen
    double pitchOffset = -2048.0;
    double rollOffset = -2048.0;
    double zeroReference = TrueZero;
    bool thickness = false;
    conversion::ThicknessUnit unit = conversion::ThicknessUnit::Millimetres;
    bool counts = false; // the "Raw data - 2048" preset: values are centred counts

    // The unit of pitch and roll values: "deg", "count", "mm" or "in".
    QString unitName() const;
    // The pitch row's title in thickness mode.
    QString unitTitle() const;
    // Alarms compare angles: not in thickness mode, not on counts.
    bool anglesInDegrees() const { return !thickness && !counts; }
};
