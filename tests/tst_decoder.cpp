// The receive side: ProcessReply against a recording host, no widgets.
#include "core/decoder.h"

#include <QMap>
#include <QTest>

namespace {
using L = DecoderHost::Label;

struct Host : DecoderHost {
    bool raw = false, thickness = false, mm = true, inch = false;
    QMap<L, QString> captions;
    int resets = 0;
    bool rawSelected() const override { return raw; }
    bool thicknessChecked() const override { return thickness; }
    bool mmChecked() const override { return mm; }
    bool inchChecked() const override { return inch; }
    void setCaption(L label, const QString& text) override { captions[label] = text; }
    void resetPort() override { ++resets; }
};

struct Rig {
    SharedState state;
    Host host;
    Module2 decoder {state, host};
    void feed(const QString& cmd, const QString& chunk)
    {
        if (!cmd.isNull())
            state.LastCommand = cmd;
        QString c = chunk;
        decoder.ProcessReply(c);
        QVERIFY2(c.isEmpty(), "the caller's chunk must be empty on return");
    }
};
} // namespace

class TestDecoder : public QObject {
    Q_OBJECT
private slots:
    void pitchAngle();
    void pitchInTwoChunks();
    void rollAndTemperature();
    void rawColumn();
    void thicknessMode();
    void answerToA();
    void initialiseAndNothingAwaited();
    void leftoversJoinNextReply();
    void coefficientsApply();
};

void TestDecoder::pitchAngle()
{
    Rig r;
    r.feed("B", "800\n");
    QCOMPARE(r.host.captions[L::LabelPitch], QStringLiteral("00.00"));
    QCOMPARE(r.host.captions[L::Lbl7PITCH], QStringLiteral("    "));
    QCOMPARE(r.state.LastReading, 0.0);
    QCOMPARE(r.state.LastCommand, QString());
    QCOMPARE(r.state.RxBuffer, QString());
    QVERIFY(r.state.ReplySeen);
    r.feed("B", "7FF\n");
    QCOMPARE(r.host.captions[L::LabelPitch], QStringLiteral("-01.00"));
    QCOMPARE(r.state.LastReading, -1.0);
    QVERIFY(!r.host.captions.contains(L::Ldebug)); // only thickness mode writes the status line
}

void TestDecoder::pitchInTwoChunks()
{
    Rig r;
    r.feed("B", "80");
    QVERIFY(r.host.captions.isEmpty());
    QCOMPARE(r.state.LastCommand, QStringLiteral("B"));
    QCOMPARE(r.state.RxBuffer, QStringLiteral("80"));
    QVERIFY(!r.state.ReplySeen);
    r.feed(QString(), "0\n");
    QCOMPARE(r.host.captions[L::LabelPitch], QStringLiteral("00.00"));
    QCOMPARE(r.state.LastCommand, QString());
    // One, two and one characters.
    r.feed("B", "8");
    r.feed(QString(), "FB");
    QCOMPARE(r.state.LastCommand, QStringLiteral("B"));
    r.feed(QString(), "\n");
    QCOMPARE(r.host.captions[L::LabelPitch], QStringLiteral("251.00"));
}

void TestDecoder::rollAndTemperature()
{
    Rig r;
    r.feed("C", "7FF\n");
    QCOMPARE(r.host.captions[L::LabelRoll], QStringLiteral("-01.00"));
    QCOMPARE(r.host.captions[L::Lbl8ROLL], QStringLiteral("     "));
    QVERIFY(r.state.ReplySeen);
    QCOMPARE(r.state.LastReading, 0.0); // roll never changes it
    r.state.ReplySeen = false;
    r.feed("D", "09E\n");
    QCOMPARE(r.host.captions[L::LabelTemperature], QStringLiteral("25"));
    QCOMPARE(r.host.captions[L::Lbl6TEMP], QStringLiteral("     "));
    QVERIFY(!r.state.ReplySeen); // temperature does not count as a reply seen
    QCOMPARE(r.state.LastCommand, QString());
}

void TestDecoder::rawColumn()
{
    Rig r;
    r.host.raw = true;
    r.host.thickness = true; // raw wins over thickness mode
    r.state.LastReading = 42;
    r.feed("B", "8FB\n");
    QCOMPARE(r.host.captions[L::Lbl7PITCH], QStringLiteral("2299"));
    QCOMPARE(r.host.captions[L::LabelPitch], QStringLiteral("    "));
    QCOMPARE(r.state.LastReading, 42.0);
    QVERIFY(!r.host.captions.contains(L::Ldebug));
    r.feed("C", "800\n");
    QCOMPARE(r.host.captions[L::Lbl8ROLL], QStringLiteral("2048"));
    QCOMPARE(r.host.captions[L::LabelRoll], QStringLiteral("     "));
    r.feed("D", "09E\n");
    QCOMPARE(r.host.captions[L::Lbl6TEMP], QStringLiteral("158"));
    QCOMPARE(r.host.captions[L::LabelTemperature], QStringLiteral("     "));
}

