// SPDX-License-Identifier: GPL-3.0-or-later
// The coefficient file reader.
#include "core/coeffile.h"
#include "core/conversion.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto result = coeffile::parse(content);
    const auto* c = std::get_if<Coefficients>(&result);
    // Accepted coefficients give a finite value at every count.
    if (c && !conversion::rangeOverCounts(c->x1, c->x2, c->x3))
        std::abort();
    return 0;
}
