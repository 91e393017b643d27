#pragma once

#include <cstdint>

class SettingsStore;

// The main window's placement as section "Window" keeps it: the window state (0 normal, 1 minimised,
// 2 maximised) and the outer frame in twips.
struct WindowPlacement
{
    std::int32_t state = 0;
    float left = 0, top = 0, width = 0, height = 0;
};

// Where a frame of `size` twips starts when it is centred on a screen of `screen` twips: the default
// position, and how a stored position is recognised as that default.
inline float centredStart(float screen, float size)
{
    return (screen - size) / 2;
}

// Reads section "Window". `present` is the window as it stands (its state and outer frame, twips) and
// supplies every default; the position defaults centre that frame on a screen of the given size. The
// frame is read only for a normal state. Throws StoredValueError for a value that does not convert or a
// state other than 0, 1 or 2.
WindowPlacement ReadPlacement(const SettingsStore &store, const WindowPlacement &present, float screenWidth,
                              float screenHeight);

// Writes the state and, only in the normal state, the frame. Other keys keep what they held.
void WritePlacement(SettingsStore &store, const WindowPlacement &placement);
