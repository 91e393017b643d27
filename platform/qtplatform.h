#pragma once

#include <QByteArray>

#include <optional>

// Which of Qt's desktop connections the program runs through.

// What the environment offers, as the variables hold it (empty when unset).
struct DisplayEnvironment
{
    QByteArray qtPlatform;     // QT_QPA_PLATFORM: the user's own choice
    QByteArray waylandDisplay; // WAYLAND_DISPLAY
    QByteArray x11Display;     // DISPLAY
};

// The platform to ask Qt for, or nothing to leave the choice to Qt. A Wayland session that also offers an
// X11 display (XWayland) gets X11: Wayland tells a program neither where its window stands nor that it was
// minimised, so the placement could not be kept and the minimised read-out would never show. A platform
// the user chose is always respected.
std::optional<QByteArray> chooseQtPlatform(const DisplayEnvironment &environment);

// The environment of this process.
DisplayEnvironment displayEnvironment();

// False on native Wayland, where a window's position read back is only the one the program asked for and
// minimising is never reported. Needs the application object.
bool desktopReportsWindowPlacement();
