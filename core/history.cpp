// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/history.h"

#include "core/safefile.h"
#include "core/timeformat.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <limits>
#include <malloc.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace history {

namespace {
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr qint64 ChunkBytes = 4 << 20;
constexpr qint64 MsPerDay = 86'400'000;

// The columns a logger file may have, by name; found in its header.
enum Col {
    CTime,
    CPitch,
    CRoll,
    CTemperature,
    CUnit,
    CAlarm,
    CPitchMin,
    CPitchMax,
    CRollMin,
    CRollMax,
    CSamples,
    CPitchChange,
    CRollChange,
    ColCount
};
const char* const ColumnNames[ColCount] = {"time", "pitch", "roll", "temperature", "unit", "alarm", "pitch_min",
    "pitch_max", "roll_min", "roll_max", "samples", "pitch_change", "roll_change"};

// A plain decimal as the files write it ("-17.8381", "25", ""): digits
// counted in an integer and divided once by an exact power of ten, which is
// the correctly rounded value (the same as strtod) for up to 15 digits, and
// several times faster. An empty field is NaN; anything else is refused.
bool decimal(const char* b, const char* e, double& out)
{
    if (b == e) {
        out = NaN;
        return true;
    }
    static constexpr double Powers[]
        = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const bool negative = *b == '-';
    if (*b == '-' || *b == '+')
        ++b;
    qint64 digits = 0;
    int significant = 0, decimals = -1;
    bool any = false;
    for (; b != e; ++b) {
        if (*b == '.' && decimals < 0) {
            decimals = 0;
            continue;
        }
        if (*b < '0' || *b > '9')
            return false;
        digits = digits * 10 + (*b - '0');
        significant += digits != 0 ? 1 : 0;
        decimals += decimals >= 0 ? 1 : 0;
        any = true;
        if (significant > 15 || decimals > 15)
            return false;
    }
    if (!any || decimals == 0)
        return false;
    const double value = double(digits) / Powers[std::max(decimals, 0)];
    out = negative ? -value : value;
    return true;
}

int twoDigits(const char* p)
{
    return p[0] >= '0' && p[0] <= '9' && p[1] >= '0' && p[1] <= '9' ? (p[0] - '0') * 10 + (p[1] - '0') : -1;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
qint64 daysFromCivil(int y, int m, int d)
{
    y -= m <= 2 ? 1 : 0;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = int(y - era * 400);
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// "2026-12-07T03:25:04.123Z", as the logger writes it; false for anything else.
bool isoUtc(const char* b, const char* e, qint64& ms)
{
    if (e - b != 24 || b[4] != '-' || b[7] != '-' || b[10] != 'T' || b[13] != ':' || b[16] != ':' || b[19] != '.'
        || b[23] != 'Z')
        return false;
    const int y1 = twoDigits(b), y2 = twoDigits(b + 2), mo = twoDigits(b + 5), d = twoDigits(b + 8),
              h = twoDigits(b + 11), mi = twoDigits(b + 14), s = twoDigits(b + 17), f1 = twoDigits(b + 20);
    const int f2 = b[22] >= '0' && b[22] <= '9' ? b[22] - '0' : -1;
    if (y1 < 0 || y2 < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0
        || s > 60 || f1 < 0 || f2 < 0)
        return false;
    ms = ((daysFromCivil(y1 * 100 + y2, mo, d) * 24 + h) * 60 + mi) * 60'000LL + s * 1000LL + qint64(f1) * 10 + f2;
    return true;
}

using Fields = std::vector<std::pair<const char*, const char*>>;

// The fields of a line; a quoted field (RFC 4180) loses its quotes, kept in
// `store`.
void splitFields(const char* b, const char* e, char separator, Fields& out, std::deque<QByteArray>& store)
{
    out.clear();
    if (!std::memchr(b, '"', std::size_t(e - b))) { // the logger's own rows: no quotes
        for (const char* p = b;;) {
            const char* next = static_cast<const char*>(std::memchr(p, separator, std::size_t(e - p)));
            out.emplace_back(p, next ? next : e);
            if (!next)
                return;
            p = next + 1;
        }
    }
    store.clear();
    const char* p = b;
    for (;;) {
        if (p < e && *p == '"') {
            QByteArray& field = store.emplace_back();
            for (++p; p < e; ++p) {
                if (*p != '"')
                    field += *p;
                else if (p + 1 < e && p[1] == '"')
                    field += *++p;
                else
                    break;
            }
            while (p < e && *p != separator)
                ++p;
            out.emplace_back(field.constData(), field.constData() + field.size());
        } else {
            const char* start = p;
            while (p < e && *p != separator)
                ++p;
            out.emplace_back(start, p);
        }
        if (p >= e)
            return;
        ++p;
    }
}

bool equals(const std::pair<const char*, const char*>& f, const char* text)
{
    const auto n = std::strlen(text);
    return std::size_t(f.second - f.first) == n && std::memcmp(f.first, text, n) == 0;
}

QString shown(const char* b, const char* e)
{
    QString text = QString::fromUtf8(b, std::min<qsizetype>(e - b, 60));
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    return text + (e - b > 60 ? QStringLiteral("...") : QString());
}
} // namespace

double Row::value(Series s) const
{
    switch (s) {
    case Series::Pitch:
        return pitch;
    case Series::Roll:
        return roll;
    case Series::Temperature:
        return temperature;
    case Series::PitchChange:
        return pitchChange;
    case Series::RollChange:
        return rollChange;
    case Series::PitchLow:
        return pitchLow;
    case Series::PitchHigh:
        return pitchHigh;
    case Series::RollLow:
        return rollLow;
    case Series::RollHigh:
        return rollHigh;
    }
    return NaN;
}

void Row::set(Series s, double value)
{
    switch (s) {
    case Series::Pitch:
        pitch = value;
        break;
    case Series::Roll:
        roll = value;
        break;
    case Series::Temperature:
        temperature = float(value);
        break;
    case Series::PitchChange:
        pitchChange = float(value);
        break;
    case Series::RollChange:
        rollChange = float(value);
        break;
    case Series::PitchLow:
        pitchLow = float(value);
        break;
    case Series::PitchHigh:
        pitchHigh = float(value);
        break;
    case Series::RollLow:
        rollLow = float(value);
        break;
    case Series::RollHigh:
        rollHigh = float(value);
        break;
    }
}

FileParser::FileParser(File& file, quint16 index) : m_file(file), m_index(index)
{
    for (int c = 0; c < ColCount; ++c)
        m_column[std::size_t(c)] = int(m_file.columns.indexOf(QLatin1String(ColumnNames[c])));
}

void FileParser::bad(const QString& why, const char* b, const char* e)
{
    if (m_file.badLines++ == 0) {
        m_file.firstBadLine = m_file.lines;
        m_file.firstBad = why + QStringLiteral(": '") + shown(b, e) + QLatin1Char('\'');
    }
}

void FileParser::take(const char* bytes, qsizetype size, std::vector<Row>& rows)
{
    const char* p = bytes;
    const char* const end = bytes + size;
    while (p < end && !m_file.refused) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        if (!nl) { // a torn line: it waits for its end
            if (m_skipping) {
                m_skipped += end - p;
                return;
            }
            m_pending.append(p, end - p);
            if (m_pending.size() > MaxLineBytes) {
                ++m_file.lines;
                bad(QStringLiteral("a line longer than %1 bytes").arg(MaxLineBytes), m_pending.constData(),
                    m_pending.constData() + m_pending.size());
                m_skipping = true;
                m_skipped = m_pending.size();
                m_pending.clear();
            }
            return;
        }
        const qsizetype length = nl - p;
        if (m_skipping) { // the end of an overlong line
            m_file.readTo += m_skipped + length + 1;
            m_skipping = false;
            m_skipped = 0;
            p = nl + 1;
            continue;
        }
        const qint64 offset = m_file.readTo;
        m_file.readTo += m_pending.size() + length + 1;
        if (m_pending.isEmpty()) {
            line(p, nl, offset, rows);
        } else {
            m_pending.append(p, length);
            const QByteArray whole = std::exchange(m_pending, QByteArray());
            line(whole.constData(), whole.constData() + whole.size(), offset, rows);
        }
        p = nl + 1;
    }
}

void FileParser::line(const char* b, const char* e, qint64 offset, std::vector<Row>& rows)
{
    ++m_file.lines;
    if (e > b && e[-1] == '\r')
        --e;
    if (m_file.lines == 1 && e - b >= 3 && std::memcmp(b, "\xEF\xBB\xBF", 3) == 0) {
        b += 3;
        offset += 3;
    }
    if (b == e)
        return;
    if (e - b > MaxLineBytes)
        return bad(QStringLiteral("a line longer than %1 bytes").arg(MaxLineBytes), b, e);
    const QByteArray text = QByteArray::fromRawData(b, e - b);
    if (m_file.format == Format::Unknown) {
        if (text.startsWith("time,") && text.contains(",pitch,")) {
            m_file.format = Format::LoggerCsv;
            m_file.header = QByteArray(b, e - b);
            m_file.columns = QString::fromUtf8(m_file.header).split(QLatin1Char(','));
            for (int c = 0; c < ColCount; ++c)
                m_column[std::size_t(c)] = int(m_file.columns.indexOf(QLatin1String(ColumnNames[c])));
            return;
        }
        if (!text.contains("\tPitch\t")) {
            m_file.refused = true;
            m_file.refusal = QStringLiteral("neither the logger's CSV nor a kvddt.txt (line 1: '%1')").arg(shown(b, e));
            return;
        }
        m_file.format = Format::Kvddt;
    }
    Row row;
    row.file = m_index;
    row.offset = offset;
    row.length = quint16(e - b);
    row.pitch = row.roll = NaN;
    row.pitchChange = row.rollChange = row.temperature = row.pitchLow = row.pitchHigh = row.rollLow = row.rollHigh
        = float(NaN);
    if (m_file.format == Format::Kvddt) {
        splitFields(b, e, '\t', m_fields, m_store);
        double seconds = 0, pitch = 0, roll = 0;
        if (m_fields.size() != 5 || !equals(m_fields[1], "Pitch") || !equals(m_fields[3], "Roll")
            || !decimal(m_fields[0].first, m_fields[0].second, seconds) || !std::isfinite(seconds))
            return bad(QStringLiteral("not a kvddt record"), b, e);
        const auto blankOr = [](std::pair<const char*, const char*> f, double& v) {
            while (f.first < f.second && *f.first == ' ')
                ++f.first;
            return decimal(f.first, f.second, v);
        };
        if (!blankOr(m_fields[2], pitch) || !blankOr(m_fields[4], roll))
            return bad(QStringLiteral("a value that is not a number"), b, e);
        row.timeMs = qint64(std::llround(seconds * 1000.0));
        row.pitch = pitch;
        row.roll = roll;
        rows.push_back(row);
        return;
    }
    if (text == m_file.header)
        return bad(QStringLiteral("the header again"), b, e);
    splitFields(b, e, ',', m_fields, m_store);
    if (m_fields.size() != std::size_t(m_file.columns.size()))
        return bad(
            QStringLiteral("%1 fields, the header has %2").arg(m_fields.size()).arg(m_file.columns.size()), b, e);
    const auto field = [this](int c) {
        const int i = m_column[std::size_t(c)];
        return i < 0 ? std::pair<const char*, const char*> {nullptr, nullptr} : m_fields[std::size_t(i)];
    };
    const auto [tb, te] = field(CTime);
    if (!tb || !isoUtc(tb, te, row.timeMs))
        return bad(QStringLiteral("a time that is not YYYY-MM-DDTHH:MM:SS.mmmZ"), b, e);
    static constexpr std::pair<Col, Series> NumberColumns[]
        = {{CPitch, Series::Pitch}, {CRoll, Series::Roll}, {CTemperature, Series::Temperature},
            {CPitchMin, Series::PitchLow}, {CPitchMax, Series::PitchHigh}, {CRollMin, Series::RollLow},
            {CRollMax, Series::RollHigh}, {CPitchChange, Series::PitchChange}, {CRollChange, Series::RollChange}};
    for (const auto& [c, s] : NumberColumns) {
        const auto [fb, fe] = field(c);
        double v = NaN;
        if (fb && !decimal(fb, fe, v))
            return bad(QStringLiteral("%1 is not a number").arg(QLatin1String(ColumnNames[c])), b, e);
        row.set(s, v);
    }
    if (const auto [sb, se] = field(CSamples); sb) {
        double n = 0;
        if (!decimal(sb, se, n) || !(n >= 0) || n > 4e9)
            return bad(QStringLiteral("samples is not a count"), b, e);
        row.samples = quint32(n);
    }
    if (const auto [ub, ue] = field(CUnit); ub) {
        if (m_file.unit.isEmpty())
            m_file.unit = QString::fromUtf8(ub, ue - ub);
        else if (QLatin1String(ub, ue - ub) != m_file.unit)
            return bad(QStringLiteral("another unit than the file's first (%1)").arg(m_file.unit), b, e);
    }
    if (const auto [ab, ae] = field(CAlarm); ab && !equals({ab, ae}, "ok")) {
        const QByteArray alarm(ab, ae - ab);
        row.alarm = quint8((alarm.contains("pitch") ? 1 : 0) | (alarm.contains("roll") ? 2 : 0)
            | (alarm != "pitch" && alarm != "roll" && alarm != "pitch;roll" ? 4 : 0));
    }
    rows.push_back(row);
}

void Data::addFile(const QString& path)
{
    File f;
    f.path = path;
    files.push_back(f);
}

std::optional<QString> Data::load(
    const QStringList& paths, const std::function<void(qint64, qint64)>& progress, const std::atomic<bool>* cancel)
{
    static const QRegularExpression dayFile(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}(-\\d+)?\\.csv$"));
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            m_folders.push_back(path);
            QStringList names = QDir(path).entryList(QDir::Files, QDir::Name);
            names = names.filter(dayFile);
            if (names.isEmpty())
                notes << QStringLiteral("%1: no day files (YYYY-MM-DD.csv) in the folder").arg(path);
            for (const QString& name : std::as_const(names))
                addFile(QDir(path).filePath(name));
        } else {
            addFile(path);
        }
    }
    readFiles(progress, cancel);
    finish(0);
    // The readers' buffers and per-file rows, freed on two threads, would
    // otherwise stay with glibc's arenas: the rows alone are to remain.
    malloc_trim(0);
    if (cancel && cancel->load())
        return QStringLiteral("cancelled");
    if (rows.empty()) {
        QStringList why = notes;
        for (const File& f : files)
            if (f.refused)
                why << f.path + QStringLiteral(": ") + f.refusal;
        return why.isEmpty() ? QStringLiteral("no rows in %1").arg(paths.join(QLatin1String(", ")))
                             : why.join(QLatin1String("; "));
    }
    return std::nullopt;
}

