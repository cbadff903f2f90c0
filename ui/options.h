#pragma once

#include <QDialog>

class Form1;
class QRadioButton;
class QPushButton;

// The model selection dialog: each option applies the matching item of the
// main window's "Option" menu at once; OK (and the frame's close button)
// closes it and shows the main window.
class Options : public QDialog {
    Q_OBJECT
public:
    explicit Options(Form1& form);

    void Okbutton_Click();
    void reject() override { Okbutton_Click(); }
    // After a failed custom load no option may stay selected for "Custom".
    void clearCustom();

private:
    Form1& m_form;
    QRadioButton* m_custom = nullptr;
};
