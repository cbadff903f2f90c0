#include "core/coeffile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

#ifdef Q_OS_UNIX
std::variant<Coefficients, LoadError> readFile(const QString& path)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer that may never come. The type is checked on the opened
    // descriptor, so a file swapped for something else after a check by
    // name cannot slip through.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return LoadError {Failure::Open, QStringLiteral("%1: %2").arg(path, qt_error_string(errno))};
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer {fd};
    struct stat st { };
    if (::fstat(fd, &st) != 0)
        return LoadError {Failure::Open, QStringLiteral("%1: %2").arg(path, qt_error_string(errno))};
    if (!S_ISREG(st.st_mode))
        return notRegular(path);
    if (st.st_size > MaxFileBytes)
        return tooLarge(path);
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    // One byte past the limit is asked for, so a file that grew after the
    // size check is still caught.
    QByteArray content(MaxFileBytes + 1, Qt::Uninitialized);
    qint64 got = 0;
    while (got < content.size()) {
        const ssize_t n = ::read(fd, content.data() + got, size_t(content.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return LoadError {Failure::Format, QStringLiteral("%1: %2").arg(path, qt_error_string(errno))};
        if (n == 0)
            break;
        got += n;
    }
    if (got > MaxFileBytes)
        return tooLarge(path);
    content.truncate(got);
    return parse(content);
}
#else
std::variant<Coefficients, LoadError> readFile(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return notRegular(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return LoadError {Failure::Open, file.errorString()};
    const QByteArray content = file.read(MaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return LoadError {Failure::Format, file.errorString()};
    if (content.size() > MaxFileBytes)
        return tooLarge(path);
    return parse(content);
}
#endif

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
