#include "options/programmedialog.h"
#include "options/programmemodel.h"
#include "support/fakes.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

namespace {

// Presentation 15:00, Conclusion 5:00, Discussion 5:00, then the repeating Over Time: three stage columns.
ClockSetting plan()
{
    return DefaultClockSetting(QStringLiteral("/opt/kestrim"));
}

// Talks "A".."D" as `titles` names them; the first two have a record, `current` counts from 1.
Programme programmeOf(const QString &titles, std::int32_t current)
{
    Programme programme;
    for (const QString &title : titles.split(u',')) {
        Talk talk{title, {}, {}, {}, {}};
        if (programme.count() < 2)
            talk.record = {QDateTime(QDate(2024, 5, 6), QTime(9, programme.count())), 60};
        programme.talks.push_back(talk);
    }
    programme.current = current;
    return programme;
}

// "A*,B*,>C,D": the titles, * for a kept record, > before the current talk.
QString summary(const Programme &programme)
{
    QStringList rows;
    for (std::int32_t n = 1; n <= programme.count(); ++n) {
        const Talk &talk = programme.talk(n);
        rows << (n == programme.current ? QStringLiteral(">") : QString()) + talk.title +
                    (talk.record.empty() ? QString() : QStringLiteral("*"));
    }
    return rows.join(u',');
}

} // namespace

class ProgrammeDialogTest final : public QObject
{
    Q_OBJECT

    FakePlatform fakes;

    QTableView *table(ProgrammeDialog &dialog) { return dialog.findChild<QTableView *>("programmeTable"); }

private slots:
    void initTestCase()
    {
        // Not UTC: a planned start shown in the wrong zone shows.
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void columns_followThePlan_data()
    {
        QTest::addColumn<QStringList>("stages"); // descriptions; empty: the default plan
        QTest::addColumn<QString>("headers");
        QTest::newRow("four stages") << QStringList()
                                     << "Start,Title,Speaker,Presentation,Conclusion,Discussion,Length";
        QTest::newRow("one stage") << QStringList{"Talk"} << "Start,Title,Speaker,Talk,Length";
        QTest::newRow("no description") << QStringList{"Talk", " ", "Over"}
                                        << "Start,Title,Speaker,Talk,Stage 2,Length";
    }
    void columns_followThePlan()
    {
        QFETCH(QStringList, stages);
        QFETCH(QString, headers);
        ClockSetting setting = plan();
        if (!stages.isEmpty())
            setting.Stages.resize(std::size_t(stages.size()));
        for (qsizetype i = 0; i < stages.size(); ++i)
            setting.Stages[std::size_t(i)].Description = stages[i];
        ProgrammeModel model;
        model.load(programmeOf("A", 1), setting);
        QStringList shown;
        for (int column = 0; column < model.columnCount(); ++column)
            shown << model.headerData(column, Qt::Horizontal).toString();
        QCOMPARE(shown.join(u','), headers);
        QVERIFY(!(model.flags(model.index(0, model.lengthColumn())) & Qt::ItemIsEditable));
    }

    // B, 10:00 of its own in Presentation, follows A's 50 minutes from 09:00. `after` is B's cell as shown
    // ("~" when greyed as the plan's), its own lengths and its Length.
    void editCell_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("refusal"); // part of it; empty: taken

        const int stage = ProgrammeModel::FirstStageColumn;
        // clang-format off
        QTest::newRow("start") << 0 << " 9:05 " << "09:05|600|20:00" << "";
        QTest::newRow("start emptied: after the talk before") << 0 << "" << "~09:50|600|20:00" << "";
        QTest::newRow("start 9.30") << 0 << "9.30" << "~09:50|600|20:00" << "\"9.30\" is not a time of day";
        QTest::newRow("start 24:00") << 0 << "24:00" << "~09:50|600|20:00" << "not a time of day";
        QTest::newRow("title trimmed") << 1 << " Keynote\t" << "Keynote|600|20:00" << "";
        QTest::newRow("title of 201") << 1 << QString(201, u'x') << "B|600|20:00" << "at most 200 characters";
        QTest::newRow("speaker of 200") << 2 << QString(200, u'y') << QString(200, u'y') + "|600|20:00" << "";
        QTest::newRow("stage minutes") << stage << "20" << "20:00|1200|30:00" << "";
        QTest::newRow("stage minutes and seconds") << stage << "12:30" << "12:30|750|22:30" << "";
        QTest::newRow("stage emptied: the plan's") << stage << "" << "~15:00||25:00" << "";
        QTest::newRow("a later stage fills the gap") << stage + 2 << "1:05:00" << "1:05:00|600,300,3900|1:20:00" << "";
        QTest::newRow("stage of ten hours") << stage << "10:00:00" << "10:00|600|20:00" << "at most 9:59:59";
        QTest::newRow("stage -5") << stage << "-5" << "10:00|600|20:00" << "is not a length";
        QTest::newRow("length is computed") << stage + 3 << "40" << "20:00|600|20:00" << "";
        // clang-format on
    }
    void editCell()
    {
        QFETCH(int, column);
        QFETCH(QString, typed);
        QFETCH(QString, refusal);
        QFETCH(QString, after);
        ProgrammeModel model;
        Programme programme = programmeOf("A,B", 1);
        programme.sessionStart = QTime(9, 0);
        programme.talks[0].lengths = {2400};
        programme.talks[1].lengths = {600};
        model.load(programme, plan());

        const QModelIndex cell = model.index(1, column);
        QCOMPARE(model.setData(cell, typed), refusal.isEmpty() && column != model.lengthColumn());
        QVERIFY2(model.refusal().contains(refusal), qPrintable(model.refusal()));
        const Talk edited = model.programme().talks[1];
        QStringList shown{cell.data().toString(), {}, model.index(1, model.lengthColumn()).data().toString()};
        if (cell.data(ProgrammeModel::PlanRole).toBool())
            shown[0].prepend(u'~');
        QStringList own;
        for (std::int32_t seconds : edited.lengths)
            own << QString::number(seconds);
        shown[1] = own.join(u',');
        QCOMPARE(shown.join(u'|'), after);
        QCOMPARE(edited.record, programme.talks[1].record);
    }

