#include "platform/initextescape.h"

#include "platform/asciitext.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

namespace IniText::Escaping {

namespace {

using AsciiText::isBlank;

std::optional<int> hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return std::nullopt;
}

bool isHexDigit(QChar c)
{
    return c.unicode() < 0x80 && hexDigit(static_cast<char>(c.unicode())).has_value();
}

void appendHex(QByteArray &out, ushort code, int digits)
{
    out += QByteArray::number(code, 16).rightJustified(digits, '0').toUpper();
}

// A character written as a backslash and a letter. The reader also takes "\?" and "\'", which the writer
// never needs.
struct LetterEscape
{
    char letter, character;
};

constexpr LetterEscape LetterEscapes[] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'}, {'r', '\r'},
                                          {'t', '\t'}, {'v', '\v'}, {'"', '"'},  {'\\', '\\'}};

std::optional<char> characterForLetter(char letter)
{
    if (letter == '?' || letter == '\'') {
        return letter;
    }
    const auto *match = std::find_if(std::begin(LetterEscapes), std::end(LetterEscapes),
                                     [letter](const LetterEscape &escape) { return escape.letter == letter; });
    return match == std::end(LetterEscapes) ? std::nullopt : std::optional<char>(match->character);
}

std::optional<char> letterForCharacter(ushort code)
{
    const auto *match = std::find_if(std::begin(LetterEscapes), std::end(LetterEscapes),
                                     [code](const LetterEscape &escape) { return escape.character == code; });
    return match == std::end(LetterEscapes) ? std::nullopt : std::optional<char>(match->letter);
}

// Reads one value from start to end, as the file's reader does.
class ValueReader
{
public:
    explicit ValueReader(QByteArrayView value)
        : value_(value)
    {}

    QString text() &&
    {
        skipBlanks();
        while (!atEnd()) {
            const char c = value_[pos_];
            if (c == '\\') {
                readEscape();
            } else if (c == '"') {
                readQuote();
            } else {
                readPlain();
            }
        }
        if (!quoted_) {
            dropTrailingBlanks();
        }
        return std::move(result_);
    }

private:
    bool atEnd() const { return pos_ >= value_.size(); }

    void skipBlanks()
    {
        while (!atEnd() && isBlank(value_[pos_])) {
            ++pos_;
        }
    }

    void readEscape()
    {
        ++pos_;
        if (!atEnd()) {
            const char escaped = value_[pos_++];
            if (const std::optional<char> character = characterForLetter(escaped)) {
                result_ += QLatin1Char(*character);
            } else if (escaped == 'x') {
                readCode(16, 0, false);
            } else if (escaped >= '0' && escaped <= '7') {
                readCode(8, static_cast<char16_t>(escaped - '0'), true);
            } else if (escaped == '\n' || escaped == '\r') {
                skipLineContinuation(escaped);
            }
            // Any other escaped character is dropped with its backslash.
        }
        // Blanks before an escape are content, and so is a blank it writes; a lone backslash at the end too
        // keeps the blanks before it.
        keptUpTo_ = result_.size();
    }

    // "\x" takes every hex digit that follows, "\0" to "\7" every octal one; "\x" without digits stands for
    // nothing. The code wraps at 16 bits, as the file's reader does.
    void readCode(int base, char16_t code, bool hasDigit)
    {
        while (!atEnd()) {
            const std::optional<int> digit = hexDigit(value_[pos_]);
            if (!digit || *digit >= base) {
                break;
            }
            code = static_cast<char16_t>(code * base + *digit);
            hasDigit = true;
            ++pos_;
        }
        if (hasDigit) {
            result_ += QChar(code);
        }
    }

    // A line continued on the next one: the escaped break and the other half of a "\r\n" or "\n\r" pair.
    void skipLineContinuation(char escaped)
    {
        if (!atEnd() && (value_[pos_] == '\n' || value_[pos_] == '\r') && value_[pos_] != escaped) {
            ++pos_;
        }
    }

    void readQuote()
    {
        ++pos_;
        quoted_ = true;
        inQuotes_ = !inQuotes_;
        if (!inQuotes_) {
            skipBlanks();
            keptUpTo_ = result_.size();
        }
    }

    void readPlain()
    {
        qsizetype end = pos_ + 1;
        while (end < value_.size() && value_[end] != '\\' && value_[end] != '"') {
            ++end;
        }
        result_ += QString::fromUtf8(value_.sliced(pos_, end - pos_));
        pos_ = end;
    }

