// The port settings dialog and the model selection dialog.
#include "formrig.h"
#include "sim/simsensor.h"

#include <QFile>
#include <QGroupBox>

namespace {
struct TwoSensors {
    sim::SimSensor a, b;
    PortMap ports;
    TwoSensors()
    {
        if (!a.start() || !b.start())
            qFatal("simulator did not start");
        ports.setDevice(1, QString::fromStdString(a.devicePath()));
        ports.setDevice(2, QStringLiteral("/nonexistent/com2"));
        ports.setDevice(4, QString::fromStdString(b.devicePath()));
    }
};

QRadioButton* com(ConfigScrn* d, int n)
{
    return d->findChild<QRadioButton*>(QStringLiteral("ComPort(%1)").arg(n));
}
} // namespace

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void portDialogOpening();
    void portDialogOkAndPortChanges();
    void portDialogCancelEscAndClose();
    void portDialogFromSettingsWhileOpen();
    void modelDialog();
    void modelDialogCustomFailures();
};

void TestDialogs::portDialogOpening()
{
    TwoSensors s;
    FormRig r(s.ports);
    r.form->Form_Load();
    ConfigScrn* d = r.form->configDialog();
    QCOMPARE(d->windowTitle(), QStringLiteral("Communication PORT select"));
    QCOMPARE(d->palette().color(QPalette::Window), QColor(192, 255, 255));
    QVERIFY(!d->isModal());
    for (int n = 1; n <= 4; ++n) {
        QCOMPARE(com(d, n)->text(), QStringLiteral("Com%1").arg(n));
        QCOMPARE(com(d, n)->toolTip(), s.ports.deviceFor(n));
        QCOMPARE(com(d, n)->isChecked(), n == 4); // the port's number at start
    }
    const PortChoice& p = r.form->pendingPort();
    QCOMPARE(p.NewPort, 4);
    QCOMPARE(p.NewBaud, QStringLiteral("19200"));
    QCOMPARE(p.NewParity, QStringLiteral("N"));
    QCOMPARE(p.NewDataBits, QStringLiteral("8"));
    QCOMPARE(p.NewStopBits, QStringLiteral("1"));
    QCOMPARE(p.NewHandshake, 0);
    for (const char* frame : {"&Baud Rate", "&Parity", "&Data Bits", "&Stop Bits", "&Flow Control"}) {
        bool found = false;
        for (QGroupBox* g : d->findChildren<QGroupBox*>())
            found = found || g->title() == QLatin1String(frame);
        QVERIFY2(found, frame);
    }
    // The hidden frames lie below the visible client area.
    QVERIFY(d->findChild<QRadioButton*>("baud192")->mapTo(d, QPoint(0, 0)).y() >= d->height());
    QVERIFY(d->findChild<QPushButton*>("OKButton")->isDefault());
    QVERIFY(!r.form->isVisible());
}

