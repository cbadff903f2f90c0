#pragma once

#include "core/prompter.h"

// Message and input boxes on screen.
class QtPrompter : public Prompter {
public:
    void message(const QString& text, Icon icon, const QString& title) override;
    std::optional<QString> askText(const QString& prompt, const QString& title) override;
};
