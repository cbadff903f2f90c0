// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/modeldialog.h"

#include "ui/artwork.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

ModelDialog::ModelDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Options"));
    setWindowTitle(QStringLiteral("Selection of Veltrak"));
    if (parent)
        setWindowIcon(parent->windowIcon());
    artwork::setBackground(this, QColor(128, 255, 255));
    const QWidget* screenOf = parent ? parent : this;
    auto tw = [screenOf](int twips) { return artwork::twipsToPixels(screenOf, twips); };
    setFixedSize(tw(4935), tw(3810));

    auto* label1 = new QLabel(QStringLiteral("Select  your Veltrak option"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setFont(artwork::msSansSerif(12, true));
    label1->setGeometry(tw(840), tw(120), tw(2652), tw(372));

    using C = CalibrationMenu::Choice;
    struct Option {
        const char* name;
        QString caption;
        int left, top, width, height;
        C choice;
    };
    const Option choices[] = {
        {"Option1", QStringLiteral("Veltrak Z1"), 600, 720, 2052, 372, C::Z1},
        {"Option2", QStringLiteral("Veltrak Z2"), 600, 1200, 1932, 252, C::Z2},
        {"Option3", QStringLiteral("Raw data - 2048"), 600, 2040, 1815, 372, C::Raw},
        {"Option4", QStringLiteral("Veltrak Z3"), 600, 1560, 1932, 372, C::Z3},
        {"Custom", QStringLiteral("Custom"), 600, 2520, 1815, 255, C::Custom},
        {"Thickness", QStringLiteral("Thickness measurements"), 600, 2880, 2175, 255, C::Thickness},
    };
    QRadioButton* buttons[6] = {};
    int i = 0;
    for (const Option& c : choices) {
        auto* b = new QRadioButton(c.caption, this);
        b->setObjectName(QString::fromLatin1(c.name));
        b->setGeometry(tw(c.left), tw(c.top), tw(c.width), tw(c.height));
        connect(b, &QRadioButton::clicked, this, [this, choice = c.choice] { emit chosen(choice); });
        buttons[i++] = b;
    }
    m_custom = buttons[4];

    artwork::growToFit(this);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Okbutton"));
    ok->setGeometry(tw(2760), tw(960), tw(1092), tw(372));
    connect(ok, &QPushButton::clicked, this, &ModelDialog::confirm);

    // Tab order follows the original tab indexes: Z1, Z2, Raw, (label), OK,
    // Z3, Custom, Thickness.
    QWidget* order[] = {buttons[0], buttons[1], buttons[2], ok, buttons[3], buttons[4], buttons[5]};
    for (int k = 0; k + 1 < int(std::size(order)); ++k)
        setTabOrder(order[k], order[k + 1]);
}

void ModelDialog::clearCustom()
{
    m_custom->setAutoExclusive(false);
    m_custom->setChecked(false);
    m_custom->setAutoExclusive(true);
}

void ModelDialog::confirm()
{
    hide();
    deleteLater();
    emit dismissed();
}
