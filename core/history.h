// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

// What was recorded, read back: the logger's CSV files (one file, a folder
// of day files, several of them) and the window's kvddt.txt, merged in time
// order, with a summary built once while reading so that any span of a year
// of rows is drawn from a few points per pixel column, never from every row.
namespace history {

// Beyond this many rows reading stops (and says so): a file of gigabytes
// must not take the whole machine's memory.
inline constexpr qint64 MaxRows = 20'000'000;
// A line longer than this is not a row, whatever it holds.
inline constexpr int MaxLineBytes = 64 * 1024;

enum class Series { Pitch, Roll, Temperature, PitchChange, RollChange, PitchLow, PitchHigh, RollLow, RollHigh };
inline constexpr int SeriesCount = 9;

// 72 bytes, less than its line in the file: the angles at full precision,
// the rest (changes of a few degrees with four decimals, the others with
// two) as float, which holds them to their last digit.
struct Row {
    qint64 timeMs = 0; // UTC ms since the epoch, or ms since recording began (kvddt)
    qint64 offset = 0; // of its line in the file, for an export of the text
    double pitch = 0, roll = 0; // NaN where the row has none
    float pitchChange = 0, rollChange = 0, temperature = 0, pitchLow = 0, pitchHigh = 0, rollLow = 0, rollHigh = 0;
    quint32 samples = 0; // 0: not given
    quint16 file = 0; // index into Data::files
    quint16 length = 0; // of the line, without its end
    quint8 alarm = 0; // bit 0 pitch, bit 1 roll, bit 2 another text than ok
    double value(Series s) const;
    void set(Series s, double value);
};

enum class Format { Unknown, LoggerCsv, Kvddt };

// One file as it is being read.
struct File {
    QString path;
    Format format = Format::Unknown;
    QByteArray header; // the logger's header line, without its end
    QStringList columns;
    QString unit; // of its first row
    qint64 readTo = 0; // bytes taken (whole lines)
    qint64 lines = 0;
    qint64 badLines = 0;
    qint64 firstBadLine = 0; // its number, 1 being the first line
    QString firstBad; // why, with a little of its text
    bool refused = false; // not a file of ours, unreadable, or of another unit
    QString refusal;
};

// Takes a file's bytes as they come and gives its rows: a torn last line
// waits for its line end. Byte order mark, CR LF or LF, a header repeated in
// the middle (the file continued after a rotation), short or long rows, text
// where a number belongs: a bad line is counted and the first one named,
// never a row.
class FileParser {
public:
    // Goes on where an earlier parser of the file stopped (its columns known).
    FileParser(File& file, quint16 index);
    void take(const char* bytes, qsizetype size, std::vector<Row>& rows);

private:
    void line(const char* b, const char* e, qint64 offset, std::vector<Row>& rows);
    void bad(const QString& why, const char* b, const char* e);

    File& m_file;
    quint16 m_index;
    QByteArray m_pending; // a line without its end yet
    bool m_skipping = false; // inside a line too long to be a row
    qint64 m_skipped = 0;
    std::array<int, 13> m_column {}; // index of each known column, -1 if absent
    std::vector<std::pair<const char*, const char*>> m_fields;
    std::deque<QByteArray> m_store; // quoted fields without their quotes
};

// Per block of rows, each series' least and greatest value: a span of many
// rows is then read block by block, only its two ends row by row.
struct Block {
    std::array<double, SeriesCount> low {}, high {};
};
inline constexpr int BlockRows = 64;

// The least and greatest value of a series within one pixel column, and its
// first and last row; no rows: first > last.
struct Column {
    qint64 first = 1, last = 0;
    double low = 0.0, high = 0.0;
    bool empty() const { return first > last; }
};

struct Span {
    qint64 fromMs = 0, toMs = 0; // to is the last row's time
    quint8 alarm = 0; // the bits of Row::alarm
};

class Data {
public:
    std::vector<File> files;
    std::vector<Row> rows; // in time order, each once
    bool elapsed = false; // kvddt times: since recording began, not wall time
    QString unit; // of the rows drawn
    QStringList notes; // for the status line: what was skipped and why

    // PATHs: logger CSV files, folders of day files, kvddt files. `progress`
    // gets the bytes read so far and in all; reading ends early when
    // `cancel` becomes true. An error text when nothing readable was found.
    std::optional<QString> load(const QStringList& paths, const std::function<void(qint64, qint64)>& progress = {},
        const std::atomic<bool>* cancel = nullptr);
    // Reads what the files gained since (and day files new in the folders);
    // true when rows were added.
    bool follow();

    bool hasStatistics() const { return m_statistics; }
    bool hasChange() const { return m_change; }
    bool hasTemperature() const { return m_temperature; }
    // The usual spacing of rows (their median step); a longer gap than twice
    // this is drawn as a gap.
    qint64 spacingMs() const { return m_spacingMs; }
    const std::vector<Span>& alarms() const { return m_alarms; }

    // Rows from `fromMs` (inclusive) to `toMs` (exclusive), as indices.
    std::pair<qint64, qint64> range(qint64 fromMs, qint64 toMs) const;
    // `width` columns over [fromMs, toMs): each column's extremes of `series`.
    std::vector<Column> envelope(Series series, qint64 fromMs, qint64 toMs, int width) const;
    // Least and greatest of `series` over rows [first, last].
    std::optional<std::pair<double, double>> extremes(Series series, qint64 first, qint64 last) const;

    // The rows of [fromMs, toMs) as CSV: for logger files the header and
    // the lines as they stand in the files (only the columns all files
    // share, in the newest file's order, when they differ); kvddt lines as
    // they stand.
    QByteArray csv(qint64 fromMs, qint64 toMs) const;

    QString summaryText() const; // "N rows from ... to ..., M bad lines: first FILE line L: WHY"

private:
    void addFile(const QString& path);
    void readFiles(const std::function<void(qint64, qint64)>& progress, const std::atomic<bool>* cancel);
    void finish(qint64 firstNew);
    void rebuildBlocks(qint64 fromRow);

    std::vector<QString> m_folders;
    std::vector<Block> m_blocks;
    std::vector<Span> m_alarms;
    qint64 m_spacingMs = 0;
    bool m_statistics = false, m_change = false, m_temperature = false;
};

// Time-axis ticks at round times (seconds to years) over [fromMs, toMs),
// about `wanted` of them, in UTC or local time; elapsed times count from 0.
struct Tick {
    qint64 ms;
    QString label;
};
std::vector<Tick> ticks(qint64 fromMs, qint64 toMs, int wanted, bool utc, bool elapsed);

// "2026-12-01" (a UTC day) or "2026-12-01T06:00Z" / "...T06:00:00Z" /
// with an offset; std::nullopt when it is neither.
std::optional<qint64> parseTime(const QString& text);

} // namespace history
