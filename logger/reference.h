#pragma once

#include <QString>

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
// text naming the file and the line.
std::variant<Missing, Reference, QString> read(const QString& path);

// Stores the reference with its time and the sensor model, whole or not at
// all (a temporary file renamed over the path); the error text if not.
std::variant<std::monostate, QString> write(
    const QString& path, const Reference& reference, qint64 wallMsUtc, const QString& model);

} // namespace reference
