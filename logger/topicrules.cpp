// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/topicrules.h"

#include <QStringList>

#include <algorithm>

namespace topicrules {

namespace {
bool isLevelChar(QChar c)
{
    return c != QLatin1Char('+') && c != QLatin1Char('#') && c != QLatin1Char('/') && !c.isSpace()
        && c.category() != QChar::Other_Control;
}
} // namespace

bool isLevel(const QString& level)
{
    return !level.isEmpty() && std::all_of(level.cbegin(), level.cend(), isLevelChar);
}

bool isPrefix(const QString& prefix)
{
    const QStringList levels = prefix.split(QLatin1Char('/'));
    return !prefix.startsWith(QLatin1Char('$')) && std::all_of(levels.cbegin(), levels.cend(), isLevel);
}

QString levelFrom(QString text)
{
    for (QChar& c : text)
        if (!isLevelChar(c))
            c = QLatin1Char('_');
    return text.isEmpty() ? QStringLiteral("_") : text;
}

} // namespace topicrules
