// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainwindow.h"

#include "core/about.h"
#include "core/calibration.h"
#include "core/numberformat.h"
#include "link/sensorlink.h"
#include "ui/alarmmenu.h"
#include "ui/artwork.h"
#include "ui/calibrationmenu.h"
#include "ui/modeldialog.h"
#include "ui/recordingmenu.h"
#include "ui/trendchart.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QTimer>

#include <algorithm>

namespace {
const QColor Cyan(0, 255, 255);
const QColor Navy(0, 0, 128);
const QColor Red(255, 0, 0);

void setTextColour(QWidget* w, const QColor& colour)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, colour);
    pal.setColor(QPalette::Text, colour);
    pal.setColor(QPalette::ButtonText, colour);
    w->setPalette(pal);
}
} // namespace

MainWindow::MainWindow(Prompter& prompter, AppPaths paths, const PortMap& ports, QWidget* parent)
    : QMainWindow(parent,
        Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
            | Qt::WindowCloseButtonHint),
      m_prompter(prompter),
      m_paths(std::move(paths)),
      m_quit([] { QCoreApplication::exit(0); })
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Veltrak Interface  "));
    setWindowIcon(artwork::windowIcon());

    m_link = new SensorLink(this);
    m_ports.map = ports;
    {
        // The port dialog's choices of earlier runs; --port still wins for this one.
        const QSettings stored;
        const int number = m_ports.map.loadRemembered(stored);
        if (number != 0)
            m_ports.number = number;
        m_ports.remembered = number != 0 || m_ports.map.anyRemembered();
    }
    m_calibration = new CalibrationMenu(m_prompter, m_paths.coefficientDirs(), *m_link, this);
    m_recording = new RecordingMenu(m_prompter, this);
    m_alarms = new AlarmMenu(m_paths.alarmFile(), this);

    m_displayRefresh = new QTimer(this);
    m_displayRefresh->setObjectName(QStringLiteral("DisplayRefresh"));
    m_displayRefresh->setSingleShot(true);
    m_displayRefresh->setInterval(DisplayRefreshMs);
    connect(m_displayRefresh, &QTimer::timeout, this, [this] {
        if (m_pendingCaptions.isEmpty())
            return; // quiet: the next change shows at once
        flushDisplay();
        m_displayRefresh->start();
    });

    buildControls();
    buildMenus();

    connect(m_link, &SensorLink::readingReady, this, &MainWindow::showReading);
    connect(m_link, &SensorLink::readingReady, m_recording, &RecordingMenu::take);
    connect(m_link, &SensorLink::handshake, this, [this] {
        setCaption(m_pitchCount, QStringLiteral("OK"));
        setCaption(m_rollCount, QStringLiteral("OK"));
    });
    connect(m_link, &SensorLink::status, this, [this](const QString& text) { setCaption(m_status, text); });
    connect(m_link, &SensorLink::silent, this, [this](qint64 ticks, const QString& partial) {
        setCaption(m_status, QStringLiteral(" Waiting ") + partial + numfmt::plainDecimal(double(ticks)));
    });
    connect(m_link, &SensorLink::modelMissing, this,
        [this] { message(QStringLiteral("Veltrak option has to be selected"), Prompter::Icon::None); });
    connect(m_link, &SensorLink::lineFailed, this,
        [this] { message(QStringLiteral("Error RS232"), Prompter::Icon::Critical); });
    connect(m_link, &SensorLink::readingReady, m_alarms, &AlarmMenu::take);
    connect(m_alarms, &AlarmMenu::alarmState, this, &MainWindow::showAlarm);
    connect(m_alarms, &AlarmMenu::status, this, [this](const QString& text) { setCaption(m_status, text); });
    connect(m_calibration, &CalibrationMenu::calibrationChanged, this, &MainWindow::layOut);
    connect(m_calibration, &CalibrationMenu::calibrationChanged, m_alarms, &AlarmMenu::setCalibration);
    connect(m_calibration, &CalibrationMenu::modelChosenChanged, m_start, &QPushButton::setEnabled);
    connect(m_rawDisplay, &QRadioButton::toggled, m_link, &SensorLink::setRawDisplay);
    connect(m_start, &QPushButton::clicked, this, &MainWindow::startPolling);
}

MainWindow::~MainWindow()
{
    m_link->end();
    delete m_portDialog;
    delete m_modelDialog;
}

