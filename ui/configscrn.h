#pragma once

#include <QDialog>

class Form1;
class QRadioButton;
class QPushButton;

// The port settings dialog: the operator picks the port number 1 to 4; the
// line format and flow control have a single choice each, made by the
// dialog's own opening procedure. OK configures and opens the port and hands
// over to the model dialog; Cancel (also Esc and the frame's close button)
// shows the main window.
class ConfigScrn : public QDialog {
    Q_OBJECT
public:
    explicit ConfigScrn(Form1& form);

    void openDialog(); // show + the opening procedure
    void OKButton_Click();
    void CancelButton_Click();

    void reject() override { CancelButton_Click(); }

private:
    int tw(int twips) const;
    void failOk(const QString& text);

    Form1& m_form;
    QRadioButton* m_comPort[5] = {nullptr, nullptr, nullptr, nullptr, nullptr}; // index = port number
    QRadioButton* baud192 = nullptr;
    QRadioButton* NoParity = nullptr;
    QRadioButton* Data8 = nullptr;
    QRadioButton* Stop1 = nullptr;
    QRadioButton* NoFlow = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
};
