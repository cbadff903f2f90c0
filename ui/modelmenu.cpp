// The "Option" menu: model presets, custom coefficients, the equation
// display and thickness mode.
#include "ui/form1.h"
#include "core/numberformat.h"
#include "core/coeffile.h"
#include "ui/options.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

void Form1::setModelMark(QAction* item)
{
    for (QAction* a : {MZ1, MZ2, MZ3, MZ4, MnuCustom, MnuThickness})
        a->setChecked(a == item);
    m_modelMark = item;
}

void Form1::ResetAngleDisplay()
{
    for (QWidget* w : std::initializer_list<QWidget*> {
             Label4[1], Label2, Opt1, Option2, Lbl6TEMP, Lbl7PITCH, Lbl8ROLL, LabelTemperature, LabelRoll})
        w->setVisible(true);
    Label4[0]->setText(QStringLiteral("PITCH"));
    setUnitMenusEnabled(false);
}

void Form1::applyPreset(Model model, QAction* item)
{
    ResetAngleDisplay();
    setModelMark(item);
    const Coefficients c = presetFor(model);
    m_state.CoefX1 = c.x1;
    m_state.CoefX2 = c.x2;
    m_state.CoefX3 = c.x3;
    Start->setEnabled(true);
}

void Form1::MZ1_Click()
{
    applyPreset(Model::Z1, MZ1);
}
void Form1::MZ2_Click()
{
    applyPreset(Model::Z2, MZ2);
}
void Form1::MZ3_Click()
{
    applyPreset(Model::Z3, MZ3);
}
void Form1::MZ4_Click()
{
    applyPreset(Model::Raw, MZ4);
}

void Form1::MnuCustom_Click()
{
    // A load is all or nothing: until a complete, valid set is read, the
    // coefficients and the model marks stay what they were, so readings
    // never go through a calibration nobody chose.
    QAction* const before = m_modelMark;
    setModelMark(before); // undo the check mark the click itself toggled
    const bool thicknessWasOn = before == MnuThickness;

    message(QStringLiteral("Reading coefficients from file 'KVDcoef.txt' "), Prompter::Icon::None);
    if (m_ended)
        return;
    const auto result = coeffile::load(m_paths.coefficientDir());
    if (const auto* error = std::get_if<coeffile::LoadError>(&result)) {
        setModelMark(before);
        if (m_options)
            m_options->clearCustom();
        if (error->failure == coeffile::Failure::Open)
            message(
                QStringLiteral("The file 'KVDcoef.txt' does not exist in the application directory Please create file"),
                Prompter::Icon::None);
        else
            message(QStringLiteral("The file 'KVDcoef.txt' Has the wrong format"), Prompter::Icon::None);
        return;
    }
    const Coefficients c = std::get<Coefficients>(result);
    if (thicknessWasOn)
        ResetAngleDisplay(); // the value is an angle again: show the angle layout
    setModelMark(MnuCustom);
    m_state.CoefX1 = c.x1;
    m_state.CoefX2 = c.x2;
    m_state.CoefX3 = c.x3;
    Start->setEnabled(true);
}

void Form1::MnuShow_Click()
{
    const QString text = QStringLiteral(" Equation \r\n") + numfmt::plainDecimal(m_state.CoefX3)
        + QStringLiteral(" * X^3 + ") + numfmt::plainDecimal(m_state.CoefX2) + QStringLiteral(" * X^2 + ")
        + numfmt::plainDecimal(m_state.CoefX1) + QStringLiteral(" * X ");
    message(text, Prompter::Icon::None);
}

conversion::ThicknessUnit Form1::checkedUnit() const
{
    if (Mnudegrees->isChecked())
        return conversion::ThicknessUnit::Degrees;
    if (MnuInch->isChecked())
        return conversion::ThicknessUnit::Inches;
    return conversion::ThicknessUnit::Millimetres;
}

QString Form1::unitTitle() const
{
    switch (checkedUnit()) {
    case conversion::ThicknessUnit::Degrees:
        return QStringLiteral("Angle(Deg)");
    case conversion::ThicknessUnit::Inches:
        return QStringLiteral("Thickness(in)");
    case conversion::ThicknessUnit::Millimetres:
        break;
    }
    return QStringLiteral("Thickness(mm)");
}

void Form1::MnuThickness_Click()
{
    setModelMark(MnuThickness);
    // The title names the unit the value is computed in.
    Label4[0]->setText(unitTitle());
    for (QWidget* w : std::initializer_list<QWidget*> {
             Label4[1], Label2, Opt1, Option2, Lbl6TEMP, Lbl7PITCH, Lbl8ROLL, LabelTemperature})
        w->setVisible(false);
    setUnitMenusEnabled(true);
    LabelRoll->setVisible(false);
}
