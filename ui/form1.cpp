#include "ui/form1.h"

#include "ui/artwork.h"
#include "ui/options.h"
#include "core/about.h"
#include "ui/trendchart.h"
#include "ui/configscrn.h"
#include "link/serialport.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
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

Form1::Form1(Prompter& prompter, AppPaths paths, const PortMap& ports, QWidget* parent)
    : QMainWindow(parent,
        Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
            | Qt::WindowCloseButtonHint),
      m_prompter(prompter),
      m_paths(std::move(paths)),
      m_decoder(m_state, *this),
      m_quit([] { QCoreApplication::exit(0); })
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Veltrak Interface  "));
    setWindowIcon(artwork::windowIcon());

    m_comm = new SerialPortComponent(this);
    m_comm->setPortMap(ports);
    m_poller = new Poller(m_state, *this, this);
    m_poller->setObjectName(QStringLiteral("Poller"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    RecTimer = new QTimer(this);
    RecTimer->setObjectName(QStringLiteral("RecTimer"));
    RecTimer->setInterval(1000);
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
    connectHandlers();
}

Form1::~Form1()
{
    m_ended = true;
    if (m_poller)
        m_poller->end();
    delete m_config;
    delete m_options;
}

int Form1::tw(int twips) const
{
    return artwork::twipsToPixels(this, twips);
}

void Form1::buildControls()
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

    KVDLOGO = new QLabel(client);
    KVDLOGO->setObjectName(QStringLiteral("KVDLOGO"));
    KVDLOGO->setPixmap(artwork::makerLogo());
    KVDLOGO->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(KVDLOGO, 120, 120, 1170, 480);

    Label3 = label("Label3", about::MakerName, 1200, 120, 7452, 612, artwork::msSansSerif(18, false));
    Label3->setIndent(tw(120)); // clear of the logo
    setTextColour(Label3, Navy);
    Label5 = label("Label5", QStringLiteral("VELTRAK Dual Axis    Digital Inclinometer"), 120, 960, 8175, 615,
        artwork::tahoma(19.5, false), Qt::AlignHCenter | Qt::AlignTop);
    setTextColour(Label5, Navy);

    Option2 = new QRadioButton(QStringLiteral("ANGLE DATA (Deg.)"), client);
    Option2->setObjectName(QStringLiteral("Option2"));
    Option2->setFont(artwork::msSansSerif(12, true));
    place(Option2, 960, 1920, 3132, 372);
    Option2->setChecked(true);
    Opt1 = new QRadioButton(QStringLiteral("RAW DATA (Binary)"), client);
    Opt1->setObjectName(QStringLiteral("Opt1"));
    Opt1->setFont(artwork::msSansSerif(12, true));
    place(Opt1, 5280, 1920, 3012, 372);

    Label4[0] = label("Label4(0)", QStringLiteral("PITCH"), 240, 2640, 2175, 495, rowFont);
    Label4[1] = label("Label4(1)", QStringLiteral("ROLL"), 240, 3360, 975, 495, rowFont);
    Label2 = label("Label2", QStringLiteral("TEMP (Deg C.)"), 240, 4080, 2415, 495, rowFont);
    for (QLabel* l : {Label4[0], Label4[1], Label2})
        setTextColour(l, Red);

    LabelPitch = label("LabelPitch", QString(), 2520, 2640, 1575, 495, rowFont, centred);
    LabelRoll = label("LabelRoll", QString(), 2520, 3240, 1575, 495, rowFont, centred);
    LabelTemperature = label("LabelTemperature", QString(), 2520, 3960, 1572, 492, rowFont, centred);
    Lbl7PITCH = label("Lbl7PITCH", QString(), 5160, 2520, 972, 492, rowFont, centred);
    Lbl8ROLL = label("Lbl8ROLL", QString(), 5160, 3120, 972, 492, rowFont, centred);
    Lbl6TEMP = label("Lbl6TEMP", QString(), 5160, 3840, 972, 492, rowFont, centred);
    // The value labels change hundreds of times a second: painting their own
    // (cyan) background spares repainting the window beneath them each time.
    for (QLabel* l : {LabelPitch, LabelRoll, LabelTemperature, Lbl7PITCH, Lbl8ROLL, Lbl6TEMP})
        l->setAutoFillBackground(true);

    Start = new QPushButton(QStringLiteral("Start communication"), client);
    Start->setObjectName(QStringLiteral("Start"));
    Start->setFont(artwork::msSansSerif(8, true));
    place(Start, 6720, 2520, 1572, 492);
    Start->setEnabled(false);

    Ldebug = label("Ldebug", QStringLiteral("Information"), 6720, 3120, 1575, 375, artwork::msSansSerif(8, false));

    artwork::growToFit(client);
    const int width = std::max(tw(8655), client->childrenRect().right() + tw(120));
    client->setMinimumSize(width, tw(4755));
    resize(width, tw(4755));
}

