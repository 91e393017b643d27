// What the 100 ms timer may cost: a tick in Ready or Paused nothing but a comparison, a running tick
// within the same second one read of the counter. Neither may allocate or write to a widget; the whole
// program, Qt included, is watched through a counting global operator new.
#include "mainwindow/mainwindow.h"
#include "support/allocationcount.h"
#include "support/fakes.h"
#include "support/offscreenscreens.h"
#include "support/windowrig.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

#include <memory>

class TestTickCost : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakePlatform> fakes;
    std::unique_ptr<SettingsModel> model;
    std::unique_ptr<WindowRig> rig;
    fMain *window = nullptr;

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
        rig = std::make_unique<WindowRig>(*model, fakes->platform());
        window = &rig->window;
        rig->open();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
    void cleanup()
    {
        rig.reset();
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
    // Every view open: the audience window, time left in the talk, a message under the digits.
    QTest::newRow("running within a second, every view open") << ClockState::Running << 1 << true;
}

void TestTickCost::ticks_costNoAllocationNorWrite()
{
    QFETCH(ClockState, state);
    QFETCH(int, readsPerTick);
    QFETCH(bool, audience);

    if (audience) {
        rig->session.setReadOutMode(ReadOutMode::TalkLeft);
        rig->session.perform(ClockCommand::ShowMessage, QStringLiteral("Wrap up"));
        rig->room->setAudienceScreen(QStringLiteral("HDMI-1"));
        QVERIFY(rig->room->audienceWindow());
        QVERIFY(QTest::qWaitForWindowExposed(rig->room->audienceWindow()));
    }
    const auto audienceShows = [this] {
        const AudienceWindow *shown = rig->room->audienceWindow();
        return shown ? shown->digits()->minutes()->text() + u':' + shown->digits()->seconds()->text() : QString();
    };

    ClockSession &clock = rig->session;
    if (state != ClockState::Ready) {
        clock.perform(ClockCommand::Start);
        fakes->ticks.advance(1500);
        clock.Timer_Timer(); // turns the first second; the ticks below stay within it
        if (state == ClockState::Paused)
            clock.perform(ClockCommand::Pause);
    }
    QVERIFY(clock.snapshot().state == state);
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
    QVERIFY(!audience || audienceShows() == QStringLiteral("24:59"));
    // The counting must be live, or the zero above proves nothing.
    const std::uint64_t probeBefore = AllocationCount::total();
    auto probe = std::make_unique<int>(1);
    QVERIFY(AllocationCount::total() > probeBefore);
}

KESTRIM_TEST_MAIN_TWO_SCREENS(TestTickCost)
#include "tst_tickcost.moc"
