#pragma once

#include <optional>

// The arithmetic that fits the digit labels to the window, kept apart from widgets so it is tested
// without pixels. Lengths are twips held as 32-bit floats, like every intermediate result, and each
// length "set" on a label is rounded to whole pixels before the next step reads it back, as the widgets do.

struct LabelBox
{
    float left = 0, top = 0, width = 0, height = 0;
    friend bool operator==(const LabelBox &, const LabelBox &) = default;
};

struct LabelLayoutInput
{
    float clientWidth = 0; // the window's client area, twips
    float clientHeight = 0;
    float toolbarHeight = 0;
    float statusBarHeight = 0;
    float digitAspect = 0;  // minutes label height / width
    float secondsScale = 0; // seconds label size relative to the minutes label
    float fontScale = 0;    // points per twip of label height
    float twipsPerPixel = 15;
};

struct LabelLayout
{
    LabelBox minutes, seconds, info;
    float minutesPoints = 0, secondsPoints = 0; // digit font sizes
};

// The layout of the three labels, or nothing when the client area is too small to give every label a
// positive size (the labels then stay as they are until the window grows) or the font is not measured yet.
std::optional<LabelLayout> layoutLabels(const LabelLayoutInput &in);

// Width and line height, in twips, of the digit font measured at 100 points.
struct DigitMeasure
{
    float widthOf00 = 0;
    float lineHeight = 0;
};

struct DigitRatios
{
    float digitAspect = 0;
    float fontScale = 0;
};

// The minutes label is 10 % wider than two digits of the font, an italic one another 20 % wider, so the
// slanted digits are not clipped; its height is one line of the font.
DigitRatios digitRatios(const DigitMeasure &measure, bool italic);

// A message to the speaker takes a band across the bottom of the digits' area, a fifth of its height; the
// digits are laid out in what is left, so the message never covers them.
inline constexpr float MessageShare = 0.2f;
struct MessageSplit
{
    LabelLayoutInput digits; // the input for the digits, the band taken off
    LabelBox message;        // the band, client coordinates
};
MessageSplit splitForMessage(const LabelLayoutInput &in);

// The current talk's title and speaker take a band across the top of the digits' area, a tenth of its
// height; the digits are laid out in what is left, so they shrink by no more than that line.
inline constexpr float TalkLineShare = 0.1f;
struct TalkLineSplit
{
    LabelLayoutInput digits; // the input for the digits, the band taken off
    LabelBox line;           // the band, client coordinates
};
TalkLineSplit splitForTalkLine(const LabelLayoutInput &in);

// Room for a "-" of width `lead` (twips, at the minutes' size) before the minute digits. The minutes box
// grows to the left by it, the group is centred again, and the digits keep their size where the band has the
// room; where it has not, the whole group shrinks just enough, keeping its proportions.
LabelLayout withMinusLead(const LabelLayout &layout, const LabelLayoutInput &in, float lead);

// The font size at which a line of text `widthAt100` twips wide at 100 points fills `box`: as large as the
// box's height allows (`fontScale` points per twip of height), smaller where the text would be too wide.
float fittedPoints(float widthAt100, const LabelBox &box, float fontScale);
