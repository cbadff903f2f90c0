// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/calibration.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// The reference zero of a sensor: the mean pitch and roll taken once, at
// installation, so that rows can show the change since then. Kept in a small
// text file of key=value lines; to take a new reference, the operator removes
// the file and restarts the logger.
struct Reference {
    double pitch = 0.0;
    double roll = 0.0;
};

namespace reference {

struct Missing { };

// The reference in `path`, Missing when there is no such file, or the error
// text naming the file and the line. A reference is only good for the
// sensor it was taken of: its model= must be `model`, and each value within
// what `calibration` gives over the counts 0 to 4095.
std::variant<Missing, Reference, QString> read(
    const QString& path, const QString& model, const Calibration& calibration);

// Before anything is sent: the reference may not be one of the `outputs`
// (option name and path), and when it is still to be taken, its folder must
// be writable. The error text naming the option and the folder.
std::optional<QString> checkPlace(const QString& path, const QList<std::pair<QString, QString>>& outputs);

struct Stored { };

// Stores the reference with its time and the sensor model, whole or not at
// all: written and synced to a temporary file beside it, which is then
// linked to `path` only if no file is there yet. Stored; or the reference
// another logger stored there first (read as read() does); or the error
// text with the system's reason, and then nothing is left at `path`.
std::variant<Stored, Reference, QString> create(const QString& path, const Reference& reference, qint64 wallMsUtc,
    const QString& model, const Calibration& calibration);

} // namespace reference
