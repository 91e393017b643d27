#pragma once

#include "clock/clocksnapshot.h"

#include <QString>

#include <cstdint>
#include <optional>

struct ClockSetting;

// Texts the main window shows for the clock. Pure functions, so the wording and the arithmetic can be
// checked without a window.

// At least two digits ("07"); three or more in full ("100"). A negative number keeps its sign in front.
QString twoDigit(std::int64_t n);

// Elapsed whole seconds as the texts of the minute and second labels. Minutes do not wrap into hours.
struct Readout
{
    QString minutes;
    QString seconds;
};
Readout readoutFor(std::int32_t seconds);

// The window caption that carries the running time while the window is minimised: "Kestrim - 12:34".
QString minimisedCaption(std::int32_t seconds);
QString minimisedCaption(const Readout &readout);

// The time left until the elapsed second `end`, at elapsed second `elapsed`. Past the end it counts the time
// over up, the minutes text led by "-": one minute five over reads "-01" "05".
Readout leftReadout(std::int64_t end, std::int32_t elapsed);
// The two texts of the digit labels in a read-out mode. Time left is taken in whole seconds, so it turns in
// the same tick as the elapsed read-out.
Readout modeReadout(ReadOutMode mode, std::int32_t elapsed, std::int64_t stageEnd, std::int64_t talkSeconds);
// The end of the talk in elapsed seconds: the end of the stage before the repeating last one, or of stage 1
// when it is the only one.
std::int64_t talkLength(const ClockSetting &setting);

// The read-out mode section "Window" names with one of the words of readOutModeName; nothing for any other
// text.
std::optional<ReadOutMode> readOutModeNamed(const QString &name);

// The status bar's text for a state.
QString statusText(const ClockSnapshot &snapshot);

// A stage's description as the status bar and the information label show it: whole up to MaxShownLength
// characters, which is more than any window can show, and cut there with "…" beyond, so that a huge
// hand-edited description costs the window no more than a long one. The stored text stays whole.
inline constexpr qsizetype MaxShownLength = 300;
QString shownDescription(const QString &description);

// The information label: one line per stage for the first three stages (fewer when fewer exist), each
// ended by "\n", e.g. "1' 30\" for Questions\n".
QString infoText(const ClockSetting &setting);

// The text of the help message: program name with version, a one-line description, and a note.
QString helpText();
