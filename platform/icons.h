#pragma once

#include <QIcon>
#include <QString>

// The program's pictures, drawn as SVG and rendered at build time into PNGs at every size they are shown at,
// from 16 px up to four times their largest use, so toolbars and title bars stay sharp at any scale factor.

// A toolbar picture by image key: "play", "stop", "reset", "tool", "sound", "help" or "exit". An unknown key
// gives a null icon, so a typo shows up as a missing picture rather than as the wrong one.
QIcon toolbarIcon(const QString &key);

// The stopwatch shown in the title bar and the task switcher.
QIcon applicationIcon();

// The picture's name behind a toolbar key, or an empty string for an unknown key.
QString toolbarIconName(const QString &key);

// The resource holding the rendering of picture `name` at `size` pixels square.
QString renderedIconPath(const QString &name, int size);
