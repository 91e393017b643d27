#include "clock/clocksession.h"
#include "clock/readout.h"
#include "platform/filestore.h"
#include "programme/csvtext.h"
#include "programme/programmecsv.h"
#include "programme/programmereport.h"
#include "programme/programmesession.h"
#include "programme/programmestore.h"
#include "programme/schedule.h"
#include "settings/persistence.h"
#include "support/fakes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <limits>
#include <sys/stat.h>

Q_DECLARE_METATYPE(std::vector<Talk>)

namespace {

const QDate Day(2024, 5, 6);

// "09:05", "09:05:30", or "+1 00:10" for the next day.
QDateTime at(QString text)
{
    int days = 0;
    if (text.startsWith(u'+')) {
        days = text.mid(1, 1).toInt();
        text = text.mid(3);
    }
    return QDateTime(Day.addDays(days), QTime::fromString(text, text.size() == 5 ? u"HH:mm" : u"HH:mm:ss"));
}

QString shownAt(const QDateTime &moment)
{
    const QDateTime time = moment.toLocalTime();
    const qint64 days = Day.daysTo(time.date());
    const QString clock = time.toString(time.time().second() ? u"HH:mm:ss" : u"HH:mm");
    return days ? QStringLiteral("+%1 %2").arg(days).arg(clock) : clock;
}

ClockSetting stagePlan(const QStringList &stages = {})
{
    ClockSetting plan = DefaultClockSetting(QStringLiteral("/opt/kestrim"));
    if (!stages.isEmpty())
        plan.Stages.resize(static_cast<std::size_t>(stages.size()));
    for (qsizetype i = 0; i < stages.size(); ++i) {
        plan.Stages[static_cast<std::size_t>(i)].Description = stages[i].section(u'=', 0, 0);
        plan.Stages[static_cast<std::size_t>(i)].Seconds = stages[i].section(u'=', 1).toInt();
    }
    return plan;
}

Talk talk(const QString &title, const QString &speaker = {}, const QString &start = {},
          std::vector<std::int32_t> lengths = {})
{
    return Talk{title, speaker, parseTimeOfDay(start), std::move(lengths), {}};
}

// "title|speaker|start|lengths", one talk a line, for readable comparisons.
QString summary(const std::vector<Talk> &talks)
{
    QStringList lines;
    for (const Talk &t : talks) {
        QStringList lengths;
        for (std::int32_t s : t.lengths)
            lengths.append(QString::number(s));
        lines.append(QStringList{t.title, t.speaker, formatTimeOfDay(t.start), lengths.join(u',')}.join(u'|'));
    }
    return lines.join(u'\n');
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

QString writeSettingsFile(const QByteArray &data)
{
    const QString path = FileStore::fileFor(QStringLiteral("Kestrim"));
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        qFatal("cannot write the test's settings file");
    return path;
}

} // namespace

class ProgrammeTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void durations_data();
    void durations();
    void talkClockSetting_takesTheTalksOwnLengths();

    void schedule_data();
    void schedule();
    void texts_data();
    void texts();

    void loadBadValue_failsNamingTheKey_data();
    void loadBadValue_failsNamingTheKey();
    void saveThenLoad_keepsEveryValueAndRemovesWhatWent();
    void fileStore_keepsHandEditedLinesAndTouchesNothingWithoutAProgramme();
    void loadTwoHundredTalks_isCheap();

    void importCsv_data();
    void importCsv();
    void exportCsv_readsBackAsTheSameTalks_data();
    void exportCsv_readsBackAsTheSameTalks();
    void report_givesEveryTalkAndTheSession();
    void session_recordsEachTalkAndComesBackAfterARestart();
    void session_withoutAProgramme_timesThePlanAndWritesNothing();
    void setProgramme_neverStopsARunningClock_data();
    void setProgramme_neverStopsARunningClock();
};

void ProgrammeTest::initTestCase()
{
    // Not UTC, and with daylight saving time: a time shown or compared in the wrong zone shows.
    qputenv("TZ", "Europe/Berlin");
    tzset();
    QCOMPARE(QDateTime(Day, QTime(12, 0)).offsetFromUtc(), 2 * 3600);
}

void ProgrammeTest::durations_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("seconds"); // -1: refused
    QTest::addColumn<QString>("shortest");

    QTest::newRow("whole minutes") << " 20\t" << qint64(1200) << "20";
    QTest::newRow("minutes and seconds") << "12:30" << qint64(750) << "12:30";
    QTest::newRow("minutes beyond the hour") << "90:00" << qint64(5400) << "1:30:00";
    QTest::newRow("hours") << "1:05:07" << qint64(3907) << "1:05:07";
    QTest::newRow("spreadsheet duration") << "00:20:00" << qint64(1200) << "20";
    QTest::newRow("zero") << "0:00" << qint64(0) << "0";
    for (const char *bad :
         {"12:3", "12:60", "1:60:00", "1:5:00", "1:00:00:00", "-5", "20.5", "", "1::00", "1234567", "\uFF12\uFF10"})
        QTest::addRow("refused: \"%s\"", bad) << QString::fromUtf8(bad) << qint64(-1) << QString();
}

void ProgrammeTest::durations()
{
    QFETCH(QString, text);
    QFETCH(qint64, seconds);
    QFETCH(QString, shortest);

    const std::optional<std::int64_t> parsed = parseDuration(text);
    QCOMPARE(qint64(parsed.value_or(-1)), seconds);
    if (parsed) {
        QCOMPARE(formatDuration(*parsed), shortest);
        QCOMPARE(parseDuration(formatDuration(*parsed)), parsed);
        QCOMPARE(formatDuration(-*parsed - 1).front(), u'-');
    }
}