int MainWindow::tw(int twips) const
{
    return artwork::twipsToPixels(this, twips);
}

void MainWindow::buildControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Form1Client"));
    artwork::setBackground(client, Cyan);
    setCentralWidget(client);

    auto place = [this](QWidget* w, int l, int t, int wd, int h) { w->setGeometry(tw(l), tw(t), tw(wd), tw(h)); };
    auto label = [&](const char* name, const QString& text, int l, int t, int wd, int h, const QFont& font,
                     Qt::Alignment align = Qt::AlignLeft | Qt::AlignTop) {
        auto* lb = new QLabel(text, client);
        lb->setObjectName(QString::fromLatin1(name));
        lb->setFont(font);
        lb->setAlignment(align);
        place(lb, l, t, wd, h);
        return lb;
    };
    const QFont rowFont = artwork::msSansSerif(13.5, true);
    const Qt::Alignment centred = Qt::AlignHCenter | Qt::AlignTop;

    m_makerLogo = new QLabel(client);
    m_makerLogo->setObjectName(QStringLiteral("KVDLOGO"));
    m_makerLogo->setPixmap(artwork::makerLogo());
    m_makerLogo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(m_makerLogo, 120, 120, 1170, 480);

    m_makerName = label("Label3", about::MakerName, 1200, 120, 7452, 612, artwork::msSansSerif(18, false));
    m_makerName->setIndent(tw(120)); // clear of the logo
    setTextColour(m_makerName, Navy);
    m_productTitle = label("Label5", QStringLiteral("VELTRAK Dual Axis    Digital Inclinometer"), 120, 960, 8175, 615,
        artwork::tahoma(19.5, false), Qt::AlignHCenter | Qt::AlignTop);
    setTextColour(m_productTitle, Navy);

    m_angleDisplay = new QRadioButton(QStringLiteral("ANGLE DATA (Deg.)"), client);
    m_angleDisplay->setObjectName(QStringLiteral("Option2"));
    m_angleDisplay->setFont(artwork::msSansSerif(12, true));
    place(m_angleDisplay, 960, 1920, 3132, 372);
    m_angleDisplay->setChecked(true);
    m_rawDisplay = new QRadioButton(QStringLiteral("RAW DATA (Binary)"), client);
    m_rawDisplay->setObjectName(QStringLiteral("Opt1"));
    m_rawDisplay->setFont(artwork::msSansSerif(12, true));
    place(m_rawDisplay, 5280, 1920, 3012, 372);

    m_rowTitle[0] = label("Label4(0)", QStringLiteral("PITCH"), 240, 2640, 2175, 495, rowFont);
    m_rowTitle[1] = label("Label4(1)", QStringLiteral("ROLL"), 240, 3360, 975, 495, rowFont);
    m_temperatureTitle = label("Label2", QStringLiteral("TEMP (Deg C.)"), 240, 4080, 2415, 495, rowFont);
    for (QLabel* l : {m_rowTitle[0], m_rowTitle[1], m_temperatureTitle})
        setTextColour(l, Red);

    m_pitchValue = label("LabelPitch", QString(), 2520, 2640, 1575, 495, rowFont, centred);
    m_rollValue = label("LabelRoll", QString(), 2520, 3240, 1575, 495, rowFont, centred);
    m_temperatureValue = label("LabelTemperature", QString(), 2520, 3960, 1572, 492, rowFont, centred);
    m_pitchCount = label("Lbl7PITCH", QString(), 5160, 2520, 972, 492, rowFont, centred);
    m_rollCount = label("Lbl8ROLL", QString(), 5160, 3120, 972, 492, rowFont, centred);
    m_temperatureCount = label("Lbl6TEMP", QString(), 5160, 3840, 972, 492, rowFont, centred);
    // The value labels change hundreds of times a second: painting their own
    // (cyan) background spares repainting the window beneath them each time.
    for (QLabel* l : {m_pitchValue, m_rollValue, m_temperatureValue, m_pitchCount, m_rollCount, m_temperatureCount})
        l->setAutoFillBackground(true);

    m_start = new QPushButton(QStringLiteral("Start communication"), client);
    m_start->setObjectName(QStringLiteral("Start"));
    m_start->setFont(artwork::msSansSerif(8, true));
    place(m_start, 6720, 2520, 1572, 492);
    m_start->setEnabled(false);

    m_status = label("Ldebug", QStringLiteral("Information"), 6720, 3120, 1575, 375, artwork::msSansSerif(8, false));

    artwork::growToFit(client);
    const int width = std::max(tw(8655), client->childrenRect().right() + tw(120));
    client->setMinimumSize(width, tw(4755));
    resize(width, tw(4755));
}

void MainWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    auto menu = [](QMenuBar* b, QMenu* parentMenu, const char* name, const QString& title) {
        QMenu* m = parentMenu ? parentMenu->addMenu(title) : b->addMenu(title);
        m->setObjectName(QString::fromLatin1(name));
        m->menuAction()->setObjectName(QString::fromLatin1(name) + QStringLiteral("Action"));
        return m;
    };
    auto item = [this](QMenu* m, const char* name, const QString& text, void (MainWindow::*handler)()) {
        QAction* a = m->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };

    QMenu* file = menu(bar, nullptr, "MFile", QStringLiteral("&File"));
    item(file, "MnuFileItem(2)", QStringLiteral("E&xit"), &MainWindow::closeProgram);

    QMenu* port = menu(bar, nullptr, "MPort", QStringLiteral("&CommPort"));
    item(port, "MSettings", QStringLiteral("&Settings..."), &MainWindow::openPortSettings)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction* init = port->addAction(QStringLiteral("&Initialize "));
    init->setObjectName(QStringLiteral("mnuinit"));
    init->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    connect(init, &QAction::triggered, m_link, &SensorLink::sendInitialisation);

    QMenu* option = menu(bar, nullptr, "Inclinometer", QStringLiteral("&Option"));
    option->addActions(m_calibration->modelActions());

    QMenu* record = menu(bar, nullptr, "mnuRecord", QStringLiteral("&Record Data"));
    record->addAction(m_recording->recordingAction());
    record->addAction(m_recording->intervalAction());

    QMenu* format = menu(bar, nullptr, "MnuFormat", QStringLiteral("F&ormat"));
    m_unitMenu = menu(nullptr, format, "MnuInmm", QStringLiteral("Unit"));
    m_unitMenu->addActions(m_calibration->unitActions());
    format->addAction(m_calibration->zeroAction());
    format->addAction(m_calibration->trueZeroAction());

    QMenu* view = menu(bar, nullptr, "mnuView", QStringLiteral("&View"));
    item(view, "mnuTrend", QStringLiteral("Trend chart"), &MainWindow::openTrendChart);
    connect(view->addAction(QStringLiteral("History...")), &QAction::triggered, this, [this] { openHistory(); });
    view->actions().last()->setObjectName(QStringLiteral("MnuHistory"));
    view->addAction(m_alarms->action());

    QMenu* help = menu(bar, nullptr, "mnuhelp", QStringLiteral("&Help"));
    item(help, "mnuabout", QStringLiteral("About"), &MainWindow::showAbout);
    layOut(m_calibration->calibration());
}

// The pitch row shows thickness (titled by its unit) or the angle layout
// with every row; the unit menu goes with thickness mode.
void MainWindow::layOut(const Calibration& calibration)
{
    const bool thickness = calibration.thickness;
    m_rowTitle[0]->setText(thickness ? calibration.unitTitle() : QStringLiteral("PITCH"));
    for (QWidget* w : std::initializer_list<QWidget*> {m_rowTitle[1], m_temperatureTitle, m_rawDisplay, m_angleDisplay,
             m_temperatureCount, m_pitchCount, m_rollCount, m_temperatureValue, m_rollValue})
        w->setVisible(!thickness);
    m_unitMenu->setEnabled(thickness);
    m_unitMenu->menuAction()->setEnabled(thickness);
    if (m_trend)
        m_trend->setUnit(calibration.unitName());
}

void MainWindow::startUp()
{
    if (ended())
        return; // stopped before the event loop got here
    m_recording->openFile(m_paths.recordingFile());
    if (!m_historyAtStart.isEmpty()) {
        // Looking back, not measuring: the operator starts the chain from
        // the CommPort menu when wanted.
        show();
        openHistory(m_historyAtStart);
        return;
    }
    hide();
    openPortSettings();
}

// Whether the program has ended is the link's: it ends once, here.
bool MainWindow::ended() const
{
    return m_link->ended();
}

