#include "clock/clocksession.h"
#include "clock/keys.h"
#include "clock/readout.h"
#include "settings/clocksetting.h"
#include "support/fakes.h"

#include <QTest>

#include <limits>
#include <utility>
#include <vector>

namespace {

using Stages = std::vector<std::pair<std::int32_t, QString>>;

ClockSetting settingOf(const Stages &stages)
{
    ClockSetting setting;
    for (const auto &[seconds, description] : stages) {
        StageSetting stage;
        stage.Seconds = seconds;
        stage.Description = description;
        setting.Stages.push_back(stage);
    }
    return setting;
}

} // namespace

char *toString(KeyAction action)
{
    if (action.quit)
        return qstrdup("quit");
    return qstrdup(action.command ? commandRow(*action.command).label : "none");
}

class TestReadout final : public QObject
{
    Q_OBJECT

private slots:
    void twoDigit_padsToTwo_data();
    void twoDigit_padsToTwo();
    void readout_splitsMinutesAndSeconds_data();
    void readout_splitsMinutesAndSeconds();
    void infoText_listsFirstThreeStages_data();
    void infoText_listsFirstThreeStages();
    void helpText_namesVersion();
    void modeReadout_countsDownAndOver_data();
    void modeReadout_countsDownAndOver();
    void keyAction_followsStateAndKey_data();
    void keyAction_followsStateAndKey();
    void catalogue_decidesEachCommandOnce_data();
    void catalogue_decidesEachCommandOnce();
};

void TestReadout::twoDigit_padsToTwo_data()
{
    QTest::addColumn<std::int32_t>("n");
    QTest::addColumn<QString>("text");

    QTest::newRow("0") << 0 << "00";
    QTest::newRow("7") << 7 << "07";
    QTest::newRow("10") << 10 << "10";
    QTest::newRow("99") << 99 << "99";
    QTest::newRow("100") << 100 << "100";
    QTest::newRow("12345") << 12345 << "12345";
    QTest::newRow("-5") << -5 << "-05";
    QTest::newRow("-120") << -120 << "-120";
    QTest::newRow("largest") << std::numeric_limits<std::int32_t>::max() << "2147483647";
    QTest::newRow("smallest") << std::numeric_limits<std::int32_t>::min() << "-2147483648";
}

void TestReadout::twoDigit_padsToTwo()
{
    QFETCH(std::int32_t, n);
    QFETCH(QString, text);
    QCOMPARE(twoDigit(n), text);
}

void TestReadout::readout_splitsMinutesAndSeconds_data()
{
    QTest::addColumn<std::int32_t>("seconds");
    QTest::addColumn<QString>("minutes");
    QTest::addColumn<QString>("rest");
    QTest::addColumn<QString>("caption");

    QTest::newRow("0") << 0 << "00"
                       << "00"
                       << "Kestrim - 00:00";
    QTest::newRow("59") << 59 << "00"
                        << "59"
                        << "Kestrim - 00:59";
    QTest::newRow("60") << 60 << "01"
                        << "00"
                        << "Kestrim - 01:00";
    QTest::newRow("754") << 754 << "12"
                         << "34"
                         << "Kestrim - 12:34";
    QTest::newRow("5999") << 5999 << "99"
                          << "59"
                          << "Kestrim - 99:59";
    QTest::newRow("6000") << 6000 << "100"
                          << "00"
                          << "Kestrim - 100:00";
    QTest::newRow("a whole day") << 86400 << "1440"
                                 << "00"
                                 << "Kestrim - 1440:00";
    QTest::newRow("longest run") << 4294967 << "71582"
                                 << "47"
                                 << "Kestrim - 71582:47";
}

void TestReadout::readout_splitsMinutesAndSeconds()
{
    QFETCH(std::int32_t, seconds);
    QFETCH(QString, minutes);
    QFETCH(QString, rest);
    QFETCH(QString, caption);

    const Readout readout = readoutFor(seconds);
    QCOMPARE(readout.minutes, minutes);
    QCOMPARE(readout.seconds, rest);
    QCOMPARE(minimisedCaption(seconds), caption);
}

