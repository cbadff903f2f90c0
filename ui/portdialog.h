#pragma once

#include "core/portmap.h"
#include "core/prompter.h"

#include <QDialog>

class QRadioButton;
class QPushButton;
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
// 4, each mapped to a device (Com1 is /dev/ttyS0 unless --port says
// otherwise). The line itself only knows the device.
struct PortSelection {
    PortMap map;
    int number = 4;
};

// The port settings dialog: the operator picks the port number 1 to 4; the
// line format and flow control have a single choice each, made by the
// dialog's own opening procedure. OK configures and opens the port and
// reports portConfirmed (the model dialog comes next); Cancel (also Esc and
// the frame's close button) reports cancelled.
class PortDialog : public QDialog {
    Q_OBJECT
public:
    PortDialog(
        SerialPortComponent& port, PortSelection& selection, PortChoice& pending, Prompter& prompter, QWidget* parent);

    void openDialog(); // show + the opening procedure
    void confirm();
    void dismiss();

    void reject() override { dismiss(); }

signals:
    void portConfirmed();
    void cancelled();

private:
    int tw(int twips) const;
    void failOk(const QString& text);

    SerialPortComponent& m_port;
    PortSelection& m_selection;
    PortChoice& m_pending;
    Prompter& m_prompter;
    QRadioButton* m_comPort[5] = {nullptr, nullptr, nullptr, nullptr, nullptr}; // index = port number
    QRadioButton* baud192 = nullptr;
    QRadioButton* NoParity = nullptr;
    QRadioButton* Data8 = nullptr;
    QRadioButton* Stop1 = nullptr;
    QRadioButton* NoFlow = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
};
