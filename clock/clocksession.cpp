#include "clock/clocksession.h"

#include "clock/readout.h"
#include "platform/soundplayer.h"
#include "platform/tickcounter.h"

#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

constexpr int TickInterval = 100; // ms
constexpr int TickLead = 3;       // ms after the whole second at which a phased tick falls

} // namespace

ClockSession::ClockSession(TickCounter &ticks, SoundPlayer &sound, QObject *parent)
    : QObject(parent)
    , ticks_(ticks)
    , sound_(sound)
    , engine_(setting_, ticks)
{
    setObjectName(QStringLiteral("ClockSession"));
    qRegisterMetaType<ClockSnapshot>();
    qRegisterMetaType<ClockEvents>();
    // Precise, not coarse: a coarse timer may drift by 5 % of its interval, and the ticks are phased to the
    // talk's seconds (see startTicksOnTheSecond).
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("Timer"));
    timer_->setInterval(TickInterval);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &ClockSession::Timer_Timer);
    timer_->start();
    tickPhase_ = new QTimer(this);
    tickPhase_->setObjectName(QStringLiteral("TickPhase"));
    tickPhase_->setSingleShot(true);
    tickPhase_->setTimerType(Qt::PreciseTimer);
    connect(tickPhase_, &QTimer::timeout, this, [this] {
        timer_->start();
        Timer_Timer();
    });
}

ClockSession::~ClockSession() = default;

void ClockSession::setSetting(const ClockSetting &setting)
{
    setting_ = setting;
    talkSeconds_ = talkLength(setting_);
    pending_ |= ClockEvent::Reconfigured;
}

void ClockSession::setSoundEnabled(bool on)
{
    if (setting_.SoundEnabled == on)
        return;
    setting_.SoundEnabled = on;
    pending_ |= ClockEvent::SoundChanged;
    publish();
}

void ClockSession::ClearTimer()
{
    flashStartTick_.reset();
    talkUndo_ = false;
    engine_.ClearTimer();
    publish();
}

void ClockSession::setSessionInfo(const SessionInfo &info)
{
    if (info == session_)
        return;
    session_ = info;
    pending_ |= ClockEvent::SessionChanged;
    publish();
}

void ClockSession::loadTalk(const ClockSetting &setting, bool undoable)
{
    ClockSetting talk = setting;
    // The sound switch is this run's, whatever the talk.
    talk.SoundEnabled = setting_.SoundEnabled;
    setSetting(talk);
    flashStartTick_.reset();
    engine_.ClearTimer();
    talkUndo_ = undoable;
    publish();
}

void ClockSession::resumeTalk(const ClockSetting &setting, std::int64_t elapsedMs)
{
    ClockSetting talk = setting;
    talk.SoundEnabled = setting_.SoundEnabled;
    setSetting(talk);
    flashStartTick_.reset();
    talkUndo_ = false;
    constexpr std::int64_t latest = std::numeric_limits<std::int32_t>::max();
    engine_.ResumePaused(static_cast<std::int32_t>(std::clamp<std::int64_t>(elapsedMs, 0, latest)));
    publish();
}

CommandContext ClockSession::context() const
{
    return {engine_.RunState(), engine_.canUndoReset() || (talkUndo_ && engine_.RunState() == ClockState::Ready),
            !message_.isEmpty(), session_.active() && session_.talk > 1,
            session_.active() && session_.talk < session_.count};
}

void ClockSession::stop()
{
    timer_->stop();
    tickPhase_->stop();
}

std::optional<QString> ClockSession::refusal(ClockCommand command, const QString &argument) const
{
    const CommandRow &row = commandRow(command);
    if (!isAvailable(row.availability, context()))
        return QLatin1String(row.unavailable);
    switch (row.argument) {
    case CommandArgument::Text:
        if (argument.trimmed().isEmpty())
            return QStringLiteral("The message is empty.");
        if (argument.size() > MaxMessageLength)
            return QStringLiteral("The message is longer than %1 characters.").arg(MaxMessageLength);
        break;
    case CommandArgument::Mode:
        if (!readOutModeNamed(argument))
            return QStringLiteral("The mode must be Elapsed, StageLeft or TalkLeft.");
        break;
    case CommandArgument::None:
        break;
    }
    return std::nullopt;
}

