#pragma once

#include "clock/clockengine.h"
#include "programme/programme.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// When each talk of a programme was planned, and is now expected, to start and end, and how far the
// session runs behind or ahead: a pure function of the programme, the clock on the current talk and the
// wall clock's "now".
//
// Planned times. Talk 1 starts at its own Start, or else at the session's start; every later talk at its
// own Start, or else at the previous talk's planned end. A time of day is put on the day that brings it
// nearest to what comes before it (the previous talk's planned end; for the first time of the day, the
// session's first recorded start, or now before anything started), at most 12 hours either way, the later
// day on a tie. So a session planned 23:30 with a talk fixed at 00:15 runs into the next day; a fixed start
// a little before the previous planned end is an overlap in the same day, not a talk on the next one; and
// a programme looked at the evening before its 09:00 start is planned for the next morning. A talk that
// no planned time reaches (no session start and no Start before it) has no planned times.
//
// Expected times. Talks before the current one are done: they keep their recorded start and elapsed time
// (the planned length where none was recorded, and, without a recorded start, the end of the talk before).
// The current talk with planned start P and length L is expected to end at max(now, P) + L while the clock
// is Ready, and at now + max(0, L - elapsed) while it runs or is paused (so a pause moves the end on, and a
// correction of the elapsed time moves it at once). Each later talk is expected to start at the later of
// the previous talk's expected end and its own Start, if it has one: a fixed start absorbs an overrun
// before it. The session is expected to end with its last talk.
//
// Every time given is in UTC, so that comparing and adding them is arithmetic rather than a look-up of the
// local time zone each; show them with toLocalTime().

// The clock on the current talk.
struct TalkClock
{
    ClockState state = ClockState::Ready;
    std::int64_t elapsed = 0; // whole seconds
};

struct TalkTimes
{
    std::optional<QDateTime> plannedStart; // nothing where no planned time reaches the talk
    std::optional<QDateTime> plannedEnd;
    std::int64_t plannedLength = 0; // seconds: talkSeconds of the plan and the talk's own lengths
    QDateTime expectedStart;
    QDateTime expectedEnd;
    bool done = false;                        // before the current talk
    std::optional<QDateTime> actualStart;     // the recorded start, of any talk that has one
    std::optional<std::int64_t> actualLength; // the recorded elapsed seconds of a done talk
};

struct Schedule
{
    std::vector<TalkTimes> talks; // one per talk, in order; none without a programme
    // Seconds by which the current talk's expected end lies after its planned end: above 0 behind, below
    // 0 ahead. Nothing when the current talk has no planned start.
    std::optional<std::int64_t> offset;
    QDateTime expectedEnd; // of the last talk; invalid without a programme
    std::optional<QDateTime> plannedEnd;
};

// `plan` is the configured ClockSetting, `now` the wall clock's time (local or UTC). A current talk outside
// 1..count() is taken as the nearest one.
Schedule computeSchedule(const Programme &programme, const ClockSetting &plan, const TalkClock &clock,
                         const QDateTime &now);

// "Behind 3 min", "Ahead 1 min", or "On time" within a minute either way; the empty text for no offset.
// Minutes are rounded to the nearest, a half minute up: 89 s behind is "Behind 1 min", 90 s "Behind 2 min";
// from an hour on with hours: "Behind 1 h 20 min", "Ahead 5 h".
QString offsetText(const std::optional<std::int64_t> &offset);
// "Talk 2 of 5".
QString talkNumberText(std::int32_t talk, std::int32_t count);
// "Ends 10:34": the local time of day as a clock shows it, the seconds dropped. The empty text for an invalid time.
QString endsText(const QDateTime &end);
