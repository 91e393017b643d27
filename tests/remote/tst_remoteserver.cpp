#include "remote/announcer.h"
#include "remote/httpresponse.h"
#include "remote/moduleserver.h"
#include "remote/remotesettings.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QUdpSocket>
#include <QWebSocket>

#include <memory>
#include <sys/socket.h>
#include <thread>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// One request on a connection of its own, answered and closed by the server; the event loop runs
// meanwhile, as actions are carried out on this (the GUI) thread.
QByteArray exchange(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    QByteArray answer;
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { answer += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(request);
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000)) {
        return "timed out: " + answer;
    }
    return answer + socket.readAll();
}

QByteArray get(quint16 port, const QByteArray &target, const QByteArray &headers = {})
{
    return exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n");
}

// Stands in for the daemon: what is announced now, by type.
class FakeAnnouncer final : public Announcer
{
public:
    explicit FakeAnnouncer(QMap<QString, AnnouncedService> &now)
        : now_(now)
    {}
    void announce(const AnnouncedService &service) override { now_[service.type] = service; }
    void withdraw(const QString &type) override { now_.remove(type); }

private:
    QMap<QString, AnnouncedService> &now_;
};

int statusOf(const QByteArray &answer)
{
    return answer.mid(9, 3).toInt();
}

QJsonObject bodyOf(const QByteArray &answer)
{
    return QJsonDocument::fromJson(answer.mid(answer.indexOf("\r\n\r\n") + 4)).object();
}

// The opcodes of the server's frames after its handshake answer, a close frame's with its code ("8:1008").
QStringList serverFrames(const QByteArray &answer)
{
    QStringList frames;
    for (qsizetype at = answer.indexOf("\r\n\r\n") + 4; at + 2 <= answer.size();) {
        const int opcode = answer[at] & 0x0F;
        qsizetype length = answer[at + 1] & 0x7F;
        qsizetype header = 2;
        if (length == 126) {
            length = (quint8(answer[at + 2]) << 8) | quint8(answer[at + 3]);
            header = 4;
        }
        const QByteArray payload = answer.mid(at + header, length);
        frames.append(opcode == 8 ? QStringLiteral("8:%1").arg((quint8(payload[0]) << 8) | quint8(payload[1]))
                                  : QString::number(opcode));
        at += header + length;
    }
    return frames;
}

} // namespace

// The server in this process on the loopback address, with a fake clock behind its actions: every answer,
// every limit, and the threads the work happens on.
class TestRemoteServer final : public QObject
{
    Q_OBJECT

    const QString viewer_ = newToken();
    const QString control_ = newToken();
    quint16 port_ = 0;
    QList<QThread *> performThreads_;
    QMap<QString, AnnouncedService> announced_;
    Announcer::Report report_;
    std::unique_ptr<ModuleServer> server_;

    void start(const ServerLimits &limits)
    {
        const MakeAnnouncer fake = [this](Announcer::Report report) {
            report_ = std::move(report);
            return std::make_unique<FakeAnnouncer>(announced_);
        };
        performThreads_.clear();
        server_ = std::make_unique<ModuleServer>(
            [this](ClockCommand command, const QString &text) {
                performThreads_.append(QThread::currentThread());
                ActionOutcome outcome;
                if (command == ClockCommand::Pause) {
                    outcome.refusal = QStringLiteral("Pause needs the clock running.");
                }
                outcome.snapshot.state = ClockState::Running;
                outcome.snapshot.message = text;
                return outcome;
            },
            limits, fake);
        port_ = freePort();
        QCOMPARE(server_->listen({port_, viewer_, control_}), std::nullopt);
    }

private slots:
    void cleanup() { server_.reset(); }

