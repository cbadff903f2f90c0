// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

namespace hexreading {

// Value of the hexadecimal digits at the start of `text` once every line feed
// is removed. Reading stops at the first character that is not a hex digit
// (blanks and tabs included); text without a leading digit reads as 0. Digits
// are read as an unsigned number; a run too long for 64 bits saturates at the
// largest 64-bit value instead of wrapping into a small, plausible count.
quint64 countOf(const QString& text);

// A reply is a reading only when it is exactly three hexadecimal digits and
// its line feed; anything else on the line is noise, whatever count
// countOf() would make of it.
bool isWellFormed(const QString& reply);

} // namespace hexreading
