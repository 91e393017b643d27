#pragma once

#include <QAbstractNativeEventFilter>
#include <QList>
#include <QObject>
#include <QRect>
#include <QWidget>
#include <QWindow>

#include <cstdint>
#include <optional>

// What Kestrim tells an X11 desktop (also XWayland) and asks of it beyond what Qt does. Off X11 every
// function does nothing and finds nothing.
namespace X11Desktop {

// For a top-level widget that belongs to the main window (the audience window), before it is first shown:
// it is part of Kestrim, so it gets no task bar or pager entry of its own, said from its first map on.
// Makes its native window.
void markCompanion(QWidget *window);

// Mouse presses reach `window` only inside `area` (the window's own coordinates); elsewhere they fall
// through to the window below, as if it were not there.
void setInputArea(QWindow *window, const QRect &area);

// The desktop's active window when it is full screen and another program's (none of `own`), in the
// root window's pixels; `mainAbove` tells whether window `main` stacks above it all the same.
struct FullScreenWindow
{
    QRect geometry;
    bool mainAbove = false;
};
std::optional<FullScreenWindow> activeFullScreenWindow(const QList<WId> &own, WId main);

} // namespace X11Desktop

// Tells when the desktop's active window changes, or its state, place or stacking does: from the X
// server's notifications, with no polling. Stopped, it looks at no event.
class ActiveWindowWatch final : public QObject, private QAbstractNativeEventFilter
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActiveWindowWatch)

public:
    explicit ActiveWindowWatch(QObject *parent = nullptr);
    ~ActiveWindowWatch() override;

    void setWatching(bool on);

signals:
    void changed();

private:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
    void follow(std::uint32_t window);

    bool watching_ = false;
    std::uint32_t root_ = 0;
    std::uint32_t followed_ = 0; // the active window, while it is another program's
    std::uint32_t activeAtom_ = 0, stackingAtom_ = 0, stateAtom_ = 0;
};
