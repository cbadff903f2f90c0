#include "fakeprompter.h"

void FakePrompter::message(const QString& text, Icon icon, const QString& title)
{
    messages.append({text, icon, title});
    if (whileOpen)
        whileOpen(messages.last());
}

std::optional<QString> FakePrompter::askText(const QString& prompt, const QString& title)
{
    prompts.append(prompt + QLatin1Char('|') + title);
    if (answers.isEmpty())
        return std::nullopt;
    return answers.takeFirst();
}

QStringList FakePrompter::texts() const
{
    QStringList r;
    for (const Shown& s : messages)
        r << s.text;
    return r;
}

int FakePrompter::count(const QString& text) const
{
    int n = 0;
    for (const Shown& s : messages)
        n += s.text == text ? 1 : 0;
    return n;
}
