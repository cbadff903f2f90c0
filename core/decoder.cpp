// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/decoder.h"

#include "core/conversion.h"
#include "core/hexreading.h"
#include "core/numberformat.h"

#include <algorithm>

namespace {
constexpr qsizetype CompleteReplyLength = 4;

Quantity quantityOf(char command)
{
    return command == 'B' ? Quantity::Pitch : command == 'C' ? Quantity::Roll : Quantity::Temperature;
}
} // namespace

int ReplyDecoder::missing(char awaited) const
{
    if (awaited != 'B' && awaited != 'C' && awaited != 'D')
        return 1;
    return int(std::max<qsizetype>(1, CompleteReplyLength - m_buffer.size()));
}

ReplyDecoder::Result ReplyDecoder::take(
    const QString& chunk, char awaited, const Calibration& calibration, bool rawDisplay)
{
    Result result;
    switch (awaited) {
    case 'A':
        // Taken whole and at once: anything but "R" means the line is out
        // of step, and the port is reset.
        result.resetPort = result.seen = chunk != QLatin1String("R");
        result.handshake = result.consumed = true;
        return result;
    case 'F':
        result.consumed = true; // whatever comes after the initialisation
        return result;
    case 'B':
    case 'C':
    case 'D':
        break;
    default:
        return result; // nothing awaited: the chunk is thrown away
    }
    m_buffer += chunk;
    if (m_buffer.size() < CompleteReplyLength)
        return result;

    Reading r;
    r.quantity = quantityOf(awaited);
    r.wellFormed = hexreading::isWellFormed(m_buffer);
    if (!r.wellFormed)
        r.reply = m_buffer;
    r.count = double(hexreading::countOf(m_buffer));
    r.rawDisplay = rawDisplay;
    m_buffer.clear();
    result.consumed = true;
    if (r.quantity == Quantity::Temperature) {
        r.value = r.exact = conversion::temperature(r.count);
        r.text = numfmt::plainDecimal(r.value);
        result.reading = std::move(r);
        return result;
    }
    result.seen = true;
    const bool pitch = r.quantity == Quantity::Pitch;
    r.centred = r.count + (pitch ? calibration.pitchOffset : calibration.rollOffset);
    const Coefficients& k = calibration.coefficients;
    r.exact = conversion::polynomialExact(r.centred, k.x1, k.x2, k.x3);
    r.value = numfmt::roundHalfEven2(r.exact);
    r.text = numfmt::twoIntegerTwoDecimals(r.value);
    if (pitch && !rawDisplay && calibration.thickness) {
        r.value = r.exact = conversion::thicknessValue(r.centred, calibration.zeroReference, calibration.unit);
        r.text = conversion::thicknessText(r.centred, calibration.zeroReference, calibration.unit);
        result.status = numfmt::plainDecimal(r.centred);
    }
    result.reading = std::move(r);
    return result;
}
