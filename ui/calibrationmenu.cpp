// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/calibrationmenu.h"

#include "core/coeffile.h"
#include "core/numberformat.h"
#include "link/sensorlink.h"

#include <QAction>
#include <QActionGroup>

CalibrationMenu::CalibrationMenu(Prompter& prompter, QStringList coefficientDirs, SensorLink& link, QObject* parent)
    : QObject(parent), m_prompter(prompter), m_coefficientDirs(std::move(coefficientDirs)), m_link(link)
{
    setObjectName(QStringLiteral("CalibrationMenu"));
    auto item = [this](const char* name, const QString& text, bool checkable, void (CalibrationMenu::*handler)()) {
        auto* a = new QAction(text, this);
        a->setObjectName(QString::fromLatin1(name));
        a->setCheckable(checkable);
        if (handler)
            connect(a, &QAction::triggered, this, handler);
        return a;
    };
    m_modelZ1 = item("MZ1", QStringLiteral("VELTRAK_Z1"), true, &CalibrationMenu::chooseZ1);
    m_modelZ2 = item("MZ2", QStringLiteral("VELTRAK_Z2"), true, &CalibrationMenu::chooseZ2);
    m_modelZ3 = item("MZ3", QStringLiteral("VELTRAK_Z3"), true, &CalibrationMenu::chooseZ3);
    m_dualCompensation = item("DualComp", QStringLiteral("Dual compensation"), false, nullptr);
    m_modelRaw = item("MZ4", QStringLiteral("Raw data - 2048"), true, &CalibrationMenu::chooseRaw);
    m_custom = item("MnuCustom", QStringLiteral("Custom"), true, &CalibrationMenu::loadCustom);
    m_thickness = item("MnuThickness", QStringLiteral("Thickness"), true, &CalibrationMenu::toggleThickness);
    m_showEquation = item("MnuShow", QStringLiteral("Coefficients"), false, &CalibrationMenu::showEquation);
    m_unitMm = item("Mnumm", QStringLiteral("mm"), true, &CalibrationMenu::showMillimetres);
    m_unitDegrees = item("Mnudegrees", QStringLiteral("degrees"), true, &CalibrationMenu::showDegrees);
    m_unitInch = item("MnuInch", QStringLiteral("in"), true, &CalibrationMenu::showInches);
    m_zero = item("MnuZero", QStringLiteral("Zero"), false, &CalibrationMenu::setZero);
    m_trueZero = item("MnuTrueZero", QStringLiteral("True Zero"), false, &CalibrationMenu::setTrueZero);

    // At most one model carries the mark; none before the first choice.
    m_models = new QActionGroup(this);
    m_models->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction* a : {m_modelZ1, m_modelZ2, m_modelZ3, m_modelRaw, m_custom, m_thickness})
        m_models->addAction(a);
    auto* units = new QActionGroup(this);
    for (QAction* a : {m_unitMm, m_unitDegrees, m_unitInch})
        units->addAction(a);
    m_unitMm->setChecked(true);
    m_zero->setEnabled(false);
    m_link.setCalibration(m_cal);
}

QList<QAction*> CalibrationMenu::modelActions() const
{
    return {m_modelZ1, m_modelZ2, m_modelZ3, m_dualCompensation, m_modelRaw, m_custom, m_thickness, m_showEquation};
}

QList<QAction*> CalibrationMenu::unitActions() const
{
    return {m_unitMm, m_unitDegrees, m_unitInch};
}

void CalibrationMenu::choose(Choice choice)
{
    switch (choice) {
    case Choice::Z1:
        return chooseZ1();
    case Choice::Z2:
        return chooseZ2();
    case Choice::Z3:
        return chooseZ3();
    case Choice::Raw:
        return chooseRaw();
    case Choice::Custom:
        return loadCustom();
    case Choice::Thickness:
        return toggleThickness();
    }
}