void Data::readFiles(const std::function<void(qint64, qint64)>& progress, const std::atomic<bool>* cancel)
{
    qint64 total = 0;
    std::vector<qint64> sizes(files.size(), 0);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const QFileInfo info(files[i].path);
        sizes[i] = info.isFile() ? std::max<qint64>(0, info.size() - files[i].readTo) : 0;
        total += sizes[i];
    }
    // The files are read on two threads, each into rows of its own: day
    // files are many and independent, and the machine has two cores.
    std::atomic<qint64> done {0};
    std::atomic<std::size_t> next {0};
    std::atomic<qint64> rowCount {qint64(rows.size())};
    std::vector<std::vector<Row>> parts(files.size());
    const auto work = [&] {
        std::vector<char> buffer(static_cast<std::size_t>(ChunkBytes));
        for (std::size_t i; (i = next++) < files.size();) {
            File& f = files[i];
            if (f.refused || (cancel && cancel->load()))
                continue;
            // The one safe way to open: a FIFO or a device never blocks us.
            const auto opened = safefile::open(f.path, O_RDONLY);
            if (const QString* error = std::get_if<QString>(&opened)) {
                f.refused = true;
                f.refusal = *error;
                continue;
            }
            const int fd = std::get<int>(opened);
            FileParser parser(f, quint16(i));
            qint64 at = f.readTo;
            while (!(cancel && cancel->load()) && !f.refused && rowCount.load() < MaxRows) {
                ssize_t n;
                while ((n = ::pread(fd, buffer.data(), buffer.size(), at)) < 0 && errno == EINTR) { }
                if (n <= 0)
                    break;
                at += n;
                const std::size_t before = parts[i].size();
                parser.take(buffer.data(), n, parts[i]);
                rowCount += qint64(parts[i].size() - before);
                done += n;
                if (progress)
                    progress(done.load(), total);
            }
            ::close(fd);
        }
    };
    std::thread helper(work);
    work();
    helper.join();
    std::size_t rowsInAll = rows.size();
    for (const auto& part : parts)
        rowsInAll += part.size();
    rows.reserve(rowsInAll);
    for (std::size_t i = 0; i < files.size(); ++i) {
        rows.insert(rows.end(), parts[i].begin(), parts[i].end());
        std::vector<Row>().swap(parts[i]); // given back at once: the peak stays near one copy
    }
    if (rowCount.load() >= MaxRows)
        notes << QStringLiteral("reading stopped after %1 rows").arg(MaxRows);
}

