#include "mainwindow/presentersettings.h"

#include "platform/platform.h"
#include "platform/settingsstore.h"
#include "settings/persistence.h"
#include "settings/textconv.h"

#include <array>

namespace {

const QString Section = QStringLiteral("Window");

constexpr std::array<std::pair<OverlayCorner, QLatin1StringView>, 4> CornerNames{{
    {OverlayCorner::TopLeft, QLatin1StringView("TopLeft")},
    {OverlayCorner::TopRight, QLatin1StringView("TopRight")},
    {OverlayCorner::BottomLeft, QLatin1StringView("BottomLeft")},
    {OverlayCorner::BottomRight, QLatin1StringView("BottomRight")},
}};

bool readBool(const SettingsStore &store, const QString &key, bool defaultValue)
{
    const QString text = store.read(applicationTitle(), Section, key, StoredText::formatBool(defaultValue));
    const std::optional<bool> value = StoredText::parseBool(text);
    if (!value)
        throw StoredValueError(store.location(), Section, key, text, QStringLiteral("True or False"));
    return *value;
}

} // namespace

QString overlayCornerName(OverlayCorner corner)
{
    for (const auto &[known, name] : CornerNames) {
        if (known == corner)
            return name;
    }
    return {};
}

std::optional<OverlayCorner> overlayCornerNamed(const QString &name)
{
    for (const auto &[corner, known] : CornerNames) {
        if (name == known)
            return corner;
    }
    return std::nullopt;
}

PresenterSettings ReadPresenterSettings(const SettingsStore &store)
{
    const PresenterSettings defaults;
    PresenterSettings settings;
    settings.fullScreen = readBool(store, QStringLiteral("FullScreen"), defaults.fullScreen);
    settings.onTop = readBool(store, QStringLiteral("OnTop"), defaults.onTop);
    // Any text names a screen; one that is not there now is waited for.
    settings.audience =
        store.read(applicationTitle(), Section, QStringLiteral("Audience"), defaults.audience).trimmed();
    const QString corner = store.read(applicationTitle(), Section, QStringLiteral("OverlayCorner"), {}).trimmed();
    settings.overlayCorner = overlayCornerNamed(corner);
    if (!corner.isEmpty() && !settings.overlayCorner)
        throw StoredValueError(store.location(), Section, QStringLiteral("OverlayCorner"), corner,
                               QStringLiteral("TopLeft, TopRight, BottomLeft, BottomRight or nothing"));
    return settings;
}

void WritePresenterSettings(SettingsStore &store, const PresenterSettings &settings)
{
    store.write(applicationTitle(), Section, QStringLiteral("FullScreen"), StoredText::formatBool(settings.fullScreen));
    store.write(applicationTitle(), Section, QStringLiteral("OnTop"), StoredText::formatBool(settings.onTop));
    store.write(applicationTitle(), Section, QStringLiteral("Audience"), settings.audience);
    store.write(applicationTitle(), Section, QStringLiteral("OverlayCorner"),
                settings.overlayCorner ? overlayCornerName(*settings.overlayCorner) : QString());
}
