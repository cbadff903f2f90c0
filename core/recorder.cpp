#include "core/recorder.h"

#include "core/numberformat.h"

#ifdef Q_OS_UNIX
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QFileInfo>
#endif

namespace {
const QString NotRegular = QStringLiteral("not a regular file");
const QString Gone = QStringLiteral("the file was removed or replaced");
const QString NotOpen = QStringLiteral("the file is not open");
} // namespace

Recorder::~Recorder()
{
    close();
}

QString Recorder::recordLine(qint64 elapsedMs, const QString& pitch, const QString& roll)
{
    // Milliseconds are summed as integers and divided once, so 300 ms reads
    // 0.3 and never 0.30000000000000004.
    const QString time = numfmt::plainDecimal(double(elapsedMs) / 1000.0);
    return time + QLatin1String("\tPitch\t") + pitch + QLatin1String("\tRoll\t") + roll + QLatin1String("\r\n");
}

#ifdef Q_OS_UNIX

std::optional<QString> Recorder::open(const QString& path)
{
    close();
    m_path = path;
    const QByteArray name = QFile::encodeName(path);
    // Asked first by name only for a clearer answer: opening a FIFO that has
    // no reader for writing without blocking fails with a confusing ENXIO.
    struct stat st { };
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return NotRegular;
    // O_NONBLOCK and the check of the opened descriptor keep a FIFO put there
    // after the check from blocking the start-up. Truncating waits for that
    // check, so nothing but a regular file is ever emptied.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno == ENXIO ? NotRegular : qt_error_string(errno);
    const auto refuse = [fd](const QString& reason) {
        ::close(fd);
        return reason;
    };
    if (::fstat(fd, &st) != 0)
        return refuse(qt_error_string(errno));
    if (!S_ISREG(st.st_mode))
        return refuse(NotRegular);
    int truncated;
    while ((truncated = ::ftruncate(fd, 0)) != 0 && errno == EINTR) { }
    if (truncated != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        return refuse(qt_error_string(errno));
    m_fd = fd;
    return std::nullopt;
}

void Recorder::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool Recorder::isOpen() const
{
    return m_fd >= 0;
}

std::optional<QString> Recorder::writeRecord(int intervalMs, const QString& pitch, const QString& roll)
{
    if (m_fd < 0)
        return NotOpen;
    // Records written into a file nobody can reach any more would be lost
    // without a word: the name must still lead to the open file.
    struct stat held { };
    if (::fstat(m_fd, &held) != 0)
        return qt_error_string(errno);
    struct stat named { };
    if (held.st_nlink == 0 || ::stat(QFile::encodeName(m_path).constData(), &named) != 0 || named.st_dev != held.st_dev
        || named.st_ino != held.st_ino)
        return Gone;

    const QByteArray line = recordLine(m_recordedMs + intervalMs, pitch, roll).toUtf8();
    qsizetype done = 0;
    int error = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_fd, line.constData() + done, size_t(line.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0)
            error = EIO; // no progress and no reason: do not spin
        else if (errno != EINTR)
            error = errno;
        if (error != 0)
            break;
    }
    if (error != 0) {
        // A torn line would be read back as a wrong value: the file goes
        // back to its last whole record.
        QString reason = qt_error_string(error);
        if (done > 0) {
            int undone;
            while ((undone = ::ftruncate(m_fd, held.st_size)) != 0 && errno == EINTR) { }
            if (undone != 0)
                reason += QStringLiteral("; the incomplete last record could not be removed: %1")
                              .arg(qt_error_string(errno));
        }
        return reason;
    }
    ++RecCount;
    m_recordedMs += intervalMs;
    return std::nullopt;
}

#else // Q_OS_UNIX

std::optional<QString> Recorder::open(const QString& path)
{
    close();
    m_path = path;
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return NotRegular;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return m_file.errorString();
    return std::nullopt;
}

void Recorder::close()
{
    if (m_file.isOpen()) {
        m_file.flush();
        m_file.close();
    }
}

bool Recorder::isOpen() const
{
    return m_file.isOpen();
}

std::optional<QString> Recorder::writeRecord(int intervalMs, const QString& pitch, const QString& roll)
{
    if (!m_file.isOpen())
        return NotOpen;
    if (!QFileInfo::exists(m_path))
        return Gone;
    const qint64 before = m_file.size();
    const QByteArray line = recordLine(m_recordedMs + intervalMs, pitch, roll).toUtf8();
    if (m_file.write(line) != line.size() || !m_file.flush()) {
        const QString reason = m_file.errorString();
        m_file.resize(before);
        return reason;
    }
    ++RecCount;
    m_recordedMs += intervalMs;
    return std::nullopt;
}

#endif // Q_OS_UNIX
