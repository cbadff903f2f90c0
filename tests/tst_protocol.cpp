// Both sides of the protocol without a port: the poller (what is sent) and
// the decoder (what a reply becomes), each against a scripted host.
#include "core/decoder.h"
#include "core/poller.h"
#include "fakeprompter.h"

#include <QCoreApplication>
#include <QTest>

#include <map>

namespace {
struct SendHost : PollerHost {
    bool enabled = true, open = true, resetting = false, failWrites = false, watchdog = false;
    QList<QByteArray> written;
    QString status;
    qint64 silentTicks = 0;
    FakePrompter prompter;
    bool startEnabled() const override { return enabled; }
    bool portOpen() const override { return open; }
    bool portResetting() const override { return resetting; }
    bool writeToPort(const QByteArray& bytes) override
    {
        if (!open || failWrites)
            return false;
        written << bytes;
        return true;
    }
    void setWatchdog(bool on) override { watchdog = on; }
    void setStatus(const QString& text) override { status = text; }
    void message(const QString& text, Prompter::Icon icon) override { prompter.message(text, icon, AppTitle); }
    void watchdogSilent(qint64 ticks) override { silentTicks = ticks; }
};

struct Sender {
    SharedState state;
    SendHost host;
    Poller poller {state, host};
    // S Start, I menu initialisation, c the awaited reply consumed, t a
    // watchdog tick, x the port closed, e end.
    void run(const char* steps)
    {
        static const std::map<char, void (*)(Sender&)> act = {{'S', [](Sender& s) { s.poller.startPolling(); }},
            {'I', [](Sender& s) { s.poller.sendInitialisation(); }}, {'c', [](Sender& s) { s.consume(); }},
            {'t', [](Sender& s) { s.poller.watchdogTick(); }}, {'x', [](Sender& s) { s.host.open = false; }},
            {'e', [](Sender& s) { s.poller.end(); }}};
        for (; *steps; ++steps)
            act.at (*steps)(*this);
    }
    void consume() // the decoder consumed the awaited reply
    {
        state.LastCommand.clear();
        poller.replyConsumed();
        QCoreApplication::processEvents();
    }
    QString line() const
    {
        QString s;
        for (const QByteArray& b : host.written)
            s += QString::fromLatin1(b) + QLatin1Char(' ');
        return s.trimmed();
    }
};

struct ReceiveHost : DecoderHost {
    bool raw = false;
    Calibration cal;
    QList<Reading> readings;
    QString status;
    int resets = 0, handshakes = 0;
    bool rawSelected() const override { return raw; }
    const Calibration& decoderCalibration() const override { return cal; }
    void deliver(Reading r) override { readings << r; }
    void handshakeSeen() override { ++handshakes; }
    void setStatus(const QString& text) override { status = text; }
    void resetPort() override { ++resets; }
};

struct Receiver {
    SharedState state;
    ReceiveHost host;
    ReplyDecoder decoder {state, host};
    // Feeds a chunk (setting the awaited letter unless null); returns the
    // number of readings it produced.
    qsizetype feed(const QString& cmd, const QString& chunk)
    {
        if (!cmd.isNull())
            state.LastCommand = cmd;
        const qsizetype before = host.readings.size();
        QString c = chunk;
        decoder.ProcessReply(c);
        if (!c.isEmpty())
            qFatal("the caller's chunk must be empty on return");
        return host.readings.size() - before;
    }
    const Reading& last() const { return host.readings.last(); }
};
} // namespace

class TestProtocol : public QObject {
    Q_OBJECT
private slots:
    void sendingScripts();
    void gateAndClosedPort();
    void watchdogResynchronises();
    void secondStartNestsACycle();
    void closedPortEndsTheWaitButAResetDoesNot();
    void readingsTable();
    void answerToA();
    void gatheringAndLeftovers();
};

