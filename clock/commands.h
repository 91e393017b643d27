#pragma once

#include "clock/clockengine.h"

#include <QLatin1String>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>

// Everything the operator (keys, toolbar, menu), the chair's phone and the stage desk (the network) can ask of
// the clock. Each has one row in CommandCatalogue below; every way in reads that row, so a greyed button, a
// greyed menu item and a refusal over the network cannot disagree.
enum class ClockCommand : std::uint8_t
{
    Start,        // Ready -> Running
    Pause,        // Running -> Paused
    Continue,     // Paused -> Running, the pause left out
    Reset,        // Paused -> Ready, undoable
    UndoReset,    // Ready -> Paused where the last reset found it
    Toggle,       // start, pause or continue by the state; never a reset
    AddMinute,    // Running or Paused: the elapsed time 60 s on
    TakeMinute,   // Running or Paused: the elapsed time 60 s back, never below 0
    ShowMessage,  // the text to the speaker, 1 to MaxMessageLength characters
    ClearMessage, // no message
    SetMode,      // what the digits count: a mode's word
    FlashOn,      // the flash at each stage end
    FlashOff,
    SoundOn, // the stage sounds of this run
    SoundOff,
    BlackoutOn, // every speaker-facing view black, the clock running on
    BlackoutOff,
    NextTalk, // a programme's next talk, in Ready at stage 1; the talk left is recorded
    PreviousTalk,
    Options,   // the options dialog: on this machine only
    Programme, // the programme dialog: on this machine only
};

// What a command takes besides its word: nothing, the message's text, or a read-out mode's word.
enum class CommandArgument : std::uint8_t
{
    None,
    Text,
    Mode
};

// When a command may be carried out.
enum class Availability : std::uint8_t
{
    Always,
    InReady,
    WhileRunning,
    WhilePaused,
    NotInReady,        // running or paused
    ReadyOrPaused,     // never while running
    ResetToUndo,       // in Ready after an undoable reset
    MessageShown,      // a message is there to clear
    NextTalkThere,     // never while running, with a talk after the current one
    PreviousTalkThere, // never while running, with a talk before the current one
};

struct CommandRow
{
    ClockCommand command;
    // The API's word (HTTP path, WebSocket "action"); empty for a command of this machine only.
    const char *word;
    // The menu item's and the control page's label.
    const char *label;
    CommandArgument argument;
    Availability availability;
    // Why the command is refused when it is not available now.
    const char *unavailable;
};

// In ClockCommand's order. Header-only, so that the network module speaks the same words without linking
// the clock.
inline constexpr CommandRow CommandCatalogue[] = {
    {ClockCommand::Start, "start", "Start", CommandArgument::None, Availability::InReady,
     "Start needs the clock in Ready."},
    {ClockCommand::Pause, "pause", "Pause", CommandArgument::None, Availability::WhileRunning,
     "Pause needs the clock running."},
    {ClockCommand::Continue, "continue", "Continue", CommandArgument::None, Availability::WhilePaused,
     "Continue needs the clock paused."},
    {ClockCommand::Reset, "reset", "Reset", CommandArgument::None, Availability::WhilePaused,
     "Reset needs the clock paused."},
    {ClockCommand::UndoReset, "undo-reset", "Undo Reset", CommandArgument::None, Availability::ResetToUndo,
     "There is no reset to undo."},
    {ClockCommand::Toggle, "toggle", "Start/Pause", CommandArgument::None, Availability::Always, ""},
    {ClockCommand::AddMinute, "add-minute", "Add a Minute", CommandArgument::None, Availability::NotInReady,
     "A correction needs the clock running or paused."},
    {ClockCommand::TakeMinute, "take-minute", "Take Away a Minute", CommandArgument::None, Availability::NotInReady,
     "A correction needs the clock running or paused."},
    {ClockCommand::ShowMessage, "message", "Message to Speaker...", CommandArgument::Text, Availability::Always, ""},
    {ClockCommand::ClearMessage, "clear-message", "Clear Message", CommandArgument::None, Availability::MessageShown,
     "There is no message to clear."},
    {ClockCommand::SetMode, "set-mode", "Read-out Mode", CommandArgument::Mode, Availability::Always, ""},
    {ClockCommand::FlashOn, "flash-on", "Flash at Stage End", CommandArgument::None, Availability::Always, ""},
    {ClockCommand::FlashOff, "flash-off", "Flash at Stage End", CommandArgument::None, Availability::Always, ""},
    {ClockCommand::SoundOn, "sound-on", "Sound", CommandArgument::None, Availability::Always, ""},
    {ClockCommand::SoundOff, "sound-off", "Sound", CommandArgument::None, Availability::Always, ""},
    {ClockCommand::BlackoutOn, "blackout", "Blackout", CommandArgument::None, Availability::Always, ""},
    {ClockCommand::BlackoutOff, "blackout-off", "Blackout", CommandArgument::None, Availability::Always, ""},
    {ClockCommand::NextTalk, "next-talk", "Next Talk", CommandArgument::None, Availability::NextTalkThere,
     "Next Talk needs a talk after this one, with the clock in Ready or paused."},
    {ClockCommand::PreviousTalk, "previous-talk", "Previous Talk", CommandArgument::None,
     Availability::PreviousTalkThere, "Previous Talk needs a talk before this one, with the clock in Ready or paused."},
    {ClockCommand::Options, "", "Options...", CommandArgument::None, Availability::ReadyOrPaused,
     "The options need the clock in Ready or paused."},
    {ClockCommand::Programme, "", "Programme...", CommandArgument::None, Availability::ReadyOrPaused,
     "The programme can be edited with the clock in Ready or paused."},
};
inline constexpr std::size_t CommandCount = std::size(CommandCatalogue);

