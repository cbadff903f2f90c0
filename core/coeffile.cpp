// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/coeffile.h"

#include "core/conversion.h"

#include "core/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

namespace coeffile {

namespace {
const QByteArray ByteOrderMark("\xEF\xBB\xBF");

LoadError notRegular(const QString& path)
{
    return LoadError {Failure::Open, QStringLiteral("%1 is not a regular file").arg(path)};
}
LoadError tooLarge(const QString& path)
{
    return LoadError {Failure::Format, QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(MaxFileBytes)};
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}
bool isSeparator(char c)
{
    return c == ',' || c == '\n' || c == '\r';
}

std::optional<double> toNumber(const std::string& token)
{
    if (token.empty())
        return std::nullopt;
    const char* begin = token.data();
    const char* end = begin + token.size();
    if (*begin == '+')
        ++begin; // from_chars takes no plus sign
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (ec != std::errc() || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}
} // namespace

std::variant<Coefficients, LoadError> parse(const QByteArray& content)
{
    double values[3] = {0.0, 0.0, 0.0};
    int found = 0;
    qsizetype i = content.startsWith(ByteOrderMark) ? ByteOrderMark.size() : 0;
    const qsizetype n = content.size();
    bool afterComma = false; // a comma promises a value before the next line end
    // Errors name the line, so a person can find the fault in the file.
    auto lineAt
        = [&content](qsizetype pos) { return QStringLiteral("line %1: ").arg(content.left(pos).count('\n') + 1); };
    while (found < 3) {
        // Skip blanks and empty lines in front of a value.
        while (i < n && (isBlank(content[i]) || ((content[i] == '\n' || content[i] == '\r') && !afterComma)))
            ++i;
        if (i >= n || isSeparator(content[i]))
            return LoadError {Failure::Format, lineAt(i) + QStringLiteral("value %1 is missing").arg(found + 1)};
        std::string token;
        while (i < n && !isSeparator(content[i]) && !isBlank(content[i]))
            token.push_back(content[i++]);
        const std::optional<double> value = toNumber(token);
        if (!value)
            return LoadError {Failure::Format,
                lineAt(i)
                    + QStringLiteral("value %1 is not a number: '%2'")
                          .arg(found + 1)
                          .arg(QString::fromStdString(token))};
        values[found++] = *value;
        if (found == 3)
            break; // the rest of the file is not read
        while (i < n && isBlank(content[i]))
            ++i;
        if (i < n && !isSeparator(content[i]))
            return LoadError {Failure::Format, lineAt(i) + QStringLiteral("unexpected text after value %1").arg(found)};
        afterComma = i < n && content[i] == ',';
        if (i < n)
            ++i;
    }
    // A polynomial that overflows somewhere over the counts would turn
    // readings into empty fields or "nan" without a word.
    if (!conversion::rangeOverCounts(values[0], values[1], values[2]))
        return LoadError {Failure::Format, QStringLiteral("the polynomial is not finite over the counts 0 to 4095")};
    return Coefficients {values[0], values[1], values[2]};
}

QString locate(const QString& directory)
{
    // System entries too (FIFOs, sockets, devices, dangling links): one of
    // those under the name must be refused, not taken for a missing file.
    const QDir dir(directory);
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QString other;
    for (const QString& name : entries) {
        if (name == FileName)
            return dir.filePath(name);
        if (other.isEmpty() && name.compare(FileName, Qt::CaseInsensitive) == 0)
            other = dir.filePath(name);
    }
    return other;
}

std::variant<Coefficients, LoadError> readFile(const QString& path)
{
    const auto content = safefile::read(path, MaxFileBytes);
    if (const QString* error = std::get_if<QString>(&content)) {
        if (*error == safefile::NotRegular)
            return notRegular(path);
        if (*error == safefile::tooLarge(MaxFileBytes))
            return tooLarge(path);
        return LoadError {Failure::Open, QStringLiteral("%1: %2").arg(path, *error)};
    }
    return parse(std::get<QByteArray>(content));
}

std::variant<Coefficients, LoadError> load(const QString& directory)
{
    const QString path = locate(directory);
    if (path.isEmpty())
        return LoadError {Failure::Open, QStringLiteral("no %1 in %2").arg(FileName, directory)};
    return readFile(path);
}

std::variant<Coefficients, LoadError> loadFirst(const QStringList& directories)
{
    for (const QString& directory : directories) {
        const QString path = locate(directory);
        if (!path.isEmpty())
            return readFile(path);
    }
    return LoadError {
        Failure::Open, QStringLiteral("no %1 in %2").arg(FileName, directories.join(QLatin1String(", ")))};
}

} // namespace coeffile
