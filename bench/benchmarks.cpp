// Micro-benchmarks of the work the program does while a talk runs and when it starts or saves.
//
// Runs offscreen with its own empty settings folder. Besides the times, the tick benchmarks report how
// many allocations and reported changes one tick makes; a tick within the same second must make none, and the
// benchmark fails (error instead of a time) if it does.
#include "clock/clockengine.h"
#include "mainwindow/audiencewindow.h"
#include "mainwindow/labellayout.h"
#include "mainwindow/mainwindow.h"
#include "platform/filestore.h"
#include "programme/programmestore.h"
#include "programme/schedule.h"
#include "settings/persistence.h"
#include "support/allocationcount.h"
#include "support/fakes.h"
#include "support/windowrig.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>

#include <array>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace {

// The fake player keeps every path; over millions of stage ends that would be the cost measured.
class SilentSoundPlayer final : public SoundPlayer
{
public:
    void play(const QString &path) override { benchmark::DoNotOptimize(path.size()); }
};

const QString ProgramFolder = QStringLiteral("/opt/kestrim");

// Stages of one second each with colours of their own, so every new second ends a stage.
ClockSetting oneSecondStages()
{
    ClockSetting setting = DefaultClockSetting(ProgramFolder);
    for (std::int32_t n = 1; n <= setting.Count(); ++n) {
        setting.stage(n).Seconds = 1;
        setting.stage(n).BackColor = 0x10 * n;
        setting.stage(n).ForeColor = 0xFFFFFF - 0x10 * n;
    }
    return setting;
}

ClockSetting manyStages(std::int32_t count)
{
    ClockSetting setting = DefaultClockSetting(ProgramFolder);
    setting.Stages.resize(static_cast<std::size_t>(count));
    for (std::int32_t n = 1; n <= count; ++n) {
        StageSetting &stage = setting.stage(n);
        stage.BackColor = n * 7919;
        stage.ForeColor = 0xFFFFFF - n;
        stage.Seconds = 60 + n;
        stage.SoundFile = QStringLiteral("/home/speaker/Sounds/Stage %1 bell.wav").arg(n);
        stage.Description = QStringLiteral("Stage number %1 of the talk").arg(n);
    }
    return setting;
}

// The real main window with fake ticks and sound, shown offscreen and loaded like at start-up.
struct Window
{
    explicit Window(ClockSetting setting = DefaultClockSetting(ProgramFolder))
        : model(std::move(setting))
        , platform{store, ticks, sound, colors, files, messages, wallClock, ProgramFolder}
        , rig(std::make_unique<WindowRig>(model, platform))
        , window(&rig->window)
        , clock(rig->session)
    {
        rig->open();
        QCoreApplication::processEvents();
    }
    // Every view the clock has: the audience window on the first screen, time left in the talk, a message.
    void openEveryView()
    {
        clock.setReadOutMode(ReadOutMode::TalkLeft);
        clock.perform(ClockCommand::ShowMessage, QStringLiteral("Wrap up"));
        rig->room->setAudienceScreen(QGuiApplication::primaryScreen()->name());
        QCoreApplication::processEvents();
    }

    MapStore store;
    FakeTickCounter ticks{1000};
    SilentSoundPlayer sound;
    FakeColorChooser colors;
    FakeFileChooser files;
    FakeMessageBoxes messages;
    FakeWallClock wallClock;
    SettingsModel model;
    Platform platform;
    std::unique_ptr<WindowRig> rig;
    fMain *window;
    ClockSession &clock;
};

// Keeps fMain::resizeEvent from running, while the window's own layout still moves the toolbar, the
// central area and the status bar: the benchmark then times ResizeLabels alone against the new size.
class SwallowResize final : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override { return event->type() == QEvent::Resize; }
};

// Window sizes (pixels) that take both the width-limited and the height-limited branch and give the
// digits a new font size every time.
constexpr std::array<QSize, 6> DragSizes = {QSize(500, 366),  QSize(900, 380), QSize(480, 720),
                                            QSize(1280, 800), QSize(640, 480), QSize(800, 1000)};

using Clock = std::chrono::steady_clock;

