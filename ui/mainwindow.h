// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How the pieces fit together
// ---------------------------
// MainWindow is the main window and nothing more: the layout, the menu bar, the
// start-up chain of the two dialogs, the labels and shutdown. The work is
// done by its parts, each of which owns its actions and timers:
//   SensorLink       (link/)  the port, the watchdog, poller, decoder;
//                             emits readings, status texts and failures
//   CalibrationMenu  (ui/)    presets, Custom, Coefficients, Thickness, units,
//                             Zero; owns the one calibration value
//   RecordingMenu    (ui/)    the record timer, kvddt.txt, the interval prompt
//   AlarmMenu        (ui/)    the tilt alarm: settings, rule, alarms.csv
//   TrendChart       (ui/)    the chart window
// Readings travel as values from the link to the labels (at most one screen
// refresh every DisplayRefreshMs), the recorder, the chart and the alarms;
// nothing reads a label back. Modal questions go through Prompter; dialogs
// report by signals. closeProgram() is the one shutdown: the link ends (its
// end is the program's ended state), the prompter closes, and the parts'
// signals and every action are cut off.

#include "core/apppaths.h"
#include "core/portmap.h"
#include "core/prompter.h"
#include "core/reading.h"
#include "ui/historywindow.h"
#include "ui/modeldialog.h"
#include "ui/portdialog.h"
#include "ui/trendchart.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <optional>

class AlarmMenu;
class CalibrationMenu;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimer;
class RecordingMenu;
class SensorLink;
struct Calibration;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(Prompter& prompter, AppPaths paths, const PortMap& ports, QWidget* parent = nullptr);
    ~MainWindow() override;

    // m_start-up and shutdown.
    void startUp();
    void closeProgram();
    // What ends the program once shutdown is done; tests replace it.
    void setQuitAction(std::function<void()> quit) { m_quit = std::move(quit); }
    bool ended() const;
    // Shown in the status line when the files are not beside the executable.
    void showDataDirectory();

    // The start-up chain: port dialog, model dialog, main window.
    void openPortSettings();
    void showModelDialog();
    void showMainWindow();
    ModelDialog* modelDialog() const { return m_modelDialog; }
    PortDialog* portDialog() const { return m_portDialog; }

    void startPolling();
    void showAbout();
    void openTrendChart();
    // The History window, reading `paths` when given.
    void openHistory(const QStringList& paths = {});
    // --history: startUp() opens these instead of the start-up chain, which
    // the operator starts from the CommPort menu when wanted.
    void setHistoryAtStart(const QStringList& paths) { m_historyAtStart = paths; }
    HistoryWindow* historyWindow() const { return m_history; }

    SensorLink& link() { return *m_link; }
    const PortSelection& ports() const { return m_ports; }
    CalibrationMenu& calibration() { return *m_calibration; }
    RecordingMenu& recording() { return *m_recording; }
    AlarmMenu& alarms() { return *m_alarms; }
    TrendChart* trendChart() const { return m_trend; }

    // Shows captions still waiting for the next screen refresh.
    void flushDisplay();
    // 20 refreshes a second, as the chart: faster than anyone reads a
    // changing number, and each refresh lays out and paints six labels.
    static constexpr int DisplayRefreshMs = 50;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void applyPortChoice(const PortChoice& choice);
    void showReading(const Reading& reading);
    void setCaption(QLabel* label, const QString& text);
    QString fitted(QLabel* label, const QString& text, double value) const;
    void layOut(const Calibration& calibration);
    void message(const QString& text, Prompter::Icon icon);
    void showAlarm(bool pitch, bool roll);
    int tw(int twips) const; // twips to pixels at the screen's logical dpi

    Prompter& m_prompter;
    AppPaths m_paths;
    SensorLink* m_link = nullptr;
    CalibrationMenu* m_calibration = nullptr;
    RecordingMenu* m_recording = nullptr;
    AlarmMenu* m_alarms = nullptr;
    PendingPortValues m_pendingPort;
    PortSelection m_ports;
    QPointer<PortDialog> m_portDialog;
    QPointer<ModelDialog> m_modelDialog;
    QPointer<TrendChart> m_trend;
    QPointer<HistoryWindow> m_history;
    QStringList m_historyAtStart; // --history: these instead of the start-up chain
    std::optional<Reading> m_pitchNow; // for a chart opened later
    std::optional<Reading> m_rollNow;
    QHash<QLabel*, QString> m_pendingCaptions;
    QTimer* m_displayRefresh = nullptr;
    std::function<void()> m_quit;

    // The controls; their object names are the ones operators and their
    // tools know (KVDLOGO, Label4(0), Lbl7PITCH, Ldebug...).
    QLabel* m_makerLogo = nullptr;
    QLabel* m_makerName = nullptr;
    QLabel* m_productTitle = nullptr;
    QRadioButton* m_angleDisplay = nullptr;
    QRadioButton* m_rawDisplay = nullptr;
    QLabel* m_rowTitle[2] = {nullptr, nullptr}; // pitch (or the thickness unit), roll
    QLabel* m_temperatureTitle = nullptr;
    QLabel* m_pitchValue = nullptr;
    QLabel* m_rollValue = nullptr;
    QLabel* m_temperatureValue = nullptr;
    QLabel* m_pitchCount = nullptr;
    QLabel* m_rollCount = nullptr;
    QLabel* m_temperatureCount = nullptr;
    QPushButton* m_start = nullptr;
    QLabel* m_status = nullptr;

    QMenu* m_unitMenu = nullptr;
};
