#pragma once

#include <QString>

class SettingsStore;

// How the main window serves the room, kept in section "Window" beside the placement: full screen, above
// other windows, and the screen of the audience window (by the name the desktop gives it; empty for none).
struct PresenterSettings
{
    bool fullScreen = false;
    bool onTop = false;
    QString audience;
    friend bool operator==(const PresenterSettings &, const PresenterSettings &) = default;
};

// Missing keys keep the defaults above. Throws StoredValueError for "FullScreen" or "OnTop" that is not a
// truth value.
PresenterSettings ReadPresenterSettings(const SettingsStore &store);
void WritePresenterSettings(SettingsStore &store, const PresenterSettings &settings);
