#pragma once

#include "settings/clocksetting.h"

#include <QDateTime>
#include <QString>
#include <QStringView>
#include <QTime>

#include <cstdint>
#include <optional>
#include <vector>

// A programme: the talks of a session, one after another, each timed by the clock with the stage plan
// (the configured ClockSetting) and the talk's own stage lengths. A break is a talk like any other.
//
// Everything here is a value and free of the desktop: the session, the windows and the network read and
// change a Programme and hand it to the store (programmestore.h), the schedule (schedule.h) and the
// files (programmecsv.h).

inline constexpr std::int32_t MaxTalks = 200;
// Of a title and of a speaker, in UTF-16 code units as QString counts them.
inline constexpr qsizetype MaxTalkTextLength = 200;
// Of one stage of a talk: 9:59:59, the most the options dialog's minutes and seconds can show.
inline constexpr std::int32_t MaxTalkStageSeconds = 35999;

// What the clock did with a talk. Each part is there once it is known: `started` from the first start of
// the clock on this talk, `elapsed` once the clock left the talk for another.
struct TalkRecord
{
    std::optional<QDateTime> started; // whole seconds; in UTC as loaded and recorded, stored as local time
    std::optional<std::int32_t> elapsed;

    bool empty() const { return !started && !elapsed; }
    friend bool operator==(const TalkRecord &, const TalkRecord &) = default;
};

struct Talk
{
    QString title;
    QString speaker; // may be empty
    // The planned start as a time of day (whole minutes). Nothing: right after the previous talk's planned
    // end (for the first talk: at the session's start).
    std::optional<QTime> start;
    // The talk's own length of stage 1, 2, ... in seconds, at most one per stage of the plan; stages beyond
    // the list keep the plan's own length. Empty: the plan as it is.
    std::vector<std::int32_t> lengths;
    TalkRecord record;

    friend bool operator==(const Talk &, const Talk &) = default;
};

struct Programme
{
    std::vector<Talk> talks; // at most MaxTalks; none: no programme, the clock times one talk as always
    // The planned start of talk 1 when it has none of its own.
    std::optional<QTime> sessionStart;
    // The talk the clock is on, numbered from 1 (as the store and the user count): 1 to count() when
    // there are talks.
    std::int32_t current = 1;

    std::int32_t count() const { return static_cast<std::int32_t>(talks.size()); }
    bool empty() const { return talks.empty(); }
    Talk &talk(std::int32_t n) { return talks.at(static_cast<std::size_t>(n - 1)); }
    const Talk &talk(std::int32_t n) const { return talks.at(static_cast<std::size_t>(n - 1)); }

    friend bool operator==(const Programme &, const Programme &) = default;
};

// The setting the clock times `talk` with: `plan` with the talk's own lengths in place of the plan's
// (lengths beyond the plan's stages are left out). Colours, sounds, descriptions and the font stay the
// plan's.
ClockSetting talkClockSetting(const ClockSetting &plan, const Talk &talk);
// The talk's length in seconds as the clock counts it (talkLength of clock/readout): the end of the stage
// before the repeating last one.
std::int64_t talkSeconds(const ClockSetting &plan, const Talk &talk);
// Drops the lengths of stages `plan` no longer has. A stored Lengths with more numbers than the plan has
// stages stops the next start, so whatever saves a plan with fewer stages saves the programme so fitted.
void fitLengthsToPlan(Programme &programme, const ClockSetting &plan);

// `text` without the spaces and tabs around it: what a hand-edited value or a table's cell may carry.
QStringView blankTrimmed(QStringView text);

// A time of day as "H:MM" or "HH:MM" (00:00 to 23:59), spaces and tabs around allowed; nothing for any
// other text, the empty one included.
std::optional<QTime> parseTimeOfDay(QStringView text);
// "09:05"; the empty text for nothing. Seconds are not shown.
QString formatTimeOfDay(const std::optional<QTime> &time);

// A length as people write one into a table, spaces and tabs around allowed: whole minutes ("20"), minutes
// and seconds ("12:30", "90:00") or hours, minutes and seconds ("1:05:00", "00:20:00" as spreadsheets
// write a duration). Seconds and the minutes of the hour form take two digits each, below 60; the leading
// number at most six digits. Nothing for any other text, the empty one, signs and fractions included.
std::optional<std::int64_t> parseDuration(QStringView text);
// The shortest of those forms that reads back the same: "20" for whole minutes below an hour, "12:30"
// for the other lengths below an hour, "1:05:00" from an hour on. A negative length is led by "-".
QString formatDuration(std::int64_t seconds);
