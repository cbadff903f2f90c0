// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/prompter.h"

#include <QList>
#include <QStringList>

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
    QStringList prompts; // "prompt|title"
    QList<std::optional<QString>> answers; // for askText, in order; none left = Cancel
    // Runs while a message "is open", to act as other events would then.
    std::function<void(const Shown&)> whileOpen;
    QStringList texts() const
    {
        QStringList r;
        for (const Shown& s : messages)
            r << s.text;
        return r;
    }

protected:
    void show(const QString& text, Icon icon, const QString& title) override
    {
        messages.append({text, icon, title});
        if (whileOpen)
            whileOpen(messages.last());
    }
    std::optional<QString> ask(const QString& prompt, const QString& title) override
    {
        prompts.append(prompt + QLatin1Char('|') + title);
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }
};
