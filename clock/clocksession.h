#pragma once

#include "clock/clockengine.h"
#include "clock/clocksnapshot.h"
#include "settings/clocksetting.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

class QTimer;
class TickCounter;
class SoundPlayer;

// What the operator (keys, toolbar, menu) or the stage desk (the network) can ask of the clock.
enum class ClockCommand
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
};

// One talk's clock as the whole program sees it: the engine with the setting it reads, the 100 ms timer and
// its phasing, the stage sounds, the read-out mode, the flash and the message. Every change is published as
// one ClockSnapshot through `changed`; any number of views observe it, none through another.
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

    // Carries out a command, or returns why the clock's state does not allow it (then nothing changed).
    std::optional<QString> perform(ClockCommand command, const QString &text = {});
    // Why `perform` would refuse now, without doing anything.
    std::optional<QString> refusal(ClockCommand command, const QString &text = {}) const;

    void setReadOutMode(ReadOutMode mode);
    void setFlashEnabled(bool on);

    // The state now, for a view that joins late.
    const ClockSnapshot &snapshot() const { return snapshot_; }

    // One tick of the 100 ms timer; public so tests step the clock without real time.
    void Timer_Timer();

signals:
    // Emitted synchronously after each command or tick that changed what a view shows.
    void changed(const ClockSnapshot &snapshot, ClockEvents events);

private:
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
};