void ProgrammeTest::talkClockSetting_takesTheTalksOwnLengths()
{
    const ClockSetting plan = stagePlan(); // 900, 300, 300, 60 repeating
    QCOMPARE(talkSeconds(plan, talk(QStringLiteral("as planned"))), 1500);
    const Talk own = talk(QStringLiteral("own"), {}, {}, {1200, 0, 600, 30, 99});
    const ClockSetting timed = talkClockSetting(plan, own);
    QCOMPARE(timed.Count(), 4);
    QCOMPARE(timed.stage(4).Seconds, 30);
    QCOMPARE(timed.stage(2).Description, plan.stage(2).Description);
    QCOMPARE(talkSeconds(plan, own), 1800);
    QCOMPARE(talkSeconds(stagePlan({QStringLiteral("Only=600")}), own), 1200);
    // Summed without a copy of the plan, as the clock sums the setting it is given.
    for (const ClockSetting &p :
         {plan, stagePlan({QStringLiteral("Only=600")}), stagePlan({"A=60", "B=30"}), ClockSetting{}})
        QCOMPARE(talkSeconds(p, own), talkLength(talkClockSetting(p, own)));

    Programme programme{{own, talk(QStringLiteral("short"), {}, {}, {60})}, {}, 1};
    fitLengthsToPlan(programme, stagePlan({QStringLiteral("A=1"), QStringLiteral("B=2")}));
    QCOMPARE(summary(programme.talks), QStringLiteral("own|||1200,0\nshort|||60"));
}

void ProgrammeTest::schedule_data()
{
    // "session start | talks: minutes, or fixed start=minutes | records: talk@started+elapsed | the clock:
    // current talk, state, elapsed seconds, now"; each talk is timed by stage 1 alone.
    QTest::addColumn<QString>("input");
    // "offset in seconds | expected starts | expected end | planned end".
    QTest::addColumn<QString>("expected");

    QTest::newRow("ready before the planned start")
        << "09:00 | 20 20 20 | | 1 Ready 0 08:50" << QString("0 | 09:00 09:20 09:40 | 10:00 | 10:00");
    QTest::newRow("ready after the planned start")
        << "09:00 | 20 20 20 | | 1 Ready 0 09:05" << QString("300 | 09:05 09:25 09:45 | 10:05 | 10:00");
    QTest::newRow("running ahead") << "09:00 | 20 20 20 | 1@08:55:00 | 1 Running 600 09:05"
                                   << QString("-300 | 08:55 09:15 09:35 | 09:55 | 10:00");
    QTest::newRow("running over its length")
        << "09:00 | 20 20 20 | 1@09:00:00 | 1 Running 1500 09:25" << QString("300 | 09:00 09:25 09:45 | 10:05 | 10:00");
    QTest::newRow("paused: the end moves on")
        << "09:00 | 20 20 20 | 1@09:00:00 | 1 Paused 600 09:20" << QString("600 | 09:00 09:30 09:50 | 10:10 | 10:00");
    QTest::newRow("a minute added while paused")
        << "09:00 | 20 20 20 | 1@09:00:00 | 1 Paused 660 09:20" << QString("540 | 09:00 09:29 09:49 | 10:09 | 10:00");
    QTest::newRow("a fixed start absorbs an overrun") << "09:00 | 20 20 10:00=20 | 1@09:00:00 | 1 Running 1800 09:30"
                                                      << QString("600 | 09:00 09:30 10:00 | 10:20 | 10:20");
    QTest::newRow("an overrun past the fixed start") << "09:00 | 20 20 10:00=20 | 1@09:00:00 | 1 Running 3000 09:50"
                                                     << QString("1800 | 09:00 09:50 10:10 | 10:30 | 10:20");
    QTest::newRow("done talks keep their records")
        << "09:00 | 20 20 20 | 1@09:01:00+1500 | 2 Ready 0 09:26" << QString("360 | 09:01 09:26 09:46 | 10:06 | 10:00");
    QTest::newRow("done early, ready until the planned start")
        << "09:00 | 20 20 20 | 1@09:00:00+900 | 2 Ready 0 09:16" << QString("0 | 09:00 09:20 09:40 | 10:00 | 10:00");
    QTest::newRow("records of an earlier day, the programme run again")
        << "09:00 | 20 20 20 | 1@09:00:00+1200 | 2 Ready 0 +2 09:10"
        << QString("0 | 09:00 +2 09:20 +2 09:40 | +2 10:00 | +2 10:00");
    QTest::newRow("past midnight") << "23:30 | 30 00:15=20 | 1@23:40:00 | 1 Running 1500 +1 00:05"
                                   << QString("600 | 23:40 +1 00:15 | +1 00:35 | +1 00:35");
    QTest::newRow("the evening before") << "09:00 | 20 | | 1 Ready 0 22:00"
                                        << QString("0 | +1 09:00 | +1 09:20 | +1 09:20");
    QTest::newRow("a fixed start overlapping the talk before")
        << "09:00 | 30 09:20=20 | | 1 Ready 0 08:00" << QString("0 | 09:00 09:30 | 09:50 | 09:40");
    QTest::newRow("no planned time at all")
        << "- | 20 20 | | 1 Running 300 09:05" << QString("none | 09:00 09:20 | 09:40 | none");
    QTest::newRow("only a later talk has a start")
        << "- | 20 10:00=20 | | 1 Running 300 09:05" << QString("none | 09:00 10:00 | 10:20 | 10:20");
    QTest::newRow("that talk ready and late")
        << "- | 20 10:00=20 | 1@09:00:00+1200 | 2 Ready 0 10:03" << QString("180 | 09:00 10:03 | 10:23 | 10:20");
}

