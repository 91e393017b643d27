#include "clock/clockengine.h"
#include "clock/clocksession.h"
#include "clock/readout.h"
#include "settings/clocksetting.h"
#include "support/fakes.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

constexpr std::int32_t int32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t int32Min = std::numeric_limits<std::int32_t>::min();

QString colors(const StageSetting &stage)
{
    return QStringLiteral("colors %1 %2").arg(stage.BackColor).arg(stage.ForeColor);
}

QString running(const QString &description)
{
    return QStringLiteral("status Clocking for ") + description + QStringLiteral(". Hit [SPACE] key to pause.");
}

const QString readyText = QStringLiteral("status Ready. Click [SPACE] key to clock.");
const QString pausedText = QStringLiteral("status Paused. [ESC] key to contimue, [SPACE] key to reset.");

// What the windows take from a snapshot, one line a part, through the read-out's own functions.
QStringList drawn(const ClockSnapshot &snapshot)
{
    const DigitColours colours = digitColours(snapshot);
    // The toolbar's Start, Stop, Reset and Option, as the catalogue enables them.
    const CommandSet can = snapshot.available;
    return {QStringLiteral("colors %1 %2").arg(colours.background).arg(colours.foreground),
            QStringLiteral("time %1").arg(snapshot.elapsedSeconds),
            QStringLiteral("buttons %1 %2 %3 %4")
                .arg(int(can.contains(ClockCommand::Start) || can.contains(ClockCommand::Continue)))
                .arg(int(can.contains(ClockCommand::Pause)))
                .arg(int(can.contains(ClockCommand::Reset)))
                .arg(int(can.contains(ClockCommand::Options))),
            QStringLiteral("status ") + statusText(snapshot),
            QStringLiteral("digits %1").arg(int(snapshot.digitsEnabled))};
}

// What the engine holds for a view: run state, shown second and stage, written "Running 900 s2".
struct Frame
{
    ClockState state;
    std::int32_t second;
    std::int32_t stage;
    friend bool operator==(const Frame &, const Frame &) = default;
};

QString frame(ClockState state, std::int32_t second, std::int32_t stage)
{
    static const QStringList names{QStringLiteral("Ready"), QStringLiteral("Running"), QStringLiteral("Paused")};
    return QStringLiteral("%1 %2 s%3").arg(names.at(static_cast<int>(state))).arg(second).arg(stage);
}

// Stages of the given lengths, each with its own sound "sN.wav", description "StageN" and colours, so a
// test can tell every stage's traces apart.
ClockSetting stagesOf(const std::vector<std::int32_t> &seconds)
{
    ClockSetting setting;
    for (std::size_t i = 0; i < seconds.size(); ++i) {
        const auto n = static_cast<std::int32_t>(i + 1);
        setting.Stages.push_back(StageSetting{n * 16, n * 256 + 1, seconds[i], QStringLiteral("s%1.wav").arg(n),
                                              QStringLiteral("Stage%1").arg(n)});
    }
    return setting;
}

// One engine with its fakes, driven through calls that log what each report says. The engine keeps
// references, so the rig stays where it was made.
struct Rig
{
    explicit Rig(ClockSetting s, std::int32_t startTick = 1000)
        : setting(std::move(s))
        , ticks(startTick)
    {
        engine.ClearTimer();
    }
    Q_DISABLE_COPY_MOVE(Rig)

    Frame now() const { return {engine.RunState(), std::max(engine.LastSecond(), 0), engine.CurrentStage()}; }

    // Every change reported is logged in `calls` as the frame it leaves, a change kept quiet as
    // "unreported ..." (which no test expects), and a stage end as "second:sound of the ended stage".
    template <typename Call>
    EngineReport act(Call call)
    {
        const Frame before = now();
        const EngineReport report = call(engine);
        const Frame after = now();
        if (report.shown || after != before)
            calls.append((report.shown ? QString() : QStringLiteral("unreported ")) +
                         frame(after.state, after.second, after.stage));
        if (after.stage != before.stage)
            ++stageChanges;
        if (report.stageEnded != 0)
            sounds.append(
                QStringLiteral("%1:%2").arg(engine.LastSecond()).arg(setting.stage(report.stageEnded).SoundFile));
        return report;
    }

    void start()
    {
        act([](ClockEngine &e) { return e.StartClock(); });
    }
    void pause()
    {
        act([](ClockEngine &e) { return e.PauseClock(); });
    }
    void clear()
    {
        act([](ClockEngine &e) { return e.ClearTimer(); });
    }
    void reset()
    {
        act([](ClockEngine &e) { return e.ResetClock(); });
    }
    void undo()
    {
        act([](ClockEngine &e) { return e.UndoReset(); });
    }
    void correct(std::int32_t seconds)
    {
        act([seconds](ClockEngine &e) { return e.Correct(seconds); });
    }
    // One tick; a second it reports is kept in `shown`.
    void tick()
    {
        if (act([](ClockEngine &e) { return e.Timer_Timer(); }).shown)
            shown.push_back(engine.LastSecond());
    }

    // Ticks every `step` ms for `ms` ms of test time.
    void run(std::int64_t ms, std::int64_t step = 100)
    {
        for (std::int64_t done = 0; done < ms; done += step) {
            ticks.advance(step);
            tick();
        }
    }

    ClockSetting setting;
    FakeTickCounter ticks;
    ClockEngine engine{setting, ticks};
    QStringList calls;
    std::vector<std::int32_t> shown;
    QStringList sounds;
    qsizetype stageChanges = 0;
};

