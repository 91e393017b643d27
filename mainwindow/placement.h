#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <optional>

class SettingsStore;

// The main window's state as section "Window" keeps it: the numbers are the stored text.
enum class WindowState : std::int32_t
{
    Normal = 0,
    Minimised = 1,
    Maximised = 2
};

// The main window's placement as section "Window" keeps it: the window state and the outer frame in twips.
struct WindowPlacement
{
    WindowState state = WindowState::Normal;
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

// Whether the desktop tells a window where it stands. Where it does not (native Wayland), a position read
// back is only what the program asked for, so it is neither applied nor written.
enum class PositionKnown
{
    Yes,
    No
};

// Writes the state and, only in the normal state, the frame (without Left and Top when the position is
// not known). Other keys keep what they held.
void WritePlacement(SettingsStore &store, const WindowPlacement &placement,
                    PositionKnown position = PositionKnown::Yes);

// The screens present now, as the frame's placement sees them: each one's available area (without panels
// and docks), device-independent pixels, the primary screen's first.
struct ScreenAreas
{
    QList<QRect> available;
};

// The outer frame a window opens with for a stored normal placement, in pixels. `topLeft` is empty when the
// position is not known and the desktop places the window itself.
struct OpeningFrame
{
    std::optional<QPoint> topLeft;
    QSize size;
    // True when the stored position was given up and the frame centred on the primary screen instead.
    bool mended = false;
};

// A stored frame is used as it stands when its title bar strip (the top 30 pixels, at least 100 of them
// wide, or the whole width of a narrower frame) lies inside the available area of one screen: the user can
// then reach it to drag the window. Otherwise the window opens at the stored size, shrunk to fit the primary
// screen, centred there. A value that is not a whole number of pixels within reach (infinite, not a number,
// beyond a million pixels) counts as off every screen; a size below `minimum` opens at `minimum`, and a size
// that is not a number at `fallbackSize`.
OpeningFrame openingFrame(const WindowPlacement &stored, double twipsPerPixel, const ScreenAreas &screens,
                          QSize minimum, QSize fallbackSize, PositionKnown position);