std::optional<QString> ClockSession::perform(ClockCommand command, const QString &argument)
{
    if (std::optional<QString> refused = refusal(command, argument))
        return refused;
    switch (command) {
    case ClockCommand::Start:
    case ClockCommand::Continue:
        startClock();
        break;
    case ClockCommand::Toggle:
        if (engine_.RunState() == ClockState::Running)
            engine_.PauseClock();
        else
            startClock();
        break;
    case ClockCommand::Pause:
        engine_.PauseClock();
        break;
    case ClockCommand::Reset:
        engine_.ResetClock();
        break;
    case ClockCommand::UndoReset:
        if (engine_.canUndoReset()) {
            engine_.UndoReset();
        } else {
            talkUndo_ = false;
            emit talkUndoRequested();
        }
        break;
    case ClockCommand::AddMinute:
        correct(CorrectionSeconds);
        break;
    case ClockCommand::TakeMinute:
        correct(-CorrectionSeconds);
        break;
    case ClockCommand::ShowMessage:
        // One line: line breaks and runs of blanks from a network client become single spaces.
        message_ = argument.simplified();
        pending_ |= ClockEvent::MessageChanged;
        break;
    case ClockCommand::ClearMessage:
        message_.clear();
        pending_ |= ClockEvent::MessageChanged;
        break;
    case ClockCommand::SetMode:
        setReadOutMode(*readOutModeNamed(argument));
        break;
    case ClockCommand::FlashOn:
    case ClockCommand::FlashOff:
        setFlashEnabled(command == ClockCommand::FlashOn);
        break;
    case ClockCommand::SoundOn:
    case ClockCommand::SoundOff:
        setSoundEnabled(command == ClockCommand::SoundOn);
        break;
    case ClockCommand::BlackoutOn:
    case ClockCommand::BlackoutOff:
        if (blackout_ != (command == ClockCommand::BlackoutOn)) {
            blackout_ = !blackout_;
            pending_ |= ClockEvent::BlackoutChanged;
        }
        break;
    case ClockCommand::NextTalk:
    case ClockCommand::PreviousTalk:
        emit talkRequested(command == ClockCommand::NextTalk ? 1 : -1);
        break;
    case ClockCommand::Options:
    case ClockCommand::Programme:
        // Judged here, opened by the window.
        break;
    }
    publish();
    return std::nullopt;
}

void ClockSession::startClock()
{
    if (!engine_.StartClock().shown)
        return;
    talkUndo_ = false;
    // The sound output is readied as the talk starts, so that the first stage end does not wait for it.
    if (setting_.SoundEnabled)
        sound_.prepare();
    startTicksOnTheSecond();
}

void ClockSession::startTicksOnTheSecond()
{
    // Restart the ticks a few milliseconds after a whole second of the talk, so that one of them falls just
    // after every second and the read-out turns on time instead of up to a tick late. The ticks keep going
    // meanwhile: the restart only moves their phase.
    tickPhase_->start((engine_.MillisecondsToNextSecond() + TickLead) % TickInterval);
}

void ClockSession::correct(std::int32_t seconds)
{
    engine_.Correct(seconds);
    pending_ |= ClockEvent::Corrected;
    // Taking away more than was measured moves the talk's seconds against the ticks' phase.
    if (engine_.RunState() == ClockState::Running)
        startTicksOnTheSecond();
}

void ClockSession::setReadOutMode(ReadOutMode mode)
{
    if (mode == mode_)
        return;
    mode_ = mode;
    pending_ |= ClockEvent::ModeChanged;
    publish();
}