// A session with its fakes. A sound played is logged as "second:path"; at each snapshot with a stage end
// the sounds played so far are counted, and the status of each snapshot that started or ended a stage kept.
struct SessionRig
{
    explicit SessionRig(const ClockSetting &setting)
    {
        QObject::connect(&session, &ClockSession::changed, &session,
                         [this](const ClockSnapshot &snapshot, ClockEvents events) {
                             if (events.testFlag(ClockEvent::StageEnded))
                                 playedAtEnds.append(sound.played.size());
                             if (events.testAnyFlags(ClockEvent::StageEnded | ClockEvent::StateChanged))
                                 statuses.append(QStringLiteral("status ") + statusText(snapshot));
                         });
        session.setSetting(setting);
        session.ClearTimer();
    }
    Q_DISABLE_COPY_MOVE(SessionRig)

    void run(std::int64_t ms)
    {
        for (std::int64_t done = 0; done < ms; done += 100) {
            ticks.advance(100);
            const qsizetype before = sound.played.size();
            session.Timer_Timer();
            for (qsizetype i = before; i < sound.played.size(); ++i)
                sounds.append(QStringLiteral("%1:%2").arg(session.snapshot().elapsedSeconds).arg(sound.played.at(i)));
        }
    }

    FakeTickCounter ticks{1000};
    FakeSoundPlayer sound;
    ClockSession session{ticks, sound};
    QStringList sounds;
    QList<qsizetype> playedAtEnds;
    QStringList statuses;
};

} // namespace

char *toString(ClockState state)
{
    return QTest::toString(static_cast<int>(state));
}

char *toString(const EngineReport &report)
{
    return QTest::toString(QStringLiteral("shown %1, stage ended %2").arg(int(report.shown)).arg(report.stageEnded));
}

class TestClock final : public QObject
{
    Q_OBJECT

private slots:
    void clearTimer_showsStageOneReady();
    void commands_followTransitionTable_data();
    void commands_followTransitionTable();
    void defaultTalk_walksStagesAtTheirEnds();
    void pauseJustBeforeStageEnd_continuesIntoNextStage();
    void resetWhilePaused_measuresFromZeroAgain();
    void undoReset_goesOnAsIfNeverReset_data();
    void undoReset_goesOnAsIfNeverReset();
    void undoReset_onlyForTheOperatorsLatestReset();
    void lateTick_catchesUpOverStageEnds_data();
    void lateTick_catchesUpOverStageEnds();
    void oddStageLengths_neitherFreezeNorLoop_data();
    void oddStageLengths_neitherFreezeNorLoop();
    void longOverdueRepeat_jumpsToNextEnd();
    void hugeStageSums_stayExact();
    void singleStage_repeats();
    void soundOff_stagesChangeSilently();
    void nextRun_showsSecondLastRunEndedOn_data();
    void nextRun_showsSecondLastRunEndedOn();
    void tickWrap_keepsElapsedExact_data();
    void tickWrap_keepsElapsedExact();
    void fullDay_readoutNeitherSkipsNorRepeats();
    void tickDifference_isModulo32Bits_data();
    void tickDifference_isModulo32Bits();
    void systemTickCounter_countsMilliseconds();
    void corrections_moveTimeAndStageSilently_data();
    void corrections_moveTimeAndStageSilently();
    void session_flashesAtStageEndsOnly_data();
    void session_flashesAtStageEndsOnly();
};

void TestClock::clearTimer_showsStageOneReady()
{
    ClockSetting setting = stagesOf({900, 300});
    FakeTickCounter ticks;
    ClockEngine engine(setting, ticks);
    QCOMPARE(engine.ClearTimer(), EngineReport{.shown = true});
    QCOMPARE(engine.RunState(), ClockState::Ready);
    QCOMPARE(engine.CurrentStage(), 1);
    QCOMPARE(engine.StageEnd(), 900);
    QCOMPARE(engine.LastSecond(), -1);
    QCOMPARE(engine.ElapsedMs(), 0);
    QCOMPARE(ticks.reads, 0);

    ClockSetting empty;
    ClockEngine noStages(empty, ticks);
    QVERIFY_THROWS_EXCEPTION(std::logic_error, noStages.ClearTimer());

    // What the windows show in each state comes from the session's snapshot of the engine.
    FakeSoundPlayer sound;
    ClockSession session(ticks, sound);
    session.setSetting(setting);
    session.ClearTimer();
    QCOMPARE(drawn(session.snapshot()),
             (QStringList{colors(setting.stage(1)), QStringLiteral("time 0"), QStringLiteral("buttons 1 0 0 1"),
                          readyText, QStringLiteral("digits 0")}));
    session.perform(ClockCommand::Start);
    QCOMPARE(drawn(session.snapshot()),
             (QStringList{colors(setting.stage(1)), QStringLiteral("time 0"), QStringLiteral("buttons 0 1 0 0"),
                          running(QStringLiteral("Stage1")), QStringLiteral("digits 1")}));
    ticks.advance(2500);
    session.Timer_Timer();
    session.perform(ClockCommand::Pause);
    QCOMPARE(drawn(session.snapshot()),
             (QStringList{colors(setting.stage(1)), QStringLiteral("time 2"), QStringLiteral("buttons 1 0 1 1"),
                          pausedText, QStringLiteral("digits 0")}));
}