void Data::finish(qint64 firstNew)
{
    // The wall clock's files decide: a kvddt.txt counts from its own start
    // and is not drawn on the same axis.
    bool logger = false;
    for (const File& f : files)
        logger = logger || (!f.refused && f.format == Format::LoggerCsv);
    if (unit.isEmpty())
        for (const File& f : files)
            if (!f.refused && f.format == Format::LoggerCsv && !f.unit.isEmpty()) {
                unit = f.unit;
                break;
            }
    elapsed = !logger;
    std::vector<bool> drop(files.size(), false);
    for (std::size_t i = 0; i < files.size(); ++i) {
        File& f = files[i];
        if (f.refused)
            continue;
        if (logger && f.format == Format::Kvddt) {
            drop[i] = f.refused = true;
            f.refusal = QStringLiteral("a kvddt.txt counts from its own start: not drawn with the logger's files");
        } else if (f.format == Format::LoggerCsv && !f.unit.isEmpty() && f.unit != unit) {
            drop[i] = f.refused = true;
            f.refusal = QStringLiteral("in %1, the others in %2: not drawn on one axis").arg(f.unit, unit);
        }
    }
    if (std::find(drop.begin(), drop.end(), true) != drop.end())
        rows.erase(std::remove_if(rows.begin() + firstNew, rows.end(), [&drop](const Row& r) { return drop[r.file]; }),
            rows.end());
    const auto byTime = [](const Row& a, const Row& b) { return a.timeMs < b.timeMs; };
    if (!std::is_sorted(rows.begin() + std::max<qint64>(firstNew - 1, 0), rows.end(), byTime)) {
        std::stable_sort(rows.begin(), rows.end(), byTime);
        firstNew = 0; // the summary is built again from the first row
    }
    // A row present twice (a rotated file beside its copy) is one row.
    const auto same = [](const Row& a, const Row& b) {
        return a.timeMs == b.timeMs && a.samples == b.samples
            && (a.pitch == b.pitch || (std::isnan(a.pitch) && std::isnan(b.pitch)))
            && (a.roll == b.roll || (std::isnan(a.roll) && std::isnan(b.roll)));
    };
    rows.erase(std::unique(rows.begin() + std::max<qint64>(firstNew - 1, 0), rows.end(), same), rows.end());
    for (const Row& r : rows) {
        m_statistics = m_statistics || !std::isnan(r.pitchLow);
        m_change = m_change || !std::isnan(r.pitchChange);
        m_temperature = m_temperature || !std::isnan(r.temperature);
        if (m_statistics && m_change && m_temperature)
            break;
    }
    // The median step, from a sample of the rows: quick for a year of them.
    std::vector<qint64> steps;
    const std::size_t stride = std::max<std::size_t>(1, rows.size() / 4096);
    for (std::size_t i = stride; i < rows.size(); i += stride)
        if (const qint64 d = rows[i].timeMs - rows[i - 1].timeMs; d > 0)
            steps.push_back(d);
    if (!steps.empty()) {
        std::nth_element(steps.begin(), steps.begin() + qsizetype(steps.size() / 2), steps.end());
        m_spacingMs = steps[steps.size() / 2];
    }
    m_alarms.clear();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        if (r.alarm == 0)
            continue;
        const qint64 from = i > 0 ? rows[i - 1].timeMs : r.timeMs - m_spacingMs;
        if (!m_alarms.empty() && m_alarms.back().alarm == r.alarm && i > 0 && rows[i - 1].alarm == r.alarm
            && r.timeMs - rows[i - 1].timeMs <= 2 * m_spacingMs)
            m_alarms.back().toMs = r.timeMs;
        else
            m_alarms.push_back({std::max(from, r.timeMs - 2 * m_spacingMs), r.timeMs, r.alarm});
    }
    rebuildBlocks(std::min<qint64>(firstNew, qint64(rows.size())));
}