void Form1::buildMenus()
{
    QMenuBar* bar = menuBar();
    auto menu = [](QMenuBar* b, QMenu* parentMenu, const char* name, const QString& title) {
        QMenu* m = parentMenu ? parentMenu->addMenu(title) : b->addMenu(title);
        m->setObjectName(QString::fromLatin1(name));
        m->menuAction()->setObjectName(QString::fromLatin1(name) + QStringLiteral("Action"));
        return m;
    };
    auto item = [](QMenu* m, const char* name, const QString& text, bool checkable = false) {
        QAction* a = m->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setCheckable(checkable);
        return a;
    };

    MFile = menu(bar, nullptr, "MFile", QStringLiteral("&File"));
    MnuFileItem2 = item(MFile, "MnuFileItem(2)", QStringLiteral("E&xit"));

    MPort = menu(bar, nullptr, "MPort", QStringLiteral("&CommPort"));
    MSettings = item(MPort, "MSettings", QStringLiteral("&Settings..."));
    MSettings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    mnuinit = item(MPort, "mnuinit", QStringLiteral("&Initialize "));
    mnuinit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));

    Inclinometer = menu(bar, nullptr, "Inclinometer", QStringLiteral("&Option"));
    MZ1 = item(Inclinometer, "MZ1", QStringLiteral("VELTRAK_Z1"), true);
    MZ2 = item(Inclinometer, "MZ2", QStringLiteral("VELTRAK_Z2"), true);
    MZ3 = item(Inclinometer, "MZ3", QStringLiteral("VELTRAK_Z3"), true);
    DualComp = item(Inclinometer, "DualComp", QStringLiteral("Dual compensation"));
    MZ4 = item(Inclinometer, "MZ4", QStringLiteral("Raw data - 2048"), true);
    MnuCustom = item(Inclinometer, "MnuCustom", QStringLiteral("Custom"), true);
    MnuThickness = item(Inclinometer, "MnuThickness", QStringLiteral("Thickness"), true);
    MnuShow = item(Inclinometer, "MnuShow", QStringLiteral("Coefficients"));

    mnuRecord = menu(bar, nullptr, "mnuRecord", QStringLiteral("&Record Data"));
    mnuRecording = item(mnuRecord, "mnuRecording", QStringLiteral("Recording to kvddt.txt"), true);
    mnuInterval = item(mnuRecord, "mnuInterval", QStringLiteral("Set interval"));

    MnuFormat = menu(bar, nullptr, "MnuFormat", QStringLiteral("F&ormat"));
    MnuInmm = menu(nullptr, MnuFormat, "MnuInmm", QStringLiteral("Unit"));
    Mnumm = item(MnuInmm, "Mnumm", QStringLiteral("mm"), true);
    Mnumm->setChecked(true);
    Mnudegrees = item(MnuInmm, "Mnudegrees", QStringLiteral("degrees"), true);
    MnuInch = item(MnuInmm, "MnuInch", QStringLiteral("in"), true);
    MnuZero = item(MnuFormat, "MnuZero", QStringLiteral("Zero"));
    MnuTrueZero = item(MnuFormat, "MnuTrueZero", QStringLiteral("True Zero"));
    setUnitMenusEnabled(false);

    mnuView = menu(bar, nullptr, "mnuView", QStringLiteral("&View"));
    mnuTrend = item(mnuView, "mnuTrend", QStringLiteral("Trend chart"));

    mnuhelp = menu(bar, nullptr, "mnuhelp", QStringLiteral("&Help"));
    mnuabout = item(mnuhelp, "mnuabout", QStringLiteral("About"));
}

