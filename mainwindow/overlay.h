#pragma once

#include "clock/clocksnapshot.h"
#include "mainwindow/presentersettings.h"

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

#include <optional>

class ActiveWindowWatch;
class ClockSession;

// The corner of `screen` nearest `place` (the main window's frame), judged by its centre; a centre on a
// middle line goes to the top, then to the right.
OverlayCorner nearestCorner(const QRect &screen, const QRect &place);
// Where a read-out of `size` stands in `corner` of `screen`, `margin` in from both edges.
QRect overlayPlace(const QRect &screen, const QSize &size, OverlayCorner corner, int margin);

// The digits in a corner of the main window's screen while another program's full-screen window is
// active there and Stay on Top is on: the desktops that raise such a window above every keep-above
// window (KWin, openbox) would otherwise hide the time at the very moment the speaker needs it. It is a
// window the desktop does not manage, so none stacks above it, and it never takes the focus. Only a
// grip along its inner side takes the mouse, to drag it to another corner; clicks anywhere else on it
// reach the slides beneath. Gone as soon as that window is no longer active, or Stay on Top is off.
class Overlay final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Overlay)

public:
    Overlay(const ClockSession &session, QWidget *mainWindow);

    void setStayOnTop(bool on);
    // The corner the speaker dragged it to, or none to follow the main window.
    void setCorner(std::optional<OverlayCorner> corner);

signals:
    // Dragged to `corner`: to be kept.
    void cornerChosen(OverlayCorner corner);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void take(const ClockSnapshot &snapshot, ClockEvents events);
    void reconsider();
    void place();
    QRect grip() const;
    QString text() const;
    QScreen *targetScreen() const;

    const ClockSession &session_;
    QWidget *mainWindow_;
    ActiveWindowWatch *watch_;
    bool onTop_ = false;
    std::optional<OverlayCorner> corner_;
    QString minutes_, seconds_; // shared with the snapshot: nothing is copied
    QColor back_, fore_;
    bool blackout_ = false;
    std::optional<QPoint> dragFrom_; // where in the window the grip was taken
};