    void answers_byRouteTokenAndClock()
    {
        start({});
        const QByteArray c = "?token=" + control_.toLatin1();
        const QByteArray started = get(port_, "/api/v1/message" + c + "&text=Two%20minutes");
        QCOMPARE(statusOf(started), 200);
        QCOMPARE(bodyOf(started)["message"], "Two minutes");
        QCOMPARE(performThreads_, QList<QThread *>{QThread::currentThread()});
        const QByteArray refused = exchange(port_, "POST /api/v1/pause HTTP/1.1\r\nHost: localhost\r\n"
                                                   "Authorization: Bearer " +
                                                       control_.toLatin1() + "\r\n\r\n");
        QCOMPARE(statusOf(refused), 409);
        QCOMPARE(bodyOf(refused)["error"], "Pause needs the clock running.");
        QCOMPARE(statusOf(get(port_, "/api/v1/start?token=" + viewer_.toLatin1())), 403);
        QCOMPARE(statusOf(get(port_, "/api/v1/state?token=" + viewer_.toLatin1())), 200);
        QCOMPARE(statusOf(get(port_, "/api/v1/state")), 401);
        QCOMPARE(statusOf(get(port_, "/api/v1/nothing" + c)), 404);
        QCOMPARE(statusOf(exchange(port_, "PUT /api/v1/state HTTP/1.1\r\nHost: localhost\r\n\r\n")), 405);
        QCOMPARE(statusOf(get(port_, "/api/v1/state" + c, "Host: rebound.example\r\n")), 421); // two hosts
        QCOMPARE(statusOf(exchange(port_, "GET /" + c + " HTTP/1.1\r\nHost: rebound.example\r\n\r\n")), 421);
        const QByteArray unauthorised = get(port_, "/");
        QCOMPARE(statusOf(unauthorised), 401);
        QVERIFY(unauthorised.contains("\"Share on Network...\""));
        const QByteArray page = get(port_, "/" + c);
        QCOMPARE(statusOf(page), 200);
        for (const char *header : {"X-Content-Type-Options: nosniff", "Referrer-Policy: no-referrer",
                                   "Content-Security-Policy: default-src 'none'; script-src 'sha256-"}) {
            QVERIFY2(page.contains(header), header);
        }
        QVERIFY(!page.contains("Access-Control"));
        QVERIFY(page.contains("; connect-src ws://127.0.0.1 http://127.0.0.1;")); // the socket and the programme
        // The control link opens the chair's page with its controls, the viewer link the digits alone.
        QVERIFY(page.contains("<button id=\"go\">"));
        const QByteArray viewerPage = get(port_, "/?token=" + viewer_.toLatin1());
        QCOMPARE(statusOf(viewerPage), 200);
        QVERIFY(viewerPage.contains("id=\"digits\"") && !viewerPage.contains("<button"));
        QCOMPARE(performThreads_.size(), 2);

        // The programme of the last snapshot, for either link; the state stamped with the wall clock of its
        // answer, not of its snapshot.
        QCOMPARE(get(port_, "/api/v1/programme?token=" + viewer_.toLatin1()).endsWith(R"({"count":0,"talks":[]})"),
                 true);
        ClockSnapshot talk;
        talk.session = {1, 1, 0, {}, {}, 0, {{1, QStringLiteral("Keynote"), {}, {}, {}, 1200, 0, 0, false, {}, {}}}};
        server_->publish(talk);
        QTRY_COMPARE(bodyOf(get(port_, "/api/v1/programme" + c))["talks"].toArray().size(), 1);
        QTest::qWait(20);
        const qint64 asked = QDateTime::currentMSecsSinceEpoch();
        const QJsonObject stamped = bodyOf(get(port_, "/api/v1/state?token=" + viewer_.toLatin1()));
        QCOMPARE(stamped["talk"].toObject()["title"], "Keynote");
        QVERIFY(stamped["wallClockMs"].toInteger() >= asked);
        QVERIFY(stamped["wallClockMs"].toInteger() <= QDateTime::currentMSecsSinceEpoch());

        // A request still arriving when sharing is switched off is not served.
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, port_);
        late.write("GET /api/v1/start" + c + " HTTP/1.1\r\n");
        QCOMPARE(statusOf(get(port_, "/api/v1/state" + c)), 200); // accepted after `late`
        server_->close();
        QTRY_COMPARE(statusOf(get(port_, "/api/v1/state" + c)), 0);
        late.write("Host: localhost\r\n\r\n");
        QTRY_COMPARE(late.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(statusOf(late.readAll()), 401);
    }

    // The HTTP port is announced while the server listens, the same TXT whatever the tokens; the name it is
    // announced by reaches the GUI thread, and Host takes it from then on.
    void announcement_followsTheServerAndItsNameIsTakenInHost()
    {
        start({});
        QUdpSocket probe; // a free port for OSC, announced under the same name while it listens
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        const quint16 osc = probe.localPort();
        probe.close();
        QCOMPARE(server_->listenOsc({osc, {}, {}}), std::nullopt);
        QCOMPARE(server_->listen({port_, viewer_, newToken()}), std::nullopt);
        QCOMPARE(announced_.keys(), (QStringList{"_http._tcp", "_osc._udp"}));
        QCOMPARE(announced_["_osc._udp"], (AnnouncedService{"_osc._udp", osc, {}}));
        QCOMPARE(announced_["_http._tcp"], (AnnouncedService{"_http._tcp", port_, {"path=/", "api=/api/v1"}}));
        const QByteArray named =
            "GET /api/v1/state?token=" + viewer_.toLatin1() + " HTTP/1.1\r\nHost: pc-2.local\r\n\r\n";
        QCOMPARE(statusOf(exchange(port_, named)), 421);
        int told = 0;
        server_->setAnnouncementListener([&told] { ++told; });
        const Announcement renamed{
            Announcement::State::Announced, "Kestrim on pc #2", "Kestrim on pc", "pc-2.local", {}};
        std::thread([this, renamed] { report_(renamed); }).join();
        QTRY_COMPARE(told, 1);
        QCOMPARE(server_->announcement(), renamed);
        QCOMPARE(statusOf(exchange(port_, named)), 200);
        server_->close();
        QCOMPARE(announced_.keys(), QStringList{"_osc._udp"});
        server_->closeOsc();
        QVERIFY(announced_.isEmpty());
    }

