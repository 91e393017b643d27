#include "platform/initext.h"

#include "platform/initextescape.h"

#include <QSet>

#include <algorithm>
#include <type_traits>
#include <utility>

namespace IniText {

namespace {

// "section/key" in one allocation and plain copies: every read and every parsed line names its key so. `key`
// is UTF-16 or, for a name that is plain ASCII as it stands in the file, its bytes.
template <typename Characters>
QString joinedKey(QStringView section, const Characters &key)
{
    QString name(section.size() + 1 + key.size(), Qt::Uninitialized);
    QChar *out = std::copy(section.begin(), section.end(), name.data());
    *out++ = u'/';
    std::transform(key.begin(), key.end(), out, [](auto c) {
        if constexpr (std::is_same_v<decltype(c), char>)
            return QChar(QLatin1Char(c));
        else
            return QChar(c);
    });
    return name;
}

} // namespace

QString fullKey(QStringView section, QStringView key)
{
    return section.isEmpty() ? key.toString() : joinedKey(section, key);
}

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
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

// One logical line of the data, with what it says.
struct Item
{
    bool isHeader = false;
    QString section;        // the section the line is in; for a header, the one it opens
    QByteArrayView rawName; // the key, without the section, as it stands: see keyOf
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
            section = Escaping::unescapeName(close < 0 ? rest : rest.first(close));
            if (section.compare(u"general", Qt::CaseInsensitive) == 0) {
                section.clear();
            }
            item.isHeader = true;
            item.malformed = close < 0;
        } else {
            item.malformed = line->equals < 0;
            item.rawName = trimmed(line->equals < 0 ? line->text : line->text.first(line->equals));
            if (line->equals >= 0) {
                item.value = line->text.sliced(line->equals + 1);
            }
        }
        item.section = section;
        visit(item);
    }
}

// The key of a line that is not a header, "section/key" as fullKey names it. Only the lines asked for
// have their names decoded, and a plain name is copied in place, not decoded into a string of its own.
QString keyOf(const Item &item)
{
    const QByteArrayView raw = item.rawName;
    const bool plain = std::all_of(raw.begin(), raw.end(), [](char c) { return c > 0 && c != '\\' && c != '%'; });
    if (!plain || item.section.isEmpty()) {
        return fullKey(item.section, Escaping::unescapeName(raw));
    }
    return joinedKey(item.section, raw);
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

// Where a patch puts its lines in the data as it stands.
struct Layout
{
    struct Range
    {
        qsizetype start, end;
    };
    QHash<QString, Range> keyLines;        // the last line of each key
    QHash<QString, qsizetype> sectionEnds; // where a line added to the section goes
};

Layout layoutOf(QByteArrayView data)
{
    Layout layout;
    forEachItem(data, [&layout](const Item &item) {
        layout.sectionEnds.insert(item.section, item.physicalEnd);
        if (!item.isHeader) {
            layout.keyLines.insert(keyOf(item), Layout::Range{item.start, item.end});
        }
    });
    return layout;
}

// A later value for the same key replaces an earlier one, in the place of the first.
std::vector<const Value *> lastOfEachKey(const std::vector<Value> &values)
{
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
    return unique;
}

struct Edit
{
    qsizetype at, removed;
    QByteArray inserted;
};

// `data` with every edit made; edits at the same place stay in their order.
QByteArray edited(QByteArrayView data, std::vector<Edit> edits)
{
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.at < b.at; });
    QByteArray result;
    qsizetype copied = 0;
    for (const Edit &edit : edits) {
        result += data.sliced(copied, edit.at - copied);
        result += edit.inserted;
        copied = edit.at + edit.removed;
    }
    result += data.sliced(copied);
    return result;
}

// Sections the data does not have yet, in the order their first value came, each with its lines.
struct NewSections
{
    std::vector<QString> order;
    QHash<QString, QByteArray> lines;

    void add(const QString &section, const QByteArray &line)
    {
        if (!lines.contains(section)) {
            order.push_back(section);
        }
        lines[section] += line;
    }
};

// The data's last line must end first, and not as a line continued, or the first header would join it.
void appendSections(QByteArray &result, const NewSections &sections, const QByteArray &newline)
{
    for (const QString &section : sections.order) {
        if (result.size() > contentStart(result)) {
            if (!result.endsWith('\n') && !result.endsWith('\r')) {
                result += newline;
            } else if (mayEscapeNext(result)) {
                result += newline;
            }
            result += newline; // a blank line between sections, as QSettings writes them
        }
        result += '[' + Escaping::escapeName(section.isEmpty() ? QStringLiteral("General") : section) + ']' + newline;
        result += sections.lines.value(section);
    }
}

// `data` without the lines of `keys`. A line starts a physical line of its own (a line break escaped or
// quoted belongs to the line before), so taking it away with its break leaves the lines around it as
// they were.
QByteArray withoutKeys(QByteArrayView data, const QSet<QString> &keys)
{
    std::vector<Edit> edits;
    forEachItem(data, [&](const Item &item) {
        if (item.isHeader || !keys.contains(keyOf(item))) {
            return;
        }
        qsizetype end = item.physicalEnd;
        if (end < data.size() && data[end] == '\r') {
            ++end;
        }
        if (end < data.size() && data[end] == '\n') {
            ++end;
        }
        edits.push_back({item.start, end - item.start, {}});
    });
    return edited(data, std::move(edits));
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
        if (!item.isHeader && keyOf(item) == wanted) {
            found = Escaping::unescapeValue(item.value);
        }
    });
    return found;
}

QHash<QString, QString> parse(QByteArrayView data)
{
    QHash<QString, QString> values;
    // A line a key at most: the table is never rebuilt as it grows, which took a sixth of a large file's read.
    values.reserve(data.count('\n') + 1);
    forEachItem(data, [&values](const Item &item) {
        if (!item.isHeader) {
            values.insert(keyOf(item), Escaping::unescapeValue(item.value));
        }
    });
    return values;
}

QByteArray patch(QByteArrayView original, const std::vector<Value> &values)
{
    const std::vector<const Value *> last = lastOfEachKey(values);
    QSet<QString> removed;
    for (const Value *value : last) {
        if (value->removed) {
            removed.insert(fullKey(value->section, value->key));
        }
    }
    // Lines go first, so the places where values are written are those of the data as it will stand.
    const QByteArray kept = removed.isEmpty() ? original.toByteArray() : withoutKeys(original, removed);
    const QByteArrayView data = kept;
    const Layout layout = layoutOf(data);
    const QByteArray newline = original.indexOf(QByteArrayView("\r\n")) >= 0 ? "\r\n" : "\n";
    std::vector<Edit> edits;
    NewSections newSections;
    for (const Value *value : last) {
        if (value->removed) {
            continue;
        }
        const QByteArray line = Escaping::escapeName(value->key) + '=' + Escaping::escapeValue(value->text);
        if (const auto found = layout.keyLines.constFind(fullKey(value->section, value->key));
            found != layout.keyLines.cend()) {
            edits.push_back({found->start, found->end - found->start, line});
        } else if (const auto end = layout.sectionEnds.constFind(value->section); end != layout.sectionEnds.cend()) {
            edits.push_back({*end, 0, breakAfter(data.first(*end), newline) + line});
        } else {
            newSections.add(value->section, line + newline);
        }
    }
    QByteArray result = edited(data, std::move(edits));
    appendSections(result, newSections, newline);
    return result;
}

} // namespace IniText