void TestDecoder::thicknessMode()
{
    Rig r;
    r.host.thickness = true;
    r.feed("B", "882\n");
    QCOMPARE(r.host.captions[L::LabelPitch], QStringLiteral("0.00"));
    QCOMPARE(r.host.captions[L::Ldebug], QStringLiteral("130"));
    r.feed("B", "8FB\n");
    QCOMPARE(r.host.captions[L::LabelPitch], QStringLiteral("0.79"));
    QCOMPARE(r.host.captions[L::Ldebug], QStringLiteral("251"));
    QCOMPARE(r.state.LastReading, 251.0);
    r.host.mm = false;
    r.host.inch = true;
    r.feed("B", "8FB\n");
    QCOMPARE(r.host.captions[L::LabelPitch], QStringLiteral("0.0318"));
    r.host.inch = false;
    r.feed("B", "8FB\n");
    QCOMPARE(r.host.captions[L::LabelPitch], QStringLiteral("1.00"));
    // "mm" is tested before "in".
    r.host.mm = r.host.inch = true;
    r.feed("B", "8FB\n");
    QCOMPARE(r.host.captions[L::LabelPitch], QStringLiteral("0.79"));
    // The thickness path ignores the polynomial.
    r.state.CoefX1 = 0.0129;
    r.feed("B", "8FB\n");
    QCOMPARE(r.host.captions[L::LabelPitch], QStringLiteral("0.79"));
}

void TestDecoder::answerToA()
{
    Rig r;
    r.feed("A", "R");
    QCOMPARE(r.host.resets, 0);
    QVERIFY(!r.state.ReplySeen);
    QCOMPARE(r.host.captions[L::Lbl7PITCH], QStringLiteral("OK"));
    QCOMPARE(r.host.captions[L::Lbl8ROLL], QStringLiteral("OK"));
    QCOMPARE(r.state.LastCommand, QString());
    for (const QString& wrong :
        {QStringLiteral("r"), QStringLiteral("R\n"), QStringLiteral("RR"), QStringLiteral("800\n")}) {
        r.state.ReplySeen = false;
        r.host.captions.clear();
        const int before = r.host.resets;
        r.feed("A", wrong);
        QCOMPARE(r.host.resets, before + 1);
        QVERIFY(r.state.ReplySeen);
        QCOMPARE(r.host.captions[L::Lbl7PITCH], QStringLiteral("OK"));
        QCOMPARE(r.state.LastCommand, QString());
    }
    r.state.RxBuffer = QStringLiteral("8F");
    r.feed("A", "R");
    QCOMPARE(r.state.RxBuffer, QStringLiteral("8F")); // "A" leaves the buffer alone
}

void TestDecoder::initialiseAndNothingAwaited()
{
    Rig r;
    r.state.RxBuffer = QStringLiteral("8");
    r.feed("F", "whatever 123\n");
    QCOMPARE(r.state.LastCommand, QString());
    QCOMPARE(r.state.RxBuffer, QStringLiteral("8"));
    r.feed(QString(), "800\n"); // nothing awaited: thrown away
    QVERIFY(r.host.captions.isEmpty());
    QCOMPARE(r.state.RxBuffer, QStringLiteral("8"));
    r.feed("b", "800\n"); // letters compare case-sensitively
    QVERIFY(r.host.captions.isEmpty());
    QCOMPARE(r.state.LastCommand, QStringLiteral("b"));
}

void TestDecoder::leftoversJoinNextReply()
{
    Rig r;
    r.feed("B", "8F"); // incomplete; the watchdog's "A" interrupts it
    r.feed("A", "R");
    r.feed("D", "09E\n"); // joined to the leftovers: "8F09E" reads 8F09E hex
    QCOMPARE(r.host.captions[L::LabelTemperature], QString::number(0x8F09E - 133));
    QCOMPARE(r.state.RxBuffer, QString());
    // Garbage in front of a reply reads as 0 and does not crash.
    r.feed("C", "G?800\n");
    QCOMPARE(r.host.captions[L::LabelRoll], QStringLiteral("-2048.00"));
    // Absurdly long digit runs saturate rather than wrap.
    r.feed("B", QString(40, QLatin1Char('F')));
    QVERIFY(r.host.captions[L::LabelPitch].size() > 15);
}

void TestDecoder::coefficientsApply()
{
    Rig r;
    r.state.CoefX1 = 0.0129;
    r.state.CoefX3 = -3E-10;
    r.feed("B", "BE8\n"); // 3048: centred 1000
    QCOMPARE(r.host.captions[L::LabelPitch], QStringLiteral("12.60"));
    r.feed("C", "000\n"); // centred -2048
    QCOMPARE(r.host.captions[L::LabelRoll], QStringLiteral("-23.84"));
}

QTEST_APPLESS_MAIN(TestDecoder)
#include "tst_decoder.moc"
