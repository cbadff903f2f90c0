// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>
#include <variant>

// The serial line format as text: baud, parity letter, data bits, stop bits,
// joined by commas ("19200,N,8,1").
struct LineFormat {
    int baud = 19200;
    QChar parity = QLatin1Char('N'); // N, E, O, M or S
    int dataBits = 8; // 5 to 8
    QString stopBits = QStringLiteral("1"); // "1", "1.5" or "2"

    QString toText() const;
    friend bool operator==(const LineFormat&, const LineFormat&) = default;
};

// Either the parsed format or a description of what is wrong with the text.
std::variant<LineFormat, QString> parseLineFormat(const QString& text);

// What the port dialog's opening procedure reads out of a line format text:
// each field taken at a fixed distance from the first comma, and whether it
// matches the only value the dialog offers.
struct LineFormatChoices {
    bool baud19200 = false;
    bool parityNone = false;
    bool dataBits8 = false;
    bool stopBits1 = false;
};
LineFormatChoices readDialogChoices(const QString& text);
