// SPDX-License-Identifier: GPL-3.0-or-later
// Both sides of the protocol as values, without a port: the poller (events
// in, actions out) and the decoder (chunks in, what they mean out).
#include "core/decoder.h"
#include "core/poller.h"
#include "core/presets.h"
#include "core/replytiming.h"

#include <QTest>

#include <cmath>

#include <map>

namespace {
// Performs the poller's actions as the link does, on a line that takes every
// write while `open`.
struct Line {
    Poller poller;
    bool open = true, held = false, model = true, watchdog = false, reportDue = false;
    QStringList sent, reports;
    qint64 silent = 0;

    void perform(const Poller::Actions& actions)
    {
        using A = Poller::Action;
        for (const A& a : actions) {
            if (a.kind == A::Write && open)
                sent << QString::fromLatin1(a.bytes);
            watchdog = a.kind == A::ArmWatchdog || (watchdog && a.kind != A::StopWatchdog);
            silent = a.kind == A::Silent ? a.ticks : silent;
            reportDue = reportDue || a.kind == A::ReportLater;
            if (a.kind == A::NoModel || a.kind == A::LineFailed)
                reports << (a.kind == A::NoModel ? "no model" : "line failed");
            if (a.kind == A::Write)
                perform(poller.written(open, held));
            else if (a.kind == A::LineFailed)
                perform(poller.failureReported(held));
        }
    }
    // S start, I the menu's initialisation, c the awaited reply consumed (a
    // sign of life), d consumed without one, t a watchdog tick, x the port
    // gone, o back, h held, u released, r the failure report's own event.
    void run(const QString& steps)
    {
        using Step = Poller::Actions (*)(Line&);
        static const std::map<char, Step> act {{'S', [](Line& l) { return l.poller.start(l.model, l.held); }},
            {'I', [](Line& l) { return l.poller.initialise(l.held); }},
            {'c', [](Line& l) { return l.poller.replyConsumed(true, l.held); }},
            {'d', [](Line& l) { return l.poller.replyConsumed(false, l.held); }},
            {'t', [](Line& l) { return l.poller.watchdogTick(l.open, l.held); }},
            {'x', [](Line& l) { return l.open = false, Poller::Actions {}; }},
            {'o', [](Line& l) { return l.open = true, Poller::Actions {}; }},
            {'h', [](Line& l) { return l.held = true, Poller::Actions {}; }},
            {'u', [](Line& l) { return l.held = false, l.poller.resume(false); }},
            {'r', [](Line& l) {
                 return std::exchange(l.reportDue, false) ? l.poller.failureDue() : Poller::Actions {};
             }}};
        for (const QChar step : steps)
            perform(act.at(step.toLatin1())(*this));
    }
};
} // namespace

class TestProtocol : public QObject {
    Q_OBJECT
private slots:
    void sending_data();
    void sending();
    void decoding_data();
    void decoding();
    void gatheringAndLeftovers();
    void replyTiming_data();
    void replyTiming();
    void replyTimingProbesTheLine();
};

void TestProtocol::sending_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("line"); // everything written, in order
    QTest::addColumn<QString>("awaited");
    QTest::addColumn<QString>("reports");
    QTest::addColumn<qint64>("silent");
    QTest::addColumn<bool>("modelChosen");
    const auto row = [](const char* name, const char* steps, const char* line, const char* awaited, const char* reports,
                         qint64 silent, bool modelChosen = true) {
        QTest::newRow(name) << QString::fromLatin1(steps) << QString::fromLatin1(line) << QString::fromLatin1(awaited)
                            << QString::fromLatin1(reports) << silent << modelChosen;
    };
    row("start sequence", "S", "F 00000000 A", "A", "", 0);
    row("the cycle", "Sccccccc", "F 00000000 A B C D B C D B", "B", "", 0);
    row("init when idle", "Id", "F 00000000", "", "", 0);
    row("init waits for the reply", "ScI", "F 00000000 A B", "B", "", 0);
    row("init between replies", "ScIcc", "F 00000000 A B F 00000000 C", "C", "", 0);
    row("init on a closed port", "xI", "", "", "", 0);
    row("a tick after a reply asks nothing", "Scct", "F 00000000 A B C", "C", "", 0);
    row("silent: A, then the next step", "Sdttc", "F 00000000 A B A A C", "C", "", 2);
    row("the count goes on", "Sttctt", "F 00000000 A A A B A", "A", "", 3);
    row("second start waits", "SccS", "F 00000000 A B C", "C", "", 0);
    row("second start nests", "SccSccc", "F 00000000 A B C F 00000000 A B C", "C", "", 0);
    row("no model", "S", "", "", "no model", 0, false);
    row("closed port: reported from its own event", "xS", "", "", "", 0);
    row("closed port, reported", "xSr", "", "", "line failed", 0);
    row("the port goes: the wait ends, one report", "Scxttrtr", "F 00000000 A B", "", "line failed", 2);
    row("held: nothing goes out until released", "Schcu", "F 00000000 A B C", "C", "", 0);
    row("nested cycles fail in turn", "SccScccxcrr", "F 00000000 A B C F 00000000 A B C", "", "line failed line failed",
        0);
    row("start works after a failure", "xSroS", "F 00000000 A", "A", "line failed", 0);
}

