#include "mainwindow/labellayout.h"

#include <algorithm>
#include <cmath>

namespace {

// Margins and gaps between the labels, twips.
constexpr float Gap = 32.0f;

// What a widget reports back after a length in twips was set on it: whole pixels.
float snap(float twips, float twipsPerPixel)
{
    return static_cast<float>(std::round(twips / twipsPerPixel) * twipsPerPixel);
}

} // namespace

std::optional<LabelLayout> layoutLabels(const LabelLayoutInput &in)
{
    if (!(in.fontScale > 0) || !(in.digitAspect > 0) || !(in.twipsPerPixel > 0))
        return std::nullopt;
    const auto px = [&](float twips) { return snap(twips, in.twipsPerPixel); };

    const float W = in.clientWidth - Gap;
    const float T = in.toolbarHeight;
    const float H = in.clientHeight - T - in.statusBarHeight - Gap;
    if (!(W > 0) || !(H > 0))
        return std::nullopt;

    const float scale = in.secondsScale + 1.0f;
    const float a = scale * H / W;

    LabelLayout out;
    LabelBox &m = out.minutes;
    if (a > in.digitAspect) {
        // A tall band: the width limits the digits, and the group is centred vertically.
        m.width = px(W / scale);
        m.height = px(m.width * in.digitAspect);
        m.left = 0;
        m.top = px(T + (H - m.height) / 2);
    } else {
        // A wide band (a tie included): the height limits the digits, and the group is centred horizontally.
        m.height = px(H);
        m.width = px(m.height / in.digitAspect);
        m.left = px((W - scale * m.width) / 2);
        m.top = px(T);
    }
    out.minutesPoints = m.height * in.fontScale;

    LabelBox &s = out.seconds;
    s.left = px(m.width + m.left + Gap);
    s.top = m.top;
    s.width = px(m.width * in.secondsScale);
    s.height = px(m.height * in.secondsScale);
    out.secondsPoints = s.height * in.fontScale;

    LabelBox &i = out.info;
    i.left = s.left;
    i.top = px(s.top + s.height + Gap);
    i.width = s.width;
    i.height = px(m.height - s.height - Gap);

    for (const LabelBox *box : {&m, &s, &i}) {
        if (!(box->width > 0) || !(box->height > 0))
            return std::nullopt;
    }
    return out;
}

DigitRatios digitRatios(const DigitMeasure &measure, bool italic)
{
    float m = measure.widthOf00 * 1.1f;
    if (italic)
        m = m * 1.2f;
    const float h = measure.lineHeight;
    if (!(m > 0) || !(h > 0))
        return {};
    return {h / m, 100.0f / h};
}

MessageSplit splitForMessage(const LabelLayoutInput &in)
{
    MessageSplit split{in, {}};
    const float band = (in.clientHeight - in.toolbarHeight - in.statusBarHeight) * MessageShare;
    split.digits.statusBarHeight += band;
    split.message = {0, in.clientHeight - in.statusBarHeight - band, in.clientWidth, band};
    return split;
}

TalkLineSplit splitForTalkLine(const LabelLayoutInput &in)
{
    TalkLineSplit split{in, {}};
    const float band = (in.clientHeight - in.toolbarHeight - in.statusBarHeight) * TalkLineShare;
    split.digits.toolbarHeight += band;
    split.line = {0, in.toolbarHeight, in.clientWidth, band};
    return split;
}

LabelLayout withMinusLead(const LabelLayout &layout, const LabelLayoutInput &in, float lead)
{
    // The group spans the client width when the width limits it: minutes, gap, seconds.
    const float W = in.clientWidth;
    const LabelBox &m = layout.minutes;
    const LabelBox &s = layout.seconds;
    const float group = s.left + s.width - m.left;
    // Shrinks (never grows) the group so that it fits with the lead, then centres it.
    const float scale = std::min(1.0f, (W - Gap) / (group - Gap + lead));
    const float newLead = lead * scale;
    const float newGroup = (group - Gap) * scale + Gap + newLead;
    const float left = (W - newGroup) / 2;
    const float top = m.top + m.height * (1 - scale) / 2;

    LabelLayout out = layout;
    out.minutes = {left, top, newLead + m.width * scale, m.height * scale};
    out.minutesPoints = layout.minutesPoints * scale;
    out.seconds = {out.minutes.left + out.minutes.width + Gap, top, s.width * scale, s.height * scale};
    out.secondsPoints = layout.secondsPoints * scale;
    const float shift = out.seconds.left - s.left;
    out.info = {layout.info.left + shift, out.seconds.top + out.seconds.height + Gap, out.seconds.width,
                std::max(0.0f, out.minutes.height - out.seconds.height - Gap)};
    return out;
}

float fittedPoints(float widthAt100, const LabelBox &box, float fontScale)
{
    const float byHeight = box.height * fontScale;
    if (!(widthAt100 > 0))
        return byHeight;
    // Half a digit's margin on each side keeps the text off the screen's edges.
    return std::min(byHeight, 100.0f * box.width * 0.95f / widthAt100);
}
