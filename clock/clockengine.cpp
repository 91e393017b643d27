#include "clock/clockengine.h"

#include "clock/readout.h"
#include "platform/tickcounter.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

ClockEngine::ClockEngine(const ClockSetting &setting, TickCounter &ticks)
    : setting_(setting)
    , ticks_(ticks)
{}

QString ClockEngine::runningStatus(const QString &description)
{
    return QStringLiteral("Clocking for ") + shownDescription(description) +
           QStringLiteral(". Hit [SPACE] key to pause.");
}

QString ClockEngine::readyStatus()
{
    return QStringLiteral("Ready. Click [SPACE] key to clock.");
}

QString ClockEngine::pausedStatus()
{
    return QStringLiteral("Paused. [ESC] key to contimue, [SPACE] key to reset.");
}

std::int32_t ClockEngine::StageEnd() const
{
    constexpr std::int64_t low = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t high = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(stageEnd_, low, high));
}

std::int32_t ClockEngine::MillisecondsToNextSecond() const
{
    if (runState_ != ClockState::Running) {
        return 0;
    }
    const std::int64_t elapsed = tickDifference(ticks_.GetTickCount(), startTick_);
    return static_cast<std::int32_t>(1000 - elapsed % 1000);
}

std::int64_t ClockEngine::ElapsedMs() const
{
    switch (runState_) {
    case ClockState::Running:
        return tickDifference(readTick_, startTick_);
    case ClockState::Paused:
        return tickDifference(pauseTick_, startTick_);
    case ClockState::Ready:
        break;
    }
    return 0;
}

EngineReport ClockEngine::ClearTimer()
{
    if (setting_.Count() < 1) {
        throw std::logic_error("ClockEngine::ClearTimer: the configuration holds no stage to start from");
    }
    undo_.reset();
    runState_ = ClockState::Ready;
    // The next run must show its first second even when it equals the one the previous run showed last
    // (a reset at 15:00 would otherwise skip 15:00 and with it the end of stage 1).
    lastSecond_ = -1;
    FirstStage();
    return {.shown = true};
}

EngineReport ClockEngine::ResetClock()
{
    std::optional<Undo> thrownAway;
    if (runState_ == ClockState::Paused && tickDifference(pauseTick_, startTick_) > 0) {
        thrownAway = Undo{stageEnd_, currentStage_, startTick_, pauseTick_, lastSecond_};
    }
    const EngineReport report = ClearTimer();
    undo_ = thrownAway;
    return report;
}

EngineReport ClockEngine::UndoReset()
{
    if (!undo_ || runState_ != ClockState::Ready) {
        return {};
    }
    const Undo back = *undo_;
    undo_.reset();
    stageEnd_ = back.stageEnd;
    currentStage_ = back.currentStage;
    startTick_ = back.startTick;
    pauseTick_ = back.pauseTick;
    lastSecond_ = back.lastSecond;
    runState_ = ClockState::Paused;
    return {.shown = true};
}

EngineReport ClockEngine::ResumePaused(std::int32_t elapsedMs)
{
    ClearTimer();
    const std::int32_t target = std::max(elapsedMs, 0);
    pauseTick_ = ticks_.GetTickCount();
    readTick_ = pauseTick_;
    // As a correction does: the start lies `target` before now, wrapping as the counter does.
    startTick_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(pauseTick_) - static_cast<std::uint32_t>(target));
    runState_ = ClockState::Paused;
    lastSecond_ = target / 1000;
    WalkTo(lastSecond_);
    return {.shown = true};
}

EngineReport ClockEngine::StartClock()
{
    if (runState_ == ClockState::Running) {
        return {};
    }
    undo_.reset();
    const std::int32_t now = ticks_.GetTickCount();
    readTick_ = now;
    if (runState_ == ClockState::Ready) {
        startTick_ = now;
    } else {
        // Shift the start by the paused span. Unsigned arithmetic wraps like the counter itself does, so a
        // pause across the counter's wrap points keeps the elapsed time exact.
        const auto start = static_cast<std::uint32_t>(startTick_);
        const auto paused = static_cast<std::uint32_t>(pauseTick_);
        startTick_ = static_cast<std::int32_t>(start - paused + static_cast<std::uint32_t>(now));
    }
    runState_ = ClockState::Running;
    return {.shown = true};
}

EngineReport ClockEngine::PauseClock()
{
    if (runState_ != ClockState::Running) {
        return {};
    }
    runState_ = ClockState::Paused;
    pauseTick_ = ticks_.GetTickCount();
    readTick_ = pauseTick_;
    return {.shown = true};
}

EngineReport ClockEngine::Timer_Timer()
{
    if (runState_ != ClockState::Running) {
        return {};
    }
    readTick_ = ticks_.GetTickCount();
    // At most 2^32 - 1 ms, so the whole seconds always fit.
    const auto elapsed = static_cast<std::int32_t>(tickDifference(readTick_, startTick_) / 1000);
    if (elapsed == lastSecond_) {
        return {};
    }
    EngineReport report{.shown = true};
    // "Reached or passed" rather than "equal": a tick delayed past a stage end (a busy machine, a modal
    // dialog, a suspend) must still move the talk on instead of freezing it in the old stage.
    if (elapsed >= stageEnd_) {
        report.stageEnded = NextStage(elapsed);
    }
    lastSecond_ = elapsed;
    return report;
}

EngineReport ClockEngine::Correct(std::int32_t seconds)
{
    if (runState_ == ClockState::Ready) {
        return {};
    }
    const std::int32_t now = runState_ == ClockState::Running ? ticks_.GetTickCount() : pauseTick_;
    constexpr std::int64_t latest = std::numeric_limits<std::int32_t>::max();
    const std::int64_t target =
        std::clamp<std::int64_t>(tickDifference(now, startTick_) + std::int64_t{seconds} * 1000, 0, latest);
    // The start moves so that now lies `target` after it; unsigned arithmetic wraps as the counter does.
    startTick_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(target));
    if (runState_ == ClockState::Running) {
        readTick_ = now;
    }
    const auto second = static_cast<std::int32_t>(target / 1000);
    WalkTo(second);
    lastSecond_ = second;
    return {.shown = true};
}

void ClockEngine::WalkTo(std::int32_t elapsed)
{
    FirstStage();
    NextStage(elapsed);
}

void ClockEngine::FirstStage()
{
    currentStage_ = 1;
    stageEnd_ = setting_.stage(1).Seconds;
}

std::int32_t ClockEngine::NextStage(std::int32_t elapsed)
{
    std::int32_t ended = 0;
    const std::int32_t count = setting_.Count();
    while (elapsed >= stageEnd_ && currentStage_ < count) {
        ended = currentStage_;
        ++currentStage_;
        stageEnd_ += setting_.stage(currentStage_).Seconds;
    }
    if (elapsed >= stageEnd_ && currentStage_ == count) {
        // The last stage repeats. After a long stall there may be millions of repeats behind us, so jump
        // straight to the first end still ahead. A last stage without length cannot repeat: it stays.
        const std::int64_t length = setting_.stage(count).Seconds;
        if (length > 0) {
            const std::int64_t repeats = (elapsed - stageEnd_) / length + 1;
            stageEnd_ += repeats * length;
            ended = count;
        }
    }
    return ended;
}
