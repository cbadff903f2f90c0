#include "sensor/decoder.h"

#include "app/numberformat.h"
#include "sensor/conversion.h"
#include "sensor/hexreading.h"

namespace {
const QString FourBlanks = QStringLiteral("    ");
const QString FiveBlanks = QStringLiteral("     ");
constexpr qsizetype CompleteReplyLength = 4;

// Counts travel between the decoder's steps as decimal text.
double countFromBuffer(QString& buffer)
{
    HexToDecimal(buffer);
    return buffer.toDouble();
}
} // namespace

void Module2::ProcessReply(QString& chunk)
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

bool Module2::gather(const QString& chunk)
{
    m_state.RxBuffer += chunk;
    return m_state.RxBuffer.size() >= CompleteReplyLength;
}

void Module2::answerToA(const QString& chunk)
{
    if (chunk != QLatin1String("R")) {
        m_host.resetPort();
        m_state.ReplySeen = true;
    }
    m_host.setCaption(DecoderHost::Label::Lbl7PITCH, QStringLiteral("OK"));
    m_host.setCaption(DecoderHost::Label::Lbl8ROLL, QStringLiteral("OK"));
    m_state.LastCommand.clear();
}

void Module2::pitch()
{
    using L = DecoderHost::Label;
    m_state.ReplySeen = true;
    const double count = countFromBuffer(m_state.RxBuffer);
    const double c = count + m_state.PitchOffset;
    const double v = conversion::polynomial(c, m_state.CoefX1, m_state.CoefX2, m_state.CoefX3);
    if (m_host.rawSelected()) {
        m_host.setCaption(L::Lbl7PITCH, numfmt::plainDecimal(count));
        m_host.setCaption(L::LabelPitch, FourBlanks);
    } else {
        m_host.setCaption(L::LabelPitch, numfmt::pattern00_00(v));
        m_host.setCaption(L::Lbl7PITCH, FourBlanks);
        m_state.LastReading = c;
        if (m_host.thicknessChecked()) {
            using conversion::ThicknessUnit;
            const ThicknessUnit unit = m_host.mmChecked() ? ThicknessUnit::Millimetres
                : m_host.inchChecked()                    ? ThicknessUnit::Inches
                                                          : ThicknessUnit::Degrees;
            m_host.setCaption(L::LabelPitch, conversion::thicknessText(c, m_state.ZeroReference, unit));
            m_host.setCaption(L::Ldebug, numfmt::plainDecimal(c));
        }
    }
    m_state.RxBuffer.clear();
    m_state.LastCommand.clear();
}

void Module2::roll()
{
    using L = DecoderHost::Label;
    m_state.ReplySeen = true;
    const double count = countFromBuffer(m_state.RxBuffer);
    const double c = count + m_state.RollOffset;
    const double v = conversion::polynomial(c, m_state.CoefX1, m_state.CoefX2, m_state.CoefX3);
    if (m_host.rawSelected()) {
        m_host.setCaption(L::Lbl8ROLL, numfmt::plainDecimal(count));
        m_host.setCaption(L::LabelRoll, FiveBlanks);
    } else {
        m_host.setCaption(L::LabelRoll, numfmt::pattern00_00(v));
        m_host.setCaption(L::Lbl8ROLL, FiveBlanks);
    }
    m_state.RxBuffer.clear();
    m_state.LastCommand.clear();
}

void Module2::temperature()
{
    using L = DecoderHost::Label;
    const double count = countFromBuffer(m_state.RxBuffer);
    if (m_host.rawSelected()) {
        m_host.setCaption(L::Lbl6TEMP, numfmt::plainDecimal(count));
        m_host.setCaption(L::LabelTemperature, FiveBlanks);
    } else {
        m_host.setCaption(L::LabelTemperature, numfmt::plainDecimal(conversion::temperature(count)));
        m_host.setCaption(L::Lbl6TEMP, FiveBlanks);
    }
    m_state.RxBuffer.clear();
    m_state.LastCommand.clear();
}
