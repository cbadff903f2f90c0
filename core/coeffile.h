// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/presets.h"

#include <QString>
#include <QStringList>

#include <variant>

namespace coeffile {

inline const QString FileName = QStringLiteral("kvdcoef.txt");

// A real coefficient file is a few dozen bytes. A larger file is refused as a
// whole: reading only its start could cut the last value short and load a
// calibration that looks valid but is wrong.
inline constexpr qint64 MaxFileBytes = 1 << 20;

enum class Failure { Open, Format };

struct LoadError {
    Failure failure;
    QString detail; // for logs and tests; the operator sees the fixed messages
};

// Reads the three coefficients (linear, square, cube) from the text of a
// coefficient file. A leading UTF-8 byte order mark is skipped. Values are
// separated by commas or line ends, blanks in front of a value are skipped,
// "." is the decimal point whatever the locale, and anything after the third
// value is ignored. A word, a missing value or a value that is not a finite
// number is a format failure.
std::variant<Coefficients, LoadError> parse(const QByteArray& content);

// Reads the file at `path`. Only a regular file (a link to one is followed)
// is read; anything else (a FIFO, a device, a socket, a directory) is an open
// failure, refused without waiting on it. A file larger than MaxFileBytes is
// a format failure.
std::variant<Coefficients, LoadError> readFile(const QString& path);

// Finds kvdcoef.txt in `directory`, ignoring the case of its name where the
// file system does not, and reads it. The coefficients are only returned
// when all three are valid.
std::variant<Coefficients, LoadError> load(const QString& directory);

// As load(), in the first of `directories` that holds an entry of that name.
// That entry decides: if it cannot be read, later directories are not tried,
// since falling back would silently bring in a calibration other than the
// one placed first. An open failure when no directory holds one.
std::variant<Coefficients, LoadError> loadFirst(const QStringList& directories);

// The entry of `directory` that load() would read, the exact spelling
// preferred, or "" when there is none. It may be something load() refuses.
QString locate(const QString& directory);

} // namespace coeffile
