#include "remote/oscmessage.h"

#include <QTest>

#include <lo/lo.h>

namespace {

constexpr char Token[] = "Control-token-of-the-desk-0123";

// A message as a desk sends it, built by liblo: osc("/kestrim/message", "s", "Wrap up").
template <typename... Args>
QByteArray osc(const char *path, const char *types = "", Args... args)
{
    const lo_message message = lo_message_new();
    lo_message_add(message, types, args...);
    std::size_t size = 0;
    void *bytes = lo_message_serialise(message, path, nullptr, &size);
    const QByteArray datagram(static_cast<const char *>(bytes), qsizetype(size));
    std::free(bytes);
    lo_message_free(message);
    return datagram;
}

QString described(const OscDecision &d)
{
    static const char *const reasons[] = {"not OSC",     "bundle",       "too large",       "other address",
                                          "not allowed", "unknown word", "wrong arguments", "released"};
    static_assert(std::size(reasons) == OscIgnoredCount);
    if (d.kind == OscDecision::Kind::Ignore)
        return QLatin1String(reasons[std::size_t(d.reason)]);
    if (d.kind == OscDecision::Kind::Poll)
        return QStringLiteral("poll");
    return (QLatin1String(commandRow(d.command).word) + u' ' + d.argument).trimmed();
}

OscAddress address(const char *text)
{
    return parseOscAllow(QString::fromLatin1(text))->first().address;
}

} // namespace

