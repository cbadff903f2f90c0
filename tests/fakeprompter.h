#pragma once

#include "core/prompter.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// Answers the program's modal questions from a script and records what was
// asked, so tests never block on a box.
class FakePrompter : public Prompter {
public:
    struct Shown {
        QString text;
        Icon icon;
        QString title;
    };
    QList<Shown> messages;
    QList<QString> prompts;
    QList<std::optional<QString>> answers; // for askText, in order; none left = Cancel
    // Runs while a message "is open", to act as other events would then.
    std::function<void(const Shown&)> whileOpen;

    void message(const QString& text, Icon icon, const QString& title) override;
    std::optional<QString> askText(const QString& prompt, const QString& title) override;

    QStringList texts() const;
    int count(const QString& text) const;
};