void TestClock::commands_followTransitionTable_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("command");
    QTest::addColumn<ClockState>("state");
    QTest::addColumn<QStringList>("calls"); // the frames reported
    QTest::addColumn<int>("reads");

    // Running or paused after 4 s, then a second passes before the command.
    const QStringList cleared{frame(ClockState::Ready, 0, 1)};
    const QStringList none;

    QTest::newRow("ready start") << "ready"
                                 << "start" << ClockState::Running << QStringList{frame(ClockState::Running, 0, 1)}
                                 << 1;
    QTest::newRow("ready pause") << "ready"
                                 << "pause" << ClockState::Ready << none << 0;
    QTest::newRow("ready tick") << "ready"
                                << "tick" << ClockState::Ready << none << 0;
    QTest::newRow("ready clear") << "ready"
                                 << "clear" << ClockState::Ready << cleared << 0;
    QTest::newRow("running start") << "running"
                                   << "start" << ClockState::Running << none << 0;
    QTest::newRow("running pause") << "running"
                                   << "pause" << ClockState::Paused << QStringList{frame(ClockState::Paused, 4, 1)}
                                   << 1;
    QTest::newRow("running tick, new second")
        << "running"
        << "tick" << ClockState::Running << QStringList{frame(ClockState::Running, 5, 1)} << 1;
    QTest::newRow("running clear") << "running"
                                   << "clear" << ClockState::Ready << cleared << 0;
    QTest::newRow("paused start") << "paused"
                                  << "start" << ClockState::Running << QStringList{frame(ClockState::Running, 4, 1)}
                                  << 1;
    QTest::newRow("paused pause") << "paused"
                                  << "pause" << ClockState::Paused << none << 0;
    QTest::newRow("paused tick") << "paused"
                                 << "tick" << ClockState::Paused << none << 0;
    QTest::newRow("paused clear") << "paused"
                                  << "clear" << ClockState::Ready << cleared << 0;
}

void TestClock::commands_followTransitionTable()
{
    QFETCH(QString, from);
    QFETCH(QString, command);
    QFETCH(ClockState, state);
    QFETCH(QStringList, calls);
    QFETCH(int, reads);

    Rig rig(stagesOf({900, 300}));
    if (from != QLatin1String("ready")) {
        rig.start();
        rig.run(4000);
        if (from == QLatin1String("paused")) {
            rig.pause();
        }
    }
    rig.ticks.advance(1000);
    rig.calls.clear();
    rig.ticks.reads = 0;

    if (command == QLatin1String("start")) {
        rig.start();
    } else if (command == QLatin1String("pause")) {
        rig.pause();
    } else if (command == QLatin1String("clear")) {
        rig.clear();
    } else {
        rig.tick();
    }

    QCOMPARE(rig.engine.RunState(), state);
    QCOMPARE(rig.calls, calls);
    QCOMPARE(rig.ticks.reads, reads);
    QVERIFY(rig.sounds.isEmpty());
}

void TestClock::defaultTalk_walksStagesAtTheirEnds()
{
    Rig rig(DefaultClockSetting(QStringLiteral("/opt/kestrim")));
    const auto &s = rig.setting;
    rig.start();
    rig.tick();
    QCOMPARE(rig.shown, std::vector<std::int32_t>{0});

    struct Step
    {
        std::int32_t second;
        std::int32_t stage;
        std::int32_t stageEnd;
    };
    const std::vector<Step> steps{{900, 2, 1200}, {1200, 3, 1500}, {1500, 4, 1560}, {1560, 4, 1620}, {1620, 4, 1680}};
    const QStringList expectedSounds{
        QStringLiteral("900:") + s.stage(1).SoundFile, QStringLiteral("1200:") + s.stage(2).SoundFile,
        QStringLiteral("1500:") + s.stage(3).SoundFile, QStringLiteral("1560:") + s.stage(4).SoundFile,
        QStringLiteral("1620:") + s.stage(4).SoundFile};

    std::int32_t reached = 0;
    for (const Step &step : steps) {
        rig.calls.clear();
        const qsizetype endsBefore = rig.sounds.size();
        const QRegularExpression sameStage(QStringLiteral("^Running \\d+ s%1$").arg(rig.engine.CurrentStage()));
        // Up to the last tick before the stage end nothing but the read-out changes.
        rig.run((step.second - reached) * 1000 - 100);
        QCOMPARE(rig.calls.filter(sameStage).size(), rig.calls.size());
        QCOMPARE(rig.sounds.size(), endsBefore);
        QCOMPARE(rig.engine.StageEnd(), step.second);
        rig.calls.clear();
        rig.run(100);
        QCOMPARE(rig.calls, QStringList{frame(ClockState::Running, step.second, step.stage)});
        QCOMPARE(rig.sounds.size(), endsBefore + 1);
        QCOMPARE(rig.engine.CurrentStage(), step.stage);
        QCOMPARE(rig.engine.StageEnd(), step.stageEnd);
        reached = step.second;
    }
    QCOMPARE(rig.sounds, expectedSounds);
}

