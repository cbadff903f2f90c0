// The main window through its widgets, found by name: start state, menus,
// models, thickness, units and zero, custom coefficients, recording, About,
// shutdown.
#include "formrig.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenuBar>

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void startState();
    void menuTree();
    void recordingFileAtStart();
    void recordingFileCannotBeCreated();
    void presets();
    void thicknessLayoutAndUnits();
    void zeroReference();
    void customCoefficients();
    void customLoadIsAllOrNothing();
    void equationDisplay();
    void recording();
    void intervalPrompt();
    void recordingWriteFailure();
    void fastRepliesShowTheLatest();
    void aboutBox();
    void shutdown();
};

void TestMainWindow::startState()
{
    FormRig r;
    r.form->Form_Load();
    QVERIFY(!r.form->isVisible());
    QVERIFY(r.form->configDialog() && r.form->configDialog()->isVisible());
    QCOMPARE(r.form->windowTitle(), QStringLiteral("Veltrak Interface  "));
    QVERIFY(!r.w<QPushButton>("Start")->isEnabled());
    QCOMPARE(r.w<QPushButton>("Start")->text(), QStringLiteral("Start communication"));
    QVERIFY(r.w<QRadioButton>("Option2")->isChecked());
    QVERIFY(!r.w<QRadioButton>("Opt1")->isChecked());
    QCOMPARE(r.w<QRadioButton>("Option2")->text(), QStringLiteral("ANGLE DATA (Deg.)"));
    QCOMPARE(r.w<QRadioButton>("Opt1")->text(), QStringLiteral("RAW DATA (Binary)"));
    for (const char* name : {"LabelPitch", "LabelRoll", "LabelTemperature", "Lbl7PITCH", "Lbl8ROLL", "Lbl6TEMP"})
        QVERIFY2(r.text(name).isEmpty(), name);
    QCOMPARE(r.text("Ldebug"), QStringLiteral("Information"));
    QCOMPARE(r.text("Label4(0)"), QStringLiteral("PITCH"));
    QCOMPARE(r.text("Label4(1)"), QStringLiteral("ROLL"));
    QCOMPARE(r.text("Label2"), QStringLiteral("TEMP (Deg C.)"));
    QCOMPARE(r.text("Label5"), QStringLiteral("VELTRAK Dual Axis    Digital Inclinometer"));
    QVERIFY(!r.text("Label3").isEmpty());
    QCOMPARE(r.w<QLabel>("KVDLOGO")->pixmap().size(), QSize(78, 32));
    QCOMPARE(r.w<QLabel>("Label4(0)")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QCOMPARE(r.w<QLabel>("Label5")->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    QVERIFY(r.w<QLabel>("LabelPitch")->font().bold());
    QVERIFY(!r.w<QLabel>("Ldebug")->font().bold());
    QCOMPARE(r.w<QWidget>("Form1Client")->palette().color(QPalette::Window), QColor(0, 255, 255));
    for (const char* name : {"Timer1", "RecTimer"}) {
        auto* t = r.form->findChild<QTimer*>(name);
        QVERIFY(t);
        QVERIFY(!t->isActive());
        QCOMPARE(t->interval(), 1000);
    }
    QCOMPARE(r.form->port().objectName(), QStringLiteral("MSComm1"));
    QCOMPARE(r.form->port().CommPort(), 4);
    QCOMPARE(r.form->port().Settings(), QStringLiteral("19200,N,8,1"));
    QCOMPARE(r.form->port().Handshaking(), 0);
    QVERIFY(!r.form->port().PortOpen());
    const SharedState& s = r.form->state();
    QCOMPARE(s.LastCommand, QString());
    QCOMPARE(s.PitchOffset, -2048.0);
    QCOMPARE(s.RollOffset, -2048.0);
    QCOMPARE(s.CoefX1, 1.0);
    QCOMPARE(s.CoefX2, 0.0);
    QCOMPARE(s.CoefX3, 0.0);
    QCOMPARE(s.ZeroReference, 130.0);
    QCOMPARE(s.LastReading, 0.0);
    QVERIFY(r.prompter.messages.isEmpty());
}

void TestMainWindow::menuTree()
{
    FormRig r;
    struct Item {
        const char* name;
        const char* text;
        const char* parent;
        bool enabled;
        bool checked;
    };
    const Item items[] = {
        {"MnuFileItem(2)", "E&xit", "MFile", true, false},
        {"MSettings", "&Settings...", "MPort", true, false},
        {"mnuinit", "&Initialize ", "MPort", true, false},
        {"MZ1", "VELTRAK_Z1", "Inclinometer", true, false},
        {"MZ2", "VELTRAK_Z2", "Inclinometer", true, false},
        {"MZ3", "VELTRAK_Z3", "Inclinometer", true, false},
        {"DualComp", "Dual compensation", "Inclinometer", true, false},
        {"MZ4", "Raw data - 2048", "Inclinometer", true, false},
        {"MnuCustom", "Custom", "Inclinometer", true, false},
        {"MnuThickness", "Thickness", "Inclinometer", true, false},
        {"MnuShow", "Coefficients", "Inclinometer", true, false},
        {"mnuRecording", "Recording to kvddt.txt", "mnuRecord", true, false},
        {"mnuInterval", "Set interval", "mnuRecord", true, false},
        {"Mnumm", "mm", "MnuInmm", true, true},
        {"Mnudegrees", "degrees", "MnuInmm", true, false},
        {"MnuInch", "in", "MnuInmm", true, false},
        {"MnuZero", "Zero", "MnuFormat", false, false},
        {"MnuTrueZero", "True Zero", "MnuFormat", true, false},
        {"mnuabout", "About", "mnuhelp", true, false},
    };
    for (const Item& it : items) {
        QAction* a = r.a(it.name);
        QVERIFY2(a, it.name);
        QCOMPARE(a->text(), QString::fromLatin1(it.text));
        QCOMPARE(a->isEnabled(), it.enabled);
        QCOMPARE(a->isChecked(), it.checked);
        auto* menu = r.w<QMenu>(it.parent);
        QVERIFY2(menu && menu->actions().contains(a), it.name);
    }
    QStringList top;
    for (QAction* a : r.form->menuBar()->actions())
        top << a->menu()->objectName() + QLatin1Char('=') + a->text();
    QCOMPARE(top,
        (QStringList {"MFile=&File", "MPort=&CommPort", "Inclinometer=&Option", "mnuRecord=&Record Data",
            "MnuFormat=F&ormat", "mnuView=&View", "mnuhelp=&Help"}));
    auto* unit = r.w<QMenu>("MnuInmm");
    QCOMPARE(unit->title(), QStringLiteral("Unit"));
    QVERIFY(!unit->menuAction()->isEnabled());
    QCOMPARE(r.w<QMenu>("MnuFormat")->actions().first(), unit->menuAction());
    QCOMPARE(r.a("MSettings")->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    QCOMPARE(r.a("mnuinit")->shortcut(), QKeySequence(QStringLiteral("Ctrl+I")));
    QCOMPARE(r.w<QMenu>("Inclinometer")->actions().indexOf(r.a("DualComp")), 3);
}

void TestMainWindow::recordingFileAtStart()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kvddt.txt"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("1\tPitch\t00.00\tRoll\t00.00\r\n");
    }
    FormRig r(PortMap(), dir.path());
    r.form->Form_Load();
    QVERIFY(QFileInfo::exists(path));
    QCOMPARE(QFileInfo(path).size(), 0);
    QVERIFY(r.form->recorder().isOpen());
    QVERIFY(r.a("mnuRecording")->isEnabled());
    QCOMPARE(r.text("Ldebug"), QStringLiteral("Information"));
    // An installed copy keeps its files elsewhere and says where.
    r.form->showDataDirectory();
    QCOMPARE(r.text("Ldebug"), QStringLiteral("Files in ") + QDir::toNativeSeparators(dir.path()));
}

void TestMainWindow::recordingFileCannotBeCreated()
{
    FormRig r(PortMap(), QStringLiteral("/proc/no-such-dir"));
    r.form->Form_Load();
    QCOMPARE(r.prompter.messages.size(), 1);
    const auto& m = r.prompter.messages.first();
    QVERIFY(m.text.contains(QStringLiteral("/proc/no-such-dir/kvddt.txt")));
    QCOMPARE(m.icon, Prompter::Icon::Warning);
    QVERIFY(!r.form->recorder().isOpen());
    QVERIFY(!r.a("mnuRecording")->isEnabled());
    QVERIFY(!r.a("mnuInterval")->isEnabled());
    // The run goes on: the port dialog is up.
    QVERIFY(r.form->configDialog()->isVisible());
}

void TestMainWindow::presets()
{
    FormRig r;
    r.form->Form_Load();
    struct P {
        const char* item;
        double x1, x3;
    };
    for (const P& p :
        {P {"MZ1", 0.0129, -3E-10}, P {"MZ2", 0.03125, -2E-9}, P {"MZ3", 0.0468, -4E-9}, P {"MZ4", 1, 0}}) {
        r.a(p.item)->trigger();
        for (const char* other : {"MZ1", "MZ2", "MZ3", "MZ4", "MnuCustom", "MnuThickness"})
            QCOMPARE(r.a(other)->isChecked(), qstrcmp(other, p.item) == 0);
        QCOMPARE(r.form->state().CoefX1, p.x1);
        QCOMPARE(r.form->state().CoefX2, 0.0);
        QCOMPARE(r.form->state().CoefX3, p.x3);
        QVERIFY(r.w<QPushButton>("Start")->isEnabled());
    }
    r.a("MZ4")->trigger(); // the checked preset again: same state
    QVERIFY(r.a("MZ4")->isChecked());
    r.a("DualComp")->trigger();
    QVERIFY(!r.a("DualComp")->isChecked());
    QVERIFY(r.a("MZ4")->isChecked());
    QCOMPARE(r.form->state().CoefX1, 1.0);
    // With MZ4 the value is the centred count itself.
    r.reply("B", "BE8\n");
    QCOMPARE(r.text("LabelPitch"), QStringLiteral("1000.00"));
    QVERIFY(r.prompter.messages.isEmpty());
}

void TestMainWindow::thicknessLayoutAndUnits()
{
    FormRig r;
    r.form->Form_Load();
    r.form->show();
    r.a("MZ2")->trigger();
    r.a("MnuThickness")->trigger();
    QVERIFY(r.a("MnuThickness")->isChecked());
    QVERIFY(!r.a("MZ2")->isChecked());
    QVERIFY(r.w<QPushButton>("Start")->isEnabled());
    QCOMPARE(r.form->state().CoefX1, 0.03125);
    QCOMPARE(r.text("Label4(0)"), QStringLiteral("Thickness(mm)"));
    const char* hidden[] = {
        "Label4(1)", "Label2", "Opt1", "Option2", "Lbl6TEMP", "Lbl7PITCH", "Lbl8ROLL", "LabelTemperature", "LabelRoll"};
    for (const char* name : hidden)
        QVERIFY2(!r.w(name)->isVisible(), name);
    QVERIFY(r.w("LabelPitch")->isVisible());
    QVERIFY(r.w("Ldebug")->isVisible());
    QVERIFY(r.a("MnuZero")->isEnabled());
    QVERIFY(r.w<QMenu>("MnuInmm")->menuAction()->isEnabled());
    QVERIFY(r.a("MnuTrueZero")->isEnabled());

    r.reply("B", "8FB\n");
    QCOMPARE(r.text("LabelPitch"), QStringLiteral("0.79"));
    QCOMPARE(r.text("Ldebug"), QStringLiteral("251"));
    r.a("MnuInch")->trigger();
    QCOMPARE(r.text("Label4(0)"), QStringLiteral("Thickness(in)"));
    QCOMPARE(r.text("LabelPitch"), QStringLiteral("0.79")); // changes with the next reply only
    r.reply("B", "8FB\n");
    QCOMPARE(r.text("LabelPitch"), QStringLiteral("0.0318"));
    r.a("Mnudegrees")->trigger();
    QCOMPARE(r.text("Label4(0)"), QStringLiteral("Angle(Deg)"));
    r.reply("B", "8FB\n");
    QCOMPARE(r.text("LabelPitch"), QStringLiteral("1.00"));
    int checkedUnits = 0;
    for (const char* u : {"Mnumm", "Mnudegrees", "MnuInch"})
        checkedUnits += r.a(u)->isChecked() ? 1 : 0;
    QCOMPARE(checkedUnits, 1);
    // Clicking the checked unit keeps it checked.
    r.a("Mnudegrees")->trigger();
    QVERIFY(r.a("Mnudegrees")->isChecked());

    // A preset restores the angle layout; the unit stays.
    r.a("MZ1")->trigger();
    for (const char* name : hidden)
        QVERIFY2(r.w(name)->isVisible(), name);
    QCOMPARE(r.text("Label4(0)"), QStringLiteral("PITCH"));
    QVERIFY(!r.a("MnuThickness")->isChecked());
    QVERIFY(!r.a("MnuZero")->isEnabled());
    QVERIFY(!r.w<QMenu>("MnuInmm")->menuAction()->isEnabled());
    QVERIFY(r.a("Mnudegrees")->isChecked());
    // Entering thickness mode again titles the unit in force.
    r.a("MnuThickness")->trigger();
    QCOMPARE(r.text("Label4(0)"), QStringLiteral("Angle(Deg)"));

    // Raw column selected before thickness mode: the pitch row stays blank.
    FormRig raw;
    raw.form->Form_Load();
    raw.w<QRadioButton>("Opt1")->click();
    raw.a("MnuThickness")->trigger();
    QVERIFY(!raw.w<QPushButton>("Start")->isEnabled()); // thickness alone is no model
    raw.reply("B", "8FB\n");
    QCOMPARE(raw.text("LabelPitch"), QStringLiteral("    "));
}

void TestMainWindow::zeroReference()
{
    FormRig r;
    r.form->Form_Load();
    r.a("MZ4")->trigger();
    r.a("MnuThickness")->trigger();
    r.a("MnuZero")->trigger(); // before any reply: the zero is at count 2048
    QCOMPARE(r.form->state().ZeroReference, 0.0);
    r.reply("B", "8FB\n");
    r.a("MnuZero")->trigger();
    QCOMPARE(r.form->state().ZeroReference, 251.0);
    r.reply("B", "8FB\n");
    QCOMPARE(r.text("LabelPitch"), QStringLiteral("0.00"));
    r.a("MnuTrueZero")->trigger();
    QCOMPARE(r.form->state().ZeroReference, 130.0);
    r.reply("B", "8FB\n");
    QCOMPARE(r.text("LabelPitch"), QStringLiteral("0.79"));
    r.reply("B", "790\n"); // 242 counts below the zero
    QCOMPARE(r.text("LabelPitch"), QStringLiteral("-1.57"));
    // With the raw column the last angle reading is kept for "Zero".
    r.a("MZ4")->trigger();
    r.reply("B", "900\n");
    r.w<QRadioButton>("Opt1")->click();
    r.reply("B", "A00\n");
    r.a("MnuThickness")->trigger();
    r.a("MnuZero")->trigger();
    QCOMPARE(r.form->state().ZeroReference, 256.0);
}

void TestMainWindow::customCoefficients()
{
    FormRig r;
    r.form->Form_Load();
    r.a("MnuCustom")->trigger();
    QCOMPARE(r.prompter.texts(),
        (QStringList {"Reading coefficients from file 'KVDcoef.txt' ",
            "The file 'KVDcoef.txt' does not exist in the application directory Please create file"}));
    for (const auto& m : r.prompter.messages) {
        QCOMPARE(m.icon, Prompter::Icon::None);
        QCOMPARE(m.title, QStringLiteral("VELTRAK"));
    }
    QVERIFY(!r.a("MnuCustom")->isChecked());
    QVERIFY(!r.w<QPushButton>("Start")->isEnabled());

    QFile f(r.dir.filePath(QStringLiteral("KVDCOEF.TXT"))); // any case of the name
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("0.5,0.001\n-2E-7\n");
    f.close();
    r.prompter.messages.clear();
    r.a("MnuCustom")->trigger();
    QCOMPARE(r.prompter.texts(), QStringList {"Reading coefficients from file 'KVDcoef.txt' "});
    QVERIFY(r.a("MnuCustom")->isChecked());
    QVERIFY(r.w<QPushButton>("Start")->isEnabled());
    QCOMPARE(r.form->state().CoefX1, 0.5);
    QCOMPARE(r.form->state().CoefX2, 0.001);
    QCOMPARE(r.form->state().CoefX3, -2E-7);
    r.reply("C", "864\n"); // centred 100: 50 + 10 - 0.2
    QCOMPARE(r.text("LabelRoll"), QStringLiteral("59.80"));
}

void TestMainWindow::customLoadIsAllOrNothing()
{
    FormRig r;
    r.form->Form_Load();
    r.form->show();
    r.a("MZ1")->trigger();
    r.a("MnuThickness")->trigger();
    QFile f(r.dir.filePath(QStringLiteral("kvdcoef.txt")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("0.5\n0.25\n"); // two values only
    f.close();
    // Readings converted while the first box is open still use the old
    // calibration.
    QString shownDuringBox;
    r.prompter.whileOpen = [&](const FakePrompter::Shown& m) {
        if (m.text.startsWith(QLatin1String("Reading"))) {
            r.form->state().LastCommand = QStringLiteral("C");
            QString c = QStringLiteral("BE8\n");
            r.form->decoder().ProcessReply(c);
            r.form->flushDisplay();
            shownDuringBox = r.text("LabelRoll");
        }
    };
    r.a("MnuCustom")->trigger();
    QCOMPARE(shownDuringBox, QStringLiteral("12.60"));
    QCOMPARE(r.prompter.texts().last(), QStringLiteral("The file 'KVDcoef.txt' Has the wrong format"));
    QCOMPARE(r.form->state().CoefX1, 0.0129);
    QCOMPARE(r.form->state().CoefX3, -3E-10);
    QVERIFY(r.a("MnuThickness")->isChecked());
    QVERIFY(!r.a("MnuCustom")->isChecked());
    QCOMPARE(r.text("Label4(0)"), QStringLiteral("Thickness(mm)"));

    // Corrected file, loaded without restarting: the angle layout comes back.
    r.prompter.whileOpen = nullptr;
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("0.5\n0.25\n0\n");
    f.close();
    r.a("MnuCustom")->trigger();
    QVERIFY(r.a("MnuCustom")->isChecked());
    QVERIFY(!r.a("MnuThickness")->isChecked());
    QCOMPARE(r.form->state().CoefX2, 0.25);
    QCOMPARE(r.text("Label4(0)"), QStringLiteral("PITCH"));
    QVERIFY(r.w("LabelRoll")->isVisible());
    QVERIFY(!r.a("MnuZero")->isEnabled());
}

void TestMainWindow::equationDisplay()
{
    FormRig r;
    r.form->Form_Load();
    r.a("MnuShow")->trigger();
    QCOMPARE(r.prompter.texts().last(), QStringLiteral(" Equation \r\n0 * X^3 + 0 * X^2 + 1 * X "));
    r.a("MZ1")->trigger();
    r.a("MnuShow")->trigger();
    QCOMPARE(r.prompter.texts().last(), QStringLiteral(" Equation \r\n-3E-10 * X^3 + 0 * X^2 + 0.0129 * X "));
    r.a("MZ2")->trigger();
    r.a("MnuShow")->trigger();
    QCOMPARE(r.prompter.texts().last(), QStringLiteral(" Equation \r\n-2E-09 * X^3 + 0 * X^2 + 0.03125 * X "));
    QFile f(r.dir.filePath(QStringLiteral("kvdcoef.txt")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("1.50\n0\n0\n");
    f.close();
    r.a("MnuCustom")->trigger();
    r.a("MnuShow")->trigger();
    QCOMPARE(r.prompter.texts().last(), QStringLiteral(" Equation \r\n0 * X^3 + 0 * X^2 + 1.5 * X "));
    QCOMPARE(r.prompter.messages.last().icon, Prompter::Icon::None);
}

void TestMainWindow::recording()
{
    FormRig r;
    r.form->Form_Load();
    auto* timer = r.form->findChild<QTimer*>("RecTimer");
    r.a("mnuRecording")->trigger();
    QVERIFY(timer->isActive());
    QVERIFY(r.a("mnuRecording")->isChecked());
    r.reply("B", "7FF\n");
    r.reply("C", "801\n");
    r.form->RecTimer_Timer();
    r.form->RecTimer_Timer();
    r.a("mnuRecording")->trigger();
    QVERIFY(!timer->isActive());
    QVERIFY(!r.a("mnuRecording")->isChecked());
    r.a("mnuRecording")->trigger();
    r.form->RecTimer_Timer(); // the count goes on after a pause
    r.a("mnuRecording")->trigger();
    QFile f(r.dir.filePath(QStringLiteral("kvddt.txt")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(),
        QByteArray("1\tPitch\t-01.00\tRoll\t01.00\r\n"
                   "2\tPitch\t-01.00\tRoll\t01.00\r\n"
                   "3\tPitch\t-01.00\tRoll\t01.00\r\n"));
    // Ticks come from the timer itself too.
    r.prompter.answers = {QStringLiteral("100")};
    r.a("mnuInterval")->trigger();
    r.a("mnuRecording")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(r.form->recorder().RecCount >= 5, 5000);
    r.a("mnuRecording")->trigger();
    f.seek(0);
    const QList<QByteArray> lines = f.readAll().split('\n');
    QCOMPARE(lines.value(3).left(4), QByteArray("3.1\t"));
    QCOMPARE(lines.value(4).left(4), QByteArray("3.2\t"));
}

void TestMainWindow::intervalPrompt()
{
    FormRig r;
    r.form->Form_Load();
    auto* timer = r.form->findChild<QTimer*>("RecTimer");
    r.prompter.answers = {QStringLiteral("99"), QStringLiteral("abc"), QStringLiteral("250")};
    r.a("mnuInterval")->trigger();
    QCOMPARE(r.prompter.prompts.size(), 3);
    QCOMPARE(r.prompter.prompts.first(), QStringLiteral("Enter interval in mS(min 100): |VELTRAK"));
    QCOMPARE(timer->interval(), 250);
    QVERIFY(r.prompter.messages.isEmpty());
    // A refused answer never reaches the timer, even for a moment.
    int lowest = timer->interval();
    r.prompter.answers = {QStringLiteral("1"), QStringLiteral("0"), QString()};
    r.prompter.whileOpen = [&](const FakePrompter::Shown&) { lowest = std::min(lowest, timer->interval()); };
    r.a("mnuInterval")->trigger();
    QCOMPARE(lowest, 250);
    QCOMPARE(timer->interval(), 1000);
    QCOMPARE(r.prompter.texts(), QStringList {"Interval set to 1000ms"});
    QCOMPARE(r.prompter.messages.first().icon, Prompter::Icon::None);
    r.prompter.answers = {QStringLiteral("500")};
    r.a("mnuInterval")->trigger();
    QCOMPARE(timer->interval(), 500);
    r.prompter.answers.clear(); // Cancel
    r.a("mnuInterval")->trigger();
    QCOMPARE(timer->interval(), 1000);
    QCOMPARE(r.prompter.count(QStringLiteral("Interval set to 1000ms")), 2);
}

void TestMainWindow::recordingWriteFailure()
{
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    FormRig r(PortMap(), QStringLiteral("/dev"));
    QVERIFY(!r.form->recorder().open(QStringLiteral("/dev/full")));
    r.a("mnuRecording")->trigger();
    r.form->RecTimer_Timer();
    r.form->RecTimer_Timer();
    QCOMPARE(r.prompter.messages.size(), 1);
    QVERIFY(r.prompter.messages.first().text.contains(QStringLiteral("/dev/full")));
    QVERIFY(!r.a("mnuRecording")->isChecked());
    QVERIFY(!r.form->findChild<QTimer*>("RecTimer")->isActive());
}

void TestMainWindow::fastRepliesShowTheLatest()
{
    FormRig r;
    r.form->Form_Load();
    r.a("MZ4")->trigger();
    auto raw = [&](const char* cmd, int count) {
        r.form->state().LastCommand = QString::fromLatin1(cmd);
        QString c = QString::number(count, 16) + QLatin1Char('\n');
        r.form->decoder().ProcessReply(c);
    };
    raw("B", 0x801);
    QCOMPARE(r.text("LabelPitch"), QStringLiteral("01.00")); // the first change shows at once
    for (int i = 2; i <= 200; ++i) {
        raw("B", 0x800 + i);
        raw("C", 0x800 - i);
    }
    // Shown by the next screen refresh, whatever came in between.
    QTRY_COMPARE(r.text("LabelPitch"), QStringLiteral("200.00"));
    QCOMPARE(r.text("LabelRoll"), QStringLiteral("-200.00"));
    // Recording never writes a value older than the decoder's latest.
    raw("B", 0x800 + 7);
    r.a("mnuRecording")->trigger();
    r.form->RecTimer_Timer();
    r.a("mnuRecording")->trigger();
    QFile f(r.dir.filePath(QStringLiteral("kvddt.txt")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("1\tPitch\t07.00\tRoll\t-200.00\r\n"));
    // The watchdog's status and the decoder's thickness status keep their order.
    r.a("MnuThickness")->trigger();
    raw("B", 0x882);
    r.form->setStatus(QStringLiteral(" Waiting 1"));
    QTRY_COMPARE(r.text("Ldebug"), QStringLiteral(" Waiting 1"));
}

void TestMainWindow::aboutBox()
{
    FormRig r;
    r.form->Form_Load();
    r.a("mnuabout")->trigger();
    QCOMPARE(r.prompter.messages.size(), 1);
    const auto& m = r.prompter.messages.first();
    const QStringList lines = m.text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.first(), m.title);
    QCOMPARE(m.title, r.text("Label3"));
    QVERIFY(lines[2].startsWith(QLatin1Char(' ')));
    QVERIFY(m.text.endsWith(QStringLiteral("Rev 2.0")));
    QCOMPARE(m.icon, Prompter::Icon::None);
}

void TestMainWindow::shutdown()
{
    FormRig exitRig;
    exitRig.form->Form_Load();
    exitRig.a("MnuFileItem(2)")->trigger();
    QCOMPARE(exitRig.quits, 1);
    QVERIFY(exitRig.form->ended());
    QVERIFY(!exitRig.form->recorder().isOpen());
    QVERIFY(!exitRig.form->configDialog() || !exitRig.form->configDialog()->isVisible());

    FormRig closeRig;
    closeRig.form->Form_Load();
    closeRig.form->show();
    closeRig.form->close();
    QCOMPARE(closeRig.quits, 1);
    QVERIFY(!closeRig.form->recorder().isOpen());
    closeRig.form->MnuFileItem_Click(2); // a second request does nothing more
    QCOMPARE(closeRig.quits, 1);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
