#include "settings/persistence.h"

#include "platform/platform.h"
#include "platform/settingsstore.h"
#include "settings/textconv.h"

#include <QDir>

namespace {

// A hand-edited value can be anything; the message box must stay readable and its text unambiguous.
QString shownText(const QString &text)
{
    constexpr qsizetype shownLength = 200;
    QString shown;
    for (QChar c : QStringView(text).first(std::min(text.size(), shownLength))) {
        if (c == u'\n') {
            shown += QStringLiteral("\\n");
        } else if (c == u'\r') {
            shown += QStringLiteral("\\r");
        } else if (c == u'\t') {
            shown += QStringLiteral("\\t");
        } else if (c.unicode() < 0x20) {
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        } else {
            shown += c;
        }
    }
    if (text.size() > shownLength) {
        shown += QStringLiteral("... (%1 characters in all)").arg(text.size());
    }
    return shown;
}

QString composeMessage(const QString &location, const QString &section, const QString &key, const QString &text,
                       const QString &expected)
{
    return QStringLiteral("%1: [%2] %3 = \"%4\": expected %5").arg(location, section, key, shownText(text), expected);
}

QString stageKey(const char *word, std::int32_t n)
{
    return QLatin1String(word) + QString::number(n);
}

} // namespace

StoredValueError::StoredValueError(QString location, QString section, QString key, QString text, QString expected)
    : std::runtime_error(composeMessage(location, section, key, text, expected).toStdString())
    , location_(std::move(location))
    , section_(std::move(section))
    , key_(std::move(key))
    , text_(std::move(text))
    , expected_(std::move(expected))
{}

QString StoredValueError::message() const
{
    return composeMessage(location_, section_, key_, text_, expected_);
}

StoredValueReader::StoredValueReader(const SettingsStore &store)
    : store_(store)
    , application_(applicationTitle())
{}

QString StoredValueReader::text(const QString &section, const QString &key, const QString &current) const
{
    return store_.read(application_, section, key, current);
}

std::int32_t StoredValueReader::integer(const QString &section, const QString &key, std::int32_t current,
                                        std::int32_t low, std::int32_t high, const QString &expected) const
{
    const QString stored = text(section, key, StoredText::formatInt(current));
    const std::optional<std::int32_t> value = StoredText::parseInt(stored);
    if (value && *value >= low && *value <= high) {
        return *value;
    }
    fail(section, key, stored,
         expected.isEmpty() ? QStringLiteral("a whole number from %1 to %2").arg(low).arg(high) : expected);
}

bool StoredValueReader::boolean(const QString &section, const QString &key, bool current) const
{
    const QString stored = text(section, key, StoredText::formatBool(current));
    if (const std::optional<bool> value = StoredText::parseBool(stored)) {
        return *value;
    }
    fail(section, key, stored, QStringLiteral("True, False or a whole number"));
}

float StoredValueReader::number(const QString &section, const QString &key, float current,
                                const QString &expected) const
{
    const QString stored = text(section, key, StoredText::formatFloat(current));
    if (const std::optional<float> value = StoredText::parseFloat(stored)) {
        return *value;
    }
    fail(section, key, stored, expected);
}

void StoredValueReader::fail(const QString &section, const QString &key, const QString &stored,
                             const QString &expected) const
{
    throw StoredValueError(store_.location(), section, key, stored, expected);
}

void LoadClockSetting(ClockSetting &target, const SettingsStore &store, const QString &programFolder)
{
    const StoredValueReader reader(store);
    FillDefaultStages(target, programFolder);

    // The upper bound keeps a hand-edited count from allocating millions of stages nobody can edit.
    const std::int32_t count =
        reader.integer(QStringLiteral("Stages"), QStringLiteral("Count"), target.Count(), 1, MaxStageCount);
    // Stages beyond the built-in four start out all zero and empty; those within the count keep their defaults.
    target.Stages.resize(static_cast<std::size_t>(count));

    const QString stages = QStringLiteral("Stages");
    for (std::int32_t n = 1; n <= count; ++n) {
        StageSetting &stage = target.stage(n);
        stage.BackColor = reader.integer(stages, stageKey("BackColor", n), stage.BackColor);
        stage.ForeColor = reader.integer(stages, stageKey("ForeColor", n), stage.ForeColor);
        stage.Seconds = reader.integer(stages, stageKey("Seconds", n), stage.Seconds);
        stage.SoundFile = reader.text(stages, stageKey("SoundFile", n), stage.SoundFile);
        stage.Description = reader.text(stages, stageKey("Description", n), stage.Description);
    }

    const QString font = QStringLiteral("Font");
    target.Font.Name = reader.text(font, QStringLiteral("Name"), QStringLiteral("Arial"));
    target.Font.Bold = reader.boolean(font, QStringLiteral("Bold"), false);
    target.Font.Italic = reader.boolean(font, QStringLiteral("Italic"), false);
    target.SoundEnabled = reader.boolean(QStringLiteral("Sound"), QStringLiteral("Enabled"), true);
}

void SaveClockSetting(const ClockSetting &source, SettingsStore &store)
{
    const QString application = applicationTitle();
    const QString stages = QStringLiteral("Stages");
    const auto write = [&](const QString &section, const QString &key, const QString &text) {
        store.write(application, section, key, text);
    };

    write(stages, QStringLiteral("Count"), StoredText::formatInt(source.Count()));
    for (std::int32_t n = 1; n <= source.Count(); ++n) {
        const StageSetting &stage = source.stage(n);
        write(stages, stageKey("ForeColor", n), StoredText::formatInt(stage.ForeColor));
        write(stages, stageKey("BackColor", n), StoredText::formatInt(stage.BackColor));
        write(stages, stageKey("Seconds", n), StoredText::formatInt(stage.Seconds));
        write(stages, stageKey("SoundFile", n), stage.SoundFile);
        write(stages, stageKey("Description", n), stage.Description);
    }

    write(QStringLiteral("Sound"), QStringLiteral("Enabled"), StoredText::formatBool(source.SoundEnabled));
    const QString font = QStringLiteral("Font");
    write(font, QStringLiteral("Name"), source.Font.Name);
    write(font, QStringLiteral("Bold"), StoredText::formatBool(source.Font.Bold));
    write(font, QStringLiteral("Italic"), StoredText::formatBool(source.Font.Italic));
}

QString GetFolder(const QString &path)
{
    const qsizetype last = path.lastIndexOf(QDir::separator());
    // A separator at the very start names the root, which callers treat as no folder at all.
    return last <= 0 ? QString() : path.left(last);
}
