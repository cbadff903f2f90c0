// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/lineformat.h"
#include "core/portmap.h"
#include "link/portlist.h"

#include <QDialog>
#include <QMap>

#include <optional>

class QButtonGroup;
class QComboBox;
class QLabel;
class QRadioButton;
class QPushButton;
class QTimer;

// The port dialog's pending values: each is recorded when its choice is
// selected, by the operator or by the dialog as it opens, and they outlive
// the dialog. A field of the line format nobody selected stays empty.
struct PendingPortValues {
    int port = 0;
    std::optional<int> baud;
    std::optional<QChar> parity;
    std::optional<int> dataBits;
    std::optional<QString> stopBits;
    FlowControl flow = FlowControl::None;

    // The line format made of them, if every field was selected.
    std::optional<LineFormat> lineFormat() const;
};

// What OK hands to the window: the port number, the device it stands for
// and the line format (empty when a field was never selected).
struct PortChoice {
    int number = 0;
    QString device;
    std::optional<LineFormat> format;
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
// procedure from the line's current format. OK reports portChosen; the
// window opens the line and either leaves the dialog open with the failure
// shown, or calls finish(), which keeps the choice for the next run and
// reports portConfirmed (the model dialog comes next). Cancel (also Esc and
// the frame's close button) reports cancelled.
class PortDialog : public QDialog {
    Q_OBJECT
public:
    PortDialog(PortSelection& selection, PendingPortValues& pending, QWidget* parent);

    // Shows the dialog and selects what the line's current format offers.
    void openDialog(const LineFormat& current);
    void confirm();
    void dismiss();
    // The window took the choice: it holds for this run and the next ones.
    void keepChoices();
    void finish();

    void reject() override { dismiss(); }

    // Looks for serial devices again; while the dialog is shown this runs
    // every PollMs.
    void refreshDevices();
    static constexpr int PollMs = 1000;

signals:
    void portChosen(const PortChoice& choice);
    void portConfirmed();
    void cancelled();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int tw(int twips) const;
    bool present(int number) const;
    int preselect(int number);
    void showDeviceOf(int number);
    void deviceEdited(const QString& text);
    void showPortLabel(int number);

    PortSelection& m_selection;
    PendingPortValues& m_pending;
    QRadioButton* m_comPort[5] = {nullptr, nullptr, nullptr, nullptr, nullptr}; // index = port number
    QLabel* m_comDevice[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
    QButtonGroup* m_portGroup = nullptr;
    QComboBox* m_device = nullptr;
    QLabel* m_deviceInfo = nullptr;
    QLabel* m_note = nullptr;
    QTimer* m_poll = nullptr;
    QList<SerialDevice> m_found;
    QMap<int, QString> m_devices; // what each number stands for, as edited here
    // The single choice of each hidden frame of the line format.
    QRadioButton* m_baud19200 = nullptr;
    QRadioButton* m_noParity = nullptr;
    QRadioButton* m_dataBits8 = nullptr;
    QRadioButton* m_stopBits1 = nullptr;
    QRadioButton* m_noFlowControl = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};
