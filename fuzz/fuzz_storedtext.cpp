// The settings file's number and boolean texts: any text either converts or is refused, never anything
// undefined, and whatever the program writes reads back as the same value.
#include "fuzzinput.h"
#include "settings/textconv.h"

#include <QByteArray>

#include <bit>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>

namespace {

QString show(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toPercentEncoding(" +-.eE"));
}

void checkInt(const QString &text)
{
    const std::optional<std::int32_t> value = StoredText::parseInt(text);
    if (!value)
        return;
    const QString written = StoredText::formatInt(*value);
    FUZZ_CHECK(StoredText::parseInt(written) == value, show(text) + QStringLiteral(" -> ") + written);
    // The text a value is written as is its canonical form: no sign unless negative, no leading zero.
    FUZZ_CHECK(written == QString::number(*value), written);
    // A number is a boolean too: zero false, anything else true.
    FUZZ_CHECK(StoredText::parseBool(text) == std::optional<bool>(*value != 0), show(text));
}

void checkBool(const QString &text)
{
    const std::optional<bool> value = StoredText::parseBool(text);
    if (!value)
        return;
    const QString written = StoredText::formatBool(*value);
    FUZZ_CHECK(written == QLatin1String(*value ? "True" : "False"), written);
    FUZZ_CHECK(StoredText::parseBool(written) == value, show(text));
}

bool sameFloat(float a, float b)
{
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

void checkFloat(const QString &text)
{
    const std::optional<float> value = StoredText::parseFloat(text);
    if (!value)
        return;
    FUZZ_CHECK(std::isfinite(*value), show(text));
    const QString written = StoredText::formatFloat(*value);
    const std::optional<float> back = StoredText::parseFloat(written);
    FUZZ_CHECK(back && sameFloat(*back, *value), show(text) + QStringLiteral(" -> ") + written);

    // The C library, in the "C" locale, is the reference for rounding: the same digits give the same
    // float, unless the value is so small that the library reports an underflow.
    const QByteArray ascii = text.trimmed().toLatin1();
    errno = 0;
    char *end = nullptr;
    const float reference = std::strtof(ascii.constData(), &end);
    if (errno == 0 && end == ascii.constData() + ascii.size() && std::isnormal(reference))
        FUZZ_CHECK(sameFloat(reference, *value), show(text));
}

// Every float the program can hold is written as a text that reads back to it, bit for bit (not-a-number
// and the infinities excepted, which are written as the nearest readable value).
void checkWrittenFloat(float value)
{
    const QString written = StoredText::formatFloat(value);
    const std::optional<float> back = StoredText::parseFloat(written);
    FUZZ_CHECK(back.has_value(), written);
    if (std::isfinite(value))
        FUZZ_CHECK(sameFloat(*back, value), written);
    else
        FUZZ_CHECK(std::isfinite(*back), written);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::setlocale(LC_ALL, "C");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::uint8_t mode = input.byte();
    if (mode & 0x80)
        checkWrittenFloat(input.raw<float>());
    const QString text = input.rest(mode & 1);
    checkInt(text);
    checkBool(text);
    checkFloat(text);
    return 0;
}
