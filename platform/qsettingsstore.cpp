#include "platform/qsettingsstore.h"

#include "platform/platform.h"

#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <iterator>

namespace {

std::unique_ptr<QSettings> openSettings(const QString &application)
{
    auto settings =
        std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, application, application);
    // The store is the user's own file; values from system-wide or organisation-wide files would make
    // what is read differ from what was written.
    settings->setFallbacksEnabled(false);
    // Write a new file and rename it over the old one, or fail: never truncate the file in place.
    settings->setAtomicSyncRequired(true);
    return settings;
}

QString describeFailure(QSettings::Status status, const QString &file)
{
    switch (status) {
    case QSettings::AccessError:
        return QStringLiteral("Could not write the settings file %1: the file or its folder cannot be written. "
                              "The settings stored there before are unchanged.")
            .arg(file);
    case QSettings::FormatError:
        return QStringLiteral("The settings file %1 has lines that are not in the settings format; they could "
                              "not be read and may be lost, and the settings may not have been saved.")
            .arg(file);
    case QSettings::NoError:
        break;
    }
    return QString();
}

} // namespace

QSettingsStore::QSettingsStore() = default;

QSettingsStore::~QSettingsStore() = default;

QSettings &QSettingsStore::settingsFor(const QString &application) const
{
    auto found = settings_.find(application);
    if (found == settings_.end()) {
        found = settings_.emplace(application, Entry{openSettings(application)}).first;
    }
    return *found->second.settings;
}

QString QSettingsStore::read(const QString &application, const QString &section, const QString &key,
                             const QString &defaultText) const
{
    QSettings &settings = settingsFor(application);
    const QString path = section + u'/' + key;
    if (!settings.contains(path)) {
        return defaultText;
    }
    const QVariant value = settings.value(path);
    if (value.typeId() == QMetaType::QString) {
        return value.toString();
    }
    // We write only texts, so this is a hand edit that the file's reader took for something else: a list
    // ("Questions, answers") or a typed value ("@Size(1 2)"). The configuration wants the text as it stands.
    QFile file(settings.fileName());
    if (file.open(QIODevice::ReadOnly)) {
        if (std::optional<QString> text = IniText::findValue(file.readAll(), section, key)) {
            return *std::move(text);
        }
    }
    // The file changed under us since it was read; the parsed value is the best that is left.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QStringLiteral(", "));
    }
    return value.toString();
}

void QSettingsStore::write(const QString &application, const QString &section, const QString &key, const QString &text)
{
    settingsFor(application).setValue(section + u'/' + key, text);
}

std::optional<QString> QSettingsStore::sync()
{
    QStringList failures;
    for (auto &[application, entry] : settings_) {
        std::optional<QString> fromReading;
        const QSettings::Status earlier = entry.settings->status();
        if (earlier != QSettings::NoError) {
            // A settings object keeps its first error for life, so this sync would look failed even if it
            // worked. An earlier write error (Qt also writes on its own, from the event loop) is repeated or
            // cleared by this sync; a format error, found when the file was read, is not, so it is told here
            // unless a sync told it before.
            if (earlier == QSettings::FormatError && !entry.errorReported) {
                fromReading = describeFailure(earlier, entry.settings->fileName());
            }
            // The values not yet written live in Qt's per-file cache, shared by every object on the file:
            // the new object is made before the old one goes, and they carry over.
            entry.settings = openSettings(application);
        }
        entry.settings->sync();
        const QSettings::Status status = entry.settings->status();
        entry.errorReported = status != QSettings::NoError;
        if (entry.errorReported) {
            failures.append(describeFailure(status, entry.settings->fileName()));
        } else if (fromReading) {
            failures.append(*fromReading);
        }
    }
    if (failures.isEmpty()) {
        return std::nullopt;
    }
    return failures.join(u' ');
}

QString QSettingsStore::location() const
{
    return settingsFor(applicationTitle()).fileName();
}

namespace IniText {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

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

struct Line
{
    QByteArrayView text;
    qsizetype equals = -1; // position of the first '=' outside quotes, or -1
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
    return Line{data.sliced(start, i - start), equals < 0 ? -1 : equals - start};
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

} // namespace

std::optional<QString> findValue(QByteArrayView data, QStringView section, QStringView key)
{
    const QString wanted = section.isEmpty() ? key.toString() : section.toString() + u'/' + key.toString();
    QString currentSection;
    std::optional<QString> found;
    qsizetype pos = 0;
    while (const std::optional<Line> line = nextLine(data, pos)) {
        if (line->text.front() == '[') {
            const QByteArrayView rest = line->text.sliced(1);
            const qsizetype close = rest.indexOf(']');
            currentSection = unescapeName(close < 0 ? rest : rest.first(close));
            if (currentSection.compare(u"general", Qt::CaseInsensitive) == 0) {
                currentSection.clear();
            }
            continue;
        }
        const QByteArrayView name = trimmed(line->equals < 0 ? line->text : line->text.first(line->equals));
        const QString unescaped = unescapeName(name);
        const QString full = currentSection.isEmpty() ? unescaped : currentSection + u'/' + unescaped;
        if (full == wanted) {
            found = line->equals < 0 ? QString() : unescapeValue(line->text.sliced(line->equals + 1));
        }
    }
    // The two forms QSettings itself gives a text: "@@" for a leading "@", "@String(...)" for a text with
    // a NUL in it. Every other "@" form was typed by hand and stays as it stands.
    if (found && found->startsWith(u"@String(") && found->endsWith(u')')) {
        *found = found->sliced(8).chopped(1);
    } else if (found && found->startsWith(u"@@")) {
        found->remove(0, 1);
    }
    return found;
}

} // namespace IniText
