// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/lineformat.h"

#include <QStringList>

QString LineFormat::toText() const
{
    return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(parity).arg(dataBits).arg(stopBits);
}

std::variant<LineFormat, QString> parseLineFormat(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return QStringLiteral("Invalid line format '%1': expected baud,parity,data bits,stop bits").arg(text);
    LineFormat f;
    bool ok = false;
    f.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || f.baud <= 0)
        return QStringLiteral("Invalid baud rate '%1'").arg(parts[0]);
    const QString parity = parts[1].trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity))
        return QStringLiteral("Invalid parity '%1'").arg(parts[1]);
    f.parity = parity.at(0);
    f.dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || f.dataBits < 5 || f.dataBits > 8)
        return QStringLiteral("Invalid data bits '%1'").arg(parts[2]);
    f.stopBits = parts[3].trimmed();
    if (f.stopBits != QLatin1String("1") && f.stopBits != QLatin1String("1.5") && f.stopBits != QLatin1String("2"))
        return QStringLiteral("Invalid stop bits '%1'").arg(parts[3]);
    return f;
}

namespace {
// The leading numeric part of a text, 0 if there is none.
long long leadingNumber(const QString& s)
{
    long long v = 0;
    int i = 0;
    while (i < s.size() && s.at(i) == QLatin1Char(' '))
        ++i;
    bool any = false;
    for (; i < s.size() && s.at(i).isDigit() && v < 1'000'000'000; ++i) {
        v = v * 10 + s.at(i).digitValue();
        any = true;
    }
    return any ? v : 0;
}

QString charAt1(const QString& s, qsizetype pos1)
{
    return (pos1 >= 1 && pos1 <= s.size()) ? s.mid(pos1 - 1, 1) : QString();
}
} // namespace

LineFormatChoices readDialogChoices(const QString& text)
{
    LineFormatChoices r;
    const qsizetype c = text.indexOf(QLatin1Char(',')) + 1; // 1-based; 0 = no comma
    if (c == 0)
        return r;
    r.baud19200 = leadingNumber(text.left(c - 1)) == 19200;
    r.parityNone = charAt1(text, c + 1).toUpper() == QLatin1String("N");
    r.dataBits8 = leadingNumber(charAt1(text, c + 3)) == 8;
    r.stopBits1 = leadingNumber(charAt1(text, c + 5)) == 1;
    return r;
}
