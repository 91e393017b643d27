#pragma once

#include "clock/clocksnapshot.h"
#include "programme/programme.h"
#include "programme/schedule.h"
#include "settings/clocksetting.h"

#include <QObject>

#include <optional>

class ClockSession;
class QTimer;
class SettingsStore;
class WallClock;

// A session of talks above the one clock: loads one talk at a time into the clock session (the stage plan
// with the talk's own lengths), records when each talk started and how long it took, moves on and back by
// Next Talk and Previous Talk, and hands the schedule to the clock, which carries it to every view. Without a
// programme it only passes the stage plan on, so the clock times one talk exactly as it always has.
//
// What changes during a session ("Current" and the records) is written and synced the moment it changes, so a
// crash or a flat battery loses at most the talk in progress, and a restart comes back to that talk in Ready.
class ProgrammeSession final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProgrammeSession)

public:
    ProgrammeSession(ClockSession &clock, SettingsStore &store, const WallClock &wallClock, QObject *parent = nullptr);
    ~ProgrammeSession() override;

    // Reads section "Programme" against the stage plan; throws StoredValueError for a value it cannot use.
    void load(const ClockSetting &plan);
    // The stage plan in force (start-up, a confirmed options dialog): the clock in Ready on the current talk,
    // or on the plan itself without a programme.
    void setPlan(const ClockSetting &plan);
    // An edited programme, stored at once. The clock stays as it is unless the current talk's own stages
    // changed (or a programme came or went) while it was not running; then it is in Ready on them, as after
    // the options dialog. A running clock is never reset here. Returns why the save failed.
    std::optional<QString> setProgramme(Programme programme);

    const Programme &programme() const { return programme_; }
    const ClockSetting &plan() const { return plan_; }
    // The schedule now, by the wall clock.
    Schedule schedule() const;

    // The time between two looks at the wall clock while nothing else happens, and between two schedules
    // computed for it alone in Ready or paused.
    static constexpr int WallClockCheckMs = 1000;
    static constexpr std::int64_t ScheduleFollowMs = 10'000;

private:
    void observe(const ClockSnapshot &snapshot, ClockEvents events);
    void changeTalk(int step);
    void takeUpTalkLeft();
    void loadCurrent(bool undoable);
    // Computes the schedule and hands it to the clock when it changed.
    void refresh();
    // Every WallClockCheckMs: refresh() where the wall clock has moved what the views show.
    void lookAtWallClock();
    // Looks at the wall clock every WallClockCheckMs while there is a programme, never without one.
    void followWallClock();
    void saveCurrent();
    void saveRecord(std::int32_t talk);
    void syncStore(const char *what);

    ClockSession &clock_;
    SettingsStore &store_;
    const WallClock &wallClock_;
    QTimer *wallClockCheck_ = nullptr;
    ClockSetting plan_;
    Programme programme_;
    ClockState lastState_ = ClockState::Ready;
    std::int64_t refreshedAtMs_ = 0; // the wall clock at the last refresh
    bool firstPlan_ = true;          // the start-up's, whose schedule waits until the window shows
    bool loading_ = false;           // the clock is being given a talk by this session: no record follows from it
    // What a reset threw away of the current talk's record, for Undo Reset.
    std::optional<TalkRecord> recordBeforeReset_;
    // The talk Next or Previous left, for Undo Reset until the next start.
    struct Left
    {
        std::int32_t talk;
        std::int64_t elapsedMs;
        TalkRecord record;
    };
    std::optional<Left> left_;
};
