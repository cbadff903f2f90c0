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
    MZ1 = item("MZ1", QStringLiteral("VELTRAK_Z1"), true, &CalibrationMenu::MZ1_Click);
    MZ2 = item("MZ2", QStringLiteral("VELTRAK_Z2"), true, &CalibrationMenu::MZ2_Click);
    MZ3 = item("MZ3", QStringLiteral("VELTRAK_Z3"), true, &CalibrationMenu::MZ3_Click);
    DualComp = item("DualComp", QStringLiteral("Dual compensation"), false, nullptr);
    MZ4 = item("MZ4", QStringLiteral("Raw data - 2048"), true, &CalibrationMenu::MZ4_Click);
    MnuCustom = item("MnuCustom", QStringLiteral("Custom"), true, &CalibrationMenu::MnuCustom_Click);
    MnuThickness = item("MnuThickness", QStringLiteral("Thickness"), true, &CalibrationMenu::MnuThickness_Click);
    MnuShow = item("MnuShow", QStringLiteral("Coefficients"), false, &CalibrationMenu::MnuShow_Click);
    Mnumm = item("Mnumm", QStringLiteral("mm"), true, &CalibrationMenu::Mnumm_Click);
    Mnudegrees = item("Mnudegrees", QStringLiteral("degrees"), true, &CalibrationMenu::Mnudegrees_Click);
    MnuInch = item("MnuInch", QStringLiteral("in"), true, &CalibrationMenu::MnuInch_Click);
    MnuZero = item("MnuZero", QStringLiteral("Zero"), false, &CalibrationMenu::MnuZero_Click);
    MnuTrueZero = item("MnuTrueZero", QStringLiteral("True Zero"), false, &CalibrationMenu::MnuTrueZero_Click);

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
        return MZ1_Click();
    case Choice::Z2:
        return MZ2_Click();
    case Choice::Z3:
        return MZ3_Click();
    case Choice::Raw:
        return MZ4_Click();
    case Choice::Custom:
        return MnuCustom_Click();
    case Choice::Thickness:
        return MnuThickness_Click();
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
    if (!m_ended)
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

void CalibrationMenu::MZ1_Click()
{
    applyPreset(Model::Z1, MZ1);
}
void CalibrationMenu::MZ2_Click()
{
    applyPreset(Model::Z2, MZ2);
}
void CalibrationMenu::MZ3_Click()
{
    applyPreset(Model::Z3, MZ3);
}
void CalibrationMenu::MZ4_Click()
{
    applyPreset(Model::Raw, MZ4);
}

void CalibrationMenu::MnuCustom_Click()
{
    // A load is all or nothing: until a complete, valid set is read, the
    // coefficients and the model marks stay what they were, so readings
    // never go through a calibration nobody chose.
    QAction* const before = m_modelMark;
    setModelMark(before); // undo the check mark the click itself toggled

    message(QStringLiteral("Reading coefficients from file 'KVDcoef.txt' "));
    if (m_ended)
        return;
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

void CalibrationMenu::MnuShow_Click()
{
    const Coefficients& k = m_cal.coefficients;
    message(QStringLiteral(" Equation \r\n") + numfmt::plainDecimal(k.x3) + QStringLiteral(" * X^3 + ")
        + numfmt::plainDecimal(k.x2) + QStringLiteral(" * X^2 + ") + numfmt::plainDecimal(k.x1)
        + QStringLiteral(" * X "));
}

void CalibrationMenu::MnuThickness_Click()
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

void CalibrationMenu::Mnumm_Click()
{
    setUnit(conversion::ThicknessUnit::Millimetres, Mnumm);
}
void CalibrationMenu::Mnudegrees_Click()
{
    setUnit(conversion::ThicknessUnit::Degrees, Mnudegrees);
}
void CalibrationMenu::MnuInch_Click()
{
    setUnit(conversion::ThicknessUnit::Inches, MnuInch);
}

void CalibrationMenu::MnuZero_Click()
{
    m_cal.ZeroReference = m_link.lastPitchCentred();
    publish();
}

void CalibrationMenu::MnuTrueZero_Click()
{
    m_cal.ZeroReference = Calibration::TrueZero;
    publish();
}