void TestProtocol::sendingScripts()
{
    static const struct {
        const char *name, *steps, *line, *awaited;
    } scripts[] = {
        {"start sequence", "S", "F 00000000 A", "A"},
        {"a tick asks A", "St", "F 00000000 A A", "A"},
        {"the cycle", "Sccccccc", "F 00000000 A B C D B C D B", "B"},
        {"init when idle", "Ic", "F 00000000", ""},
        {"init waits for the reply", "ScI", "F 00000000 A B", "B"},
        {"init between replies", "ScIc", "F 00000000 A B F 00000000", "F"},
        {"cycle goes on after init", "ScIcc", "F 00000000 A B F 00000000 C", "C"},
        {"init on a closed port", "xI", "", ""},
        {"silent: A, then the next step", "Scctc", "F 00000000 A B C A D", "D"},
        {"second start waits", "SccS", "F 00000000 A B C", "C"},
        {"second start nests", "SccSccc", "F 00000000 A B C F 00000000 A B C", "C"},
        {"nothing after end", "SceccItS", "F 00000000 A B", ""},
    };
    for (const auto& script : scripts) {
        Sender r;
        r.run(script.steps);
        QVERIFY2(
            r.line() == QLatin1String(script.line), qPrintable(QStringLiteral("%1: %2").arg(script.name, r.line())));
        QVERIFY2(r.state.LastCommand == QLatin1String(script.awaited), script.name);
        QVERIFY2(r.host.prompter.messages.isEmpty(), script.name);
    }
}

void TestProtocol::gateAndClosedPort()
{
    Sender r;
    r.host.enabled = false;
    r.host.watchdog = true;
    r.poller.startPolling();
    QCOMPARE(r.host.prompter.texts(), QStringList {QStringLiteral("Veltrak option has to be selected")});
    QCOMPARE(r.host.prompter.messages[0].icon, Prompter::Icon::None);
    QVERIFY(!r.host.watchdog);
    QVERIFY(r.host.written.isEmpty());

    Sender c;
    c.host.open = false;
    c.poller.startPolling();
    QVERIFY(!c.host.watchdog);
    QVERIFY(c.host.prompter.messages.isEmpty()); // shown from its own event
    QCoreApplication::processEvents();
    QCOMPARE(c.host.prompter.texts(), QStringList {QStringLiteral("Error RS232")});
    QCOMPARE(c.host.prompter.messages[0].icon, Prompter::Icon::Critical);
    QCOMPARE(c.poller.cycleDepth(), 0);
    QCOMPARE(c.state.LastCommand, QString());
}

void TestProtocol::watchdogResynchronises()
{
    Sender r;
    r.run("Scc"); // C awaited
    r.state.ReplySeen = true; // the pitch reply was seen since the last tick
    r.poller.watchdogTick();
    QVERIFY(!r.state.ReplySeen);
    QCOMPARE(r.state.WaitCount, 0);
    QCOMPARE(r.host.written.size(), 5);
    for (int tick = 1; tick <= 3; ++tick) { // silent while "C" is awaited
        r.poller.watchdogTick();
        QCOMPARE(r.state.WaitCount, tick);
        QCOMPARE(r.host.silentTicks, tick);
        QCOMPARE(r.host.written.last(), QByteArray("A"));
        QCOMPARE(r.state.LastCommand, QStringLiteral("A"));
    }
    QCOMPARE(r.host.status, QStringLiteral(" Waiting 3"));
    r.state.RxBuffer = QStringLiteral("8F");
    r.poller.watchdogTick();
    QCOMPARE(r.host.status, QStringLiteral(" Waiting 8F4"));
    r.state.WaitCount = 32767; // wider than 16 bits, nothing stops
    r.poller.watchdogTick();
    QCOMPARE(r.host.status, QStringLiteral(" Waiting 8F32768"));
}

void TestProtocol::secondStartNestsACycle()
{
    Sender r;
    r.run("SccSccc");
    QCOMPARE(r.poller.cycleDepth(), 2);
    // The line fails: the newer cycle ends first; the one beneath resumes
    // only after its box is closed, and fails in turn.
    int depthWhileOpen = -1;
    r.host.prompter.whileOpen = [&](const FakePrompter::Shown&) {
        if (depthWhileOpen < 0)
            depthWhileOpen = r.poller.cycleDepth();
    };
    r.host.failWrites = true;
    r.consume();
    QTRY_COMPARE(r.host.prompter.count(QStringLiteral("Error RS232")), 2);
    QCOMPARE(depthWhileOpen, 2);
    QCOMPARE(r.poller.cycleDepth(), 0);
    QVERIFY(!r.host.watchdog);
    r.host.failWrites = false; // Start works again afterwards
    r.host.written.clear();
    r.state.LastCommand.clear();
    r.poller.startPolling();
    QCOMPARE(r.line(), QStringLiteral("F 00000000 A"));
}