    // Blanks that stand after the last escape or quote are layout, not content.
    void dropTrailingBlanks()
    {
        while (result_.size() > keptUpTo_ && (result_.back() == u' ' || result_.back() == u'\t')) {
            result_.chop(1);
        }
    }

    QByteArrayView value_;
    qsizetype pos_ = 0;
    QString result_;
    qsizetype keptUpTo_ = 0;
    bool inQuotes_ = false;
    bool quoted_ = false;
};

// The two forms QSettings gives a text: "@@" for a leading "@", "@String(...)" for a text with a NUL in
// it. Every other "@" form was typed by hand and stays as it stands.
QString textForm(QString text)
{
    if (text.startsWith(u"@String(") && text.endsWith(u')')) {
        return text.sliced(8).chopped(1);
    }
    if (text.startsWith(u"@@")) {
        text.remove(0, 1);
    }
    return text;
}

// The escape that writes `c`, or nothing when it can stand as it is. U+FEFF raw would be taken for a
// byte-order mark, and dropped, by the UTF-8 decoding of a reader; a hex digit right after a hex escape
// would be read as part of it.
QByteArray escapeOf(QChar c, bool afterHexEscape)
{
    const ushort code = c.unicode();
    if (const std::optional<char> letter = letterForCharacter(code)) {
        return QByteArray("\\") + *letter;
    }
    if (code < 0x20 || code == 0xFEFF || (afterHexEscape && isHexDigit(c))) {
        QByteArray escape("\\x");
        appendHex(escape, code, 1);
        return escape;
    }
    return {};
}

// Unquoted, blanks at either end would be dropped, and QSettings' own writer quotes ';', ',' and '=' too.
bool needsQuotes(const QString &text)
{
    return text.startsWith(u' ') || text.endsWith(u' ') || text.contains(u';') || text.contains(u',') ||
           text.contains(u'=');
}

} // namespace

QString unescapeName(QByteArrayView name)
{
    const QString decoded = QString::fromUtf8(name);
    // Nearly every name is written as it reads; a large file has thousands of them.
    if (!name.contains('\\') && !name.contains('%')) {
        return decoded;
    }
    QString result;
    qsizetype i = 0;
    while (i < decoded.size()) {
        const QChar c = decoded[i];
        if (c == u'\\') {
            result += u'/';
            ++i;
            continue;
        }
        if (c != u'%' || i == decoded.size() - 1) {
            result += c;
            ++i;
            continue;
        }
        qsizetype first = i + 1;
        qsizetype count = 2;
        if (decoded[first] == u'U') {
            ++first;
            count = 4;
        }
        bool ok = false;
        const ushort code =
            first + count > decoded.size() ? 0 : QStringView(decoded).sliced(first, count).toUShort(&ok, 16);
        if (!ok) {
            result += u'%';
            ++i;
            continue;
        }
        result += QChar(code);
        i = first + count;
    }
    return result;
}

QByteArray escapeName(const QString &name)
{
    QByteArray out;
    for (QChar c : name) {
        const ushort code = c.unicode();
        if ((code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9') ||
            code == '-' || code == '_' || code == '.') {
            out += static_cast<char>(code);
        } else if (code == '/') {
            out += '\\';
        } else if (code < 0x100) {
            out += '%';
            appendHex(out, code, 2);
        } else {
            out += "%U";
            appendHex(out, code, 4);
        }
    }
    return out;
}

QString unescapeValue(QByteArrayView value)
{
    return textForm(ValueReader(value).text());
}

QByteArray escapeValue(const QString &text)
{
    QByteArray out;
    if (text.startsWith(u'@')) {
        out += '@'; // "@@" stands for "@"; a single "@" would start a typed value
    }
    // Runs of plain characters are converted together, so that a surrogate pair stays one character.
    QString plain;
    bool afterHexEscape = false;
    for (QChar c : text) {
        const QByteArray escape = escapeOf(c, afterHexEscape);
        afterHexEscape = escape.startsWith("\\x");
        if (escape.isEmpty()) {
            plain += c;
        } else {
            out += std::exchange(plain, QString()).toUtf8();
            out += escape;
        }
    }
    out += plain.toUtf8();
    if (needsQuotes(text)) {
        out.prepend('"');
        out += '"';
    }
    return out;
}

} // namespace IniText::Escaping
