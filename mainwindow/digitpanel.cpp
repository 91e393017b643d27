#include "mainwindow/digitpanel.h"

#include "clock/clocksession.h"
#include "mainwindow/labelplacing.h"
#include "platform/colours.h"
#include "platform/units.h"

#include <QFontMetricsF>
#include <QLabel>

namespace {

QFont digitFont(const FontSetting &setting, double points)
{
    QFont font = digitFace(setting);
    font.setPointSizeF(points);
    return font;
}

// The disabled digits are drawn greyed on the stage background; pick a grey that stays readable on it.
QColor greyedOn(const QColor &background)
{
    const QColor grey(128, 128, 128);
    return qAbs(background.lightness() - grey.lightness()) < 48
               ? (background.lightness() < 128 ? QColor(200, 200, 200) : QColor(64, 64, 64))
               : grey;
}

QPalette stagePalette(QPalette palette, const QColor &back, const QColor &fore)
{
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, back);
        palette.setColor(group, QPalette::WindowText, group == QPalette::Disabled ? greyedOn(back) : fore);
    }
    return palette;
}

} // namespace

QFont digitFace(const FontSetting &setting)
{
    QFont font(setting.Name);
    font.setBold(setting.Bold);
    font.setItalic(setting.Italic);
    return font;
}

DigitRatios measureDigitFont(const FontSetting &font)
{
    const QFontMetricsF metrics(digitFont(font, 100));
    const auto tpp = static_cast<float>(Units::twipsPerPixel());
    const DigitMeasure measure{static_cast<float>(metrics.horizontalAdvance(QStringLiteral("00"))) * tpp,
                               static_cast<float>(metrics.height()) * tpp};
    return digitRatios(measure, font.Italic);
}

DigitPanel::DigitPanel(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    lblMin_ = new QLabel(QStringLiteral("00"), this);
    lblMin_->setObjectName(QStringLiteral("lblMin"));
    lblSec_ = new QLabel(QStringLiteral("00"), this);
    lblSec_->setObjectName(QStringLiteral("lblSec"));
    // Screen readers read the labels' own texts; the descriptions say which number is which.
    lblMin_->setAccessibleDescription(QStringLiteral("Minutes"));
    lblSec_->setAccessibleDescription(QStringLiteral("Seconds"));
    for (QLabel *digits : {lblMin_, lblSec_}) {
        digits->setAlignment(Qt::AlignCenter);
        digits->setAutoFillBackground(true);
    }
    lblMessage_ = new QLabel(this);
    lblMessage_->setObjectName(QStringLiteral("lblMessage"));
    // Screen readers read the message itself; the description says what it is.
    lblMessage_->setAccessibleDescription(QStringLiteral("Message to Speaker"));
    lblMessage_->setAlignment(Qt::AlignCenter);
    // On the stage background like the digits, also where the panel itself is not filled.
    lblMessage_->setAutoFillBackground(true);
    lblMessage_->hide();
    lblTalk_ = new QLabel(this);
    lblTalk_->setObjectName(QStringLiteral("lblTalk"));
    lblTalk_->setAccessibleDescription(QStringLiteral("Talk"));
    lblTalk_->setAlignment(Qt::AlignCenter);
    lblTalk_->setAutoFillBackground(true);
    lblTalk_->hide();
    // Raised over everything else the panel holds while a blackout is on where the speaker looks.
    blackout_ = new QWidget(this);
    blackout_->setObjectName(QStringLiteral("Blackout"));
    blackout_->setAutoFillBackground(true);
    QPalette black = blackout_->palette();
    black.setColor(QPalette::Window, Qt::black);
    blackout_->setPalette(black);
    blackout_->hide();
}

void DigitPanel::observe(const ClockSession &session)
{
    connect(&session, &ClockSession::changed, this, [this](const ClockSnapshot &snapshot) { show(snapshot); });
    // Revision 0 is the empty state before the first configuration: nothing to show yet.
    if (session.snapshot().revision > 0)
        show(session.snapshot());
}

void DigitPanel::setDigitFont(const FontSetting &font)
{
    for (QLabel *label : {lblMin_, lblSec_, lblMessage_, lblTalk_}) {
        QFont f = label->font();
        f.setFamily(font.Name);
        f.setBold(font.Bold);
        f.setItalic(font.Italic);
        label->setFont(f);
    }
    minusWidth_ = static_cast<float>(QFontMetricsF(digitFont(font, 100)).horizontalAdvance(QLatin1Char('-')) *
                                     Units::twipsPerPixel());
    rearrange();
}

