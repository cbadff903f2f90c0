#pragma once

// How the pieces fit together
// ---------------------------
// Form1 is the main window and the owner of the run: the shared state, the
// serial port component MSComm1, the two timers, the recording file and all
// labels and menu items. Its handlers keep the names operators' manuals and
// support staff use (Start_Click, MZ1_Click, ...), and their bodies live
// beside the subsystem they belong to:
//   app/form1.cpp            layout, menu tree, start-up, shutdown, Give_OP
//   sensor/polling.cpp       Start, Initialize, the watchdog (driving Poller)
//   sensor/serialevents.cpp  MSComm1_OnComm -> Module2::ProcessReply
//   calibration/modelmenu.cpp  presets, Custom, Coefficients, Thickness
//   output/outputmenu.cpp    units and zero, recording, About, trend chart
// A reading travels: QSerialPort -> SerialPortComponent::OnComm ->
// MSComm1_OnComm -> Module2::ProcessReply (labels via setCaption, LastCommand
// cleared) -> Poller::replyConsumed, which writes the next command at once.
// Captions reach the screen at most every DisplayRefreshMs (flushDisplay).
// The rules themselves (formats, conversion, decoding, the poller's state
// machine, file parsing) are widget-free in veltrak_core; Form1 implements
// the small host interfaces they need. Modal questions go through Prompter.
// Nothing pumps events except Give_OP, used once by the decoder's port reset.

#include "core/apppaths.h"
#include "core/prompter.h"
#include "core/sharedstate.h"
#include "ui/options.h"
#include "core/presets.h"
#include "core/recorder.h"
#include "ui/trendchart.h"
#include "ui/configscrn.h"
#include "core/conversion.h"
#include "core/decoder.h"
#include "core/poller.h"
#include "core/portmap.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimer;
class SerialPortComponent;

// The port dialog's pending values; they outlive the dialog.
struct PortChoice {
    int NewPort = 0;
    QString NewBaud;
    QString NewParity;
    QString NewDataBits;
    QString NewStopBits;
    int NewHandshake = 0;
};

