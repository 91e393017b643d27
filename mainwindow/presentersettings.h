#pragma once

#include "clock/clocksnapshot.h"

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
// other windows, the screen of the audience window (by the name the desktop gives it; empty for none), the
// read-out mode and the flash at a stage end.
struct PresenterSettings
{
    bool fullScreen = false;
    bool onTop = false;
    QString audience;
    ReadOutMode readOut = ReadOutMode::Elapsed;
    bool flash = false;
    // Where the speaker dragged the read-out over full-screen windows to; none while it follows the main
    // window.
    std::optional<OverlayCorner> overlayCorner;
    friend bool operator==(const PresenterSettings &, const PresenterSettings &) = default;
};

// Missing keys keep the defaults above. Throws StoredValueError for "FullScreen", "OnTop" or "Flash" that is
// not a truth value, a "ReadOut" other than Elapsed, StageLeft or TalkLeft, and an "OverlayCorner" that is
// neither empty nor a corner's name.
PresenterSettings ReadPresenterSettings(const SettingsStore &store);
// "ReadOut" and "Flash" are written only once they differ from their defaults or are in the store already,
// so that a user who never touches them keeps the file as before.
void WritePresenterSettings(SettingsStore &store, const PresenterSettings &settings);
