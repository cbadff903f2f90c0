#include "core/decoder.h"

#include "core/numberformat.h"
#include "core/conversion.h"
#include "core/hexreading.h"

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

// Shows an angle reply in the value or the raw column; returns whether the
// angle (not the raw count) went on screen. `c` receives the centred count.
bool Module2::showAngle(
    double offset, DecoderHost::Label value, DecoderHost::Label raw, const QString& blanks, double* c)
{
    m_state.ReplySeen = true;
    const double count = countFromBuffer(m_state.RxBuffer);
    *c = count + offset;
    m_state.RxBuffer.clear();
    if (m_host.rawSelected()) {
        m_host.setCaption(raw, numfmt::plainDecimal(count));
        m_host.setCaption(value, blanks);
        return false;
    }
    const double v = conversion::polynomial(*c, m_state.CoefX1, m_state.CoefX2, m_state.CoefX3);
    m_host.setCaption(value, numfmt::pattern00_00(v));
    m_host.setCaption(raw, blanks);
    return true;
}

void Module2::pitch()
{
    using L = DecoderHost::Label;
    double c = 0;
    if (showAngle(m_state.PitchOffset, L::LabelPitch, L::Lbl7PITCH, FourBlanks, &c)) {
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
    m_state.LastCommand.clear();
}

void Module2::roll()
{
    using L = DecoderHost::Label;
    double c = 0;
    showAngle(m_state.RollOffset, L::LabelRoll, L::Lbl8ROLL, FiveBlanks, &c);
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
