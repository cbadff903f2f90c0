#pragma once

#include "core/presets.h"

#include <QString>

#include <variant>

namespace coeffile {

inline const QString FileName = QStringLiteral("kvdcoef.txt");

enum class Failure { Open, Format };

struct LoadError {
    Failure failure;
    QString detail; // for logs and tests; the operator sees the fixed messages
};

// Reads the three coefficients (linear, square, cube) from the text of a
// coefficient file. Values are separated by commas or line ends, blanks in
// front of a value are skipped, "." is the decimal point whatever the locale,
// and anything after the third value is ignored. A word, a missing value or
// a value that is not a finite number is a format failure.
std::variant<Coefficients, LoadError> parse(const QByteArray& content);

// Finds kvdcoef.txt in `directory`, ignoring the case of its name where the
// file system does not, and reads it. The coefficients are only returned
// when all three are valid.
std::variant<Coefficients, LoadError> load(const QString& directory);

// The path that would be read, or "" when there is no such file.
QString locate(const QString& directory);

} // namespace coeffile