void Data::rebuildBlocks(qint64 fromRow)
{
    const auto first = std::size_t(fromRow / BlockRows);
    m_blocks.resize((rows.size() + BlockRows - 1) / BlockRows);
    for (std::size_t b = first; b < m_blocks.size(); ++b) {
        Block& block = m_blocks[b];
        block.low.fill(std::numeric_limits<double>::infinity());
        block.high.fill(-std::numeric_limits<double>::infinity());
        const std::size_t end = std::min(rows.size(), (b + 1) * BlockRows);
        for (std::size_t i = b * BlockRows; i < end; ++i) {
            const Row& r = rows[i];
            const double values[SeriesCount] = {r.pitch, r.roll, r.temperature, r.pitchChange, r.rollChange, r.pitchLow,
                r.pitchHigh, r.rollLow, r.rollHigh};
            for (int s = 0; s < SeriesCount; ++s) {
                // NaN compares false both ways and so leaves the extremes alone.
                block.low[std::size_t(s)]
                    = values[s] < block.low[std::size_t(s)] ? values[s] : block.low[std::size_t(s)];
                block.high[std::size_t(s)]
                    = values[s] > block.high[std::size_t(s)] ? values[s] : block.high[std::size_t(s)];
            }
        }
    }
}

bool Data::follow()
{
    static const QRegularExpression dayFile(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}(-\\d+)?\\.csv$"));
    for (const QString& folder : m_folders) {
        for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name).filter(dayFile)) {
            const QString path = QDir(folder).filePath(name);
            if (std::none_of(files.begin(), files.end(), [&path](const File& f) { return f.path == path; }))
                addFile(path);
        }
    }
    bool grown = false;
    for (const File& f : files)
        grown = grown || (!f.refused && QFileInfo(f.path).size() > f.readTo);
    if (!grown)
        return false;
    const auto before = qint64(rows.size());
    // Only what came since: each file goes on from its last whole line.
    readFiles({}, nullptr);
    finish(before);
    return qint64(rows.size()) != before;
}

