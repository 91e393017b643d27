#include "mainwindow/overlay.h"

#include "clock/clocksession.h"
#include "mainwindow/digitpanel.h"
#include "platform/colours.h"
#include "platform/x11desktop.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace {

// The longest text the read-out usually shows, so that it keeps its size from second to second.
const QString Widest = QStringLiteral("-00:00");

QColor halfway(const QColor &a, const QColor &b)
{
    return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

} // namespace

OverlayCorner nearestCorner(const QRect &screen, const QRect &place)
{
    // Doubled, so that the middle of an even size is no rounding matter.
    const QPoint centre = place.topLeft() * 2 + QPoint(place.width(), place.height());
    const QPoint middle = screen.topLeft() * 2 + QPoint(screen.width(), screen.height());
    const bool top = centre.y() <= middle.y();
    const bool right = centre.x() >= middle.x();
    if (top)
        return right ? OverlayCorner::TopRight : OverlayCorner::TopLeft;
    return right ? OverlayCorner::BottomRight : OverlayCorner::BottomLeft;
}

QRect overlayPlace(const QRect &screen, const QSize &size, OverlayCorner corner, int margin)
{
    const bool left = corner == OverlayCorner::TopLeft || corner == OverlayCorner::BottomLeft;
    const bool top = corner == OverlayCorner::TopLeft || corner == OverlayCorner::TopRight;
    const int x = left ? screen.left() + margin : screen.left() + screen.width() - margin - size.width();
    const int y = top ? screen.top() + margin : screen.top() + screen.height() - margin - size.height();
    return QRect(QPoint(x, y), size);
}

Overlay::Overlay(const ClockSession &session, QWidget *mainWindow)
    : QWidget(mainWindow, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                              Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint)
    , session_(session)
    , mainWindow_(mainWindow)
    , watch_(new ActiveWindowWatch(this))
{
    setObjectName(QStringLiteral("Overlay"));
    setWindowTitle(QStringLiteral("Kestrim Overlay"));
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_QuitOnClose, false);
    connect(watch_, &ActiveWindowWatch::changed, this, &Overlay::reconsider);
    connect(&session_, &ClockSession::changed, this, &Overlay::take);
    take(session_.snapshot(), {});
}

void Overlay::setStayOnTop(bool on)
{
    onTop_ = on;
    watch_->setWatching(on);
    reconsider();
}

void Overlay::setCorner(std::optional<OverlayCorner> corner)
{
    corner_ = corner;
    if (isVisible())
        place();
}

void Overlay::take(const ClockSnapshot &snapshot, ClockEvents)
{
    const DigitColours colours = digitColours(snapshot);
    const QColor back = toQColor(colours.background);
    QColor fore = toQColor(colours.foreground);
    // Greyed as the main window's digits are while the clock does not run.
    if (!snapshot.digitsEnabled)
        fore = halfway(fore, back);
    if (snapshot.minutes == minutes_ && snapshot.seconds == seconds_ && back == back_ && fore == fore_ &&
        snapshot.blackout == blackout_)
        return;
    blackout_ = snapshot.blackout;
    const qsizetype length = snapshot.minutes.size() + 1 + snapshot.seconds.size();
    const bool longer = length > std::max(minutes_.size() + 1 + seconds_.size(), Widest.size());
    minutes_ = snapshot.minutes;
    seconds_ = snapshot.seconds;
    back_ = back;
    fore_ = fore;
    if (isVisible() && longer)
        place();
    update();
}

QString Overlay::text() const
{
    return minutes_ + QLatin1Char(':') + seconds_;
}

QScreen *Overlay::targetScreen() const
{
    return mainWindow_->screen();
}

void Overlay::reconsider()
{
    bool wanted = false;
    QScreen *screen = targetScreen();
    // Nothing to stand in for before the main window has a native window of its own.
    const QWindow *main = mainWindow_->windowHandle();
    if (onTop_ && screen && main && main->handle()) {
        QList<WId> own;
        for (const QWidget *window : QApplication::topLevelWidgets()) {
            if (window->windowHandle() && window->windowHandle()->handle())
                own.append(window->windowHandle()->winId());
        }
        const std::optional<X11Desktop::FullScreenWindow> full = X11Desktop::activeFullScreenWindow(own, main->winId());
        // The X server counts in device pixels from the screen's top left corner.
        const QRect native(screen->geometry().topLeft(), screen->geometry().size() * screen->devicePixelRatio());
        wanted = full && !full->mainAbove && native.contains(full->geometry.center());
    }
    if (!wanted) {
        hide();
        dragFrom_.reset();
        return;
    }
    place();
    QWidget::show();
    // Above whatever the desktop raised just now.
    raise();
    X11Desktop::setInputArea(windowHandle(), grip());
}

void Overlay::place()
{
    QScreen *screen = targetScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    QFont font = digitFace(session_.setting().Font);
    font.setPixelSize(std::max(16, area.height() / 12));
    setFont(font);
    const QFontMetrics metrics(font);
    const int pad = metrics.height() / 6;
    const int width = std::max(metrics.horizontalAdvance(Widest), metrics.horizontalAdvance(text()));
    const QSize size(width + 2 * pad + metrics.height() / 4, metrics.height() + pad);
    const OverlayCorner corner = corner_.value_or(nearestCorner(area, mainWindow_->frameGeometry()));
    setGeometry(overlayPlace(area, size, corner, metrics.height() / 4));
    if (isVisible())
        X11Desktop::setInputArea(windowHandle(), grip());
}

// Along the side that faces the middle of the screen, so it is never in the screen's own corner.
QRect Overlay::grip() const
{
    const int width = std::max(6, height() / 4);
    const QScreen *screen = targetScreen();
    const bool leftHalf = screen && geometry().center().x() < screen->geometry().center().x();
    return leftHalf ? QRect(this->width() - width, 0, width, height()) : QRect(0, 0, width, height());
}

void Overlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (blackout_) {
        // Over the slides too the speaker sees nothing but black; the grip still drags it where it stands.
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.fillRect(rect(), back_);
    const QRect grip = this->grip();
    QRect digits = rect();
    if (grip.x() == 0)
        digits.setLeft(grip.right() + 1);
    else
        digits.setRight(grip.left() - 1);
    painter.setPen(fore_);
    painter.drawText(digits, Qt::AlignCenter, text());
    // The grip: a column of dots, fainter than the digits.
    QColor dots = fore_;
    dots.setAlphaF(0.5);
    const int step = std::max(3, grip.width() / 2);
    for (int y = grip.top() + step; y + step / 2 < grip.bottom(); y += step)
        painter.fillRect(QRect(grip.center().x() - step / 4, y, std::max(1, step / 2), std::max(1, step / 2)), dots);
}

void Overlay::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && grip().contains(event->position().toPoint()))
        dragFrom_ = event->position().toPoint();
}

void Overlay::mouseMoveEvent(QMouseEvent *event)
{
    if (dragFrom_)
        move(event->globalPosition().toPoint() - *dragFrom_);
}

void Overlay::mouseReleaseEvent(QMouseEvent *event)
{
    if (!dragFrom_ || event->button() != Qt::LeftButton)
        return;
    dragFrom_.reset();
    if (const QScreen *screen = targetScreen()) {
        corner_ = nearestCorner(screen->geometry(), frameGeometry());
        emit cornerChosen(*corner_);
    }
    place();
}
