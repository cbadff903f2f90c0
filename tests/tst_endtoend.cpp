// The program's own poller, decoder and port against the simulated sensor
// over a real pseudo-terminal, driven through the start-up chain.
#include "formrig.h"
#include "sim/simsensor.h"

#include <QElapsedTimer>
#include <QRegularExpression>

namespace {

// The sensor on its own thread; port 4 of the program is mapped to it.
struct Line {
    sim::SimSensor sensor;
    PortMap ports;
    explicit Line(sim::SimOptions o = {}) : sensor(std::move(o))
    {
        std::string error;
        if (!sensor.start(&error))
            qFatal("simulator: %s", error.c_str());
        ports.setDevice(4, QString::fromStdString(sensor.devicePath()));
    }
    QString received() const { return QString::fromStdString(sensor.received()); }
};

// Port dialog OK on the default port 4, a model in the model dialog, OK.
void startUp(FormRig& r, const char* modelOption = "Option1")
{
    r.form->Form_Load();
    r.throughDialogs(modelOption);
}

// The commands the program sent, without the initialisation's zeros.
QString commands(const QString& received)
{
    QString s = received;
    s.replace(QStringLiteral("F00000000"), QStringLiteral("F"));
    return s;
}

// Every command but "F" waits until the reply to the one before it has
// completely left the sensor.
void verifyHandshake(const std::vector<sim::LogEntry>& log)
{
    bool awaiting = false;
    bool replyDone = true;
    char last = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const sim::LogEntry& e = log[i];
        if (e.received) {
            if (e.byte == '0')
                continue;
            if (e.byte == 'A' && last == 'F')
                replyDone = true; // the initialisation is answered by nothing
            QVERIFY2(!awaiting || replyDone,
                qPrintable(QStringLiteral("command %1 sent before the reply to %2").arg(e.byte).arg(last)));
            awaiting = true;
            replyDone = false;
            last = e.byte;
        } else if (e.byte == '\n' || (last == 'A' && e.byte == 'R')) {
            replyDone = true;
        }
    }
}
} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void pollsInOrderAndShowsReadings();
    void startWithoutPortOrModel();
    void silentSensorIsResynchronised();
    void splitAndPacedReplies();
    void wrongAnswerToAResetsThePort();
    void closingWhilePollingSendsNothingMore();
    void vanishedDeviceEndsInOneErrorAndRecovers();
    void portComponentWritesReadsAndFailsCleanly();
};

void TestEndToEnd::pollsInOrderAndShowsReadings()
{
    sim::SimOptions o;
    o.pitch = 0xBE8; // centred 1000
    o.roll = 0x000; // centred -2048
    Line line(o);
    FormRig r(line.ports);
    startUp(r);
    QVERIFY(r.a("MZ1")->isChecked());
    r.w<QPushButton>("Start")->click();
    QTRY_VERIFY(line.received().size() >= 40);
    const QString sent = commands(line.received());
    QVERIFY2(sent.startsWith(QStringLiteral("FABCDBCDBCD")), qPrintable(sent.left(40)));
    QVERIFY2(QRegularExpression(QStringLiteral("^FA(BCD)+(B|BC)?$")).match(sent).hasMatch(), qPrintable(sent));
    verifyHandshake(line.sensor.log());
    QTRY_COMPARE(r.text("LabelPitch"), QStringLiteral("12.60"));
    QTRY_COMPARE(r.text("LabelRoll"), QStringLiteral("-23.84"));
    QTRY_COMPARE(r.text("LabelTemperature"), QStringLiteral("25"));
    QCOMPARE(r.text("Lbl7PITCH"), QStringLiteral("    "));
    QVERIFY(r.form->findChild<QTimer*>("Timer1")->isActive());
    // The raw column while polling.
    r.w<QRadioButton>("Opt1")->click();
    QTRY_COMPARE(r.text("Lbl7PITCH"), QStringLiteral("3048"));
    QTRY_COMPARE(r.text("Lbl6TEMP"), QStringLiteral("158"));
    QTRY_COMPARE(r.text("LabelPitch"), QStringLiteral("    "));
    QVERIFY(r.prompter.messages.isEmpty());
}

