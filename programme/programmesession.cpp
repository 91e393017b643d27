#include "programme/programmesession.h"

#include "clock/clocksession.h"
#include "platform/settingsstore.h"
#include "platform/wallclock.h"
#include "programme/programmestore.h"

#include <QTimer>

#include <cstdio>

namespace {

std::optional<std::int64_t> msOf(const std::optional<QDateTime> &time)
{
    if (!time || !time->isValid())
        return std::nullopt;
    return time->toMSecsSinceEpoch();
}

// The records keep whole seconds, as the store writes them, in UTC, as the store reads them.
QDateTime wholeSeconds(const QDateTime &time)
{
    const QDateTime utc = time.toUTC();
    return utc.addMSecs(-utc.time().msec());
}

SessionInfo sessionInfo(const Programme &programme, const Schedule &schedule, const QDateTime &now)
{
    SessionInfo info;
    if (programme.empty())
        return info;
    info.count = programme.count();
    info.talk = std::clamp(programme.current, 1, info.count);
    info.offsetSeconds = schedule.offset;
    info.sessionEndsAtMs = msOf(schedule.expectedEnd);
    info.plannedEndMs = msOf(schedule.plannedEnd);
    const std::int64_t nowMs = now.toMSecsSinceEpoch();
    info.wallClockMs = nowMs - nowMs % 60'000;
    info.talks.reserve(info.count);
    for (std::int32_t n = 1; n <= info.count; ++n) {
        const Talk &talk = programme.talk(n);
        const TalkTimes &times = schedule.talks.at(static_cast<std::size_t>(n - 1));
        ScheduledTalk row;
        row.number = n;
        row.title = talk.title;
        row.speaker = talk.speaker;
        row.plannedStartMs = msOf(times.plannedStart);
        row.plannedEndMs = msOf(times.plannedEnd);
        row.plannedSeconds = times.plannedLength;
        row.expectedStartMs = times.expectedStart.toMSecsSinceEpoch();
        row.expectedEndMs = times.expectedEnd.toMSecsSinceEpoch();
        row.done = times.done;
        row.startedAtMs = msOf(times.actualStart);
        row.actualSeconds = times.actualLength;
        info.talks.append(row);
    }
    return info;
}

} // namespace

ProgrammeSession::ProgrammeSession(ClockSession &clock, SettingsStore &store, const WallClock &wallClock,
                                   QObject *parent)
    : QObject(parent)
    , clock_(clock)
    , store_(store)
    , wallClock_(wallClock)
    , wallClockCheck_(new QTimer(this))
{
    setObjectName(QStringLiteral("ProgrammeSession"));
    wallClockCheck_->setObjectName(QStringLiteral("WallClockCheck"));
    wallClockCheck_->setInterval(WallClockCheckMs);
    connect(wallClockCheck_, &QTimer::timeout, this, &ProgrammeSession::lookAtWallClock);
    connect(&clock_, &ClockSession::changed, this, &ProgrammeSession::observe);
    connect(&clock_, &ClockSession::talkRequested, this, &ProgrammeSession::changeTalk);
    connect(&clock_, &ClockSession::talkUndoRequested, this, &ProgrammeSession::takeUpTalkLeft);
}

ProgrammeSession::~ProgrammeSession() = default;

void ProgrammeSession::load(const ClockSetting &plan)
{
    programme_ = LoadProgramme(store_, plan);
    plan_ = plan;
}

void ProgrammeSession::setPlan(const ClockSetting &plan)
{
    plan_ = plan;
    programme_.current = programme_.empty() ? 1 : std::clamp(programme_.current, 1, programme_.count());
    loading_ = true;
    clock_.setSetting(programme_.empty() ? plan_ : talkClockSetting(plan_, programme_.talk(programme_.current)));
    clock_.ClearTimer();
    loading_ = false;
    lastState_ = clock_.snapshot().state;
    left_.reset();
    recordBeforeReset_.reset();
    if (std::exchange(firstPlan_, false) && !programme_.empty()) {
        // At start-up the window shows first, and the schedule of a long programme follows while the desktop
        // maps it: the window's request leaves only once the event loop waits, which a timer of 0 would not let
        // it do first.
        wallClockCheck_->start();
        QTimer::singleShot(1, Qt::PreciseTimer, this, &ProgrammeSession::refresh);
        return;
    }
    followWallClock();
}

std::optional<QString> ProgrammeSession::setProgramme(Programme programme)
{
    const bool hadTalk = !programme_.empty();
    const ClockSetting before = hadTalk ? talkClockSetting(plan_, programme_.talk(programme_.current)) : plan_;
    programme_ = std::move(programme);
    if (!programme_.empty())
        programme_.current = std::clamp(programme_.current, 1, programme_.count());
    SaveProgramme(programme_, store_);
    const std::optional<QString> failure = store_.sync();
    const ClockSetting after =
        programme_.empty() ? plan_ : talkClockSetting(plan_, programme_.talk(programme_.current));
    // A running clock is never stopped by an edit (the dialog may be confirmed after the phone started the
    // talk): it goes on with the stages it has, and the talk's new ones come with the next load of a talk.
    const bool running = clock_.snapshot().state == ClockState::Running;
    if (!running && (after.Stages != before.Stages || programme_.empty() != !hadTalk)) {
        setPlan(plan_);
    } else {
        left_.reset();
        followWallClock();
    }
    return failure;
}

