#include "mainwindow/presentersettings.h"

#include "platform/platform.h"
#include "platform/settingsstore.h"
#include "settings/persistence.h"
#include "settings/textconv.h"

namespace {

const QString Section = QStringLiteral("Window");

bool readBool(const SettingsStore &store, const QString &key, bool defaultValue)
{
    const QString text = store.read(applicationTitle(), Section, key, StoredText::formatBool(defaultValue));
    const std::optional<bool> value = StoredText::parseBool(text);
    if (!value)
        throw StoredValueError(store.location(), Section, key, text, QStringLiteral("True or False"));
    return *value;
}

} // namespace

PresenterSettings ReadPresenterSettings(const SettingsStore &store)
{
    const PresenterSettings defaults;
    PresenterSettings settings;
    settings.fullScreen = readBool(store, QStringLiteral("FullScreen"), defaults.fullScreen);
    settings.onTop = readBool(store, QStringLiteral("OnTop"), defaults.onTop);
    // Any text names a screen; one that is not there now is waited for.
    settings.audience =
        store.read(applicationTitle(), Section, QStringLiteral("Audience"), defaults.audience).trimmed();
    return settings;
}

void WritePresenterSettings(SettingsStore &store, const PresenterSettings &settings)
{
    store.write(applicationTitle(), Section, QStringLiteral("FullScreen"), StoredText::formatBool(settings.fullScreen));
    store.write(applicationTitle(), Section, QStringLiteral("OnTop"), StoredText::formatBool(settings.onTop));
    store.write(applicationTitle(), Section, QStringLiteral("Audience"), settings.audience);
}
