#include "options/numbertext.h"

#include "platform/asciitext.h"

#include <QLocale>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace NumberText {

namespace {

using AsciiText::isDigit;

template <typename Int>
std::optional<Int> toWhole(double value)
{
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    const double whole = roundHalfEven(value);
    // Compare in double before converting: a cast of an out-of-range double is undefined behaviour.
    if (whole < static_cast<double>(std::numeric_limits<Int>::min()) ||
        whole > static_cast<double>(std::numeric_limits<Int>::max())) {
        return std::nullopt;
    }
    return static_cast<Int>(whole);
}

} // namespace

std::optional<double> parse(QStringView text, QStringView localDecimalPoint)
{
    const QStringView trimmed = text.trimmed();
    qsizetype i = 0;
    const qsizetype n = trimmed.size();

    std::string ascii;
    ascii.reserve(static_cast<std::size_t>(n) + 1);
    if (i < n && (trimmed[i] == u'+' || trimmed[i] == u'-')) {
        if (trimmed[i] == u'-') {
            ascii.push_back('-');
        }
        ++i;
    }
    qsizetype digits = 0;
    bool wholePartNonZero = false;
    while (i < n && isDigit(trimmed[i])) {
        wholePartNonZero = wholePartNonZero || trimmed[i] != u'0';
        ascii.push_back(static_cast<char>(trimmed[i].unicode()));
        ++i;
        ++digits;
    }
    if (i < n) {
        qsizetype separatorLength = 0;
        if (trimmed[i] == u'.') {
            separatorLength = 1;
        } else if (!localDecimalPoint.isEmpty() && trimmed.sliced(i).startsWith(localDecimalPoint)) {
            separatorLength = localDecimalPoint.size();
        }
        if (separatorLength == 0) {
            return std::nullopt;
        }
        i += separatorLength;
        ascii.push_back('.');
        while (i < n && isDigit(trimmed[i])) {
            ascii.push_back(static_cast<char>(trimmed[i].unicode()));
            ++i;
            ++digits;
        }
    }
    if (i != n || digits == 0) {
        return std::nullopt;
    }

    double value = 0.0;
    const char *first = ascii.data();
    const char *last = first + ascii.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (error == std::errc::result_out_of_range && !wholePartNonZero) {
        // A fraction too small for a double is still a number: it reads as zero.
        return ascii.front() == '-' ? -0.0 : 0.0;
    }
    if (error != std::errc() || end != last || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseLocal(QStringView text)
{
    return parse(text, QLocale().decimalPoint());
}

double roundHalfEven(double value)
{
    if (!std::isfinite(value)) {
        return value;
    }
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction < 0.5) {
        return below;
    }
    if (fraction > 0.5) {
        return below + 1.0;
    }
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

std::optional<std::int32_t> toWhole32(double value)
{
    return toWhole<std::int32_t>(value);
}

std::optional<std::int16_t> toWhole16(double value)
{
    return toWhole<std::int16_t>(value);
}

std::optional<std::int32_t> totalSeconds(double minutes, double seconds)
{
    return toWhole32(minutes * 60.0 + seconds);
}

QString format(double value)
{
    if (value == 0.0) {
        return QStringLiteral("0"); // no "-0" after a borrow from -1 + 1
    }
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

} // namespace NumberText