void ProgrammeTest::schedule()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);

    QStringList parts = input.split(u'|');
    for (QString &part : parts)
        part = part.trimmed();
    const ClockSetting plan = stagePlan({QStringLiteral("Talk=1200"), QStringLiteral("Over=60")});
    Programme programme;
    programme.sessionStart = parseTimeOfDay(parts[0]);
    for (const QString &t : parts[1].split(u' '))
        programme.talks.push_back(talk({}, {}, t.section(u'=', -2, -2), {t.section(u'=', -1).toInt() * 60}));
    for (const QString &r : parts[2].split(u' ', Qt::SkipEmptyParts)) {
        TalkRecord &record = programme.talk(r.section(u'@', 0, 0).toInt()).record;
        record.started = at(r.section(u'@', 1).section(u'+', 0, 0));
        if (r.contains(u'+'))
            record.elapsed = r.section(u'+', 1).toInt();
    }
    const QStringList clock = parts[3].split(u' ');
    programme.current = clock[0].toInt();
    const ClockState state = clock[1] == u"Ready"    ? ClockState::Ready
                             : clock[1] == u"Paused" ? ClockState::Paused
                                                     : ClockState::Running;

    const Schedule s = computeSchedule(programme, plan, {state, clock[2].toInt()}, at(parts[3].section(u' ', 3)));
    QStringList starts;
    for (const TalkTimes &times : s.talks) {
        starts.append(shownAt(times.expectedStart));
        QVERIFY(times.expectedEnd >= times.expectedStart);
        QCOMPARE(times.done, &times - s.talks.data() + 1 < programme.current);
        QCOMPARE(times.actualLength.has_value(), times.done && programme.talks[&times - s.talks.data()].record.elapsed);
    }
    const auto shown = [](const std::optional<QDateTime> &t) { return t ? shownAt(*t) : QStringLiteral("none"); };
    QCOMPARE(QStringList({s.offset ? QString::number(*s.offset) : QStringLiteral("none"), starts.join(u' '),
                          shownAt(s.expectedEnd), shown(s.plannedEnd)})
                 .join(QStringLiteral(" | ")),
             expected);
    QCOMPARE(s.expectedEnd, s.talks.back().expectedEnd);
}

void ProgrammeTest::texts_data()
{
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<QString>("text");

    QTest::newRow("on time") << qint64(0) << "On time";
    QTest::newRow("59 s behind") << qint64(59) << "On time";
    QTest::newRow("59 s ahead") << qint64(-59) << "On time";
    QTest::newRow("a minute behind") << qint64(60) << "Behind 1 min";
    QTest::newRow("89 s behind") << qint64(89) << "Behind 1 min";
    QTest::newRow("90 s behind") << qint64(90) << "Behind 2 min";
    QTest::newRow("150 s ahead") << qint64(-150) << "Ahead 3 min";
    QTest::newRow("59 min 29 s behind") << qint64(59 * 60 + 29) << "Behind 59 min";
    QTest::newRow("59 min 30 s behind") << qint64(59 * 60 + 30) << "Behind 1 h";
    QTest::newRow("80 min behind") << qint64(80 * 60) << "Behind 1 h 20 min";
    QTest::newRow("300 min ahead") << qint64(-300 * 60) << "Ahead 5 h";
    QTest::newRow("the most ahead there is") << std::numeric_limits<qint64>::min() << "Ahead 2562047788015215 h 30 min";
}

void ProgrammeTest::texts()
{
    QFETCH(qint64, offset);
    QFETCH(QString, text);
    QCOMPARE(offsetText(offset), text);
    QCOMPARE(offsetText(std::nullopt), QString());
    QCOMPARE(talkNumberText(2, 5), QStringLiteral("Talk 2 of 5"));
    QCOMPARE(endsText(at(QStringLiteral("10:34:59")).toUTC()), QStringLiteral("Ends 10:34"));
    QCOMPARE(endsText(QDateTime()), QString());
}

void ProgrammeTest::loadBadValue_failsNamingTheKey_data()
{
    QTest::addColumn<QString>("entry"); // "Key=text expects words of the message"

    QTest::newRow("too many talks") << "Count=201 expects from 0 to 200";
    QTest::newRow("session start with a dot") << "SessionStart=9.00 expects HH:MM";
    QTest::newRow("current 0") << "Current=0 expects from 1 to 3";
    QTest::newRow("current beyond the talks") << "Current=4 expects from 1 to 3";
    QTest::newRow("current empty") << "Current= expects from 1 to 3";
    QTest::newRow("long title") << "Title2=" + QString(201, u'x') + " expects at most 200 characters";
    QTest::newRow("long speaker") << "Speaker3=" + QString(201, u'x') + " expects at most 200 characters";
    QTest::newRow("start without its zero") << "Start3=9:5 expects HH:MM";
    QTest::newRow("start at 24 o'clock") << "Start3=24:00 expects HH:MM";
    QTest::newRow("start with seconds") << "Start3=09:00:00 expects HH:MM";
    QTest::newRow("start of three digits") << "Start2=009:60 expects HH:MM";
    QTest::newRow("more lengths than stages") << "Lengths1=900,300,300,60,5 expects at most the 4 stages";
    QTest::newRow("stage of ten hours") << "Lengths1=36000 expects from 0 to 35999";
    QTest::newRow("empty stage between") << "Lengths2=900,,300 expects separated by commas";
    QTest::newRow("comma at the end") << "Lengths2=900, expects separated by commas";
    QTest::newRow("minutes, not seconds") << "Lengths2=15:00 expects whole seconds";
    QTest::newRow("started with a space") << "Started1=2024-05-06 09:00:00 expects YYYY-MM-DDTHH:MM:SS";
    QTest::newRow("started on 30 February") << "Started1=2024-02-30T09:00:00 expects YYYY-MM-DDTHH:MM:SS";
    QTest::newRow("started without seconds") << "Started1=2024-05-06T09:00 expects YYYY-MM-DDTHH:MM:SS";
    QTest::newRow("started in the hour spring skips") << "Started1=2024-03-31T02:30:00 expects YYYY-MM-DDTHH:MM:SS";
    QTest::newRow("negative elapsed") << "Elapsed1=-5 expects seconds from 0";
    QTest::newRow("elapsed with a fraction") << "Elapsed1=1.5 expects seconds from 0";
}

