// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// The logger's CSV text, free of files and clocks so every byte can be
// tested. Rows end with CR LF as RFC 4180 asks, which spreadsheet programs
// on every system read.
namespace csvlog {

inline constexpr char LineEnd[] = "\r\n";

struct Record {
    qint64 wallMsUtc = 0; // ms since the epoch
    double elapsedS = 0.0; // since the logger started
    double pitch = 0.0; // NaN: no reading, an empty field
    double roll = 0.0;
    double temperature = 0.0;
    QString unit;
    QString alarm; // AlarmRule::stateText(), or "ok" without an alarm
    // Of the interval's cycles; pitch, roll and temperature are their means.
    double pitchMin = 0.0, pitchMax = 0.0, rollMin = 0.0, rollMax = 0.0;
    quint64 samples = 0;
    // The mean minus the reference zero, with a reference only.
    std::optional<double> pitchChange, rollChange;
    // The row is the interval's last cycle (--aggregate last), not its means.
    bool lastCycle = false;
};

// A number of a row as written: means and changes with 4 decimals, extremes
// and the temperature with the display's 2, always that many, so a column
// never changes its precision from row to row; "" for NaN or infinity.
// A row of the last cycle gives its readings as displayed
// (numfmt::angle()). The JSON of a row carries these same numbers.
enum class Column { Mean, Extreme, Temperature, Change };
QString number(const Record& record, Column column, double value);

// "time,elapsed,pitch,roll,temperature,unit,alarm,pitch_min,pitch_max,
// roll_min,roll_max,samples", then ",pitch_change,roll_change" with a
// reference, and the line end. New columns only ever go at the end, so
// readers by position keep working.
QString header(bool withChange = false);

// e.g. "2026-12-07T03:25:04.123Z,12.300,1.5012,-0.2500,23.40,deg,ok,1.45,
// 1.55,-0.30,-0.20,47\r\n": elapsed always with 3 decimals, the numbers as
// number() gives them, "." as decimal point whatever the locale.
QString row(const Record& record);

// The field as RFC 4180 wants it: in double quotes, with quotes doubled,
// when it holds a comma, a quote, CR or LF; otherwise unchanged.
QString field(const QString& text);

// The first whole multiple of `intervalMs` counted from UTC midnight after
// `wallMsUtc`; midnight itself when the day's last interval is short.
qint64 nextRowTime(qint64 wallMsUtc, qint64 intervalMs);

// Tells when the next row belongs in another daily file: a new file starts
// at midnight UTC, not after 24 hours of running, so each file holds exactly
// one calendar day.
class DayRoller {
public:
    // The file name ("YYYY-MM-DD.csv") when `wallMsUtc` lies in another UTC day than the last
    // call (always on the first call), else std::nullopt. A wall clock set
    // back across midnight goes back to that day's file.
    std::optional<QString> due(qint64 wallMsUtc);

private:
    std::optional<qint64> m_day;
};

} // namespace csvlog
