// SPDX-License-Identifier: GPL-3.0-or-later
// The recording interval answer parser.
#include "core/interval.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString answer = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto ms = interval::parseAnswer(answer);
    if (ms && (*ms < interval::Minimum || *ms > interval::Maximum))
        std::abort();
    return 0;
}