void Form1::setUnitMenusEnabled(bool on)
{
    MnuInmm->setEnabled(on);
    MnuInmm->menuAction()->setEnabled(on);
    MnuZero->setEnabled(on);
}

void Form1::connectHandlers()
{
    connect(MnuFileItem2, &QAction::triggered, this, [this] { MnuFileItem_Click(2); });
    connect(MSettings, &QAction::triggered, this, &Form1::MSettings_Click);
    connect(mnuinit, &QAction::triggered, this, &Form1::mnuinit_Click);
    connect(MZ1, &QAction::triggered, this, &Form1::MZ1_Click);
    connect(MZ2, &QAction::triggered, this, &Form1::MZ2_Click);
    connect(MZ3, &QAction::triggered, this, &Form1::MZ3_Click);
    connect(MZ4, &QAction::triggered, this, &Form1::MZ4_Click);
    connect(MnuCustom, &QAction::triggered, this, &Form1::MnuCustom_Click);
    connect(MnuThickness, &QAction::triggered, this, &Form1::MnuThickness_Click);
    connect(MnuShow, &QAction::triggered, this, &Form1::MnuShow_Click);
    connect(mnuRecording, &QAction::triggered, this, &Form1::mnuRecording_Click);
    connect(mnuInterval, &QAction::triggered, this, &Form1::mnuInterval_Click);
    connect(Mnumm, &QAction::triggered, this, &Form1::Mnumm_Click);
    connect(Mnudegrees, &QAction::triggered, this, &Form1::Mnudegrees_Click);
    connect(MnuInch, &QAction::triggered, this, &Form1::MnuInch_Click);
    connect(MnuZero, &QAction::triggered, this, &Form1::MnuZero_Click);
    connect(MnuTrueZero, &QAction::triggered, this, &Form1::MnuTrueZero_Click);
    connect(mnuabout, &QAction::triggered, this, &Form1::mnuabout_Click);
    connect(mnuTrend, &QAction::triggered, this, &Form1::mnuTrend_Click);
    connect(Start, &QPushButton::clicked, this, &Form1::Start_Click);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(RecTimer, &QTimer::timeout, this, &Form1::RecTimer_Timer);
    connect(m_comm, &SerialPortComponent::OnComm, this, &Form1::MSComm1_OnComm);
}

void Form1::Form_Load()
{
    const QString recordingPath = m_paths.recordingFile();
    if (const auto error = m_recorder.open(recordingPath)) {
        // Running on as if the file were open would silently lose records.
        mnuRecording->setEnabled(false);
        mnuInterval->setEnabled(false);
        message(QStringLiteral(
                    "The recording file \"%1\" could not be created: %2\nRecording is not available in this run.")
                    .arg(recordingPath, *error),
            Prompter::Icon::Warning);
    }
    m_state.PitchOffset = -2048.0;
    m_state.RollOffset = -2048.0;
    m_state.CoefX1 = 1.0;
    m_state.CoefX2 = 0.0;
    m_state.CoefX3 = 0.0;
    hide();
    MSettings_Click();
    m_state.ZeroReference = 130.0;
}

void Form1::Form_Unload()
{
    if (m_ended)
        return;
    m_ended = true;
    m_poller->end();
    Timer1->stop();
    RecTimer->stop();
    if (m_comm->PortOpen())
        (void)m_comm->setPortOpen(false);
    m_recorder.close();
    if (m_config)
        m_config->hide();
    if (m_options)
        m_options->hide();
    hide();
    if (m_quit)
        m_quit();
}

