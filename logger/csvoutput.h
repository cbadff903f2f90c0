#pragma once

#include "core/safefile.h"
#include "logger/csvlog.h"

#include <QString>

#include <optional>

// Where the CSV rows go: standard output, one file, or one file per UTC day
// in a folder. Each file starts with the header; a row is written whole or
// not at all. A file removed or renamed under the logger (by hand, or by
// logrotate) is noticed at the next row and made again at its path, header
// first, so no row goes into a file nobody can reach.
class CsvOutput {
public:
    // `path` "-" is standard output; a non-empty `dir` means daily files.
    // `header` begins each new file.
    CsvOutput(QString path, QString dir, QString header);

    // Opens what can be opened before the first row: standard output or the
    // file, or makes the folder. The error text if that fails.
    std::optional<QString> open();
    // Writes a row stamped `wallMsUtc`; the error text (with the file and
    // the system's reason) if it cannot. `note` receives a line for the
    // operator when the file had to be made again.
    std::optional<QString> write(qint64 wallMsUtc, const QString& row, QString* note);
    // The file again at its path (after a rotation), a new one with the
    // header if it was moved away.
    std::optional<QString> reopen();
    void close() { m_file.close(); }

    // "standard output", the file or "DIR/YYYY-MM-DD.csv", for the start line.
    QString describe() const;

private:
    std::optional<QString> openFile(const QString& path);
    QString located(const QString& error) const;

    QString m_path;
    QString m_dir;
    QString m_header;
    QString m_current; // the file rows go to now
    csvlog::DayRoller m_days;
    safefile::AppendFile m_file;
};
