// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <chrono>

// One decoded reply as a value. The window, the recorder, the trend chart,
// the logger and the alarms all take these; nobody reads a label back.
enum class Quantity { Pitch, Roll, Temperature };

struct Reading {
    Quantity quantity = Quantity::Pitch;
    double count = 0.0; // the sensor's count as received
    double centred = 0.0; // count plus the axis offset (angles only)
    double value = 0.0; // converted: degrees (counts for the raw preset), thickness in its unit, or deg C
    // `value` before the display's rounding to two decimals: what means,
    // changes and exports are taken of, so they carry no rounding bias.
    double exact = 0.0;
    QString text; // the display text of `value`
    bool rawDisplay = false; // the operator chose to see counts instead of values
    qint64 monotonicMs = 0; // steady clock, for intervals and staleness
    qint64 wallMs = 0; // milliseconds since the epoch (UTC), for time stamps
    // Exactly three hex digits and a line feed. Anything else is shown as
    // before, but never recorded by the logger, published or fed to an alarm.
    bool wellFormed = true;
    QString reply; // the reply as received, kept when it is not well formed

    // What the value column (LabelPitch, LabelRoll, LabelTemperature) shows,
    // and what the raw column (Lbl7PITCH, Lbl8ROLL, Lbl6TEMP) shows: one of
    // the two holds the reading, the other blanks of the column's width.
    QString valueColumnText() const;
    QString rawColumnText() const;
    // The number the operator sees, whichever column holds it.
    double shownValue() const { return rawDisplay ? count : value; }
    QString shownText() const { return rawDisplay ? rawColumnText() : text; }
};

// The steady clock readings are stamped with, in milliseconds.
inline qint64 monotonicNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Pitch, roll and temperature of one B, C, D cycle.
struct Frame {
    Reading pitch;
    Reading roll;
    Reading temperature;
    bool wellFormed() const { return pitch.wellFormed && roll.wellFormed && temperature.wellFormed; }
};