void BM_ResizeLabels_NewSize(benchmark::State &state)
{
    Window w;
    SwallowResize swallow;
    w.window->installEventFilter(&swallow);
    std::size_t i = 0;
    for (auto _ : state) {
        w.window->resize(DragSizes[i++ % DragSizes.size()]);
        const auto begin = Clock::now();
        w.window->ResizeLabels();
        const auto end = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
        // Label updates and layout requests are posted; deliver them outside the timed part.
        if (i % 64 == 0)
            QCoreApplication::processEvents();
    }
    w.window->removeEventFilter(&swallow);
}
BENCHMARK(BM_ResizeLabels_NewSize)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_ResizeLabels_SameSize(benchmark::State &state)
{
    Window w;
    for (auto _ : state)
        w.window->ResizeLabels();
}
BENCHMARK(BM_ResizeLabels_SameSize)->Unit(benchmark::kMicrosecond);

// A whole interactive resize step: Qt's own layout of the main window plus ResizeLabels.
void BM_WindowResize_Drag(benchmark::State &state)
{
    Window w;
    std::size_t i = 0;
    for (auto _ : state) {
        w.window->resize(DragSizes[i++ % DragSizes.size()]);
        if (i % 64 == 0) {
            state.PauseTiming();
            QCoreApplication::processEvents();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_WindowResize_Drag)->Unit(benchmark::kMicrosecond);

void BM_LayoutLabels(benchmark::State &state)
{
    LabelLayoutInput in;
    in.toolbarHeight = 420;
    in.statusBarHeight = 345;
    in.digitAspect = 0.52f;
    in.secondsScale = 0.4f;
    in.fontScale = 0.0434f;
    in.twipsPerPixel = 15;
    std::size_t i = 0;
    for (auto _ : state) {
        const QSize size = DragSizes[i++ % DragSizes.size()];
        in.clientWidth = static_cast<float>(size.width() * 15);
        in.clientHeight = static_cast<float>(size.height() * 15);
        benchmark::DoNotOptimize(layoutLabels(in));
    }
}
BENCHMARK(BM_LayoutLabels);

// Reports allocations and changes reported per tick; when the ticks had to be free, any of either fails the
// benchmark. A reported change is a snapshot published and widgets written in the real window.
void reportCosts(benchmark::State &state, std::uint64_t allocations, std::optional<std::uint64_t> changes,
                 bool mustBeFree)
{
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["allocs/tick"] = static_cast<double>(allocations) / iterations;
    if (changes)
        state.counters["changes/tick"] = static_cast<double>(*changes) / iterations;
    if (mustBeFree && (allocations != 0 || changes.value_or(0) != 0)) {
        const std::string message = "a tick within the same second allocated " + std::to_string(allocations) +
                                    " times and reported " + std::to_string(changes.value_or(0)) + " changes";
        state.SkipWithError(message.c_str());
    }
}

// A clock started on the given stages, its ticks' reports counted.
struct RunningEngine
{
    explicit RunningEngine(ClockSetting stages)
        : setting(std::move(stages))
        , engine(setting, ticks)
    {
        engine.ClearTimer();
        engine.StartClock();
    }

    // One tick, counted when it reports a change.
    void tick()
    {
        const EngineReport report = engine.Timer_Timer();
        benchmark::DoNotOptimize(report);
        changes += report.shown ? 1 : 0;
    }

    ClockSetting setting;
    FakeTickCounter ticks{1000};
    ClockEngine engine;
    std::uint64_t changes = 0;
};

void BM_EngineTick_SameSecond(benchmark::State &state)
{
    RunningEngine rig(DefaultClockSetting(ProgramFolder));
    rig.ticks.advance(1500);
    rig.tick(); // shows second 1; every tick below stays within it
    const std::uint64_t changesBefore = rig.changes;
    const std::uint64_t allocationsBefore = AllocationCount::total();
    for (auto _ : state)
        rig.tick();
    reportCosts(state, AllocationCount::total() - allocationsBefore, rig.changes - changesBefore, true);
}
BENCHMARK(BM_EngineTick_SameSecond);

void BM_EngineTick_NewSecond(benchmark::State &state)
{
    RunningEngine rig(DefaultClockSetting(ProgramFolder));
    ClockEngine &engine = rig.engine;
    // Stage 1 lasts 900 s; restart well before its end so that no stage changes here.
    std::int64_t shown = 0;
    const std::uint64_t changesBefore = rig.changes;
    const std::uint64_t allocationsBefore = AllocationCount::total();
    for (auto _ : state) {
        if (++shown == 800) {
            state.PauseTiming();
            engine.ClearTimer();
            engine.StartClock();
            shown = 1;
            state.ResumeTiming();
        }
        rig.ticks.advance(1000);
        rig.tick();
    }
    reportCosts(state, AllocationCount::total() - allocationsBefore, rig.changes - changesBefore, false);
}
BENCHMARK(BM_EngineTick_NewSecond);

void BM_EngineTick_StageChange(benchmark::State &state)
{
    RunningEngine rig(oneSecondStages());
    for (auto _ : state) {
        rig.ticks.advance(1000);
        rig.tick();
    }
}
BENCHMARK(BM_EngineTick_StageChange);

// The same three ticks on the real window: what the 100 ms timer costs the program.
void BM_WindowTick_SameSecond(benchmark::State &state)
{
    Window w;
    if (state.range(0) == 1)
        w.openEveryView();
    ClockSession &clock = w.clock;
    clock.perform(ClockCommand::Start);
    w.ticks.advance(1500);
    clock.Timer_Timer();
    QCoreApplication::processEvents();
    const QString minutes = w.window->findChild<QLabel *>(QStringLiteral("lblMin"))->text();
    const QString seconds = w.window->findChild<QLabel *>(QStringLiteral("lblSec"))->text();
    const QString status = w.window->statusText();
    const std::uint64_t allocationsBefore = AllocationCount::total();
    for (auto _ : state)
        clock.Timer_Timer();
    const std::uint64_t allocations = AllocationCount::total() - allocationsBefore;
    const bool unchanged = w.window->findChild<QLabel *>(QStringLiteral("lblMin"))->text() == minutes &&
                           w.window->findChild<QLabel *>(QStringLiteral("lblSec"))->text() == seconds &&
                           w.window->statusText() == status;
    reportCosts(state, allocations, std::nullopt, true);
    if (!unchanged)
        state.SkipWithError("a tick within the same second changed what the window shows");
}
BENCHMARK(BM_WindowTick_SameSecond)->ArgName("everyView")->Arg(0)->Arg(1);

void BM_WindowTick_NewSecond(benchmark::State &state)
{
    Window w;
    ClockSession &clock = w.clock;
    clock.perform(ClockCommand::Start);
    std::int64_t shown = 0;
    for (auto _ : state) {
        if (++shown == 800) {
            state.PauseTiming();
            clock.ClearTimer();
            clock.perform(ClockCommand::Start);
            QCoreApplication::processEvents();
            shown = 1;
            state.ResumeTiming();
        }
        w.ticks.advance(1000);
        clock.Timer_Timer();
    }
}
BENCHMARK(BM_WindowTick_NewSecond)->Unit(benchmark::kMicrosecond);

void BM_WindowTick_StageChange(benchmark::State &state)
{
    Window w(oneSecondStages());
    ClockSession &clock = w.clock;
    clock.perform(ClockCommand::Start);
    std::int64_t i = 0;
    for (auto _ : state) {
        w.ticks.advance(1000);
        clock.Timer_Timer();
        if (++i % 256 == 0) {
            state.PauseTiming();
            QCoreApplication::processEvents();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_WindowTick_StageChange)->Unit(benchmark::kMicrosecond);

// Loading and saving through the real settings file in the benchmark's own XDG_CONFIG_HOME.
QString settingsFile()
{
    const FileStore store;
    return store.location();
}

// Replaces the settings file with exactly `setting`: no keys of an earlier, larger configuration stay.
void storeOnly(const ClockSetting &setting)
{
    QFile::remove(settingsFile());
    FileStore store;
    SaveClockSetting(setting, store);
    if (const std::optional<QString> failure = store.sync())
        std::fprintf(stderr, "kestrim_bench: %s\n", qPrintable(*failure));
}

ClockSetting benchSetting(std::int64_t count)
{
    return count == 4 ? DefaultClockSetting(ProgramFolder) : manyStages(static_cast<std::int32_t>(count));
}

// A fresh store per load, like a start of the program. The file's time stamp moves between loads, so no
// cache that trusts an unchanged file (the store's or the system's) can answer in place of reading it.
void BM_LoadClockSetting(benchmark::State &state)
{
    const ClockSetting expected = benchSetting(state.range(0));
    storeOnly(expected);
    QFile file(settingsFile());
    const QDateTime stamp = QFileInfo(file).lastModified();
    std::int64_t i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        file.open(QIODevice::ReadWrite);
        file.setFileTime(stamp.addSecs(++i % 2), QFileDevice::FileModificationTime);
        file.close();
        state.ResumeTiming();
        const FileStore store;
        ClockSetting loaded;
        LoadClockSetting(loaded, store, ProgramFolder);
        benchmark::DoNotOptimize(loaded.Stages.data());
        if (loaded != expected) {
            state.SkipWithError("the loaded configuration differs from the one saved");
            break;
        }
    }
    state.counters["file_bytes"] = static_cast<double>(QFileInfo(file).size());
}
BENCHMARK(BM_LoadClockSetting)->Arg(4)->Arg(1000)->Unit(benchmark::kMicrosecond);

// "Save setting as default": every key written and the file replaced on disk.
void BM_SaveClockSetting(benchmark::State &state)
{
    const ClockSetting setting = benchSetting(state.range(0));
    storeOnly(setting);
    FileStore store;
    for (auto _ : state) {
        SaveClockSetting(setting, store);
        if (const std::optional<QString> failure = store.sync()) {
            state.SkipWithError(qPrintable(*failure));
            break;
        }
    }
}
BENCHMARK(BM_SaveClockSetting)->Arg(4)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The largest programme, every key of every talk written, as a session of 200 talks leaves it when it is over.
Programme largestProgramme()
{
    Programme programme;
    programme.sessionStart = QTime(9, 0);
    const QDateTime first = QDateTime(QDate(2024, 5, 6), QTime(9, 0)).toUTC(); // as the store reads it
    for (std::int32_t n = 1; n <= MaxTalks; ++n) {
        Talk talk;
        talk.title = QStringLiteral("Talk %1 of the session").arg(n);
        talk.speaker = QStringLiteral("Speaker %1").arg(n);
        talk.lengths = {1200, 300, 300};
        talk.record = {first.addSecs(n * 1500), 1500};
        programme.talks.push_back(talk);
    }
    programme.current = MaxTalks;
    return programme;
}

// What start-up adds with the largest programme: its keys read from the real file, parsed afresh, and checked.
void BM_LoadProgramme(benchmark::State &state)
{
    const ClockSetting plan = DefaultClockSetting(ProgramFolder);
    const Programme expected = largestProgramme();
    QFile::remove(settingsFile());
    {
        FileStore store;
        SaveClockSetting(plan, store);
        SaveProgramme(expected, store);
    } // saved as the store ends
    for (auto _ : state) {
        const FileStore store;
        const Programme loaded = LoadProgramme(store, plan);
        benchmark::DoNotOptimize(loaded.talks.data());
        if (loaded != expected) {
            state.SkipWithError("the loaded programme differs from the one saved");
            break;
        }
    }
}
BENCHMARK(BM_LoadProgramme)->Unit(benchmark::kMicrosecond);

// The schedule of the largest programme on its last talk, as the status bar and the pages follow it.
void BM_ComputeSchedule(benchmark::State &state)
{
    const ClockSetting plan = DefaultClockSetting(ProgramFolder);
    const Programme programme = largestProgramme();
    const QDateTime now(QDate(2024, 5, 9), QTime(12, 0));
    for (auto _ : state) {
        const Schedule schedule = computeSchedule(programme, plan, TalkClock{ClockState::Running, 300}, now);
        benchmark::DoNotOptimize(schedule.talks.data());
    }
}
BENCHMARK(BM_ComputeSchedule)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    // Never the user's settings, never a real screen.
    QTemporaryDir configHome;
    if (!configHome.isValid()) {
        std::fprintf(stderr, "kestrim_bench: cannot make a temporary settings folder\n");
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