void TestClock::pauseJustBeforeStageEnd_continuesIntoNextStage()
{
    Rig rig(stagesOf({900, 300}));
    rig.start();
    rig.run(899700);
    QCOMPARE(rig.shown.back(), 899);
    rig.pause();
    rig.calls.clear();
    rig.run(3600000); // an hour's pause: ticks arrive but change nothing
    QCOMPARE(rig.shown.back(), 899);
    QVERIFY(rig.calls.isEmpty());

    rig.start();
    rig.calls.clear();
    rig.run(200);
    QVERIFY(rig.calls.isEmpty());
    rig.run(100);
    QCOMPARE(rig.calls, QStringList{frame(ClockState::Running, 900, 2)});
    QCOMPARE(rig.sounds, QStringList{QStringLiteral("900:s1.wav")});
}

void TestClock::resetWhilePaused_measuresFromZeroAgain()
{
    Rig rig(stagesOf({900, 300, 300}));
    rig.start();
    rig.run(1000000);
    QCOMPARE(rig.engine.CurrentStage(), 2);
    rig.pause();
    rig.ticks.advance(12345);
    rig.clear();
    QCOMPARE(rig.engine.CurrentStage(), 1);
    QCOMPARE(rig.engine.StageEnd(), 900);
    QCOMPARE(rig.calls.last(), frame(ClockState::Ready, 0, 1));

    rig.sounds.clear();
    rig.shown.clear();
    rig.start();
    rig.run(900000);
    // The first tick shows 0 again: the reset's 00 00 and the run's first second are the same text.
    QCOMPARE(rig.shown.size(), std::size_t(901));
    QCOMPARE(rig.shown.front(), 0);
    QCOMPARE(rig.shown.back(), 900);
    QCOMPARE(rig.sounds, QStringList{QStringLiteral("900:s1.wav")});
    QCOMPARE(rig.engine.CurrentStage(), 2);
}
void TestClock::undoReset_goesOnAsIfNeverReset_data()
{
    QTest::addColumn<std::int32_t>("pauseTick");
    QTest::addColumn<std::int32_t>("readyMs");

    // Paused at 899.7 s of elapsed time at `pauseTick`; reset, then `readyMs` in Ready before the undo.
    QTest::newRow("plain") << std::int32_t(1000) << std::int32_t(60000);
    QTest::newRow("2^31 passes in Ready") << std::int32_t(int32Max - 1000) << std::int32_t(5000);
    QTest::newRow("2^32 passes in Ready") << std::int32_t(-1000) << std::int32_t(5000);
    QTest::newRow("2^31 passes while paused before") << std::int32_t(int32Min + 10) << std::int32_t(1);
}

void TestClock::undoReset_goesOnAsIfNeverReset()
{
    QFETCH(std::int32_t, pauseTick);
    QFETCH(std::int32_t, readyMs);

    Rig rig(stagesOf({900, 300}), static_cast<std::int32_t>(static_cast<std::uint32_t>(pauseTick) - 899700u));
    rig.start();
    rig.run(899700);
    rig.pause();
    rig.reset();
    QVERIFY(rig.engine.canUndoReset());
    QCOMPARE(rig.calls.last(), frame(ClockState::Ready, 0, 1));
    rig.run(readyMs);

    rig.calls.clear();
    rig.undo();
    QCOMPARE(rig.engine.RunState(), ClockState::Paused);
    QCOMPARE(rig.calls, QStringList{frame(ClockState::Paused, 899, 1)});
    QVERIFY(!rig.engine.canUndoReset());

    // Neither the reset nor the time in Ready counts: stage 2 begins 0.3 s after continuing.
    rig.start();
    rig.calls.clear();
    rig.run(200);
    QVERIFY(rig.calls.isEmpty());
    rig.run(100);
    QCOMPARE(rig.calls, QStringList{frame(ClockState::Running, 900, 2)});
    QCOMPARE(rig.sounds, QStringList{QStringLiteral("900:s1.wav")});
}

void TestClock::undoReset_onlyForTheOperatorsLatestReset()
{
    Rig rig(stagesOf({10, 300}));
    const auto pausedAfter = [&rig](std::int64_t ms) {
        rig.clear();
        rig.start();
        rig.run(ms);
        rig.pause();
    };

    pausedAfter(0);
    rig.reset();
    QVERIFY2(!rig.engine.canUndoReset(), "nothing measured, nothing thrown away");

    pausedAfter(12000);
    rig.clear();
    QVERIFY2(!rig.engine.canUndoReset(), "a reset for a new configuration");

    pausedAfter(12000);
    rig.reset();
    rig.start();
    rig.pause();
    QVERIFY2(!rig.engine.canUndoReset(), "a start begins a new talk");
    rig.reset();
    rig.calls.clear();
    rig.undo();
    QCOMPARE(rig.engine.RunState(), ClockState::Ready);
    QVERIFY(rig.calls.isEmpty());

    // The stage the reset found comes back with its colours, even when stage 1 never showed a second.
    pausedAfter(12000);
    rig.reset();
    rig.calls.clear();
    rig.undo();
    QCOMPARE(rig.engine.CurrentStage(), 2);
    QCOMPARE(rig.engine.StageEnd(), 310);
    QCOMPARE(rig.calls, QStringList{frame(ClockState::Paused, 12, 2)});
}

