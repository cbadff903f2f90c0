// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

enum class FlowControl { None, Software, Hardware };

// The serial line format: baud, parity letter, data bits, stop bits (as text,
// joined by commas: "19200,N,8,1") and the flow control.
struct LineFormat {
    int baud = 19200;
    QChar parity = QLatin1Char('N'); // N, E, O, M or S
    int dataBits = 8; // 5 to 8
    QString stopBits = QStringLiteral("1"); // "1", "1.5" or "2"
    FlowControl flow = FlowControl::None;

    QString toText() const;
    friend bool operator==(const LineFormat&, const LineFormat&) = default;
};
