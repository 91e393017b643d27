#include "mainwindow/placement.h"

#include "platform/platform.h"
#include "platform/settingsstore.h"
#include "settings/persistence.h"
#include "settings/textconv.h"

#include <algorithm>
#include <cmath>

namespace {

const QString Section = QStringLiteral("Window");

// Far beyond any desktop, far inside int: a stored value past it is no place a screen could show.
constexpr double ReachablePixels = 1.0e6;

// Twips to whole pixels, or nothing for a value that is no pixel within reach. Checked before the
// conversion: a float of 1e30 twips does not fit an int.
std::optional<int> wholePixels(float twips, double twipsPerPixel)
{
    const double pixels = std::round(double(twips) / twipsPerPixel);
    if (!std::isfinite(pixels) || std::abs(pixels) > ReachablePixels)
        return std::nullopt;
    return static_cast<int>(pixels);
}

// A stored outer length: at least `minimum`, and at most a million pixels for a huge or infinite one (the
// caller shrinks it to the screen). Not a number: `fallback`.
int storedLength(float twips, double twipsPerPixel, int minimum, int fallback)
{
    const double pixels = double(twips) / twipsPerPixel;
    if (std::isnan(pixels))
        return std::max(fallback, minimum);
    return static_cast<int>(std::clamp(std::round(pixels), double(minimum), ReachablePixels));
}

constexpr int TitleBarHeight = 30;
constexpr int TitleBarReach = 100;

bool titleBarReachable(QRect frame, const ScreenAreas &screens)
{
    const QRect strip(frame.topLeft(), QSize(frame.width(), TitleBarHeight));
    const int wanted = std::min(TitleBarReach, frame.width());
    return std::any_of(screens.available.begin(), screens.available.end(), [&](const QRect &area) {
        const QRect seen = strip.intersected(area);
        return seen.width() >= wanted && seen.height() >= TitleBarHeight;
    });
}

} // namespace

OpeningFrame openingFrame(const WindowPlacement &stored, double twipsPerPixel, const ScreenAreas &screens,
                          QSize minimum, QSize fallbackSize, PositionKnown position)
{
    const QRect primary = screens.available.isEmpty() ? QRect(0, 0, 1024, 768) : screens.available.front();
    OpeningFrame opening;
    opening.size = QSize(storedLength(stored.width, twipsPerPixel, minimum.width(), fallbackSize.width()),
                         storedLength(stored.height, twipsPerPixel, minimum.height(), fallbackSize.height()));
    const auto shrunk = [&] {
        return QSize(std::max(std::min(opening.size.width(), primary.width()), minimum.width()),
                     std::max(std::min(opening.size.height(), primary.height()), minimum.height()));
    };
    if (position == PositionKnown::No) {
        opening.size = shrunk();
        return opening;
    }

    const std::optional<int> left = wholePixels(stored.left, twipsPerPixel);
    const std::optional<int> top = wholePixels(stored.top, twipsPerPixel);
    const bool sizeInReach = opening.size.width() < ReachablePixels && opening.size.height() < ReachablePixels;
    if (left && top && sizeInReach && titleBarReachable(QRect(QPoint(*left, *top), opening.size), screens)) {
        opening.topLeft = QPoint(*left, *top);
        return opening;
    }
    opening.size = shrunk();
    opening.topLeft = QPoint(primary.x() + (primary.width() - opening.size.width()) / 2,
                             primary.y() + (primary.height() - opening.size.height()) / 2);
    opening.mended = true;
    return opening;
}

WindowPlacement ReadPlacement(const SettingsStore &store, const WindowPlacement &present, float screenWidth,
                              float screenHeight)
{
    const StoredValueReader reader(store);
    WindowPlacement placement = present;
    placement.state = static_cast<WindowState>(
        reader.integer(Section, QStringLiteral("State"), static_cast<std::int32_t>(present.state), 0, 2,
                       QStringLiteral("0 (normal), 1 (minimised) or 2 (maximised)")));
    if (placement.state != WindowState::Normal)
        return placement;

    const QString twips = QStringLiteral("a number of twips");
    // The centring defaults use the size the window has now, before a stored size replaces it.
    placement.left = reader.number(Section, QStringLiteral("Left"), centredStart(screenWidth, present.width), twips);
    placement.top = reader.number(Section, QStringLiteral("Top"), centredStart(screenHeight, present.height), twips);
    placement.width = reader.number(Section, QStringLiteral("Width"), present.width, twips);
    placement.height = reader.number(Section, QStringLiteral("Height"), present.height, twips);
    return placement;
}

void WritePlacement(SettingsStore &store, const WindowPlacement &placement, PositionKnown position)
{
    store.write(applicationTitle(), Section, QStringLiteral("State"),
                StoredText::formatInt(static_cast<std::int32_t>(placement.state)));
    if (placement.state != WindowState::Normal)
        return;
    if (position == PositionKnown::Yes) {
        store.write(applicationTitle(), Section, QStringLiteral("Left"), StoredText::formatFloat(placement.left));
        store.write(applicationTitle(), Section, QStringLiteral("Top"), StoredText::formatFloat(placement.top));
    }
    store.write(applicationTitle(), Section, QStringLiteral("Width"), StoredText::formatFloat(placement.width));
    store.write(applicationTitle(), Section, QStringLiteral("Height"), StoredText::formatFloat(placement.height));
}