void TestClock::lateTick_catchesUpOverStageEnds_data()
{
    QTest::addColumn<std::int32_t>("late");
    QTest::addColumn<std::int32_t>("stage");
    QTest::addColumn<std::int32_t>("stageEnd");
    QTest::addColumn<QString>("sound");

    // Stages 900, 300, 300, 60 as by default; one tick at 0 s, then the next one arrives `late` seconds on.
    QTest::newRow("one second short of the end") << 899 << 1 << 900 << QString();
    QTest::newRow("just past the first end") << 901 << 2 << 1200 << QStringLiteral("s1.wav");
    QTest::newRow("on the second end") << 1200 << 3 << 1500 << QStringLiteral("s2.wav");
    QTest::newRow("over two ends") << 1250 << 3 << 1500 << QStringLiteral("s2.wav");
    QTest::newRow("into the last stage") << 1500 << 4 << 1560 << QStringLiteral("s3.wav");
    QTest::newRow("over repeats of the last stage") << 1700 << 4 << 1740 << QStringLiteral("s4.wav");
    QTest::newRow("on a repeat of the last stage") << 1680 << 4 << 1740 << QStringLiteral("s4.wav");
}

void TestClock::lateTick_catchesUpOverStageEnds()
{
    QFETCH(std::int32_t, late);
    QFETCH(std::int32_t, stage);
    QFETCH(std::int32_t, stageEnd);
    QFETCH(QString, sound);

    Rig rig(stagesOf({900, 300, 300, 60}));
    rig.start();
    rig.tick();
    rig.calls.clear();
    rig.ticks.advance(std::int64_t(late) * 1000 + 400);
    rig.tick();

    QCOMPARE(rig.engine.CurrentStage(), stage);
    QCOMPARE(rig.engine.StageEnd(), stageEnd);
    const QStringList sounds = sound.isEmpty() ? QStringList() : QStringList{QStringLiteral("%1:").arg(late) + sound};
    QCOMPARE(rig.sounds, sounds);
    // One report for the late second, in the stage reached; the stage ends passed on the way name only the last.
    QCOMPARE(rig.calls, QStringList{frame(ClockState::Running, late, stage)});

    // Back on the regular beat the run goes on from the stage reached.
    rig.sounds.clear();
    rig.run(std::int64_t(stageEnd - late) * 1000);
    QCOMPARE(rig.sounds.size(), 1);
    QVERIFY(rig.sounds.front().startsWith(QStringLiteral("%1:s%2").arg(stageEnd).arg(stage)));
}

void TestClock::oddStageLengths_neitherFreezeNorLoop_data()
{
    QTest::addColumn<std::vector<std::int32_t>>("lengths");
    QTest::addColumn<std::int32_t>("stage");
    QTest::addColumn<std::int32_t>("stageEnd");
    QTest::addColumn<QStringList>("sounds");

    // Each run lasts 100 s with a tick every 100 ms.
    QTest::newRow("zero middle stage passed through")
        << std::vector<std::int32_t>{10, 0, 10, 500} << 4 << 520
        << QStringList{QStringLiteral("10:s2.wav"), QStringLiteral("20:s3.wav")};
    QTest::newRow("negative middle stage passed through")
        << std::vector<std::int32_t>{10, -4, 10, 500} << 4 << 516
        << QStringList{QStringLiteral("10:s2.wav"), QStringLiteral("16:s3.wav")};
    QTest::newRow("zero first stage left at once")
        << std::vector<std::int32_t>{0, 10, 500} << 3 << 510
        << QStringList{QStringLiteral("0:s1.wav"), QStringLiteral("10:s2.wav")};
    QTest::newRow("zero last stage entered and kept")
        << std::vector<std::int32_t>{10, 10, 0} << 3 << 20
        << QStringList{QStringLiteral("10:s1.wav"), QStringLiteral("20:s2.wav")};
    QTest::newRow("negative last stage entered and kept")
        << std::vector<std::int32_t>{10, 10, -30} << 3 << -10
        << QStringList{QStringLiteral("10:s1.wav"), QStringLiteral("20:s2.wav")};
    QTest::newRow("only stage of zero") << std::vector<std::int32_t>{0} << 1 << 0 << QStringList();
}

void TestClock::oddStageLengths_neitherFreezeNorLoop()
{
    QFETCH(std::vector<std::int32_t>, lengths);
    QFETCH(std::int32_t, stage);
    QFETCH(std::int32_t, stageEnd);
    QFETCH(QStringList, sounds);

    Rig rig(stagesOf(lengths));
    rig.start();
    rig.tick();
    rig.run(100000);
    QCOMPARE(rig.engine.CurrentStage(), stage);
    QCOMPARE(rig.engine.StageEnd(), stageEnd);
    QCOMPARE(rig.sounds, sounds);
    // The stage changes only where a stage end is reported, a kept stage at none of the seconds after.
    QCOMPARE(rig.stageChanges, sounds.size());
    QCOMPARE(rig.shown.size(), std::size_t(101));
}

void TestClock::longOverdueRepeat_jumpsToNextEnd()
{
    // 49 days without a tick over a one-second last stage: millions of repeats to step over.
    Rig rig(stagesOf({900, 1}));
    rig.start();
    rig.tick();
    const std::int32_t days49 = 49 * 86400;
    rig.ticks.advance(std::int64_t(days49) * 1000 + 999);
    QElapsedTimer timer;
    timer.start();
    rig.tick();
    QVERIFY2(timer.elapsed() < 1000, "catching up must not walk every repeat");
    QCOMPARE(rig.engine.CurrentStage(), 2);
    QCOMPARE(rig.engine.StageEnd(), days49 + 1);
    QCOMPARE(rig.sounds, QStringList{QStringLiteral("%1:s2.wav").arg(days49)});
    QCOMPARE(rig.shown.back(), days49);
}

