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
    MZ1 = item("MZ1", QStringLiteral("VELTRAK_Z1"), true, &CalibrationMenu::chooseZ1);
    MZ2 = item("MZ2", QStringLiteral("VELTRAK_Z2"), true, &CalibrationMenu::chooseZ2);
    MZ3 = item("MZ3", QStringLiteral("VELTRAK_Z3"), true, &CalibrationMenu::chooseZ3);
    DualComp = item("DualComp", QStringLiteral("Dual compensation"), false, nullptr);
    MZ4 = item("MZ4", QStringLiteral("Raw data - 2048"), true, &CalibrationMenu::chooseRaw);
    MnuCustom = item("MnuCustom", QStringLiteral("Custom"), true, &CalibrationMenu::loadCustom);
    MnuThickness = item("MnuThickness", QStringLiteral("Thickness"), true, &CalibrationMenu::toggleThickness);
    MnuShow = item("MnuShow", QStringLiteral("Coefficients"), false, &CalibrationMenu::showEquation);
    Mnumm = item("Mnumm", QStringLiteral("mm"), true, &CalibrationMenu::showMillimetres);
    Mnudegrees = item("Mnudegrees", QStringLiteral("degrees"), true, &CalibrationMenu::showDegrees);
    MnuInch = item("MnuInch", QStringLiteral("in"), true, &CalibrationMenu::showInches);
    MnuZero = item("MnuZero", QStringLiteral("Zero"), false, &CalibrationMenu::setZero);
    MnuTrueZero = item("MnuTrueZero", QStringLiteral("True Zero"), false, &CalibrationMenu::setTrueZero);

    // At most one model carries the mark; none before the first choice.
    m_models = new QActionGroup(this);
    m_models->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction* a : {MZ1, MZ2, MZ3, MZ4, MnuCustom, MnuThickness})
        m_models->addAction(a);
    auto* units = new QActionGroup(this);
    for (QAction* a : {Mnumm, Mnudegrees, MnuInch})
        units->addAction(a);
    Mnumm->setChecked(true);
    MnuZero->setEnabled(false);
    m_link.setCalibration(m_cal);
}

QList<QAction*> CalibrationMenu::modelActions() const
{
    return {MZ1, MZ2, MZ3, DualComp, MZ4, MnuCustom, MnuThickness, MnuShow};
}

QList<QAction*> CalibrationMenu::unitActions() const
{
    return {Mnumm, Mnudegrees, MnuInch};
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
    MnuZero->setEnabled(m_cal.thickness);
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
    applyPreset(Model::Z1, MZ1);
}
void CalibrationMenu::chooseZ2()
{
    applyPreset(Model::Z2, MZ2);
}
void CalibrationMenu::chooseZ3()
{
    applyPreset(Model::Z3, MZ3);
}
void CalibrationMenu::chooseRaw()
{
    applyPreset(Model::Raw, MZ4);
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
    setModelMark(MnuCustom);
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
    setModelMark(MnuThickness);
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
    setUnit(conversion::ThicknessUnit::Millimetres, Mnumm);
}
void CalibrationMenu::showDegrees()
{
    setUnit(conversion::ThicknessUnit::Degrees, Mnudegrees);
}
void CalibrationMenu::showInches()
{
    setUnit(conversion::ThicknessUnit::Inches, MnuInch);
}

void CalibrationMenu::setZero()
{
    m_cal.ZeroReference = m_link.lastPitchCentred();
    publish();
}

void CalibrationMenu::setTrueZero()
{
    m_cal.ZeroReference = Calibration::TrueZero;
    publish();
}
