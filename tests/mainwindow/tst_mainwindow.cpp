#include "mainwindow/audiencewindow.h"
#include "mainwindow/labellayout.h"
#include "mainwindow/mainwindow.h"
#include "platform/colours.h"
#include "platform/units.h"
#include "settings/persistence.h"
#include "support/fakes.h"
#include "support/offscreenscreens.h"
#include "support/windowrig.h"

#include <QAccessible>
#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include <memory>

// The main window driven as a user would, offscreen, with a fake tick counter and sound.
class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakePlatform> fakes;
    std::unique_ptr<SettingsModel> model;
    std::unique_ptr<WindowRig> rig;
    fMain *window = nullptr;

    void open(ClockSetting setting = DefaultClockSetting(QStringLiteral("/opt/kestrim")),
              bool reportsWindowPlacement = true)
    {
        fakes = std::make_unique<FakePlatform>();
        fakes->reportsWindowPlacement = reportsWindowPlacement;
        model = std::make_unique<SettingsModel>(std::move(setting));
        rig = std::make_unique<WindowRig>(*model, fakes->platform());
        window = &rig->window;
        rig->open();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
    QLabel *label(const char *name) { return window->findChild<QLabel *>(QLatin1String(name)); }
    QString shown() { return label("lblMin")->text() + QLatin1Char(':') + label("lblSec")->text(); }
    // Runs the clock's tick handler after `ms` of fake time.
    void after(std::int64_t ms)
    {
        fakes->ticks.advance(ms);
        rig->session.Timer_Timer();
    }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool autoRepeat = false)
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, QString(), autoRepeat);
        QApplication::sendEvent(window, &event);
    }
    QList<bool> commandButtons()
    {
        QList<bool> enabled;
        for (const char *key : {"Start", "Stop", "Reset", "Option"})
            enabled << window->button(QLatin1String(key))->isEnabled();
        return enabled;
    }

