#include "mainwindow/presentersettings.h"

#include "clock/readout.h"
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

void writeUnlessUntouched(SettingsStore &store, const QString &key, const QString &value, const QString &untouched)
{
    if (value != untouched || !store.read(applicationTitle(), Section, key, QString()).isEmpty())
        store.write(applicationTitle(), Section, key, value);
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
    const StoredValueReader reader(store);
    const PresenterSettings defaults;
    PresenterSettings settings;
    settings.fullScreen = reader.boolean(Section, QStringLiteral("FullScreen"), defaults.fullScreen);
    settings.onTop = reader.boolean(Section, QStringLiteral("OnTop"), defaults.onTop);
    // Any text names a screen; one that is not there now is waited for.
    settings.audience = reader.text(Section, QStringLiteral("Audience"), defaults.audience).trimmed();
    const QString mode = reader.text(Section, QStringLiteral("ReadOut"), readOutModeName(defaults.readOut));
    const std::optional<ReadOutMode> readOut = readOutModeNamed(mode.trimmed());
    if (!readOut)
        throw StoredValueError(store.location(), Section, QStringLiteral("ReadOut"), mode,
                               QStringLiteral("Elapsed, StageLeft or TalkLeft"));
    settings.readOut = *readOut;
    settings.flash = reader.boolean(Section, QStringLiteral("Flash"), defaults.flash);
    const QString corner = reader.text(Section, QStringLiteral("OverlayCorner"), QString()).trimmed();
    settings.overlayCorner = overlayCornerNamed(corner);
    if (!corner.isEmpty() && !settings.overlayCorner)
        throw StoredValueError(store.location(), Section, QStringLiteral("OverlayCorner"), corner,
                               QStringLiteral("TopLeft, TopRight, BottomLeft, BottomRight or nothing"));
    return settings;
}

void WritePresenterSettings(SettingsStore &store, const PresenterSettings &settings)
{
    const PresenterSettings defaults;
    store.write(applicationTitle(), Section, QStringLiteral("FullScreen"), StoredText::formatBool(settings.fullScreen));
    store.write(applicationTitle(), Section, QStringLiteral("OnTop"), StoredText::formatBool(settings.onTop));
    store.write(applicationTitle(), Section, QStringLiteral("Audience"), settings.audience);
    writeUnlessUntouched(store, QStringLiteral("ReadOut"), readOutModeName(settings.readOut),
                         readOutModeName(defaults.readOut));
    writeUnlessUntouched(store, QStringLiteral("Flash"), StoredText::formatBool(settings.flash),
                         StoredText::formatBool(defaults.flash));
    writeUnlessUntouched(store, QStringLiteral("OverlayCorner"),
                         settings.overlayCorner ? overlayCornerName(*settings.overlayCorner) : QString(), QString());
}