// OSC in: what each message asks given its sender and the allow list, the rate, the poll's answer; then real
// datagrams from liblo's client to the server on loopback.
class TestOsc final : public QObject
{
    Q_OBJECT

private slots:
    void decide_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("allow");
        QTest::addColumn<QString>("decision");
        const char *here = "127.0.0.1", *desk = "192.168.1.9";
        QTest::newRow("GO") << osc("/kestrim/toggle") << here << ""
                            << "toggle";
        QTest::newRow("GO from afar") << osc("/kestrim/toggle") << desk << ""
                                      << "not allowed";
        QTest::newRow("the token") << osc("/kestrim/toggle", "s", Token) << desk << ""
                                   << "toggle";
        QTest::newRow("not quite the token")
            << osc("/kestrim/toggle", "s", "Control-token-of-the-desk-012") << desk << ""
            << "not allowed";
        QTest::newRow("message") << osc("/kestrim/message", "s", "Wrap up") << here << ""
                                 << "message Wrap up";
        QTest::newRow("token, message") << osc("/kestrim/message", "ss", Token, "Hi") << desk << ""
                                        << "message Hi";
        QTest::newRow("token, no text") << osc("/kestrim/message", "s", Token) << here << ""
                                        << "wrong arguments";
        QTest::newRow("mode") << osc("/kestrim/set-mode", "s", "TalkLeft") << here << ""
                              << "set-mode TalkLeft";
        QTest::newRow("mode, a number") << osc("/kestrim/set-mode", "i", 1) << here << ""
                                        << "wrong arguments";
        QTest::newRow("pressed") << osc("/kestrim/add-minute", "f", 1.0) << here << ""
                                 << "add-minute";
        QTest::newRow("released") << osc("/kestrim/add-minute", "f", 0.0) << here << ""
                                  << "released";
        QTest::newRow("true") << osc("/kestrim/blackout", "T") << here << ""
                              << "blackout";
        QTest::newRow("a text for none") << osc("/kestrim/start", "s", "now") << here << ""
                                         << "wrong arguments";
        QTest::newRow("poll") << osc("/kestrim/poll") << here << ""
                              << "poll";
        QTest::newRow("empty word") << osc("/kestrim/") << here << ""
                                    << "unknown word";
        QTest::newRow("another's") << osc("/kestrimtoggle") << here << ""
                                   << "other address";
        QTest::newRow("bundle") << QByteArray("#bundle\0\0\0\0\0\0\0\0\1", 16) + osc("/kestrim/toggle") << here << ""
                                << "bundle";
        QTest::newRow("cut short") << osc("/kestrim/message", "s", "Wrap up").chopped(4) << here << ""
                                   << "not OSC";
        QTest::newRow("too large") << osc("/kestrim/message", "s", QByteArray(4100, 'x').constData()) << here << ""
                                   << "too large";
        QTest::newRow("::1") << osc("/kestrim/start") << "::1"
                             << ""
                             << "start";
        QTest::newRow("mapped 127/8") << osc("/kestrim/start") << "::ffff:127.0.0.2"
                                      << ""
                                      << "start";
        QTest::newRow("the desk's net") << osc("/kestrim/pause") << "192.168.1.77"
                                        << "192.168.1.0/24"
                                        << "pause";
        QTest::newRow("a list replaces this machine") << osc("/kestrim/pause") << here << desk << "not allowed";
        QTest::newRow("IPv6 net") << osc("/kestrim/pause") << "fe80::12"
                                  << "::1, fe80::/10"
                                  << "pause";
    }
    void decide()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, sender);
        QFETCH(QString, allow);
        QFETCH(QString, decision);
        QCOMPARE(described(decideOsc(datagram, address(qPrintable(sender)), *parseOscAllow(allow), Token)), decision);
    }

    void everyWordOfTheCatalogue_isAnAddress()
    {
        for (const CommandRow &row : CommandCatalogue) {
            const QByteArray path = QByteArray("/kestrim/") + row.word;
            const OscDecision d = decideOsc(row.argument == CommandArgument::None ? osc(path) : osc(path, "s", "x"),
                                            address("::1"), oscThisMachineOnly(), {});
            QCOMPARE(d.kind == OscDecision::Kind::Act && d.command == row.command, *row.word != '\0');
        }
    }

    void allowList_refusesWhatIsNotAnAddress()
    {
        for (const char *bad : {"10.0.1", "0x7f.1", "256.1.1.1", "10.0.0.0/33", "::1/129", "10.0.0.0/", "1.2.3.4/+8",
                                "[::1", "fe80::1%eth0", "10.0.0.1 10.0.0.2", "10.0.0.1,", "localhost"}) {
            QString why;
            QVERIFY2(!parseOscAllow(QString::fromLatin1(bad), &why) && why.contains(u'"'), bad);
        }
        const QList<OscNet> list = *parseOscAllow(u" 10.0.2.0/23 ,[2001:db8:8000::]/33, ::ffff:10.9.9.9 ");
        for (const char *in : {"10.0.3.255", "2001:db8:ffff::1", "10.9.9.9"})
            QVERIFY2(oscAllowed(list, address(in)), in);
        for (const char *out : {"10.0.4.0", "2001:db8:7fff::1", "127.0.0.1"})
            QVERIFY2(!oscAllowed(list, address(out)), out);
    }

    void bucket_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("everyUs");
        QTest::addColumn<int>("taken");
        QTest::newRow("60 at once") << 60 << 0 << 50;
        QTest::newRow("the rate exactly, 2 s") << 400 << 5000 << 400;
        QTest::newRow("one a millisecond, 1 s") << 1000 << 1000 << 249;
        QTest::newRow("10000 in 2 s") << 10000 << 200 << 449;
    }
    void bucket()
    {
        QFETCH(int, count);
        QFETCH(int, everyUs);
        QFETCH(int, taken);
        OscTokenBucket bucket;
        int took = 0;
        for (qint64 i = 0; i < count; ++i)
            took += bucket.take(1'000'000 + i * everyUs / 1000);
        QCOMPARE(took, taken);
        // A long silence fills the bucket and no more; a clock stepped back earns nothing.
        for (int i = 0; i < 60; ++i)
            took += bucket.take(9'000'000);
        QCOMPARE(took, taken + 50);
        QVERIFY(!bucket.take(1'000'000));
    }

    void poll_answersTheStateTheTimeTheStageAndTheOffset()
    {
        ClockSnapshot s;
        s.state = ClockState::Paused;
        s.mode = ReadOutMode::StageLeft;
        s.minutes = QStringLiteral("-01");
        s.seconds = QStringLiteral("05");
        s.stage = 2;
        s.description = QStringLiteral("Q & A, \u00e9");
        s.available.insert(ClockCommand::Continue);
        QList<QByteArray> common{osc("/kestrim/state", "sss", "Paused", "StageLeft", "continue"),
                                 osc("/kestrim/time", "ss", "-01", "05"), osc("/kestrim/stage", "is", 2, "Q & A, é")};
        QCOMPARE(oscPollReplies(s), common);
        s.session = {2, 3, -200, {}, {}, 0, QList<ScheduledTalk>(3)};
        QCOMPARE(oscPollReplies(s), common + QList{osc("/kestrim/offset", "i", -200)});
    }
};

QTEST_GUILESS_MAIN(TestOsc)
#include "tst_osc.moc"
