#include "mainwindow/placement.h"

#include "platform/platform.h"
#include "platform/settingsstore.h"
#include "settings/persistence.h"
#include "settings/textconv.h"

namespace {

const QString Section = QStringLiteral("Window");

} // namespace

WindowPlacement ReadPlacement(const SettingsStore &store, const WindowPlacement &present, float screenWidth,
                              float screenHeight)
{
    const StoredValueReader reader(store);
    WindowPlacement placement = present;
    placement.state = reader.integer(Section, QStringLiteral("State"), present.state, 0, 2,
                                     QStringLiteral("0 (normal), 1 (minimised) or 2 (maximised)"));
    if (placement.state != 0)
        return placement;

    const QString twips = QStringLiteral("a number of twips");
    // The centring defaults use the size the window has now, before a stored size replaces it.
    placement.left = reader.number(Section, QStringLiteral("Left"), centredStart(screenWidth, present.width), twips);
    placement.top = reader.number(Section, QStringLiteral("Top"), centredStart(screenHeight, present.height), twips);
    placement.width = reader.number(Section, QStringLiteral("Width"), present.width, twips);
    placement.height = reader.number(Section, QStringLiteral("Height"), present.height, twips);
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
