// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>

// Calibration coefficients of the sensor models.
struct Coefficients {
    double x1 = 1.0;
    double x2 = 0.0;
    double x3 = 0.0;
    friend bool operator==(const Coefficients&, const Coefficients&) = default;
};

enum class Model { Z1, Z2, Z3, Raw };

Coefficients presetFor(Model model);
