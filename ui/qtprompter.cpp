// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/qtprompter.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace {
QWidget* dialogParent()
{
    QWidget* w = QApplication::activeWindow();
    return (w && w->isVisible()) ? w : nullptr;
}
} // namespace

int QtPrompter::run(QDialog& box)
{
    m_open.append(&box);
    const int result = box.exec();
    m_open.removeAll(&box);
    return result;
}

void QtPrompter::dismissOpen()
{
    for (const QPointer<QDialog>& box : std::as_const(m_open))
        if (box)
            box->reject();
}

void QtPrompter::show(const QString& text, Icon icon, const QString& title)
{
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    switch (icon) {
    case Icon::None:
        break;
    case Icon::Critical:
        boxIcon = QMessageBox::Critical;
        break;
    case Icon::Warning:
        boxIcon = QMessageBox::Warning;
        break;
    case Icon::Information:
        boxIcon = QMessageBox::Information;
        break;
    }
    QMessageBox box(boxIcon, title, text, QMessageBox::Ok, dialogParent());
    box.setObjectName(QStringLiteral("MessageBox"));
    run(box);
}

std::optional<QString> QtPrompter::ask(const QString& prompt, const QString& title)
{
    QInputDialog dialog(dialogParent());
    dialog.setObjectName(QStringLiteral("InputBox"));
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(QString());
    dialog.setInputMode(QInputDialog::TextInput);
    if (run(dialog) != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}