void TestEndToEnd::startWithoutPortOrModel()
{
    PortMap nowhere;
    nowhere.setDevice(4, QStringLiteral("/nonexistent/veltrak-port"));
    FormRig r(nowhere);
    r.form->Form_Load();
    r.form->configDialog()->findChild<QPushButton*>("OKButton")->click();
    // The failed open at OK is reported, and the chain goes on.
    QCOMPARE(r.prompter.messages.size(), 1);
    QCOMPARE(r.prompter.messages[0].icon, Prompter::Icon::Warning);
    QVERIFY(r.prompter.messages[0].text.contains(QStringLiteral("/nonexistent/veltrak-port")));
    QVERIFY(r.form->optionsDialog()->isVisible());
    r.form->optionsDialog()->findChild<QPushButton*>("Okbutton")->click();
    // No model yet: the handler refuses.
    r.form->Start_Click();
    QCOMPARE(r.prompter.texts().last(), QStringLiteral("Veltrak option has to be selected"));
    QCOMPARE(r.prompter.messages.last().icon, Prompter::Icon::None);
    r.a("MZ3")->trigger();
    r.w<QPushButton>("Start")->click();
    QTRY_COMPARE(r.prompter.count(QStringLiteral("Error RS232")), 1);
    QCOMPARE(r.prompter.messages.last().icon, Prompter::Icon::Critical);
    QVERIFY(!r.form->findChild<QTimer*>("Timer1")->isActive());
    QVERIFY(r.w<QPushButton>("Start")->isEnabled());
    QCOMPARE(r.form->state().LastCommand, QString());
}

void TestEndToEnd::silentSensorIsResynchronised()
{
    Line line;
    FormRig r(line.ports);
    startUp(r, "Option3");
    r.w<QPushButton>("Start")->click();
    QTRY_VERIFY(line.received().size() >= 20);
    line.sensor.setUnanswered("C"); // roll replies stop
    QTRY_VERIFY_WITH_TIMEOUT(r.form->state().WaitCount >= 2, 5000);
    QVERIFY(r.text("Ldebug").startsWith(QStringLiteral(" Waiting ")));
    QVERIFY(r.text("Ldebug").endsWith(QString::number(r.form->state().WaitCount)));
    const QString sent = commands(line.received());
    // After each unanswered "C" comes the watchdog's "A", then "D".
    const qsizetype stall = sent.lastIndexOf(QStringLiteral("CA"));
    QVERIFY2(stall > 0, qPrintable(sent.right(30)));
    QTRY_VERIFY(commands(line.received()).mid(stall).startsWith(QStringLiteral("CAD")));
    QVERIFY(!commands(line.received()).contains(QStringLiteral("CC")));
    line.sensor.setUnanswered("");
    // The "C" sent just before may still be lost; once replies flow again,
    // the watchdog stays quiet.
    const std::size_t before = line.sensor.repliesSent();
    QTRY_VERIFY_WITH_TIMEOUT(line.sensor.repliesSent() > before + 20, 5000);
    const qint64 waits = r.form->state().WaitCount;
    QTest::qWait(2500);
    QCOMPARE(r.form->state().WaitCount, waits); // readings are back
    QVERIFY(r.prompter.messages.isEmpty());
}

void TestEndToEnd::splitAndPacedReplies()
{
    // Replies in three pieces 3 ms apart, then replies at the real line rate.
    sim::SimOptions split;
    split.splitPieces = 3;
    split.splitGapUs = 3000;
    sim::SimOptions paced;
    paced.baud = 19200;
    for (sim::SimOptions o : {split, paced}) {
        o.pitch = 0x7FF;
        o.roll = 0x801;
        Line line(o);
        FormRig r(line.ports);
        startUp(r, "Option3");
        r.w<QPushButton>("Start")->click();
        QTRY_VERIFY(line.sensor.repliesSent() >= 30);
        QCOMPARE(r.text("LabelPitch"), QStringLiteral("-01.00"));
        QCOMPARE(r.text("LabelRoll"), QStringLiteral("01.00"));
        QCOMPARE(r.text("LabelTemperature"), QStringLiteral("25"));
        QCOMPARE(r.form->state().WaitCount, 0);
        verifyHandshake(line.sensor.log());
        r.form->Form_Unload();
    }
}

