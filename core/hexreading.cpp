// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/hexreading.h"

#include <limits>

namespace hexreading {

namespace {
int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}
} // namespace

quint64 countOf(const QString& text)
{
    constexpr quint64 MaxValue = std::numeric_limits<quint64>::max();
    quint64 value = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('\n'))
            continue; // line feeds are removed before reading
        const int digit = hexDigit(c);
        if (digit < 0)
            break;
        if (value > (MaxValue >> 4))
            value = MaxValue; // saturate; keep consuming digits
        else
            value = (value << 4) | static_cast<quint64>(digit);
    }
    return value;
}

bool isWellFormed(const QString& reply)
{
    return reply.size() == 4 && hexDigit(reply[0]) >= 0 && hexDigit(reply[1]) >= 0 && hexDigit(reply[2]) >= 0
        && reply[3] == QLatin1Char('\n');
}

} // namespace hexreading
