#include "core/decoder.h"

#include "core/conversion.h"
#include "core/hexreading.h"
#include "core/numberformat.h"

namespace {
constexpr qsizetype CompleteReplyLength = 4;

// The count of the gathered reply; the buffer is emptied for the next one.
double takeCount(QString& buffer, Reading& reading)
{
    reading.wellFormed = hexreading::isWellFormed(buffer);
    if (!reading.wellFormed)
        reading.reply = buffer;
    HexToDecimal(buffer);
    const double count = buffer.toDouble();
    buffer.clear();
    return count;
}
} // namespace

void ReplyDecoder::ProcessReply(QString& chunk)
{
    const QString& cmd = m_state.LastCommand;
    if (cmd == QLatin1String("A")) {
        answerToA(chunk);
    } else if (cmd == QLatin1String("B")) {
        if (gather(chunk))
            pitch();
    } else if (cmd == QLatin1String("C")) {
        if (gather(chunk))
            roll();
    } else if (cmd == QLatin1String("D")) {
        if (gather(chunk))
            temperature();
    } else if (cmd == QLatin1String("F")) {
        m_state.LastCommand.clear();
    }
    // Anything else: nothing is awaited, the chunk is thrown away.
    chunk.clear();
}

bool ReplyDecoder::gather(const QString& chunk)
{
    m_state.RxBuffer += chunk;
    return m_state.RxBuffer.size() >= CompleteReplyLength;
}

void ReplyDecoder::answerToA(const QString& chunk)
{
    if (chunk != QLatin1String("R")) {
        m_host.resetPort();
        m_state.ReplySeen = true;
    }
    m_host.handshakeSeen();
    m_state.LastCommand.clear();
}

Reading ReplyDecoder::angle(Quantity quantity, double offset)
{
    m_state.ReplySeen = true;
    const Calibration& cal = m_host.decoderCalibration();
    Reading r;
    r.quantity = quantity;
    r.count = takeCount(m_state.RxBuffer, r);
    r.centred = r.count + offset;
    r.rawDisplay = m_host.rawSelected();
    const Coefficients& k = cal.coefficients;
    r.value = conversion::polynomial(r.centred, k.x1, k.x2, k.x3);
    r.text = numfmt::pattern00_00(r.value);
    return r;
}

void ReplyDecoder::pitch()
{
    const Calibration& cal = m_host.decoderCalibration();
    Reading r = angle(Quantity::Pitch, cal.PitchOffset);
    if (!r.rawDisplay) {
        m_state.LastReading = r.centred;
        if (cal.thickness) {
            r.value = conversion::thicknessValue(r.centred, cal.ZeroReference, cal.unit);
            r.text = conversion::thicknessText(r.centred, cal.ZeroReference, cal.unit);
            m_host.setStatus(numfmt::plainDecimal(r.centred));
        }
    }
    m_host.deliver(std::move(r));
    m_state.LastCommand.clear();
}

void ReplyDecoder::roll()
{
    m_host.deliver(angle(Quantity::Roll, m_host.decoderCalibration().RollOffset));
    m_state.LastCommand.clear();
}

void ReplyDecoder::temperature()
{
    Reading r;
    r.quantity = Quantity::Temperature;
    r.count = takeCount(m_state.RxBuffer, r);
    r.rawDisplay = m_host.rawSelected();
    r.value = conversion::temperature(r.count);
    r.text = numfmt::plainDecimal(r.value);
    m_host.deliver(std::move(r));
    m_state.LastCommand.clear();
}