void TestProtocol::closedPortEndsTheWaitButAResetDoesNot()
{
    Sender r;
    r.run("Sc"); // B awaited
    // The decoder's reset has the port closed for a moment: keep waiting,
    // and write nothing even when the awaited reply is consumed.
    r.host.open = false;
    r.host.resetting = true;
    r.run("t");
    QCOMPARE(r.state.LastCommand, QStringLiteral("B"));
    r.run("c");
    QCOMPARE(r.host.written.size(), 4);
    QVERIFY(r.host.prompter.messages.isEmpty());
    r.host.open = true; // reopened: the cycle goes on
    r.host.resetting = false;
    r.poller.replyConsumed();
    QCOMPARE(r.host.written.last(), QByteArray("C"));
    // The port is gone for good: the next tick stops waiting and the
    // cycle's next write reports the failure once.
    r.run("xt");
    QTRY_COMPARE(r.host.prompter.count(QStringLiteral("Error RS232")), 1);
    QCOMPARE(r.poller.cycleDepth(), 0);
    r.run("t");
    QCoreApplication::processEvents();
    QCOMPARE(r.host.prompter.messages.size(), 1);
    // reset() forgets every cycle.
    r.host.open = true;
    r.run("S");
    r.poller.reset();
    r.run("c");
    QCOMPARE(r.host.written.last(), QByteArray("A"));
}

void TestProtocol::readingsTable()
{
    using U = conversion::ThicknessUnit;
    static const struct {
        const char *name, *cmd, *chunk;
        bool raw, thickness;
        U unit;
        Model model;
        const char *valueColumn, *rawColumn;
    } rows[] = {
        {"pitch centre", "B", "800\n", false, false, U::Millimetres, Model::Raw, "00.00", "    "},
        {"pitch below", "B", "7FF\n", false, false, U::Millimetres, Model::Raw, "-01.00", "    "},
        {"Z1 at 1000", "B", "BE8\n", false, false, U::Millimetres, Model::Z1, "12.60", "    "},
        {"Z1 roll at -2048", "C", "000\n", false, false, U::Millimetres, Model::Z1, "-23.84", "     "},
        {"garbage reads 0", "C", "G?800\n", false, false, U::Millimetres, Model::Raw, "-2048.00", "     "},
        {"raw pitch", "B", "8FB\n", true, false, U::Millimetres, Model::Raw, "    ", "2299"},
        {"raw roll", "C", "800\n", true, false, U::Millimetres, Model::Raw, "     ", "2048"},
        {"raw wins over thickness", "B", "8FB\n", true, true, U::Millimetres, Model::Raw, "    ", "2299"},
        {"thickness at true zero", "B", "882\n", false, true, U::Millimetres, Model::Raw, "0.00", "    "},
        {"thickness mm", "B", "8FB\n", false, true, U::Millimetres, Model::Z1, "0.79", "    "},
        {"thickness in", "B", "8FB\n", false, true, U::Inches, Model::Raw, "0.0318", "    "},
        {"thickness deg", "B", "8FB\n", false, true, U::Degrees, Model::Raw, "1.00", "    "},
        {"thickness leaves roll", "C", "8FB\n", false, true, U::Inches, Model::Raw, "251.00", "     "},
        {"temperature", "D", "09E\n", false, false, U::Millimetres, Model::Raw, "25", "     "},
        {"raw temperature", "D", "09E\n", true, true, U::Millimetres, Model::Raw, "     ", "158"},
    };
    for (const auto& row : rows) {
        Receiver r;
        r.host.raw = row.raw;
        r.host.cal.thickness = row.thickness;
        r.host.cal.unit = row.unit;
        r.host.cal.coefficients = presetFor(row.model);
        QVERIFY2(r.feed(QString::fromLatin1(row.cmd), QString::fromLatin1(row.chunk)) == 1, row.name);
        QVERIFY2(r.last().valueColumnText() == QLatin1String(row.valueColumn), row.name);
        QVERIFY2(r.last().rawColumnText() == QLatin1String(row.rawColumn), row.name);
        QVERIFY2(r.state.LastCommand.isEmpty() && r.state.RxBuffer.isEmpty(), row.name);
        // Only angles count as a reply seen; only a pitch shown as an angle
        // moves the zero reference, and only thickness writes the status.
        const bool pitchAngle = row.cmd[0] == 'B' && !row.raw;
        QVERIFY2(r.state.ReplySeen == (row.cmd[0] != 'D'), row.name);
        QVERIFY2((r.state.LastReading != 0) == (pitchAngle && row.chunk[1] != '0'), row.name);
        QVERIFY2(r.host.status.isEmpty() == !(pitchAngle && row.thickness), row.name);
    }
    Receiver r;
    r.host.cal.thickness = true;
    r.feed("B", "8FB\n");
    QCOMPARE(r.host.status, QStringLiteral("251"));
    QCOMPARE(r.state.LastReading, 251.0);
    QCOMPARE(r.last().value, conversion::thicknessValue(251, 130, conversion::ThicknessUnit::Millimetres));
    r.host.cal.ZeroReference = 251;
    r.feed("B", "8FB\n");
    QCOMPARE(r.last().text, QStringLiteral("0.00"));
    r.feed("D", "0A0\n");
    QCOMPARE(r.last().value, 27.0);
    QCOMPARE(r.last().quantity, Quantity::Temperature);
}

