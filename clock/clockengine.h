#pragma once

#include "settings/clocksetting.h"

#include <cstdint>
#include <optional>

class TickCounter;

enum class ClockState : std::int32_t
{
    Ready = 0,
    Running = 1,
    Paused = 2
};

// What one command or tick of the engine changed, so that its owner knows whether to show anything and
// which stage's sound to play. A tick within the same second reports nothing.
struct EngineReport
{
    // Something a view shows changed or must be drawn again: the run state, the shown second, the stage.
    bool shown = false;
    // The number of the last stage whose end time passing reached in this call, 0 for none. A late tick
    // over several ends names only the last of them; a correction never names one.
    std::int32_t stageEnded = 0;

    friend bool operator==(const EngineReport &, const EngineReport &) = default;
};

// The run states of the clock, the elapsed-time arithmetic and the walk through the stages. A plain class:
// the clock session owns one, feeds it the 100 ms ticks and the commands, and publishes what each reports.
//
// The engine reads the stages from `setting`, the session's own copy, which must outlive it.
// ClearTimer must run once before any other command: it makes stage 1 current. Every command and tick
// may meet a configuration changed since then only after another ClearTimer.
class ClockEngine
{
public:
    ClockEngine(const ClockSetting &setting, TickCounter &ticks);

    // Back to Ready for a new configuration (load, options confirmed): not undoable.
    EngineReport ClearTimer();
    // The operator's reset (SPACE while paused, "Reset"). A reset that throws away measured time can be
    // taken back by UndoReset until the next start or ClearTimer.
    EngineReport ResetClock();
    bool canUndoReset() const { return undo_.has_value(); }
    // Puts the clock back into Paused where the last undoable reset found it, with everything a pause
    // shows. Does nothing when there is nothing to undo.
    EngineReport UndoReset();
    // Paused at `elapsedMs` (0 and up) in the stage it falls in, as if the talk had been paused there: a
    // talk the session left for another and takes up again. Not undoable.
    EngineReport ResumePaused(std::int32_t elapsedMs);
    EngineReport StartClock();
    EngineReport PauseClock();
    EngineReport Timer_Timer();
    // Moves the elapsed time by `seconds` while running or paused, never below 0 nor past 2^31 - 1 ms.
    // The stage follows the new time at once; a stage end crossed so is not reported, as stage ends mark
    // time passing. Does nothing in Ready.
    EngineReport Correct(std::int32_t seconds);

    ClockState RunState() const { return runState_; }
    std::int32_t CurrentStage() const { return currentStage_; }
    // The elapsed second at which the current stage ends, saturated to the 32-bit range (the sum of many
    // long stages can exceed it; the engine itself keeps it exact).
    std::int32_t StageEnd() const;
    std::int64_t StageEndSeconds() const { return stageEnd_; }
    // The elapsed milliseconds as of the counter value read last (ElapsedTick): no read of the counter.
    std::int64_t ElapsedMs() const;
    std::int32_t ElapsedTick() const { return readTick_; }
    std::int32_t LastSecond() const { return lastSecond_; }
    // Milliseconds from now until the elapsed time next reaches a whole second, 1 to 1000; 0 unless running.
    std::int32_t MillisecondsToNextSecond() const;

    static QString runningStatus(const QString &description);
    static QString readyStatus();
    static QString pausedStatus();

private:
    void FirstStage();
    // Makes current the stage that `elapsed` falls in, walking from stage 1 without reporting an end.
    void WalkTo(std::int32_t elapsed);
    // Walks over every stage end that `elapsed` has reached or passed and returns the number of the last
    // stage that ended, or 0 when none did.
    std::int32_t NextStage(std::int32_t elapsed);

    const ClockSetting &setting_;
    TickCounter &ticks_;

    std::int64_t stageEnd_ = 0;
    std::int32_t currentStage_ = 0;
    ClockState runState_ = ClockState::Ready;
    std::int32_t startTick_ = 0;
    std::int32_t pauseTick_ = 0;
    std::int32_t lastSecond_ = -1;
    std::int32_t readTick_ = 0;

    // What a reset threw away. The two ticks keep their difference, the paused elapsed time, so the next
    // start shifts them exactly as after a plain pause, across the counter's wrap points too.
    struct Undo
    {
        std::int64_t stageEnd;
        std::int32_t currentStage;
        std::int32_t startTick;
        std::int32_t pauseTick;
        std::int32_t lastSecond;
    };
    std::optional<Undo> undo_;
};
