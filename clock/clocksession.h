#pragma once

#include "clock/clockengine.h"
#include "clock/clocksnapshot.h"
#include "clock/commands.h"
#include "settings/clocksetting.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

class QTimer;
class TickCounter;
class SoundPlayer;

// One talk's clock as the whole program sees it: the engine with the setting it reads, the 100 ms timer and
// its phasing, the stage sounds, and everything a command can change (the read-out mode, the flash, the sound
// switch, the message, the blackout). Every change is published as one ClockSnapshot through `changed`; any
// number of views observe it, none through another, and whatever the room stores it reads from here.
//
// A tick within the same second publishes nothing, allocates nothing and writes to no widget.
class ClockSession final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ClockSession)

public:
    static constexpr qsizetype MaxMessageLength = 200;
    static constexpr std::int32_t CorrectionSeconds = 60;
    // The flash at a stage end: swapped colours first, a change every half second, steady after 3 s.
    static constexpr std::int32_t FlashPhaseMs = 500;
    static constexpr std::int32_t FlashMs = 3000;

    ClockSession(TickCounter &ticks, SoundPlayer &sound, QObject *parent = nullptr);
    ~ClockSession() override;

    // The configuration the clock reads from now on. Follow it with ClearTimer() (the load and a confirmed
    // options dialog do), as the engine may meet a new configuration only from Ready at stage 1.
    void setSetting(const ClockSetting &setting);
    const ClockSetting &setting() const { return setting_; }
    // The sound switch of this run ("Sound" button); not stored.
    void setSoundEnabled(bool on);

    // Back to Ready at stage 1 for the configuration in force: not undoable.
    void ClearTimer();
    // Stops the ticks for good: the program is quitting.
    void stop();

    // Carries out a command, or returns why it is not available now or its argument (the message's text, a
    // mode's word) is not one it takes; then nothing changed. The options dialog is the window's to open:
    // here it is only judged.
    std::optional<QString> perform(ClockCommand command, const QString &argument = {});
    // Why `perform` would refuse now, without doing anything.
    std::optional<QString> refusal(ClockCommand command, const QString &argument = {}) const;

    // The stored read-out mode and flash switch, as the room loads them.
    void setReadOutMode(ReadOutMode mode);
    void setFlashEnabled(bool on);

    // What the programme above tells the views of the session; published with ClockEvent::SessionChanged.
    // Next Talk and Previous Talk are available by its talk and count.
    void setSessionInfo(const SessionInfo &info);
    // The programme's talk `setting` in Ready at stage 1, as a new configuration. With `undoable`, Undo
    // Reset asks for the talk left (talkUndoRequested) until the next start.
    void loadTalk(const ClockSetting &setting, bool undoable);
    // The programme's talk `setting` paused at `elapsedMs`, as the talk left was.
    void resumeTalk(const ClockSetting &setting, std::int64_t elapsedMs);

    // The state now, for a view that joins late.
    const ClockSnapshot &snapshot() const { return snapshot_; }

    // One tick of the 100 ms timer; public so tests step the clock without real time.
    void Timer_Timer();

signals:
    // Emitted synchronously after each command or tick that changed what a view shows.
    void changed(const ClockSnapshot &snapshot, ClockEvents events);
    // Next Talk (+1) or Previous Talk (-1) was carried out: the programme loads that talk, synchronously.
    void talkRequested(int step);
    // Undo Reset after a change of talk: the programme takes the talk left up again, synchronously.
    void talkUndoRequested();

private:
    CommandContext context() const;
    void startClock();
    void startTicksOnTheSecond();
    void correct(std::int32_t seconds);
    void tickFlash();
    bool flashInverted() const;
    ClockSnapshot compose() const;
    void publish();

    TickCounter &ticks_;
    SoundPlayer &sound_;
    ClockSetting setting_;
    std::int64_t talkSeconds_ = 0; // of setting_, walked once per configuration
    ClockEngine engine_;
    QTimer *timer_ = nullptr;
    QTimer *tickPhase_ = nullptr;

    ClockSnapshot snapshot_;
    ClockEvents pending_;
    ReadOutMode mode_ = ReadOutMode::Elapsed;
    bool flashEnabled_ = false;
    std::optional<std::int32_t> flashStartTick_;
    std::int64_t flashPhase_ = 0;
    QString message_;
    bool blackout_ = false;
    SessionInfo session_;
    bool talkUndo_ = false; // Undo Reset goes back to the talk left
};
