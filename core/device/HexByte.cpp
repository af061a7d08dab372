// Bytes and 16-bit words read out of the hexadecimal text the replies travel as.

#include "core/device/HexByte.h"

namespace {

int hexDigit(const QString& text, int pos)
{
    if (pos < 0 || pos >= text.size())
        return 0;
    const QChar c = text.at(pos);
    if (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        return c.unicode() - 'a' + 10;
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
        return c.unicode() - '0';
    return 0;
}

} // namespace

int hexByte(const QString& text, int pos)
{
    return hexDigit(text, pos) * 16 + hexDigit(text, pos + 1);
}

int hexWord(const QString& text, int pos)
{
    return hexByte(text, pos) + 256 * hexByte(text, pos + 2);
}
