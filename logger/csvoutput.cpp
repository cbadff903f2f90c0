// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/csvoutput.h"

#include "logger/loggeroptions.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>

namespace {
constexpr int MaxOtherFiles = 999;

// "site.csv" -> "site-2.csv", "2026-12-07.csv" -> "2026-12-07-2.csv",
// "data" -> "data-2".
QString numbered(const QString& path, int n)
{
    const bool csv = path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
    return csv ? QStringLiteral("%1-%2%3").arg(path.chopped(4)).arg(n).arg(path.right(4))
               : QStringLiteral("%1-%2").arg(path).arg(n);
}
} // namespace

CsvOutput::CsvOutput(QString path, QString dir, QString header, std::optional<int> keepDays)
    : m_path(std::move(path)), m_dir(std::move(dir)), m_header(std::move(header)), m_keepDays(keepDays)
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

std::optional<QString> CsvOutput::open(qint64 wallMsUtc, QStringList* notes)
{
    if (!m_dir.isEmpty()) {
        if (!QDir().mkpath(m_dir))
            return QStringLiteral("%1: cannot create the directory").arg(m_dir);
        removeOldDays(wallMsUtc, notes);
        return std::nullopt; // the day's file is opened with its first row
    }
    if (m_path == loggeroptions::StandardOutput) {
        m_file.openStandardOutput();
        if (auto error = m_file.write(m_header.toUtf8()))
            return located(*error);
        return std::nullopt;
    }
    return openFile(m_path, notes);
}

std::optional<QString> CsvOutput::openFile(const QString& path, QStringList* notes)
{
    const QByteArray header = m_header.toUtf8();
    for (int n = 1; n <= MaxOtherFiles; ++n) {
        m_current = n == 1 ? path : numbered(path, n);
        if (auto error = m_file.open(m_current, false, true))
            return located(*error);
        // Appended to, so that a restarted service continues its file; the
        // header goes only into a new or empty one.
        if (m_file.isEmpty()) {
            if (auto error = m_file.write(header))
                return located(*error);
        } else {
            // A file we may only write to cannot be looked at: appended to.
            const QByteArray first = m_file.firstLine();
            if (!first.isEmpty() && first.trimmed() != header.trimmed())
                continue;
        }
        if (n > 1 && notes)
            *notes << QStringLiteral("%1 has other columns: writing to %2").arg(path, m_current);
        return std::nullopt;
    }
    m_file.close();
    return QStringLiteral("%1: other columns in it and in %2 more files beside it").arg(path).arg(MaxOtherFiles - 1);
}

void CsvOutput::removeOldDays(qint64 wallMsUtc, QStringList* notes)
{
    if (!m_keepDays)
        return;
    // Only the day files this logger writes: nothing else in the folder.
    static const QRegularExpression dayFile(QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})(-\\d+)?\\.csv$"));
    const QDate today = QDateTime::fromMSecsSinceEpoch(wallMsUtc, Qt::UTC).date();
    const QDate oldest = today.addDays(-*m_keepDays);
    QStringList removed, failed;
    const QDir dir(m_dir);
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name)) {
        const auto match = dayFile.match(info.fileName());
        const QDate day = match.hasMatch() ? QDate::fromString(match.captured(1), Qt::ISODate) : QDate();
        if (!day.isValid() || day >= oldest || info.absoluteFilePath() == QFileInfo(m_current).absoluteFilePath())
            continue;
        (QFile::remove(info.filePath()) ? removed : failed) << info.fileName();
    }
    if (notes && !removed.isEmpty())
        *notes << QStringLiteral("removed %1 day files older than %2 days: %3")
                      .arg(removed.size())
                      .arg(*m_keepDays)
                      .arg(removed.join(QLatin1String(" ")));
    if (notes && !failed.isEmpty())
        *notes << QStringLiteral("could not remove old day files: %1").arg(failed.join(QLatin1String(" ")));
}

std::optional<QString> CsvOutput::reopen()
{
    if (m_file.isStandardOutput() || m_current.isEmpty())
        return std::nullopt;
    if (!m_dir.isEmpty() && !QDir().mkpath(m_dir))
        return QStringLiteral("%1: cannot create the directory").arg(m_dir);
    return openFile(m_current, nullptr);
}

std::optional<QString> CsvOutput::write(qint64 wallMsUtc, const QString& row, QStringList* notes)
{
    if (!m_dir.isEmpty()) {
        if (const auto name = m_days.due(wallMsUtc)) {
            if (auto error = openFile(QDir(m_dir).filePath(*name), notes))
                return error;
            // After midnight: files of days now too old go.
            removeOldDays(wallMsUtc, notes);
        }
    }
    if (!m_file.stillThere()) {
        if (notes)
            *notes << QStringLiteral("%1 was removed or renamed: writing a new one").arg(m_current);
        if (auto error = reopen())
            return error;
    }
    if (auto error = m_file.write(row.toUtf8()))
        return located(*error);
    return std::nullopt;
}