void MainWindow::closeProgram()
{
    if (ended())
        return;
    // The link stops and lets go of its receivers; open boxes are dismissed
    // and no new one is shown; the record file is closed; and what could
    // still start work (the parts' and dialogs' signals, every action, the
    // display refresh) is cut off, so no handler needs to ask whether the
    // program is still running.
    m_link->end();
    m_prompter.close();
    m_recording->end();
    m_displayRefresh->stop();
    m_calibration->disconnect();
    m_alarms->disconnect();
    for (QObject* dialog : std::initializer_list<QObject*> {m_portDialog.data(), m_modelDialog.data()}) {
        if (dialog) {
            dialog->disconnect(this);
            dialog->disconnect(m_calibration);
        }
    }
    for (QAction* action : findChildren<QAction*>())
        action->setEnabled(false);
    for (QWidget* w :
        std::initializer_list<QWidget*> {m_portDialog.data(), m_modelDialog.data(), m_trend.data(), m_history.data()}) {
        if (w)
            w->hide();
    }
    hide();
    if (m_quit)
        m_quit();
}

void MainWindow::showDataDirectory()
{
    const QString dir = QDir::toNativeSeparators(m_paths.dataDir());
    m_status->setText(QStringLiteral("Files in ") + dir);
    m_status->setToolTip(QStringLiteral("kvddt.txt and kvdcoef.txt are kept in %1").arg(dir));
    m_status->adjustSize();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    closeProgram();
    event->accept();
}

void MainWindow::openPortSettings()
{
    hide();
    if (!m_modelDialog) {
        // The model dialog is created, hidden, together with the port dialog.
        m_modelDialog = new ModelDialog(this);
        connect(m_modelDialog, &ModelDialog::chosen, m_calibration, &CalibrationMenu::choose);
        connect(m_modelDialog, &ModelDialog::dismissed, this, &MainWindow::showMainWindow);
        connect(m_calibration, &CalibrationMenu::customLoadFailed, m_modelDialog, &ModelDialog::clearCustom);
    }
    m_modelDialog->hide();
    if (m_portDialog)
        m_portDialog->deleteLater();
    m_portDialog = new PortDialog(m_ports, m_pendingPort, this);
    connect(m_portDialog, &PortDialog::portChosen, this, &MainWindow::applyPortChoice);
    connect(m_portDialog, &PortDialog::portConfirmed, this, &MainWindow::showModelDialog);
    connect(m_portDialog, &PortDialog::cancelled, this, &MainWindow::showMainWindow);
    m_portDialog->openDialog(m_link->lineFormat());
}

// OK in the port dialog. A new port number or device moves an open line to
// it; when that fails the line stays closed, the old number holds and the
// dialog stays open. Then the line format; then the line opens if it is
// not open yet, and the model dialog follows even when it does not.
void MainWindow::applyPortChoice(const PortChoice& choice)
{
    auto refuse = [this](const QString& text) { message(text, Prompter::Icon::Warning); };
    const int oldNumber = m_ports.number;
    if (choice.number != oldNumber || choice.device != m_ports.map.deviceFor(oldNumber)) {
        if (choice.number < PortMap::FirstPort || choice.number > PortMap::LastPort)
            return refuse(QStringLiteral("Invalid port number %1").arg(choice.number));
        if (m_link->isOpen()) {
            m_link->close();
            if (const auto failure = m_link->open(choice.device, m_link->lineFormat()))
                return refuse(describeOpenFailure(*failure));
        }
        m_ports.number = choice.number;
    }
    m_portDialog->keepChoices();
    if (!choice.format)
        return refuse(QStringLiteral("Invalid line format: not every setting is chosen"));
    if (const auto failure = m_link->setLineFormat(*choice.format))
        return refuse(describeOpenFailure(*failure));
    // Said at once, so the operator does not learn of it only from a later
    // "Error RS232".
    if (!m_link->isOpen())
        if (const auto failure = m_link->open(choice.device, *choice.format))
            refuse(describeOpenFailure(*failure));
    m_portDialog->finish();
}

void MainWindow::showModelDialog()
{
    if (!m_modelDialog)
        return showMainWindow();
    m_modelDialog->show();
    m_modelDialog->raise();
    m_modelDialog->activateWindow();
}

void MainWindow::showMainWindow()
{
    QMainWindow::show();
    raise();
    activateWindow();
}