void ProgrammeTest::loadBadValue_failsNamingTheKey()
{
    QFETCH(QString, entry);
    const QString key = entry.section(u'=', 0, 0);
    const QString value = entry.section(u'=', 1).section(QStringLiteral(" expects "), 0, 0);
    const QString expected = entry.section(QStringLiteral(" expects "), 1);

    MapStore store;
    const QString p = QStringLiteral("Programme");
    for (const char *good : {"Count=3", "SessionStart=9:00", "Current=2", "Title1=A", "Lengths1= 1200 , 60 ",
                             "Started1=2024-05-06T09:00:00", "Elapsed1=1500"})
        store.set(p, QString::fromLatin1(good).section(u'=', 0, 0), QString::fromLatin1(good).section(u'=', 1));
    const ClockSetting plan = stagePlan();
    QCOMPARE(LoadProgramme(store, plan).count(), 3); // the rest is good

    store.set(p, key, value);
    try {
        LoadProgramme(store, plan);
        QFAIL("the value was accepted");
    } catch (const StoredValueError &error) {
        QCOMPARE(error.section(), p);
        QCOMPARE(error.key(), key);
        QCOMPARE(error.text(), value);
        QVERIFY2(error.expected().contains(expected), qPrintable(error.message()));
        QVERIFY(error.message().contains(QStringLiteral("[Programme] %1 = \"").arg(key)));
    }
}

void ProgrammeTest::saveThenLoad_keepsEveryValueAndRemovesWhatWent()
{
    const ClockSetting plan = stagePlan();
    MapStore store;
    Programme programme;
    programme.sessionStart = QTime(23, 30);
    programme.current = 3;
    programme.talks = {talk(QStringLiteral("Opening, \"and\" welcome"), QStringLiteral("Ann"), {}, {1200, 0}),
                       talk(QStringLiteral("Break")),
                       talk(QString(200, u'\u00e9'), {}, QStringLiteral("00:15"), {1, 2, 3, 4}),
                       talk(QStringLiteral("Last"), QStringLiteral("Bo\nb"))};
    programme.talk(1).record = {at(QStringLiteral("23:31:05")), 1500};
    programme.talk(2).record.started = at(QStringLiteral("23:59:59"));
    programme.talk(3).record.elapsed = 0;
    SaveProgramme(programme, store);
    QCOMPARE(LoadProgramme(store, plan), programme);
    QVERIFY(!store.get(QStringLiteral("Programme"), QStringLiteral("Speaker2"))); // empty: not written

    programme.current = 1;
    programme.talk(2).record = {};
    SaveProgrammeCurrent(programme, store);
    SaveTalkRecord(programme, 2, store);
    QCOMPARE(LoadProgramme(store, plan), programme);

    programme.talks.resize(1);
    SaveProgramme(programme, store);
    QCOMPARE(LoadProgramme(store, plan), programme);
    for (const QString &key : store.values.keys())
        QVERIFY2(!key.endsWith(u'2') && !key.endsWith(u'3') && !key.endsWith(u'4'), qPrintable(key));
    SaveProgramme(Programme(), store);
    QCOMPARE(store.values.keys(), QStringList());

    // Around the changes of daylight saving time: either side of spring's gap, and the hour autumn repeats.
    const QString p = QStringLiteral("Programme");
    for (const char *started : {"2024-03-31T01:59:59", "2024-03-31T03:00:00", "2024-10-27T02:30:00"}) {
        MapStore edited, again;
        edited.set(p, QStringLiteral("Count"), QStringLiteral("1"));
        edited.set(p, QStringLiteral("Started1"), QLatin1String(started));
        const Programme loaded = LoadProgramme(edited, plan);
        QCOMPARE(loaded.talk(1).record.started->toLocalTime().toString(Qt::ISODate), QLatin1String(started));
        SaveProgramme(loaded, again);
        QCOMPARE(again.get(p, QStringLiteral("Started1")), QLatin1String(started));
    }
}

void ProgrammeTest::fileStore_keepsHandEditedLinesAndTouchesNothingWithoutAProgramme()
{
    const QByteArray settings = "; edited by hand\n[Stages]\nCount=4\n\n[Window]\nLeft=10\n";
    const QString path = writeSettingsFile(settings);
    const auto inode = [&path] {
        struct stat status = {};
        return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
    };
    const auto before = inode();
    const ClockSetting plan = stagePlan();
    {
        FileStore store;
        const Programme none = LoadProgramme(store, plan);
        QVERIFY(none.empty());
        SaveProgramme(none, store);
        SaveProgrammeCurrent(none, store);
        SaveTalkRecord(none, 1, store);
        QCOMPARE(store.sync(), std::nullopt);
    }
    QCOMPARE(readFile(path), settings);
    QCOMPARE(inode(), before);

    const QByteArray programme = "[Programme]\nCount = 2 ; two\nSessionStart= 9:00\nTitle1=\"Opening\"\n"
                                 "Lengths1 = 1200 , 60\nElapsed1= 1500\nTitle2=Close\nStart2=10:00\n";
    writeSettingsFile(settings + programme);
    FileStore store;
    Programme loaded = LoadProgramme(store, plan);
    QCOMPARE(summary(loaded.talks), QStringLiteral("Opening|||1200,60\nClose||10:00|"));
    QCOMPARE(loaded.sessionStart, QTime(9, 0));

    SaveProgramme(loaded, store); // every stored text already reads as its value
    loaded.current = 2;
    SaveProgrammeCurrent(loaded, store);
    loaded.talk(2).record.started = at(QStringLiteral("10:01:02"));
    SaveTalkRecord(loaded, 2, store);
    QCOMPARE(store.sync(), std::nullopt);
    QCOMPARE(readFile(path), settings + programme + "Current=2\nStarted2=2024-05-06T10:01:02\n");

    loaded.talks.resize(1);
    loaded.current = 1;
    SaveProgramme(loaded, store);
    QCOMPARE(store.sync(), std::nullopt);
    QCOMPARE(readFile(path), settings + "[Programme]\nCount=1; two\nSessionStart= 9:00\nTitle1=\"Opening\"\n"
                                        "Lengths1 = 1200 , 60\nElapsed1= 1500\nCurrent=1\n");
}

