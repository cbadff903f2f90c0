#pragma once

#include <QFile>
#include <QString>

#include <optional>

// The recording file kvddt.txt: created empty at start-up, held open for the
// run, one record per recording tick, each flushed to disk as it is written.
class Recorder {
public:
    static inline const QString FileName = QStringLiteral("kvddt.txt");

    // Creates (truncates) the file; the error text on failure.
    std::optional<QString> open(const QString& path);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }

    // One tick: counts it, adds `intervalMs` to the recorded time and appends
    // the record line. Returns the error text if the line could not be
    // written.
    std::optional<QString> writeRecord(int intervalMs, const QString& pitch, const QString& roll);

    qint64 RecCount = 0; // ticks recorded in this run, never reset
    qint64 recordedMs() const { return m_recordedMs; }

    // time TAB "Pitch" TAB pitch TAB "Roll" TAB roll CR LF
    static QString recordLine(qint64 elapsedMs, const QString& pitch, const QString& roll);

private:
    QFile m_file;
    qint64 m_recordedMs = 0; // sum of the interval in force at each tick
};