void MainWindow::startPolling()
{
    m_link->startPolling();
}

void MainWindow::message(const QString& text, Prompter::Icon icon)
{
    m_prompter.message(text, icon, AppTitle);
}

// An axis in alarm: its value label turns red and the title says so; no
// box, so nothing waits for the operator.
void MainWindow::showAlarm(bool pitch, bool roll)
{
    for (auto [label, on] : {std::pair {m_pitchValue, pitch}, {m_rollValue, roll}}) {
        QPalette pal = label->palette();
        pal.setColor(QPalette::Window, on ? QColor(255, 0, 0) : Cyan);
        label->setPalette(pal);
    }
    setWindowTitle(pitch || roll ? QStringLiteral("Veltrak Interface  ALARM") : QStringLiteral("Veltrak Interface  "));
}

void MainWindow::showAbout()
{
    m_prompter.message(about::text(), Prompter::Icon::None, about::MakerName);
}

void MainWindow::openHistory(const QStringList& paths)
{
    if (ended())
        return;
    if (!m_history)
        m_history = new HistoryWindow(this);
    if (!paths.isEmpty())
        m_history->open(paths);
    m_history->show();
    m_history->raise();
    m_history->activateWindow();
}

void MainWindow::openTrendChart()
{
    if (!m_trend) {
        m_trend = new TrendChart(this);
        m_trend->setUnit(m_calibration->calibration().unitName());
        m_trend->setAlarmLimits(m_alarms->rule().settings());
        connect(m_link, &SensorLink::readingReady, m_trend, &TrendChart::take);
        connect(m_alarms, &AlarmMenu::limitsChanged, m_trend, &TrendChart::setAlarmLimits);
        // What the window shows now is on the chart at once.
        for (const auto& r : {m_pitchNow, m_rollNow})
            if (r)
                m_trend->take(*r);
        m_trend->sampleNow();
    }
    m_trend->show();
    m_trend->raise();
    m_trend->activateWindow();
    m_trend->repaintNow();
}

void MainWindow::showReading(const Reading& reading)
{
    QLabel* value = m_pitchValue;
    QLabel* raw = m_pitchCount;
    switch (reading.quantity) {
    case Quantity::Pitch:
        m_pitchNow = reading;
        break;
    case Quantity::Roll:
        m_rollNow = reading;
        value = m_rollValue;
        raw = m_rollCount;
        break;
    case Quantity::Temperature:
        value = m_temperatureValue;
        raw = m_temperatureCount;
        break;
    }
    setCaption(value, fitted(value, reading.valueColumnText(), reading.value));
    setCaption(raw, fitted(raw, reading.rawColumnText(), reading.count));
}

// A value too wide for its label (absurd coefficients) is shown in exponent
// form rather than cut off or stretching the window; the full text goes to
// the tool tip and, unchanged, to the record file.
QString MainWindow::fitted(QLabel* label, const QString& text, double value) const
{
    constexpr qsizetype FitsAlways = 10; // every ordinary reading is shorter
    if (text.size() <= FitsAlways) {
        if (!label->toolTip().isEmpty())
            label->setToolTip(QString());
        return text;
    }
    const QFontMetrics metrics(label->font());
    const int room = label->contentsRect().width();
    if (metrics.horizontalAdvance(text) <= room)
        return text;
    label->setToolTip(text);
    for (int digits = 6; digits >= 0; --digits) {
        QString compact = QString::number(value, 'E', digits);
        if (metrics.horizontalAdvance(compact) <= room)
            return compact;
    }
    return metrics.elidedText(text, Qt::ElideRight, room);
}

void MainWindow::setCaption(QLabel* label, const QString& text)
{
    // A fast sensor changes the labels hundreds of times a second; the screen
    // is refreshed at most every DisplayRefreshMs: the first change shows at
    // once, later ones within the period are shown together at its end.
    m_pendingCaptions.insert(label, text);
    if (!m_displayRefresh->isActive()) {
        flushDisplay();
        m_displayRefresh->start();
    }
}

void MainWindow::flushDisplay()
{
    for (auto it = m_pendingCaptions.cbegin(); it != m_pendingCaptions.cend(); ++it) {
        if (it.key()->text() != it.value())
            it.key()->setText(it.value());
    }
    m_pendingCaptions.clear();
}