void TestProtocol::answerToA()
{
    Receiver r;
    r.feed("A", "R");
    QCOMPARE(r.host.resets, 0);
    QCOMPARE(r.host.handshakes, 1);
    QVERIFY(!r.state.ReplySeen);
    QCOMPARE(r.state.LastCommand, QString());
    for (const char* wrong : {"r", "R\n", "RR", "800\n"}) {
        r.state.ReplySeen = false;
        const int before = r.host.resets;
        QCOMPARE(r.feed("A", QString::fromLatin1(wrong)), 0);
        QCOMPARE(r.host.resets, before + 1);
        QVERIFY(r.state.ReplySeen);
        QCOMPARE(r.state.LastCommand, QString());
    }
    QCOMPARE(r.host.handshakes, 5);
    r.state.RxBuffer = QStringLiteral("8F");
    r.feed("A", "R");
    QCOMPARE(r.state.RxBuffer, QStringLiteral("8F")); // "A" leaves the buffer alone
}

void TestProtocol::gatheringAndLeftovers()
{
    Receiver r;
    QCOMPARE(r.feed("B", "80"), 0);
    QCOMPARE(r.state.LastCommand, QStringLiteral("B"));
    QCOMPARE(r.state.RxBuffer, QStringLiteral("80"));
    QVERIFY(!r.state.ReplySeen);
    QCOMPARE(r.feed(QString(), "0\n"), 1);
    QCOMPARE(r.last().text, QStringLiteral("00.00"));
    r.feed("B", "8"); // one, two and one characters
    r.feed(QString(), "FB");
    QCOMPARE(r.state.LastCommand, QStringLiteral("B"));
    r.feed(QString(), "\n");
    QCOMPARE(r.last().text, QStringLiteral("251.00"));
    // "F" is answered by whatever comes; nothing awaited throws chunks away.
    r.state.RxBuffer = QStringLiteral("8");
    QCOMPARE(r.feed("F", "whatever 123\n"), 0);
    QCOMPARE(r.state.LastCommand, QString());
    QCOMPARE(r.feed(QString(), "800\n"), 0);
    QCOMPARE(r.feed("b", "800\n"), 0); // letters compare case-sensitively
    QCOMPARE(r.state.RxBuffer, QStringLiteral("8"));
    // An incomplete reply interrupted by the watchdog's "A" joins the next.
    r.state.RxBuffer = QStringLiteral("8F");
    r.feed("A", "R");
    r.feed("D", "09E\n");
    QCOMPARE(r.last().value, double(0x8F09E - 133));
    QCOMPARE(r.state.RxBuffer, QString());
    r.feed("C", "G?800\n"); // garbage in front reads as 0
    QCOMPARE(r.last().text, QStringLiteral("-2048.00"));
    r.feed("B", QString(40, QLatin1Char('F'))); // saturates rather than wraps
    QVERIFY(r.last().text.size() > 15);
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