void ProgrammeTest::loadTwoHundredTalks_isCheap()
{
    const ClockSetting plan = stagePlan();
    // The fastest of a few loads of `count` talks from the real file, read and parsed afresh as at start-up.
    const auto fastestLoad = [&plan](int count) {
        Programme programme;
        programme.sessionStart = QTime(9, 0);
        for (int n = 1; n <= count; ++n) {
            programme.talks.push_back(talk(QStringLiteral("A talk of a long session, number %1").arg(n),
                                           QStringLiteral("Speaker %1").arg(n), {}, {1200, 300}));
            programme.talks.back().record = {at(QStringLiteral("09:00:00")).addSecs(n * 60), 1500};
        }
        writeSettingsFile(QByteArray());
        {
            FileStore store;
            SaveProgramme(programme, store);
        } // saved as the store ends
        qint64 fastest = std::numeric_limits<qint64>::max();
        for (int run = 0; run < 7; ++run) {
            QElapsedTimer timer;
            timer.start();
            const Programme loaded = LoadProgramme(FileStore(), plan);
            fastest = std::min(fastest, timer.nsecsElapsed());
            if (loaded != programme)
                qFatal("the programme did not load as saved");
        }
        return fastest;
    };
    // Start-up shows the window in about 90 ms and may grow by 5 % at most; the largest programme takes
    // about 1 ms of an optimised build, 5 ms of a debug one. The bound leaves room for the sanitizers and a
    // busy machine; a reader that grows with the square of the programme fails the ratio (about 10 when linear,
    // 100 when square; 40 leaves a busy machine's noise room).
    const qint64 small = fastestLoad(20);
    const qint64 largest = fastestLoad(MaxTalks);
    const QString shown = QStringLiteral("20 talks %1 us, 200 talks %2 us").arg(small / 1000).arg(largest / 1000);
    QVERIFY2(largest < 50'000'000 && largest < 40 * small, qPrintable(shown));

    MapStore counted;
    counted.set(QStringLiteral("Programme"), QStringLiteral("Count"), QStringLiteral("200"));
    LoadProgramme(counted, plan);
    QCOMPARE(counted.reads, 3 + 6 * MaxTalks); // one read a key
}

void ProgrammeTest::importCsv_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("plan"); // "Description=seconds" per stage; empty: the built-in four
    QTest::addColumn<QString>("result");   // summary() of the talks read, or "refused: " and words of the message

    const QStringList builtIn;
    QTest::newRow("comma") << QByteArray("Title,Speaker,Start\nOpening,Ann,9:00\nBreak,,\n") << builtIn
                           << "Opening|Ann|09:00|\nBreak|||";
    QTest::newRow("semicolon, BOM, CRLF, any case and order")
        << QByteArray("\xEF\xBB\xBFstart;SPEAKER; title \r\n09:30;\"Doe; Jane\";Keynote\r\n") << builtIn
        << "Keynote|Doe; Jane|09:30|";
    QTest::newRow("CR line ends, spreadsheet times")
        << QByteArray("Title,Start\rA,09:00:00\rB,13:05:00\r") << builtIn << "A||09:00|\nB||13:05|";
    QTest::newRow("stages by description, gap filled from the plan")
        << QByteArray("Title,discussion,Presentation\nA,10,12:30\nB,,\nC,,1:00:00\n") << builtIn
        << "A|||750,300,600\nB|||\nC|||3600";
    QTest::newRow("stages by number") << QByteArray("Title,Stage 2,stage4\nA,1,0:30\n") << builtIn
                                      << "A|||900,60,300,30";
    QTest::newRow("length: stage 1 gets what the others leave")
        << QByteArray("Title,Length,Conclusion\nA,30,10\nB,0:30:00,\nC,20,\n") << builtIn
        << "A|||900,600\nB|||1200\nC|||600";
    QTest::newRow("length of a talk of one stage")
        << QByteArray("Title,Length\nA,45\n") << QStringList{"Talk=600"} << "A|||2700";
    QTest::newRow("quotes, doubled quotes, line breaks in a cell")
        << QByteArray("Title,Speaker\n\"On \"\"Time\"\", \nand more\" , \"\"\n") << builtIn
        << "On \"Time\", \nand more|||";
    QTest::newRow("blank rows and padding skipped")
        << QByteArray("\n;;\nTitle;Speaker;;\n\n;;;\nA;Ann;;\n \t\n") << builtIn << "A|Ann||";
    QTest::newRow("a quoted empty title is a talk") << QByteArray("Title\n\"\"\n") << builtIn << "|||";

    QTest::newRow("larger than 1 MiB") << "Title\n" + QByteArray(MaxProgrammeCsvBytes, 'x') << builtIn
                                       << "refused: the file is larger than 1 MiB";
    QTest::newRow("not UTF-8") << QByteArray("Title\nA\n\xC3(\n") << builtIn
                               << "refused: line 3: the text is not UTF-8";
    QTest::newRow("UTF-8 cut short at the end")
        << QByteArray("Title\nA\n\xE2\x82") << builtIn << "refused: line 3: the text is not UTF-8";
    QTest::newRow("UTF-8 of a surrogate")
        << QByteArray("Title\r\nA\r\n\xED\xA0\x80\r\n") << builtIn << "refused: line 3: the text is not UTF-8";
    QTest::newRow("quote never closed") << QByteArray("Title,Speaker\nA,\"Ann\nB,Bo\n") << builtIn
                                        << "refused: line 2, column 2 (Speaker): a quote that is never closed";
    QTest::newRow("text after the closing quote") << QByteArray("Title\n\"A\"B\n") << builtIn
                                                  << "refused: line 2, column 1 (Title): text after the closing quote";
    QTest::newRow("quote inside an unquoted cell")
        << QByteArray("Title\nThe \"best\"\n") << builtIn << "refused: line 2, column 1 (Title): a quote inside a cell";
    QTest::newRow("unknown column") << QByteArray("Title,Speaker,Notes\n") << builtIn
                                    << "refused: line 1, column 3 (Notes): \"Notes\" is not a column";
    QTest::newRow("column twice") << QByteArray("Title,Stage 1,presentation\n") << builtIn
                                  << "refused: line 1, column 3 (presentation): names what column 2 names";
    QTest::newRow("no title column") << QByteArray("Speaker\nAnn\n") << builtIn
                                     << "refused: line 1: the header row has no Title column";
    QTest::newRow("length and stage 1") << QByteArray("Title,Length,Presentation\n") << builtIn
                                        << "refused: line 1, column 3 (Presentation): both this column and Length";
    QTest::newRow("a stage that is not there")
        << QByteArray("Title,Stage 5\n") << builtIn << "refused: names no stage: the plan has stages 1 to 4";
    QTest::newRow("a description two stages share")
        << QByteArray("Title,Questions\n") << QStringList{"Talk=600", "Questions=300", "Questions=300", "Over=60"}
        << "refused: describes both stage 2 and stage 3";
    QTest::newRow("length shorter than the other stages")
        << QByteArray("Title,Length\nA,20\nB,9:59\n") << builtIn
        << "refused: line 3, column 2 (Length): 9:59 is shorter than the talk's other stages (10)";
    QTest::newRow("length leaving stage 1 too long") << QByteArray("Title,Length\nA,11:00:00\n") << builtIn
                                                     << "refused: line 2, column 2 (Length): 11:00:00 leaves stage 1";
    QTest::newRow("stage of ten hours") << QByteArray("Title,Conclusion\nA,10:00:00\n") << builtIn
                                        << "refused: \"10:00:00\" is longer than a stage can be";
    QTest::newRow("length with a fraction") << QByteArray("Title,Length\nA,20.5\n") << builtIn
                                            << "refused: line 2, column 2 (Length): \"20.5\" is not a length";
    QTest::newRow("start with a dot") << QByteArray("Title,Start\nA,9.30\n") << builtIn
                                      << "refused: line 2, column 2 (Start): \"9.30\" is not a time of day";
    QTest::newRow("long title") << "Title\n" + QByteArray(201, 'x') << builtIn
                                << "refused: line 2, column 1 (Title): longer than 200 characters";
    QTest::newRow("a value beyond the header") << QByteArray("Title,Start,\nA,9:00,x\n") << builtIn
                                               << "refused: line 2, column 3: \"x\" stands in a column the header";
    QTest::newRow("201 talks") << "Title\n" + QByteArray("A\n").repeated(201) << builtIn
                               << "refused: line 202: more than 200 talks";
    QTest::newRow("only the header") << QByteArray("Title,Speaker\r\n\r\n") << builtIn
                                     << "refused: the file has no talks";
    QTest::newRow("empty file") << QByteArray("\xEF\xBB\xBF") << builtIn << "refused: the file has no header row";
}

