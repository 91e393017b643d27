#include "mainwindow/placement.h"

#include "platform/platform.h"
#include "platform/settingsstore.h"
#include "settings/persistence.h"
#include "settings/textconv.h"

namespace {

const QString Section = QStringLiteral("Window");

float readFloat(const SettingsStore &store, const QString &key, float defaultValue)
{
    const QString text = store.read(applicationTitle(), Section, key, StoredText::formatFloat(defaultValue));
    const std::optional<float> value = StoredText::parseFloat(text);
    if (!value)
        throw StoredValueError(store.location(), Section, key, text, QStringLiteral("a number of twips"));
    return *value;
}

} // namespace

WindowPlacement ReadPlacement(const SettingsStore &store, const WindowPlacement &present, float screenWidth,
                              float screenHeight)
{
    WindowPlacement placement = present;
    const QString key = QStringLiteral("State");
    const QString text = store.read(applicationTitle(), Section, key, StoredText::formatInt(present.state));
    const std::optional<std::int32_t> state = StoredText::parseInt(text);
    if (!state || *state < 0 || *state > 2)
        throw StoredValueError(store.location(), Section, key, text,
                               QStringLiteral("0 (normal), 1 (minimised) or 2 (maximised)"));
    placement.state = *state;
    if (placement.state != 0)
        return placement;

    // The centring defaults use the size the window has now, before a stored size replaces it.
    placement.left = readFloat(store, QStringLiteral("Left"), centredStart(screenWidth, present.width));
    placement.top = readFloat(store, QStringLiteral("Top"), centredStart(screenHeight, present.height));
    placement.width = readFloat(store, QStringLiteral("Width"), present.width);
    placement.height = readFloat(store, QStringLiteral("Height"), present.height);
    return placement;
}

void WritePlacement(SettingsStore &store, const WindowPlacement &placement)
{
    store.write(applicationTitle(), Section, QStringLiteral("State"), StoredText::formatInt(placement.state));
    if (placement.state != 0)
        return;
    store.write(applicationTitle(), Section, QStringLiteral("Left"), StoredText::formatFloat(placement.left));
    store.write(applicationTitle(), Section, QStringLiteral("Top"), StoredText::formatFloat(placement.top));
    store.write(applicationTitle(), Section, QStringLiteral("Width"), StoredText::formatFloat(placement.width));
    store.write(applicationTitle(), Section, QStringLiteral("Height"), StoredText::formatFloat(placement.height));
}