void TestProtocol::sending()
{
    QFETCH(QString, steps);
    QFETCH(bool, modelChosen);
    Line l;
    l.model = modelChosen;
    l.run(steps);
    QTEST(l.sent.join(' '), "line");
    QTEST(l.poller.awaited() ? QString(QLatin1Char(l.poller.awaited())) : QString(), "awaited");
    QTEST(l.reports.join(' '), "reports");
    QTEST(l.poller.silentTicks(), "silent");
    // A failed or refused start leaves the watchdog off and no cycle behind.
    if (!l.reports.isEmpty() && l.poller.awaited() == 0)
        QVERIFY(!l.watchdog && l.poller.cycleDepth() == 0);
}

void TestProtocol::decoding_data()
{
    using U = conversion::ThicknessUnit;
    QTest::addColumn<char>("command");
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<bool>("raw");
    QTest::addColumn<bool>("thickness");
    QTest::addColumn<U>("unit");
    QTest::addColumn<Model>("model");
    QTest::addColumn<QString>("valueColumn");
    QTest::addColumn<QString>("rawColumn");
    QTest::addColumn<bool>("wellFormed");
    const auto row = [](const char* name, char cmd, const char* chunk, bool raw, bool thick, U unit, Model model,
                         const char* value, const char* rawText, bool wellFormed = true) {
        QTest::newRow(name) << cmd << QString::fromLatin1(chunk) << raw << thick << unit << model
                            << QString::fromLatin1(value) << QString::fromLatin1(rawText) << wellFormed;
    };
    row("pitch centre", 'B', "800\n", false, false, U::Millimetres, Model::Raw, "00.00", "    ");
    row("pitch below", 'B', "7FF\n", false, false, U::Millimetres, Model::Raw, "-01.00", "    ");
    row("Z1 roll at -2048", 'C', "000\n", false, false, U::Millimetres, Model::Z1, "-23.84", "     ");
    row("garbage in front reads 0", 'C', "G?800\n", false, false, U::Millimetres, Model::Raw, "-2048.00", "     ",
        false);
    row("noise", 'B', "ZZZ\n", false, false, U::Millimetres, Model::Z1, "-23.84", "    ", false);
    row("not hex first", 'B', "G00\n", false, false, U::Millimetres, Model::Raw, "-2048.00", "    ", false);
    row("not hex second", 'B', "8G0\n", false, false, U::Millimetres, Model::Raw, "-2040.00", "    ", false);
    row("not hex third", 'B', "80G\n", false, false, U::Millimetres, Model::Raw, "-1920.00", "    ", false);
    row("lower case digits", 'B', "bE8\n", false, false, U::Millimetres, Model::Z1, "12.60", "    ");
    row("no line feed", 'B', "BE8\r", false, false, U::Millimetres, Model::Z1, "12.60", "    ", false);
    row("raw pitch", 'B', "8FB\n", true, false, U::Millimetres, Model::Raw, "    ", "2299");
    row("raw roll", 'C', "800\n", true, false, U::Millimetres, Model::Raw, "     ", "2048");
    row("raw wins over thickness", 'B', "8FB\n", true, true, U::Millimetres, Model::Raw, "    ", "2299");
    row("thickness at true zero", 'B', "882\n", false, true, U::Millimetres, Model::Raw, "0.00", "    ");
    row("thickness leaves roll", 'C', "8FB\n", false, true, U::Inches, Model::Raw, "251.00", "     ");
    row("temperature", 'D', "09E\n", false, false, U::Millimetres, Model::Raw, "25", "     ");
    row("raw temperature", 'D', "09E\n", true, true, U::Millimetres, Model::Raw, "     ", "158");
}

