#include "mainwindow/audiencewindow.h"

#include "mainwindow/labelplacing.h"
#include "platform/units.h"

#include <QKeyEvent>
#include <QLabel>
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

AudienceWindow::AudienceWindow(QScreen *screen, std::function<void(QKeyEvent *)> keys, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
    , screenName_(screen->name())
    , keys_(std::move(keys))
{
    setObjectName(QStringLiteral("AudienceWindow"));
    setWindowTitle(QStringLiteral("Kestrim Audience"));
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Closing the main window ends the program; this one never keeps it alive on its own.
    setAttribute(Qt::WA_QuitOnClose, false);
    // The stage background reaches the screen's edges, not only the labels' boxes.
    setAutoFillBackground(true);
    lblMin_ = new QLabel(QStringLiteral("00"), this);
    lblMin_->setObjectName(QStringLiteral("lblMin"));
    lblSec_ = new QLabel(QStringLiteral("00"), this);
    lblSec_->setObjectName(QStringLiteral("lblSec"));
    lblMin_->setAccessibleDescription(QStringLiteral("Minutes"));
    lblSec_->setAccessibleDescription(QStringLiteral("Seconds"));
    for (QLabel *digits : {lblMin_, lblSec_}) {
        digits->setAlignment(Qt::AlignCenter);
        digits->setAutoFillBackground(true);
    }
    setScreen(screen);
    setGeometry(screen->geometry());
}

void AudienceWindow::setDigitFont(const QFont &font)
{
    for (QLabel *digits : {lblMin_, lblSec_}) {
        QFont f = font;
        f.setPointSizeF(digits->font().pointSizeF());
        digits->setFont(f);
    }
    layoutDigits();
}

void AudienceWindow::setDigitPalette(const QPalette &palette)
{
    lblMin_->setPalette(palette);
    lblSec_->setPalette(palette);
    QPalette own = this->palette();
    own.setColor(QPalette::Window, palette.color(QPalette::Active, QPalette::Window));
    setPalette(own);
}

void AudienceWindow::setDigitsEnabled(bool enabled)
{
    lblMin_->setEnabled(enabled);
    lblSec_->setEnabled(enabled);
}

void AudienceWindow::setTexts(const QString &minutes, const QString &seconds)
{
    lblMin_->setText(minutes);
    lblSec_->setText(seconds);
}

void AudienceWindow::setRatios(float digitAspect, float secondsScale, float fontScale)
{
    digitAspect_ = digitAspect;
    secondsScale_ = secondsScale;
    fontScale_ = fontScale;
    layoutDigits();
}

void AudienceWindow::layoutDigits()
{
    LabelLayoutInput in;
    in.clientWidth = Units::toTwips(width());
    in.clientHeight = Units::toTwips(height());
    in.digitAspect = digitAspect_;
    in.secondsScale = secondsScale_;
    in.fontScale = fontScale_;
    in.twipsPerPixel = static_cast<float>(Units::twipsPerPixel());
    const std::optional<LabelLayout> layout = layoutLabels(in);
    if (!layout)
        return;
    placeLabel(lblMin_, layout->minutes);
    placeLabel(lblSec_, layout->seconds);
    setLabelPoints(lblMin_, layout->minutesPoints);
    setLabelPoints(lblSec_, layout->secondsPoints);
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
