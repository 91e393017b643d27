#include "mainwindow/mainwindow.h"
#include "platform/settingsstore.h"
#include "platform/units.h"

#include <QGuiApplication>
#include <QScreen>

// Where the main window opens and what it stores of its place: the part of fMain that speaks with the
// window manager about frames and states.

void fMain::placeLoaded()
{
    const QRect frame = frameGeometry();
    const WindowPlacement present{WindowState::Normal, Units::toTwips(frame.x()), Units::toTwips(frame.y()),
                                  Units::toTwips(frame.width()), Units::toTwips(frame.height())};
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->geometry().size() : QSize(1024, 768);
    loaded_ = ReadPlacement(platform_.store, present, Units::toTwips(screenSize.width()),
                            Units::toTwips(screenSize.height()));
    // Until the window manager has framed the window its outer size is its client size: a position centred
    // now is off by the frame, and a stored outer size is too large by it. Both are put right once the frame
    // is known.
    const float centredLeft = centredStart(Units::toTwips(screenSize.width()), present.width);
    const float centredTop = centredStart(Units::toTwips(screenSize.height()), present.height);
    if (loaded_.state != WindowState::Normal) {
        // Opened minimised or maximised: restoring it gives the created size, centred.
        if (positionKnown_ == PositionKnown::Yes) {
            move(Units::toPixels(centredLeft), Units::toPixels(centredTop));
            pendingFrame_.centreClient = size();
        }
    } else {
        ScreenAreas screens;
        if (screen)
            screens.available.append(screen->availableGeometry());
        for (const QScreen *other : QGuiApplication::screens()) {
            if (other != screen)
                screens.available.append(other->availableGeometry());
        }
        const OpeningFrame opening =
            openingFrame(loaded_, Units::twipsPerPixel(), screens, minimumSizeHint(), size(), positionKnown_);
        if (opening.topLeft)
            move(*opening.topLeft);
        if (!opening.mended && positionKnown_ == PositionKnown::Yes && loaded_.left == centredLeft &&
            loaded_.top == centredTop)
            pendingFrame_.centreClient = size();
        if (opening.size != size()) {
            resize(opening.size);
            pendingFrame_.outerSize = opening.size;
        }
    }
}

void fMain::showPlaced()
{
    switch (loaded_.state) {
    case WindowState::Minimised:
        showMinimized();
        break;
    case WindowState::Maximised:
        showMaximized();
        break;
    case WindowState::Normal:
        QMainWindow::show();
        break;
    }
    setFocus(Qt::ActiveWindowFocusReason);
}

void fMain::applyPendingFrame()
{
    if (!pendingFrame_.active() || !isVisible() || windowState() != Qt::WindowNoState)
        return;
    const QSize frame = frameGeometry().size();
    const QSize client = size();
    if (frame == client)
        return; // not framed (yet)
    const QSize margins = frame - client;
    if (pendingFrame_.centreClient) {
        const QSize outer = *pendingFrame_.centreClient + margins;
        const QRect screen = this->screen() ? this->screen()->geometry() : QRect(0, 0, 1024, 768);
        move(screen.x() + (screen.width() - outer.width()) / 2, screen.y() + (screen.height() - outer.height()) / 2);
    }
    if (pendingFrame_.outerSize)
        resize(*pendingFrame_.outerSize - margins);
    pendingFrame_ = {};
}

bool fMain::isFramed() const
{
    return !pendingFrame_.active() && isVisible() && frameGeometry() != geometry();
}

void fMain::holdPlacement()
{
    placementBeforeFullScreen_ = currentPlacement();
}

WindowPlacement fMain::currentPlacement() const
{
    // Full screen is stored as its own key; the placement keeps describing the window it covers up.
    if (isFullScreen())
        return placementBeforeFullScreen_;
    WindowPlacement placement;
    if (isMinimized())
        placement.state = WindowState::Minimised;
    else if (isMaximized())
        placement.state = WindowState::Maximised;
    const QRect frame = frameGeometry();
    placement.left = Units::toTwips(frame.x());
    placement.top = Units::toTwips(frame.y());
    placement.width = Units::toTwips(frame.width());
    placement.height = Units::toTwips(frame.height());
    return placement;
}