void DigitPanel::setMessageShown(bool shown)
{
    if (shown == messageShown_)
        return;
    messageShown_ = shown;
    showBlackout();
    rearrange();
}

void DigitPanel::showBlackout()
{
    const bool black = messageShown_ && shown_ && shown_->blackout;
    if (black == blackout_->isVisible())
        return;
    blackout_->setGeometry(rect());
    blackout_->setVisible(black);
    blackout_->raise();
}

void DigitPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    blackout_->setGeometry(rect());
}

void DigitPanel::setFillsPanel(bool fills)
{
    fillsPanel_ = fills;
    setAutoFillBackground(fills);
    applyColours();
}

std::optional<LabelLayout> DigitPanel::arrange(const LabelLayoutInput &in, int shiftUp)
{
    input_ = in;
    shiftUp_ = shiftUp;
    const bool withMessage = messageShown_ && shown_ && !shown_->message.isEmpty();
    const bool withTalk = messageShown_ && shown_ && shown_->session.active();
    const MessageSplit split = splitForMessage(in);
    const TalkLineSplit talk = splitForTalkLine(withMessage ? split.digits : in);
    std::optional<LabelLayout> layout = layoutLabels(withTalk ? talk.digits : withMessage ? split.digits : in);
    if (!layout)
        return std::nullopt;
    if (shown_ && shown_->minutes.startsWith(QLatin1Char('-')))
        layout = withMinusLead(*layout, in, minusWidth_ * layout->minutesPoints / 100);
    placeLabel(lblMin_, layout->minutes, shiftUp);
    placeLabel(lblSec_, layout->seconds, shiftUp);
    setLabelPoints(lblMin_, layout->minutesPoints);
    setLabelPoints(lblSec_, layout->secondsPoints);

    lblMessage_->setVisible(withMessage);
    if (withMessage)
        fitLine(lblMessage_, split.message, shiftUp);
    lblTalk_->setVisible(withTalk);
    if (withTalk)
        fitLine(lblTalk_, talk.line, shiftUp);
    return layout;
}

void DigitPanel::fitLine(QLabel *label, const LabelBox &box, int shiftUp)
{
    placeLabel(label, box, shiftUp);
    QFont font = label->font();
    font.setPointSizeF(100);
    const QFontMetricsF metrics(font);
    const auto width = static_cast<float>(metrics.horizontalAdvance(label->text()) * Units::twipsPerPixel());
    const float lineAt100 = static_cast<float>(metrics.height() * Units::twipsPerPixel());
    setLabelPoints(label, fittedPoints(width, box, 100.0f / lineAt100));
}

QString talkLine(const SessionInfo &session)
{
    if (!session.active())
        return {};
    const ScheduledTalk &talk = session.current();
    return talk.speaker.isEmpty() ? talk.title : talk.title + QStringLiteral(" \u2014 ") + talk.speaker;
}

void DigitPanel::rearrange()
{
    if (input_)
        arrange(*input_, shiftUp_);
}

void DigitPanel::show(const ClockSnapshot &snapshot)
{
    const std::optional<ClockSnapshot> before = std::exchange(shown_, snapshot);
    lblMin_->setText(snapshot.minutes);
    lblSec_->setText(snapshot.seconds);
    lblMin_->setEnabled(snapshot.digitsEnabled);
    lblSec_->setEnabled(snapshot.digitsEnabled);
    lblMessage_->setText(snapshot.message);
    const QString line = talkLine(snapshot.session);
    const bool talkMoved = line != lblTalk_->text() || !before || before->session.active() != snapshot.session.active();
    lblTalk_->setText(line);
    if (!before || before->background != snapshot.background || before->foreground != snapshot.foreground ||
        before->flashInverted != snapshot.flashInverted)
        applyColours();
    const auto negative = [](const ClockSnapshot &s) { return s.minutes.startsWith(QLatin1Char('-')); };
    if (!before || negative(*before) != negative(snapshot) || before->message != snapshot.message || talkMoved)
        rearrange();
    if (!before || before->blackout != snapshot.blackout)
        showBlackout();
}

void DigitPanel::applyColours()
{
    if (!shown_)
        return;
    const DigitColours colours = digitColours(*shown_);
    const QColor back = toQColor(colours.background);
    const QColor fore = toQColor(colours.foreground);
    for (QLabel *label : {lblMin_, lblSec_, lblMessage_, lblTalk_})
        label->setPalette(stagePalette(label->palette(), back, fore));
    if (fillsPanel_) {
        QPalette own = palette();
        own.setColor(QPalette::Window, back);
        setPalette(own);
    }
}