    void limits_holdAgainstLargeSlowManyAndGuessingClients()
    {
        ServerLimits limits;
        limits.connections = 8;
        limits.idleMs = 2000;
        start(limits);
        // Beyond the limit, closed at once; idle ones after the idle time. First, while no other is open.
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < limits.connections + 2; ++i) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->connectToHost(QHostAddress::LocalHost, port_);
        }
        const auto closed = [&sockets] {
            return std::count_if(sockets.cbegin(), sockets.cend(),
                                 [](const auto &s) { return s->state() == QAbstractSocket::UnconnectedState; });
        };
        QTRY_COMPARE_WITH_TIMEOUT(closed(), 2, 1500);
        QTRY_COMPARE_WITH_TIMEOUT(closed(), qsizetype(sockets.size()), 5000);

        const QByteArray head = "GET /api/v1/state HTTP/1.1\r\nHost: localhost\r\nX-Pad: ";
        QCOMPARE(statusOf(exchange(port_, head + QByteArray(16 * 1024, 'x') + "\r\n\r\n")), 413);
        const QByteArray body = "POST /api/v1/toggle?token=" + control_.toLatin1() +
                                " HTTP/1.1\r\nHost: localhost\r\nContent-Length: 65537\r\n\r\n";
        QCOMPARE(statusOf(exchange(port_, body + QByteArray(65537, 'x'))), 413);
        QVERIFY(performThreads_.isEmpty());

        // A viewer that answers the pings stays; one that answers nothing goes after the idle time.
        QWebSocket live;
        live.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/v1/ws?token=%2").arg(port_).arg(viewer_)));
        QVERIFY(get(port_, "/api/v1/ws?token=" + viewer_.toLatin1(),
                    "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n")
                    .startsWith("HTTP/1.1 101"));
        QCOMPARE(live.state(), QAbstractSocket::ConnectedState);

        // A viewer that reads nothing is dropped once a mebibyte waits for it, not sent all that is published.
        QTcpSocket stalled;
        stalled.setReadBufferSize(1);
        stalled.connectToHost(QHostAddress::LocalHost, port_);
        stalled.write("GET /api/v1/ws?token=" + viewer_.toLatin1() +
                      " HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
        QTRY_VERIFY(stalled.bytesAvailable() > 0);
        ClockSnapshot large;
        large.message = QString(60'000, u'x');
        const int published = 300;
        for (int i = 0; i < published; ++i) {
            server_->publish(large);
        }
        QTest::qWait(500);
        stalled.setReadBufferSize(0);
        qint64 received = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            (received += stalled.readAll().size(), stalled.state() != QAbstractSocket::ConnectedState), 10'000);
        QVERIFY2(received < published * 60'000, QByteArray::number(received));

        const QByteArray wrong = "/api/v1/state?token=" + newToken().toLatin1();
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(statusOf(get(port_, wrong)), 401);
        }
        QCOMPARE(statusOf(get(port_, "/api/v1/state?token=" + control_.toLatin1())), 429);
    }

    void stateFrames_takeTheShortestLengthAndQueueInOrderWhenTheKernelIsFull()
    {
        QCOMPARE(webSocketTextFrame(QByteArray(125, 'x')).first(2), QByteArray::fromHex("817d"));
        QCOMPARE(webSocketTextFrame(QByteArray(126, 'x')).first(4), QByteArray::fromHex("817e007e"));
        QCOMPARE(webSocketTextFrame(QByteArray(65536, 'x')).first(10), QByteArray::fromHex("817f0000000000010000"));
        QTcpServer listener;
        QTcpSocket reader;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        reader.connectToHost(QHostAddress::LocalHost, listener.serverPort());
        QVERIFY(listener.waitForNewConnection(5000));
        std::unique_ptr<QTcpSocket> writer(listener.nextPendingConnection());
        const int small = 4096;
        ::setsockopt(int(writer->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        QByteArray sent, received;
        for (char c = 'a'; c < 'u'; ++c) {
            if (c == 'k') { // room in the kernel again, while older bytes still wait in the socket
                QVERIFY(reader.waitForReadyRead(5000));
                received += reader.readAll();
            }
            sent += webSocketTextFrame(QByteArray(50'000, c));
            writeAtOnce(*writer, sent.last(50'004));
        }
        QVERIFY(writer->bytesToWrite() > 0);
        QTRY_COMPARE((received += reader.readAll()).size(), sent.size());
        QCOMPARE(received, sent);
    }

    void webSocket_streamsTheStateAndTakesBoundedActions()
    {
        start({});
        ClockSnapshot snapshot;
        snapshot.minutes = QStringLiteral("07");
        server_->publish(snapshot);
        const auto open = [this](const QString &token, QList<QJsonObject> &received) {
            auto socket = std::make_unique<QWebSocket>();
            connect(socket.get(), &QWebSocket::textMessageReceived, this,
                    [&received](const QString &m) { received.append(QJsonDocument::fromJson(m.toUtf8()).object()); });
            socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/v1/ws?token=%2").arg(port_).arg(token)));
            return socket;
        };
        QList<QJsonObject> seen, driven;
        const auto viewer = open(viewer_, seen);
        const auto control = open(control_, driven);
        QTRY_COMPARE(seen.size(), 1);
        QTRY_COMPARE(driven.size(), 1);
        QCOMPARE(seen[0]["minutes"], "07");
        snapshot.minutes = QStringLiteral("08");
        server_->publish(snapshot);
        QTRY_COMPARE(seen.size(), 2);
        QCOMPARE(seen[1]["minutes"], "08");

        viewer->sendTextMessage(QStringLiteral(R"({"action":"start"})"));
        QTRY_COMPARE(seen.size(), 3);
        QCOMPARE(seen[2]["status"], 403);
        QTRY_COMPARE(driven.size(), 2);
        control->sendTextMessage(QStringLiteral(R"({"action":"message","text":"Hi"})"));
        QTRY_COMPARE(driven.size(), 3);
        QCOMPARE(driven[2]["status"], 200);
        QCOMPARE(driven[2]["state"].toObject()["message"], "Hi");

        // New tokens close what came with the old ones.
        QCOMPARE(server_->listen({port_, newToken(), control_}), std::nullopt);
        QTRY_COMPARE(viewer->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(control->state(), QAbstractSocket::ConnectedState);

        for (int i = 0; i < 21; ++i) {
            control->sendTextMessage(QStringLiteral(R"({"action":"continue"})"));
        }
        QTRY_COMPARE(control->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(control->closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
        QList<QJsonObject> more;
        const auto big = open(control_, more);
        QTRY_COMPARE(more.size(), 1);
        big->sendTextMessage(QString(4097, u'x'));
        QTRY_COMPARE(big->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(big->closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);

        // Pings are answered with their payload; binary is refused; a client's close is answered and ends it.
        QList<QJsonObject> other;
        const auto binary = open(control_, other);
        const auto closer = open(control_, other);
        QTRY_COMPARE(other.size(), 2);
        QByteArray echoed;
        connect(closer.get(), &QWebSocket::pong, this, [&echoed](quint64, const QByteArray &p) { echoed = p; });
        closer->ping("are you there");
        QTRY_COMPARE(echoed, "are you there");
        binary->sendBinaryMessage("\x01");
        QTRY_COMPARE(binary->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(binary->closeCode(), QWebSocketProtocol::CloseCodeDatatypeNotSupported);
        closer->close(QWebSocketProtocol::CloseCodeGoingAway);
        QTRY_COMPARE(closer->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(closer->closeCode(), QWebSocketProtocol::CloseCodeGoingAway);

        // Frames sent along with the handshake are read; after the close frame nothing follows, not even the
        // answers to the actions it cut short.
        QByteArray flood = "GET /api/v1/ws?token=" + control_.toLatin1() +
                           " HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
        const QByteArray action = R"({"action":"continue"})";
        for (int i = 0; i < 21; ++i) {
            flood += "\x81" + QByteArray(1, char(0x80 | action.size())) + QByteArray(4, '\0') + action; // mask 0
        }
        const QByteArray answer = exchange(port_, flood);
        QVERIFY2(answer.startsWith("HTTP/1.1 101 Switching Protocols\r\n"), answer);
        QCOMPARE(serverFrames(answer), QStringList({"1", "8:1008"}));
    }
};

QTEST_GUILESS_MAIN(TestRemoteServer)
#include "tst_remoteserver.moc"