void TestProtocol::decoding()
{
    QFETCH(char, command);
    QFETCH(QString, chunk);
    QFETCH(bool, raw);
    QFETCH(bool, thickness);
    QFETCH(conversion::ThicknessUnit, unit);
    QFETCH(Model, model);
    Calibration cal;
    cal.thickness = thickness;
    cal.unit = unit;
    cal.coefficients = presetFor(model);
    ReplyDecoder decoder;
    const ReplyDecoder::Result r = decoder.take(chunk, command, cal, raw);
    QVERIFY(r.reading && r.consumed && !r.handshake && !r.resetPort && decoder.partial().isEmpty());
    QTEST(r.reading->valueColumnText(), "valueColumn");
    QTEST(r.reading->rawColumnText(), "rawColumn");
    QTEST(r.reading->wellFormed, "wellFormed");
    QVERIFY(std::abs(r.reading->exact - r.reading->value) <= 0.005 + 1e-12); // the display rounds, nothing more
    QCOMPARE(r.reading->reply, r.reading->wellFormed ? QString() : chunk);
    // Only angles are a sign of life; only thickness writes the status.
    QCOMPARE(r.seen, command != 'D');
    QCOMPARE(r.status.has_value(), command == 'B' && !raw && thickness);
}

void TestProtocol::gatheringAndLeftovers()
{
    Calibration cal;
    cal.thickness = true;
    ReplyDecoder d;
    auto take
        = [&](const char* chunk, char awaited) { return d.take(QString::fromLatin1(chunk), awaited, cal, false); };
    QVERIFY(!take("80", 'B').consumed);
    QCOMPARE(d.partial(), QStringLiteral("80"));
    QVERIFY(!take("F", 'B').consumed); // one, two and one characters
    const auto pitch = take("B\n", 'B');
    QVERIFY(pitch.consumed && pitch.reading);
    QCOMPARE(pitch.reading->count, 0x80FB + 0.0);
    QCOMPARE(*take("8FB\n", 'B').status, QStringLiteral("251"));
    cal.zeroReference = 251;
    QCOMPARE(take("8FB\n", 'B').reading->text, QStringLiteral("0.00"));

    // The answer to "A": "R" is the handshake; anything else resets the port
    // and counts as a sign of life. The buffer is left alone.
    QCOMPARE(take("8F", 'D').consumed, false);
    for (const char* answer : {"R", "r", "R\n", "RR", "800\n"}) {
        const auto a = take(answer, 'A');
        QVERIFY(a.consumed && a.handshake && !a.reading);
        QCOMPARE(a.resetPort, QByteArray(answer) != "R");
        QCOMPARE(a.seen, a.resetPort);
    }
    // An incomplete reply interrupted by the watchdog's "A" joins the next.
    QCOMPARE(take("09E\n", 'D').reading->value, double(0x8F09E - 133));
    QVERIFY(d.partial().isEmpty());

    // "F" is answered by whatever comes; nothing awaited, or a letter of
    // another case, throws chunks away.
    QVERIFY(take("whatever 123\n", 'F').consumed);
    for (const char awaited : {'\0', 'b'})
        QVERIFY(!take("800\n", awaited).consumed && d.partial().isEmpty());
    cal.thickness = false;
    const auto saturated = take("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", 'B'); // saturates rather than wraps
    QVERIFY(saturated.reading->text.size() > 15 && !saturated.reading->wellFormed);
}

