// The coefficient file reader.
#include "core/coeffile.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto result = coeffile::parse(content);
    const auto* c = std::get_if<Coefficients>(&result);
    if (c && !(std::isfinite(c->x1) && std::isfinite(c->x2) && std::isfinite(c->x3)))
        std::abort();
    return 0;
}
