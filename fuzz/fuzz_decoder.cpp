// Sequences of chunks through ProcessReply under every LastCommand.
// Input: one byte of display flags, then (control byte, chunk) pairs: the
// control byte picks the awaited command (or keeps the current one) and the
// chunk's length.
#include "core/decoder.h"
#include "core/presets.h"

#include <cstdint>
#include <cstdlib>

namespace {
struct Host : DecoderHost {
    bool raw = false;
    Calibration cal;
    bool rawSelected() const override { return raw; }
    const Calibration& decoderCalibration() const override { return cal; }
    void deliver(Reading r) override
    {
        if (r.valueColumnText().isEmpty() || r.rawColumnText().isEmpty())
            std::abort(); // every column the decoder fills has content
    }
    void handshakeSeen() override { }
    void setStatus(const QString&) override { }
    void resetPort() override { }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    SharedState state;
    Host host;
    const std::uint8_t flags = data[0];
    host.raw = flags & 1;
    host.cal.thickness = flags & 2;
    host.cal.unit = conversion::ThicknessUnit((flags >> 2) % 3);
    host.cal.coefficients = presetFor(Model((flags >> 4) & 3));
    if (flags & 0x40)
        host.cal.ZeroReference = -1e6;
    ReplyDecoder decoder(state, host);
    static const char* const commands[] = {"A", "B", "C", "D", "F", "", "b", "Z"};
    std::size_t i = 1;
    while (i < size) {
        const std::uint8_t control = data[i++];
        if (!(control & 0x80))
            state.LastCommand = QString::fromLatin1(commands[control & 7]);
        const std::size_t len = std::min<std::size_t>((control >> 3) & 0x0F, size - i);
        QString chunk = QString::fromLatin1(reinterpret_cast<const char*>(data + i), qsizetype(len));
        i += len;
        decoder.ProcessReply(chunk);
        if (!chunk.isEmpty())
            std::abort();
        // A reply completes at four characters, so fewer are ever left over.
        if (state.RxBuffer.size() >= 4)
            std::abort();
    }
    return 0;
}
