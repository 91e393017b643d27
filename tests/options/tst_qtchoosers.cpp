#include "platform/qtchoosers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

// The real Qt choosers, shown offscreen and answered from a timer.
class TestQtChoosers : public QObject
{
    Q_OBJECT

    // Waits for a modal dialog of type T and hands it to `answer`. If none comes, every top-level dialog is
    // rejected so that the chooser under test returns and the test fails instead of hanging.
    template <typename T>
    static void whenShown(std::function<void(T *)> answer)
    {
        auto *poll = new QTimer(qApp);
        auto tries = std::make_shared<int>(0);
        QObject::connect(poll, &QTimer::timeout, qApp, [poll, tries, answer] {
            if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
                poll->deleteLater();
                poll->stop();
                answer(dialog);
                if (dialog->isVisible()) {
                    dialog->reject();
                }
                return;
            }
            if (++*tries > 500) {
                poll->stop();
                poll->deleteLater();
                for (QWidget *widget : QApplication::topLevelWidgets()) {
                    if (auto *dialog = qobject_cast<QDialog *>(widget)) {
                        dialog->reject();
                    }
                }
            }
        });
        poll->start(10);
    }

    static void touch(const QString &path)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

private slots:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void colour_opensOnTheGivenColour_andReturnsItRedLow()
    {
        QtColorChooser chooser;
        QColor opened;
        QString title;
        whenShown<QColorDialog>([&](QColorDialog *dialog) {
            opened = dialog->currentColor();
            title = dialog->windowTitle();
            dialog->setCurrentColor(QColor(0x12, 0x34, 0x56));
            dialog->accept();
        });
        const std::optional<std::int32_t> chosen =
            chooser.chooseColor(nullptr, QStringLiteral("Choose Color"), 0x00FF8040);
        QCOMPARE(opened, QColor(0x40, 0x80, 0xFF));
        QCOMPARE(title, QStringLiteral("Choose Color"));
        QCOMPARE(chosen, std::optional<std::int32_t>(0x00563412));
    }

    void colour_cancelReturnsNothing()
    {
        QtColorChooser chooser;
        whenShown<QColorDialog>([](QColorDialog *dialog) { dialog->reject(); });
        QCOMPARE(chooser.chooseColor(nullptr, QStringLiteral("Choose Color"), 0), std::optional<std::int32_t>());
    }

    void file_showsTheWaveFilter_andFindsWaveFilesInAnyCase()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        touch(folder.filePath(QStringLiteral("bell.wav")));
        touch(folder.filePath(QStringLiteral("GONG.WAV")));
        touch(folder.filePath(QStringLiteral("Chime.Wav")));
        touch(folder.filePath(QStringLiteral("notes.txt")));

        QtFileChooser chooser;
        QString title, shownFilter, startFolder, suffix;
        QStringList listed;
        whenShown<QFileDialog>([&](QFileDialog *dialog) {
            title = dialog->windowTitle();
            startFolder = dialog->directory().absolutePath();
            suffix = dialog->defaultSuffix();
            auto *filterBox = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            QVERIFY(filterBox);
            shownFilter = filterBox->currentText();
            auto *view = dialog->findChild<QListView *>(QStringLiteral("listView"));
            QVERIFY(view);
            QTRY_COMPARE(view->model()->rowCount(view->rootIndex()), 3);
            for (int row = 0; row < 3; ++row) {
                listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
            }
            // Typed without a suffix. (selectFile() leaves a focused name box alone, and whether it has the
            // focus yet depends on when the window was activated.)
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(QStringLiteral("GONG"));
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides its override
        });
        const FileOpenRequest request{QDir::toNativeSeparators(folder.path()), QStringLiteral(".WAV"),
                                      QStringLiteral("Open a Sound File"), QStringLiteral("Wave File (*.WAV)"),
                                      QStringLiteral("*.WAV")};
        const std::optional<QString> chosen = chooser.chooseOpenFile(nullptr, request);

        QCOMPARE(title, QStringLiteral("Open a Sound File"));
        QCOMPARE(startFolder, QDir(folder.path()).absolutePath());
        QCOMPARE(shownFilter, QStringLiteral("Wave File (*.WAV)"));
        QCOMPARE(suffix, QStringLiteral("WAV"));
        listed.sort(Qt::CaseInsensitive);
        QCOMPARE(listed, QStringList({"bell.wav", "Chime.Wav", "GONG.WAV"}));
        QCOMPARE(chosen.value_or(QStringLiteral("(nothing)")),
                 QDir::toNativeSeparators(folder.filePath(QStringLiteral("GONG.WAV"))));
    }

    void file_cancelReturnsNothing()
    {
        QtFileChooser chooser;
        whenShown<QFileDialog>([](QFileDialog *dialog) { dialog->reject(); });
        const FileOpenRequest request{QDir::tempPath(), QStringLiteral(".WAV"), QStringLiteral("Open a Sound File"),
                                      QStringLiteral("Wave File (*.WAV)"), QStringLiteral("*.WAV")};
        QCOMPARE(chooser.chooseOpenFile(nullptr, request), std::optional<QString>());
    }

    void messages_showTitleTextAndIcon_data()
    {
        QTest::addColumn<bool>("critical");
        QTest::newRow("information") << false;
        QTest::newRow("critical") << true;
    }
    void messages_showTitleTextAndIcon()
    {
        QFETCH(bool, critical);
        QtMessageBoxes boxes;
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        whenShown<QMessageBox>([&](QMessageBox *box) {
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            box->button(QMessageBox::Ok)->click();
        });
        if (critical) {
            boxes.critical(nullptr, QStringLiteral("Kestrim"), QStringLiteral("Error #7: gone"));
        } else {
            boxes.information(nullptr, QStringLiteral("Kestrim"), QStringLiteral("Hello"));
        }
        QCOMPARE(title, QStringLiteral("Kestrim"));
        QCOMPARE(text, critical ? QStringLiteral("Error #7: gone") : QStringLiteral("Hello"));
        QCOMPARE(icon, critical ? QMessageBox::Critical : QMessageBox::Information);
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
};

QTEST_MAIN(TestQtChoosers)
#include "tst_qtchoosers.moc"
