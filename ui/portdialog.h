// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/portmap.h"
#include "core/prompter.h"
#include "link/portlist.h"

#include <QDialog>
#include <QMap>

class QButtonGroup;
class QComboBox;
class QLabel;
class QRadioButton;
class QPushButton;
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

// The window's serial line as its port dialog offers it: a port number 1 to
// 4, each mapped to a device (Com1 is /dev/ttyS0 unless the operator chose
// another or --port says otherwise). The line itself only knows the device.
struct PortSelection {
    PortMap map;
    int number = 4;
    bool remembered = false; // a choice of an earlier run was found
};

// The port settings dialog: the operator picks the port number 1 to 4 and
// the device it stands for, among the serial devices found (the list follows
// plugging while the dialog is open) or typed; the line format and flow
// control have a single choice each, made by the dialog's own opening
// procedure. OK configures and opens the port, keeps the choice for the next
// run and reports portConfirmed (the model dialog comes next); Cancel (also
// Esc and the frame's close button) reports cancelled.
class PortDialog : public QDialog {
    Q_OBJECT
public:
    PortDialog(
        SerialPortComponent& port, PortSelection& selection, PortChoice& pending, Prompter& prompter, QWidget* parent);

    void openDialog(); // show + the opening procedure
    void confirm();
    void dismiss();

    void reject() override { dismiss(); }

    // Looks for serial devices again; while the dialog is shown this runs
    // every PollMs.
    void refreshDevices();
    static constexpr int PollMs = 1000;

signals:
    void portConfirmed();
    void cancelled();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int tw(int twips) const;
    void failOk(const QString& text);
    bool present(int number) const;
    int preselect(int number);
    void showDeviceOf(int number);
    void deviceEdited(const QString& text);
    void showPortLabel(int number);
    void keepChoices();

    SerialPortComponent& m_port;
    PortSelection& m_selection;
    PortChoice& m_pending;
    Prompter& m_prompter;
    QRadioButton* m_comPort[5] = {nullptr, nullptr, nullptr, nullptr, nullptr}; // index = port number
    QLabel* m_comDevice[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
    QButtonGroup* m_portGroup = nullptr;
    QComboBox* m_device = nullptr;
    QLabel* m_deviceInfo = nullptr;
    QLabel* m_note = nullptr;
    QTimer* m_poll = nullptr;
    QList<SerialDevice> m_found;
    QMap<int, QString> m_devices; // what each number stands for, as edited here
    QRadioButton* baud192 = nullptr;
    QRadioButton* NoParity = nullptr;
    QRadioButton* Data8 = nullptr;
    QRadioButton* Stop1 = nullptr;
    QRadioButton* NoFlow = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
};
