#include "platform/initext.h"

#include "platform/asciitext.h"

#include <algorithm>
#include <iterator>

namespace IniText {

QString fullKey(QStringView section, QStringView key)
{
    return section.isEmpty() ? key.toString() : section.toString() + u'/' + key.toString();
}

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

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

// Several editors start a UTF-8 file with this mark; QSettings skips it, and so does this reader.
constexpr QByteArrayView ByteOrderMark("\xEF\xBB\xBF");

qsizetype contentStart(QByteArrayView data)
{
    return data.startsWith(ByteOrderMark) ? ByteOrderMark.size() : 0;
}

struct Line
{
    qsizetype start = 0;
    QByteArrayView text;
    qsizetype equals = -1;  // position in `text` of the first '=' outside quotes, or -1
    bool openQuote = false; // a quote in it is never closed, so it runs to the end of the data
};

// The next logical line from `pos` on, as the file's reader sees it: a quoted part may run over line
// breaks, a backslash takes the next character with it, ';' at the start makes a comment line and ';'
// elsewhere outside quotes ends the line. Nothing once the data is used up.
std::optional<Line> nextLine(QByteArrayView data, qsizetype &pos)
{
    const qsizetype size = data.size();
    qsizetype start = pos;
    while (start < size && isSpace(data[start])) {
        ++start;
    }
    qsizetype equals = -1;
    bool inQuotes = false;
    qsizetype i = start;
    while (i < size) {
        const char c = data[i++];
        if (c == '=') {
            if (!inQuotes && equals < 0) {
                equals = i - 1;
            }
        } else if (c == '\n' || c == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (c == '\\') {
            if (i < size) {
                const char escaped = data[i++];
                if (i < size) {
                    const char after = data[i];
                    if ((escaped == '\n' && after == '\r') || (escaped == '\r' && after == '\n')) {
                        ++i;
                    }
                }
            }
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == ';') {
            if (i == start + 1) {
                while (i < size && data[i] != '\n' && data[i] != '\r') {
                    ++i;
                }
                while (i < size && isSpace(data[i])) {
                    ++i;
                }
                start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    pos = i;
    if (i <= start) {
        return std::nullopt;
    }
    return Line{start, data.sliced(start, i - start), equals < 0 ? -1 : equals - start, inQuotes};
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && isSpace(text.front())) {
        text = text.sliced(1);
    }
    while (!text.isEmpty() && isSpace(text.back())) {
        text.chop(1);
    }
    return text;
}

// Section and key names: "%XX" and "%UXXXX" stand for one character, a backslash for a group separator.
QString unescapeName(QByteArrayView name)
{
    const QString decoded = QString::fromUtf8(name);
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

// A value's text: escapes resolved, quotes removed, blanks around dropped unless quoted; commas kept.
QString unescapeValue(QByteArrayView value)
{
    const qsizetype size = value.size();
    QString result;
    qsizetype i = 0;
    bool inQuotes = false;
    bool quoted = false;
    bool chopTrailing = true;
    const auto skipBlanks = [&] {
        while (i < size && isBlank(value[i])) {
            ++i;
        }
    };
    skipBlanks();
    // Blanks that stand after the last escape or quote are layout, not content.
    qsizetype chopLimit = 0;

    while (i < size) {
        const char c = value[i];
        if (c == '\\') {
            ++i;
            if (i >= size) {
                chopTrailing = false;
                break;
            }
            const char escaped = value[i++];
            static constexpr char simple[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                                 {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                                 {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
            const auto *match = std::find_if(std::begin(simple), std::end(simple),
                                             [escaped](const char(&pair)[2]) { return pair[0] == escaped; });
            if (match != std::end(simple)) {
                result += QLatin1Char((*match)[1]);
            } else if (escaped == 'x' || (escaped >= '0' && escaped <= '7')) {
                const bool hex = escaped == 'x';
                if (hex && (i >= size || !hexDigit(value[i]))) {
                    if (i >= size) {
                        chopTrailing = false;
                        break;
                    }
                    chopLimit = result.size(); // "\x" without digits stands for nothing
                    continue;
                }
                // The code wraps at 16 bits, as the file's reader does.
                char16_t code = hex ? 0 : static_cast<char16_t>(escaped - '0');
                while (i < size) {
                    if (hex) {
                        const std::optional<int> digit = hexDigit(value[i]);
                        if (!digit) {
                            break;
                        }
                        code = static_cast<char16_t>((code << 4) + *digit);
                    } else {
                        if (value[i] < '0' || value[i] > '7') {
                            break;
                        }
                        code = static_cast<char16_t>((code << 3) + (value[i] - '0'));
                    }
                    ++i;
                }
                result += QChar(code);
                if (i >= size) {
                    chopTrailing = false;
                    break;
                }
            } else if (escaped == '\n' || escaped == '\r') {
                // A line continued on the next one.
                if (i < size && (value[i] == '\n' || value[i] == '\r') && value[i] != escaped) {
                    ++i;
                }
            }
            // Any other escaped character is dropped with its backslash.
            chopLimit = result.size();
            continue;
        }
        if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipBlanks();
                chopLimit = result.size();
            }
            continue;
        }
        qsizetype end = i + 1;
        while (end < size && value[end] != '\\' && value[end] != '"') {
            ++end;
        }
        result += QString::fromUtf8(value.sliced(i, end - i));
        i = end;
    }
    if (chopTrailing && !quoted) {
        while (result.size() > chopLimit && (result.back() == u' ' || result.back() == u'\t')) {
            result.chop(1);
        }
    }
    return result;
}

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

// One logical line of the data, with what it says.
struct Item
{
    bool isHeader = false;
    QString section; // the section the line is in; for a header, the one it opens
    QString name;    // the key, without the section
    QByteArrayView value;
    qsizetype start = 0;       // where the logical line starts
    qsizetype end = 0;         // and ends
    qsizetype physicalEnd = 0; // where the line break after it is (a comment may come first)
    // What QSettings cannot read as meant: a quote that swallows the rest of the file, or a line that is
    // neither a section, a key nor a comment (a section name without its "]", a line without "=").
    bool openQuote = false;
    bool malformed = false;
};

template <typename Visitor>
void forEachItem(QByteArrayView data, Visitor &&visit)
{
    QString section;
    qsizetype pos = contentStart(data);
    while (const std::optional<Line> line = nextLine(data, pos)) {
        Item item;
        item.openQuote = line->openQuote;
        item.start = line->start;
        item.end = line->start + line->text.size();
        item.physicalEnd = item.end;
        while (item.physicalEnd < data.size() && data[item.physicalEnd] != '\n' && data[item.physicalEnd] != '\r') {
            ++item.physicalEnd;
        }
        if (line->text.front() == '[') {
            const QByteArrayView rest = line->text.sliced(1);
            const qsizetype close = rest.indexOf(']');
            section = unescapeName(close < 0 ? rest : rest.first(close));
            if (section.compare(u"general", Qt::CaseInsensitive) == 0) {
                section.clear();
            }
            item.isHeader = true;
            item.malformed = close < 0;
        } else {
            item.malformed = line->equals < 0;
            item.name = unescapeName(trimmed(line->equals < 0 ? line->text : line->text.first(line->equals)));
            if (line->equals >= 0) {
                item.value = line->text.sliced(line->equals + 1);
            }
        }
        item.section = section;
        visit(item);
    }
}

QString textOf(const Item &item)
{
    return textForm(unescapeValue(item.value));
}

void appendHex(QByteArray &out, ushort code, int digits)
{
    out += QByteArray::number(code, 16).rightJustified(digits, '0').toUpper();
}

// Letters, digits and "-_." as they are, "/" as the group separator "\", everything else as "%XX" or
// "%UXXXX", which QSettings reads back as that character.
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

bool isHexDigit(QChar c)
{
    return c.unicode() < 0x80 && hexDigit(static_cast<char>(c.unicode())).has_value();
}

// A value as QSettings reads it back into exactly `text`.
QByteArray escapeValue(const QString &text)
{
    QByteArray out;
    if (text.startsWith(u'@')) {
        out += '@'; // "@@" stands for "@"; a single "@" would start a typed value
    }
    bool quote = text.startsWith(u' ') || text.endsWith(u' ');
    bool afterHexEscape = false; // a hex digit right after one would be read as part of it
    QString plain;
    const auto flushPlain = [&] {
        out += plain.toUtf8();
        plain.clear();
    };
    for (QChar c : text) {
        const ushort code = c.unicode();
        const bool extendsEscape = afterHexEscape && isHexDigit(c);
        afterHexEscape = false;
        const char *simple = nullptr;
        switch (code) {
        case '\\':
            simple = "\\\\";
            break;
        case '"':
            simple = "\\\"";
            break;
        case '\a':
            simple = "\\a";
            break;
        case '\b':
            simple = "\\b";
            break;
        case '\f':
            simple = "\\f";
            break;
        case '\n':
            simple = "\\n";
            break;
        case '\r':
            simple = "\\r";
            break;
        case '\t':
            simple = "\\t";
            break;
        case '\v':
            simple = "\\v";
            break;
        default:
            break;
        }
        if (simple) {
            flushPlain();
            out += simple;
        } else if (code < 0x20 || code == 0xFEFF || extendsEscape) {
            // U+FEFF raw would be taken for a byte-order mark, and dropped, by the UTF-8 decoding of a reader.
            flushPlain();
            out += "\\x";
            appendHex(out, code, 1);
            afterHexEscape = true;
        } else {
            quote = quote || code == ';' || code == ',' || code == '=';
            plain += c;
        }
    }
    flushPlain();
    if (quote) {
        out.prepend('"');
        out += '"';
    }
    return out;
}

// 1 for the first line; "\r\n" is one line break.
int lineNumber(QByteArrayView data, qsizetype at)
{
    const QByteArrayView before = data.first(at);
    return static_cast<int>(1 + before.count('\n') + before.count('\r') - before.count("\r\n"));
}

// The line as it stands in the file, short enough for a message box.
QString shownLine(QByteArrayView data, qsizetype at)
{
    constexpr qsizetype shownLength = 60;
    qsizetype end = at;
    while (end < data.size() && end - at <= 4 * shownLength && data[end] != '\n' && data[end] != '\r') {
        ++end;
    }
    QString line = QString::fromUtf8(data.sliced(at, end - at));
    for (QChar &c : line) {
        if (c.unicode() < 0x20) {
            c = u' ';
        }
    }
    const bool cut = line.size() > shownLength || (end < data.size() && data[end] != '\n' && data[end] != '\r');
    return cut ? line.first(std::min(line.size(), shownLength)) + u'\u2026' : line;
}

// Whether a backslash at the end of `text` could take the next line break as its escaped character (a
// line continued), alone or as the second half of a "\r\n" pair.
bool mayEscapeNext(QByteArrayView text)
{
    return text.endsWith('\\') || text.endsWith("\\\r") || text.endsWith("\\\n");
}

// The line break that starts a line added after `before`, and really ends the line before it.
QByteArray breakAfter(QByteArrayView before, const QByteArray &newline)
{
    return mayEscapeNext(before) ? newline + newline : newline;
}

} // namespace

std::optional<QString> firstProblem(QByteArrayView data)
{
    std::optional<QString> problem;
    forEachItem(data, [&](const Item &item) {
        if (problem || !(item.openQuote || item.malformed)) {
            return;
        }
        problem = QStringLiteral("line %1 (%2) %3")
                      .arg(QString::number(lineNumber(data, item.start)), shownLine(data, item.start),
                           item.openQuote ? QStringLiteral("opens a quote that is never closed")
                                          : QStringLiteral("is neither a section, a key nor a comment"));
    });
    return problem;
}

std::optional<QString> findValue(QByteArrayView data, QStringView section, QStringView key)
{
    const QString wanted = fullKey(section, key);
    std::optional<QString> found;
    forEachItem(data, [&](const Item &item) {
        if (!item.isHeader && fullKey(item.section, item.name) == wanted) {
            found = textOf(item);
        }
    });
    return found;
}

QHash<QString, QString> parse(QByteArrayView data)
{
    QHash<QString, QString> values;
    forEachItem(data, [&values](const Item &item) {
        if (!item.isHeader) {
            values.insert(fullKey(item.section, item.name), textOf(item));
        }
    });
    return values;
}

QByteArray patch(QByteArrayView data, const std::vector<Value> &values)
{
    struct Range
    {
        qsizetype start, end;
    };
    QHash<QString, Range> keyLines;        // the last line of each key
    QHash<QString, qsizetype> sectionEnds; // where a line added to the section goes
    forEachItem(data, [&](const Item &item) {
        sectionEnds.insert(item.section, item.physicalEnd);
        if (!item.isHeader) {
            keyLines.insert(fullKey(item.section, item.name), Range{item.start, item.end});
        }
    });

    // A later value for the same key replaces an earlier one.
    std::vector<const Value *> unique;
    QHash<QString, std::size_t> seen;
    for (const Value &value : values) {
        const QString name = fullKey(value.section, value.key);
        if (const auto found = seen.constFind(name); found != seen.cend()) {
            unique[*found] = &value;
        } else {
            seen.insert(name, unique.size());
            unique.push_back(&value);
        }
    }

    const QByteArray newline = data.indexOf(QByteArrayView("\r\n")) >= 0 ? "\r\n" : "\n";
    struct Edit
    {
        qsizetype at, removed;
        QByteArray inserted;
    };
    std::vector<Edit> edits;
    std::vector<QString> newSections;
    QHash<QString, QByteArray> newSectionLines;
    for (const Value *value : unique) {
        const QByteArray line = escapeName(value->key) + '=' + escapeValue(value->text);
        if (const auto found = keyLines.constFind(fullKey(value->section, value->key)); found != keyLines.cend()) {
            edits.push_back({found->start, found->end - found->start, line});
        } else if (const auto end = sectionEnds.constFind(value->section); end != sectionEnds.cend()) {
            edits.push_back({*end, 0, breakAfter(data.first(*end), newline) + line});
        } else {
            if (!newSectionLines.contains(value->section)) {
                newSections.push_back(value->section);
            }
            newSectionLines[value->section] += line + newline;
        }
    }
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.at < b.at; });

    QByteArray result;
    qsizetype copied = 0;
    for (const Edit &edit : edits) {
        result += data.sliced(copied, edit.at - copied);
        result += edit.inserted;
        copied = edit.at + edit.removed;
    }
    result += data.sliced(copied);

    for (const QString &section : newSections) {
        if (result.size() > contentStart(result)) {
            if (!result.endsWith('\n') && !result.endsWith('\r')) {
                result += newline;
            } else if (mayEscapeNext(result)) {
                result += newline;
            }
            result += newline; // a blank line between sections, as QSettings writes them
        }
        result += '[' + escapeName(section.isEmpty() ? QStringLiteral("General") : section) + ']' + newline;
        result += newSectionLines.value(section);
    }
    return result;
}

} // namespace IniText