void TestDialogs::portDialogOkAndPortChanges()
{
    TwoSensors s;
    FormRig r(s.ports);
    r.form->Form_Load();
    ConfigScrn* d = r.form->configDialog();
    // Enter presses OK: port 4 opens, the model dialog follows.
    QTest::keyClick(d, Qt::Key_Return);
    QVERIFY(r.form->port().PortOpen());
    QCOMPARE(r.form->port().CommPort(), 4);
    QCOMPARE(r.form->port().Settings(), QStringLiteral("19200,N,8,1"));
    QVERIFY(r.form->optionsDialog()->isVisible());
    QVERIFY(!r.form->isVisible());
    QTRY_VERIFY(!r.form->configDialog());

    // Again, choosing the same port: not closed and reopened.
    r.a("MSettings")->trigger();
    d = r.form->configDialog();
    QVERIFY(!r.form->optionsDialog()->isVisible());
    const int before = r.form->port().CommEvent();
    d->findChild<QPushButton*>("OKButton")->click();
    QVERIFY(r.form->port().PortOpen());
    QCOMPARE(r.form->port().CommEvent(), before);

    // From the open port 4 to port 2, which fails: the port's text, old
    // number restored, port closed, dialog still open.
    r.a("MSettings")->trigger();
    d = r.form->configDialog();
    com(d, 2)->click();
    QCOMPARE(r.form->pendingPort().NewPort, 2);
    d->findChild<QPushButton*>("OKButton")->click();
    QCOMPARE(r.prompter.messages.size(), 1);
    QCOMPARE(r.prompter.messages[0].icon, Prompter::Icon::Warning);
    QCOMPARE(r.prompter.messages[0].title, QStringLiteral("VELTRAK"));
    QVERIFY(r.prompter.messages[0].text.contains(QStringLiteral("/nonexistent/com2")));
    QCOMPARE(r.form->port().CommPort(), 4);
    QVERIFY(!r.form->port().PortOpen());
    QVERIFY(d->isVisible());

    // Port 1 works; the port was closed, so step 5 opens it.
    com(d, 1)->click();
    d->findChild<QPushButton*>("OKButton")->click();
    QCOMPARE(r.form->port().CommPort(), 1);
    QVERIFY(r.form->port().PortOpen());
    QCOMPARE(r.prompter.messages.size(), 1);
    // The pending values outlive the dialog: the next opening shows Com1.
    r.a("MSettings")->trigger();
    for (const char* single : {"baud192", "NoParity", "Data8", "Stop1", "NoFlow"})
        QVERIFY2(r.form->configDialog()->findChild<QRadioButton*>(single)->isChecked(), single);
    QVERIFY(com(r.form->configDialog(), 1)->isChecked());
}

void TestDialogs::portDialogCancelEscAndClose()
{
    FormRig r;
    r.form->Form_Load();
    r.form->configDialog()->findChild<QPushButton*>("CancelButton")->click();
    QVERIFY(r.form->isVisible());
    QVERIFY(!r.form->port().PortOpen());
    QVERIFY(!r.form->optionsDialog()->isVisible());

    r.a("MSettings")->trigger();
    QVERIFY(!r.form->isVisible());
    QTest::keyClick(r.form->configDialog(), Qt::Key_Escape);
    QVERIFY(r.form->isVisible());

    r.a("MSettings")->trigger();
    r.form->configDialog()->close(); // the frame's close button acts as Cancel
    QVERIFY(r.form->isVisible());
    QVERIFY(r.prompter.messages.isEmpty());
}

