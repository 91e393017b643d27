#pragma once

#include <QIcon>
#include <QString>

// The program's pictures, drawn from its own SVG resources. Each icon carries renderings from 16 px up to
// four times its largest use, so toolbars and title bars stay sharp at any scale factor without depending on
// an icon-engine plugin being installed next to Qt.

// A toolbar picture by image key: "play", "stop", "reset", "tool", "sound", "help" or "exit". An unknown key
// gives a null icon, so a typo shows up as a missing picture rather than as the wrong one.
QIcon toolbarIcon(const QString &key);

// The stopwatch shown in the title bar and the task switcher.
QIcon applicationIcon();

// The resource path of the picture behind a toolbar key, or an empty string for an unknown key.
QString toolbarIconPath(const QString &key);