std::pair<qint64, qint64> Data::range(qint64 fromMs, qint64 toMs) const
{
    const auto lo
        = std::lower_bound(rows.begin(), rows.end(), fromMs, [](const Row& r, qint64 t) { return r.timeMs < t; });
    const auto hi = std::lower_bound(lo, rows.end(), toMs, [](const Row& r, qint64 t) { return r.timeMs < t; });
    return {lo - rows.begin(), hi - rows.begin()};
}

namespace {
// Calls `f` with an accessor of `series` that the compiler can inline: the
// envelope reads a value thousands of times per picture.
template <class F> auto withSeries(Series series, F&& f)
{
    switch (series) {
    case Series::Pitch:
        return f([](const Row& r) { return r.pitch; });
    case Series::Roll:
        return f([](const Row& r) { return r.roll; });
    case Series::Temperature:
        return f([](const Row& r) { return double(r.temperature); });
    case Series::PitchChange:
        return f([](const Row& r) { return double(r.pitchChange); });
    case Series::RollChange:
        return f([](const Row& r) { return double(r.rollChange); });
    case Series::PitchLow:
        return f([](const Row& r) { return double(r.pitchLow); });
    case Series::PitchHigh:
        return f([](const Row& r) { return double(r.pitchHigh); });
    case Series::RollLow:
        return f([](const Row& r) { return double(r.rollLow); });
    case Series::RollHigh:
        break;
    }
    return f([](const Row& r) { return double(r.rollHigh); });
}

template <class Get>
std::optional<std::pair<double, double>> extremesOf(
    const std::vector<Row>& rows, const std::vector<Block>& blocks, std::size_t s, qint64 first, qint64 last, Get get)
{
    double low = std::numeric_limits<double>::infinity(), high = -low;
    const auto take = [&](double v) { // NaN compares false both ways: left out
        low = v < low ? v : low;
        high = v > high ? v : high;
    };
    qint64 i = first;
    for (; i <= last && i % BlockRows != 0; ++i)
        take(get(rows[std::size_t(i)]));
    for (; i + BlockRows - 1 <= last; i += BlockRows) {
        const Block& b = blocks[std::size_t(i / BlockRows)];
        take(b.low[s]);
        take(b.high[s]);
    }
    for (; i <= last; ++i)
        take(get(rows[std::size_t(i)]));
    if (low > high)
        return std::nullopt;
    return std::pair {low, high};
}
} // namespace

