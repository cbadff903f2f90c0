// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/calibration.h"
#include "core/prompter.h"

#include <QList>
#include <QObject>
#include <QStringList>

class QAction;
class QActionGroup;
class SensorLink;

// The model and calibration menus: presets, Custom, Coefficients, Thickness,
// the thickness units, Zero and True Zero. It owns those actions and the one
// calibration value, and hands every change to the sensor link; the window
// only places the actions and lays out its labels from calibrationChanged.
class CalibrationMenu : public QObject {
    Q_OBJECT
public:
    // What the model dialog offers.
    enum class Choice { Z1, Z2, Z3, Raw, Custom, Thickness };

    CalibrationMenu(Prompter& prompter, QStringList coefficientDirs, SensorLink& link, QObject* parent = nullptr);

    // In menu order (object names): MZ1, MZ2, MZ3, DualComp, MZ4, MnuCustom, MnuThickness, MnuShow.
    QList<QAction*> modelActions() const;
    // Mnumm, Mnudegrees, MnuInch.
    QList<QAction*> unitActions() const;
    QAction* zeroAction() const { return m_zero; }
    QAction* trueZeroAction() const { return m_trueZero; }

    const Calibration& calibration() const { return m_cal; }
    bool modelChosen() const { return m_modelChosen; }
    void choose(Choice choice);

    void chooseZ1();
    void chooseZ2();
    void chooseZ3();
    void chooseRaw();
    void loadCustom();
    void toggleThickness();
    void showEquation();
    void showMillimetres();
    void showDegrees();
    void showInches();
    void setZero();
    void setTrueZero();

signals:
    void calibrationChanged(const Calibration& calibration);
    void modelChosenChanged(bool chosen);
    void customLoadFailed(); // no option may stay selected for "Custom"

private:
    void applyPreset(Model model, QAction* item);
    void setUnit(conversion::ThicknessUnit unit, QAction* item);
    void setModelMark(QAction* item);
    void publish();
    void message(const QString& text);

    Prompter& m_prompter;
    QStringList m_coefficientDirs;
    SensorLink& m_link;
    Calibration m_cal;
    bool m_modelChosen = false;
    QAction* m_modelMark = nullptr; // the model item the last operation checked
    QActionGroup* m_models = nullptr;

    QAction* m_modelZ1 = nullptr;
    QAction* m_modelZ2 = nullptr;
    QAction* m_modelZ3 = nullptr;
    QAction* m_dualCompensation = nullptr;
    QAction* m_modelRaw = nullptr;
    QAction* m_custom = nullptr;
    QAction* m_thickness = nullptr;
    QAction* m_showEquation = nullptr;
    QAction* m_unitMm = nullptr;
    QAction* m_unitDegrees = nullptr;
    QAction* m_unitInch = nullptr;
    QAction* m_zero = nullptr;
    QAction* m_trueZero = nullptr;
};
