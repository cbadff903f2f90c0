#pragma once

#include "ui/calibrationmenu.h"

#include <QDialog>

class QRadioButton;

// The model selection dialog: each option reports its choice at once (the
// calibration menu applies it); OK (and the frame's close button) closes it
// and reports dismissed.
class Options : public QDialog {
    Q_OBJECT
public:
    explicit Options(QWidget* parent);

    void Okbutton_Click();
    void reject() override { Okbutton_Click(); }
    // After a failed custom load no option may stay selected for "Custom".
    void clearCustom();

signals:
    void chosen(CalibrationMenu::Choice choice);
    void dismissed();

private:
    QRadioButton* m_custom = nullptr;
};