class Form1 : public QMainWindow, public DecoderHost, public PollerHost {
    Q_OBJECT
public:
    Form1(Prompter& prompter, AppPaths paths, const PortMap& ports, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up and shutdown.
    void Form_Load();
    void Form_Unload();
    void MnuFileItem_Click(int index);
    void Give_OP();
    // What ends the program once shutdown is done; tests replace it.
    void setQuitAction(std::function<void()> quit) { m_quit = std::move(quit); }
    bool ended() const { return m_ended; }
    // Shown in the status line when the files are not beside the executable.
    void showDataDirectory();

    // Port settings and model dialogs.
    void MSettings_Click();
    void showModelDialog();
    void showMainWindow(); // the end of the dialog chain
    Options* optionsDialog() const { return m_options; }
    ConfigScrn* configDialog() const { return m_config; }
    PortChoice& pendingPort() { return m_pendingPort; }

    // Polling.
    void Start_Click();
    void mnuinit_Click();
    void Timer1_Timer();
    void MSComm1_OnComm();

    // Models and calibration.
    void MZ1_Click();
    void MZ2_Click();
    void MZ3_Click();
    void MZ4_Click();
    void MnuCustom_Click();
    void MnuThickness_Click();
    void MnuShow_Click();

    // Units, zero, recording, About.
    void Mnumm_Click();
    void Mnudegrees_Click();
    void MnuInch_Click();
    void MnuZero_Click();
    void MnuTrueZero_Click();
    void mnuRecording_Click();
    void mnuInterval_Click();
    void RecTimer_Timer();
    void mnuabout_Click();
    void mnuTrend_Click();
    TrendChart* trendChart() const { return m_trend; }

    SharedState& state() { return m_state; }
    SerialPortComponent& port() { return *m_comm; }
    Poller& poller() { return *m_poller; }
    Recorder& recorder() { return m_recorder; }
    Module2& decoder() { return m_decoder; }
    const AppPaths& paths() const { return m_paths; }
    Prompter& prompter() { return m_prompter; }

    // DecoderHost
    bool rawSelected() const override;
    bool thicknessChecked() const override;
    bool mmChecked() const override;
    bool inchChecked() const override;
    void setCaption(Label label, const QString& text) override;
    // Shows captions still waiting for the next screen refresh.
    void flushDisplay();
    static constexpr int DisplayRefreshMs = 33;
    void resetPort() override;

    // PollerHost
    bool startEnabled() const override;
    bool portOpen() const override;
    bool portResetting() const override { return m_portResetting; }
    bool writeToPort(const QByteArray& bytes) override;
    void setWatchdog(bool on) override;
    void setStatus(const QString& text) override;
    void message(const QString& text, Prompter::Icon icon) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void connectHandlers();
    int tw(int twips) const; // twips to pixels at the screen's logical dpi

    void ResetAngleDisplay();
    void applyPreset(Model model, QAction* item);
    void setModelMark(QAction* item); // the single checked item of the model group
    void setUnitMenusEnabled(bool on);
    conversion::ThicknessUnit checkedUnit() const; // the unit item that carries the check mark
    QString unitTitle() const;
    void stopRecordingAfterFailure(const QString& reason);
    QString trendUnit() const;

    SharedState m_state;
    Prompter& m_prompter;
    AppPaths m_paths;
    Recorder m_recorder;
    SerialPortComponent* m_comm = nullptr;
    Module2 m_decoder;
    Poller* m_poller = nullptr;
    PortChoice m_pendingPort;
    QPointer<ConfigScrn> m_config;
    QPointer<Options> m_options;
    QPointer<TrendChart> m_trend;
    QHash<QLabel*, QString> m_pendingCaptions;
    QTimer* m_displayRefresh = nullptr;
    QAction* m_modelMark = nullptr; // the model item the last operation checked
    std::function<void()> m_quit;
    bool m_ended = false;
    bool m_portResetting = false;

    // Controls, named as in the operator documentation.
    QLabel* KVDLOGO = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label5 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Opt1 = nullptr;
    QLabel* Label4[2] = {nullptr, nullptr};
    QLabel* Label2 = nullptr;
    QLabel* LabelPitch = nullptr;
    QLabel* LabelRoll = nullptr;
    QLabel* LabelTemperature = nullptr;
    QLabel* Lbl7PITCH = nullptr;
    QLabel* Lbl8ROLL = nullptr;
    QLabel* Lbl6TEMP = nullptr;
    QPushButton* Start = nullptr;
    QLabel* Ldebug = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* RecTimer = nullptr;

    QMenu* MFile = nullptr;
    QAction* MnuFileItem2 = nullptr;
    QMenu* MPort = nullptr;
    QAction* MSettings = nullptr;
    QAction* mnuinit = nullptr;
    QMenu* Inclinometer = nullptr;
    QAction* MZ1 = nullptr;
    QAction* MZ2 = nullptr;
    QAction* MZ3 = nullptr;
    QAction* DualComp = nullptr;
    QAction* MZ4 = nullptr;
    QAction* MnuCustom = nullptr;
    QAction* MnuThickness = nullptr;
    QAction* MnuShow = nullptr;
    QMenu* mnuRecord = nullptr;
    QAction* mnuRecording = nullptr;
    QAction* mnuInterval = nullptr;
    QMenu* MnuFormat = nullptr;
    QMenu* MnuInmm = nullptr;
    QAction* Mnumm = nullptr;
    QAction* Mnudegrees = nullptr;
    QAction* MnuInch = nullptr;
    QAction* MnuZero = nullptr;
    QAction* MnuTrueZero = nullptr;
    QMenu* mnuView = nullptr;
    QAction* mnuTrend = nullptr;
    QMenu* mnuhelp = nullptr;
    QAction* mnuabout = nullptr;

    friend class ConfigScrn;
    friend class Options;
};