void TestEndToEnd::wrongAnswerToAResetsThePort()
{
    sim::SimOptions o;
    o.badAnswerToA = 1.0; // every "A" answered with "r" or "R\n"
    Line line(o);
    FormRig r(line.ports);
    startUp(r, "Option3");
    r.w<QPushButton>("Start")->click();
    QTRY_COMPARE(r.text("Lbl8ROLL"), QStringLiteral("     "));
    QTRY_COMPARE(r.text("LabelPitch"), QStringLiteral("00.00"));
    QVERIFY(r.form->port().PortOpen());
    QVERIFY(r.form->state().ReplySeen || r.form->state().LastCommand != QLatin1String("A"));
    QVERIFY(r.prompter.messages.isEmpty());
}

void TestEndToEnd::closingWhilePollingSendsNothingMore()
{
    Line line;
    FormRig r(line.ports);
    startUp(r);
    r.w<QPushButton>("Start")->click();
    r.w<QPushButton>("Start")->click(); // a nested cycle too
    QTRY_VERIFY(line.received().size() >= 30);
    r.form->close();
    QCOMPARE(r.quits, 1);
    QVERIFY(!r.form->port().PortOpen());
    QTest::qWait(100); // bytes written before the close reach the sensor
    const qsizetype atClose = line.received().size();
    QTest::qWait(1500); // a watchdog period
    QCOMPARE(line.received().size(), atClose);
    QVERIFY(r.prompter.messages.isEmpty());
}

void TestEndToEnd::vanishedDeviceEndsInOneErrorAndRecovers()
{
    QTemporaryDir dir;
    sim::SimOptions o;
    o.linkPath = dir.filePath(QStringLiteral("sensor")).toStdString();
    auto sensor = std::make_unique<sim::SimSensor>(o);
    QVERIFY(sensor->start());
    PortMap ports;
    ports.setDevice(4, QString::fromStdString(o.linkPath));
    FormRig r(ports);
    startUp(r, "Option3");
    r.w<QPushButton>("Start")->click();
    QTRY_VERIFY(sensor->repliesSent() >= 10);
    sensor->stop(); // the adapter is pulled
    QTRY_COMPARE_WITH_TIMEOUT(r.prompter.count(QStringLiteral("Error RS232")), 1, 5000);
    QVERIFY(!r.form->port().PortOpen());
    QTest::qWait(1500);
    QCOMPARE(r.prompter.messages.size(), 1);

    // The device comes back: Settings, OK, model OK, Start.
    sensor = std::make_unique<sim::SimSensor>(o);
    QVERIFY(sensor->start());
    r.a("MSettings")->trigger();
    r.form->configDialog()->findChild<QPushButton*>("OKButton")->click();
    QVERIFY(r.form->port().PortOpen());
    r.form->optionsDialog()->findChild<QPushButton*>("Okbutton")->click();
    r.w<QPushButton>("Start")->click();
    QTRY_VERIFY(sensor->repliesSent() >= 10);
    QCOMPARE(r.prompter.messages.size(), 1);
}

void TestEndToEnd::portComponentWritesReadsAndFailsCleanly()
{
    Line line;
    SerialPortComponent port;
    port.setPortMap(line.ports);
    QVERIFY(!port.setPortOpen(true));
    QList<int> events;
    QString received;
    connect(&port, &SerialPortComponent::OnComm, this, [&] {
        events << port.CommEvent();
        if (port.CommEvent() == SerialPortComponent::ReceivedEvent)
            received += port.Input();
    });
    QVERIFY(!port.Output("B"));
    QTRY_COMPARE(received, QStringLiteral("800\n"));
    QCOMPARE(line.received(), QStringLiteral("B"));

    // The device vanishes before the next write: the write says why, one
    // error event is raised and the port is closed once back in the loop.
    line.sensor.stop();
    events.clear();
    const auto error = port.Output("C");
    QVERIFY(error && !error->isEmpty());
    QCOMPARE(events, QList<int> {SerialPortComponent::ErrorEventBase + QSerialPort::WriteError});
    QTRY_VERIFY(!port.PortOpen());
    QCOMPARE(port.Output("D"), std::optional<QString>(QStringLiteral("Port is not open")));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