private slots:
    void cleanup()
    {
        rig.reset();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void asCreated_hasEveryControl()
    {
        open();
        QCOMPARE(window->windowTitle(), QStringLiteral("Kestrim"));
        QVERIFY(!window->windowIcon().isNull());
        for (const char *name : {"lblMin", "lblSec", "lblInfo"})
            QVERIFY2(label(name), name);
        auto *toolbar = window->findChild<QToolBar *>(QStringLiteral("Toolbar"));
        QVERIFY(toolbar);
        QVERIFY(window->findChild<QStatusBar *>(QStringLiteral("StatusBar")));
        // The status text and the information label keep the window's small font.
        for (const char *name : {"StatusText", "lblInfo"}) {
            const QFont font = window->findChild<QLabel *>(QLatin1String(name))->font();
            QCOMPARE(font.family(), QStringLiteral("Arial"));
            QCOMPARE(font.pointSizeF(), 9.0);
        }
        auto *timer = rig->session.findChild<QTimer *>(QStringLiteral("Timer"));
        QVERIFY(timer);
        QCOMPARE(timer->interval(), 100);
        QVERIFY(timer->isActive());

        // Seven picture buttons with separators between the groups, in order.
        QStringList layout;
        for (QAction *action : toolbar->actions())
            layout << (action->isSeparator() ? QStringLiteral("|") : action->objectName());
        QCOMPARE(layout, (QStringList{QStringLiteral("Start"), QStringLiteral("Stop"), QStringLiteral("Reset"),
                                      QStringLiteral("|"), QStringLiteral("Option"), QStringLiteral("|"),
                                      QStringLiteral("Sound"), QStringLiteral("|"), QStringLiteral("Help"),
                                      QStringLiteral("|"), QStringLiteral("Exit")}));
        const QStringList tips{QStringLiteral("Start Clock"),
                               QStringLiteral("Stop Clock"),
                               QStringLiteral("Reset Clock"),
                               QStringLiteral("Change Settings..."),
                               QStringLiteral("Turn Sound On/Off"),
                               QStringLiteral("Show Help Message"),
                               QStringLiteral("Exit")};
        int i = 0;
        for (const char *key : {"Start", "Stop", "Reset", "Option", "Sound", "Help", "Exit"}) {
            QAction *action = window->button(QLatin1String(key));
            QVERIFY2(action, key);
            QCOMPARE(action->toolTip(), tips.at(i++));
            QVERIFY(!action->icon().isNull());
            QCOMPARE(action->isCheckable(), QLatin1String(key) == QLatin1String("Sound"));
            auto *button = qobject_cast<QToolButton *>(toolbar->widgetForAction(action));
            QVERIFY(button);
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
            QCOMPARE(button->focusPolicy(), Qt::NoFocus);
        }
    }

    // Switching to a dark theme while the timer runs turns the black pictures light, without a restart.
    void paletteChange_redrawsTheToolbarPictures()
    {
        open();
        const auto ink = [this] {
            const QImage image = window->button(QStringLiteral("Start"))->icon().pixmap(QSize(16, 16)).toImage();
            return QColor::fromRgba(image.pixel(8, 8)).lightness();
        };
        QVERIFY(ink() < 60);
        const QPalette light = QApplication::palette();
        QPalette dark(QColor(53, 53, 53), QColor(53, 53, 53));
        dark.setColor(QPalette::ButtonText, Qt::white);
        QApplication::setPalette(dark);
        QTRY_VERIFY(ink() > 200);
        QApplication::setPalette(light);
        QTRY_VERIFY(ink() < 60);
    }

    void asCreated_clientAreaIsTheDesignedSize()
    {
        open();
        QCOMPARE(window->width(), Units::toPixels(7485));
        QCOMPARE(window->height(), Units::toPixels(5490));
    }

    void ready_showsStageOneAndItsInformation()
    {
        open();
        QCOMPARE(shown(), QStringLiteral("00:00"));
        QCOMPARE(window->statusText(), QStringLiteral("Ready. Click [SPACE] key to clock."));
        QCOMPARE(commandButtons(), (QList<bool>{true, false, false, true}));
        QVERIFY(!label("lblMin")->isEnabled());
        QVERIFY(!label("lblSec")->isEnabled());
        QCOMPARE(label("lblInfo")->text(),
                 QStringLiteral("15' for Presentation\n5' for Conclusion\n5' for Discussion\n"));
        QVERIFY(window->button(QStringLiteral("Sound"))->isChecked());
        // Stage 1: green on black, exactly.
        const QPalette palette = label("lblMin")->palette();
        QCOMPARE(palette.color(QPalette::Active, QPalette::Window), QColor(0, 0, 0));
        QCOMPARE(palette.color(QPalette::Active, QPalette::WindowText), QColor(0, 255, 0));
        QCOMPARE(palette.color(QPalette::Disabled, QPalette::Window), QColor(0, 0, 0));
        QVERIFY(palette.color(QPalette::Disabled, QPalette::WindowText) != QColor(0, 0, 0));
    }

    void statusText_survivesHoveringEveryButton()
    {
        open();
        auto *toolbar = window->findChild<QToolBar *>(QStringLiteral("Toolbar"));
        for (QAction *action : toolbar->actions()) {
            if (QWidget *button = toolbar->widgetForAction(action); button && !action->isSeparator()) {
                QTest::mouseMove(button);
                QStatusTipEvent tip(QString{});
                QApplication::sendEvent(button, &tip);
                QCoreApplication::processEvents();
                QCOMPARE(window->statusText(), QStringLiteral("Ready. Click [SPACE] key to clock."));
                QVERIFY(window->findChild<QLabel *>(QStringLiteral("StatusText"))->isVisible());
            }
        }
    }

    void keys_data()
    {
        QTest::addColumn<int>("state"); // 0 ready, 1 running, 2 paused
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("autoRepeat");
        QTest::addColumn<int>("expected"); // state afterwards; -1 quit
        const int none = Qt::NoModifier, shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier, alt = Qt::AltModifier;
        QTest::newRow("ready space") << 0 << int(Qt::Key_Space) << none << false << 1;
        QTest::newRow("ready esc") << 0 << int(Qt::Key_Escape) << none << false << 1;
        QTest::newRow("ready shift+space") << 0 << int(Qt::Key_Space) << shift << false << 1;
        QTest::newRow("running space") << 1 << int(Qt::Key_Space) << none << false << 2;
        QTest::newRow("running esc") << 1 << int(Qt::Key_Escape) << none << false << 2;
        QTest::newRow("running ctrl+space repeat") << 1 << int(Qt::Key_Space) << ctrl << true << 2;
        QTest::newRow("paused space resets") << 2 << int(Qt::Key_Space) << none << false << 0;
        QTest::newRow("paused esc continues") << 2 << int(Qt::Key_Escape) << none << false << 1;
        QTest::newRow("paused esc repeat") << 2 << int(Qt::Key_Escape) << none << true << 1;
        QTest::newRow("ready other key") << 0 << int(Qt::Key_Return) << none << false << 0;
        QTest::newRow("running letter") << 1 << int(Qt::Key_A) << none << false << 1;
        QTest::newRow("f4 alone") << 1 << int(Qt::Key_F4) << none << false << 1;
        QTest::newRow("alt+f4 ready") << 0 << int(Qt::Key_F4) << alt << false << -1;
        QTest::newRow("ctrl+alt+f4 running") << 1 << int(Qt::Key_F4) << (alt | ctrl) << false << -1;
        QTest::newRow("alt+f4 paused") << 2 << int(Qt::Key_F4) << alt << false << -1;
    }

    void keys()
    {
        QFETCH(int, state);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, autoRepeat);
        QFETCH(int, expected);
        open();
        if (state >= 1)
            rig->session.perform(ClockCommand::Start);
        if (state == 2)
            rig->session.perform(ClockCommand::Pause);
        QCOMPARE(int(rig->state()), state);

        press(Qt::Key(key), Qt::KeyboardModifiers(modifiers), autoRepeat);
        if (expected < 0) {
            QVERIFY(!window->isVisible());
            QVERIFY(fakes->store.get(QStringLiteral("Window"), QStringLiteral("State")).has_value());
        } else {
            QCOMPARE(int(rig->state()), expected);
            QVERIFY(window->isVisible());
        }
    }

    void holdingSpace_cyclesThroughTheStates()
    {
        open();
        const QList<int> expected{1, 2, 0, 1, 2};
        for (int want : expected) {
            press(Qt::Key_Space, Qt::NoModifier, true);
            QCOMPARE(int(rig->state()), want);
        }
    }

    void eachState_setsButtonsDigitsAndStatus()
    {
        open();
        window->button(QStringLiteral("Start"))->trigger();
        QCOMPARE(commandButtons(), (QList<bool>{false, true, false, false}));
        QVERIFY(label("lblMin")->isEnabled() && label("lblSec")->isEnabled());
        QCOMPARE(window->statusText(), QStringLiteral("Clocking for Presentation. Hit [SPACE] key to pause."));

        window->button(QStringLiteral("Stop"))->trigger();
        QCOMPARE(commandButtons(), (QList<bool>{true, false, true, true}));
        QVERIFY(!label("lblMin")->isEnabled() && !label("lblSec")->isEnabled());
        QCOMPARE(window->statusText(), QStringLiteral("Paused. [ESC] key to contimue, [SPACE] key to reset."));

        window->button(QStringLiteral("Reset"))->trigger();
        QCOMPARE(commandButtons(), (QList<bool>{true, false, false, true}));
        QCOMPARE(window->statusText(), QStringLiteral("Ready. Click [SPACE] key to clock."));
        // Help and Exit are never disabled by the clock, nor is Sound.
        for (const char *key : {"Sound", "Help", "Exit"})
            QVERIFY(window->button(QLatin1String(key))->isEnabled());
    }

    void running_countsAndChangesStageColours()
    {
        ClockSetting setting = DefaultClockSetting(QStringLiteral("/opt/kestrim"));
        setting.stage(1).Seconds = 2;
        open(setting);
        press(Qt::Key_Space);
        after(999);
        QCOMPARE(shown(), QStringLiteral("00:00"));
        after(1);
        QCOMPARE(shown(), QStringLiteral("00:01"));
        after(1000);
        QCOMPARE(shown(), QStringLiteral("00:02"));
        QCOMPARE(fakes->sound.played, QStringList{setting.stage(1).SoundFile});
        QCOMPARE(label("lblSec")->palette().color(QPalette::Active, QPalette::WindowText), QColor(255, 255, 0));
        QCOMPARE(window->statusText(), QStringLiteral("Clocking for Conclusion. Hit [SPACE] key to pause."));
    }

    // Wherever in its second the talk starts or continues, the ticks are re-phased to fall just after each
    // whole second, and keep ticking every 100 ms meanwhile.
    void startOrContinue_phasesTicksJustAfterTheSecond_data()
    {
        QTest::addColumn<int>("pausedAt");  // ms of talk before the pause; -1: a fresh start
        QTest::addColumn<int>("startedAt"); // the tick counter's ms within its second at the (re)start
        QTest::newRow("fresh start") << -1 << 0;
        QTest::newRow("fresh start mid-second") << -1 << 567;
        QTest::newRow("continue mid-second") << 1234 << 890;
        QTest::newRow("continue just before a second") << 59999 << 1;
        QTest::newRow("continue on the second") << 3000 << 0;
    }
    void startOrContinue_phasesTicksJustAfterTheSecond()
    {
        QFETCH(int, pausedAt);
        QFETCH(int, startedAt);
        open();
        auto *timer = rig->session.findChild<QTimer *>(QStringLiteral("Timer"));
        auto *phase = rig->session.findChild<QTimer *>(QStringLiteral("TickPhase"));
        QVERIFY(timer && phase);
        fakes->ticks.advance(startedAt);
        if (pausedAt >= 0) {
            press(Qt::Key_Space);
            after(pausedAt);
            press(Qt::Key_Space);
            fakes->ticks.advance(777);
            press(Qt::Key_Escape);
        } else {
            press(Qt::Key_Space);
        }
        const int talk = std::max(pausedAt, 0);
        QVERIFY(phase->isActive());
        QVERIFY(timer->isActive());
        QVERIFY(phase->interval() < timer->interval());
        const int landing = (talk + phase->interval()) % 100;
        QVERIFY2(landing > 0 && landing <= 20, qPrintable(QString::number(landing)));
        // When the phased tick comes, the read-out shows the second it falls in.
        fakes->ticks.advance(phase->interval());
        QTest::qWait(phase->interval() + 50);
        QVERIFY(!phase->isActive() && timer->isActive());
        const int second = (talk + phase->interval()) / 1000;
        QCOMPARE(label("lblSec")->text().toInt(), second % 60);
    }
    // A hand-edited description of any size: every command stays quick, the status still says what SPACE
    // does, and the stored text is kept whole.
    void hugeDescription_keepsEveryCommandQuick()
    {
        ClockSetting setting = DefaultClockSetting(QStringLiteral("/opt/kestrim"));
        setting.stage(1).Description = QString(10'000'000, u'd');
        open(setting);
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Space, Qt::Key_Escape, Qt::Key_Space, Qt::Key_Space}) {
            QElapsedTimer took;
            took.start();
            press(key);
            QCoreApplication::processEvents();
            QVERIFY2(took.elapsed() <= 50, qPrintable(QString::number(took.elapsed())));
        }
        press(Qt::Key_Space);
        QVERIFY(window->statusText().endsWith(QStringLiteral(". Hit [SPACE] key to pause.")));
        QVERIFY(window->statusText().size() < 1000 && label("lblInfo")->text().size() < 1000);
        QCOMPARE(model->CurrentSetting().stage(1).Description.size(), 10'000'000);
    }
    void soundButton_offThenReset_staysOffAndSilent()
    {
        ClockSetting setting = DefaultClockSetting(QStringLiteral("/opt/kestrim"));
        setting.stage(1).Seconds = 1;
        open(setting);
        window->button(QStringLiteral("Sound"))->trigger();
        QVERIFY(!window->button(QStringLiteral("Sound"))->isChecked());
        QVERIFY(!window->Setting().SoundEnabled);
        QVERIFY(model->CurrentSetting().SoundEnabled); // the configuration in force is not touched

        press(Qt::Key_Space);
        press(Qt::Key_Space);
        press(Qt::Key_Space); // reset
        QVERIFY(!window->button(QStringLiteral("Sound"))->isChecked());
        press(Qt::Key_Space);
        after(1000);
        QCOMPARE(rig->session.snapshot().stage, 2);
        QVERIFY(fakes->sound.played.isEmpty());

        window->button(QStringLiteral("Sound"))->trigger();
        QVERIFY(window->Setting().SoundEnabled);
        // Switched from elsewhere (the phone), the button follows.
        rig->session.perform(ClockCommand::SoundOff);
        QVERIFY(!window->button(QStringLiteral("Sound"))->isChecked());
    }

    void help_showsInformationBoxWithVersion()
    {
        open();
        press(Qt::Key_Space);
        window->button(QStringLiteral("Help"))->trigger();
        QCOMPARE(fakes->messages.shown.size(), std::size_t(1));
        const auto &box = fakes->messages.shown.front();
        QVERIFY(!box.critical);
        QCOMPARE(box.title, QStringLiteral("Kestrim"));
        QCOMPARE(box.text, QStringLiteral("Kestrim Ver.2.00\nA desktop timer for talks.\n"
                                          "Sorry, help files are not available yet."));
        QCOMPARE(rig->state(), ClockState::Running);
    }

    void minimised_showsTimeInCaptionAndLaysOutOnRestore()
    {
        open();
        const QRect before = label("lblMin")->geometry();
        press(Qt::Key_Space);
        after(3000);
        window->showMinimized();
        QTRY_VERIFY(window->isMinimized());
        after(751 * 1000);
        QCOMPARE(window->windowTitle(), QStringLiteral("Kestrim - 12:34"));
        // The labels follow while minimised, so that a restore never shows an old time.
        QCOMPARE(shown(), QStringLiteral("12:34"));

        // A resize while minimised changes nothing, not even the caption.
        window->ResizeLabels();
        QCOMPARE(window->windowTitle(), QStringLiteral("Kestrim - 12:34"));
        QCOMPARE(label("lblMin")->geometry(), before);

        window->showNormal();
        QTRY_VERIFY(!window->isMinimized());
        QCOMPARE(window->windowTitle(), QStringLiteral("Kestrim"));
        after(1000);
        QCOMPARE(shown(), QStringLiteral("12:35"));
    }

    // Native Wayland never says that the window was minimised or where it is: the caption carries the
    // time whenever another window is in front, and quitting leaves the stored position alone.
    void placementUnknown_captionCarriesTimeWhenInactive_positionKept()
    {
        open(DefaultClockSetting(QStringLiteral("/opt/kestrim")), false);
        fakes->store.write(QStringLiteral("Kestrim"), QStringLiteral("Window"), QStringLiteral("Left"),
                           QStringLiteral("5805"));
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(!window->isActiveWindow());
        QCOMPARE(window->windowTitle(), QStringLiteral("Kestrim")); // Ready
        press(Qt::Key_Space);
        after(754 * 1000);
        QCOMPARE(window->windowTitle(), QStringLiteral("Kestrim - 12:34"));
        QCOMPARE(shown(), QStringLiteral("12:34"));
        press(Qt::Key_Space); // paused: still not Ready
        window->activateWindow();
        QTRY_VERIFY(window->isActiveWindow());
        QCOMPARE(window->windowTitle(), QStringLiteral("Kestrim"));
        other.activateWindow();
        QTRY_COMPARE(window->windowTitle(), QStringLiteral("Kestrim - 12:34"));
        press(Qt::Key_Space); // reset to Ready
        QCOMPARE(window->windowTitle(), QStringLiteral("Kestrim"));

        window->QuitProgram();
        const auto stored = [this](const char *key) {
            return fakes->store.read(QStringLiteral("Kestrim"), QStringLiteral("Window"), QLatin1String(key),
                                     QStringLiteral("none"));
        };
        QCOMPARE(stored("Left"), QStringLiteral("5805"));
        QCOMPARE(stored("Top"), QStringLiteral("none"));
        QCOMPARE(stored("Width"), QString::number(window->frameGeometry().width() * 15));
    }

    void resize_fillsTheWindowKeepingProportions_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("wide") << QSize(1200, 300);
        QTest::newRow("tall") << QSize(300, 900);
        QTest::newRow("large") << QSize(1600, 1000);
    }

    void resize_fillsTheWindowKeepingProportions()
    {
        QFETCH(QSize, size);
        open();
        window->resize(size);
        QTRY_COMPARE(window->size(), size);
        const QRect m = label("lblMin")->geometry(), s = label("lblSec")->geometry(), i = label("lblInfo")->geometry();
        const QWidget *client = label("lblMin")->parentWidget();
        // Inside the band and filling it in one direction.
        QVERIFY(m.left() >= 0 && s.right() < client->width() + 2);
        QVERIFY(m.top() >= 0 && m.bottom() < client->height());
        const bool fillsWidth = m.left() == 0 && std::abs(s.right() + 1 - window->width()) <= 2;
        const bool fillsHeight = m.top() == 0 && std::abs(m.height() - (client->height() - Units::toPixels(32))) <= 2;
        QVERIFY2(
            fillsWidth || fillsHeight,
            qPrintable(QStringLiteral("%1x%2 at %3,%4").arg(m.width()).arg(m.height()).arg(m.left()).arg(m.top())));
        QVERIFY(std::abs(s.height() - 0.4 * m.height()) <= 1.5);
        QCOMPARE(i.left(), s.left());
        QVERIFY(std::abs(i.bottom() - m.bottom()) <= 2);
        // The font's line height matches the label's height, so the digits fill it.
        const QFontMetricsF metrics(label("lblMin")->font());
        QVERIFY2(std::abs(metrics.height() - m.height()) <= m.height() * 0.03,
                 qPrintable(QString::number(metrics.height()) + QStringLiteral(" vs ") + QString::number(m.height())));
    }

    void screenReader_namesButtonsAndReadsTheTexts()
    {
        open();
        auto *toolbar = window->findChild<QToolBar *>(QStringLiteral("Toolbar"));
        for (QAction *action : toolbar->actions()) {
            if (action->isSeparator())
                continue;
            QAccessibleInterface *button = QAccessible::queryAccessibleInterface(toolbar->widgetForAction(action));
            QVERIFY(button);
            QCOMPARE(button->text(QAccessible::Name), action->toolTip());
        }
        const auto name = [](QWidget *widget) {
            return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
        };
        press(Qt::Key_Space);
        after(61000);
        QCOMPARE(name(label("lblMin")), QStringLiteral("01"));
        QCOMPARE(name(label("lblSec")), QStringLiteral("01"));
        QCOMPARE(name(window->findChild<QLabel *>(QStringLiteral("StatusText"))),
                 QStringLiteral("Clocking for Presentation. Hit [SPACE] key to pause."));
        QVERIFY(name(label("lblInfo")).startsWith(QStringLiteral("15' for Presentation")));
    }

    void resizeBeforeTheFontIsMeasured_changesNothing()
    {
        FakePlatform platform;
        SettingsModel settings(DefaultClockSetting(QStringLiteral("/opt/kestrim")));
        WindowRig unloaded(settings, platform.platform());
        fMain &fresh = unloaded.window;
        fresh.setWindowTitle(QStringLiteral("unchanged"));
        const QRect before = fresh.findChild<QLabel *>(QStringLiteral("lblMin"))->geometry();
        fresh.resize(900, 700);
        fresh.ResizeLabels();
        QCOMPARE(fresh.windowTitle(), QStringLiteral("unchanged"));
        QCOMPARE(fresh.findChild<QLabel *>(QStringLiteral("lblMin"))->geometry(), before);
    }

    void exit_writesPlacementOnceAndCloses()
    {
        open();
        window->move(40, 50);
        const int writesBefore = fakes->store.writes;
        window->button(QStringLiteral("Exit"))->trigger();
        QVERIFY(!window->isVisible());
        QCOMPARE(fakes->store.writes - writesBefore, 8);
        QCOMPARE(fakes->store.get(QStringLiteral("Window"), QStringLiteral("State")), QStringLiteral("0"));
        QCOMPARE(fakes->store.get(QStringLiteral("Window"), QStringLiteral("Width")),
                 QString::number(window->frameGeometry().width() * 15));
        // A second request (the close handler's own) writes nothing more.
        window->QuitProgram();
        window->close();
        QCOMPARE(fakes->store.writes - writesBefore, 8);
    }

    void contextMenu_listsTheRoomsItemsAndLeavesTheClockAlone_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("right click") << false;
        QTest::newRow("menu key") << true;
    }

    void contextMenu_listsTheRoomsItemsAndLeavesTheClockAlone()
    {
        QFETCH(bool, byKey);
        open();
        press(Qt::Key_Space);
        after(1000);
        const QString status = window->statusText();
        if (byKey) {
            press(Qt::Key_Menu);
        } else {
            QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(20, 60), window->mapToGlobal(QPoint(20, 60)));
            QApplication::sendEvent(label("lblMin"), &click);
        }
        QMenu *menu = rig->room->contextMenu();
        QTRY_VERIFY(menu->isVisible());
        QStringList texts;
        for (QAction *item : menu->actions()) {
            if (!item->isVisible())
                continue;
            texts << item->text();
            QCOMPARE(QAccessible::queryAccessibleInterface(menu)->child(int(texts.size() - 1))->text(QAccessible::Name),
                     item->text());
        }
        QCOMPARE(texts,
                 (QStringList{"Full Screen", "Stay on Top", "Audience Window", "Undo Reset", "", "Elapsed Time",
                              "Time Left in Stage", "Time Left in Talk", "", "Add a Minute", "Take Away a Minute",
                              "Flash at Stage End", "Blackout", "", "Message to Speaker...", "Clear Message"}));
        QVERIFY(!window->button(QStringLiteral("Reset"))->isEnabled() &&
                !menu->findChild<QAction *>(QStringLiteral("actionUndoReset"))->isEnabled());
        // Open, it counts on and changes nothing of the clock.
        after(1000);
        QCOMPARE(shown(), QStringLiteral("00:02"));
        QCOMPARE(rig->state(), ClockState::Running);
        QCOMPARE(window->statusText(), status);
        menu->close();
    }

    void undoReset_putsBackThePausedTalk()
    {
        open();
        press(Qt::Key_Space);
        after(65400);
        press(Qt::Key_Space);
        const QString pausedStatus = window->statusText();
        press(Qt::Key_Space);
        QCOMPARE(shown(), QStringLiteral("00:00"));
        rig->room->refreshContextMenu();
        QAction *undo = window->findChild<QAction *>(QStringLiteral("actionUndoReset"));
        QVERIFY(undo->isEnabled());
        undo->trigger();
        QCOMPARE(shown(), QStringLiteral("01:05"));
        QCOMPARE(window->statusText(), pausedStatus);
        press(Qt::Key_Escape);
        after(600);
        QCOMPARE(shown(), QStringLiteral("01:06"));

        // The "Reset" button's reset is undoable too.
        press(Qt::Key_Space);
        window->button(QStringLiteral("Reset"))->trigger();
        rig->room->refreshContextMenu();
        QVERIFY(undo->isEnabled());
    }

    void fullScreen_fillsTheScreenAndGivesBackThePlacement()
    {
        open();
        window->setGeometry(60, 70, 500, 300);
        QTRY_COMPARE(window->geometry(), QRect(60, 70, 500, 300));
        const QRect before = window->geometry();
        window->findChild<QAction *>(QStringLiteral("actionFullScreen"))->trigger();
        QTRY_VERIFY(window->isFullScreen());
        const QRect screen = window->screen()->geometry();
        QTRY_COMPARE(window->geometry(), screen);
        QVERIFY(!window->findChild<QToolBar *>(QStringLiteral("Toolbar"))->isVisible());
        QVERIFY(!window->statusBar()->isVisible());

        LabelLayoutInput in;
        in.clientWidth = Units::toTwips(screen.width());
        in.clientHeight = Units::toTwips(screen.height());
        in.digitAspect = window->DigitAspect();
        in.secondsScale = 0.4f;
        in.fontScale = window->FontScale();
        const std::optional<LabelLayout> expected = layoutLabels(in);
        QVERIFY(expected);
        const QRect m = label("lblMin")->geometry(), s = label("lblSec")->geometry(), i = label("lblInfo")->geometry();
        QTRY_COMPARE(label("lblMin")->geometry().topLeft(),
                     QPoint(Units::toPixels(expected->minutes.left), Units::toPixels(expected->minutes.top)));
        QCOMPARE(label("lblMin")->geometry().size(),
                 QSize(Units::toPixels(expected->minutes.width), Units::toPixels(expected->minutes.height)));
        QVERIFY(i.top() > s.bottom() && i.left() == s.left());
        QVERIFY(QRect(QPoint(), screen.size()).contains(m | s | i));

        press(Qt::Key_Space);
        QCOMPARE(rig->state(), ClockState::Running);
        // A double click on the digits leaves full screen, to exactly where the window was.
        QTest::mouseDClick(label("lblSec"), Qt::LeftButton);
        QTRY_VERIFY(!window->isFullScreen());
        QTRY_COMPARE(window->geometry(), before);
        QVERIFY(window->findChild<QToolBar *>(QStringLiteral("Toolbar"))->isVisible());
        QTest::mouseDClick(label("lblMin"), Qt::LeftButton);
        QTRY_VERIFY(window->isFullScreen());
        QCOMPARE(rig->state(), ClockState::Running);
    }

    void audienceWindow_mirrorsTheDigitsOnTheChosenScreen()
    {
        open();
        rig->room->refreshContextMenu();
        QMenu *screens = window->findChild<QMenu *>(QStringLiteral("menuAudienceWindow"));
        QStringList texts;
        for (QAction *entry : screens->actions())
            texts << entry->text();
        QCOMPARE(texts.size(), QGuiApplication::screens().size() + 1);
        QCOMPARE(texts.first(), QStringLiteral("Off"));
        QVERIFY(screens->actions().first()->isChecked());
        const qsizetype second = texts.indexOf(QRegularExpression(QStringLiteral("^HDMI-1\\b.*800.*600.*")));
        QVERIFY2(second > 0, qPrintable(texts.join(u'|')));
        screens->actions().at(second)->trigger();
        AudienceWindow *audience = rig->room->audienceWindow();
        QVERIFY(audience);
        QVERIFY(QTest::qWaitForWindowExposed(audience));
        QCOMPARE(audience->windowTitle(), QStringLiteral("Kestrim Audience"));
        QVERIFY(audience->windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(audience->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
        QCOMPARE(audience->screen()->name(), QStringLiteral("HDMI-1"));
        QTRY_COMPARE(audience->geometry(), audience->screen()->geometry());
        QVERIFY(QApplication::focusWindow() != audience->windowHandle());
        rig->room->refreshContextMenu();
        QVERIFY(screens->actions().at(second)->isChecked() && !screens->actions().first()->isChecked());

        const auto mirrors = [&] {
            return audience->digits()->minutes()->text() == label("lblMin")->text() &&
                   audience->digits()->seconds()->text() == label("lblSec")->text() &&
                   audience->digits()->minutes()->isEnabled() == label("lblMin")->isEnabled() &&
                   audience->digits()->seconds()->palette() == label("lblSec")->palette();
        };
        QVERIFY(mirrors());
        // A key that reaches the audience window acts as in the main window.
        QTest::keyClick(audience, Qt::Key_Space);
        QCOMPARE(rig->state(), ClockState::Running);
        after(300 * 1000);
        QCOMPARE(audience->digits()->minutes()->text(), QStringLiteral("05"));
        QVERIFY(mirrors());
        after(600 * 1000); // stage 2 and its colours
        QVERIFY(mirrors());
        const QRect whole(QPoint(), audience->size());
        QVERIFY(whole.contains(audience->digits()->minutes()->geometry() | audience->digits()->seconds()->geometry()));
        QVERIFY(audience->digits()->minutes()->height() > label("lblMin")->height());

        // Blackout: the speaker's screen shows black alone while the clock runs on; the chair's framed window
        // stays as it is.
        const auto allBlack = [](QWidget *view) {
            const QImage image = view->grab().toImage();
            for (int y = 0; y < image.height(); y += 3) {
                for (int x = 0; x < image.width(); x += 3) {
                    if (image.pixelColor(x, y) != QColor(Qt::black))
                        return false;
                }
            }
            return true;
        };
        rig->session.perform(ClockCommand::ShowMessage, QStringLiteral("Wrap up"));
        window->findChild<QAction *>(QStringLiteral("actionBlackout"))->trigger();
        QVERIFY(rig->session.snapshot().blackout);
        after(1000);
        QVERIFY(allBlack(audience->digits()));
        QVERIFY(!allBlack(window->digitPanel()));
        rig->room->refreshContextMenu();
        QVERIFY(window->findChild<QAction *>(QStringLiteral("actionBlackout"))->isChecked());
        rig->session.perform(ClockCommand::BlackoutOff);
        QVERIFY(!allBlack(audience->digits()));
        QVERIFY(mirrors());
        rig->session.perform(ClockCommand::ClearMessage);

        // Minimised, the main window reads out in its caption; the speaker's digits go on.
        window->showMinimized();
        QTRY_VERIFY(window->isMinimized());
        after(1000);
        QCOMPARE(window->windowTitle(), QStringLiteral("Kestrim - 15:02"));
        QCOMPARE(audience->digits()->seconds()->text(), QStringLiteral("02"));

        const QPointer<AudienceWindow> closing(audience);
        rig->room->setAudienceScreen(QString());
        QVERIFY(!rig->room->audienceWindow());
        QTRY_VERIFY(!closing);
    }

    void closeWhileMaximised_writesOnlyTheState()
    {
        open();
        window->showMaximized();
        QTRY_VERIFY(window->isMaximized());
        window->close();
        QCOMPARE(fakes->store.get(QStringLiteral("Window"), QStringLiteral("State")), QStringLiteral("2"));
        QVERIFY(!fakes->store.get(QStringLiteral("Window"), QStringLiteral("Left")));
    }
};

KESTRIM_TEST_MAIN_TWO_SCREENS(TestMainWindow)
#include "tst_mainwindow.moc"
