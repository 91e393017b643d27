#include "app/program.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/presentersettings.h"
#include "mainwindow/room.h"
#include "options/optionsdialog.h"
#include "options/programmedialog.h"
#include "options/programmemodel.h"
#include "platform/filestore.h"
#include "platform/units.h"
#include "programme/programmesession.h"
#include "support/fakes.h"
#include "support/offscreenscreens.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <limits>

// Start-up, placement and quitting, through the real settings file where the file is what matters.
class TestLifecycle : public QObject
{
    Q_OBJECT

    // The real store, in this test's own XDG_CONFIG_HOME; the other platform parts are fakes.
    struct RealStorePlatform
    {
        FileStore store;
        FakeTickCounter ticks;
        FakeSoundPlayer sound;
        FakeColorChooser colors;
        FakeFileChooser files;
        FakeMessageBoxes messages;
        FakeWallClock wallClock;
        Platform platform()
        {
            return Platform{store, ticks, sound, colors, files, messages, wallClock, QStringLiteral("/opt")};
        }
    };

    static QString configFile()
    {
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/Kestrim/Kestrim.conf");
    }
    static void writeConfig(const QByteArray &text)
    {
        QDir().mkpath(QFileInfo(configFile()).path());
        QFile file(configFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }
    static QByteArray readConfig()
    {
        QFile file(configFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static Room &room(fMain &window) { return *window.findChild<Room *>(); }
    static QSize screenSize() { return QGuiApplication::primaryScreen()->geometry().size(); }
    static QSize createdSize() { return {Units::toPixels(7485), Units::toPixels(5490)}; }

    // One run of the program: start-up, then whatever `during` does, then the close box.
    static void run(const std::function<void(fMain &)> &during)
    {
        RealStorePlatform fakes;
        Program program(fakes.platform());
        QVERIFY(program.Main());
        QVERIFY(QTest::qWaitForWindowExposed(program.MainWindow()));
        during(*program.MainWindow());
        program.MainWindow()->close();
    }

private slots:
    void init() { QFile::remove(configFile()); }

    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void emptyStore_opensCentredAtCreatedSize()
    {
        run([](fMain &window) {
            QCOMPARE(window.size(), createdSize());
            const QSize screen = screenSize();
            // Centred as framed, once the frame is known.
            QTRY_VERIFY(std::abs(window.frameGeometry().center().x() - screen.width() / 2) <= 1);
            QTRY_VERIFY(std::abs(window.frameGeometry().center().y() - screen.height() / 2) <= 1);
            QVERIFY(!window.isMinimized() && !window.isMaximized());
        });
        const QByteArray written = readConfig();
        QVERIFY(written.contains("[Window]"));
        QVERIFY(written.contains("State=0"));
    }

    void normalSize_roundTripsToThePixel()
    {
        QRect frame;
        run([&](fMain &window) {
            window.move(37, 52);
            window.resize(640, 410);
            QTRY_COMPARE(window.size(), QSize(640, 410));
            frame = window.frameGeometry();
        });
        QCOMPARE(frame.topLeft(), QPoint(37, 52));
        // The outer frame is stored, in twips.
        QVERIFY(readConfig().contains("Left=555\n"));
        QVERIFY(readConfig().contains("Width=" + QByteArray::number(frame.width() * 15) + "\n"));
        run([&](fMain &window) {
            QTRY_COMPARE(window.frameGeometry(), frame);
            QCOMPARE(window.size(), QSize(640, 410));
        });
    }

    void closedMaximisedOrMinimised_reopensSo_keepingTheNormalFrame()
    {
        run([&](fMain &window) {
            window.move(20, 30);
            QTRY_COMPARE(window.frameGeometry().topLeft(), QPoint(20, 30));
        });
        run([](fMain &window) {
            window.showMaximized();
            QTRY_VERIFY(window.isMaximized());
        });
        QVERIFY(readConfig().contains("State=2"));
        QVERIFY(readConfig().contains("Left=300")); // from the close at normal size
        run([](fMain &window) {
            QVERIFY(window.isMaximized());
            window.showMinimized();
            QTRY_VERIFY(window.isMinimized());
        });
        QVERIFY(readConfig().contains("State=1"));
        run([](fMain &window) {
            QVERIFY(window.isMinimized());
            // Restoring lays the digits out and puts back the plain caption.
            window.showNormal();
            QTRY_VERIFY(!window.isMinimized());
            QCOMPARE(window.windowTitle(), QStringLiteral("Kestrim"));
            QCOMPARE(window.size(), createdSize());
            const QSize screen = screenSize();
            QTRY_VERIFY(std::abs(window.frameGeometry().center().x() - screen.width() / 2) <= 1);
            QTRY_VERIFY(std::abs(window.frameGeometry().center().y() - screen.height() / 2) <= 1);
        });
    }

    void sizeWithoutPosition_centresTheCreatedSizeFirst()
    {
        writeConfig("[Window]\nWidth=9000\nHeight=7500\n");
        run([](fMain &window) {
            QTRY_COMPARE(window.frameGeometry().size(), QSize(600, 500));
            // Centred as framed at its created size, then given the stored size.
            const QSize screen = screenSize();
            const QSize created = createdSize() + QSize(frameMargins(window).left() + frameMargins(window).right(),
                                                        frameMargins(window).top() + frameMargins(window).bottom());
            QCOMPARE(window.frameGeometry().left(), (screen.width() - created.width()) / 2);
            QCOMPARE(window.frameGeometry().top(), (screen.height() - created.height()) / 2);
        });
    }

    void openingFrame_keepsTheTitleBarWithinReach_data()
    {
        QTest::addColumn<QRectF>("stored"); // twips
        QTest::addColumn<QList<QRect>>("screens");
        QTest::addColumn<bool>("positionKnown");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QSize>("size");
        const QList<QRect> laptop{{0, 0, 1280, 800}};
        const QList<QRect> withProjector{{0, 0, 1280, 800}, {1280, 0, 1920, 1080}};
        const QList<QRect> underPanel{{0, 32, 1280, 768}};
        const float inf = std::numeric_limits<float>::infinity();
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const QSize stored(600, 500);
        QTest::newRow("on the screen") << QRectF(1500, 1200, 9000, 7500) << laptop << true << true << stored;
        QTest::newRow("on the projector, plugged in")
            << QRectF(30000, 1200, 9000, 7500) << withProjector << true << true << stored;
        QTest::newRow("on the projector, unplugged")
            << QRectF(30000, 1200, 9000, 7500) << laptop << true << false << stored;
        QTest::newRow("49 pixels showing") << QRectF(1231 * 15, 1200, 9000, 7500) << laptop << true << false << stored;
        QTest::newRow("title bar above the screen")
            << QRectF(1500, -300, 9000, 7500) << laptop << true << false << stored;
        QTest::newRow("title bar under a panel")
            << QRectF(1500, 0, 9000, 7500) << underPanel << true << false << stored;
        QTest::newRow("bottom beyond the screen, title bar on it")
            << QRectF(1500, 10500, 9000, 7500) << laptop << true << true << stored;
        QTest::newRow("top 1e30") << QRectF(1500, 1e30, 9000, 7500) << laptop << true << false << stored;
        QTest::newRow("left 1e30") << QRectF(1e30, 1200, 9000, 7500) << laptop << true << false << stored;
        QTest::newRow("left -1e30") << QRectF(-1e30, 1200, 9000, 7500) << laptop << true << false << stored;
        QTest::newRow("left infinite") << QRectF(-inf, 1200, 9000, 7500) << laptop << true << false << stored;
        QTest::newRow("top not a number") << QRectF(1500, nan, 9000, 7500) << laptop << true << false << stored;
        QTest::newRow("width 1e30, shrunk to the screen")
            << QRectF(0, 0, 1e30, 7500) << laptop << true << false << QSize(1280, 500);
        QTest::newRow("taller than the screen, title bar on it")
            << QRectF(1500, 1200, 9000, 30000) << laptop << true << true << QSize(600, 2000);
        QTest::newRow("width below the minimum")
            << QRectF(1500, 1200, 30, 7500) << laptop << true << true << QSize(200, 500);
        QTest::newRow("height negative") << QRectF(1500, 1200, 9000, -inf) << laptop << true << true << QSize(600, 60);
        QTest::newRow("height not a number")
            << QRectF(1500, 1200, 9000, nan) << laptop << true << true << QSize(600, 366);
        QTest::newRow("position unknown: size only")
            << QRectF(30000, 1e30, 9000, 30000) << laptop << false << false << QSize(600, 800);
    }

    void openingFrame_keepsTheTitleBarWithinReach()
    {
        QFETCH(QRectF, stored);
        QFETCH(QList<QRect>, screens);
        QFETCH(bool, positionKnown);
        QFETCH(bool, kept);
        QFETCH(QSize, size);
        const WindowPlacement placement{WindowState::Normal, float(stored.x()), float(stored.y()),
                                        float(stored.width()), float(stored.height())};
        const OpeningFrame opening = openingFrame(placement, 15, ScreenAreas{screens}, QSize(200, 60), QSize(499, 366),
                                                  positionKnown ? PositionKnown::Yes : PositionKnown::No);
        QCOMPARE(opening.size, size);
        QCOMPARE(opening.mended, positionKnown && !kept);
        if (!positionKnown) {
            QVERIFY(!opening.topLeft);
            return;
        }
        QVERIFY(opening.topLeft);
        const QRect frame(*opening.topLeft, opening.size);
        if (kept) {
            QCOMPARE(frame.topLeft(), QPoint(int(stored.x() / 15), int(stored.y() / 15)));
            return;
        }
        // Given up: centred on the primary screen, inside it.
        const QRect primary = screens.front();
        QVERIFY2(primary.contains(frame), qPrintable(QStringLiteral("%1,%2").arg(frame.x()).arg(frame.y())));
        QVERIFY(std::abs(frame.center().x() - primary.center().x()) <= 1);
        QVERIFY(std::abs(frame.center().y() - primary.center().y()) <= 1);
    }

    // A place beyond every screen, as left by a projector that is gone: opens on the screen, and quitting
    // stores where the window really was.
    void placementOffEveryScreen_opensCentredAndStoresTheRealPlace()
    {
        writeConfig("[Window]\nState=0\nLeft=30000\nTop=1e30\nWidth=9000\nHeight=7500\n");
        QRect frame;
        run([&](fMain &window) {
            QTRY_COMPARE(window.frameGeometry().size(), QSize(600, 500));
            frame = window.frameGeometry();
            QVERIFY(window.screen()->availableGeometry().contains(frame));
        });
        QVERIFY(readConfig().contains("Left=" + QByteArray::number(frame.x() * 15) + "\n"));
        QVERIFY(readConfig().contains("Top=" + QByteArray::number(frame.y() * 15) + "\n"));
    }

    void badStoredValue_endsStartUpWithoutWriting_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("key");
        QTest::newRow("state out of range") << QByteArray("[Window]\nState=7\n") << QStringLiteral("State");
        QTest::newRow("state not a number") << QByteArray("[Window]\nState=max\n") << QStringLiteral("State");
        QTest::newRow("state fraction") << QByteArray("[Window]\nState=1.5\n") << QStringLiteral("State");
        QTest::newRow("left not a number") << QByteArray("[Window]\nLeft=abc\n") << QStringLiteral("Left");
        QTest::newRow("top empty") << QByteArray("[Window]\nTop=\n") << QStringLiteral("Top");
        QTest::newRow("width infinite") << QByteArray("[Window]\nWidth=1e999\n") << QStringLiteral("Width");
        QTest::newRow("height with comma") << QByteArray("[Window]\nHeight=1,5\n") << QStringLiteral("Height");
        QTest::newRow("stage count") << QByteArray("[Stages]\nCount=abc\n") << QStringLiteral("Count");
        QTest::newRow("sound switch") << QByteArray("[Sound]\nEnabled=maybe\n") << QStringLiteral("Enabled");
        QTest::newRow("full screen") << QByteArray("[Window]\nFullScreen=yes\n") << QStringLiteral("FullScreen");
        QTest::newRow("on top") << QByteArray("[Window]\nOnTop=\n") << QStringLiteral("OnTop");
        QTest::newRow("overlay corner") << QByteArray("[Window]\nOverlayCorner=Top\n")
                                        << QStringLiteral("OverlayCorner");
        QTest::newRow("read-out") << QByteArray("[Window]\nReadOut=Backwards\n") << QStringLiteral("ReadOut");
        QTest::newRow("flash") << QByteArray("[Window]\nFlash=often\n") << QStringLiteral("Flash");
        QTest::newRow("programme count") << QByteArray("[Programme]\nCount=201\n") << QStringLiteral("Programme");
        QTest::newRow("programme lengths")
            << QByteArray("[Programme]\nCount=1\nLengths1=60,60,60,60,60\n") << QStringLiteral("Lengths1");
        // The file as a whole: the message names the line, or the reason.
        QTest::newRow("open quote") << QByteArray("[Stages]\nCount=2\nDescription1=\"Talk\n")
                                    << QStringLiteral("line 3");
        QTest::newRow("stray line") << QByteArray("[Window]\nState 0\n") << QStringLiteral("line 2 (State 0)");
        QTest::newRow("oversize") << QByteArray(9 << 20, '\n') << QStringLiteral("is larger than 8 MiB");
    }

    void badStoredValue_endsStartUpWithoutWriting()
    {
        QFETCH(QByteArray, config);
        QFETCH(QString, key);
        writeConfig(config);
        {
            RealStorePlatform fakes;
            Program program(fakes.platform());
            QVERIFY(!program.Main());
            QCOMPARE(fakes.messages.shown.size(), std::size_t(1));
            const auto &box = fakes.messages.shown.front();
            QVERIFY(box.critical);
            QCOMPARE(box.title, QStringLiteral("Kestrim"));
            QVERIFY2(box.text.contains(key), qPrintable(box.text));
            QVERIFY2(box.text.contains(QStringLiteral("Kestrim.conf")), qPrintable(box.text));
            QVERIFY(!program.MainWindow() || !program.MainWindow()->isVisible());
        }
        QCOMPARE(readConfig(), config);
    }

    void programme_showsTheSessionAndSavesItsReport()
    {
        writeConfig("[Programme]\nCount=2\nSessionStart=09:00\nTitle1=Keynote\nTitle2=Slot\nCurrent=2\n");
        RealStorePlatform fakes;
        fakes.wallClock.set(QDateTime(QDate(2024, 5, 6), QTime(9, 40)));
        Program program(fakes.platform());
        QVERIFY(program.Main());
        fMain &window = *program.MainWindow();
        const QLabel *session = window.findChild<QLabel *>(QStringLiteral("SessionText"));
        // Talk 2 was planned at 09:25 for 25 minutes; in Ready at 09:40 it is 15 minutes behind.
        // A moment after the window: the start-up shows the window before the schedule.
        QTRY_COMPARE(session->toolTip(), QStringLiteral("09:40   Talk 2 of 2   Behind 15 min   Ends 10:05"));
        QVERIFY(session->isVisible());
        QCOMPARE(window.statusText(), QStringLiteral("Ready. Click [SPACE] key to clock."));
        // However narrow or wide the window, the status text keeps its whole width and the session's part
        // shows one of its forms, the offset kept to the last.
        for (int width : {300, 480, 900}) {
            window.resize(width, window.height());
            QTRY_COMPARE(window.width(), width);
            const QLabel *status = window.findChild<QLabel *>(QStringLiteral("StatusText"));
            QTRY_VERIFY(status->width() >= status->sizeHint().width() || session->text().isEmpty());
            QVERIFY(sessionStatusTexts(program.session().snapshot().session).contains(session->text()) ||
                    session->text().isEmpty());
            QCOMPARE(session->text() == session->toolTip(), width == 900);
        }

        const QString report = QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
                                   .filePath(QStringLiteral("kestrim-report.csv"));
        fakes.files.answers.push_back(std::optional<QString>(report));
        program.session().perform(ClockCommand::PreviousTalk);
        QCOMPARE(program.session().snapshot().session.talk, 1);
        QMenu *menu = window.findChild<QMenu *>(QStringLiteral("ContextMenu"));
        QMetaObject::invokeMethod(menu, "aboutToShow");
        QAction *save = menu->findChild<QAction *>(QStringLiteral("actionSaveReport"));
        QVERIFY(menu->actions().contains(save));
        save->trigger();
        QCOMPARE(fakes.files.saves, 1);
        QFile written(report);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().contains("Keynote"));
        written.remove();
        window.QuitProgram();
        QVERIFY(readConfig().contains("Current=1"));
    }

    void optionsDialog_isBuiltAtTheFirstClickOnOption_andKept()
    {
        FakePlatform fakes;
        Program program(fakes.platform());
        QVERIFY(program.Main());
        fMain &window = *program.MainWindow();
        QVERIFY(optionDialogs().isEmpty());

        for (int opening = 0; opening < 2; ++opening) {
            QTimer::singleShot(0, &window, [] {
                if (QWidget *modal = QApplication::activeModalWidget())
                    modal->close();
            });
            window.button(QStringLiteral("Option"))->trigger();
            const QList<fOpt *> dialogs = optionDialogs();
            QCOMPARE(dialogs.size(), 1);
            QCOMPARE(program.OptionDialog(), dialogs.front());
            QVERIFY(!dialogs.front()->isVisible());
        }
    }

    // "Programme..." opens the dialog on the programme in force each time; Cancel leaves it, OK stores it.
    void programmeDialog_okStoresCancelDrops_andASaveFailureIsSaid()
    {
        FakePlatform fakes;
        fakes.store.set(QStringLiteral("Programme"), QStringLiteral("Count"), QStringLiteral("1"));
        fakes.store.set(QStringLiteral("Programme"), QStringLiteral("Title1"), QStringLiteral("Keynote"));
        Program program(fakes.platform());
        QVERIFY(program.Main());
        QAction *item = program.MainWindow()->findChild<QAction *>(QStringLiteral("actionProgramme"));
        item->trigger();
        auto *dialog = program.MainWindow()->findChild<ProgrammeDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        dialog->addTalk();
        dialog->reject();
        QCOMPARE(program.programme().programme().count(), 1);

        item->trigger();
        QCOMPARE(dialog->model().rowCount(), 1);
        dialog->addTalk();
        QVERIFY(dialog->model().setData(dialog->model().index(0, ProgrammeModel::FirstStageColumn), "30"));
        // Started from the phone meanwhile: it runs on, and its start is kept.
        QCOMPARE(program.session().perform(ClockCommand::Toggle), std::nullopt);
        fakes.store.failSync = QStringLiteral("Could not save the settings to memory: the disk is full.");
        dialog->accept();
        QCOMPARE(program.session().snapshot().state, ClockState::Running);
        QVERIFY(program.programme().programme().talk(1).record.started);
        QCOMPARE(program.programme().programme().count(), 2);
        QCOMPARE(fakes.store.get(QStringLiteral("Programme"), QStringLiteral("Title2")), QStringLiteral("Talk 2"));
        QCOMPARE(fakes.messages.shown.size(), std::size_t(1));
        QVERIFY(fakes.messages.shown[0].critical &&
                fakes.messages.shown[0].text.contains(QLatin1String("disk is full")));
        program.MainWindow()->close();
    }

    void everyWayOut_writesThePlacementOnceAndEndsWithTheDialogHidden_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("exit button") << QStringLiteral("exit");
        QTest::newRow("alt+f4") << QStringLiteral("altf4");
        QTest::newRow("close box") << QStringLiteral("close");
    }