void Form1::showDataDirectory()
{
    const QString dir = QDir::toNativeSeparators(m_paths.dataDir());
    Ldebug->setText(QStringLiteral("Files in ") + dir);
    Ldebug->setToolTip(QStringLiteral("kvddt.txt and kvdcoef.txt are kept in %1").arg(dir));
    Ldebug->adjustSize();
}

void Form1::MnuFileItem_Click(int /*index*/)
{
    Form_Unload();
}

void Form1::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void Form1::Give_OP()
{
    QCoreApplication::processEvents();
}

void Form1::MSettings_Click()
{
    if (m_ended)
        return;
    if (!m_options) {
        // The model dialog is created, hidden, together with the port dialog.
        m_options = new Options(*this);
    }
    if (m_config)
        m_config->deleteLater();
    m_config = new ConfigScrn(*this);
    m_config->openDialog();
}

void Form1::showModelDialog()
{
    if (m_ended)
        return;
    if (!m_options)
        m_options = new Options(*this);
    m_options->show();
    m_options->raise();
    m_options->activateWindow();
}

void Form1::showMainWindow()
{
    if (m_ended)
        return;
    show();
    raise();
    activateWindow();
}

void Form1::message(const QString& text, Prompter::Icon icon)
{
    if (m_ended)
        return;
    m_prompter.message(text, icon, AppTitle);
}

// --- DecoderHost -------------------------------------------------------------

bool Form1::rawSelected() const
{
    return Opt1->isChecked();
}
bool Form1::thicknessChecked() const
{
    return MnuThickness->isChecked();
}
bool Form1::mmChecked() const
{
    return Mnumm->isChecked();
}
bool Form1::inchChecked() const
{
    return MnuInch->isChecked();
}

void Form1::setCaption(Label label, const QString& text)
{
    QLabel* target = nullptr;
    switch (label) {
    case Label::LabelPitch:
        target = LabelPitch;
        break;
    case Label::Lbl7PITCH:
        target = Lbl7PITCH;
        break;
    case Label::LabelRoll:
        target = LabelRoll;
        break;
    case Label::Lbl8ROLL:
        target = Lbl8ROLL;
        break;
    case Label::LabelTemperature:
        target = LabelTemperature;
        break;
    case Label::Lbl6TEMP:
        target = Lbl6TEMP;
        break;
    case Label::Ldebug:
        target = Ldebug;
        break;
    }
    if (!target)
        return;
    // A fast sensor changes the labels hundreds of times a second; the screen
    // is refreshed at most every DisplayRefreshMs: the first change shows at
    // once, later ones within the period are shown together at its end.
    m_pendingCaptions.insert(target, text);
    if (!m_displayRefresh->isActive()) {
        flushDisplay();
        m_displayRefresh->start();
    }
}

void Form1::flushDisplay()
{
    if (m_pendingCaptions.isEmpty())
        return;
    bool valuesChanged = false;
    for (auto it = m_pendingCaptions.cbegin(); it != m_pendingCaptions.cend(); ++it) {
        if (it.key()->text() == it.value())
            continue;
        it.key()->setText(it.value());
        valuesChanged = valuesChanged || it.key() == LabelPitch || it.key() == LabelRoll;
    }
    m_pendingCaptions.clear();
    if (m_trend && valuesChanged) {
        m_trend->setUnit(trendUnit());
        m_trend->valuesChanged(LabelPitch->text(), LabelRoll->text());
    }
}

void Form1::resetPort()
{
    m_portResetting = true;
    (void)m_comm->setPortOpen(false);
    Give_OP();
    // A port that does not open again stays closed; the cycle's next write
    // then reports "Error RS232".
    if (!m_ended)
        (void)m_comm->setPortOpen(true);
    m_portResetting = false;
}
