// The clock over a whole run of the tick counter: 49 days of talk, ticked at uneven intervals below a
// second, through the counter's sign change at 2^31 ms and its wrap to zero at 2^32 ms, with long pauses
// on the way. Every second must be shown once, in order, on the first tick that reaches it, and the
// stages must end exactly where their lengths say, after weeks as in the first minute.
#include "clock/clockengine.h"
#include "support/fakes.h"

#include <QTest>

#include <cstdint>
#include <optional>

namespace {

constexpr std::int64_t Day = 24LL * 3600 * 1000;
constexpr std::int64_t RunLength = 49 * Day;
constexpr std::int64_t Two31 = 1LL << 31;
constexpr std::int64_t Two32 = 1LL << 32;

// Remembers only what the checks need of the engine's tick reports, so that tens of millions of ticks stay
// cheap.
struct Tally
{
    void tick(ClockEngine &engine)
    {
        const EngineReport report = engine.Timer_Timer();
        if (report.shown) {
            shown = engine.LastSecond();
            ++showCalls;
        }
        if (report.stageEnded != 0) {
            ++ends;
            lastEnded = report.stageEnded;
        }
    }

    std::int32_t shown = -1;
    std::int64_t showCalls = 0;
    std::int64_t ends = 0;
    std::int32_t lastEnded = 0;
};

// A small deterministic generator: the same uneven ticks on every run and machine.
class Steps
{
public:
    // Milliseconds to the next tick: 37..989, so no whole second can be stepped over.
    std::int64_t next()
    {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return 37 + static_cast<std::int64_t>((state_ >> 33) % 953);
    }

private:
    std::uint64_t state_ = 0x9E3779B97F4A7C15ULL;
};

// Number of stage ends passed by `elapsed` seconds with the built-in stages: three, then one every minute.
std::int64_t stageEndsBy(std::int64_t elapsed)
{
    if (elapsed < 900)
        return 0;
    if (elapsed < 1200)
        return 1;
    if (elapsed < 1500)
        return 2;
    return 3 + (elapsed - 1500) / 60;
}

} // namespace

class TestLongRun : public QObject
{
    Q_OBJECT

private slots:
    void fortyNineDays_neitherDriftsNorSkips_data();
    void fortyNineDays_neitherDriftsNorSkips();
};

void TestLongRun::fortyNineDays_neitherDriftsNorSkips_data()
{
    // The counter value (as unsigned milliseconds) at which the talk starts.
    QTest::addColumn<qint64>("startTick");
    // Days into the run at which the clock is paused, and for how long (hours); 0 for no pause.
    QTest::addColumn<qint64>("pauseAtDay");
    QTest::addColumn<qint64>("pauseHours");

    QTest::newRow("sign change at start, wrap after 24.9 days") << qint64{Two31 - 5000} << qint64(0) << qint64(0);
    QTest::newRow("wrap at start, sign change after 24.9 days") << qint64{Two32 - 5000} << qint64(0) << qint64(0);
    // A pause of 100 days lets the counter wrap twice more while nothing is measured.
    QTest::newRow("pause across both points") << qint64(0) << qint64(20) << qint64(2400);
    QTest::newRow("pause ending exactly on a wrap") << qint64{Two32 - 7 * Day - 3600 * 1000} << qint64(3) << qint64(97);
}

void TestLongRun::fortyNineDays_neitherDriftsNorSkips()
{
    QFETCH(qint64, startTick);
    QFETCH(qint64, pauseAtDay);
    QFETCH(qint64, pauseHours);

    const ClockSetting setting = DefaultClockSetting(QStringLiteral("/opt/kestrim"));
    Tally tally;
    FakeTickCounter ticks(static_cast<std::int32_t>(static_cast<std::uint32_t>(startTick)));
    ClockEngine engine(setting, ticks);
    engine.ClearTimer();
    engine.StartClock();

    Steps steps;
    std::int64_t elapsedMs = 0; // the truth: time run, pauses left out
    bool paused = false;
    // The counter's value as if it never wrapped, to see which of its two critical points the run passed.
    std::int64_t absoluteTick = startTick;
    bool crossedSign = false;
    bool crossedWrap = false;
    const auto advance = [&](std::int64_t ms) {
        const std::int64_t before = absoluteTick;
        absoluteTick += ms;
        ticks.advance(ms);
        crossedWrap = crossedWrap || absoluteTick / Two32 != before / Two32;
        crossedSign = crossedSign || (absoluteTick + Two31) / Two32 != (before + Two31) / Two32;
    };
    std::int64_t ticksRun = 0;
    std::optional<QString> firstFault;

    while (elapsedMs < RunLength && !firstFault) {
        const std::int64_t step = steps.next();
        if (!paused && pauseHours > 0 && elapsedMs < pauseAtDay * Day && elapsedMs + step >= pauseAtDay * Day) {
            advance(pauseAtDay * Day - elapsedMs);
            elapsedMs = pauseAtDay * Day;
            tally.tick(engine);
            engine.PauseClock();
            advance(pauseHours * 3600 * 1000);
            tally.tick(engine); // ticks go on while paused and must change nothing
            engine.StartClock();
            paused = true;
            continue;
        }
        advance(step);
        elapsedMs += step;

        const std::int32_t before = tally.shown;
        tally.tick(engine);
        ++ticksRun;
        const std::int64_t expected = elapsedMs / 1000;
        if (tally.shown != expected) {
            firstFault = QStringLiteral("after %1 ms the read-out shows %2 s instead of %3 s")
                             .arg(elapsedMs)
                             .arg(tally.shown)
                             .arg(expected);
        } else if (tally.shown != before && tally.shown != before + 1) {
            firstFault = QStringLiteral("the read-out jumped from %1 s to %2 s").arg(before).arg(tally.shown);
        }
    }
    QVERIFY2(!firstFault, qPrintable(firstFault.value_or(QString())));
    QVERIFY2(crossedSign && crossedWrap, "the run must pass the counter's sign change and its wrap");
    QVERIFY(ticksRun > 4'000'000);

    const std::int64_t elapsed = elapsedMs / 1000;
    QCOMPARE(tally.shown, elapsed);
    QCOMPARE(tally.showCalls, elapsed + 1); // every second from 00:00 on, each exactly once
    QCOMPARE(engine.CurrentStage(), 4);
    // Each stage end reported once, the repeats of the last stage as its own.
    QCOMPARE(tally.ends, stageEndsBy(elapsed));
    QCOMPARE(tally.lastEnded, 4);
    // The next end of the repeating last stage lies ahead of the read-out by at most one stage length.
    const std::int64_t nextEnd = 1500 + 60 * (stageEndsBy(elapsed) - 2);
    QCOMPARE(static_cast<std::int64_t>(engine.StageEnd()), nextEnd);
    QVERIFY(nextEnd > elapsed && nextEnd <= elapsed + 60);
}

QTEST_GUILESS_MAIN(TestLongRun)
#include "tst_longrun.moc"
