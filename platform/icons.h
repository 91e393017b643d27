#pragma once

#include <QColor>
#include <QIcon>
#include <QPalette>
#include <QString>

// The program's pictures, drawn as SVG and rendered at build time into PNGs at every size they are shown at,
// from 16 px up to four times their largest use, so toolbars and title bars stay sharp at any scale factor.

// A toolbar picture by image key: "play", "stop", "reset", "tool", "sound", "help" or "exit", made for a
// toolbar drawn in `palette`. An unknown key gives a null icon, so a typo shows up as a missing picture
// rather than as the wrong one. The black pictures (play, stop, reset, help) take the palette's button-text
// colour; the coloured ones keep their colours and get a ring of it where their own edge would not stand
// out from the toolbar. Disabled, every picture reads weaker than enabled: a black one takes the palette's
// disabled text colour where that is weaker than the enabled one (else a colour halfway to the toolbar), a
// coloured one fades to half its strength in grey. A toolbar must ask again when its palette changes.
QIcon toolbarIcon(const QString &key, const QPalette &palette = QPalette());

// The background the toolbar pictures are drawn on.
QColor toolbarBackground(const QPalette &palette);

// The stopwatch shown in the title bar and the task switcher.
QIcon applicationIcon();

// The picture's name behind a toolbar key, or an empty string for an unknown key.
QString toolbarIconName(const QString &key);

// The resource holding the rendering of picture `name` at `size` pixels square.
QString renderedIconPath(const QString &name, int size);