constexpr bool catalogueInCommandOrder()
{
    for (std::size_t i = 0; i < CommandCount; ++i) {
        if (CommandCatalogue[i].command != static_cast<ClockCommand>(i))
            return false;
    }
    return true;
}
static_assert(catalogueInCommandOrder(), "commandRow() looks a command's row up by its number");

constexpr const CommandRow &commandRow(ClockCommand command)
{
    return CommandCatalogue[static_cast<std::size_t>(command)];
}

// The command behind an API word, or nothing (also for the empty word of a local command).
inline std::optional<ClockCommand> commandNamed(QStringView word)
{
    if (word.isEmpty())
        return std::nullopt;
    for (const CommandRow &row : CommandCatalogue) {
        if (word == QLatin1String(row.word))
            return row.command;
    }
    return std::nullopt;
}

// The commands available at one moment, one bit each; the session computes it once per snapshot.
class CommandSet
{
public:
    constexpr CommandSet() = default;
    constexpr bool contains(ClockCommand command) const { return (bits_ >> static_cast<unsigned>(command)) & 1u; }
    constexpr void insert(ClockCommand command) { bits_ |= 1u << static_cast<unsigned>(command); }
    // The API words of the members, in the catalogue's order.
    QStringList words() const
    {
        QStringList list;
        for (const CommandRow &row : CommandCatalogue) {
            if (*row.word != '\0' && contains(row.command))
                list.append(QLatin1String(row.word));
        }
        return list;
    }
    friend constexpr bool operator==(CommandSet, CommandSet) = default;

private:
    std::uint32_t bits_ = 0;
    static_assert(CommandCount <= 32);
};

// What availability depends on besides the run state.
struct CommandContext
{
    ClockState state = ClockState::Ready;
    bool canUndoReset = false;
    bool messageShown = false;
    bool talkBefore = false; // a programme has a talk before the current one
    bool talkAfter = false;
};

constexpr bool isAvailable(Availability availability, const CommandContext &now)
{
    switch (availability) {
    case Availability::Always:
        return true;
    case Availability::InReady:
        return now.state == ClockState::Ready;
    case Availability::WhileRunning:
        return now.state == ClockState::Running;
    case Availability::WhilePaused:
        return now.state == ClockState::Paused;
    case Availability::NotInReady:
        return now.state != ClockState::Ready;
    case Availability::ReadyOrPaused:
        return now.state != ClockState::Running;
    case Availability::ResetToUndo:
        return now.state == ClockState::Ready && now.canUndoReset;
    case Availability::MessageShown:
        return now.messageShown;
    case Availability::NextTalkThere:
        return now.state != ClockState::Running && now.talkAfter;
    case Availability::PreviousTalkThere:
        return now.state != ClockState::Running && now.talkBefore;
    }
    return false;
}

constexpr CommandSet availableCommands(const CommandContext &now)
{
    CommandSet set;
    for (const CommandRow &row : CommandCatalogue) {
        if (isAvailable(row.availability, now))
            set.insert(row.command);
    }
    return set;
}