void TestClock::hugeStageSums_stayExact()
{
    // Sums that leave the 32-bit range on the way must neither overflow nor lose the stage ends.
    Rig down(stagesOf({int32Min, int32Min, 5, int32Max}));
    down.start();
    down.tick();
    // -2^31 - 2^31 + 5 + (2^31 - 1) = -2^31 + 4 is already passed at 0 s; one repeat brings the end to 3.
    QCOMPARE(down.engine.CurrentStage(), 4);
    QCOMPARE(down.engine.StageEnd(), 3);
    QCOMPARE(down.sounds, QStringList{QStringLiteral("0:s4.wav")});

    Rig up(stagesOf({10, int32Max, int32Max}));
    up.start();
    up.run(10000);
    QCOMPARE(up.engine.CurrentStage(), 2);
    QCOMPARE(up.engine.StageEnd(), int32Max); // saturated: 10 + (2^31 - 1) does not fit
    up.run(5000);
    QCOMPARE(up.engine.CurrentStage(), 2);
    QCOMPARE(up.shown.back(), 15);
}

void TestClock::singleStage_repeats()
{
    const QStringList ends{QStringLiteral("60:s1.wav"), QStringLiteral("120:s1.wav"), QStringLiteral("180:s1.wav")};
    Rig rig(stagesOf({60}));
    rig.start();
    rig.run(185000);
    QCOMPARE(rig.sounds, ends);
    QCOMPARE(rig.engine.CurrentStage(), 1);
    QCOMPARE(rig.engine.StageEnd(), 240);

    // The session readies the sound output as the talk starts, not at the first stage end. It names the
    // stage at the start and at every end, and sounds each end once, after the snapshot that shows it.
    SessionRig talk(stagesOf({60}));
    talk.session.perform(ClockCommand::Start);
    QCOMPARE(talk.sound.prepared, 1);
    talk.run(185000);
    QCOMPARE(talk.sounds, ends);
    QCOMPARE(talk.statuses, QStringList(1 + 3, running(QStringLiteral("Stage1"))));
    QCOMPARE(talk.playedAtEnds, (QList<qsizetype>{0, 1, 2}));
    QCOMPARE(talk.sound.prepared, 1);
}

void TestClock::soundOff_stagesChangeSilently()
{
    ClockSetting setting = stagesOf({900, 300, 300, 60});
    setting.SoundEnabled = false;
    SessionRig talk(setting);
    talk.session.perform(ClockCommand::Start);
    talk.run(1560000);
    QVERIFY(talk.sound.played.isEmpty());
    QCOMPARE(talk.sound.prepared, 0);
    QCOMPARE(talk.session.snapshot().stage, 4);
    QCOMPARE(talk.session.snapshot().stageEnd, std::int64_t(1620));
    QCOMPARE(talk.statuses, (QStringList{running(QStringLiteral("Stage1")), running(QStringLiteral("Stage2")),
                                         running(QStringLiteral("Stage3")), running(QStringLiteral("Stage4")),
                                         running(QStringLiteral("Stage4"))}));
    // Switched on during the talk, the sound is heard from the next end on.
    talk.session.setSoundEnabled(true);
    talk.run(60000);
    QCOMPARE(talk.sounds, QStringList{QStringLiteral("1620:s4.wav")});
}

void TestClock::nextRun_showsSecondLastRunEndedOn_data()
{
    QTest::addColumn<std::vector<std::int32_t>>("lengths");
    QTest::addColumn<std::int32_t>("firstRunMs");
    QTest::addColumn<std::int32_t>("firstTickMs");
    QTest::addColumn<std::int32_t>("stage");

    // The first run is reset after `firstRunMs`; the second run's first tick comes at `firstTickMs`, in the
    // very second the first run showed last.
    QTest::newRow("reset at 15:00, next tick late at 15:00")
        << std::vector<std::int32_t>{900, 300} << 900000 << 900500 << 2;
    QTest::newRow("zero first stage, reset within the first second")
        << std::vector<std::int32_t>{0, 300} << 500 << 300 << 2;
}

void TestClock::nextRun_showsSecondLastRunEndedOn()
{
    QFETCH(std::vector<std::int32_t>, lengths);
    QFETCH(std::int32_t, firstRunMs);
    QFETCH(std::int32_t, firstTickMs);
    QFETCH(std::int32_t, stage);

    Rig rig(stagesOf(lengths));
    rig.start();
    rig.run(firstRunMs);
    rig.pause();
    rig.clear();
    const std::int32_t second = firstTickMs / 1000;
    QCOMPARE(rig.engine.LastSecond(), -1);

    rig.sounds.clear();
    rig.calls.clear();
    rig.start();
    rig.ticks.advance(firstTickMs);
    rig.tick();
    QCOMPARE(rig.calls.last(), frame(ClockState::Running, second, stage));
    QCOMPARE(rig.engine.CurrentStage(), stage);
    QCOMPARE(rig.sounds, QStringList{QStringLiteral("%1:s1.wav").arg(second)});
}

void TestClock::tickWrap_keepsElapsedExact_data()
{
    QTest::addColumn<std::int32_t>("startTick");

    // The counter passes a wrap point 700 ms into the run, or during the pause from 1.5 s to 2.5 s.
    QTest::newRow("2^31 while running") << std::int32_t(int32Max - 699);
    QTest::newRow("2^31 while paused") << std::int32_t(int32Max - 1999);
    QTest::newRow("2^32 while running") << std::int32_t(-700);
    QTest::newRow("2^32 while paused") << std::int32_t(-2000);
    QTest::newRow("exactly at 2^31") << int32Min;
    QTest::newRow("exactly at 2^32") << std::int32_t(0);
}

