// SPDX-License-Identifier: GPL-3.0-or-later
// Sequences of chunks through the reply decoder under every awaited command.
// Input: one byte of display flags, then (control byte, chunk) pairs: the
// control byte picks the awaited command (or keeps the current one) and the
// chunk's length.
#include "core/decoder.h"
#include "core/presets.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t flags = data[0];
    const bool raw = flags & 1;
    Calibration cal;
    cal.thickness = flags & 2;
    cal.unit = conversion::ThicknessUnit((flags >> 2) % 3);
    cal.coefficients = presetFor(Model((flags >> 4) & 3));
    if (flags & 0x40)
        cal.zeroReference = -1e6;
    ReplyDecoder decoder;
    static const char commands[] = {'A', 'B', 'C', 'D', 'F', 0, 'b', 'Z'};
    char awaited = 0;
    std::size_t i = 1;
    while (i < size) {
        const std::uint8_t control = data[i++];
        if (!(control & 0x80))
            awaited = commands[control & 7];
        const std::size_t len = std::min<std::size_t>((control >> 3) & 0x0F, size - i);
        const QString chunk = QString::fromLatin1(reinterpret_cast<const char*>(data + i), qsizetype(len));
        i += len;
        const ReplyDecoder::Result r = decoder.take(chunk, awaited, cal, raw);
        // Every column the decoder fills has content; a reading only with
        // the consumption of its reply.
        if (r.reading
            && (r.reading->valueColumnText().isEmpty() || r.reading->rawColumnText().isEmpty() || !r.consumed))
            std::abort();
        // A reply completes at four characters, so fewer are ever left over.
        if (decoder.partial().size() >= 4)
            std::abort();
        if (r.consumed)
            awaited = 0;
    }
    return 0;
}
