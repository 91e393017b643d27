// Start-up over any settings store: whatever keys and texts a hand-edited or damaged file holds, the
// configuration either loads complete and consistent, or loading stops with an error that names a value
// that really is unusable.
#include "fuzzinput.h"
#include "settings/persistence.h"
#include "settings/textconv.h"
#include "support/fakes.h"

namespace {

const QString Folder = QStringLiteral("/opt/kestrim");

// Most records use the keys the program reads, so that the fuzzer spends its time on values; the rest
// are free texts for section and key.
void fill(MapStore &store, FuzzInput &input)
{
    static const char *const stageWords[] = {"BackColor", "ForeColor", "Seconds", "SoundFile", "Description"};
    while (!input.empty()) {
        const std::uint8_t kind = input.byte();
        QString section;
        QString key;
        switch (kind % 8) {
        case 0:
            section = QStringLiteral("Stages");
            key = QStringLiteral("Count");
            break;
        case 1:
        case 2:
        case 3:
            section = QStringLiteral("Stages");
            // Stage numbers cluster around the four built-in stages and the count's usual range.
            key = QLatin1String(stageWords[(kind >> 3) % 5]) + QString::number(input.byte() % 40);
            break;
        case 4:
            section = QStringLiteral("Font");
            key = QLatin1String((kind >> 3) % 3 == 0 ? "Name" : (kind >> 3) % 3 == 1 ? "Bold" : "Italic");
            break;
        case 5:
            section = QStringLiteral("Sound");
            key = QStringLiteral("Enabled");
            break;
        default:
            section = input.utf8Until('/');
            key = input.utf8Until('=');
            break;
        }
        store.set(section, key, input.utf8Until('\n'));
    }
}

// The value a load must give a member: the stored text converted, or the default when nothing is stored.
std::optional<QString> storedText(const MapStore &store, const char *section, const QString &key)
{
    return store.get(QLatin1String(section), key);
}

void checkLoaded(const MapStore &store, const ClockSetting &loaded)
{
    const ClockSetting defaults = DefaultClockSetting(Folder);
    FUZZ_CHECK(loaded.Count() >= 1 && loaded.Count() <= MaxStageCount, QString::number(loaded.Count()));
    FUZZ_CHECK(loaded.Stages.size() == static_cast<std::size_t>(loaded.Count()), QString());
    const std::int32_t count = loaded.Count();
    if (const auto text = storedText(store, "Stages", QStringLiteral("Count")))
        FUZZ_CHECK(StoredText::parseInt(*text) == count, *text);
    else
        FUZZ_CHECK(count == 4, QString::number(count));

    for (std::int32_t n = 1; n <= count; ++n) {
        const StageSetting fallback = n <= defaults.Count() ? defaults.stage(n) : StageSetting{};
        const StageSetting &stage = loaded.stage(n);
        const auto number = [&](const char *word, std::int32_t value, std::int32_t otherwise) {
            const QString key = QLatin1String(word) + QString::number(n);
            const auto text = storedText(store, "Stages", key);
            FUZZ_CHECK(text ? StoredText::parseInt(*text) == value : value == otherwise, key);
        };
        const auto text = [&](const char *word, const QString &value, const QString &otherwise) {
            const QString key = QLatin1String(word) + QString::number(n);
            FUZZ_CHECK(value == storedText(store, "Stages", key).value_or(otherwise), key);
        };
        number("BackColor", stage.BackColor, fallback.BackColor);
        number("ForeColor", stage.ForeColor, fallback.ForeColor);
        number("Seconds", stage.Seconds, fallback.Seconds);
        text("SoundFile", stage.SoundFile, fallback.SoundFile);
        text("Description", stage.Description, fallback.Description);
    }

    FUZZ_CHECK(loaded.Font.Name == storedText(store, "Font", QStringLiteral("Name")).value_or(QStringLiteral("Arial")),
               loaded.Font.Name);
    const auto flag = [&](const char *section, const char *key, bool value, bool otherwise) {
        const auto text = storedText(store, section, QLatin1String(key));
        FUZZ_CHECK(text ? StoredText::parseBool(*text) == value : value == otherwise, QLatin1String(key));
    };
    flag("Font", "Bold", loaded.Font.Bold, false);
    flag("Font", "Italic", loaded.Font.Italic, false);
    flag("Sound", "Enabled", loaded.SoundEnabled, true);
}

// The error must name a value the store holds and that does not convert (or a count out of range).
void checkError(const MapStore &store, const StoredValueError &error)
{
    const std::optional<QString> text = store.get(error.section(), error.key());
    FUZZ_CHECK(text.has_value(), error.message());
    FUZZ_CHECK(*text == error.text(), error.message());
    FUZZ_CHECK(!error.message().isEmpty() && error.location() == store.location(), error.message());
    const QString &key = error.key();
    if (error.section() == u"Stages" && key == u"Count") {
        const std::optional<std::int32_t> count = StoredText::parseInt(*text);
        FUZZ_CHECK(!count || *count < 1 || *count > MaxStageCount, error.message());
    } else if (error.section() == u"Stages") {
        FUZZ_CHECK(!StoredText::parseInt(*text), error.message());
    } else {
        FUZZ_CHECK(!StoredText::parseBool(*text), error.message());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    MapStore store;
    fill(store, input);
    ClockSetting loaded;
    try {
        LoadClockSetting(loaded, store, Folder);
    } catch (const StoredValueError &error) {
        checkError(store, error);
        return 0;
    }
    checkLoaded(store, loaded);

    // What loads is what a save writes back: a second load over the saved store gives the same.
    MapStore saved;
    SaveClockSetting(loaded, saved);
    ClockSetting reloaded;
    LoadClockSetting(reloaded, saved, Folder);
    FUZZ_CHECK(reloaded == loaded, QString());
    return 0;
}