void ProgrammeTest::importCsv()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, plan);
    QFETCH(QString, result);

    const ProgrammeCsvImport read = importProgrammeCsv(file, stagePlan(plan));
    if (result.startsWith(QStringLiteral("refused: "))) {
        QVERIFY(read.error && read.talks.empty());
        QVERIFY2(read.error->message().contains(result.mid(9)), qPrintable(read.error->message()));
    } else {
        QVERIFY2(!read.error, qPrintable(read.error.value_or(CsvImportError{}).message()));
        QCOMPARE(summary(read.talks), result);
        const QByteArray exported = exportProgrammeCsv(read.talks, stagePlan(plan));
        QCOMPARE(summary(importProgrammeCsv(exported, stagePlan(plan)).talks), result);
    }
}

void ProgrammeTest::exportCsv_readsBackAsTheSameTalks_data()
{
    QTest::addColumn<std::vector<Talk>>("talks");
    QTest::addColumn<QStringList>("plan");

    QTest::newRow("texts that need quotes")
        << std::vector<Talk>{talk(QStringLiteral(" Blank, around "), QStringLiteral("O\"Neil; Jr."),
                                  QStringLiteral("9:00")),
                             talk(QStringLiteral("Two\r\nlines\r"), QStringLiteral("\u00e9\u4e2d\U0001F600")), talk({})}
        << QStringList();
    QTest::newRow("lengths of different counts")
        << std::vector<Talk>{talk(QStringLiteral("A"), {}, {}, {0, 35999, 61}),
                             talk(QStringLiteral("B"), {}, {}, {3600}),
                             talk(QStringLiteral("C"), {}, QStringLiteral("23:59"), {1, 2, 3, 4})}
        << QStringList();
    QTest::newRow("descriptions that cannot name their column")
        << std::vector<Talk>{talk(QStringLiteral("A"), {}, {}, {1, 2, 3, 4, 5, 6})}
        << QStringList{"Length=60", "=60", "Same=60", " same =60", "Stage 1=60", "Fine=60"};
}

void ProgrammeTest::exportCsv_readsBackAsTheSameTalks()
{
    QFETCH(std::vector<Talk>, talks);
    QFETCH(QStringList, plan);

    std::vector<Talk> recorded = talks;
    recorded.front().record = {at(QStringLiteral("09:00:00")), 60};
    const QByteArray file = exportProgrammeCsv(recorded, stagePlan(plan));
    const ProgrammeCsvImport read = importProgrammeCsv(file, stagePlan(plan));
    QVERIFY2(!read.error, qPrintable(read.error.value_or(CsvImportError{}).message()));
    QCOMPARE(summary(read.talks), summary(talks));
    QVERIFY(read.talks == talks);
    QCOMPARE(exportProgrammeCsv(read.talks, stagePlan(plan)), file);
    if (plan.isEmpty())
        QVERIFY(file.startsWith(talks.front().lengths.empty() ? "Title,Speaker,Start\r\n"
                                                              : "Title,Speaker,Start,Presentation,Conclusion,"));
}

