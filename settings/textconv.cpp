#include "settings/textconv.h"

#include "platform/asciitext.h"

#include <QByteArray>

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace StoredText {

namespace {

using AsciiText::isBlank;
using AsciiText::isDigit;

// Only spaces and tabs: a stored value with a line break or another kind of white space in it was not
// written by us and is not a number.
QStringView trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.sliced(begin, end - begin);
}

// Steps over a '+' or '-' at `i`, if there is one; true for '-'.
bool takeSign(QStringView body, qsizetype &i)
{
    if (i < body.size() && (body[i] == u'+' || body[i] == u'-')) {
        return body[i++] == u'-';
    }
    return false;
}

// The number of decimal places before the point of the first significant digit of `digits` scaled by
// 10^exponent: positive for a value of at least 1, zero or less for a value below 1. Used only to tell an
// overflow from an underflow, so the exponent is clamped rather than parsed in full.
std::int64_t magnitude(QStringView mantissa, std::int64_t exponent)
{
    std::int64_t position = 0;
    bool beforePoint = true;
    bool seenDigit = false;
    std::int64_t integerDigits = 0;
    for (QChar c : mantissa) {
        if (c == u'.') {
            beforePoint = false;
            continue;
        }
        if (c == u'0' && !seenDigit) {
            if (!beforePoint) {
                --position;
            }
            continue;
        }
        seenDigit = true;
        if (beforePoint) {
            ++integerDigits;
        }
    }
    return (integerDigits > 0 ? integerDigits : position) + exponent;
}

} // namespace

std::optional<std::int32_t> parseInt(const QString &text)
{
    const QStringView body = trimBlanks(text);
    qsizetype i = 0;
    const bool negative = takeSign(body, i);
    if (i == body.size()) {
        return std::nullopt;
    }
    // One more than INT32_MAX, so that the most negative value parses too.
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < body.size(); ++i) {
        if (!isDigit(body[i])) {
            return std::nullopt;
        }
        value = value * 10 + (body[i].unicode() - u'0');
        if (value > limit) {
            return std::nullopt; // stop before a long run of digits can overflow the accumulator
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

QString formatInt(std::int32_t value)
{
    return QString::number(value);
}

std::optional<bool> parseBool(const QString &text)
{
    const QStringView body = trimBlanks(text);
    if (body.compare(u"true", Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (body.compare(u"false", Qt::CaseInsensitive) == 0) {
        return false;
    }
    if (const std::optional<std::int32_t> number = parseInt(text)) {
        return *number != 0;
    }
    return std::nullopt;
}

QString formatBool(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

std::optional<float> parseFloat(const QString &text)
{
    const QStringView body = trimBlanks(text);
    qsizetype i = 0;
    const bool negative = takeSign(body, i);
    const qsizetype mantissaBegin = i;
    qsizetype digits = 0;
    while (i < body.size() && isDigit(body[i])) {
        ++i;
        ++digits;
    }
    if (i < body.size() && body[i] == u'.') {
        ++i;
        while (i < body.size() && isDigit(body[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    const QStringView mantissa = body.sliced(mantissaBegin, i - mantissaBegin);
    std::int64_t exponent = 0;
    if (i < body.size() && (body[i] == u'e' || body[i] == u'E')) {
        ++i;
        const bool negativeExponent = takeSign(body, i);
        if (i == body.size()) {
            return std::nullopt;
        }
        for (; i < body.size(); ++i) {
            if (!isDigit(body[i])) {
                return std::nullopt;
            }
            // Far beyond any float's exponent; saturating keeps the magnitude estimate free of overflow.
            exponent = std::min<std::int64_t>(exponent * 10 + (body[i].unicode() - u'0'), 1'000'000);
        }
        if (negativeExponent) {
            exponent = -exponent;
        }
    }
    if (i != body.size()) {
        return std::nullopt;
    }

    // The grammar above admits only ASCII, so Latin-1 is exact. from_chars takes no '+' and ignores the
    // locale, which is what a file shared between a German and an English desktop needs.
    const QByteArray ascii = body.sliced(mantissaBegin).toLatin1();
    float value = 0;
    const auto [end, error] = std::from_chars(ascii.constData(), ascii.constData() + ascii.size(), value);
    if (error == std::errc::result_out_of_range) {
        if (magnitude(mantissa, exponent) > 0) {
            return std::nullopt; // beyond the largest float
        }
        value = 0; // closer to zero than the smallest float: zero is the nearest value
    } else if (error != std::errc() || end != ascii.constData() + ascii.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

QString formatFloat(float value)
{
    // A stored "nan" or "inf" would stop the next start with an error, so write the nearest readable value.
    if (std::isnan(value)) {
        value = 0;
    } else if (std::isinf(value)) {
        value = std::copysign(std::numeric_limits<float>::max(), value);
    }
    char buffer[32];
    // Without a format argument to_chars gives the shortest text that reads back exactly, in "C" style.
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (error != std::errc()) {
        return QStringLiteral("0"); // cannot happen: 32 characters hold every float
    }
    return QString::fromLatin1(buffer, end - buffer);
}

} // namespace StoredText
