// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Text forms of instants, one for every file and log line, so a time reads
// the same in the alarm log, the logger's CSV, its event lines and its MQTT
// messages.
namespace timefmt {

// ISO 8601 UTC with milliseconds, e.g. "2026-12-07T03:25:04.123Z".
QString isoUtc(qint64 msSinceEpoch);

} // namespace timefmt
