// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <variant>

// The one way the programs open a file by name: a regular file only, opened
// without blocking (a FIFO or a device under that name can neither freeze a
// start-up nor receive records), and checked on the descriptor that is then
// used, so nothing can be swapped in between a check and the open.
namespace safefile {

inline const QString NotRegular = QStringLiteral("not a regular file");
// "larger than N bytes"
QString tooLarge(qint64 maxBytes);

// The system's reason for `errorNumber`, e.g. "No space left on device".
QString reason(int errorNumber);

// A descriptor for `path` opened with `flags` (O_RDONLY, O_WRONLY | O_CREAT |
// O_APPEND, ...; O_NONBLOCK, O_NOCTTY and O_CLOEXEC are added, and blocking
// I/O is restored once the file is known to be regular), or the error text:
// "not a regular file" or the system's reason. The caller closes it.
std::variant<int, QString> open(const QString& path, int flags, unsigned mode = 0666);

// The whole content of a regular file of at most `maxBytes`, or the error
// text ("not a regular file", "larger than N bytes" or the system's reason).
std::variant<QByteArray, QString> read(const QString& path, qint64 maxBytes);

// Writes all of `bytes` or nothing: after a short write the file is cut back
// to `sizeBefore` (not for a pipe or a terminal: -1). The error text (the system's reason) if not written.
std::variant<std::monostate, QString> writeWhole(int fd, const QByteArray& bytes, qint64 sizeBefore);

// The open descriptor still is the file at `path` (not removed, renamed away
// or replaced).
bool stillAt(int fd, const QString& path);

// A file that records are appended to, each whole or not at all, whose
// removal or replacement under us is noticed.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile() { close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens (creating) `path`: a regular file, or with `nullAllowed` also
    // the null device, for an operator who wants no file. `truncate`
    // empties it first. A file that
    // does not end in a line end (a record torn by a crash or a full disk)
    // gets "\r\n" first, so the next record starts on a line of its own.
    std::optional<QString> open(const QString& path, bool truncate = false, bool nullAllowed = false);
    // Standard output, whatever it is (terminal, pipe, socket, file); it is
    // never closed here.
    void openStandardOutput();
    void close();

    bool isOpen() const { return m_fd >= 0; }
    bool isStandardOutput() const { return m_fd >= 0 && m_path.isEmpty(); }
    QString path() const { return m_path; } // "" for standard output
    bool isEmpty() const; // nothing written to it yet, by us or before us
    // The file's first line with its line end, read from the start (at most
    // `maxBytes`); empty when it cannot be read.
    QByteArray firstLine(qint64 maxBytes = 4096) const;
    // False once the file was removed, renamed away or replaced.
    bool stillThere() const;
    // The error text (the system's reason) if not written; a short write is
    // cut back, so the file only ever holds whole records.
    std::optional<QString> write(const QByteArray& bytes) const;

private:
    int m_fd = -1;
    QString m_path;
    bool m_checked = true; // a regular file, whose name must lead to it
};

} // namespace safefile