void TestReadout::infoText_listsFirstThreeStages_data()
{
    QTest::addColumn<Stages>("stages");
    QTest::addColumn<QString>("text");

    QTest::newRow("defaults") << Stages{{900, QStringLiteral("Presentation")},
                                        {300, QStringLiteral("Conclusion")},
                                        {300, QStringLiteral("Discussion")},
                                        {60, QStringLiteral("Over Time")}}
                              << "15' for Presentation\n5' for Conclusion\n5' for Discussion\n";
    QTest::newRow("whole minute, zero, minute and a half")
        << Stages{{60, QStringLiteral("A")}, {0, QStringLiteral("B")}, {90, QStringLiteral("C")}}
        << "1' for A\n0' for B\n1' 30\" for C\n";
    QTest::newRow("under a minute, an hour, a second short of it")
        << Stages{{45, QStringLiteral("Q")}, {3600, QStringLiteral("Hour")}, {3599, QStringLiteral("Almost")}}
        << "0' 45\" for Q\n60' for Hour\n59' 59\" for Almost\n";
    QTest::newRow("empty description") << Stages{{90, QString()}, {60, QStringLiteral("B")}, {0, QString()}}
                                       << "1' 30\" for \n1' for B\n0' for \n";
    QTest::newRow("negative lengths") << Stages{{-90, QStringLiteral("N1")},
                                                {-30, QStringLiteral("N2")},
                                                {-60, QStringLiteral("N3")}}
                                      << "-1' for N1\n0' for N2\n-1' for N3\n";
    QTest::newRow("one stage") << Stages{{125, QStringLiteral("Only")}} << "2' 5\" for Only\n";
    QTest::newRow("two stages") << Stages{{60, QStringLiteral("A")}, {61, QStringLiteral("B")}}
                                << "1' for A\n1' 1\" for B\n";
    QTest::newRow("no stages") << Stages{} << "";
    QTest::newRow("five stages") << Stages{{60, QStringLiteral("A")},
                                           {60, QStringLiteral("B")},
                                           {60, QStringLiteral("C")},
                                           {60, QStringLiteral("Fourth")},
                                           {60, QStringLiteral("Fifth")}}
                                 << "1' for A\n1' for B\n1' for C\n";
    QTest::newRow("description taken literally")
        << Stages{{60, QStringLiteral("Q&A \"live\" 50%")},
                  {60, QStringLiteral("<b>x</b>")},
                  {60, QStringLiteral("Fragen & Antworten \u00e4")}}
        << QStringLiteral("1' for Q&A \"live\" 50%\n1' for <b>x</b>\n1' for Fragen & Antworten \u00e4\n");
    const QString huge(10'000'000, u'x');
    QTest::newRow("huge description shortened")
        << Stages{{60, huge}}
        << QStringLiteral("1' for ") + huge.first(MaxShownLength) + QChar(0x2026) + QLatin1Char('\n');
    const QString smile = QStringLiteral("\U0001F600");
    const QString pairAtCut = QString(MaxShownLength - 1, u'y') + smile + smile;
    QTest::newRow("no half character at the cut")
        << Stages{{60, pairAtCut}}
        << QStringLiteral("1' for ") + QString(MaxShownLength - 1, u'y') + QChar(0x2026) + QLatin1Char('\n');
    QTest::newRow("extreme lengths") << Stages{{std::numeric_limits<std::int32_t>::max(), QStringLiteral("Max")},
                                               {std::numeric_limits<std::int32_t>::min(), QStringLiteral("Min")}}
                                     << "35791394' 7\" for Max\n-35791394' for Min\n";
}

void TestReadout::infoText_listsFirstThreeStages()
{
    QFETCH(Stages, stages);
    QFETCH(QString, text);
    QCOMPARE(infoText(settingOf(stages)), text);
}

void TestReadout::helpText_namesVersion()
{
    QCOMPARE(helpText(), QStringLiteral("Kestrim Ver.2.00\nA desktop timer for talks.\n"
                                        "Sorry, help files are not available yet."));
}