void TestDialogs::portDialogFromSettingsWhileOpen()
{
    TwoSensors s;
    FormRig r(s.ports);
    r.form->Form_Load();
    r.form->configDialog()->findChild<QPushButton*>("OKButton")->click();
    r.form->optionsDialog()->findChild<QRadioButton*>("Option1")->click();
    r.form->optionsDialog()->findChild<QPushButton*>("Okbutton")->click();
    r.w<QPushButton>("Start")->click();
    QTRY_VERIFY(s.b.repliesSent() >= 6);
    // Change to port 1 while polling: the cycle goes on on the new line.
    r.a("MSettings")->trigger();
    com(r.form->configDialog(), 1)->click();
    r.form->configDialog()->findChild<QPushButton*>("OKButton")->click();
    QCOMPARE(r.form->port().CommPort(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(s.a.repliesSent() >= 6, 5000); // the watchdog restarts the stalled cycle
    QVERIFY(r.prompter.messages.isEmpty());
}

void TestDialogs::modelDialog()
{
    FormRig r;
    r.form->Form_Load();
    r.form->configDialog()->findChild<QPushButton*>("OKButton")->click(); // port fails: reported
    Options* o = r.form->optionsDialog();
    QCOMPARE(o->windowTitle(), QStringLiteral("Selection of Veltrak"));
    QCOMPARE(o->palette().color(QPalette::Window), QColor(128, 255, 255));
    QCOMPARE(o->findChild<QLabel*>("Label1")->text(), QStringLiteral("Select  your Veltrak option"));
    const QStringList captions = {"Option1=Veltrak Z1", "Option2=Veltrak Z2", "Option4=Veltrak Z3",
        "Option3=Raw data - 2048", "Custom=Custom", "Thickness=Thickness measurements"};
    for (const QString& c : captions) {
        auto* b = o->findChild<QRadioButton*>(c.section('=', 0, 0));
        QVERIFY2(b, qPrintable(c));
        QCOMPARE(b->text(), c.section('=', 1));
        QVERIFY(!b->isChecked());
    }
    // Z2 applies at once, before OK.
    o->findChild<QRadioButton*>("Option2")->click();
    QVERIFY(r.a("MZ2")->isChecked());
    QCOMPARE(r.form->state().CoefX1, 0.03125);
    QVERIFY(r.w<QPushButton>("Start")->isEnabled());
    // Then thickness: the Z2 coefficients and Start stay.
    o->findChild<QRadioButton*>("Thickness")->click();
    QVERIFY(r.a("MnuThickness")->isChecked());
    QVERIFY(!r.a("MZ2")->isChecked());
    QCOMPARE(r.form->state().CoefX1, 0.03125);
    o->close(); // the frame's close button acts as OK
    QVERIFY(r.form->isVisible());
    QCOMPARE(r.text("Label4(0)"), QStringLiteral("Thickness(mm)"));
    QTRY_VERIFY(!r.form->optionsDialog());

    // Every new showing starts with no option selected.
    r.a("MSettings")->trigger();
    r.form->configDialog()->findChild<QPushButton*>("CancelButton")->click();
    r.a("MSettings")->trigger();
    r.form->configDialog()->findChild<QPushButton*>("OKButton")->click();
    for (QRadioButton* b : r.form->optionsDialog()->findChildren<QRadioButton*>())
        QVERIFY(!b->isChecked());
    r.form->optionsDialog()->findChild<QPushButton*>("Okbutton")->click();
    QVERIFY(r.a("MnuThickness")->isChecked()); // OK with nothing chosen changes nothing

    // First start, thickness alone: thickness layout with Start disabled.
    FormRig t;
    t.form->Form_Load();
    t.form->configDialog()->findChild<QPushButton*>("OKButton")->click();
    t.form->optionsDialog()->findChild<QRadioButton*>("Thickness")->click();
    t.form->optionsDialog()->findChild<QPushButton*>("Okbutton")->click();
    QVERIFY(!t.w<QPushButton>("Start")->isEnabled());
    QVERIFY(!t.w("LabelRoll")->isVisible());
}

void TestDialogs::modelDialogCustomFailures()
{
    FormRig r;
    r.form->Form_Load();
    r.form->configDialog()->findChild<QPushButton*>("CancelButton")->click();
    r.a("MSettings")->trigger();
    r.form->configDialog()->findChild<QPushButton*>("OKButton")->click();
    r.prompter.messages.clear();
    Options* o = r.form->optionsDialog();
    auto* custom = o->findChild<QRadioButton*>("Custom");
    custom->click(); // no file
    QCOMPARE(r.prompter.texts(),
        (QStringList {"Reading coefficients from file 'KVDcoef.txt' ",
            "The file 'KVDcoef.txt' does not exist in the application directory Please create file"}));
    QVERIFY(!custom->isChecked());
    QVERIFY(!r.a("MnuCustom")->isChecked());
    for (QRadioButton* b : o->findChildren<QRadioButton*>())
        QVERIFY(!b->isChecked());

    QFile f(r.dir.filePath(QStringLiteral("kvdcoef.txt")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("one, two, three\n");
    f.close();
    o->findChild<QRadioButton*>("Option1")->click();
    custom->click();
    QCOMPARE(r.prompter.texts().last(), QStringLiteral("The file 'KVDcoef.txt' Has the wrong format"));
    QVERIFY(!custom->isChecked());
    QVERIFY(!r.a("MnuCustom")->isChecked());
    QVERIFY(r.a("MZ1")->isChecked()); // the model in force stays
    QCOMPARE(r.form->state().CoefX1, 0.0129);
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
