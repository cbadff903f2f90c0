// SPDX-License-Identifier: GPL-3.0-or-later
// The line-format text parser and the port dialog's reading of it.
#include "core/lineformat.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)readDialogChoices(text);
    const auto parsed = parseLineFormat(text);
    if (const auto* f = std::get_if<LineFormat>(&parsed)) {
        // What was accepted reads back as itself.
        const auto again = parseLineFormat(f->toText());
        const auto* g = std::get_if<LineFormat>(&again);
        if (!g || !(*g == *f))
            std::abort();
    } else if (std::get<QString>(parsed).isEmpty()) {
        std::abort(); // a failure always says what is wrong
    }
    return 0;
}
