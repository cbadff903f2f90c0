// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/prompter.h"

#include <QDialog>
#include <QList>
#include <QPointer>

// Message and input boxes on screen.
class QtPrompter : public Prompter {
protected:
    void show(const QString& text, Icon icon, const QString& title) override;
    std::optional<QString> ask(const QString& prompt, const QString& title) override;
    void dismissOpen() override;

private:
    int run(QDialog& box);

    QList<QPointer<QDialog>> m_open; // boxes open now, nested ones last
};
