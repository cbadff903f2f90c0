// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/safefile.h"

#include <QString>

#include <optional>

// The recording file kvddt.txt: created empty at start-up, held open for the
// run, one record per recording tick, each handed to the system as it is
// written. Only a regular file is used: a FIFO or a device under that name is
// refused rather than waited on or written into.
class Recorder {
public:
    static inline const QString FileName = QStringLiteral("kvddt.txt");

    Recorder() = default;
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Creates (truncates) the file; the error text on failure.
    std::optional<QString> open(const QString& path);
    // Opens the file at the same path again without emptying it (rotated
    // away, or removed), so that records go on where they are looked for.
    std::optional<QString> reopen();
    void close();
    bool isOpen() const;
    bool stillThere() const { return m_file.stillThere(); }
    QString path() const { return m_path; }

    // One tick: appends the record line, its time being the recorded time
    // plus `intervalMs`. A record is written whole or not at all, so the file
    // only ever holds whole records. Returns the error text (the system's
    // own reason, or that the file was removed or replaced) if it was not
    // written.
    std::optional<QString> writeRecord(int intervalMs, const QString& pitch, const QString& roll);

    // Ticks whose record is in the file, never reset. A tick whose record
    // could not be written is counted in neither of these, so both always
    // describe the file as it is, and a tick retried after a failure gets
    // the time the lost one would have had.
    qint64 recordCount = 0;
    qint64 recordedMs() const { return m_recordedMs; }

    // time TAB "Pitch" TAB pitch TAB "Roll" TAB roll CR LF
    static QString recordLine(qint64 elapsedMs, const QString& pitch, const QString& roll);

private:
    safefile::AppendFile m_file;
    QString m_path;
    qint64 m_recordedMs = 0; // sum of the interval in force at each recorded tick
};