void ProgrammeSession::followWallClock()
{
    // Only a programme needs the wall clock: without one the program does exactly what it did before.
    if (programme_.empty())
        wallClockCheck_->stop();
    else
        wallClockCheck_->start();
    refresh();
}

Schedule ProgrammeSession::schedule() const
{
    const ClockSnapshot &now = clock_.snapshot();
    return computeSchedule(programme_, plan_, TalkClock{now.state, now.elapsedSeconds}, wallClock_.now());
}

void ProgrammeSession::observe(const ClockSnapshot &snapshot, ClockEvents events)
{
    if (!events.testFlag(ClockEvent::StateChanged) || programme_.empty()) {
        lastState_ = snapshot.state;
        return;
    }
    const ClockState before = std::exchange(lastState_, snapshot.state);
    if (loading_)
        return;
    Talk &talk = programme_.talk(programme_.current);
    if (before == ClockState::Ready && snapshot.state == ClockState::Running) {
        // A start from Ready: the talk begins (again), and what Undo Reset could bring back is gone.
        talk.record = TalkRecord{wholeSeconds(wallClock_.now()), std::nullopt};
        left_.reset();
        recordBeforeReset_.reset();
        saveRecord(programme_.current);
    } else if (before == ClockState::Paused && snapshot.state == ClockState::Ready) {
        recordBeforeReset_ = talk.record;
        talk.record.started.reset();
        saveRecord(programme_.current);
    } else if (before == ClockState::Ready && snapshot.state == ClockState::Paused && recordBeforeReset_) {
        talk.record = *std::exchange(recordBeforeReset_, std::nullopt);
        saveRecord(programme_.current);
    }
    // After the views have this snapshot: a schedule handed to the clock from within its own announcement
    // would reach the views before the snapshot that caused it.
    QTimer::singleShot(0, this, &ProgrammeSession::refresh);
}

void ProgrammeSession::changeTalk(int step)
{
    const std::int32_t target = programme_.current + step;
    if (programme_.empty() || target < 1 || target > programme_.count())
        return;
    const ClockSnapshot &now = clock_.snapshot();
    Talk &leaving = programme_.talk(programme_.current);
    // Left in Ready at 00:00, the talk was not run on this visit (skipped, or looked at again after it was
    // done): its record stands, and Undo Reset brings it back at the time that record holds.
    const bool run = now.state != ClockState::Ready || now.elapsedMs > 0;
    const std::int64_t leftAtMs = run ? now.elapsedMs : std::int64_t{leaving.record.elapsed.value_or(0)} * 1000;
    left_ = Left{programme_.current, leftAtMs, leaving.record};
    if (run) {
        leaving.record.elapsed = now.elapsedSeconds;
        saveRecord(programme_.current);
    }
    programme_.current = target;
    saveCurrent();
    loadCurrent(true);
}

void ProgrammeSession::takeUpTalkLeft()
{
    if (!left_)
        return;
    const Left back = *std::exchange(left_, std::nullopt);
    programme_.current = back.talk;
    programme_.talk(back.talk).record = back.record;
    saveRecord(back.talk);
    saveCurrent();
    loading_ = true;
    clock_.resumeTalk(talkClockSetting(plan_, programme_.talk(back.talk)), back.elapsedMs);
    loading_ = false;
    lastState_ = clock_.snapshot().state;
    refresh();
}

void ProgrammeSession::loadCurrent(bool undoable)
{
    loading_ = true;
    clock_.loadTalk(talkClockSetting(plan_, programme_.talk(programme_.current)), undoable);
    loading_ = false;
    lastState_ = clock_.snapshot().state;
    recordBeforeReset_.reset();
    refresh();
}

void ProgrammeSession::lookAtWallClock()
{
    // The time of day is news once a minute. Besides, in Ready and paused the expected end moves with the wall
    // clock, a second a second: looked at every ScheduleFollowMs, as the offset is read in minutes. While the talk
    // runs its expected end moves with the clock itself.
    const std::int64_t now = wallClock_.now().toMSecsSinceEpoch();
    const bool minuteTurned = now / 60'000 != refreshedAtMs_ / 60'000;
    const bool drifting = clock_.snapshot().state != ClockState::Running && now - refreshedAtMs_ >= ScheduleFollowMs;
    if (minuteTurned || drifting || now < refreshedAtMs_)
        refresh();
}

void ProgrammeSession::refresh()
{
    const QDateTime now = wallClock_.now();
    refreshedAtMs_ = now.toMSecsSinceEpoch();
    const ClockSnapshot &clock = clock_.snapshot();
    const Schedule schedule =
        programme_.empty() ? Schedule{}
                           : computeSchedule(programme_, plan_, TalkClock{clock.state, clock.elapsedSeconds}, now);
    clock_.setSessionInfo(sessionInfo(programme_, schedule, now));
}

void ProgrammeSession::saveCurrent()
{
    SaveProgrammeCurrent(programme_, store_);
    syncStore("the current talk");
}

void ProgrammeSession::saveRecord(std::int32_t talk)
{
    SaveTalkRecord(programme_, talk, store_);
    syncStore("the talk's record");
}

void ProgrammeSession::syncStore(const char *what)
{
    // The clock goes on either way; the next change tries again with everything not yet written.
    if (const std::optional<QString> failure = store_.sync())
        std::fprintf(stderr, "Kestrim: %s was not saved: %s\n", what, qPrintable(*failure));
}
