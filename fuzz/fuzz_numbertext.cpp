// The numbers typed into the options dialog: any text, with any decimal separator a locale may have,
// either holds a number or not; numbers written back into a box read as the same value; whole numbers
// are made only when they fit.
#include "fuzzinput.h"
#include "options/numbertext.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace {

QString show(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toPercentEncoding(" +-.,"));
}

bool same(double a, double b)
{
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (a == 0 && b == 0);
}

// What the boxes show after a carry or borrow: plain digits that read back as the same number.
void checkFormat(double value)
{
    if (!std::isfinite(value))
        return;
    const QString text = NumberText::format(value);
    for (QChar c : text)
        FUZZ_CHECK(c.isDigit() || c == u'-' || c == u'.', text);
    const std::optional<double> back = NumberText::parse(text);
    FUZZ_CHECK(back && same(*back, value), text);
}

template <typename Int>
void checkWhole(double value, std::optional<Int> whole)
{
    if (!std::isfinite(value)) {
        FUZZ_CHECK(!whole, QString::number(value));
        return;
    }
    const double rounded = NumberText::roundHalfEven(value);
    FUZZ_CHECK(rounded == std::floor(rounded), QString::number(value, 'g', 17));
    FUZZ_CHECK(std::fabs(rounded - value) <= 0.5, QString::number(value, 'g', 17));
    if (std::fabs(rounded - value) == 0.5)
        FUZZ_CHECK(std::fmod(rounded, 2.0) == 0, QString::number(value, 'g', 17));
    const bool fits = rounded >= static_cast<double>(std::numeric_limits<Int>::min()) &&
                      rounded <= static_cast<double>(std::numeric_limits<Int>::max());
    FUZZ_CHECK(whole.has_value() == fits, QString::number(value, 'g', 17));
    if (whole)
        FUZZ_CHECK(static_cast<double>(*whole) == rounded, QString::number(value, 'g', 17));
}

void checkNumber(double value)
{
    checkFormat(value);
    checkWhole(value, NumberText::toWhole32(value));
    checkWhole(value, NumberText::toWhole16(value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::uint8_t mode = input.byte();
    if (mode & 0x80) {
        // Any double the arithmetic can produce, including the extremes nobody types.
        const double minutes = input.raw<double>();
        const double seconds = input.raw<double>();
        checkNumber(minutes);
        const std::optional<std::int32_t> total = NumberText::totalSeconds(minutes, seconds);
        checkWhole(minutes * 60.0 + seconds, total);
        return 0;
    }
    const QString separator = input.utf8Until('\n');
    const QString text = input.rest(mode & 1);
    const std::optional<double> value = NumberText::parse(text, separator);
    if (!value)
        return 0;
    // The empty text and blanks hold no number, whatever the separator.
    FUZZ_CHECK(!text.trimmed().isEmpty(), show(text));
    FUZZ_CHECK(std::isfinite(*value), show(text));
    // The same digits with "." as the separator give the same number.
    const bool plainSeparator = std::none_of(separator.begin(), separator.end(), [](QChar c) {
        return c.isDigit() || c.isSpace() || c == u'+' || c == u'-' || c == u'.';
    });
    if (!separator.isEmpty() && plainSeparator && text.contains(separator) && !text.contains(u'.')) {
        QString dotted = text;
        dotted.replace(text.indexOf(separator), separator.size(), QStringLiteral("."));
        const std::optional<double> viaDot = NumberText::parse(dotted, QString());
        FUZZ_CHECK(viaDot && same(*viaDot, *value), show(text) + QStringLiteral(" with ") + show(separator));
    }
    checkNumber(*value);
    return 0;
}
