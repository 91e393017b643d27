// What the 100 ms timer may cost: a tick in Ready or Paused nothing but a comparison, a running tick
// within the same second one read of the counter. Neither may allocate or write to a widget; the whole
// program, Qt included, is watched through a counting global operator new.
#include "mainwindow/mainwindow.h"
#include "support/allocationcount.h"
#include "support/fakes.h"
#include "support/offscreenscreens.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

#include <memory>

class TestTickCost : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakePlatform> fakes;
    std::unique_ptr<SettingsModel> model;
    std::unique_ptr<fMain> window;

    QString shown() const
    {
        return window->findChild<QLabel *>(QStringLiteral("lblMin"))->text() + u':' +
               window->findChild<QLabel *>(QStringLiteral("lblSec"))->text() + u' ' + window->statusText() + u' ' +
               window->windowTitle();
    }

private slots:
    void init()
    {
        fakes = std::make_unique<FakePlatform>();
        model = std::make_unique<SettingsModel>(DefaultClockSetting(fakes->programFolder));
        window = std::make_unique<fMain>(*model, fakes->platform());
        window->Form_Load();
        window->showPlaced();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup()
    {
        window.reset();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void ticks_costNoAllocationNorWrite_data();
    void ticks_costNoAllocationNorWrite();
};

void TestTickCost::ticks_costNoAllocationNorWrite_data()
{
    QTest::addColumn<ClockState>("state");
    QTest::addColumn<int>("readsPerTick");
    QTest::addColumn<bool>("audience");

    QTest::newRow("ready") << ClockState::Ready << 0 << false;
    QTest::newRow("running within a second") << ClockState::Running << 1 << false;
    QTest::newRow("paused") << ClockState::Paused << 0 << false;
    QTest::newRow("running within a second, audience window open") << ClockState::Running << 1 << true;
}

void TestTickCost::ticks_costNoAllocationNorWrite()
{
    QFETCH(ClockState, state);
    QFETCH(int, readsPerTick);
    QFETCH(bool, audience);

    if (audience) {
        window->setAudienceScreen(QStringLiteral("HDMI-1"));
        QVERIFY(window->audienceWindow());
        QVERIFY(QTest::qWaitForWindowExposed(window->audienceWindow()));
    }
    const auto audienceShows = [this] {
        const AudienceWindow *shown = window->audienceWindow();
        return shown ? shown->minutes()->text() + u':' + shown->seconds()->text() : QString();
    };

    ClockEngine &clock = window->clock();
    if (state != ClockState::Ready) {
        clock.StartClock();
        fakes->ticks.advance(1500);
        clock.Timer_Timer(); // shows 00:01; the ticks below stay within that second
        if (state == ClockState::Paused)
            clock.PauseClock();
    }
    QVERIFY(clock.RunState() == state);
    QCoreApplication::processEvents();
    const QString before = shown() + audienceShows();
    const int readsBefore = fakes->ticks.reads;

    constexpr int Ticks = 40;
    const std::uint64_t allocationsBefore = AllocationCount::total();
    for (int i = 0; i < Ticks; ++i) {
        fakes->ticks.advance(10);
        clock.Timer_Timer();
    }
    const std::uint64_t allocations = AllocationCount::total() - allocationsBefore;

    QCOMPARE(allocations, std::uint64_t(0));
    QCOMPARE(fakes->ticks.reads - readsBefore, Ticks * readsPerTick);
    QCOMPARE(shown() + audienceShows(), before);
    QVERIFY(!audience || audienceShows() == QStringLiteral("00:01"));
    // The counting must be live, or the zero above proves nothing.
    const std::uint64_t probeBefore = AllocationCount::total();
    auto probe = std::make_unique<int>(1);
    QVERIFY(AllocationCount::total() > probeBefore);
}

KESTRIM_TEST_MAIN_TWO_SCREENS(TestTickCost)
#include "tst_tickcost.moc"