    void everyWayOut_writesThePlacementOnceAndEndsWithTheDialogHidden()
    {
        QFETCH(QString, way);
        FakePlatform fakes;
        Program program(fakes.platform());
        QVERIFY(program.Main());
        fMain &window = *program.MainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // Open the options dialog once and cancel it, so it exists, hidden.
        QTimer::singleShot(0, program.OptionDialog(), [&] { program.OptionDialog()->reject(); });
        window.button(QStringLiteral("Option"))->trigger();
        QVERIFY(!program.OptionDialog()->isVisible());
        room(window).setAudienceScreen(QStringLiteral("HDMI-1"));
        QVERIFY(room(window).audienceWindow() && room(window).audienceWindow()->isVisible());

        const int writesBefore = fakes.store.writes;
        if (way == QLatin1String("exit"))
            window.button(QStringLiteral("Exit"))->trigger();
        else if (way == QLatin1String("altf4"))
            QTest::keyClick(&window, Qt::Key_F4, Qt::AltModifier);
        else
            window.close();
        QCOMPARE(fakes.store.writes - writesBefore, 8);
        QVERIFY(!window.isVisible());
        QVERIFY(!program.OptionDialog()->isVisible());
        QVERIFY(allHidden());
    }

    void presenterKeys_comeBackAndKeepTheNormalPlacement_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("audienceOpen");
        QTest::newRow("all on") << QByteArray(
                                       "FullScreen=True\nOnTop=true\nAudience=HDMI-1\nReadOut=TalkLeft\nFlash=True\n"
                                       "OverlayCorner=BottomLeft\n")
                                << true;
        QTest::newRow("screen not plugged in")
            << QByteArray("FullScreen=False\nOnTop=False\nAudience=HDMI-9\n") << false;
    }

    void presenterKeys_comeBackAndKeepTheNormalPlacement()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, audienceOpen);
        const QByteArray placement("[Window]\nState=0\nLeft=1500\nTop=1200\nWidth=7500\nHeight=6000\n");
        writeConfig(placement + stored);
        const PresenterSettings expected = ReadPresenterSettings(FileStore());
        run([&](fMain &window) {
            QTRY_COMPARE(window.isFullScreen(), expected.fullScreen);
            QCOMPARE(window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint), expected.onTop);
            QCOMPARE(bool(room(window).audienceWindow()), audienceOpen);
            // The default talk is 25 minutes long.
            QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblMin"))->text(),
                     expected.readOut == ReadOutMode::TalkLeft ? QStringLiteral("25") : QStringLiteral("00"));
            if (audienceOpen)
                QTRY_COMPARE(room(window).audienceWindow()->geometry(),
                             room(window).audienceWindow()->screen()->geometry());
        });
        // Written back as read, and the placement is still the normal window's, whatever full screen did.
        const PresenterSettings written = ReadPresenterSettings(FileStore());
        QCOMPARE(written, expected);
        QVERIFY(readConfig().startsWith(placement));
        // Keys never touched are not written: the file stays as it was for those who do not use them.
        QCOMPARE(readConfig().contains("ReadOut="), stored.contains("ReadOut="));
    }

private:
    static QList<fOpt *> optionDialogs()
    {
        QList<fOpt *> dialogs;
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (auto *dialog = qobject_cast<fOpt *>(window))
                dialogs.append(dialog);
        }
        return dialogs;
    }

    static QMargins frameMargins(const QWidget &window)
    {
        const QRect frame = window.frameGeometry(), client = window.geometry();
        return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                frame.bottom() - client.bottom()};
    }
    static bool allHidden()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible())
                return false;
        }
        return true;
    }
};

KESTRIM_TEST_MAIN_TWO_SCREENS(TestLifecycle)
#include "tst_lifecycle.moc"