void TestClock::tickWrap_keepsElapsedExact()
{
    QFETCH(std::int32_t, startTick);

    Rig rig(stagesOf({2, 60}), startTick);
    rig.start();
    rig.tick();
    rig.ticks.advance(999);
    rig.tick();
    QCOMPARE(rig.shown, std::vector<std::int32_t>{0});
    rig.ticks.advance(1);
    rig.tick();
    QCOMPARE(rig.shown, (std::vector<std::int32_t>{0, 1}));
    rig.ticks.advance(500);
    rig.pause();
    rig.ticks.advance(1000);
    rig.tick();
    rig.start();
    rig.ticks.advance(499);
    rig.tick();
    QCOMPARE(rig.shown, (std::vector<std::int32_t>{0, 1}));
    rig.ticks.advance(1);
    rig.tick();
    QCOMPARE(rig.shown, (std::vector<std::int32_t>{0, 1, 2}));
    QCOMPARE(rig.engine.CurrentStage(), 2);
    QCOMPARE(rig.sounds, QStringList{QStringLiteral("2:s1.wav")});
}

void TestClock::fullDay_readoutNeitherSkipsNorRepeats()
{
    // A day of 100 ms ticks, starting 12 hours before the counter passes 2^31.
    constexpr std::int32_t day = 86400;
    Rig rig(stagesOf({900, 300, 300, 60}), int32Max - 43200000);
    rig.start();
    rig.ticks.reads = 0;
    int tickCount = 0;
    for (std::int64_t ms = 0; ms <= std::int64_t(day) * 1000; ms += 100) {
        const std::size_t before = rig.shown.size();
        rig.tick();
        ++tickCount;
        if (rig.shown.size() != before) {
            // A new second shows on the first tick that sees it, and only then.
            const std::int32_t second = rig.shown.back();
            if (ms / 1000 != second || ms % 1000 >= 100) {
                QFAIL(qPrintable(QStringLiteral("second %1 shown at %2 ms").arg(second).arg(ms)));
            }
        }
        rig.ticks.advance(100);
    }
    QCOMPARE(rig.shown.size(), std::size_t(day + 1));
    for (std::int32_t s = 0; s <= day; ++s) {
        if (rig.shown[std::size_t(s)] != s) {
            QFAIL(qPrintable(QStringLiteral("position %1 shows %2").arg(s).arg(rig.shown[std::size_t(s)])));
        }
    }
    // Three stage ends, then the 60 s last stage every minute from 1560 s to the end of the day.
    const qsizetype changes = 3 + (day - 1560) / 60 + 1;
    QCOMPARE(rig.sounds.size(), changes);
    // Besides the start's report one a second, stage ends included, nothing more.
    QCOMPARE(rig.calls.size(), 1 + day + 1);
    QCOMPARE(rig.ticks.reads, tickCount);
    QCOMPARE(rig.engine.StageEnd(), day + 60);
}

void TestClock::tickDifference_isModulo32Bits_data()
{
    QTest::addColumn<std::int32_t>("later");
    QTest::addColumn<std::int32_t>("earlier");
    QTest::addColumn<qint64>("difference");

    QTest::newRow("plain") << 5000 << 1000 << qint64(4000);
    QTest::newRow("same") << 77 << 77 << qint64(0);
    QTest::newRow("across 2^31") << std::int32_t(int32Min + 10) << std::int32_t(int32Max - 9) << qint64(20);
    QTest::newRow("across 2^32") << 10 << -10 << qint64(20);
    QTest::newRow("from 2^31 to just short of 2^32") << -1 << int32Min << qint64(int32Max);
    QTest::newRow("longest forward span") << -1 << 0 << qint64(4294967295);
    QTest::newRow("backwards reads as a long span") << 0 << 1 << qint64(4294967295);
    QTest::newRow("extremes") << int32Max << int32Min << qint64(4294967295);
}

void TestClock::tickDifference_isModulo32Bits()
{
    QFETCH(std::int32_t, later);
    QFETCH(std::int32_t, earlier);
    QFETCH(qint64, difference);
    QCOMPARE(tickDifference(later, earlier), difference);
}

void TestClock::systemTickCounter_countsMilliseconds()
{
    SystemTickCounter counter;
    QElapsedTimer reference;
    reference.start();
    const std::int32_t first = counter.GetTickCount();
    std::int32_t previous = first;
    while (reference.elapsed() < 20) {
        const std::int32_t now = counter.GetTickCount();
        QVERIFY2(tickDifference(now, previous) < 1000, "the counter went backwards");
        previous = now;
    }
    const std::int32_t last = counter.GetTickCount();
    const qint64 measured = reference.elapsed();
    const qint64 counted = tickDifference(last, first);
    // Milliseconds, not seconds or microseconds: within a few ms of an independent clock.
    QVERIFY2(counted >= 18 && counted <= measured + 5,
             qPrintable(QStringLiteral("counted %1 ms, measured %2 ms").arg(counted).arg(measured)));
}