std::optional<std::pair<double, double>> Data::extremes(Series series, qint64 first, qint64 last) const
{
    return withSeries(
        series, [&](auto get) { return extremesOf(rows, m_blocks, std::size_t(series), first, last, get); });
}

std::vector<Column> Data::envelope(Series series, qint64 fromMs, qint64 toMs, int width) const
{
    std::vector<Column> columns(std::size_t(std::max(width, 0)));
    if (width <= 0 || toMs <= fromMs)
        return columns;
    const double step = double(toMs - fromMs) / width;
    withSeries(series, [&](auto get) {
        qint64 i = range(fromMs, toMs).first;
        const auto byTime = [](const Row& r, qint64 t) { return r.timeMs < t; };
        for (int c = 0; c < width && i < qint64(rows.size()); ++c) {
            const qint64 end = c + 1 == width ? toMs : fromMs + qint64(std::floor((c + 1) * step));
            // The column's rows: found by a search from where the last one ended.
            const qint64 j = std::lower_bound(rows.begin() + i, rows.end(), end, byTime) - rows.begin();
            if (j > i)
                if (const auto e = extremesOf(rows, m_blocks, std::size_t(series), i, j - 1, get)) {
                    Column& col = columns[std::size_t(c)];
                    col.first = i;
                    col.last = j - 1;
                    col.low = e->first;
                    col.high = e->second;
                }
            i = j;
        }
        return 0;
    });
    return columns;
}

