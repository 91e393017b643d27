#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

// The numbers typed into the options dialog's boxes. Pure functions: no widgets, no locale lookups of their
// own, so they can be tested and fuzzed on their own.
namespace NumberText {

// The value of `text` when it holds a number: blanks around, an optional sign, decimal digits and an
// optional fraction after "." or after `localDecimalPoint` (the user's separator, e.g. ","). At least one
// digit; no exponent, no thousands separators. The empty text, letters and values too large for a double
// hold no number.
std::optional<double> parse(QStringView text, QStringView localDecimalPoint = u".");

// As above with the decimal separator of the default locale.
std::optional<double> parseLocal(QStringView text);

// `value` rounded to the nearest whole number, a tie going to the even neighbour (2.5 gives 2, 3.5 gives 4).
double roundHalfEven(double value);

// The whole number nearest to `value` (ties to even) when it fits the type; nothing otherwise, so that an
// oversized entry can be ignored instead of converted.
std::optional<std::int32_t> toWhole32(double value);
std::optional<std::int16_t> toWhole16(double value);

// The length in whole seconds of `minutes` and `seconds` as typed, or nothing when it does not fit.
std::optional<std::int32_t> totalSeconds(double minutes, double seconds);

// The shortest plain decimal text that reads back to `value`: "6", "2.5", "-3"; never an exponent, so the
// text always parses again.
QString format(double value);

} // namespace NumberText
