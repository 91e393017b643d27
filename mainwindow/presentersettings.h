#pragma once

#include <QString>

#include <optional>

class SettingsStore;

// The corner of a screen where the read-out over another program's full-screen window stands.
enum class OverlayCorner
{
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight
};

// The stored words: "TopLeft", "TopRight", "BottomLeft", "BottomRight".
QString overlayCornerName(OverlayCorner corner);
std::optional<OverlayCorner> overlayCornerNamed(const QString &name);

// How the main window serves the room, kept in section "Window" beside the placement: full screen, above
// other windows, and the screen of the audience window (by the name the desktop gives it; empty for none).
struct PresenterSettings
{
    bool fullScreen = false;
    bool onTop = false;
    QString audience;
    // Where the speaker dragged the read-out to; none (stored empty) while it follows the main window.
    std::optional<OverlayCorner> overlayCorner;
    friend bool operator==(const PresenterSettings &, const PresenterSettings &) = default;
};

// Missing keys keep the defaults above. Throws StoredValueError for "FullScreen" or "OnTop" that is not a
// truth value, and for an "OverlayCorner" that is neither empty nor a corner's name.
PresenterSettings ReadPresenterSettings(const SettingsStore &store);
void WritePresenterSettings(SettingsStore &store, const PresenterSettings &settings);
