#pragma once

#include <QString>

#include <optional>

// Every modal question of the program goes through this, so that tests can
// answer without blocking. The program's implementation uses QMessageBox and
// QInputDialog; both run a nested event loop, so polling and recording go on
// while a box is open.
class Prompter {
public:
    enum class Icon { None, Critical, Warning, Information };

    virtual ~Prompter() = default;
    // A box with a single OK button; returns when the operator closes it.
    virtual void message(const QString& text, Icon icon, const QString& title) = 0;
    // An input box; std::nullopt on Cancel.
    virtual std::optional<QString> askText(const QString& prompt, const QString& title) = 0;
};

inline const QString AppTitle = QStringLiteral("VELTRAK");