// The first replies are listened for at once; how long they took decides
// whether, and how long, the next ones are waited for.
void TestProtocol::replyTiming_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("awaited");
    QTest::addColumn<qint64>("replyUs");
    QTest::addColumn<qint64>("holdUs");
    // A command and a reply of four: five characters on the wire, which is
    // 2604 us at 10 bits (520 us) a character and 19200 baud. Paced from
    // three quarters of that on; held one character short of the quickest
    // reply, from the wire time to twice that.
    QTest::newRow("paced: the wire time") << "19200,N,8,1" << 4 << qint64(2700) << qint64(2604);
    QTest::newRow("just paced") << "19200,N,8,1" << 4 << qint64(1954) << qint64(2604);
    QTest::newRow("just too quick") << "19200,N,8,1" << 4 << qint64(1952) << qint64(0);
    QTest::newRow("answers at once") << "19200,N,8,1" << 4 << qint64(40) << qint64(0);
    QTest::newRow("slow sensor: a character short") << "19200,N,8,1" << 4 << qint64(4000) << qint64(3480);
    QTest::newRow("slower: twice the wire") << "19200,N,8,1" << 4 << qint64(9000) << qint64(5208);
    // 12 bits: 6250 us for five characters.
    QTest::newRow("parity, two stop bits: paced") << "9600,E,8,2" << 4 << qint64(4688) << qint64(6250);
    QTest::newRow("parity, two stop bits: quick") << "9600,E,8,2" << 4 << qint64(4686) << qint64(0);
    QTest::newRow("parity, two stop bits: slow") << "9600,E,8,2" << 4 << qint64(8000) << qint64(6750);
    // 9.5 bits: 2473 us.
    QTest::newRow("7 data, 1.5 stop bits: paced") << "19200,N,7,1.5" << 4 << qint64(1855) << qint64(2473);
    QTest::newRow("7 data, 1.5 stop bits: quick") << "19200,N,7,1.5" << 4 << qint64(1853) << qint64(0);
    QTest::newRow("one character: one wake anyway") << "19200,N,8,1" << 1 << qint64(2000) << qint64(0);
    QTest::newRow("too fast to be worth a timer") << "115200,N,8,1" << 4 << qint64(500) << qint64(0);
}

void TestProtocol::replyTiming()
{
    QFETCH(QString, format);
    QFETCH(int, awaited);
    QFETCH(qint64, replyUs);
    const QStringList parts = format.split(QLatin1Char(','));
    LineFormat line;
    line.baud = parts[0].toInt();
    line.parity = parts[1].front();
    line.dataBits = parts[2].toInt();
    line.stopBits = parts[3];
    ReplyTiming timing;
    timing.setFormat(line);
    for (int i = 0; i < ReplyTiming::Remembered; ++i) {
        QCOMPARE(timing.holdUs(1, awaited), qint64(0));
        timing.replyWhole(replyUs, false);
    }
    QTEST(timing.holdUs(1, awaited), "holdUs");
    // A new format or device is not known to be paced.
    timing.setFormat(line);
    QCOMPARE(timing.holdUs(1, awaited), qint64(0));
}

void TestProtocol::replyTimingProbesTheLine()
{
    ReplyTiming timing;
    timing.setFormat(LineFormat {});
    const auto measure = [&](qint64 first) {
        for (int i = 0; i < ReplyTiming::Remembered; ++i) {
            QCOMPARE(timing.holdUs(1, 4), qint64(0));
            timing.replyWhole(first + 100 * i, false);
        }
    };
    measure(4000); // slower ones among them change nothing: the quickest counts
    // Held replies may have been whole earlier: they teach nothing, however
    // quick. One command in ProbeEvery is listened for at once, and the hold
    // is a character (520 us) short of the quickest of the last few of those.
    const auto run = [&](qint64 probeTakes, qint64 holdBefore, qint64 holdAfter) {
        int probes = 0;
        for (int i = 0; i < ReplyTiming::ProbeEvery; ++i) {
            const qint64 hold = timing.holdUs(1, 4);
            if (hold == 0) {
                ++probes;
                timing.replyWhole(probeTakes, false);
            } else {
                QCOMPARE(hold, probes == 0 ? holdBefore : holdAfter);
                timing.replyWhole(10, true);
            }
        }
        QCOMPARE(probes, 1);
    };
    run(3800, 3480, 3280);
    for (int i = 1; i < ReplyTiming::Remembered; ++i)
        run(4500, 3280, 3280);
    run(4500, 3280, 3980); // the quicker ones forgotten
    // A probe answered at once: the line no longer paces, nothing is held...
    for (int i = 0; i < ReplyTiming::ProbeEvery && timing.holdUs(1, 4) != 0; ++i)
        timing.replyWhole(10, true);
    timing.replyWhole(30, false);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(timing.holdUs(1, 4), qint64(0));
        timing.replyWhole(30, false);
    }
    // ...until it paces again, measured afresh.
    measure(3500);
    QCOMPARE(timing.holdUs(1, 4), qint64(2980));
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
