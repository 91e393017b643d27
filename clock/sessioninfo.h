#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// What the layer above the clock tells every view about a session of talks: the talk the clock is on, the
// schedule and how far it runs behind. The clock only carries it in its snapshots, so that the windows and the
// network show it beside the digits; it computes nothing of it. Times are milliseconds since the epoch (UTC),
// read from the laptop's wall clock; a view shows them as local times of day.
struct ScheduledTalk
{
    std::int32_t number = 0; // from 1
    QString title;
    QString speaker;
    std::optional<std::int64_t> plannedStartMs; // none where no planned time reaches the talk
    std::optional<std::int64_t> plannedEndMs;
    std::int64_t plannedSeconds = 0;
    std::int64_t expectedStartMs = 0;
    std::int64_t expectedEndMs = 0;
    bool done = false;                         // before the current talk
    std::optional<std::int64_t> startedAtMs;   // when the clock was first started on it
    std::optional<std::int64_t> actualSeconds; // the time it took, once left

    friend bool operator==(const ScheduledTalk &, const ScheduledTalk &) = default;
};

struct SessionInfo
{
    std::int32_t talk = 0;  // the current talk, from 1; 0 without a programme
    std::int32_t count = 0; // talks in the programme; 0 without one
    // Above 0: the current talk is expected to end that many seconds after its planned end; below 0: before
    // it. None when no planned time reaches it.
    std::optional<std::int64_t> offsetSeconds;
    std::optional<std::int64_t> sessionEndsAtMs; // the last talk's expected end
    std::optional<std::int64_t> plannedEndMs;    // the last talk's planned end
    // The wall clock's minute when this was computed, so a view shows the laptop's time of day.
    std::int64_t wallClockMs = 0;
    QList<ScheduledTalk> talks; // shared, not copied, from snapshot to snapshot

    bool active() const { return count > 0 && talk >= 1 && talk <= count; }
    // The current talk's row; only while active().
    const ScheduledTalk &current() const { return talks.at(talk - 1); }

    friend bool operator==(const SessionInfo &, const SessionInfo &) = default;
};