void TestReadout::keyAction_followsStateAndKey_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<ClockState>("state");
    QTest::addColumn<KeyAction>("action");

    const Qt::KeyboardModifiers none;
    const std::pair<const char *, Qt::KeyboardModifiers> held[] = {
        {"", none},
        {" +Shift", Qt::ShiftModifier},
        {" +Ctrl", Qt::ControlModifier},
        {" +Alt", Qt::AltModifier},
        {" +Ctrl+Alt+Shift+Meta", Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier},
        {" +Keypad", Qt::KeypadModifier},
    };
    const std::pair<const char *, ClockState> states[] = {
        {"Ready", ClockState::Ready}, {"Running", ClockState::Running}, {"Paused", ClockState::Paused}};

    const KeyAction None, Quit{std::nullopt, true}, Add{ClockCommand::AddMinute}, Take{ClockCommand::TakeMinute};
    for (const auto &[stateName, state] : states) {
        const KeyAction space{state == ClockState::Ready     ? ClockCommand::Start
                              : state == ClockState::Running ? ClockCommand::Pause
                                                             : ClockCommand::Reset};
        const KeyAction escape{state == ClockState::Ready     ? ClockCommand::Start
                               : state == ClockState::Running ? ClockCommand::Pause
                                                              : ClockCommand::Continue};
        for (const auto &[heldName, modifiers] : held) {
            QTest::addRow("%s SPACE%s", stateName, heldName) << int(Qt::Key_Space) << modifiers << state << space;
            QTest::addRow("%s ESC%s", stateName, heldName) << int(Qt::Key_Escape) << modifiers << state << escape;
            const KeyAction f4 = modifiers.testFlag(Qt::AltModifier) ? Quit : None;
            QTest::addRow("%s F4%s", stateName, heldName) << int(Qt::Key_F4) << modifiers << state << f4;
            QTest::addRow("%s F3%s", stateName, heldName) << int(Qt::Key_F3) << modifiers << state << None;
            QTest::addRow("%s Return%s", stateName, heldName) << int(Qt::Key_Return) << modifiers << state << None;
            QTest::addRow("%s S%s", stateName, heldName) << int(Qt::Key_S) << modifiers << state << None;
            const bool correctable = state != ClockState::Ready;
            QTest::addRow("%s +%s", stateName, heldName)
                << int(Qt::Key_Plus) << modifiers << state << (correctable ? Add : None);
            QTest::addRow("%s -%s", stateName, heldName)
                << int(Qt::Key_Minus) << modifiers << state << (correctable ? Take : None);
        }
        QTest::addRow("%s Alt alone", stateName)
            << int(Qt::Key_Alt) << Qt::KeyboardModifiers(Qt::AltModifier) << state << None;
    }
}

void TestReadout::keyAction_followsStateAndKey()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(ClockState, state);
    QFETCH(KeyAction, action);
    QCOMPARE(keyAction(key, modifiers, state), action);
}

void TestReadout::modeReadout_countsDownAndOver_data()
{
    QTest::addColumn<ReadOutMode>("mode");
    QTest::addColumn<std::int32_t>("elapsed");
    QTest::addColumn<qint64>("stageEnd");
    QTest::addColumn<qint64>("talk");
    QTest::addColumn<QString>("shown"); // minutes and seconds texts joined by a blank

    const auto elapsed = ReadOutMode::Elapsed, stage = ReadOutMode::StageLeft, talk = ReadOutMode::TalkLeft;
    QTest::newRow("elapsed") << elapsed << 754 << qint64(900) << qint64(1500) << "12 34";
    QTest::newRow("stage left in Ready reads the whole stage") << stage << 0 << qint64(900) << qint64(1500) << "15 00";
    QTest::newRow("stage left, one second in") << stage << 1 << qint64(900) << qint64(1500) << "14 59";
    QTest::newRow("stage left at a repeat's start") << stage << 1560 << qint64(1620) << qint64(1500) << "01 00";
    QTest::newRow("talk left") << talk << 899 << qint64(900) << qint64(1500) << "10 01";
    QTest::newRow("talk left at its end") << talk << 1500 << qint64(1560) << qint64(1500) << "00 00";
    QTest::newRow("one second over") << talk << 1501 << qint64(1560) << qint64(1500) << "-00 01";
    QTest::newRow("a minute five over") << talk << 1565 << qint64(1620) << qint64(1500) << "-01 05";
    QTest::newRow("far over") << talk << std::numeric_limits<std::int32_t>::max() << qint64(1) << qint64(0)
                              << "-35791394 07";
    QTest::newRow("a stage too long for 32 bits") << stage << 0 << (qint64(1) << 40) << qint64(0) << "18325193796 16";
}

