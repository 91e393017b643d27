#include "mainwindow/audiencewindow.h"

#include "clock/clocksession.h"
#include "mainwindow/digitpanel.h"
#include "platform/units.h"
#include "platform/x11desktop.h"

#include <QKeyEvent>
#include <QScreen>

QString audienceEntryText(const ScreenEntry &screen)
{
    return QStringLiteral("%1 (%2 x %3)").arg(screen.name).arg(screen.size.width()).arg(screen.size.height());
}

std::optional<qsizetype> screenNamed(const QList<ScreenEntry> &screens, const QString &name)
{
    if (name.isEmpty())
        return std::nullopt;
    for (qsizetype i = 0; i < screens.size(); ++i) {
        if (screens.at(i).name == name)
            return i;
    }
    return std::nullopt;
}

AudienceWindow::AudienceWindow(QScreen *screen, const ClockSession &session, std::function<void(QKeyEvent *)> keys,
                               QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
    , session_(session)
    , screenName_(screen->name())
    , keys_(std::move(keys))
{
    setObjectName(QStringLiteral("AudienceWindow"));
    setWindowTitle(QStringLiteral("Kestrim Audience"));
    setFocusPolicy(Qt::NoFocus);
    // Not WA_ShowWithoutActivating: Qt says that to X11 desktops with a user time of 0, which KWin takes
    // for an activation refused at map time and answers with "demands attention" for as long as the
    // window is open. The window takes no focus anyway, and the room gives the activation back to the
    // main window after the map.
    // Closing the main window ends the program; this one never keeps it alive on its own.
    setAttribute(Qt::WA_QuitOnClose, false);
    digits_ = new DigitPanel(this);
    digits_->setObjectName(QStringLiteral("AudienceDigits"));
    // The stage background reaches the screen's edges, not only the labels' boxes.
    digits_->setFillsPanel(true);
    digits_->setMessageShown(true);
    applyFont();
    digits_->observe(session);
    connect(&session, &ClockSession::changed, this, [this](const ClockSnapshot &, ClockEvents events) {
        if (events.testFlag(ClockEvent::Reconfigured))
            applyFont();
    });
    setScreen(screen);
    setGeometry(screen->geometry());
    X11Desktop::markCompanion(this);
}

void AudienceWindow::applyFont()
{
    const FontSetting &font = session_.setting().Font;
    const DigitRatios ratios = measureDigitFont(font);
    if (ratios.fontScale > 0) {
        digitAspect_ = ratios.digitAspect;
        fontScale_ = ratios.fontScale;
    }
    digits_->setDigitFont(font);
    layoutDigits();
}

void AudienceWindow::layoutDigits()
{
    digits_->setGeometry(rect());
    LabelLayoutInput in;
    in.clientWidth = Units::toTwips(width());
    in.clientHeight = Units::toTwips(height());
    in.digitAspect = digitAspect_;
    in.secondsScale = 0.4f;
    in.fontScale = fontScale_;
    in.twipsPerPixel = static_cast<float>(Units::twipsPerPixel());
    digits_->arrange(in);
}

void AudienceWindow::keyPressEvent(QKeyEvent *event)
{
    if (keys_)
        keys_(event);
}

void AudienceWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutDigits();
}
