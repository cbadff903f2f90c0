// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/safefile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace safefile {

QString tooLarge(qint64 maxBytes)
{
    return QStringLiteral("larger than %1 bytes").arg(maxBytes);
}

QString reason(int errorNumber)
{
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

std::variant<int, QString> open(const QString& path, int flags, unsigned mode)
{
    const QByteArray name = QFile::encodeName(path);
    int fd;
    while ((fd = ::open(name.constData(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode)) < 0 && errno == EINTR) { }
    // A FIFO without a reader refuses a non-blocking writer with ENXIO, a
    // folder any writer with EISDIR.
    if (fd < 0)
        return errno == ENXIO || errno == EISDIR ? NotRegular : reason(errno);
    struct stat st { };
    const bool statted = ::fstat(fd, &st) == 0;
    if (statted && S_ISREG(st.st_mode) && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
        return fd;
    const int failure = !statted || S_ISREG(st.st_mode) ? errno : 0; // else: not a regular file
    ::close(fd);
    return failure != 0 ? reason(failure) : NotRegular;
}

std::variant<QByteArray, QString> read(const QString& path, qint64 maxBytes)
{
    const auto opened = open(path, O_RDONLY);
    if (const QString* error = std::get_if<QString>(&opened))
        return *error;
    const int fd = std::get<int>(opened);
    QByteArray content;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const QString error = reason(errno);
            ::close(fd);
            return error;
        }
        if (n == 0)
            break;
        content.append(buffer, n);
        if (content.size() > maxBytes) {
            ::close(fd);
            return tooLarge(maxBytes);
        }
    }
    ::close(fd);
    return content;
}

std::variant<std::monostate, QString> writeWhole(int fd, const QByteArray& bytes, qint64 sizeBefore)
{
    qsizetype done = 0;
    int error = 0;
    while (done < bytes.size() && error == 0) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0)
            error = EIO; // no progress and no reason: do not spin
        else if (errno != EINTR)
            error = errno;
    }
    if (error == 0)
        return std::monostate {};
    // A torn line would be read back as a wrong value: the file goes back
    // to its last whole record.
    QString text = reason(error);
    if (done > 0 && sizeBefore >= 0) {
        int undone;
        while ((undone = ::ftruncate(fd, sizeBefore)) != 0 && errno == EINTR) { }
        if (undone != 0)
            text += QStringLiteral("; the incomplete last record could not be removed: %1").arg(reason(errno));
    }
    return text;
}

bool stillAt(int fd, const QString& path)
{
    struct stat held { };
    struct stat named { };
    return ::fstat(fd, &held) == 0 && held.st_nlink > 0 && ::stat(QFile::encodeName(path).constData(), &named) == 0
        && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

namespace {
bool isNullDevice(const QString& path)
{
    struct stat named { };
    struct stat null { };
    return ::stat(QFile::encodeName(path).constData(), &named) == 0 && S_ISCHR(named.st_mode)
        && ::stat("/dev/null", &null) == 0 && named.st_rdev == null.st_rdev;
}
} // namespace

std::optional<QString> AppendFile::open(const QString& path, bool truncate, bool nullAllowed)
{
    close();
    if (nullAllowed && isNullDevice(path)) {
        m_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        m_path = path;
        m_checked = false;
        return m_fd < 0 ? std::optional<QString>(reason(errno)) : std::nullopt;
    }
    // Read access only to look at the last byte; a file we may only write
    // to is used all the same.
    auto opened = safefile::open(path, O_RDWR | O_CREAT | O_APPEND);
    if (std::holds_alternative<QString>(opened) && errno == EACCES)
        opened = safefile::open(path, O_WRONLY | O_CREAT | O_APPEND);
    if (const QString* error = std::get_if<QString>(&opened))
        return *error;
    const int fd = std::get<int>(opened);
    auto refuse = [fd](int errorNumber) {
        ::close(fd);
        return std::optional<QString>(reason(errorNumber));
    };
    if (truncate) {
        int done;
        while ((done = ::ftruncate(fd, 0)) != 0 && errno == EINTR) { }
        if (done != 0)
            return refuse(errno);
    }
    struct stat st { };
    if (::fstat(fd, &st) != 0)
        return refuse(errno);
    m_fd = fd;
    m_path = path;
    m_checked = true;
    char last = '\n';
    if (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) != 1)
        last = '\n'; // unreadable: leave it as it is
    if (last != '\n') {
        if (auto error = write(QByteArrayLiteral("\r\n"))) {
            close();
            return error;
        }
    }
    return std::nullopt;
}

void AppendFile::openStandardOutput()
{
    close();
    m_fd = STDOUT_FILENO;
    m_path.clear();
    m_checked = false;
}

void AppendFile::close()
{
    if (m_fd >= 0 && m_fd != STDOUT_FILENO)
        ::close(m_fd);
    m_fd = -1;
}

bool AppendFile::isEmpty() const
{
    struct stat st { };
    return m_fd >= 0 && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
}

QByteArray AppendFile::firstLine(qint64 maxBytes) const
{
    QByteArray bytes(maxBytes, Qt::Uninitialized);
    ssize_t n;
    while ((n = ::pread(m_fd, bytes.data(), std::size_t(maxBytes), 0)) < 0 && errno == EINTR) { }
    const qsizetype end = n > 0 ? bytes.left(n).indexOf('\n') : -1;
    return end < 0 ? QByteArray() : bytes.left(end + 1);
}

bool AppendFile::stillThere() const
{
    return m_fd >= 0 && (!m_checked || stillAt(m_fd, m_path));
}

std::optional<QString> AppendFile::write(const QByteArray& bytes) const
{
    if (m_fd < 0)
        return QStringLiteral("the file is not open");
    struct stat st { };
    const qint64 before = ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode) ? qint64(st.st_size) : -1;
    auto result = writeWhole(m_fd, bytes, before);
    if (const QString* error = std::get_if<QString>(&result)) {
        if (before >= 0)
            ::lseek(m_fd, before, SEEK_SET); // standard output need not append
        return *error;
    }
    return std::nullopt;
}

} // namespace safefile
