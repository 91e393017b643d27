#pragma once

#include "clock/clockengine.h"
#include "clock/commands.h"
#include "clock/sessioninfo.h"
#include "settings/clocksetting.h"

#include <QFlags>
#include <QMetaType>
#include <QString>

#include <cstdint>
#include <utility>

// What the big digits count: the talk's elapsed time (the default), or the time left until the current
// stage ends or until the talk ends. Stored as the words of readOutModeName.
enum class ReadOutMode
{
    Elapsed,
    StageLeft,
    TalkLeft
};

// What made a snapshot. A view that cares about moments (a flash, a sound, a caption) reacts to these,
// not to a guessed change of value.
enum class ClockEvent : unsigned
{
    SecondTurned = 1u << 0,    // the elapsed whole second changed (ticks and corrections)
    StageEnded = 1u << 1,      // time passing reached a stage end (never a correction)
    StateChanged = 1u << 2,    // Ready, Running or Paused entered
    Reconfigured = 1u << 3,    // a new setting: stages, font
    Corrected = 1u << 4,       // a minute added or taken away
    ModeChanged = 1u << 5,     // another read-out mode
    FlashChanged = 1u << 6,    // the flash turned its colours, started or ended, or was switched on or off
    MessageChanged = 1u << 7,  // the message to the speaker was set or cleared
    SoundChanged = 1u << 8,    // the stage sounds of this run switched on or off
    BlackoutChanged = 1u << 9, // the speaker-facing views went black or came back
    SessionChanged = 1u << 10  // the programme, its current talk or its schedule
};
Q_DECLARE_FLAGS(ClockEvents, ClockEvent)
Q_DECLARE_OPERATORS_FOR_FLAGS(ClockEvents)

// Everything any view of the clock needs at one moment, as one immutable value: cheap to copy (the texts
// are shared), safe to hand to another thread, enough for a view that joins late to draw the whole picture.
struct ClockSnapshot
{
    ClockState state = ClockState::Ready;
    // The elapsed time in milliseconds at this snapshot. While running, a view may count on from there with
    // a monotonic clock of its own; in Ready and Paused it stands still.
    std::int64_t elapsedMs = 0;
    std::int32_t elapsedSeconds = 0; // whole seconds, as the read-out shows them in Elapsed mode

    // The current stage, numbered from 1, and its span in elapsed seconds: [stageStart, stageEnd).
    std::int32_t stage = 1;
    QString description;
    Colour background = 0; // 0x00BBGGRR, as the setting holds it
    Colour foreground = 0;
    std::int64_t stageStart = 0;
    std::int64_t stageEnd = 0;
    // The talk's length: the end of the stage before the repeating last one (of stage 1 if it is alone).
    std::int64_t talkSeconds = 0;

    ReadOutMode mode = ReadOutMode::Elapsed;
    QString minutes; // the two texts the digit labels show in that mode: "15" "00", "-01" "05"
    QString seconds;

    bool digitsEnabled = false; // greyed while not running
    bool canUndoReset = false;
    bool soundEnabled = true;
    bool flashEnabled = false;  // the "Flash at Stage End" switch
    bool flashInverted = false; // in the swapped phase of a flash: draw with background and foreground swapped
    QString message;            // to the speaker; empty for none
    // Every speaker-facing view shows its background in black alone; the clock runs on.
    bool blackout = false;
    // The commands that may be carried out now; what every toolbar button, menu item and page control shows.
    CommandSet available;
    // The session of talks around this one, as the programme above the clock has it; inactive without one.
    SessionInfo session;

    // Grows by one with every snapshot published, so a late joiner can tell old news from new.
    std::uint64_t revision = 0;

    friend bool operator==(const ClockSnapshot &, const ClockSnapshot &) = default;
};

// The words section "Window" and the network's JSON give each read-out mode. Header-only, so that the network
// module, which links none of the clock's code, says the same words.
inline constexpr std::pair<ReadOutMode, const char *> ReadOutModeNames[] = {
    {ReadOutMode::Elapsed, "Elapsed"},
    {ReadOutMode::StageLeft, "StageLeft"},
    {ReadOutMode::TalkLeft, "TalkLeft"},
};
inline QString readOutModeName(ReadOutMode mode)
{
    for (const auto &[known, name] : ReadOutModeNames) {
        if (known == mode)
            return QLatin1String(name);
    }
    return {};
}

// The colours the digits of a snapshot are drawn in: the stage's, swapped while the flash is in its swapped
// phase. Greying them while the clock does not run is each view's own.
struct DigitColours
{
    Colour background = 0;
    Colour foreground = 0;
};
inline DigitColours digitColours(const ClockSnapshot &snapshot)
{
    if (snapshot.flashInverted)
        return {snapshot.foreground, snapshot.background};
    return {snapshot.background, snapshot.foreground};
}

Q_DECLARE_METATYPE(ClockSnapshot)
Q_DECLARE_METATYPE(ClockEvents)
