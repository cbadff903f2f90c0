// SPDX-License-Identifier: GPL-3.0-or-later
// The main window and its dialogs through their widgets, found by name.
#include "rig.h"
#include "ui/alarmmenu.h"
#include "ui/calibrationmenu.h"
#include "ui/recordingmenu.h"

#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineSeries>
#include <QMenu>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QValueAxis>
#include <cmath>

namespace {
void writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(content);
}

QStringList recordedLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}
} // namespace

class TestWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_byId; // stands in for /dev/serial/by-id

private slots:
    void init()
    {
        privateSettings();
        QSettings().clear(); // each test starts as a first run
        qputenv("VELTRAK_SERIAL_BY_ID", m_byId.path().toLocal8Bit());
        for (const QString& name : QDir(m_byId.path()).entryList(QDir::System))
            QFile::remove(m_byId.filePath(name));
    }

    void startUpChainAndPortDialog()
    {
        PortMap ports;
        ports.setDevice(2, QStringLiteral("/nonexistent/com2"));
        Line line;
        ports.setDevice(4, line.ports.deviceFor(4));
        FormRig r(ports);
        r.form->startUp();
        PortDialog* d = r.form->portDialog();
        // The port's number at start is checked.
        QVERIFY(d->isVisible() && !r.form->isVisible() && d->findChild<QRadioButton*>("ComPort(4)")->isChecked());
        QVERIFY(!r.a("mnuRecording")->isChecked() && r.a("mnuRecording")->isEnabled());
        QTest::keyClick(d, Qt::Key_Return); // OK: port 4 opens, the model dialog follows
        SensorLink& link = r.form->link();
        QCOMPARE(link.lineFormat(), LineFormat {});
        QVERIFY(link.isOpen() && r.form->modelDialog()->isVisible() && !r.w<QPushButton>("Start")->isEnabled());
        r.form->modelDialog()->findChild<QRadioButton*>("Option4")->click();
        QVERIFY(r.a("MZ3")->isChecked() && r.w<QPushButton>("Start")->isEnabled());
        r.form->modelDialog()->close(); // the frame's close acts as OK
        QVERIFY(r.form->isVisible());
        r.a("MnuShow")->trigger();
        QCOMPARE(r.prompter.texts().last(), QStringLiteral(" Equation \r\n-4E-09 * X^3 + 0 * X^2 + 0.0468 * X "));

        // To port 2, which fails: the port's text, old number restored, closed,
        // dialog still open; Escape then shows the main window.
        r.a("MSettings")->trigger();
        QVERIFY(!r.form->isVisible());
        d = r.form->portDialog();
        d->findChild<QRadioButton*>("ComPort(2)")->click();
        d->findChild<QPushButton*>("OKButton")->click();
        QCOMPARE(r.prompter.messages.last().icon, Prompter::Icon::Warning);
        QVERIFY(r.prompter.messages.last().text.contains(QStringLiteral("/nonexistent/com2")));
        QCOMPARE(r.form->ports().number, 4);
        QCOMPARE(link.device(), r.form->ports().map.deviceFor(4));
        QVERIFY(!link.isOpen() && d->isVisible());
        QTest::keyClick(d, Qt::Key_Escape);
        QVERIFY(r.form->isVisible() && (!r.form->modelDialog() || !r.form->modelDialog()->isVisible()));
    }

    void deviceListFollowsPlugging()
    {
        PortMap ports;
        ports.setDevice(2, QStringLiteral("/nonexistent/com2"));
        FormRig r(ports);
        r.form->startUp();
        PortDialog* d = r.form->portDialog();
        QVERIFY(r.w<QLabel>("ComDevice(2)")->text().endsWith(QStringLiteral("/nonexistent/com2  (absent)")));
        QCOMPARE(r.w<QLabel>("ComDevice(4)")->toolTip(), r.peer.device);
        QVERIFY(r.w<QLabel>("ComDevice(4)")->text().endsWith(QStringLiteral("(present)")));
        auto* list = r.w<QComboBox>("PortDevice");
        QCOMPARE(list->currentText(), r.peer.device); // the checked number's device
        // Plugged in while the dialog is open: listed, its stable name first; then pulled again.
        const Peer adapter;
        const QString byId = m_byId.filePath(QStringLiteral("usb-Veltrak_Adapter_42-if00-port0"));
        QVERIFY(QFile::link(adapter.device, byId));
        QTRY_VERIFY(list->findText(byId) >= 0);
        QCOMPARE(list->findText(adapter.device), list->findText(byId) + 1);
        QVERIFY(QFile::remove(byId));
        QTRY_VERIFY(list->findText(byId) < 0 && list->findText(adapter.device) < 0);
        QVERIFY(r.w<QTimer>("PortPoll")->isActive());
        d->findChild<QPushButton*>("OKButton")->click();
        QVERIFY(!r.w<QTimer>("PortPoll")->isActive()); // no polling behind a hidden dialog
    }

    // Four starts of the window, each a new MainWindow on the same settings.
    void deviceChoiceRemembered()
    {
        const Peer adapter;
        const QString byId = m_byId.filePath(QStringLiteral("usb-Veltrak_Adapter_7-if00-port0"));
        QVERIFY(QFile::link(adapter.device, byId));
        FakePrompter prompter;
        QTemporaryDir dir;
        auto start = [&](const PortMap& ports) {
            auto form = std::make_unique<MainWindow>(prompter, AppPaths(dir.path()), ports);
            form->setQuitAction([] {});
            form->startUp();
            return form;
        };
        auto ok = [](MainWindow& form) { form.portDialog()->findChild<QPushButton*>("OKButton")->click(); };
        // First start, one USB adapter: the default number stands for it, and says so.
        auto form = start(PortMap());
        QVERIFY(form->portDialog()->findChild<QRadioButton*>("ComPort(4)")->isChecked());
        QCOMPARE(form->portDialog()->findChild<QComboBox*>("PortDevice")->currentText(), byId);
        QVERIFY(form->portDialog()->findChild<QLabel*>("PortNote")->text().contains(byId));
        ok(*form);
        QVERIFY(form->link().isOpen() && form->link().device() == byId);
        // Kept: another number mapped to a typed path.
        form = start(PortMap());
        QCOMPARE(form->ports().map.sourceOf(4), PortMap::Source::Remembered);
        QCOMPARE(form->ports().map.deviceFor(form->ports().number), byId);
        QVERIFY(form->portDialog()->findChild<QLabel*>("PortNote")->text().isEmpty());
        form->portDialog()->findChild<QRadioButton*>("ComPort(1)")->click();
        form->portDialog()->findChild<QComboBox*>("PortDevice")->setEditText(adapter.device);
        ok(*form);
        QCOMPARE(form->link().device(), adapter.device);
        // --port wins for its run; its absent device is not preselected.
        PortMap given;
        given.setDevice(1, QStringLiteral("/nonexistent/usb"));
        form = start(given);
        QCOMPARE(form->ports().number, 1);
        QCOMPARE(form->ports().map.deviceFor(1), QStringLiteral("/nonexistent/usb"));
        QVERIFY(form->portDialog()->findChild<QRadioButton*>("ComPort(4)")->isChecked());
        QVERIFY(form->portDialog()->findChild<QLabel*>("PortNote")->text().contains(QStringLiteral("absent")));
        ok(*form);
        form = start(PortMap());
        QCOMPARE(form->ports().map.deviceFor(1), adapter.device);
        QCOMPARE(form->ports().number, 4);
    }

    void thicknessUnitsAndZero()
    {
        FormRig r;
        r.startUp("Thickness");
        QVERIFY(r.a("MnuThickness")->isChecked() && !r.w<QPushButton>("Start")->isEnabled()); // thickness is no model
        QCOMPARE(r.text("Label4(0)"), QStringLiteral("Thickness(mm)"));
        for (const char* hidden : {"LabelRoll", "Label4(1)", "Label2", "Opt1", "Lbl7PITCH", "LabelTemperature"})
            QVERIFY2(!r.w(hidden)->isVisible(), hidden);
        QVERIFY(r.w<QMenu>("MnuInmm")->isEnabled() && r.a("MnuZero")->isEnabled());
        r.a("MZ1")->trigger(); // a model to poll with, then thickness again
        r.w<QPushButton>("Start")->click();
        r.a("MnuThickness")->trigger();
        r.reply('B', "8FB\n"); // centred 251: one degree from the true zero
        QCOMPARE(r.text("LabelPitch"), QStringLiteral("0.79"));
        QCOMPARE(r.text("Ldebug"), QStringLiteral("251"));
        r.a("MnuInch")->trigger();
        QVERIFY(r.a("MnuInch")->isChecked() && !r.a("Mnumm")->isChecked());
        QCOMPARE(r.text("Label4(0)"), QStringLiteral("Thickness(in)"));
        r.reply('B', "8FB\n");
        QCOMPARE(r.text("LabelPitch"), QStringLiteral("0.0318"));
        r.a("Mnudegrees")->trigger();
        QCOMPARE(r.text("Label4(0)"), QStringLiteral("Angle(Deg)"));
        r.a("MnuZero")->trigger(); // zero where the sensor stands now
        r.reply('B', "8FB\n");
        QCOMPARE(r.text("LabelPitch"), QStringLiteral("0.00"));
        r.a("MnuTrueZero")->trigger();
        r.reply('B', "8FB\n");
        QCOMPARE(r.text("LabelPitch"), QStringLiteral("1.00"));
        // A preset brings the angle layout back.
        r.a("MZ1")->trigger();
        QVERIFY(r.a("MZ1")->isChecked() && !r.a("MnuThickness")->isChecked());
        QCOMPARE(r.text("Label4(0)"), QStringLiteral("PITCH"));
        QVERIFY(r.w("LabelRoll")->isVisible() && !r.a("MnuZero")->isEnabled());
        r.reply('B', "BE8\n");
        QCOMPARE(r.text("LabelPitch"), QStringLiteral("12.60"));
    }

    void customLoadIsAllOrNothing()
    {
        QTemporaryDir programDir; // an installed copy's calibration, found first
        FormRig r(PortMap(), programDir.path());
        r.startUp("Option1");
        r.a("MnuThickness")->trigger();
        const QString data = r.dir.filePath(QStringLiteral("kvdcoef.txt"));
        r.a("MnuCustom")->trigger();
        QCOMPARE(r.prompter.texts().mid(0, 2),
            (QStringList {QStringLiteral("Reading coefficients from file 'KVDcoef.txt' "),
                QStringLiteral(
                    "The file 'KVDcoef.txt' does not exist in the application directory Please create file")}));
        writeFile(data, "0.5\n0.25\n"); // two values only
        // Readings converted while the first box is open still use the old calibration.
        QString shownDuringBox;
        r.prompter.whileOpen = [&](const FakePrompter::Shown& m) {
            if (m.text.startsWith(QLatin1String("Reading"))) {
                r.reply('C', "BE8\n");
                shownDuringBox = r.text("LabelRoll");
            }
        };
        r.a("MSettings")->trigger();
        r.form->portDialog()->findChild<QPushButton*>("OKButton")->click();
        r.form->modelDialog()->findChild<QRadioButton*>("Custom")->click(); // via the dialog: cleared after
        QCOMPARE(shownDuringBox, QStringLiteral("12.60"));
        QCOMPARE(r.prompter.texts().last(), QStringLiteral("The file 'KVDcoef.txt' Has the wrong format"));
        QVERIFY(!r.form->modelDialog()->findChild<QRadioButton*>("Custom")->isChecked());
        r.form->modelDialog()->findChild<QPushButton*>("Okbutton")->click();
        QCOMPARE(r.form->calibration().calibration().coefficients, presetFor(Model::Z1));
        QVERIFY(r.a("MnuThickness")->isChecked() && !r.a("MnuCustom")->isChecked());
        QCOMPARE(r.text("Label4(0)"), QStringLiteral("Thickness(mm)"));
        // A valid file beside the program wins over the data directory's; the
        // angle layout comes back.
        r.prompter.whileOpen = nullptr;
        writeFile(QDir(programDir.path()).filePath(QStringLiteral("KVDCOEF.TXT")), "0.5\n0.25\n0\n");
        r.a("MnuCustom")->trigger();
        QVERIFY(r.a("MnuCustom")->isChecked() && !r.a("MnuThickness")->isChecked());
        QCOMPARE(r.form->calibration().calibration().coefficients, (Coefficients {0.5, 0.25, 0}));
        QCOMPARE(r.text("Label4(0)"), QStringLiteral("PITCH"));
        QVERIFY(r.w("LabelRoll")->isVisible());
        // Absurd coefficients: the label keeps its size and shows what fits.
        writeFile(QDir(programDir.path()).filePath(QStringLiteral("KVDCOEF.TXT")), "1e300,0,0\n");
        r.a("MnuCustom")->trigger();
        const QSize window = r.form->size();
        r.reply('B', "801\n");
        QCOMPARE(r.text("LabelPitch"), QStringLiteral("1.0E+300"));
        QCOMPARE(r.form->size(), window);
        // A reply cut short: what came of it is shown while the watchdog waits.
        QVERIFY(r.peer.answer('C', "8F"));
        QTRY_COMPARE_WITH_TIMEOUT(r.text("Ldebug"), QStringLiteral(" Waiting 8F1"), 5000);
    }

    void recordingTakesReadingsNotLabels()
    {
        FormRig r;
        r.startUp("Option3");
        auto* timer = r.w<QTimer>("RecTimer");
        const QString path = r.dir.filePath(QStringLiteral("kvddt.txt"));
        QVERIFY(QFileInfo::exists(path));
        r.reply('B', "7FF\n");
        r.reply('C', "801\n");
        r.prompter.answers = {QStringLiteral("32767")}; // only the ticks below record, 32.767 s apart
        r.a("mnuInterval")->trigger();
        r.a("mnuRecording")->trigger();
        QVERIFY(timer->isActive() && r.a("mnuRecording")->isChecked());
        // Nothing changes on screen between ticks: every tick still records.
        r.form->recording().recordTick();
        r.form->recording().recordTick();
        r.w<QRadioButton>("Opt1")->click(); // raw display: the value column shows blanks
        r.reply('B', "7FF\n");
        r.form->recording().recordTick();
        QCOMPARE(recordedLines(path),
            (QStringList {"32.767\tPitch\t-01.00\tRoll\t01.00", "65.534\tPitch\t-01.00\tRoll\t01.00",
                "98.301\tPitch\t    \tRoll\t01.00"}));
        r.a("mnuRecording")->trigger();
        QVERIFY(!timer->isActive() && !r.a("mnuRecording")->isChecked());
        // The file removed while recording: stopped and said so.
        r.a("mnuRecording")->trigger();
        QVERIFY(QFile::remove(path));
        r.form->recording().recordTick();
        QVERIFY(!timer->isActive() && !r.a("mnuRecording")->isChecked());
        QVERIFY(r.prompter.texts().last().startsWith(QStringLiteral("Recording stopped: could not write to \"")));
        QCOMPARE(r.prompter.messages.last().icon, Prompter::Icon::Warning);

        // A data directory that takes no file: said at start, recording unavailable.
        QTemporaryDir parent;
        FakePrompter prompter;
        MainWindow form(prompter, AppPaths(parent.filePath(QStringLiteral("missing"))), PortMap());
        form.setQuitAction([] {});
        form.startUp();
        QVERIFY(prompter.texts().first().startsWith(QStringLiteral("The recording file \"")));
        QVERIFY(!form.findChild<QAction*>("mnuRecording")->isEnabled());
    }

    void intervalPrompt()
    {
        FormRig r;
        r.form->startUp();
        auto* timer = r.w<QTimer>("RecTimer");
        r.prompter.answers = {QStringLiteral("99"), QStringLiteral("abc"), QStringLiteral("250")};
        r.a("mnuInterval")->trigger();
        QCOMPARE(r.prompter.prompts.size(), 3);
        QCOMPARE(r.prompter.prompts.first(), QStringLiteral("Enter interval in mS(min 100): |VELTRAK"));
        QCOMPARE(timer->interval(), 250);
        QVERIFY(r.prompter.messages.isEmpty());
        // A refused answer never reaches the timer, even for a moment.
        int lowest = timer->interval();
        r.prompter.answers = {QStringLiteral("1"), QString()};
        r.prompter.whileOpen = [&](const FakePrompter::Shown&) { lowest = std::min(lowest, timer->interval()); };
        r.a("mnuInterval")->trigger();
        QCOMPARE(lowest, 250);
        QCOMPARE(timer->interval(), 1000);
        QCOMPARE(r.prompter.texts(), QStringList {"Interval set to 1000ms"});
        r.prompter.answers = {QStringLiteral("500")};
        r.a("mnuInterval")->trigger();
        r.prompter.answers.clear(); // Cancel
        r.a("mnuInterval")->trigger();
        QCOMPARE(timer->interval(), 1000);
        QCOMPARE(r.prompter.texts().count(QStringLiteral("Interval set to 1000ms")), 2);
    }

    void trendChartOfASensorStandingStill_data()
    {
        QTest::addColumn<QByteArray>("pitch");
        QTest::addColumn<QByteArray>("roll");
        QTest::addColumn<QString>("readout");
        QTest::addColumn<QSize>("size"); // none: the chart's own
        QTest::newRow("tilted") << QByteArray("BE8\n") << QByteArray("7FF\n")
                                << QStringLiteral("Pitch 12.60   Roll -00.01 (deg)") << QSize();
        QTest::newRow("level, wide") << QByteArray("800\n") << QByteArray("800\n")
                                     << QStringLiteral("Pitch 00.00   Roll 00.00 (deg)") << QSize(1600, 900);
    }

    void trendChartOfASensorStandingStill()
    {
        QFETCH(QByteArray, pitch);
        QFETCH(QByteArray, roll);
        QFETCH(QString, readout);
        QFETCH(QSize, size);
        FormRig r;
        r.startUp("Option1");
        r.reply('B', pitch);
        r.reply('C', roll);
        r.a("mnuTrend")->trigger();
        TrendChart* chart = r.form->trendChart();
        QVERIFY(chart && chart->isVisible());
        if (size.isValid())
            chart->resize(size);
        // The values are there at once, although no label has changed since, and in full.
        auto* label = r.w<QLabel>("TrendReadout");
        QCOMPARE(label->text(), readout);
        QTRY_VERIFY(label->isVisible() && label->width() >= label->sizeHint().width());
        // A flat line that grows with time.
        QTRY_VERIFY(chart->pitchSeries()->count() >= 4);
        const QList<QPointF> points = chart->pitchSeries()->points();
        const double value = points.first().y();
        for (const QPointF& p : points)
            QCOMPARE(p.y(), value);
        QVERIFY(points.last().x() > points.first().x());
        // Tick values a person can read: a nice value range around the line.
        auto* y = qobject_cast<QValueAxis*>(
            chart->findChild<QChartView*>("TrendView")->chart()->axes(Qt::Vertical).first());
        QVERIFY2(
            y->min() < value && value < y->max(), qPrintable(QStringLiteral("%1..%2").arg(y->min()).arg(y->max())));
        const double step = (y->max() - y->min()) / (y->tickCount() - 1);
        const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
        QVERIFY2(qFuzzyCompare(mantissa, 1.0) || qFuzzyCompare(mantissa, 2.0) || qFuzzyCompare(mantissa, 5.0)
                || qFuzzyCompare(mantissa, 2.5),
            qPrintable(QString::number(step)));
        // A step is drawn as a step.
        r.reply('B', "A00\n");
        QTRY_COMPARE(chart->pitchSeries()->points().last().y(), 6.56);
        QCOMPARE(chart->pitchSeries()->points().first().y(), value);
        // The alarm's limits, and the limit less the hysteresis, as lines in view; roll's off.
        r.form->alarms().apply({true, 15.0, 0.0, 0.5, 0});
        QStringList levels;
        for (QLineSeries* s : chart->limitSeries())
            levels << (s->count() == 2 ? QString::number(s->at(0).y()) : QStringLiteral("-"));
        QCOMPARE(levels.join(' '), "15 -15 14.5 -14.5 - - - -");
        QVERIFY(y->min() <= -15 && y->max() >= 15);
    }

    void tiltAlarm()
    {
        auto openDialog = [](FormRig& r) {
            r.a("mnuAlarm")->trigger();
            return r.form->findChildren<TiltAlarm*>("TiltAlarm").last(); // the newest
        };
        {
            FormRig r;
            r.startUp("Option1");
            TiltAlarm* d = openDialog(r);
            d->findChild<QCheckBox*>("AlarmOn")->setChecked(true);
            d->findChild<QDoubleSpinBox*>("AlarmPitch")->setValue(10);
            d->findChild<QDoubleSpinBox*>("AlarmRoll")->setValue(0);
            d->findChild<QDoubleSpinBox*>("AlarmHysteresis")->setValue(1);
            d->findChild<QSpinBox*>("AlarmHold")->setValue(0);
            d->findChild<QPushButton*>("AlarmOk")->click();
            const QColor normal = r.w("LabelPitch")->palette().color(QPalette::Window);
            r.reply('B', "ZZZ\n"); // line noise reading -23.84: shown, but raises nothing
            QVERIFY(!r.form->windowTitle().contains(QStringLiteral("ALARM")) && r.text("LabelPitch") == "-23.84");
            r.reply('B', "BE8\n"); // 12.60: above the limit
            QVERIFY(r.form->windowTitle().contains(QStringLiteral("ALARM")));
            QCOMPARE(r.w("LabelPitch")->palette().color(QPalette::Window), QColor(255, 0, 0));
            QCOMPARE(r.w("LabelRoll")->palette().color(QPalette::Window), normal);
            r.reply('B', "AE0\n"); // 9.37: inside the hysteresis band, still in alarm
            QVERIFY(r.form->windowTitle().contains(QStringLiteral("ALARM")));
            r.reply('B', "8G0\n"); // noise again: clears nothing
            QVERIFY(r.form->windowTitle().contains(QStringLiteral("ALARM")));
            r.reply('B', "800\n");
            QVERIFY(!r.form->windowTitle().contains(QStringLiteral("ALARM")));
            QCOMPARE(r.w("LabelPitch")->palette().color(QPalette::Window), normal);
            r.reply('B', "BE8\n");
            r.a("MnuThickness")->trigger(); // no angle: off, and cleared
            QVERIFY(!r.form->windowTitle().contains(QStringLiteral("ALARM")));
            QVERIFY(openDialog(r)->findChild<QLabel*>("AlarmNote")->text().contains(QStringLiteral("thickness")));
            QVERIFY(r.prompter.messages.size() <= 1); // never a box (one for the missing device)
            const QStringList rows = recordedLines(r.dir.filePath(QStringLiteral("alarms.csv")));
            QCOMPARE(rows.size(), 5);
            QCOMPARE(rows[0], QStringLiteral("time,axis,state,value"));
            QVERIFY(rows[1].endsWith(QStringLiteral(",pitch,raised,12.60")));
            QVERIFY(rows[2].endsWith(QStringLiteral(",pitch,cleared,0.00")));
            QVERIFY(rows[4].endsWith(QStringLiteral(",pitch,cleared,")));
        }
        FormRig again; // the settings outlive the run
        again.startUp("Option1");
        TiltAlarm* d = openDialog(again);
        QVERIFY(d->findChild<QCheckBox*>("AlarmOn")->isChecked());
        QCOMPARE(d->findChild<QDoubleSpinBox*>("AlarmPitch")->value(), 10.0);
    }

    void pollingAndShutdown()
    {
        sim::SimOptions o;
        o.pitch = 0xBE8;
        Line line(o);
        FormRig r(line.ports);
        r.startUp(nullptr);
        r.form->startPolling(); // no model yet: refused
        QCOMPARE(r.prompter.texts().last(), QStringLiteral("Veltrak option has to be selected"));
        r.a("MZ1")->trigger();
        r.w<QPushButton>("Start")->click();
        r.w<QPushButton>("Start")->click(); // a nested cycle too
        QTRY_COMPARE(r.text("LabelPitch"), QStringLiteral("12.60"));
        QTRY_COMPARE(r.text("LabelTemperature"), QStringLiteral("25"));
        QVERIFY(r.form->findChild<QTimer*>("Timer1")->isActive());
        QVERIFY(r.form->findChild<QObject*>("MSComm1"));
        r.w<QRadioButton>("Opt1")->click();
        QTRY_COMPARE(r.text("Lbl7PITCH"), QStringLiteral("3048"));
        QTRY_COMPARE(r.text("LabelPitch"), QStringLiteral("    "));
        QVERIFY(handshakeKept(line.sensor.log()));
        // Closed while polling and while a box is open: nothing is sent after
        // the port closes, and the handler behind the box shows no other.
        r.a("mnuRecording")->trigger();
        const qsizetype boxes = r.prompter.messages.size() + 1;
        r.prompter.whileOpen = [&](const FakePrompter::Shown&) { r.form->close(); };
        r.a("MnuCustom")->trigger(); // "Reading coefficients", then no file
        QCOMPARE(r.prompter.messages.size(), boxes);
        QCOMPARE(r.quits, 1);
        QVERIFY(!r.form->link().isOpen());
        QVERIFY(!r.w<QTimer>("RecTimer")->isActive());
        // Nothing can write any more: the watchdog that would ask again is stopped.
        QVERIFY(!r.form->findChild<QTimer*>("Timer1")->isActive());
        r.a("MnuShow")->trigger();
        r.a("MnuFileItem(2)")->trigger();
        r.a("MSettings")->trigger();
        QCOMPARE(r.prompter.messages.size(), boxes);
        QVERIFY(!r.form->portDialog() || !r.form->portDialog()->isVisible());
        QCOMPARE(r.quits, 1);
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