QByteArray Data::csv(qint64 fromMs, qint64 toMs) const
{
    const auto [first, end] = range(fromMs, toMs);
    QByteArray out;
    if (elapsed) { // kvddt: its lines as they stand
        for (qint64 i = first; i < end; ++i) {
            const Row& r = rows[std::size_t(i)];
            QFile f(files[r.file].path);
            if (f.open(QIODevice::ReadOnly) && f.seek(r.offset))
                out += f.read(r.length) + "\r\n";
        }
        return out;
    }
    // The newest file's columns, less those another file in the span lacks.
    std::vector<bool> used(files.size(), false);
    for (qint64 i = first; i < end; ++i)
        used[rows[std::size_t(i)].file] = true;
    const File* newest = nullptr;
    for (std::size_t f = 0; f < files.size(); ++f)
        if (!files[f].refused && files[f].format == Format::LoggerCsv && (used[f] || first == end))
            newest = &files[f];
    if (!newest)
        return out;
    QStringList common = newest->columns;
    bool differ = false;
    for (std::size_t f = 0; f < files.size(); ++f) {
        if (!used[f] || files[f].columns == newest->columns)
            continue;
        differ = true;
        common.removeIf([&](const QString& c) { return !files[f].columns.contains(c); });
    }
    out += common.join(QLatin1Char(',')).toUtf8() + "\r\n";
    // Read file by file, in order, with one descriptor each.
    std::vector<int> fds(files.size(), -1);
    for (qint64 i = first; i < end; ++i) {
        const Row& r = rows[std::size_t(i)];
        int& fd = fds[r.file];
        if (fd < 0) {
            const auto opened = safefile::open(files[r.file].path, O_RDONLY);
            if (!std::holds_alternative<int>(opened))
                continue;
            fd = std::get<int>(opened);
        }
        QByteArray line(r.length, Qt::Uninitialized);
        if (::pread(fd, line.data(), r.length, r.offset) != r.length)
            continue;
        if (differ) {
            const QList<QByteArray> values = line.split(',');
            QByteArrayList picked;
            for (const QString& c : std::as_const(common))
                picked << values.value(files[r.file].columns.indexOf(c));
            line = picked.join(',');
        }
        out += line + "\r\n";
    }
    for (const int fd : fds)
        if (fd >= 0)
            ::close(fd);
    return out;
}

QString Data::summaryText() const
{
    QStringList parts;
    if (rows.empty())
        parts << QStringLiteral("no rows");
    else if (elapsed)
        parts << QStringLiteral("%1 rows over %2 s").arg(rows.size()).arg(double(rows.back().timeMs) / 1000.0);
    else
        parts << QStringLiteral("%1 rows from %2 to %3")
                     .arg(rows.size())
                     .arg(timefmt::isoUtc(rows.front().timeMs), timefmt::isoUtc(rows.back().timeMs));
    qint64 bad = 0;
    const File* firstBad = nullptr;
    for (const File& f : files) {
        bad += f.badLines;
        if (!firstBad && f.badLines > 0)
            firstBad = &f;
        if (f.refused)
            parts << f.path + QStringLiteral(": ") + f.refusal;
    }
    if (firstBad)
        parts << QStringLiteral("%1 bad lines skipped, the first %2 line %3: %4")
                     .arg(bad)
                     .arg(firstBad->path)
                     .arg(firstBad->firstBadLine)
                     .arg(firstBad->firstBad);
    return (parts + notes).join(QLatin1String("; "));
}

