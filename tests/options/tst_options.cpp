#include "options/colorbutton.h"
#include "options/optionsdialog.h"
#include "options/optionslayout.h"
#include "options/spinbar.h"
#include "platform/colours.h"
#include "platform/units.h"
#include "settings/persistence.h"
#include "support/fakes.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>

#include <functional>
#include <limits>
#include <memory>

namespace {

const QString ProgramFolder = QStringLiteral("/opt/kestrim");

ClockSetting defaults()
{
    return DefaultClockSetting(ProgramFolder);
}

ClockSetting withStage1Seconds(std::int32_t seconds)
{
    ClockSetting setting = defaults();
    setting.stage(1).Seconds = seconds;
    return setting;
}

enum class Close
{
    Ok,
    Cancel,
    CloseBox,
    Nothing
};

} // namespace

// The options dialog driven through its own widgets, offscreen, with fake choosers, store and sound.
// Each ShowDialog runs a modal loop; the test's actions run inside it and the dialog is then closed the
// way the case asks, even when an action failed, so that no test can hang in the loop.
class TestOptionsDialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakePlatform> fakes;
    std::unique_ptr<SettingsModel> model;
    std::unique_ptr<QWidget> mainWindow;
    std::unique_ptr<fOpt> dialog;

    void make(ClockSetting setting = defaults())
    {
        fakes = std::make_unique<FakePlatform>();
        fakes->programFolder = ProgramFolder;
        model = std::make_unique<SettingsModel>(std::move(setting));
        mainWindow = std::make_unique<QWidget>();
        mainWindow->setGeometry(100, 100, 600, 400);
        mainWindow->show();
        dialog = std::make_unique<fOpt>(*model, fakes->platform(), mainWindow.get());
    }

    // Opens the dialog, runs `actions` while it is shown, then closes it with `close`.
    int open(const std::function<void()> &actions = {}, Close close = Close::Ok)
    {
        QTimer::singleShot(0, dialog.get(), [this, actions, close] {
            if (actions) {
                actions();
            }
            if (!dialog->isVisible()) {
                return;
            }
            switch (close) {
            case Close::Ok:
                QTest::mouseClick(button("cmdOK"), Qt::LeftButton);
                break;
            case Close::Cancel:
                QTest::mouseClick(button("cmdCancel"), Qt::LeftButton);
                break;
            case Close::CloseBox:
                dialog->close();
                break;
            case Close::Nothing:
                // The case expected the actions to close it; make sure the loop still ends.
                QTest::qFail("dialog still open", __FILE__, __LINE__);
                dialog->reject();
                break;
            }
        });
        return dialog->ShowDialog();
    }

    template <typename T>
    T *find(const char *name) const
    {
        T *widget = dialog->findChild<T *>(QLatin1String(name));
        if (widget == nullptr) {
            qWarning("no control %s", name);
        }
        return widget;
    }
    QLineEdit *box(const char *name) const { return find<QLineEdit>(name); }
    QPushButton *button(const char *name) const { return find<QPushButton>(name); }
    QScrollBar *bar(const char *name) const { return find<QScrollBar>(name); }
    int spin(const char *name) const { return find<SpinBar>(name)->value(); }
    QCheckBox *check(const char *name) const { return find<QCheckBox>(name); }
    QLabel *sample() const { return find<QLabel>("lblSample"); }
    QComboBox *fontList() const { return find<QComboBox>("cboFont"); }
    const StageSetting &work(int n) const { return dialog->WorkSetting().stage(n); }

    // Empties a box as a user does, then types `text` key by key.
    static void retype(QLineEdit *edit, const QString &text)
    {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }
    // Clicks the upper or lower arrow of a scroll bar where the style draws it.
    static void clickArrow(QScrollBar *scrollBar, bool upper)
    {
        QStyleOptionSlider option;
        option.initFrom(scrollBar);
        option.orientation = Qt::Vertical;
        option.minimum = scrollBar->minimum();
        option.maximum = scrollBar->maximum();
        option.sliderPosition = scrollBar->sliderPosition();
        option.sliderValue = scrollBar->value();
        option.singleStep = scrollBar->singleStep();
        option.pageStep = scrollBar->pageStep();
        option.subControls = QStyle::SC_All;
        const QRect arrow = scrollBar->style()->subControlRect(
            QStyle::CC_ScrollBar, &option, upper ? QStyle::SC_ScrollBarSubLine : QStyle::SC_ScrollBarAddLine,
            scrollBar);
        QTest::mouseClick(scrollBar, Qt::LeftButton, {}, arrow.center());
    }
    static void up(QScrollBar *scrollBar) { scrollBar->triggerAction(QAbstractSlider::SliderSingleStepSub); }
    static void down(QScrollBar *scrollBar) { scrollBar->triggerAction(QAbstractSlider::SliderSingleStepAdd); }
    static QColor pixelAtCentre(QWidget *widget)
    {
        const QImage image = widget->grab().toImage();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    }
    QStringList durationShown() const { return {box("txtDuration(0)")->text(), box("txtDuration(1)")->text()}; }