void TestReadout::modeReadout_countsDownAndOver()
{
    QFETCH(ReadOutMode, mode);
    QFETCH(std::int32_t, elapsed);
    QFETCH(qint64, stageEnd);
    QFETCH(qint64, talk);
    QFETCH(QString, shown);
    const Readout readout = modeReadout(mode, elapsed, stageEnd, talk);
    QCOMPARE(readout.minutes + QLatin1Char(' ') + readout.seconds, shown);
}

void TestReadout::catalogue_decidesEachCommandOnce_data()
{
    // The commands that lead there from Ready, and the API words then available.
    QTest::addColumn<QList<ClockCommand>>("steps");
    QTest::addColumn<QStringList>("words");
    // In the catalogue's order; these are there in every state.
    const QString tail = QStringLiteral("set-mode flash-on flash-off sound-on sound-off blackout blackout-off");
    const auto with = [&tail](const char *words) { return (QLatin1String(words) + u' ' + tail).split(u' '); };
    using C = ClockCommand;
    const char *paused = "continue reset toggle add-minute take-minute message";
    QTest::newRow("ready") << QList<C>{} << with("start toggle message");
    QTest::newRow("running") << QList<C>{C::Start} << with("pause toggle add-minute take-minute message");
    QTest::newRow("paused") << QList<C>{C::Start, C::Pause} << with(paused);
    QTest::newRow("reset") << QList<C>{C::Start, C::Pause, C::Reset} << with("start undo-reset toggle message");
    QTest::newRow("undone") << QList<C>{C::Start, C::Pause, C::Reset, C::UndoReset} << with(paused);
    QTest::newRow("toggled twice") << QList<C>{C::Toggle, C::Toggle} << with(paused);
    QTest::newRow("a message") << QList<C>{C::ShowMessage} << with("start toggle message clear-message");
    QTest::newRow("blackout, then running")
        << QList<C>{C::BlackoutOn, C::Start} << with("pause toggle add-minute take-minute message");
}

void TestReadout::catalogue_decidesEachCommandOnce()
{
    QFETCH(QList<ClockCommand>, steps);
    QFETCH(QStringList, words);
    FakeTickCounter ticks(1000);
    FakeSoundPlayer sound;
    ClockSession session(ticks, sound);
    session.setSetting(settingOf({{600, QStringLiteral("Talk")}, {60, QStringLiteral("Over")}}));
    session.ClearTimer();
    const auto argument = [](ClockCommand command) {
        const CommandArgument kind = commandRow(command).argument;
        return kind == CommandArgument::Text   ? QStringLiteral("Wrap up")
               : kind == CommandArgument::Mode ? QStringLiteral("TalkLeft")
                                               : QString();
    };
    for (ClockCommand step : steps) {
        ticks.advance(1500);
        session.Timer_Timer();
        QVERIFY(!session.perform(step, argument(step)));
    }
    const ClockSnapshot now = session.snapshot();
    QCOMPARE(now.available.words(), words);
    // Every way in asks the same row: a command is refused exactly when the snapshot says it is not available,
    // and a refused one changes nothing.
    for (const CommandRow &row : CommandCatalogue) {
        QCOMPARE(commandRow(row.command).command, row.command);
        const std::optional<QString> refused = session.refusal(row.command, argument(row.command));
        QCOMPARE(refused.has_value(), !now.available.contains(row.command));
        if (refused) {
            QCOMPARE(*session.perform(row.command, argument(row.command)), *refused);
            QCOMPARE(session.snapshot().revision, now.revision);
        }
    }
    QCOMPARE(now.available.contains(ClockCommand::Options), now.state != ClockState::Running);
    // An argument that is not one is refused even where the command is available.
    QVERIFY(session.refusal(ClockCommand::SetMode, QStringLiteral("Sideways")));
    QVERIFY(session.refusal(ClockCommand::ShowMessage, QStringLiteral("  ")));
}

QTEST_GUILESS_MAIN(TestReadout)
#include "tst_readout.moc"
