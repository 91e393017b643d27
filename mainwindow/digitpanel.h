#pragma once

#include "clock/clocksnapshot.h"
#include "mainwindow/labellayout.h"
#include "settings/clocksetting.h"

#include <QFont>
#include <QWidget>

#include <optional>

class QLabel;
class ClockSession;

// The line above the digits that faces the speaker in a session of talks: "Title — Speaker", the title alone
// without a speaker; empty without a programme.
QString talkLine(const SessionInfo &session);

// The digit font's face, bold and italic, without a size.
QFont digitFace(const FontSetting &setting);
// The font's ratios as the layout takes them, measured once per font at 100 points.
DigitRatios measureDigitFont(const FontSetting &font);

// The two digit labels, minutes and seconds, in the current stage's colours, and under them the message to
// the speaker where the owner shows it. The main window and the audience window each have one; each panel
// observes the clock session itself.
class DigitPanel final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DigitPanel)

public:
    explicit DigitPanel(QWidget *parent);

    // Shows every snapshot the session publishes from now on, starting with the one it holds.
    void observe(const ClockSession &session);

    QLabel *minutes() const { return lblMin_; }
    QLabel *seconds() const { return lblSec_; }

    // Face, bold and italic of both labels; their sizes come with the layout.
    void setDigitFont(const FontSetting &font);
    // Whether the panel faces the speaker (the message line is shown, and a blackout turns it all black) and
    // whether the stage background fills the whole panel rather than the digits' boxes alone.
    void setMessageShown(bool shown);
    void setFillsPanel(bool fills);

    // Lays the digits out by `in` (its lengths in twips of this panel's owner, the panel starting `shiftUp`
    // pixels below the owner's client top), leaving room under them for a message and before the minutes
    // for a "-". Returns the layout the digits got, for the owner's other labels; nothing when too small.
    std::optional<LabelLayout> arrange(const LabelLayoutInput &in, int shiftUp = 0);

    void show(const ClockSnapshot &snapshot);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void applyColours();
    void showBlackout();
    // Puts a line of text in `box` and sizes its font to fill it.
    void fitLine(QLabel *label, const LabelBox &box, int shiftUp);
    void rearrange();

    QLabel *lblMin_ = nullptr;
    QLabel *lblSec_ = nullptr;
    QLabel *lblMessage_ = nullptr;
    QLabel *lblTalk_ = nullptr;
    QWidget *blackout_ = nullptr;
    float minusWidth_ = 0; // the advance of "-" in the digit font at 100 points, twips
    bool messageShown_ = false;
    bool fillsPanel_ = false;
    std::optional<LabelLayoutInput> input_;
    int shiftUp_ = 0;
    std::optional<ClockSnapshot> shown_;
};