    // Through the dialog's buttons, on A B C D with C current: "choose n" picks row n (from 1).
    void rows_keepRecordsAndTheCurrentTalk_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("talks");
        // clang-format off
        QTest::newRow("add after the chosen") << "choose 1,add" << "A*,Talk 2,B*,>C,D";
        QTest::newRow("add without a choice") << "add" << "A*,B*,>C,D,Talk 5";
        QTest::newRow("remove one before") << "choose 2,remove" << "A*,>C,D";
        QTest::newRow("remove the current: the next") << "choose 3,remove" << "A*,B*,>D";
        QTest::newRow("remove the last two: the one before") << "choose 3,remove,remove" << "A*,>B*";
        QTest::newRow("move the current up") << "choose 3,up,up" << ">C,A*,B*,D";
        QTest::newRow("move past the current") << "choose 2,down,down" << "A*,>C,D,B*";
        QTest::newRow("down at the end does nothing") << "choose 4,down" << "A*,B*,>C,D";
        QTest::newRow("remove all, add one") << "choose 1,remove,remove,remove,remove,add" << ">Talk 1";
        // clang-format on
    }
    void rows_keepRecordsAndTheCurrentTalk()
    {
        QFETCH(QString, steps);
        QFETCH(QString, talks);
        ProgrammeDialog dialog(fakes.platform());
        dialog.load(programmeOf("A,B,C,D", 3), plan());
        table(dialog)->setCurrentIndex({});
        for (const QString &step : steps.split(u',')) {
            if (step.startsWith(QLatin1String("choose ")))
                table(dialog)->setCurrentIndex(dialog.model().index(step.mid(7).toInt() - 1, 1));
            else if (step == QLatin1String("add"))
                dialog.addTalk();
            else if (step == QLatin1String("remove"))
                dialog.removeTalk();
            else
                dialog.moveTalk(step == QLatin1String("up") ? -1 : 1);
        }
        QCOMPARE(summary(dialog.programme()), talks);
        const bool bottom = table(dialog)->currentIndex().row() + 1 == dialog.model().rowCount();
        QCOMPARE(dialog.findChild<QPushButton *>("programmeDown")->isEnabled(), !bottom);
    }

    void atMostTwoHundredTalks()
    {
        ProgrammeDialog dialog(fakes.platform());
        dialog.load(programmeOf(QStringList(MaxTalks, QStringLiteral("T")).join(u','), 1), plan());
        dialog.addTalk();
        QCOMPARE(dialog.model().rowCount(), MaxTalks);
        QVERIFY(dialog.status().contains(QLatin1String("at most 200 talks")));
        QVERIFY(!dialog.findChild<QPushButton *>("programmeAdd")->isEnabled());
    }

    // The phone moved the clock from C to D and recorded C while the table was edited.
    void programmeOver_keepsWhatTheClockDidMeanwhile()
    {
        ProgrammeModel model;
        model.load(programmeOf("A,B,C,D", 3), plan());
        QVERIFY(model.moveRows({}, 3, 1, {}, 0));
        Programme latest = programmeOf("A,B,C,D", 4);
        latest.talks[2].record.elapsed = 30;
        QCOMPARE(summary(model.programmeOver(latest)), ">D,A*,B*,C*");
        QVERIFY(model.removeRows(0, 1));
        QCOMPARE(summary(model.programmeOver(latest)), "A*,B*,>C*");
    }

    void import_refusesABadFileWhole_data()
    {
        // What the file says is the reader's to judge (its own table has every refusal); here, that the dialog
        // says it and keeps the programme whole.
        QTest::addColumn<QByteArray>("bytes"); // "folder": a folder in its place
        QTest::addColumn<QString>("said");
        QTest::newRow("a bad start") << QByteArray("Title,Start\nOne,9:00\nTwo,9.30\n")
                                     << "line 3, column 2 (Start): \"9.30\" is not a time of day";
        QTest::newRow("not a file") << QByteArray("folder") << "it is not a regular file";
    }
    void import_refusesABadFileWhole()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, said);
        QTemporaryDir folder;
        const QString path = folder.filePath("talks.csv");
        QFile file(path);
        QVERIFY(bytes == "folder" ? QDir().mkdir(path) : file.open(QIODevice::WriteOnly) && file.write(bytes));
        file.close();
        FakePlatform local;
        local.files.answers = {path};
        ProgrammeDialog dialog(local.platform());
        const Programme before = programmeOf("A,B", 2);
        dialog.load(before, plan());
        dialog.importCsv();
        QCOMPARE(dialog.programme(), before);
        QCOMPARE(local.messages.shown.size(), std::size_t(1));
        QVERIFY(local.messages.shown[0].critical);
        QVERIFY2(local.messages.shown[0].text.contains(said), qPrintable(local.messages.shown[0].text));
    }

    void exportThenImport_givesTheSameTalks()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath("programme.csv");
        FakePlatform local;
        local.files.answers = {folder.filePath("missing/x.csv"), path, path};
        ProgrammeDialog dialog(local.platform());
        Programme programme = programmeOf("Keynote,Lunch", 2);
        programme.talks[0].speaker = QStringLiteral("Ada");
        programme.talks[1].title = QStringLiteral("\"Lunch\", with a comma");
        programme.talks[1].start = QTime(12, 30);
        programme.talks[1].lengths = {3600, 0};
        dialog.load(programme, plan());
        dialog.exportCsv();
        QCOMPARE(local.messages.shown.size(), std::size_t(1));
        QVERIFY(local.messages.shown[0].text.contains(QLatin1String("was not exported")));
        dialog.exportCsv();
        QCOMPARE(local.files.saves, 2);
        QVERIFY(dialog.model().removeRows(0, 2));
        dialog.importCsv();
        QCOMPARE(local.messages.shown.size(), std::size_t(1));
        QVERIFY(dialog.status().contains(QLatin1String("2 talks imported")));
        for (Talk &talk : programme.talks)
            talk.record = {};
        programme.current = 1;
        QCOMPARE(dialog.programme().talks, programme.talks);
    }

    // Typed as a chair would: Tab into the table, a title, Enter to commit, Enter for OK.
    void okAppliesAndCancelDrops()
    {
        ProgrammeDialog dialog(fakes.platform());
        const Programme before = programmeOf("A,B", 1);
        dialog.load(before, plan());
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        dialog.open();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QVERIFY(dialog.isModal());
        auto *start = dialog.findChild<QLineEdit *>("programmeSessionStart");
        start->setFocus();
        QTest::keyClicks(start, "8.15");
        QTest::keyClick(start, Qt::Key_Return);
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.status().contains(QLatin1String("not a time of day")));
        start->setText(QStringLiteral("8:15"));
        QTest::keyClick(start, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), table(dialog));
        QTest::keyClicks(table(dialog), "K");
        QTest::keyClicks(QApplication::focusWidget(), "eynote");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        // The delegate commits after the editor has seen the key.
        QTRY_COMPARE(QApplication::focusWidget(), table(dialog));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(accepted.size(), 1);
        QCOMPARE(summary(dialog.programme()), ">Keynote*,B*");
        QCOMPARE(dialog.programme().sessionStart, QTime(8, 15));

        dialog.load(before, plan());
        QCOMPARE(start->text(), QString());
        dialog.open();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.removeTalk();
        QTest::keyClick(table(dialog), Qt::Key_Escape);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(accepted.size(), 1);
    }
};

QTEST_MAIN(ProgrammeDialogTest)
#include "tst_programmedialog.moc"