void TestClock::corrections_moveTimeAndStageSilently_data()
{
    QTest::addColumn<std::int32_t>("startTick");
    QTest::addColumn<bool>("paused");
    QTest::addColumn<QList<int>>("minutes"); // each +1 or -1, after 10.5 s of talk
    QTest::addColumn<std::int32_t>("second");
    QTest::addColumn<std::int32_t>("stage");

    // Stages of 100, 50 and 30 s, the last repeating.
    QTest::newRow("within stage 1") << std::int32_t(1000) << false << QList<int>{1} << 70 << 1;
    QTest::newRow("across an end") << std::int32_t(1000) << false << QList<int>{1, 1} << 130 << 2;
    QTest::newRow("back over an end") << std::int32_t(1000) << false << QList<int>{1, 1, -1} << 70 << 1;
    QTest::newRow("never below zero") << std::int32_t(1000) << false << QList<int>{-1} << 0 << 1;
    QTest::newRow("paused, into a repeat") << std::int32_t(1000) << true << QList<int>{1, 1, 1} << 190 << 3;
    QTest::newRow("paused, back below zero") << std::int32_t(1000) << true << QList<int>{1, -1, -1} << 0 << 1;
    QTest::newRow("over 2^31") << std::int32_t(int32Max - 30000) << false << QList<int>{1, 1} << 130 << 2;
    QTest::newRow("over 2^32, back") << std::int32_t(-30000) << true << QList<int>{1, -1, -1} << 0 << 1;
}

// A correction moves the talk's time at once, stage and colours with it, plays no sound, keeps the run state;
// the time then passes on from the corrected second, and Undo Reset gives the corrected time back.
void TestClock::corrections_moveTimeAndStageSilently()
{
    QFETCH(std::int32_t, startTick);
    QFETCH(bool, paused);
    QFETCH(QList<int>, minutes);
    QFETCH(std::int32_t, second);
    QFETCH(std::int32_t, stage);

    Rig rig(stagesOf({100, 50, 30}), startTick);
    rig.start();
    rig.run(10500);
    if (paused)
        rig.pause();
    for (int minute : minutes)
        rig.correct(60 * minute);
    const ClockState state = paused ? ClockState::Paused : ClockState::Running;
    QCOMPARE(rig.calls.last(), frame(state, second, stage));
    QCOMPARE(rig.engine.CurrentStage(), stage);
    QCOMPARE(rig.engine.RunState(), state);
    QVERIFY(rig.sounds.isEmpty());
    QCOMPARE(rig.engine.ElapsedMs() % 1000, second == 0 ? 0 : 500);

    rig.start();
    rig.run(second == 0 ? 1000 : 500);
    QCOMPARE(rig.shown.back(), second + 1);
    rig.pause();
    rig.reset();
    rig.undo();
    QCOMPARE(rig.calls.last(), frame(ClockState::Paused, second + 1, stage));
    QCOMPARE(rig.engine.CurrentStage(), stage);
}

void TestClock::session_flashesAtStageEndsOnly_data()
{
    QTest::addColumn<bool>("flash");
    QTest::addColumn<bool>("pauseAtEnd");
    // Whether the digits are swapped at 0, 0.5, 1, ... 3.5 s after the end of a 2 s stage.
    QTest::addColumn<QList<bool>>("phases");
    // Snapshots from the first tick on: one per second turned, flash change or pause, several at one tick
    // making one.
    QTest::addColumn<int>("snapshots");

    const QList<bool> flashing{true, false, true, false, true, false, false, false};
    QTest::newRow("flash on") << true << false << flashing << 2 + 4 + 3;
    QTest::newRow("flash on, paused at the end: it ends all the same") << true << true << flashing << 2 + 1 + 5;
    QTest::newRow("flash off") << false << false << QList<bool>(8, false) << 2 + 4;
}

void TestClock::session_flashesAtStageEndsOnly()
{
    QFETCH(bool, flash);
    QFETCH(bool, pauseAtEnd);
    QFETCH(QList<bool>, phases);
    QFETCH(int, snapshots);

    FakeTickCounter ticks(1000);
    FakeSoundPlayer sound;
    ClockSession session(ticks, sound);
    QList<ClockEvents> events;
    QObject::connect(&session, &ClockSession::changed, &session,
                     [&](const ClockSnapshot &, ClockEvents happened) { events.append(happened); });
    session.setSetting(stagesOf({2, 600}));
    session.setFlashEnabled(flash);
    session.ClearTimer();
    session.perform(ClockCommand::Start);
    // A correction crossing the end neither sounds nor flashes.
    session.perform(ClockCommand::AddMinute);
    QVERIFY(!session.snapshot().flashInverted && sound.played.isEmpty());
    session.perform(ClockCommand::TakeMinute);
    events.clear();
    for (int ms = 0; ms < 2000; ms += 100) {
        ticks.advance(100);
        session.Timer_Timer();
    }
    QVERIFY(events.last().testFlag(ClockEvent::StageEnded) && events.last().testFlag(ClockEvent::SecondTurned));
    QCOMPARE(sound.played, QStringList{QStringLiteral("s1.wav")});
    if (pauseAtEnd)
        session.perform(ClockCommand::Pause);
    for (qsizetype i = 0; i < phases.size(); ++i) {
        QCOMPARE(session.snapshot().flashInverted, phases.at(i));
        for (int step = 0; step < 5; ++step) {
            ticks.advance(100);
            session.Timer_Timer();
        }
    }
    QCOMPARE(events.size(), snapshots);
    QCOMPARE(session.snapshot().stage, 2);
}

QTEST_GUILESS_MAIN(TestClock)
#include "tst_clock.moc"
