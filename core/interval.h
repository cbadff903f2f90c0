// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

namespace interval {

inline constexpr int Minimum = 100;
inline constexpr int Maximum = 32767;
inline constexpr int Default = 1000;

// The recording interval an answer asks for, in ms: a whole number from 100
// to 32767 ("250", " 250 ", "250.0"). Anything else (below 100, a fraction,
// negative, too large, not a number) is std::nullopt and must be asked again.
std::optional<int> parseAnswer(const QString& answer);

} // namespace interval
