#include "clock/readout.h"
#include "remote/accessgate.h"
#include "remote/announcer.h"
#include "remote/httprequest.h"
#include "remote/remoteprotocol.h"
#include "remote/remotesettings.h"
#include "remote/router.h"
#include "remote/websocket.h"
#include "settings/persistence.h"
#include "support/fakes.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

Q_DECLARE_METATYPE(Route)
Q_DECLARE_METATYPE(SessionInfo)

namespace {

// 2026-12-09 09:00 UTC, 10:00 in the room at +01:00.
constexpr qint64 NineUtc = 1'796'806'800'000;
constexpr qint64 Minute = 60'000;
constexpr std::int32_t PlusOne = 3600;

// Three talks at +01:00: the keynote done (10:00, 18:32 long), the second running since 10:23, three minutes
// behind, and a third that no planned time reaches.
SessionInfo threeTalks()
{
    const auto at = [](int minutes) { return NineUtc + minutes * Minute; };
    SessionInfo s{2, 3, 180, at(75), at(72), at(30), QList<ScheduledTalk>(3)};
    s.talks[0] = {1, "Keynote", "Ada Lovelace", at(0), at(20), 1200, at(0), at(0) + 1112'000, true, at(0), 1112};
    s.talks[1] = {2, "Engines", {}, at(20), at(40), 1200, at(23), at(43), false, at(23), {}};
    s.talks[2] = {3, {}, "C. Babbage", {}, {}, 1800, at(43), at(75), false, {}, {}};
    return s;
}

} // namespace

namespace {

// A client's frame: FIN and opcode in `head`, the payload masked unless `masked` is false.
QByteArray clientFrame(quint8 head, QByteArray payload, bool masked = true)
{
    QByteArray frame(1, char(head));
    const auto size = static_cast<quint64>(payload.size());
    const char mask = masked ? char(0x80) : char(0);
    const int lengthBytes = size < 126 ? 0 : size <= 0xFFFF ? 2 : 8;
    frame += char(mask | (lengthBytes == 0 ? size : lengthBytes == 2 ? 126 : 127));
    for (int shift = 8 * (lengthBytes - 1); shift >= 0; shift -= 8) {
        frame += char((size >> shift) & 0xFF);
    }
    if (masked) {
        const QByteArray key = QByteArray::fromHex("37fa213d");
        frame += key;
        for (qsizetype i = 0; i < payload.size(); ++i) {
            payload[i] = char(payload[i] ^ key[i % 4]);
        }
    }
    return frame + payload;
}

// What the decoder makes of `bytes` given in pieces of `step` bytes: "text:Hi ping:p close:1000 fail:1002".
QString decoded(const QByteArray &bytes, qsizetype limit, qsizetype step)
{
    using Kind = WebSocket::Event::Kind;
    static const char *const names[] = {"text", "ping", "pong", "close", "fail"};
    WebSocket::Decoder decoder(limit);
    QStringList events;
    for (qsizetype at = 0; at < bytes.size(); at += step) {
        decoder.feed(QByteArrayView(bytes).sliced(at, std::min(step, bytes.size() - at)));
        while (const std::optional<WebSocket::Event> event = decoder.next()) {
            const bool coded = event->kind == Kind::Close || event->kind == Kind::Failure;
            events.append(QLatin1String(names[int(event->kind)]) + u':' +
                          (coded ? QString::number(quint16(event->code)) : QString::fromUtf8(event->payload)));
        }
    }
    return events.join(u' ');
}

} // namespace

// The network's pure parts: stored settings and tokens, the state's JSON, the route table, the token
// gate and the request head. No server runs here.
class TestRemoteParts final : public QObject
{
    Q_OBJECT

private slots:
    void read_takesWhatFitsAndRefusesTheRest_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        const QString token = QStringLiteral("Hand-written_token-0123456789");
        QTest::newRow("enabled") << "Enabled"
                                 << "True" << true;
        QTest::newRow("enabled word") << "Enabled"
                                      << "on" << false;
        QTest::newRow("lowest port") << "Port"
                                     << "1024" << true;
        QTest::newRow("privileged port") << "Port"
                                         << "1023" << false;
        QTest::newRow("port too high") << "Port"
                                       << "65536" << false;
        QTest::newRow("hand-written token") << "ViewerToken" << token << true;
        QTest::newRow("token too short") << "ViewerToken" << token.left(21) << false;
        QTest::newRow("token 64") << "ControlToken" << QString(64, u'a') << true;
        QTest::newRow("token 65") << "ControlToken" << QString(65, u'a') << false;
        QTest::newRow("token with padding") << "ControlToken" << token + u'=' << false;
        QTest::newRow("token with blank") << "ControlToken" << token + u' ' + token << false;
        QTest::newRow("OSC on") << "OscEnabled" << QStringLiteral("True") << true;
        QTest::newRow("OSC port, sharing's") << "OscPort" << QStringLiteral("4680") << false;
        QTest::newRow("OSC port, privileged") << "OscPort" << QStringLiteral("1023") << false;
        QTest::newRow("allow, blanks and a net")
            << "OscAllow" << QStringLiteral(" 192.168.1.30 ,::1, 10.0.0.0/8") << true;
        QTest::newRow("allow, a name") << "OscAllow" << QStringLiteral("desk.local") << false;
    }
    void read_takesWhatFitsAndRefusesTheRest()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        MapStore store;
        store.set(QStringLiteral("Remote"), key, text);
        try {
            const RemoteSettings settings = ReadRemoteSettings(store);
            QVERIFY(accepted);
            WriteRemoteSettings(store, settings);
            QCOMPARE(ReadRemoteSettings(store), settings);
            QCOMPARE(*store.get(QStringLiteral("Remote"), key), text);
        } catch (const StoredValueError &error) {
            QVERIFY2(!accepted, qPrintable(error.message()));
            QCOMPARE(error.key(), key);
        }
    }

    void oscKeys_areWrittenOnlyOnceChanged()
    {
        // A store of before OSC with its HTTP port at OSC's default still starts: OSC's default steps aside.
        MapStore store;
        store.set(QStringLiteral("Remote"), QStringLiteral("Port"), QStringLiteral("4681"));
        RemoteSettings settings = ReadRemoteSettings(store);
        QCOMPARE(settings.oscPort, 4682);
        const auto written = [&] {
            WriteRemoteSettings(store, settings);
            return QStringList{store.get(QStringLiteral("Remote"), QStringLiteral("OscPort")).value_or("-"),
                               store.get(QStringLiteral("Remote"), QStringLiteral("OscAllow")).value_or("-")};
        };
        QCOMPARE(written(), QStringList({"-", "-"}));
        settings.oscAllow = QStringLiteral("10.0.0.0/8");
        QCOMPARE(written(), QStringList({"-", "10.0.0.0/8"}));
        settings.oscAllow.clear(); // back to the default, and kept so
        QCOMPARE(written(), QStringList({"-", ""}));
        QCOMPARE(ReadRemoteSettings(store), settings);
    }

    void newToken_isAFreshTokenOf128Bits()
    {
        QSet<QString> seen;
        for (int i = 0; i < 100; ++i) {
            const QString token = newToken();
            QVERIFY(isToken(token));
            QCOMPARE(QByteArray::fromBase64(token.toLatin1(), QByteArray::Base64UrlEncoding).size(), 16);
            seen.insert(token);
        }
        QCOMPARE(seen.size(), 100);
    }

    void keepOwnerOnly_makesTheFilePrivateBeforeTheFirstTokenIsWritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Kestrim/Kestrim.conf"));
        struct stat status = {};
        QVERIFY(keepOwnerOnly(path));
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, 0600u);
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
        QVERIFY(keepOwnerOnly(path));
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, 0600u);
        QVERIFY(!keepOwnerOnly(dir.path()));
    }

    void stateJson_carriesWhatTheWindowShows()
    {
        ClockSnapshot s;
        s.state = ClockState::Paused;
        s.elapsedMs = 61'500;
        s.minutes = QStringLiteral("-01");
        s.seconds = QStringLiteral("05");
        s.mode = ReadOutMode::StageLeft;
        s.stage = 2;
        s.description = QStringLiteral("Q & \"A\"");
        s.background = 0x00FF8000; // blue 0xFF, green 0x80, red 0x00
        s.foreground = 0x000000FF;
        s.stageEnd = 1200;
        s.talkSeconds = 1500;
        s.flashInverted = true;
        s.message = QStringLiteral("Wrap up");
        s.canUndoReset = true;
        s.available = availableCommands({s.state, s.canUndoReset, true});
        const QByteArray json = RemoteProtocol::stateJson(s, {NineUtc + 34 * Minute + 5'250, -PlusOne});
        const QVariantMap v = QJsonDocument::fromJson(json).toVariant().toMap();
        QCOMPARE(v.keys(), QStringList({"available", "blackout", "canUndoReset", "digitsEnabled", "elapsedMs", "flash",
                                        "flashEnabled", "message", "minutes", "mode", "seconds", "soundEnabled",
                                        "stage", "state", "talkSeconds", "utcOffsetSeconds", "wallClockMs"}));
        QCOMPARE(v["wallClockMs"].toLongLong(), NineUtc + 34 * Minute + 5'250);
        QCOMPARE(v["utcOffsetSeconds"].toInt(), -PlusOne);
        // Paused: the words of every command but start, pause and undo-reset, and never a local one.
        QCOMPARE(
            v["available"].toStringList(),
            QStringList({"continue", "reset", "toggle", "add-minute", "take-minute", "message", "clear-message",
                         "set-mode", "flash-on", "flash-off", "sound-on", "sound-off", "blackout", "blackout-off"}));
        QCOMPARE(v["state"], "Paused");
        QCOMPARE(v["mode"], "StageLeft");
        QCOMPARE(v["minutes"], "-01");
        QCOMPARE(v["elapsedMs"].toLongLong(), 61'500);
        QCOMPARE(v["flash"], true);
        const QVariantMap stage = v["stage"].toMap();
        QCOMPARE(stage["background"], "#0080ff");
        QCOMPARE(stage["foreground"], "#ff0000");
        QCOMPARE(stage["description"], s.description);
        QCOMPARE(stage["endSeconds"].toInt(), 1200);
        for (ReadOutMode mode : {ReadOutMode::Elapsed, ReadOutMode::StageLeft, ReadOutMode::TalkLeft}) {
            s.mode = mode;
            QCOMPARE(RemoteProtocol::stateObject(s, {})["mode"].toString(), readOutModeName(mode));
        }
    }

    void localTime_isTheLaptopsDateAndTimeWithItsOffset_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("text");
        QTest::newRow("+01:00") << NineUtc + 94 * Minute + 59'999 << PlusOne << "2026-12-09T11:34:59+01:00";
        QTest::newRow("-05:00") << NineUtc << -5 * PlusOne << "2026-12-09T04:00:00-05:00";
        QTest::newRow("half an hour, next day") << NineUtc + 15 * 60 * Minute << 19'800 << "2026-12-10T05:30:00+05:30";
        QTest::newRow("UTC") << NineUtc << 0 << "2026-12-09T09:00:00Z";
    }
    void localTime_isTheLaptopsDateAndTimeWithItsOffset()
    {
        QFETCH(qint64, ms);
        QFETCH(int, offset);
        QFETCH(QString, text);
        QCOMPARE(RemoteProtocol::localTime(ms, offset), text);
        // What a page or a script reads back is the same moment, to the second.
        QCOMPARE(QDateTime::fromString(text, Qt::ISODate).toMSecsSinceEpoch(), ms / 1000 * 1000);
    }

    void session_showsInTheStateOnlyWithAProgramme_data()
    {
        QTest::addColumn<SessionInfo>("session");
        QTest::addColumn<QByteArray>("talk"); // the state's "talk", "offsetSeconds" and "sessionEndsAt"; or none
        QTest::newRow("no programme") << SessionInfo{} << QByteArray();
        QTest::newRow("talk 2 of 3")
            << threeTalks()
            << QByteArray(
                   R"({"count":3,"number":2,"plannedStart":"2026-12-09T10:20:00+01:00","speaker":"",)"
                   R"("startedAt":"2026-12-09T10:23:00+01:00","title":"Engines"} 180 "2026-12-09T11:15:00+01:00")");
        SessionInfo third = threeTalks();
        third.talk = 3;
        third.offsetSeconds.reset();
        third.sessionEndsAtMs.reset();
        QTest::newRow("nothing planned reaches it")
            << third
            << QByteArray(R"({"count":3,"number":3,"plannedStart":null,"speaker":"C. Babbage","startedAt":null,)"
                          R"("title":""} null null)");
        SessionInfo shortList = threeTalks();
        shortList.talks.removeLast();
        shortList.talk = 3;
        QTest::newRow("counted past its list") << shortList << QByteArray();
    }
    void session_showsInTheStateOnlyWithAProgramme()
    {
        QFETCH(SessionInfo, session);
        QFETCH(QByteArray, talk);
        ClockSnapshot s;
        s.session = session;
        const QJsonObject state = RemoteProtocol::stateObject(s, {NineUtc, PlusOne});
        const auto compact = [](const QJsonValue &v) {
            return v.isObject() ? QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact)
                                : QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).chopped(1).sliced(1);
        };
        if (talk.isEmpty()) {
            QVERIFY(!state.contains("talk") && !state.contains("offsetSeconds") && !state.contains("sessionEndsAt"));
            QCOMPARE(RemoteProtocol::programmeJson(session, {NineUtc, PlusOne}), R"({"count":0,"talks":[]})");
            return;
        }
        QCOMPARE(compact(state["talk"]) + ' ' + compact(state["offsetSeconds"]) + ' ' + compact(state["sessionEndsAt"]),
                 talk);
    }

    void programmeJson_isTheWholeScheduleInTheLaptopsTime()
    {
        const QVariantMap p =
            QJsonDocument::fromJson(RemoteProtocol::programmeJson(threeTalks(), {NineUtc + 34 * Minute, PlusOne}))
                .toVariant()
                .toMap();
        QCOMPARE(p.keys(), QStringList({"count", "current", "offsetSeconds", "plannedEnd", "sessionEndsAt", "talks",
                                        "utcOffsetSeconds", "wallClockMs"}));
        QCOMPARE(p["current"].toInt(), 2);
        QCOMPARE(p["offsetSeconds"].toInt(), 180);
        QCOMPARE(p["plannedEnd"], "2026-12-09T11:12:00+01:00");
        QCOMPARE(p["wallClockMs"].toLongLong(), NineUtc + 34 * Minute);
        const QVariantList talks = p["talks"].toList();
        QCOMPARE(talks.size(), 3);
        const SessionInfo session = threeTalks();
        for (qsizetype i = 0; i < talks.size(); ++i) {
            const QVariantMap t = talks[i].toMap();
            const ScheduledTalk &row = session.talks[i];
            QCOMPARE(t.keys(),
                     QStringList({"actualSeconds", "done", "expectedEnd", "expectedStart", "number", "plannedEnd",
                                  "plannedSeconds", "plannedStart", "speaker", "startedAt", "title"}));
            QCOMPARE(t["done"].toBool(), row.done);
            const auto at = [&t](const QString &key) {
                return t[key].isNull()
                           ? std::nullopt
                           : std::optional(QDateTime::fromString(t[key].toString(), Qt::ISODate).toMSecsSinceEpoch());
            };
            QCOMPARE(at("expectedStart"), std::optional(row.expectedStartMs));
            QCOMPARE(at("plannedStart"), row.plannedStartMs);
            QCOMPARE(at("startedAt"), row.startedAtMs);
            QVERIFY(t["expectedEnd"].toString().endsWith("+01:00"));
            QCOMPARE(t["actualSeconds"].isNull(), !row.actualSeconds.has_value());
        }
        QCOMPARE(talks[0].toMap()["actualSeconds"].toInt(), 1112);
    }

    void parseRequest_takesOnlyAKnownActionWithText_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("toggle") << QByteArray(R"({"action":"toggle"})") << true;
        QTest::newRow("message") << QByteArray(R"({"action":"message","text":"Hi"})") << true;
        QTest::newRow("undo-reset") << QByteArray(R"({"action":"undo-reset"})") << true;
        QTest::newRow("set-mode") << QByteArray(R"({"action":"set-mode","mode":"StageLeft"})") << true;
        QTest::newRow("set-mode, number") << QByteArray(R"({"action":"set-mode","mode":1})") << false;
        QTest::newRow("a local command") << QByteArray(R"({"action":""})") << false;
        QTest::newRow("not a command name") << QByteArray(R"({"action":"UndoReset"})") << false;
        QTest::newRow("number text") << QByteArray(R"({"action":"message","text":5})") << false;
        QTest::newRow("array") << QByteArray(R"([{"action":"start"}])") << false;
        QTest::newRow("no action") << QByteArray(R"({"text":"x"})") << false;
        QTest::newRow("broken") << QByteArray(R"({"action":"start")") << false;
    }
    void parseRequest_takesOnlyAKnownActionWithText()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, accepted);
        const RemoteProtocol::ParsedRequest parsed = RemoteProtocol::parseRequest(message);
        QCOMPARE(parsed.request.has_value(), accepted);
        QCOMPARE(parsed.error.isEmpty(), accepted);
    }

    void routeFor_findsEveryPathOfTheTable_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<Route>("route");
        QTest::newRow("page") << QByteArray("GET") << QByteArray("/") << 200 << Route::Page;
        QTest::newRow("state") << QByteArray("GET") << QByteArray("/api/v1/state") << 200 << Route::State;
        QTest::newRow("post state") << QByteArray("POST") << QByteArray("/api/v1/state") << 405 << Route::State;
        QTest::newRow("ws") << QByteArray("GET") << QByteArray("/api/v1/ws") << 200 << Route::WebSocket;
        QTest::newRow("programme") << QByteArray("GET") << QByteArray("/api/v1/programme") << 200 << Route::Programme;
        QTest::newRow("post programme") << QByteArray("POST") << QByteArray("/api/v1/programme") << 405
                                        << Route::Programme;
        QTest::newRow("get action") << QByteArray("GET") << QByteArray("/api/v1/take-minute") << 200 << Route::Action;
        QTest::newRow("post action") << QByteArray("POST") << QByteArray("/api/v1/toggle") << 200 << Route::Action;
        QTest::newRow("put action") << QByteArray("PUT") << QByteArray("/api/v1/start") << 405 << Route::Action;
        QTest::newRow("unknown action") << QByteArray("GET") << QByteArray("/api/v1/explode") << 404 << Route::Page;
        QTest::newRow("trailing slash") << QByteArray("GET") << QByteArray("/api/v1/state/") << 404 << Route::Page;
        QTest::newRow("other version") << QByteArray("GET") << QByteArray("/api/v2/state") << 404 << Route::Page;
    }
    void routeFor_findsEveryPathOfTheTable()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(int, status);
        QFETCH(Route, route);
        const RouteMatch match = routeFor(method, path);
        QCOMPARE(match.status, status);
        QCOMPARE(match.route, route);
        QCOMPARE(match.action.isEmpty(), route != Route::Action || status == 404);
    }

    void gate_tellsTheTokensApartAndBlocksAGuesserForAMinute()
    {
        AccessGate gate;
        const QString viewer = newToken(), control = newToken();
        gate.setTokens(viewer, control);
        QCOMPARE(gate.accessFor(viewer.toLatin1()), Access::Viewer);
        QCOMPARE(gate.accessFor(control.toLatin1()), Access::Control);
        QCOMPARE(gate.accessFor(control.toLatin1().chopped(1)), Access::None);
        QCOMPARE(gate.accessFor(control.toLatin1() + 'x'), Access::None);
        QCOMPARE(gate.accessFor(""), Access::None);
        QVERIFY(!sameSecret("", ""));

        const QString guesser = QStringLiteral("192.0.2.7");
        std::int64_t now = 5'000'000;
        // Nine wrong tokens, the oldest falling out of the minute before the tenth: still let in.
        for (int i = 0; i < 9; ++i) {
            gate.recordFailure(guesser, now + i * 7'000);
        }
        gate.recordFailure(guesser, now + 60'000);
        QVERIFY(!gate.blocked(guesser, now + 60'000));
        gate.recordFailure(guesser, now + 61'000);
        QVERIFY(gate.blocked(guesser, now + 61'000));
        QVERIFY(!gate.blocked(QStringLiteral("192.0.2.8"), now + 61'000));
        QVERIFY(gate.blocked(guesser, now + 120'999));
        QVERIFY(!gate.blocked(guesser, now + 121'000));
    }

    void hostAllowed_onlyNamesThisMachine_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("ipv4 port") << QByteArray("192.168.1.20:4680") << true;
        QTest::newRow("ipv6") << QByteArray("[::1]:4680") << true;
        QTest::newRow("localhost") << QByteArray("LocalHost:4680") << true;
        QTest::newRow("machine") << QByteArray("stage-pc.local") << true;
        QTest::newRow("another machine's name") << QByteArray("other-pc.local:4680") << false;
        QTest::newRow("rebound name") << QByteArray("attacker.example:4680") << false;
        QTest::newRow("short address") << QByteArray("127.1:4680") << false;
        QTest::newRow("policy in port") << QByteArray("127.0.0.1:1; script-src *") << false;
        QTest::newRow("ipv6 junk") << QByteArray("[::1]x") << false;
        QTest::newRow("empty") << QByteArray(":4680") << false;
    }
    void hostAllowed_onlyNamesThisMachine()
    {
        QFETCH(QByteArray, host);
        QFETCH(bool, allowed);
        QCOMPARE(hostAllowed(host, {QStringLiteral("stage-pc"), QStringLiteral("stage-pc.local")}), allowed);
    }

    void decoder_takesMaskedTextAndFailsAsTheProtocolSays_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("events");
        const QByteArray close = clientFrame(0x88, QByteArray::fromHex("03e8") + "bye");
        const QByteArray x300(300, 'x'), x4096(4096, 'x');
        QTest::newRow("masked text") << clientFrame(0x81, "Hi") << "text:Hi";
        QTest::newRow("unmasked") << clientFrame(0x81, "Hi", false) << "fail:1002";
        QTest::newRow("reserved bit") << clientFrame(0xC1, "Hi") << "fail:1002";
        QTest::newRow("unknown opcode") << clientFrame(0x83, "Hi") << "fail:1002";
        QTest::newRow("binary") << clientFrame(0x82, "Hi") << "fail:1003";
        QTest::newRow("fragments, ping between")
            << clientFrame(0x01, "Two ") + clientFrame(0x89, "p") + clientFrame(0x80, "min") << "ping:p text:Two min";
        QTest::newRow("empty fragments") << clientFrame(0x01, "") + clientFrame(0x00, "") + clientFrame(0x80, "")
                                         << "text:";
        QTest::newRow("continuation first") << clientFrame(0x80, "x") << "fail:1002";
        QTest::newRow("text within text") << clientFrame(0x01, "a") + clientFrame(0x81, "b") << "fail:1002";
        QTest::newRow("pong") << clientFrame(0x8A, "") << "pong:";
        QTest::newRow("fragmented ping") << clientFrame(0x09, "p") << "fail:1002";
        QTest::newRow("long ping") << clientFrame(0x89, QByteArray(126, 'p')) << "fail:1002";
        QTest::newRow("close, then nothing") << close + clientFrame(0x81, "late") << "close:1000";
        QTest::newRow("close without code") << clientFrame(0x88, "") << "close:1005";
        QTest::newRow("close, half a code") << clientFrame(0x88, "\x03") << "fail:1002";
        QTest::newRow("close, reserved code") << clientFrame(0x88, QByteArray::fromHex("03ed")) << "fail:1002";
        QTest::newRow("close, library code") << clientFrame(0x88, QByteArray::fromHex("0bb8")) << "close:3000";
        QTest::newRow("close, bad reason") << clientFrame(0x88, QByteArray::fromHex("03e8ff")) << "fail:1007";
        QTest::newRow("16-bit length") << clientFrame(0x81, x300) << "text:" + QString::fromLatin1(x300);
        QTest::newRow("at the limit") << clientFrame(0x81, x4096) << "text:" + QString::fromLatin1(x4096);
        QTest::newRow("over the limit") << clientFrame(0x81, x4096 + 'x') << "fail:1009";
        QTest::newRow("fragments over the limit") << clientFrame(0x01, x4096) + clientFrame(0x80, "x") << "fail:1009";
        // Refused at the header: the 70000 bytes it announces never need to arrive.
        QTest::newRow("64-bit length") << clientFrame(0x81, QByteArray(70'000, 'x')).first(14) << "fail:1009";
        QTest::newRow("highest length bit") << QByteArray::fromHex("81ff8000000000000001") << "fail:1002";
        QTest::newRow("bad UTF-8") << clientFrame(0x81, "\xc3\x28") << "fail:1007";
        QTest::newRow("surrogate") << clientFrame(0x81, "\xed\xa0\x80") << "fail:1007";
        QTest::newRow("UTF-8 across fragments") << clientFrame(0x01, "\xc3") + clientFrame(0x80, "\xa9") << "text:é";
        QTest::newRow("cut short at the end") << clientFrame(0x01, "a") + clientFrame(0x80, "\xc3") << "fail:1007";
    }
    void decoder_takesMaskedTextAndFailsAsTheProtocolSays()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, events);
        QCOMPARE(decoded(bytes, 4096, bytes.size()), events);
        QCOMPARE(decoded(bytes, 4096, 1), events);
    }

    void handshake_opensOnlyAVersion13Upgrade_data()
    {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<int>("status");
        const QByteArray key = "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
        const QByteArray upgrade = "Upgrade: websocket\r\n" + key;
        QTest::newRow("as the protocol's example") << upgrade + "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                                                   << 101;
        QTest::newRow("connection list") << upgrade + "Connection: keep-alive, upgrade\r\nSec-WebSocket-Version: 13\r\n"
                                         << 101;
        QTest::newRow("other version") << upgrade + "Connection: Upgrade\r\nSec-WebSocket-Version: 8\r\n" << 426;
        QTest::newRow("no upgrade") << key + "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n" << 400;
        QTest::newRow("short key") << QByteArray("Upgrade: websocket\r\nConnection: Upgrade\r\n"
                                                 "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZQ==\r\n")
                                   << 400;
    }
    void handshake_opensOnlyAVersion13Upgrade()
    {
        QFETCH(QByteArray, headers);
        QFETCH(int, status);
        const HeadResult head = parseHead("GET /api/v1/ws HTTP/1.1\r\nHost: a\r\n" + headers + "\r\n", 4096);
        const WebSocket::Handshake answer = WebSocket::answerHandshake(head.request);
        QCOMPARE(answer.opened, status == 101);
        QCOMPARE(answer.response.mid(9, 3).toInt(), status);
        QCOMPARE(answer.response.contains("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"), status == 101);
        QCOMPARE(answer.response.contains("Sec-WebSocket-Version: 13\r\n"), status == 426);
        // A close reason is cut to fit the frame, never within a character.
        const QByteArray close = WebSocket::closeFrame(WebSocket::CloseCode::Normal, QString(100, u'é').toUtf8());
        QCOMPARE(close.size(), 2 + close.at(1));
        QVERIFY(close.at(1) <= 125);
        QCOMPARE(QString::fromUtf8(close.sliced(4)), QString((close.at(1) - 2) / 2, u'é'));
    }

    void serviceName_fitsALabelAndRenamesAsTheNetworkDoes_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("next");
        const QString on = QStringLiteral("Kestrim on ");
        QTest::newRow("host") << "stage-pc" << on + "stage-pc" << on + "stage-pc #2";
        QTest::newRow("long") << QString(80, u'a') << on + QString(52, u'a') << on + QString(49, u'a') + " #2";
        // Two bytes a letter in UTF-8, four a symbol beyond the BMP: never cut within one.
        QTest::newRow("accents") << QString(40, u'é') << on + QString(26, u'é') << on + QString(24, u'é') + " #2";
        const QString mic = QStringLiteral("🎤");
        QTest::newRow("symbols") << mic.repeated(20) << on + mic.repeated(13) << on + mic.repeated(12) + " #2";
    }
    void serviceName_fitsALabelAndRenamesAsTheNetworkDoes()
    {
        QFETCH(QString, host);
        QFETCH(QString, name);
        QFETCH(QString, next);
        QCOMPARE(serviceNameFor(host), name);
        QCOMPARE(nextServiceName(name), next);
        const QString third = nextServiceName(next);
        QVERIFY2(third.endsWith(QStringLiteral(" #3")) && third.toUtf8().size() <= 63, qPrintable(third));
    }

    void parseHead_waitsBoundsAndRefuses_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("length");
        using S = HeadResult::Status;
        const QByteArray get = "GET /api/v1/message?text=Two+min%2B HTTP/1.1\r\nHost: a\r\n";
        QTest::newRow("half") << get << int(S::Incomplete) << 0LL;
        QTest::newRow("whole") << get + "\r\n" << int(S::Complete) << 0LL;
        QTest::newRow("body") << get + "Content-Length: 12\r\n\r\nabc" << int(S::Complete) << 12LL;
        QTest::newRow("lengths agree") << get + "Content-Length: 3\r\ncontent-length: 3\r\n\r\n"
                                       << int(S::Complete) << 3LL;
        QTest::newRow("lengths differ") << get + "Content-Length: 3\r\nContent-Length: 4\r\n\r\n" << int(S::Bad) << 0LL;
        QTest::newRow("negative") << get + "Content-Length: -1\r\n\r\n" << int(S::Bad) << 0LL;
        QTest::newRow("chunked") << get + "Transfer-Encoding: chunked\r\n\r\n" << int(S::Bad) << 0LL;
        QTest::newRow("blank before colon") << get + "Host : b\r\n\r\n" << int(S::Bad) << 0LL;
        QTest::newRow("absolute form") << QByteArray("GET http://a/ HTTP/1.1\r\n\r\n") << int(S::Bad) << 0LL;
        QTest::newRow("too large") << get + QByteArray(200, 'x') << int(S::TooLarge) << 0LL;
    }
    void parseHead_waitsBoundsAndRefuses()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        QFETCH(qint64, length);
        const HeadResult result = parseHead(bytes, 128);
        QCOMPARE(int(result.status), status);
        QCOMPARE(result.request.contentLength, length);
        if (result.status == HeadResult::Status::Complete) {
            QCOMPARE(result.request.path, QByteArray("/api/v1/message"));
            QCOMPARE(result.request.query.queryItemValue("text", QUrl::FullyDecoded), QStringLiteral("Two min+"));
        }
    }
};

QTEST_GUILESS_MAIN(TestRemoteParts)
#include "tst_remoteparts.moc"
