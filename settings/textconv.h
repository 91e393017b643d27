#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// Conversions between the settings store's texts and numbers. Parsers are strict and never undefined:
// anything they do not accept is nothing, and callers turn that into a StoredValueError.
namespace StoredText {

// Optional sign and decimal digits, blanks around allowed, within the 32-bit signed range.
std::optional<std::int32_t> parseInt(const QString &text);
// Shortest decimal text, "-" when negative ("65280").
QString formatInt(std::int32_t value);

// "True"/"False" in any letter case, or an integer (0 false, anything else true), blanks around allowed.
std::optional<bool> parseBool(const QString &text);
// "True" or "False".
QString formatBool(bool value);

// A decimal number (optional sign, digits, optional "." fraction, optional exponent), blanks around
// allowed, finite and within the range of a 32-bit float. A value closer to zero than the smallest float
// reads as zero, the nearest float there is.
std::optional<float> parseFloat(const QString &text);
// The shortest text that reads back to the same float; whole numbers without a decimal point ("7485").
// Not-a-number is written as "0" and an infinity as the largest float of its sign, so that whatever is
// written can be read back.
QString formatFloat(float value);

} // namespace StoredText