void ProgrammeTest::report_givesEveryTalkAndTheSession()
{
    const ClockSetting plan = stagePlan({QStringLiteral("Talk=1200"), QStringLiteral("Over=60")});
    Programme programme;
    programme.sessionStart = QTime(9, 0);
    programme.current = 2;
    programme.talks = {talk(QStringLiteral("Opening, welcome"), QStringLiteral("Ann")), talk(QStringLiteral("Close"))};
    programme.talk(1).record = {at(QStringLiteral("09:01:00")), 1350};
    programme.talk(2).record = {at(QStringLiteral("09:24:00")), 1110};
    const Schedule schedule = computeSchedule(programme, plan, {ClockState::Paused, 1110}, at(QStringLiteral("09:43")));

    const Csv::Parsed parsed = Csv::parse(QString::fromUtf8(programmeReportCsv(programme, schedule)), u',');
    QStringList rows;
    for (const Csv::Row &row : parsed.rows) {
        QStringList cells;
        for (const Csv::Cell &cell : row.cells)
            cells.append(cell.text);
        rows.append(cells.join(u'|'));
    }
    QVERIFY(!parsed.problem);
    QCOMPARE(rows,
             (QStringList{"Talk|Title|Speaker|Planned start|Actual start|Planned length|Actual length|Over or under|"
                          "Planned end|Actual end",
                          "1|Opening, welcome|Ann|2024-05-06 09:00|2024-05-06 09:01:00|0:20:00|0:22:30|+0:02:30|"
                          "2024-05-06 09:20|2024-05-06 09:23:30",
                          "2|Close||2024-05-06 09:20|2024-05-06 09:24:00|0:20:00|0:18:30|-0:01:30|2024-05-06 09:40|"
                          "2024-05-06 09:42:30",
                          "Session|||2024-05-06 09:00|2024-05-06 09:01:00|0:40:00|0:41:30|+0:01:30|2024-05-06 09:40|"
                          "2024-05-06 09:42:30"}));
}

void ProgrammeTest::session_recordsEachTalkAndComesBackAfterARestart()
{
    MapStore store;
    const auto set = [&store](const char *key, const char *text) {
        store.set(QStringLiteral("Programme"), QLatin1String(key), QLatin1String(text));
    };
    set("Count", "3");
    set("SessionStart", "09:00");
    set("Title1", "Keynote");
    set("Speaker1", "Ada");
    set("Lengths1", "1200");
    set("Title2", "Slot");
    set("Title3", "Coffee");
    set("Start3", "10:00");
    const auto stored = [&store](const char *key) {
        return store.get(QStringLiteral("Programme"), QLatin1String(key)).value_or(QStringLiteral("-"));
    };
    const ClockSetting plan = stagePlan(); // 15, 5, 5 and 1 minutes: a talk of 25 minutes
    FakeTickCounter ticks(1000);
    FakeSoundPlayer sound;
    FakeWallClock wall(at("08:55"));
    auto clock = std::make_unique<ClockSession>(ticks, sound);
    auto programme = std::make_unique<ProgrammeSession>(*clock, store, wall);
    programme->load(plan);
    programme->setPlan(plan);
    QTRY_VERIFY(clock->snapshot().session.active()); // the start-up's schedule follows once the window could show
    const auto run = [&](int seconds) {
        for (int i = 0; i < seconds * 10; ++i) {
            ticks.advance(100);
            clock->Timer_Timer();
        }
        wall.advance(seconds);
    };
    using C = ClockCommand;
    const ClockSnapshot &now = clock->snapshot();
    QCOMPARE(now.session.talk, 1);
    QCOMPARE(now.session.current().title, QStringLiteral("Keynote"));
    QCOMPARE(now.talkSeconds, 1200 + 300 + 300); // the keynote's own first stage
    QVERIFY(now.available.contains(C::NextTalk) && !now.available.contains(C::PreviousTalk));

    wall.set(at("09:02"));
    QVERIFY(!clock->perform(C::Start));
    QCOMPARE(stored("Started1"), QStringLiteral("2024-05-06T09:02:00"));
    run(90);
    QVERIFY(clock->perform(C::NextTalk)); // never while running
    clock->perform(C::Pause);
    QVERIFY(!clock->perform(C::NextTalk));
    QCOMPARE(stored("Elapsed1"), QStringLiteral("90"));
    QCOMPARE(stored("Current"), QStringLiteral("2"));
    QCOMPARE(now.state, ClockState::Ready);
    QCOMPARE(now.talkSeconds, 1500);
    QCOMPARE(now.session.talk, 2);
    QVERIFY(now.session.talks.at(0).done && now.session.talks.at(0).actualSeconds == 90);

    // Undo Reset takes the talk left up again, paused where it was left; Elapsed goes with it.
    QVERIFY(now.canUndoReset);
    QVERIFY(!clock->perform(C::UndoReset));
    QCOMPARE(now.state, ClockState::Paused);
    QCOMPARE(now.elapsedSeconds, 90);
    QCOMPARE(now.session.talk, 1);
    QCOMPARE(stored("Current"), QStringLiteral("1"));
    QCOMPARE(stored("Elapsed1"), QStringLiteral("-"));
    // A reset throws the start away, and its Undo Reset brings it back.
    clock->perform(C::Reset);
    QCOMPARE(stored("Started1"), QStringLiteral("-"));
    clock->perform(C::UndoReset);
    QCOMPARE(stored("Started1"), QStringLiteral("2024-05-06T09:02:00"));

    // Left at 09:04 after 3 of its 30 minutes, the keynote hands talk 2 its planned 09:30 start: on time.
    wall.set(at("09:04"));
    clock->perform(C::NextTalk);
    QCOMPARE(now.session.offsetSeconds, std::optional<std::int64_t>(0));
    // Talk 2 starts 26 minutes early and, paused after 40 of its 25 minutes at 09:44, ends 11 minutes ahead
    // of its plan; the coffee keeps its fixed 10:00. Each second paused moves the end on.
    clock->perform(C::Start);
    run(40 * 60);
    clock->perform(C::Pause);
    QCoreApplication::processEvents(); // the schedule follows the pause once the views have it
    QCOMPARE(now.session.offsetSeconds, std::optional<std::int64_t>(-11 * 60));
    QCOMPARE(now.session.talks.at(2).expectedStartMs, at("10:00").toMSecsSinceEpoch());
    wall.advance(30);
    auto *check = programme->findChild<QTimer *>(QStringLiteral("WallClockCheck"));
    QVERIFY(check && check->isActive() && check->interval() == ProgrammeSession::WallClockCheckMs);
    QMetaObject::invokeMethod(check, "timeout");
    QCOMPARE(now.session.offsetSeconds, std::optional<std::int64_t>(-11 * 60 + 30));
    // Followed every ten seconds, not every second: an idle timer with a programme stays idle.
    wall.advance(3);
    QMetaObject::invokeMethod(check, "timeout");
    QCOMPARE(now.session.offsetSeconds, std::optional<std::int64_t>(-11 * 60 + 30));
    wall.advance(ProgrammeSession::ScheduleFollowMs / 1000);
    QMetaObject::invokeMethod(check, "timeout");
    QCOMPARE(now.session.offsetSeconds, std::optional<std::int64_t>(-11 * 60 + 43));
    programme->setPlan(plan); // the options dialog confirmed: Ready on the same talk
    QCOMPARE(now.session.talk, 2);

    // A restart comes back to talk 2 in Ready, with every record.
    programme.reset();
    clock = std::make_unique<ClockSession>(ticks, sound);
    programme = std::make_unique<ProgrammeSession>(*clock, store, wall);
    programme->load(plan);
    programme->setPlan(plan);
    QTRY_VERIFY(clock->snapshot().session.active()); // the start-up's schedule follows once the window could show
    QCOMPARE(clock->snapshot().state, ClockState::Ready);
    QCOMPARE(clock->snapshot().session.talk, 2);
    QCOMPARE(programme->programme().talk(1).record, (TalkRecord{at("09:02"), 90}));
    QCOMPARE(programme->programme().talk(2).record.started, std::optional<QDateTime>(at("09:04")));
    QVERIFY(clock->snapshot().available.contains(C::PreviousTalk) && clock->snapshot().available.contains(C::NextTalk));

    // Back to the keynote to look at it, and on again without starting it: its record stands, and Undo Reset
    // takes it up at the time it holds.
    clock->perform(C::PreviousTalk);
    QCOMPARE(clock->snapshot().session.talk, 1);
    clock->perform(C::NextTalk);
    QCOMPARE(stored("Elapsed1"), QStringLiteral("90"));
    clock->perform(C::UndoReset);
    QCOMPARE(clock->snapshot().state, ClockState::Paused);
    QCOMPARE(clock->snapshot().elapsedSeconds, 90);
}

