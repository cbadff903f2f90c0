#include "core/coeffile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

namespace coeffile {

namespace {
constexpr qint64 MaxBytes = 1 << 20; // only the start of a file matters

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
    qsizetype i = 0;
    const qsizetype n = content.size();
    bool afterComma = false; // a comma promises a value before the next line end
    while (found < 3) {
        // Skip blanks and empty lines in front of a value.
        while (i < n && (isBlank(content[i]) || ((content[i] == '\n' || content[i] == '\r') && !afterComma)))
            ++i;
        if (i >= n || isSeparator(content[i]))
            return LoadError {Failure::Format, QStringLiteral("value %1 is missing").arg(found + 1)};
        std::string token;
        while (i < n && !isSeparator(content[i]) && !isBlank(content[i]))
            token.push_back(content[i++]);
        const std::optional<double> value = toNumber(token);
        if (!value)
            return LoadError {Failure::Format,
                QStringLiteral("value %1 is not a number: '%2'").arg(found + 1).arg(QString::fromStdString(token))};
        values[found++] = *value;
        if (found == 3)
            break; // the rest of the file is not read
        while (i < n && isBlank(content[i]))
            ++i;
        if (i < n && !isSeparator(content[i]))
            return LoadError {Failure::Format, QStringLiteral("unexpected text after value %1").arg(found)};
        afterComma = i < n && content[i] == ',';
        if (i < n)
            ++i;
    }
    return Coefficients {values[0], values[1], values[2]};
}

QString locate(const QString& directory)
{
    const QDir dir(directory);
    QString exact = dir.filePath(FileName);
    if (QFileInfo(exact).isFile())
        return exact;
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : entries) {
        if (name.compare(FileName, Qt::CaseInsensitive) == 0)
            return dir.filePath(name);
    }
    return {};
}

std::variant<Coefficients, LoadError> load(const QString& directory)
{
    const QString path = locate(directory);
    if (path.isEmpty())
        return LoadError {Failure::Open, QStringLiteral("no %1 in %2").arg(FileName, directory)};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return LoadError {Failure::Open, file.errorString()};
    const QByteArray content = file.read(MaxBytes);
    if (file.error() != QFileDevice::NoError)
        return LoadError {Failure::Format, file.errorString()};
    return parse(content);
}

} // namespace coeffile
