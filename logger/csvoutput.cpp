#include "logger/csvoutput.h"

#include "logger/loggeroptions.h"

#include <QDir>

CsvOutput::CsvOutput(QString path, QString dir, QString header)
    : m_path(std::move(path)), m_dir(std::move(dir)), m_header(std::move(header))
{
}

QString CsvOutput::describe() const
{
    if (!m_dir.isEmpty())
        return QDir(m_dir).filePath(QStringLiteral("YYYY-MM-DD.csv"));
    return m_path == loggeroptions::StandardOutput ? QStringLiteral("standard output") : m_path;
}

QString CsvOutput::located(const QString& error) const
{
    return QStringLiteral("%1: %2").arg(
        m_file.isStandardOutput() ? QStringLiteral("standard output") : m_current, error);
}

std::optional<QString> CsvOutput::open()
{
    if (!m_dir.isEmpty()) {
        if (!QDir().mkpath(m_dir))
            return QStringLiteral("%1: cannot create the directory").arg(m_dir);
        return std::nullopt; // the day's file is opened with its first row
    }
    if (m_path == loggeroptions::StandardOutput) {
        m_file.openStandardOutput();
        if (auto error = m_file.write(m_header.toUtf8()))
            return located(*error);
        return std::nullopt;
    }
    return openFile(m_path);
}

std::optional<QString> CsvOutput::openFile(const QString& path)
{
    m_current = path;
    if (auto error = m_file.open(path, false, true))
        return located(*error);
    // Appended to, so that a restarted service continues its file; the
    // header goes only into a new or empty one.
    if (m_file.isEmpty())
        if (auto error = m_file.write(m_header.toUtf8()))
            return located(*error);
    return std::nullopt;
}

std::optional<QString> CsvOutput::reopen()
{
    if (m_file.isStandardOutput() || m_current.isEmpty())
        return std::nullopt;
    if (!m_dir.isEmpty() && !QDir().mkpath(m_dir))
        return QStringLiteral("%1: cannot create the directory").arg(m_dir);
    return openFile(m_current);
}

std::optional<QString> CsvOutput::write(qint64 wallMsUtc, const QString& row, QString* note)
{
    if (!m_dir.isEmpty()) {
        if (const auto name = m_days.due(wallMsUtc))
            if (auto error = openFile(QDir(m_dir).filePath(*name)))
                return error;
    }
    if (!m_file.stillThere()) {
        if (note)
            *note = QStringLiteral("%1 was removed or renamed: writing a new one").arg(m_current);
        if (auto error = reopen())
            return error;
    }
    if (auto error = m_file.write(row.toUtf8()))
        return located(*error);
    return std::nullopt;
}