void ProgrammeTest::session_withoutAProgramme_timesThePlanAndWritesNothing()
{
    MapStore store;
    FakeTickCounter ticks(1000);
    FakeSoundPlayer sound;
    FakeWallClock wall;
    ClockSession clock(ticks, sound);
    ProgrammeSession programme(clock, store, wall);
    const ClockSetting plan = stagePlan();
    programme.load(plan);
    programme.setPlan(plan);
    for (ClockCommand command : {ClockCommand::Start, ClockCommand::Pause, ClockCommand::Reset, ClockCommand::UndoReset,
                                 ClockCommand::NextTalk, ClockCommand::PreviousTalk}) {
        ticks.advance(1500);
        clock.perform(command);
    }
    QCOMPARE(store.writes + store.removes, 0);
    QCOMPARE(clock.setting().Stages, plan.Stages);
    QVERIFY(!clock.snapshot().session.active());
    QVERIFY(!clock.snapshot().available.contains(ClockCommand::NextTalk));
    QCOMPARE(clock.snapshot().state, ClockState::Paused);
}

void ProgrammeTest::setProgramme_neverStopsARunningClock_data()
{
    QTest::addColumn<int>("toggles"); // 0 Ready, 1 running, 2 paused
    QTest::addColumn<QString>("edit");
    QTest::addColumn<int>("state"); // after the edit
    QTest::addColumn<qint64>("elapsed");

    QTest::newRow("ready, its stages changed") << 0 << "stages" << int(ClockState::Ready) << qint64(0);
    QTest::newRow("paused, its stages changed: Ready, as after the options")
        << 2 << "stages" << int(ClockState::Ready) << qint64(0);
    QTest::newRow("paused, another talk's title") << 2 << "title" << int(ClockState::Paused) << qint64(65);
    QTest::newRow("running, its stages changed") << 1 << "stages" << int(ClockState::Running) << qint64(65);
    QTest::newRow("running, the programme gone") << 1 << "none" << int(ClockState::Running) << qint64(65);
}

void ProgrammeTest::setProgramme_neverStopsARunningClock()
{
    QFETCH(int, toggles);
    QFETCH(QString, edit);
    QFETCH(int, state);
    QFETCH(qint64, elapsed);
    FakePlatform fakes;
    ClockSession clock(fakes.ticks, fakes.sound);
    ProgrammeSession session(clock, fakes.store, fakes.wallClock);
    session.setPlan(stagePlan());
    Programme programme;
    programme.talks = {talk(QStringLiteral("One"), {}, {}, {600}), talk(QStringLiteral("Two"))};
    QCOMPARE(session.setProgramme(programme), std::nullopt);
    for (int i = 0; i < toggles; ++i) {
        QCOMPARE(clock.perform(ClockCommand::Toggle), std::nullopt);
        fakes.ticks.advance(65'000);
        clock.Timer_Timer();
    }
    const std::int32_t stage1 = clock.setting().stage(1).Seconds;

    programme = session.programme();
    if (edit == QLatin1String("stages"))
        programme.talks[0].lengths = {900};
    else if (edit == QLatin1String("title"))
        programme.talks[1].title = QStringLiteral("Second");
    else
        programme = Programme{};
    QCOMPARE(session.setProgramme(programme), std::nullopt);

    QCOMPARE(int(clock.snapshot().state), state);
    QCOMPARE(clock.snapshot().elapsedSeconds, elapsed);
    // The clock keeps the stages it runs on; only a clock not running takes the edited ones.
    QCOMPARE(clock.setting().stage(1).Seconds, toggles != 1 && edit == QLatin1String("stages") ? 900 : stage1);
    QCOMPARE(session.programme(), programme);
}

QTEST_GUILESS_MAIN(ProgrammeTest)
#include "tst_programme.moc"
