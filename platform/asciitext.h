#pragma once

#include <QChar>

// The characters our stored and typed numbers are made of. Deliberately ASCII only: QChar::isDigit and
// isSpace also accept other scripts' digits and other kinds of space, which no number we write contains.
namespace AsciiText {

constexpr bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

constexpr bool isDigit(QChar c)
{
    return isDigit(c.unicode());
}

// A space or a tab: what may stand around a value on its line.
constexpr bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

constexpr bool isBlank(QChar c)
{
    return isBlank(c.unicode());
}

} // namespace AsciiText