std::vector<Tick> ticks(qint64 fromMs, qint64 toMs, int wanted, bool utc, bool elapsed)
{
    std::vector<Tick> out;
    if (toMs <= fromMs || wanted < 1)
        return out;
    static constexpr qint64 Steps[]
        = {1000, 2000, 5000, 10'000, 15'000, 30'000, 60'000, 120'000, 300'000, 600'000, 900'000, 1'800'000, 3'600'000,
            7'200'000, 10'800'000, 21'600'000, 43'200'000, MsPerDay, 2 * MsPerDay, 7 * MsPerDay, 14 * MsPerDay};
    const qint64 span = toMs - fromMs;
    qint64 step = 0;
    for (const qint64 s : Steps)
        if (span / s <= wanted) {
            step = s;
            break;
        }
    if (elapsed) {
        step = step ? step : Steps[std::size(Steps) - 1];
        for (qint64 t = (fromMs + step - 1) / step * step; t < toMs; t += step) {
            const qint64 s = t / 1000;
            out.push_back({t,
                s >= 86400 ? QStringLiteral("%1d %2:%3")
                                 .arg(s / 86400)
                                 .arg(s % 86400 / 3600)
                                 .arg(s % 3600 / 60, 2, 10, QLatin1Char('0'))
                           : QStringLiteral("%1:%2:%3")
                                 .arg(s / 3600)
                                 .arg(s % 3600 / 60, 2, 10, QLatin1Char('0'))
                                 .arg(s % 60, 2, 10, QLatin1Char('0'))});
        }
        return out;
    }
    const QTimeZone zone = utc ? QTimeZone::utc() : QTimeZone::systemTimeZone();
    const auto at = [&zone](qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms, zone); };
    if (step != 0 && step < MsPerDay) {
        // Round in the zone's own clock, so "06:00" is six o'clock there.
        const qint64 offset = qint64(at(fromMs).offsetFromUtc()) * 1000;
        for (qint64 t = (fromMs + offset + step - 1) / step * step - offset; t < toMs; t += step) {
            const QDateTime d = at(t);
            const bool midnight = d.time() == QTime(0, 0);
            out.push_back({t,
                midnight ? d.toString(QStringLiteral("MM-dd"))
                         : d.toString(step < 60'000 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"))});
        }
        return out;
    }
    // Days, weeks (from Mondays), months, years: calendar steps from a
    // midnight in the zone.
    const QDate day = at(fromMs).date();
    const auto startOf = [&zone](QDate d) { return QDateTime(d, QTime(0, 0), zone).toMSecsSinceEpoch(); };
    if (step != 0) {
        const int days = int(step / MsPerDay);
        QDate d = days >= 7 ? day.addDays((8 - day.dayOfWeek()) % 7) : day;
        for (; startOf(d) < toMs; d = d.addDays(days))
            if (startOf(d) >= fromMs)
                out.push_back({startOf(d), d.toString(QStringLiteral("MM-dd"))});
        return out;
    }
    static constexpr int Months[] = {1, 2, 3, 6, 12, 24, 60, 120};
    int months = Months[std::size(Months) - 1];
    for (const int m : Months)
        if (span / (qint64(m) * 30 * MsPerDay) <= wanted) {
            months = m;
            break;
        }
    for (QDate d(day.year() - day.year() % std::max(1, months / 12), 1, 1); startOf(d) < toMs; d = d.addMonths(months))
        if (startOf(d) >= fromMs)
            out.push_back({startOf(d), d.toString(months >= 12 ? QStringLiteral("yyyy") : QStringLiteral("yyyy-MM"))});
    return out;
}

std::optional<qint64> parseTime(const QString& text)
{
    const QString t = text.trimmed();
    if (t.size() == 10) {
        const QDate d = QDate::fromString(t, Qt::ISODate);
        if (!d.isValid())
            return std::nullopt;
        return QDateTime(d, QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch();
    }
    QDateTime dt = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!dt.isValid() || !t.contains(QLatin1Char('T')))
        return std::nullopt;
    // Without Z or an offset, the time is UTC as the files are.
    const QString zone = t.mid(t.indexOf(QLatin1Char('T')));
    if (!zone.endsWith(QLatin1Char('Z')) && !zone.contains(QLatin1Char('+')) && !zone.contains(QLatin1Char('-')))
        dt = QDateTime(dt.date(), dt.time(), QTimeZone::utc());
    return dt.toMSecsSinceEpoch();
}

} // namespace history
