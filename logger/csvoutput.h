// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/safefile.h"
#include "logger/csvlog.h"

#include <QString>
#include <QStringList>

#include <optional>

// Where the CSV rows go: standard output, one file, or one file per UTC day
// in a folder. Each file starts with the header; a row is written whole or
// not at all. A file removed or renamed under the logger (by hand, or by
// logrotate) is noticed at the next row and made again at its path, header
// first, so no row goes into a file nobody can reach. A file to append to
// whose header is not this one (the columns changed with the options) is
// left alone: the rows go to "NAME-2.csv", the next free number, so a file
// never holds rows of two shapes. With `keepDays`, day files older than that
// are removed when the first file opens and after each midnight.
class CsvOutput {
public:
    // `path` "-" is standard output; a non-empty `dir` means daily files.
    // `header` begins each new file.
    CsvOutput(QString path, QString dir, QString header, std::optional<int> keepDays = std::nullopt);

    // Opens what can be opened before the first row: standard output or the
    // file, or makes the folder. The error text if that fails; `notes`
    // receives lines for the operator (another file chosen, files removed).
    std::optional<QString> open(qint64 wallMsUtc, QStringList* notes);
    // Writes a row stamped `wallMsUtc`; the error text (with the file and
    // the system's reason) if it cannot. `notes` as for open(), and when the
    // file had to be made again.
    std::optional<QString> write(qint64 wallMsUtc, const QString& row, QStringList* notes);
    // The file again at its path (after a rotation), a new one with the
    // header if it was moved away.
    std::optional<QString> reopen();
    void close() { m_file.close(); }

    // "standard output", the file or "DIR/YYYY-MM-DD.csv", for the start line.
    QString describe() const;

private:
    std::optional<QString> openFile(const QString& path, QStringList* notes);
    void removeOldDays(qint64 wallMsUtc, QStringList* notes);
    QString located(const QString& error) const;

    QString m_path;
    QString m_dir;
    QString m_header;
    std::optional<int> m_keepDays;
    QString m_current; // the file rows go to now
    csvlog::DayRoller m_days;
    safefile::AppendFile m_file;
};
