#pragma once

#include <QString>

class SettingsStore;
class TickCounter;
class SoundPlayer;
class ColorChooser;
class FileChooser;
class MessageBoxes;
class WallClock;

// Everything the program needs from the desktop, handed to the windows when they are made. The real
// program passes the Qt implementations; tests pass fakes.
struct Platform
{
    SettingsStore &store;
    TickCounter &ticks;
    SoundPlayer &sound;
    ColorChooser &colors;
    FileChooser &files;
    MessageBoxes &messages;
    WallClock &wallClock;  // places a programme's talks in the day; never times one
    QString programFolder; // folder of the executable, native separators, no trailing separator added
    // False where the desktop tells a window neither its position nor that it was minimised (native
    // Wayland): the window then keeps the stored position and shows the running time in its caption
    // whenever it is not the active window.
    bool reportsWindowPlacement = true;
};

// The application title: the settings store's application name and every window caption.
inline QString applicationTitle()
{
    return QStringLiteral("Kestrim");
}
