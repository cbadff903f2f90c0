// SPDX-License-Identifier: GPL-3.0-or-later
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
    void message(const QString& text, Icon icon, const QString& title)
    {
        if (!m_closed)
            show(text, icon, title);
    }
    // An input box; std::nullopt on Cancel.
    std::optional<QString> askText(const QString& prompt, const QString& title)
    {
        return m_closed ? std::nullopt : ask(prompt, title);
    }
    // Shutdown: open boxes are dismissed (a question as if cancelled) and
    // nothing is shown or asked any more, so a handler that was waiting on
    // a box runs to its end without a further box in the way.
    void close()
    {
        m_closed = true;
        dismissOpen();
    }
    bool closed() const { return m_closed; }

protected:
    virtual void show(const QString& text, Icon icon, const QString& title) = 0;
    virtual std::optional<QString> ask(const QString& prompt, const QString& title) = 0;
    virtual void dismissOpen() { }

private:
    bool m_closed = false;
};

inline const QString AppTitle = QStringLiteral("VELTRAK");
