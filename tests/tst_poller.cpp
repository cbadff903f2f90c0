// The sending side as a state machine, against a scripted host.
#include "fakeprompter.h"
#include "core/poller.h"

#include <QCoreApplication>
#include <QTest>

namespace {
struct Host : PollerHost {
    bool enabled = true, open = true, resetting = false, failWrites = false, watchdog = false;
    QList<QByteArray> written;
    QString status;
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
};

struct Rig {
    SharedState state;
    Host host;
    Poller poller {state, host};
    // The decoder consumed the awaited reply.
    void consume()
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
} // namespace

class TestPoller : public QObject {
    Q_OBJECT
private slots:
    void startSequenceAndCycle();
    void gateAndClosedPort();
    void watchdogResynchronises();
    void menuInitialisation();
    void secondStartNestsACycle();
    void closedPortEndsTheWait();
    void nothingAfterEnd();
};

void TestPoller::startSequenceAndCycle()
{
    Rig r;
    r.poller.Start_Click();
    QVERIFY(r.host.watchdog);
    QCOMPARE(r.line(), QStringLiteral("F 00000000 A"));
    QCOMPARE(r.state.LastCommand, QStringLiteral("A"));
    // Nothing more goes out until the reply is consumed.
    QCoreApplication::processEvents();
    r.poller.replyConsumed();
    QCoreApplication::processEvents();
    QCOMPARE(r.host.written.size(), 3);
    for (int i = 0; i < 7; ++i)
        r.consume();
    QCOMPARE(r.line(), QStringLiteral("F 00000000 A B C D B C D B"));
    QCOMPARE(r.state.LastCommand, QStringLiteral("B"));
    QVERIFY(r.host.prompter.messages.isEmpty());
}

void TestPoller::gateAndClosedPort()
{
    Rig r;
    r.host.enabled = false;
    r.host.watchdog = true;
    r.poller.Start_Click();
    QCOMPARE(r.host.prompter.texts(), QStringList {QStringLiteral("Veltrak option has to be selected")});
    QCOMPARE(r.host.prompter.messages[0].icon, Prompter::Icon::None);
    QCOMPARE(r.host.prompter.messages[0].title, QStringLiteral("VELTRAK"));
    QVERIFY(!r.host.watchdog);
    QVERIFY(r.host.written.isEmpty());

    Rig c;
    c.host.open = false;
    c.poller.Start_Click();
    QVERIFY(!c.host.watchdog);
    QVERIFY(c.host.prompter.messages.isEmpty()); // shown from its own event
    QCoreApplication::processEvents();
    QCOMPARE(c.host.prompter.texts(), QStringList {QStringLiteral("Error RS232")});
    QCOMPARE(c.host.prompter.messages[0].icon, Prompter::Icon::Critical);
    QVERIFY(!c.host.watchdog);
    QVERIFY(c.host.written.isEmpty());
    QCOMPARE(c.poller.cycleDepth(), 0);
    QCOMPARE(c.state.LastCommand, QString());
}

void TestPoller::watchdogResynchronises()
{
    Rig r;
    r.poller.Start_Click();
    r.consume(); // A
    r.consume(); // B
    QCOMPARE(r.state.LastCommand, QStringLiteral("C"));
    r.state.ReplySeen = true; // the pitch reply was seen since the last tick
    r.poller.Timer1_Timer();
    QVERIFY(!r.state.ReplySeen);
    QCOMPARE(r.state.WaitCount, 0);
    QCOMPARE(r.host.written.size(), 5);
    // The sensor falls silent while "C" is awaited.
    for (int tick = 1; tick <= 3; ++tick) {
        r.poller.Timer1_Timer();
        QCOMPARE(r.state.WaitCount, tick);
        QCOMPARE(r.host.written.last(), QByteArray("A"));
        QCOMPARE(r.state.LastCommand, QStringLiteral("A"));
    }
    QCOMPARE(r.host.status, QStringLiteral(" Waiting 3"));
    r.state.RxBuffer = QStringLiteral("8F");
    r.poller.Timer1_Timer();
    QCOMPARE(r.host.status, QStringLiteral(" Waiting 8F4"));
    r.consume(); // the answer to "A"
    QCOMPARE(r.host.written.last(), QByteArray("D")); // the lost "C" is not asked again
    // WaitCount may pass the 16-bit range without stopping anything.
    r.state.WaitCount = 32767;
    r.poller.Timer1_Timer();
    QCOMPARE(r.state.WaitCount, 32768);
    QCOMPARE(r.host.status, QStringLiteral(" Waiting 8F32768"));
}

void TestPoller::menuInitialisation()
{
    Rig r;
    r.poller.mnuinit_Click(); // idle: out at once
    QCOMPARE(r.line(), QStringLiteral("F 00000000"));
    QCOMPARE(r.state.LastCommand, QStringLiteral("F"));
    r.consume();
    QCOMPARE(r.host.written.size(), 2); // no cycle: nothing follows

    Rig p;
    p.poller.Start_Click();
    p.consume(); // A -> B awaited
    p.poller.mnuinit_Click();
    QCOMPARE(p.line(), QStringLiteral("F 00000000 A B"));
    p.consume(); // the pitch reply: now the initialisation goes out
    QCOMPARE(p.line(), QStringLiteral("F 00000000 A B F 00000000"));
    QCOMPARE(p.state.LastCommand, QStringLiteral("F"));
    p.consume(); // first chunk after "F"
    QCOMPARE(p.line(), QStringLiteral("F 00000000 A B F 00000000 C"));

    Rig closed;
    closed.host.open = false;
    closed.poller.mnuinit_Click(); // never written to a closed port, no message
    QVERIFY(closed.host.written.isEmpty());
    QVERIFY(closed.host.prompter.messages.isEmpty());
    QCOMPARE(closed.state.LastCommand, QString());
}

void TestPoller::secondStartNestsACycle()
{
    Rig r;
    r.poller.Start_Click();
    r.consume(); // A
    r.consume(); // B -> C awaited
    r.poller.Start_Click();
    QCOMPARE(r.poller.cycleDepth(), 2);
    QCOMPARE(r.host.written.size(), 5); // waits for the awaited reply
    r.consume();
    QCOMPARE(r.line(), QStringLiteral("F 00000000 A B C F 00000000 A"));
    r.consume();
    r.consume();
    QCOMPARE(r.line(), QStringLiteral("F 00000000 A B C F 00000000 A B C"));
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
    // Start works again afterwards.
    r.host.failWrites = false;
    r.host.written.clear();
    r.state.LastCommand.clear();
    r.poller.Start_Click();
    QCOMPARE(r.line(), QStringLiteral("F 00000000 A"));
}

void TestPoller::closedPortEndsTheWait()
{
    Rig r;
    r.poller.Start_Click();
    r.consume(); // B awaited
    // The decoder's reset has the port closed for a moment: keep waiting.
    r.host.open = false;
    r.host.resetting = true;
    r.poller.Timer1_Timer();
    QCoreApplication::processEvents();
    QCOMPARE(r.state.LastCommand, QStringLiteral("B"));
    QVERIFY(r.host.prompter.messages.isEmpty());
    // The port is gone for good: the next tick stops waiting and the
    // cycle's next write reports the failure once.
    r.host.resetting = false;
    r.poller.Timer1_Timer();
    QTRY_COMPARE(r.host.prompter.count(QStringLiteral("Error RS232")), 1);
    QCOMPARE(r.poller.cycleDepth(), 0);
    r.poller.Timer1_Timer();
    QCoreApplication::processEvents();
    QCOMPARE(r.host.prompter.messages.size(), 1);
}

void TestPoller::nothingAfterEnd()
{
    Rig r;
    r.poller.Start_Click();
    r.poller.end();
    const qsizetype before = r.host.written.size();
    r.consume();
    r.poller.Timer1_Timer();
    r.poller.mnuinit_Click();
    r.poller.Start_Click();
    QCoreApplication::processEvents();
    QCOMPARE(r.host.written.size(), before);
    QVERIFY(r.host.prompter.messages.isEmpty());
}

QTEST_GUILESS_MAIN(TestPoller)
#include "tst_poller.moc"