private slots:
    void cleanup()
    {
        dialog.reset();
        mainWindow.reset();
        model.reset();
        fakes.reset();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    // --- composition ---

    void controls_data()
    {
        QTest::addColumn<int>("row");
        for (std::size_t row = 0; row < std::size(OptionsControls); ++row) {
            QTest::newRow(OptionsControls[row].name) << static_cast<int>(row);
        }
    }
    // Each row of the layout is built as it says; and each lies inside its frame, overlapping a neighbour at
    // most by the one pixel (15 twips) that a box shares with its spin bar.
    void controls()
    {
        QFETCH(int, row);
        const ControlPlace &place = OptionsControls[row];
        const auto twips = [](const char *name) {
            for (const ControlPlace &other : OptionsControls) {
                if (name != nullptr && QLatin1String(other.name) == QLatin1String(name)) {
                    return QRect(other.left, other.top, other.width, other.height);
                }
            }
            return QRect(0, 0, OptionsWidth, OptionsHeight);
        };
        make();
        QWidget *widget = dialog->findChild<QWidget *>(QLatin1String(place.name));
        QVERIFY(widget);
        QCOMPARE(widget->parentWidget()->objectName(), QLatin1String(place.container ? place.container : "fOpt"));
        QString text;
        if (auto *label = qobject_cast<QLabel *>(widget)) {
            text = label->text();
            QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask,
                     place.kind == ControlKind::Sample ? Qt::AlignHCenter : Qt::AlignLeft);
        } else if (auto *pushButton = qobject_cast<QAbstractButton *>(widget)) {
            text = pushButton->text();
        } else if (auto *frame = qobject_cast<QGroupBox *>(widget)) {
            text = frame->title();
        } else if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
            text = edit->text();
        }
        QCOMPARE(text, QLatin1String(place.caption));
        QCOMPARE(widget->toolTip(), QLatin1String(place.toolTip));
        QCOMPARE(widget->accessibleName(), QLatin1String(place.accessibleName));
        const QRect at(place.left, place.top, place.width, place.height);
        const QRect expected(Units::toPixels(at.x()), Units::toPixels(at.y()),
                             Units::toPixels(at.x() + at.width()) - Units::toPixels(at.x()),
                             Units::toPixels(at.y() + at.height()) - Units::toPixels(at.y()));
        QCOMPARE(widget->geometry(), expected);
        QVERIFY(widget->isEnabled());
        QVERIFY(QRect(QPoint(), twips(place.container).size()).contains(at));
        for (const ControlPlace &other : OptionsControls) {
            const QRect shared = at.intersected(twips(other.name));
            QVERIFY2(&other == &place || QLatin1String(other.container) != QLatin1String(place.container) ||
                         std::min(shared.width(), shared.height()) <= 15,
                     other.name);
        }
    }

    void window_fixedSizeCaptionAndButtons()
    {
        make();
        QCOMPARE(dialog->objectName(), QStringLiteral("fOpt"));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Options..."));
        QVERIFY(dialog->parentWidget() == nullptr);
        const QSize client(Units::toPixels(6075), Units::toPixels(4800));
        QCOMPARE(dialog->size(), client);
        QCOMPARE(dialog->minimumSize(), client);
        QCOMPARE(dialog->maximumSize(), client);
        QVERIFY(dialog->windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(dialog->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(dialog->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
        QVERIFY(button("cmdOK")->isDefault());
        for (const char *name : {"cmdSave", "cmdCancel", "cmdSound", "cmdTest", "cmdColor(0)", "cmdColor(1)"}) {
            QVERIFY2(!button(name)->isDefault() && !button(name)->autoDefault(), name);
        }
        // Parallel controls are named as one array with an index, never plainly.
        QVERIFY(dialog->findChild<QWidget *>(QStringLiteral("txtDuration")) == nullptr);
        QVERIFY(dialog->findChild<QWidget *>(QStringLiteral("lblDuration(0)")) == nullptr);
    }

    void layout_noCaptionIsCutOff()
    {
        make();
        const QStringList clipped = ClippedCaptions(*dialog);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1String(", "))));
        // The check itself must see a caption that is too large for the fixed layout.
        QLabel *description = find<QLabel>("Label2");
        QFont large = description->font();
        large.setPointSizeF(20);
        description->setFont(large);
        QCOMPARE(ClippedCaptions(*dialog), QStringList({QStringLiteral("Label2")}));
        QVERIFY(dialog->font().pointSizeF() >= 7.0);
        QCOMPARE(sample()->font().pointSizeF(), 20.25);
        QCOMPARE(box("txtStage")->font().pointSizeF(), std::min(9.0, dialog->font().pointSizeF()));
    }

    void tabOrder_followsTheFormAndStartsOnSave()
    {
        make();
        QStringList visited;
        QString first;
        open([&] {
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
            first = QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
            for (int i = 0; i < 20; ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                visited << QApplication::focusWidget()->objectName();
            }
        });
        QCOMPARE(first, QStringLiteral("cmdSave"));
        const QStringList expected{"cmdOK",          "cmdCancel",      "cboFont",        "chkBold",
                                   "chkItalic",      "txtDesc",        "vscStage",       "txtStage",
                                   "cmdSound",       "txtSound",       "cmdTest",        "cmdColor(0)",
                                   "cmdColor(1)",    "txtDuration(0)", "vscDuration(0)", "txtDuration(1)",
                                   "vscDuration(1)", "chkSound",       "cmdSave",        "cmdOK"};
        QCOMPARE(visited, expected);
    }

    void keys_enterIsOkAndEscIsCancel_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");

        QTest::newRow("Enter on the first focus") << "" << int(Qt::Key_Return) << 1;
        QTest::newRow("Enter in the description") << "txtDesc" << int(Qt::Key_Return) << 1;
        QTest::newRow("keypad Enter in a duration box") << "txtDuration(1)" << int(Qt::Key_Enter) << 1;
        QTest::newRow("Enter on Cancel's neighbour Save") << "cmdSave" << int(Qt::Key_Return) << 1;
        QTest::newRow("Esc") << "txtDesc" << int(Qt::Key_Escape) << 2;
    }
    void keys_enterIsOkAndEscIsCancel()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(int, result);
        make();
        const int returned = open(
            [&] {
                dialog->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
                if (!focus.isEmpty()) {
                    dialog->findChild<QWidget *>(focus)->setFocus();
                }
                QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
            },
            Close::Nothing);
        QCOMPARE(returned, result);
        QCOMPARE(dialog->DialogResult(), result);
    }

    // --- lifecycle ---

    void ok_withoutEdits_leavesConfigurationEqual()
    {
        make();
        const ClockSetting before = model->CurrentSetting();
        QCOMPARE(dialog->DialogResult(), 0);
        QCOMPARE(open(), 1);
        QCOMPARE(model->CurrentSetting(), before);
        QCOMPARE(fakes->store.writes, 0);
    }

    void cancel_dropsEdits_andNextOpeningShowsStageOneOfTheConfiguration()
    {
        make();
        const ClockSetting before = model->CurrentSetting();
        fakes->colors.answers.push_back(std::optional<std::int32_t>(0x112233));
        QCOMPARE(open(
                     [&] {
                         retype(box("txtStage"), QStringLiteral("2"));
                         QTest::mouseClick(button("cmdColor(0)"), Qt::LeftButton);
                         QCOMPARE(work(2).BackColor, 0x112233);
                     },
                     Close::Cancel),
                 2);
        QCOMPARE(model->CurrentSetting(), before);

        QString stageText, description;
        QCOMPARE(open([&] {
                     QCOMPARE(dialog->SelectedStage(), 1);
                     QCOMPARE(dialog->WorkSetting(), before);
                     stageText = box("txtStage")->text();
                     description = box("txtDesc")->text();
                 }),
                 1);
        QCOMPARE(stageText, QStringLiteral("1"));
        QCOMPARE(description, QStringLiteral("Presentation"));
        QCOMPARE(model->CurrentSetting(), before);
    }

    void ok_appliesEdits_andNextOpeningStartsAtStageOne()
    {
        make();
        QCOMPARE(open([&] {
                     retype(box("txtStage"), QStringLiteral("3"));
                     retype(box("txtDuration(0)"), QStringLiteral("7"));
                 }),
                 1);
        QCOMPARE(model->CurrentSetting().stage(3).Seconds, 7 * 60);
        QCOMPARE(fakes->store.writes, 0); // OK puts the copy in force; only Save writes

        QCOMPARE(open([&] {
                     QCOMPARE(dialog->SelectedStage(), 1);
                     QCOMPARE(spin("vscStage"), 1);
                     QCOMPARE(box("txtDesc")->text(), QStringLiteral("Presentation"));
                     QCOMPARE(durationShown(), QStringList({"15", "0"}));
                 }),
                 1);
    }

    void save_thenCancel_storeHoldsEditsButConfigurationDoesNot()
    {
        make();
        const ClockSetting before = model->CurrentSetting();
        QCOMPARE(open(
                     [&] {
                         retype(box("txtStage"), QStringLiteral("2"));
                         retype(box("txtDuration(0)"), QStringLiteral("8"));
                         QTest::mouseClick(button("cmdSave"), Qt::LeftButton);
                         QVERIFY(dialog->isVisible());
                         QCOMPARE(dialog->DialogResult(), 0);
                     },
                     Close::Cancel),
                 2);
        QCOMPARE(model->CurrentSetting(), before);
        QCOMPARE(fakes->store.get(QStringLiteral("Stages"), QStringLiteral("Seconds2")), QStringLiteral("480"));

        // The next run loads what Save wrote.
        ClockSetting reloaded;
        LoadClockSetting(reloaded, fakes->store, ProgramFolder);
        ClockSetting edited = before;
        edited.stage(2).Seconds = 480;
        QCOMPARE(reloaded, edited);
    }

    void save_thenOk_bringsEditsIntoStoreAndConfiguration()
    {
        make();
        QCOMPARE(open([&] {
                     QTest::mouseClick(check("chkBold"), Qt::LeftButton);
                     QTest::mouseClick(button("cmdSave"), Qt::LeftButton);
                 }),
                 1);
        QVERIFY(model->CurrentSetting().Font.Bold);
        ClockSetting reloaded;
        LoadClockSetting(reloaded, fakes->store, ProgramFolder);
        QCOMPARE(reloaded, model->CurrentSetting());
    }

    void save_writesEveryStage_alsoOnesNeverShown()
    {
        ClockSetting six = defaults();
        six.Stages.resize(6);
        six.stage(5).Description = QStringLiteral("Questions");
        six.stage(6).Seconds = 42;
        make(six);
        open([&] { QTest::mouseClick(button("cmdSave"), Qt::LeftButton); }, Close::Cancel);
        QCOMPARE(fakes->store.get(QStringLiteral("Stages"), QStringLiteral("Count")), QStringLiteral("6"));
        QCOMPARE(fakes->store.get(QStringLiteral("Stages"), QStringLiteral("Description5")),
                 QStringLiteral("Questions"));
        QCOMPARE(fakes->store.get(QStringLiteral("Stages"), QStringLiteral("Seconds6")), QStringLiteral("42"));
        ClockSetting reloaded;
        LoadClockSetting(reloaded, fakes->store, ProgramFolder);
        QCOMPARE(reloaded, six);
    }

    void save_whenTheStoreFails_saysWhereAndWhy_andStaysOpen()
    {
        make();
        const ClockSetting before = model->CurrentSetting();
        fakes->store.failSync = QStringLiteral("No space left on device");
        bool stillOpen = false;
        QCOMPARE(open(
                     [&] {
                         QTest::mouseClick(button("cmdSave"), Qt::LeftButton);
                         stillOpen = dialog->isVisible();
                     },
                     Close::Cancel),
                 2);
        QVERIFY(stillOpen);
        QCOMPARE(fakes->messages.shown.size(), std::size_t(1));
        const auto &message = fakes->messages.shown.front();
        QVERIFY(message.critical);
        QCOMPARE(message.title, QStringLiteral("Kestrim"));
        QVERIFY2(message.text.contains(QStringLiteral("memory:/Kestrim.conf")), qPrintable(message.text));
        QVERIFY2(message.text.contains(QStringLiteral("No space left on device")), qPrintable(message.text));
        QCOMPARE(model->CurrentSetting(), before);
    }

    void closeBox_countsAsCancel_evenAfterAnEarlierOk()
    {
        make();
        QCOMPARE(open(), 1);
        const ClockSetting before = model->CurrentSetting();
        QCOMPARE(open([&] { retype(box("txtDuration(0)"), QStringLiteral("30")); }, Close::CloseBox), 2);
        QCOMPARE(dialog->DialogResult(), 2);
        QCOMPARE(model->CurrentSetting(), before);
    }

    void placement_centredWhenCreated_keptWhileHidden_centredAgainAfterCloseBox()
    {
        make();
        const auto centred = [&] {
            const QRect main = mainWindow->frameGeometry();
            const QRect own = dialog->frameGeometry();
            const double x = main.x() + (main.width() - own.width()) / 2.0;
            const double y = main.y() + (main.height() - own.height()) / 2.0;
            return std::abs(own.x() - x) <= 0.5 && std::abs(own.y() - y) <= 0.5;
        };
        bool firstCentred = false;
        open([&] {
            firstCentred = centred();
            dialog->move(20, 30); // the user drags it aside
        });
        QVERIFY(firstCentred);

        mainWindow->move(300, 200);
        QPoint second;
        open([&] { second = dialog->pos(); }, Close::CloseBox);
        QCOMPARE(second, QPoint(20, 30));

        bool thirdCentred = false;
        open([&] { thirdCentred = centred(); });
        QVERIFY(thirdCentred);
    }

    void fontList_readOncePerCreation()
    {
        make();
        open([&] { fontList()->addItem(QStringLiteral("marker")); });
        bool markerKept = false;
        open([&] { markerKept = fontList()->findText(QStringLiteral("marker")) >= 0; }, Close::CloseBox);
        QVERIFY(markerKept);
        bool markerGone = false;
        open([&] { markerGone = fontList()->findText(QStringLiteral("marker")) < 0; });
        QVERIFY(markerGone);
    }

    void soundSwitchOff_firstOpeningDisablesTheSoundFileControls()
    {
        ClockSetting quiet = defaults();
        quiet.SoundEnabled = false;
        make(quiet);
        const char *soundControls[] = {"fraSound", "txtSound", "cmdSound", "cmdTest"};
        open([&] {
            QVERIFY(!check("chkSound")->isChecked());
            for (const char *name : soundControls) {
                QVERIFY2(!dialog->findChild<QWidget *>(QLatin1String(name))->isEnabled(), name);
            }
            QTest::mouseClick(check("chkSound"), Qt::LeftButton);
            QVERIFY(dialog->WorkSetting().SoundEnabled);
            for (const char *name : soundControls) {
                QVERIFY2(dialog->findChild<QWidget *>(QLatin1String(name))->isEnabled(), name);
            }
            QTest::mouseClick(check("chkSound"), Qt::LeftButton);
            QVERIFY(!dialog->WorkSetting().SoundEnabled);
            for (const char *name : soundControls) {
                QVERIFY2(!dialog->findChild<QWidget *>(QLatin1String(name))->isEnabled(), name);
            }
            QVERIFY(model->CurrentSetting().SoundEnabled == false);
        });
    }

    // --- showing a stage ---

    void showStage_splitsTheLength_andWritesNothing_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("minutesText");
        QTest::addColumn<QString>("secondsText");
        QTest::addColumn<int>("minutesBar");
        QTest::addColumn<int>("secondsBar");

        const auto row = [](const char *name, int seconds, const char *minutes, const char *secs, int minutesBar,
                            int secondsBar) {
            QTest::newRow(name) << seconds << QString::fromLatin1(minutes) << QString::fromLatin1(secs) << minutesBar
                                << secondsBar;
        };
        row("900", 900, "15", "0", 15, 0);
        row("125", 125, "2", "5", 2, 5);
        row("59", 59, "0", "59", 0, 59);
        row("600", 600, "10", "0", 10, 0);
        // Numbers a bar cannot show leave it where stage 1 (15:00) put it.
        row("beyond the minutes bar", 6000, "100", "0", 15, 0);
        row("negative keeps its sign", -125, "-2", "-5", 15, 0);
        row("largest", 2147483647, "35791394", "7", 15, 7);
        // The seconds bar cannot stand at -1: it borrows, finds no minute and shows 0, still storing nothing.
        row("minus one second", -1, "0", "0", 0, 0);
    }
    void showStage_splitsTheLength_andWritesNothing()
    {
        QFETCH(int, seconds);
        QFETCH(QString, minutesText);
        QFETCH(QString, secondsText);
        QFETCH(int, minutesBar);
        QFETCH(int, secondsBar);
        ClockSetting setting = defaults();
        setting.stage(2).Seconds = seconds;
        make(setting);
        open(
            [&] {
                retype(box("txtStage"), QStringLiteral("2"));
                QCOMPARE(dialog->SelectedStage(), 2);
                QCOMPARE(durationShown(), QStringList({minutesText, secondsText}));
                QCOMPARE(spin("vscDuration(0)"), minutesBar);
                QCOMPARE(spin("vscDuration(1)"), secondsBar);
                QCOMPARE(dialog->WorkSetting(), model->CurrentSetting());
            },
            Close::Cancel);
    }

    void showStage_fillsDescriptionColoursAndSound()
    {
        make();
        open([&] {
            retype(box("txtStage"), QStringLiteral("4"));
            const StageSetting &stage = model->CurrentSetting().stage(4);
            QCOMPARE(box("txtDesc")->text(), QStringLiteral("Over Time"));
            QCOMPARE(box("txtSound")->text(), stage.SoundFile);
            QCOMPARE(sample()->palette().color(QPalette::Window), toQColor(stage.BackColor));
            QCOMPARE(sample()->palette().color(QPalette::WindowText), toQColor(stage.ForeColor));
            QCOMPARE(pixelAtCentre(button("cmdColor(0)")), toQColor(stage.BackColor));
            QCOMPARE(pixelAtCentre(button("cmdColor(1)")), toQColor(stage.ForeColor));
        });
    }

    // --- stage selection ---

    void stageBox_typed_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stage");
        QTest::addColumn<QString>("boxAfter");

        QTest::newRow("3 shows stage 3") << "3" << 3 << "3";
        QTest::newRow("7 is out of range") << "7" << 1 << "7";
        QTest::newRow("03 in normal form") << "03" << 3 << "3";
        QTest::newRow("letters") << "two" << 1 << "two";
        QTest::newRow("0 is out of range") << "0" << 1 << "0";
        // Key by key: "2" already shows stage 2, so "2.5" moves nothing and stays as typed; "3.5" moves on
        // to stage 4 and is rewritten.
        QTest::newRow("2.5 rounds to even 2") << "2.5" << 2 << "2.5";
        QTest::newRow("3.5 rounds to even 4") << "3.5" << 4 << "4";
        QTest::newRow("eleven nines") << "99999999999" << 1 << "99999999999";
    }
    void stageBox_typed()
    {
        QFETCH(QString, typed);
        QFETCH(int, stage);
        QFETCH(QString, boxAfter);
        make();
        open([&] {
            retype(box("txtStage"), typed);
            QCOMPARE(dialog->SelectedStage(), stage);
            QCOMPARE(box("txtStage")->text(), boxAfter);
            QCOMPARE(spin("vscStage"), stage);
            QCOMPARE(box("txtDesc")->text(), model->CurrentSetting().stage(stage).Description);
        });
    }

    void stageBox_oversizedNumbersAreIgnored_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("exponent") << "1e99";
        QTest::newRow("beyond 32 bits") << "99999999999";
        QTest::newRow("wraps to 2 in 32 bits") << "4294967298";
        QTest::newRow("beyond a double") << QString(400, QLatin1Char('9'));
    }
    void stageBox_oversizedNumbersAreIgnored()
    {
        QFETCH(QString, text);
        make();
        open([&] {
            box("txtStage")->setText(QStringLiteral("3"));
            box("txtStage")->setText(text);
            QCOMPARE(dialog->SelectedStage(), 3);
            QCOMPARE(box("txtDesc")->text(), QStringLiteral("Discussion"));
        });
    }

    void stageSelector_arrows_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<bool>("upper");
        QTest::addColumn<int>("to");

        QTest::newRow("up from 1") << 1 << true << 2;
        QTest::newRow("up at Count") << 4 << true << 4;
        QTest::newRow("down at 1") << 1 << false << 1;
        QTest::newRow("down from 4") << 4 << false << 3;
    }
    void stageSelector_arrows()
    {
        QFETCH(int, from);
        QFETCH(bool, upper);
        QFETCH(int, to);
        make();
        open([&] {
            box("txtStage")->setText(QString::number(from));
            clickArrow(bar("vscStage"), upper);
            QCOMPARE(dialog->SelectedStage(), to);
            QCOMPARE(box("txtStage")->text(), QString::number(to));
            QCOMPARE(box("txtDesc")->text(), model->CurrentSetting().stage(to).Description);
        });
    }

    void stageSelector_withOneStage_admitsOnlyStageOne()
    {
        ClockSetting single = defaults();
        single.Stages.resize(1);
        make(single);
        open([&] {
            up(bar("vscStage"));
            down(bar("vscStage"));
            QCOMPARE(dialog->SelectedStage(), 1);
            retype(box("txtStage"), QStringLiteral("2"));
            QCOMPARE(dialog->SelectedStage(), 1);
            QCOMPARE(box("txtDesc")->text(), QStringLiteral("Presentation"));
        });
    }

    void stageSelector_rangeFollowsEachOpening()
    {
        make();
        open([&] { retype(box("txtStage"), QStringLiteral("4")); });
        ClockSetting two = defaults();
        two.Stages.resize(2);
        model->SetClockSetting(two);
        open([&] {
            QCOMPARE(dialog->SelectedStage(), 1);
            up(bar("vscStage"));
            up(bar("vscStage"));
            QCOMPARE(dialog->SelectedStage(), 2);
            retype(box("txtStage"), QStringLiteral("3"));
            QCOMPARE(dialog->SelectedStage(), 2);
        });
    }

    // --- duration editing ---

    void secondsBar_carriesAndBorrows_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<bool>("upper");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("minutesBar");

        QTest::newRow("4:59 up") << 299 << true << QStringList({"5", "0"}) << 300 << 5;
        QTest::newRow("5:00 down") << 300 << false << QStringList({"4", "59"}) << 299 << 4;
        QTest::newRow("0:00 down") << 0 << false << QStringList({"0", "0"}) << 0 << 0;
        QTest::newRow("99:59 up") << 5999 << true << QStringList({"100", "0"}) << 6000 << 99;
        QTest::newRow("0:59 up") << 59 << true << QStringList({"1", "0"}) << 60 << 1;
        QTest::newRow("1:00 down") << 60 << false << QStringList({"0", "59"}) << 59 << 0;
        QTest::newRow("2:30 up") << 150 << true << QStringList({"2", "31"}) << 151 << 2;
    }
    void secondsBar_carriesAndBorrows()
    {
        QFETCH(int, seconds);
        QFETCH(bool, upper);
        QFETCH(QStringList, shown);
        QFETCH(int, stored);
        QFETCH(int, minutesBar);
        make(withStage1Seconds(seconds));
        open([&] {
            clickArrow(bar("vscDuration(1)"), upper);
            QCOMPARE(durationShown(), shown);
            QCOMPARE(work(1).Seconds, stored);
            QCOMPARE(spin("vscDuration(0)"), minutesBar);
            QCOMPARE(spin("vscDuration(1)"), shown.at(1).toInt());
        });
        QCOMPARE(model->CurrentSetting().stage(1).Seconds, stored);
    }

    void secondsBar_carryFromAFractionOfAMinute()
    {
        make();
        open([&] {
            // Beyond the minutes bar, so that no bar move rewrites the fraction.
            retype(box("txtDuration(0)"), QStringLiteral("100.5"));
            retype(box("txtDuration(1)"), QStringLiteral("59"));
            QCOMPARE(work(1).Seconds, 6089);
            up(bar("vscDuration(1)"));
            QCOMPARE(durationShown(), QStringList({"101.5", "0"}));
            QCOMPARE(work(1).Seconds, 6090);
        });
    }

    void minutesBar_arrows_data()
    {
        QTest::addColumn<int>("minutes");
        QTest::addColumn<bool>("upper");
        QTest::addColumn<int>("after");

        QTest::newRow("up at 5") << 5 << true << 6;
        QTest::newRow("down at 5") << 5 << false << 4;
        QTest::newRow("down at 0") << 0 << false << 0;
        QTest::newRow("up at 99") << 99 << true << 99;
    }
    void minutesBar_arrows()
    {
        QFETCH(int, minutes);
        QFETCH(bool, upper);
        QFETCH(int, after);
        make(withStage1Seconds(minutes * 60 + 7));
        open([&] {
            clickArrow(bar("vscDuration(0)"), upper);
            QCOMPARE(durationShown(), QStringList({QString::number(after), "7"}));
            QCOMPARE(work(1).Seconds, after * 60 + 7);
        });
    }

    void typingSeconds_eachKeystrokeIsAnEdit_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("secondsBar");

        QTest::newRow("75 stays as typed") << "75" << QStringList({"2", "75"}) << 195 << 7;
        QTest::newRow("60 carries") << "60" << QStringList({"3", "0"}) << 180 << 0;
        QTest::newRow("-1 borrows") << "-1" << QStringList({"1", "59"}) << 119 << 59;
        QTest::newRow("fraction kept, rounded in the total") << "7.4" << QStringList({"2", "7.4"}) << 127 << 7;
        QTest::newRow("fraction that moves the bar is rewritten") << "7.5" << QStringList({"2", "8"}) << 128 << 8;
    }
    void typingSeconds_eachKeystrokeIsAnEdit()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, shown);
        QFETCH(int, stored);
        QFETCH(int, secondsBar);
        make(withStage1Seconds(120));
        open([&] {
            retype(box("txtDuration(1)"), typed);
            QCOMPARE(durationShown(), shown);
            QCOMPARE(work(1).Seconds, stored);
            QCOMPARE(spin("vscDuration(1)"), secondsBar);
        });
    }

    void emptyBoxes_storeNothing()
    {
        make(withStage1Seconds(120));
        open([&] {
            retype(box("txtDuration(0)"), QString());
            QCOMPARE(work(1).Seconds, 120);
            retype(box("txtDuration(1)"), QStringLiteral("7"));
            QCOMPARE(work(1).Seconds, 120);
            QCOMPARE(spin("vscDuration(1)"), 7); // the bar still follows its own box
            retype(box("txtDuration(0)"), QStringLiteral("1"));
            QCOMPARE(work(1).Seconds, 67);
        });
    }

    void negativeMinutes_storedAsTyped_barStays()
    {
        make(withStage1Seconds(300));
        open([&] {
            retype(box("txtDuration(0)"), QStringLiteral("-5"));
            QCOMPARE(work(1).Seconds, -300);
            QCOMPARE(spin("vscDuration(0)"), 5);
        });
        QCOMPARE(model->CurrentSetting().stage(1).Seconds, -300);
    }

    void durationBoxes_valuesBeyond32BitsAreIgnored_data()
    {
        QTest::addColumn<QString>("minutes");
        QTest::addColumn<QString>("seconds");
        QTest::addColumn<int>("stored");

        const auto row = [](const char *name, const char *minutes, const char *seconds, int stored) {
            QTest::newRow(name) << QString::fromLatin1(minutes) << QString::fromLatin1(seconds) << stored;
        };
        row("largest length", "35791394", "7", std::numeric_limits<int>::max());
        row("one second more", "35791394", "8", 120);
        row("eleven nines of minutes", "99999999999", "1", 120);
        row("eleven nines of seconds", "0", "99999999999", 120);
        row("exponent", "1e99", "1", 120);
        row("smallest length", "-35791394", "-8", std::numeric_limits<int>::min());
        row("below smallest", "-35791394", "-9", 120);
    }
    void durationBoxes_valuesBeyond32BitsAreIgnored()
    {
        QFETCH(QString, minutes);
        QFETCH(QString, seconds);
        QFETCH(int, stored);
        make(withStage1Seconds(120));
        open([&] {
            // Both boxes set in one go, so that no shorter prefix is stored on the way.
            {
                const QSignalBlocker blocker(box("txtDuration(0)"));
                box("txtDuration(0)")->setText(minutes);
            }
            box("txtDuration(1)")->setText(seconds);
            QCOMPARE(work(1).Seconds, stored);
            QCOMPARE(spin("vscDuration(0)"), 2);
        });
    }

    void durationBoxes_typingOversizedMinutesKeepsTheLastLengthThatFits()
    {
        make(withStage1Seconds(120));
        open([&] {
            retype(box("txtDuration(0)"), QStringLiteral("99999999999"));
            QCOMPARE(box("txtDuration(0)")->text(), QStringLiteral("99999999999"));
            QCOMPARE(work(1).Seconds, 9999999 * 60); // the 7-digit prefix was the last to fit
            QCOMPARE(spin("vscDuration(0)"), 99);
        });
    }

    void durationBar_losingFocusStoresTheShownLength()
    {
        // A stage of -1 s is shown as 0 and 0 (the seconds bar cannot stand at -1) without storing.
        make(withStage1Seconds(-1));
        int beforeFocus = 0;
        int afterFocus = 0;
        open([&] {
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
            QCOMPARE(durationShown(), QStringList({"0", "0"}));
            beforeFocus = work(1).Seconds;
            bar("vscDuration(1)")->setFocus();
            box("txtDesc")->setFocus();
            afterFocus = work(1).Seconds;
        });
        QCOMPARE(beforeFocus, -1);
        QCOMPARE(afterFocus, 0);
    }

    void changingStage_keepsTheLengthOfTheStageLeft()
    {
        make();
        open([&] {
            retype(box("txtDuration(0)"), QStringLiteral("12"));
            retype(box("txtStage"), QStringLiteral("2"));
            QCOMPARE(work(1).Seconds, 720);
            QCOMPARE(work(2).Seconds, 300);
            QCOMPARE(durationShown(), QStringList({"5", "0"}));
        });
    }

    // --- colours ---

    void colourChooser_setsStageSampleAndButton_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("background") << 0;
        QTest::newRow("foreground") << 1;
    }
    void colourChooser_setsStageSampleAndButton()
    {
        QFETCH(int, index);
        make();
        const ClockSetting before = model->CurrentSetting();
        const Colour chosen = 0x00563412; // red 0x12, green 0x34, blue 0x56
        fakes->colors.answers.push_back(std::optional<std::int32_t>(chosen));
        const QByteArray name = "cmdColor(" + QByteArray::number(index) + ")";
        QColor face;
        open([&] {
            retype(box("txtStage"), QStringLiteral("2"));
            QTest::mouseClick(button(name.constData()), Qt::LeftButton);
            const StageSetting &stage = work(2);
            QCOMPARE(index == 0 ? stage.BackColor : stage.ForeColor, chosen);
            QCOMPARE(index == 0 ? stage.ForeColor : stage.BackColor,
                     index == 0 ? before.stage(2).ForeColor : before.stage(2).BackColor);
            QCOMPARE(sample()->palette().color(index == 0 ? QPalette::Window : QPalette::WindowText),
                     QColor(0x12, 0x34, 0x56));
            face = pixelAtCentre(button(name.constData()));
            QCOMPARE(model->CurrentSetting(), before);
            ClockSetting expected = before;
            (index == 0 ? expected.stage(2).BackColor : expected.stage(2).ForeColor) = chosen;
            QCOMPARE(dialog->WorkSetting(), expected);
        });
        QCOMPARE(face, QColor(0x12, 0x34, 0x56));
        QCOMPARE(fakes->colors.titles, QStringList({QStringLiteral("Choose Color")}));
        QCOMPARE(fakes->colors.initials.size(), std::size_t(1));
        QCOMPARE(fakes->colors.initials.front(), index == 0 ? before.stage(2).BackColor : before.stage(2).ForeColor);
        QCOMPARE(model->CurrentSetting().stage(2).BackColor, index == 0 ? chosen : before.stage(2).BackColor);
    }

    void choosers_cancelChangesNothing_failureShowsTheError_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("fails");
        QTest::newRow("colour cancelled") << "cmdColor(1)" << false;
        QTest::newRow("colour failed") << "cmdColor(0)" << true;
        QTest::newRow("sound file cancelled") << "cmdSound" << false;
        QTest::newRow("sound file failed") << "cmdSound" << true;
    }
    void choosers_cancelChangesNothing_failureShowsTheError()
    {
        QFETCH(QString, button);
        QFETCH(bool, fails);
        make();
        const ChooserError error(28, QStringLiteral("The display went away"));
        if (fails) {
            fakes->colors.answers.push_back(error);
            fakes->files.answers.push_back(error);
        } else {
            fakes->colors.answers.push_back(std::optional<std::int32_t>());
            fakes->files.answers.push_back(std::optional<QString>());
        }
        QColor faces[2];
        QString soundBox;
        open([&] {
            retype(box("txtStage"), QStringLiteral("3"));
            QTest::mouseClick(dialog->findChild<QPushButton *>(button), Qt::LeftButton);
            QCOMPARE(dialog->WorkSetting(), model->CurrentSetting());
            faces[0] = pixelAtCentre(this->button("cmdColor(0)"));
            faces[1] = pixelAtCentre(this->button("cmdColor(1)"));
            QCOMPARE(sample()->palette().color(QPalette::WindowText), toQColor(work(3).ForeColor));
            soundBox = box("txtSound")->text();
        });
        QCOMPARE(faces[0], toQColor(model->CurrentSetting().stage(3).BackColor));
        QCOMPARE(faces[1], toQColor(model->CurrentSetting().stage(3).ForeColor));
        QCOMPARE(soundBox, model->CurrentSetting().stage(3).SoundFile);
        if (fails) {
            QCOMPARE(fakes->messages.shown.size(), std::size_t(1));
            QVERIFY(fakes->messages.shown.front().critical);
            QCOMPARE(fakes->messages.shown.front().title, QStringLiteral("Kestrim"));
            QCOMPARE(fakes->messages.shown.front().text, QStringLiteral("Error #28: The display went away"));
        } else {
            QVERIFY(fakes->messages.shown.empty());
        }
        QCOMPARE(dialog->SoundFolder(), button == QLatin1String("cmdSound") ? ProgramFolder : QString());
    }

    // --- sound file ---

    void soundFolder_followsEachChosenFile()
    {
        make();
        fakes->files.answers.push_back(std::optional<QString>(QStringLiteral("/media/talks/bell.wav")));
        fakes->files.answers.push_back(std::optional<QString>(QStringLiteral("/Bell.wav")));
        fakes->files.answers.push_back(std::optional<QString>());
        QCOMPARE(dialog->SoundFolder(), QString());
        open([&] {
            QTest::mouseClick(button("cmdSound"), Qt::LeftButton);
            QCOMPARE(work(1).SoundFile, QStringLiteral("/media/talks/bell.wav"));
            QCOMPARE(box("txtSound")->text(), QStringLiteral("/media/talks/bell.wav"));
            QCOMPARE(dialog->SoundFolder(), QStringLiteral("/media/talks"));

            retype(box("txtStage"), QStringLiteral("3"));
            QTest::mouseClick(button("cmdSound"), Qt::LeftButton);
            QCOMPARE(work(3).SoundFile, QStringLiteral("/Bell.wav"));
            QCOMPARE(dialog->SoundFolder(), QString()); // the root has no folder part
            QCOMPARE(work(1).SoundFile, QStringLiteral("/media/talks/bell.wav"));
        });
        // The folder belongs to the dialog object, not to one opening.
        open([&] { QTest::mouseClick(button("cmdSound"), Qt::LeftButton); });

        QCOMPARE(fakes->files.requests.size(), std::size_t(3));
        const FileOpenRequest &first = fakes->files.requests[0];
        QCOMPARE(first.initialFolder, ProgramFolder);
        QCOMPARE(first.defaultExtension, QStringLiteral(".WAV"));
        QCOMPARE(first.title, QStringLiteral("Open a Sound File"));
        QCOMPARE(first.filterDescription, QStringLiteral("Wave File (*.WAV)"));
        QCOMPARE(first.filterPattern, QStringLiteral("*.WAV"));
        QCOMPARE(fakes->files.requests[1].initialFolder, QStringLiteral("/media/talks"));
        QCOMPARE(fakes->files.requests[2].initialFolder, ProgramFolder);
        QCOMPARE(model->CurrentSetting().stage(3).SoundFile, QStringLiteral("/Bell.wav"));
    }

    void typedTexts_areKept_andTestPlaysTheTypedPath()
    {
        make();
        open([&] {
            retype(box("txtSound"), QStringLiteral("/tmp/typed by hand.wav"));
            retype(box("txtDesc"), QStringLiteral("Questions"));
            QTest::mouseClick(button("cmdTest"), Qt::LeftButton);
            QCOMPARE(work(1).SoundFile, QStringLiteral("/tmp/typed by hand.wav"));
            QCOMPARE(work(1).Description, QStringLiteral("Questions"));
        });
        QCOMPARE(fakes->sound.played, QStringList({QStringLiteral("/tmp/typed by hand.wav")}));
        QCOMPARE(model->CurrentSetting().stage(1).Description, QStringLiteral("Questions"));
    }

    void testButton_playsEvenAnEmptyPath()
    {
        ClockSetting silent = defaults();
        silent.stage(1).SoundFile.clear();
        make(silent);
        open([&] { QTest::mouseClick(button("cmdTest"), Qt::LeftButton); });
        QCOMPARE(fakes->sound.played, QStringList({QString()}));
    }

    // --- font ---

    void fontList_showsTheScreenFontsWithoutVerticalFaces()
    {
        make();
        QStringList listed;
        open([&] {
            for (int i = 0; i < fontList()->count(); ++i) {
                listed << fontList()->itemText(i);
            }
        });
        QCOMPARE(listed, ListableFontNames(QFontDatabase::families()));
        QVERIFY(!listed.isEmpty());
        for (const QString &name : listed) {
            QVERIFY2(!name.startsWith(QLatin1Char('@')), qPrintable(name));
        }
    }

    void fontList_missingFace_isKeptNotReplaced()
    {
        ClockSetting setting = defaults();
        setting.Font.Name = QStringLiteral("No Such Face 1234");
        make(setting);
        QCOMPARE(open([&] {
                     QCOMPARE(fontList()->currentIndex(), -1);
                     QCOMPARE(fontList()->placeholderText(), QStringLiteral("No Such Face 1234"));
                     QCOMPARE(dialog->WorkSetting().Font.Name, QStringLiteral("No Such Face 1234"));
                     QCOMPARE(sample()->font().families().value(0), QStringLiteral("No Such Face 1234"));
                 }),
                 1);
        QCOMPARE(model->CurrentSetting().Font.Name, QStringLiteral("No Such Face 1234"));
    }

    void fontList_selectingAFace_setsWorkingCopyAndSample()
    {
        const QStringList faces = ListableFontNames(QFontDatabase::families());
        QVERIFY(faces.size() >= 2);
        ClockSetting setting = defaults();
        setting.Font.Name = faces.at(1);
        make(setting);
        QCOMPARE(open([&] {
                     QCOMPARE(fontList()->currentIndex(), 1);
                     QCOMPARE(sample()->font().families().value(0), faces.at(1));
                     fontList()->setCurrentIndex(0); // what picking an entry does
                     QCOMPARE(dialog->WorkSetting().Font.Name, faces.at(0));
                     QCOMPARE(sample()->font().families().value(0), faces.at(0));
                     QCOMPARE(model->CurrentSetting().Font.Name, faces.at(1));
                 }),
                 1);
        QCOMPARE(model->CurrentSetting().Font.Name, faces.at(0));

        // A later opening on a face that is not installed must not keep the list's old selection.
        ClockSetting missing = model->CurrentSetting();
        missing.Font.Name = QStringLiteral("No Such Face 1234");
        model->SetClockSetting(missing);
        open([&] {
            QCOMPARE(fontList()->currentIndex(), -1);
            QCOMPARE(sample()->font().families().value(0), QStringLiteral("No Such Face 1234"));
        });
        QCOMPARE(model->CurrentSetting().Font.Name, QStringLiteral("No Such Face 1234"));
    }

    void boldAndItalic_updateSampleAndWorkingCopy_data()
    {
        QTest::addColumn<QString>("box");
        QTest::newRow("bold") << "chkBold";
        QTest::newRow("italic") << "chkItalic";
    }
    void boldAndItalic_updateSampleAndWorkingCopy()
    {
        QFETCH(QString, box);
        const bool bold = box == QLatin1String("chkBold");
        make();
        QCOMPARE(open(
                     [&] {
                         QTest::mouseClick(dialog->findChild<QCheckBox *>(box), Qt::LeftButton);
                         QCOMPARE(bold ? sample()->font().bold() : sample()->font().italic(), true);
                         QCOMPARE(bold ? sample()->font().italic() : sample()->font().bold(), false);
                         QCOMPARE(bold ? dialog->WorkSetting().Font.Bold : dialog->WorkSetting().Font.Italic, true);
                         QCOMPARE(model->CurrentSetting().Font, defaults().Font);
                         QCOMPARE(sample()->font().pointSizeF(), 20.25);
                     },
                     Close::Cancel),
                 2);
        QCOMPARE(model->CurrentSetting().Font, defaults().Font);
        // The next opening shows the configuration again, and the sample with it.
        open([&] {
            QVERIFY(!dialog->findChild<QCheckBox *>(box)->isChecked());
            QVERIFY(!sample()->font().bold() && !sample()->font().italic());
        });
    }
};

QTEST_MAIN(TestOptionsDialog)
#include "tst_options.moc"
