// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/reading.h"

#include "core/numberformat.h"

namespace {
QString blanksFor(Quantity q)
{
    return q == Quantity::Pitch ? QStringLiteral("    ") : QStringLiteral("     ");
}
} // namespace

QString Reading::valueColumnText() const
{
    return rawDisplay ? blanksFor(quantity) : text;
}

QString Reading::rawColumnText() const
{
    return rawDisplay ? numfmt::plainDecimal(count) : blanksFor(quantity);
}
