// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/calibration.h"
#include "core/reading.h"

#include <QString>

#include <optional>

// The receive side of the protocol as a value: it takes each received chunk,
// with the command whose reply is awaited, and returns what the chunk meant.
// It keeps only the reply being gathered; it calls nobody back.
//
// A pitch, roll or temperature reply is complete at four characters (three
// hex digits and a line feed when well formed). Whatever else a chunk holds
// after the reply is thrown away, and characters that arrive while nothing
// is awaited are too: that is how the instrument re-synchronised.
class ReplyDecoder {
public:
    struct Result {
        std::optional<Reading> reading; // a complete pitch, roll or temperature reply
        bool consumed = false; // the awaited reply is complete: the next command may go
        bool handshake = false; // an answer to "A" was taken
        bool resetPort = false; // a wrong answer to "A": close and reopen the port
        bool seen = false; // counts as a sign of life for the watchdog
        std::optional<QString> status; // for the status line (thickness mode)
    };

    // `awaited` is the command letter whose reply is expected, 0 for none.
    Result take(const QString& chunk, char awaited, const Calibration& calibration, bool rawDisplay);

    // How many more characters complete the reply to `awaited` (at least 1:
    // other answers are taken whole, from their first character).
    int missing(char awaited) const;

    // The characters gathered so far of a reply not yet complete.
    const QString& partial() const { return m_buffer; }
    void clear() { m_buffer.clear(); }

private:
    QString m_buffer;
};
