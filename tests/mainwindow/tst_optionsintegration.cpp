#include "app/program.h"
#include "mainwindow/mainwindow.h"
#include "options/optionsdialog.h"
#include "support/fakes.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

// The options dialog as the main window's "Option" button opens it: what OK and Cancel do to the clock.
class TestOptionsIntegration : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakePlatform> fakes;
    std::unique_ptr<Program> program;

    fMain &window() { return *program->MainWindow(); }
    fOpt &dialog() { return *program->OptionDialog(); }
    template <typename T>
    T *control(const char *name)
    {
        return dialog().findChild<T *>(QLatin1String(name));
    }
    QString shown()
    {
        return window().findChild<QLabel *>(QStringLiteral("lblMin"))->text() + QLatin1Char(':') +
               window().findChild<QLabel *>(QStringLiteral("lblSec"))->text();
    }
    void after(std::int64_t ms)
    {
        fakes->ticks.advance(ms);
        program->session().Timer_Timer();
    }
    // Clicks "Option", lets `edit` work in the open dialog, then closes it with the named button.
    void throughOptions(const char *closeWith, const std::function<void()> &edit = {})
    {
        QTimer::singleShot(0, &dialog(), [this, closeWith, edit] {
            QVERIFY(dialog().isVisible());
            if (edit)
                edit();
            QTest::mouseClick(control<QPushButton>(closeWith), Qt::LeftButton);
        });
        window().button(QStringLiteral("Option"))->trigger();
        QVERIFY(!dialog().isVisible());
    }
    void type(QLineEdit *box, const QString &text)
    {
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, text);
    }

private slots:
    void init()
    {
        fakes = std::make_unique<FakePlatform>();
        program = std::make_unique<Program>(fakes->platform());
        QVERIFY(program->Main());
        QVERIFY(QTest::qWaitForWindowExposed(&window()));
    }

    void cleanup()
    {
        program.reset();
        fakes.reset();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void ok_resetsTheClockWithTheNewStagesColoursFontAndSound()
    {
        // Paused at 00:07 with the toolbar's sound switched off.
        window().button(QStringLiteral("Sound"))->trigger();
        QTest::keyClick(&window(), Qt::Key_Space);
        after(7000);
        QTest::keyClick(&window(), Qt::Key_Space);
        QCOMPARE(shown(), QStringLiteral("00:07"));
        const float uprightAspect = window().DigitAspect();

        fakes->colors.answers.push_back(std::optional<std::int32_t>(0x0000FF)); // red background
        throughOptions("cmdOK", [this] {
            type(control<QLineEdit>("txtDuration(0)"), QStringLiteral("0"));
            type(control<QLineEdit>("txtDuration(1)"), QStringLiteral("3"));
            QTest::mouseClick(control<QPushButton>("cmdColor(0)"), Qt::LeftButton);
            control<QCheckBox>("chkItalic")->click();
        });

        QCOMPARE(dialog().DialogResult(), 1);
        QCOMPARE(program->session().snapshot().state, ClockState::Ready);
        QCOMPARE(shown(), QStringLiteral("00:00"));
        QCOMPARE(window().Setting(), program->model().CurrentSetting());
        QCOMPARE(window().Setting().stage(1).Seconds, 3);
        QVERIFY(window().Setting().Font.Italic);
        // Italic digits are 20 % wider for the same height.
        QVERIFY(std::abs(uprightAspect / window().DigitAspect() - 1.2f) < 0.01f);
        // The sound switch follows the configuration again.
        QVERIFY(window().button(QStringLiteral("Sound"))->isChecked());
        QCOMPARE(window().findChild<QLabel *>(QStringLiteral("lblMin"))->palette().color(QPalette::Window),
                 QColor(255, 0, 0));
        QVERIFY(
            window().findChild<QLabel *>(QStringLiteral("lblInfo"))->text().startsWith(QStringLiteral("0' 3\" for")));

        // The new first stage ends after 3 s, with its sound.
        QTest::keyClick(&window(), Qt::Key_Space);
        after(3000);
        QCOMPARE(program->session().snapshot().stage, 2);
        QCOMPARE(fakes->sound.played.size(), qsizetype(1));
    }

    void cancel_keepsThePausedTimeAndTheToolbarsSoundChoice()
    {
        window().button(QStringLiteral("Sound"))->trigger();
        QTest::keyClick(&window(), Qt::Key_Space);
        after(65000);
        QTest::keyClick(&window(), Qt::Key_Space);
        const ClockSetting before = program->model().CurrentSetting();

        throughOptions("cmdCancel", [this] { type(control<QLineEdit>("txtDuration(0)"), QStringLiteral("1")); });

        QCOMPARE(dialog().DialogResult(), 2);
        QCOMPARE(program->session().snapshot().state, ClockState::Paused);
        QCOMPARE(shown(), QStringLiteral("01:05"));
        QVERIFY(!window().button(QStringLiteral("Sound"))->isChecked());
        QVERIFY(!window().Setting().SoundEnabled);
        QCOMPARE(program->model().CurrentSetting(), before);

        // Continuing counts on from the paused time.
        QTest::keyClick(&window(), Qt::Key_Escape);
        after(1000);
        QCOMPARE(shown(), QStringLiteral("01:06"));
    }

    void dialog_carriesTheProgramsPictureInItsTitleBar()
    {
        QVERIFY(!dialog().windowIcon().isNull());
        QCOMPARE(dialog().windowIcon().cacheKey(), window().windowIcon().cacheKey());
    }

    void optionButton_isOfferedOnlyWhenTheClockStands()
    {
        QVERIFY(window().button(QStringLiteral("Option"))->isEnabled());
        QTest::keyClick(&window(), Qt::Key_Space);
        QVERIFY(!window().button(QStringLiteral("Option"))->isEnabled());
        QTest::keyClick(&window(), Qt::Key_Space);
        QVERIFY(window().button(QStringLiteral("Option"))->isEnabled());
    }
};

QTEST_MAIN(TestOptionsIntegration)
#include "tst_optionsintegration.moc"
