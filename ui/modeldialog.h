// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/calibrationmenu.h"

#include <QDialog>

class QRadioButton;

// The model selection dialog: each option reports its choice at once (the
// calibration menu applies it); OK (and the frame's close button) closes it
// and reports dismissed.
class ModelDialog : public QDialog {
    Q_OBJECT
public:
    explicit ModelDialog(QWidget* parent);

    void confirm();
    void reject() override { confirm(); }
    // After a failed custom load no option may stay selected for "Custom".
    void clearCustom();

signals:
    void chosen(CalibrationMenu::Choice choice);
    void dismissed();

private:
    QRadioButton* m_custom = nullptr;
};
