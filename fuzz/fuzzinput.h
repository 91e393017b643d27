#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

// Turns libFuzzer's bytes into the values the targets need. Texts are read either as UTF-8 (so seeds and
// dictionaries stay readable) or as raw UTF-16 code units (so lone surrogates and every other unit that
// a settings file or a text box can hold are reached too).
class FuzzInput
{
public:
    FuzzInput(const std::uint8_t *data, std::size_t size)
        : data_(data)
        , size_(size)
    {}

    bool empty() const { return pos_ >= size_; }

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    template <typename T>
    T raw()
    {
        T value{};
        unsigned char bytes[sizeof(T)] = {};
        for (unsigned char &b : bytes)
            b = byte();
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

    // The text up to the next `separator` byte (or the end), decoded as UTF-8.
    QString utf8Until(char separator)
    {
        const std::size_t begin = pos_;
        while (pos_ < size_ && data_[pos_] != static_cast<std::uint8_t>(separator))
            ++pos_;
        const QString text =
            QString::fromUtf8(reinterpret_cast<const char *>(data_ + begin), static_cast<qsizetype>(pos_ - begin));
        if (pos_ < size_)
            ++pos_;
        return text;
    }

    // Everything left, as UTF-8 or as UTF-16 code units.
    QString rest(bool utf16)
    {
        const std::size_t begin = pos_;
        pos_ = size_;
        if (!utf16)
            return QString::fromUtf8(reinterpret_cast<const char *>(data_ + begin),
                                     static_cast<qsizetype>(size_ - begin));
        QString text;
        for (std::size_t i = begin; i + 1 < size_; i += 2)
            text.append(QChar(static_cast<char16_t>(data_[i] | (data_[i + 1] << 8))));
        return text;
    }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Stops the run with the input saved as a crash, and says which property failed.
[[noreturn]] void fuzzFailure(const char *property, const QString &detail);

#define FUZZ_CHECK(condition, detail)                                                                                  \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            fuzzFailure(#condition, detail);                                                                           \
    } while (false)