void CalibrationMenu::publish()
{
    m_link.setCalibration(m_cal);
    m_link.setModelChosen(m_modelChosen);
    m_zero->setEnabled(m_cal.thickness);
    emit calibrationChanged(m_cal);
    emit modelChosenChanged(m_modelChosen);
}

void CalibrationMenu::message(const QString& text)
{
    m_prompter.message(text, Prompter::Icon::None, AppTitle);
}

void CalibrationMenu::setModelMark(QAction* item)
{
    if (item)
        item->setChecked(true);
    else if (QAction* checked = m_models->checkedAction())
        checked->setChecked(false);
    m_modelMark = item;
}

void CalibrationMenu::applyPreset(Model model, QAction* item)
{
    setModelMark(item);
    m_cal.coefficients = presetFor(model);
    m_cal.counts = model == Model::Raw;
    m_cal.thickness = false;
    m_modelChosen = true;
    publish();
}

void CalibrationMenu::chooseZ1()
{
    applyPreset(Model::Z1, m_modelZ1);
}
void CalibrationMenu::chooseZ2()
{
    applyPreset(Model::Z2, m_modelZ2);
}
void CalibrationMenu::chooseZ3()
{
    applyPreset(Model::Z3, m_modelZ3);
}
void CalibrationMenu::chooseRaw()
{
    applyPreset(Model::Raw, m_modelRaw);
}

void CalibrationMenu::loadCustom()
{
    // A load is all or nothing: until a complete, valid set is read, the
    // coefficients and the model marks stay what they were, so readings
    // never go through a calibration nobody chose.
    QAction* const before = m_modelMark;
    setModelMark(before); // undo the check mark the click itself toggled

    message(QStringLiteral("Reading coefficients from file 'KVDcoef.txt' "));
    const auto result = coeffile::loadFirst(m_coefficientDirs);
    if (const auto* error = std::get_if<coeffile::LoadError>(&result)) {
        setModelMark(m_modelMark);
        emit customLoadFailed();
        if (error->failure == coeffile::Failure::Open)
            message(QStringLiteral(
                "The file 'KVDcoef.txt' does not exist in the application directory Please create file"));
        else
            message(QStringLiteral("The file 'KVDcoef.txt' Has the wrong format"));
        return;
    }
    setModelMark(m_custom);
    m_cal.coefficients = std::get<Coefficients>(result);
    m_cal.counts = false;
    m_cal.thickness = false; // the value is an angle again
    m_modelChosen = true;
    publish();
}

void CalibrationMenu::showEquation()
{
    const Coefficients& k = m_cal.coefficients;
    message(QStringLiteral(" Equation \r\n") + numfmt::plainDecimal(k.x3) + QStringLiteral(" * X^3 + ")
        + numfmt::plainDecimal(k.x2) + QStringLiteral(" * X^2 + ") + numfmt::plainDecimal(k.x1)
        + QStringLiteral(" * X "));
}

void CalibrationMenu::toggleThickness()
{
    setModelMark(m_thickness);
    m_cal.thickness = true;
    publish();
}

void CalibrationMenu::setUnit(conversion::ThicknessUnit unit, QAction* item)
{
    item->setChecked(true);
    m_cal.unit = unit;
    publish();
}

void CalibrationMenu::showMillimetres()
{
    setUnit(conversion::ThicknessUnit::Millimetres, m_unitMm);
}
void CalibrationMenu::showDegrees()
{
    setUnit(conversion::ThicknessUnit::Degrees, m_unitDegrees);
}
void CalibrationMenu::showInches()
{
    setUnit(conversion::ThicknessUnit::Inches, m_unitInch);
}

void CalibrationMenu::setZero()
{
    m_cal.zeroReference = m_link.lastPitchCentred();
    publish();
}

void CalibrationMenu::setTrueZero()
{
    m_cal.zeroReference = Calibration::TrueZero;
    publish();
}