void ClockSession::setFlashEnabled(bool on)
{
    if (on == flashEnabled_)
        return;
    flashEnabled_ = on;
    // Switched off mid-flash, the colours are steady at once.
    flashStartTick_.reset();
    pending_ |= ClockEvent::FlashChanged;
    publish();
}

void ClockSession::Timer_Timer()
{
    const EngineReport report = engine_.Timer_Timer();
    if (report.stageEnded != 0) {
        pending_ |= ClockEvent::StageEnded;
        if (flashEnabled_) {
            flashStartTick_ = engine_.ElapsedTick();
            flashPhase_ = 0;
            pending_ |= ClockEvent::FlashChanged;
        }
    } else if (flashStartTick_) {
        tickFlash();
    }
    // The sound of the stage that ended follows the snapshot that shows its end. Its path is taken first,
    // as a view may answer the snapshot with a new setting.
    std::optional<QString> sound;
    if (report.stageEnded != 0 && setting_.SoundEnabled)
        sound = setting_.stage(report.stageEnded).SoundFile;
    if (pending_ || report.shown)
        publish();
    if (sound)
        sound_.play(*sound);
}

void ClockSession::tickFlash()
{
    // The engine has just read the counter while running; otherwise the flash reads it itself.
    const std::int32_t now = engine_.RunState() == ClockState::Running ? engine_.ElapsedTick() : ticks_.GetTickCount();
    const std::int64_t since = tickDifference(now, *flashStartTick_);
    const bool before = flashInverted();
    if (since >= FlashMs)
        flashStartTick_.reset();
    else
        flashPhase_ = since / FlashPhaseMs;
    if (flashInverted() != before)
        pending_ |= ClockEvent::FlashChanged;
}

bool ClockSession::flashInverted() const
{
    return flashStartTick_ && flashPhase_ % 2 == 0;
}

ClockSnapshot ClockSession::compose() const
{
    ClockSnapshot next;
    next.state = engine_.RunState();
    next.elapsedMs = engine_.ElapsedMs();
    next.elapsedSeconds = std::max(engine_.LastSecond(), 0);
    next.stage = engine_.CurrentStage();
    const StageSetting &stage = setting_.stage(next.stage);
    next.description = stage.Description;
    next.background = stage.BackColor;
    next.foreground = stage.ForeColor;
    next.stageEnd = engine_.StageEndSeconds();
    next.stageStart = next.stageEnd - stage.Seconds;
    next.talkSeconds = talkSeconds_;
    next.mode = mode_;
    const Readout texts = modeReadout(mode_, next.elapsedSeconds, next.stageEnd, next.talkSeconds);
    next.minutes = texts.minutes;
    next.seconds = texts.seconds;
    next.digitsEnabled = next.state == ClockState::Running;
    const CommandContext now = context();
    next.canUndoReset = now.canUndoReset;
    next.soundEnabled = setting_.SoundEnabled;
    next.flashEnabled = flashEnabled_;
    next.flashInverted = flashInverted();
    next.message = message_;
    next.blackout = blackout_;
    next.available = availableCommands(now);
    next.session = session_;
    next.revision = snapshot_.revision;
    return next;
}

void ClockSession::publish()
{
    // Nothing to show before the first ClearTimer, nor between a new setting and the ClearTimer after it.
    if (engine_.CurrentStage() < 1 || engine_.CurrentStage() > setting_.Count())
        return;
    ClockSnapshot next = compose();
    ClockEvents events = std::exchange(pending_, {});
    if (next.state != snapshot_.state)
        events |= ClockEvent::StateChanged;
    if (next.elapsedSeconds != snapshot_.elapsedSeconds)
        events |= ClockEvent::SecondTurned;
    if (!events && next == snapshot_)
        return;
    ++next.revision;
    snapshot_ = std::move(next);
    emit changed(snapshot_, events);
}
