#include "remote/networkcore.h"

#include "remote/httpresponse.h"
#include "remote/oscinput.h"
#include "remote/remoteprotocol.h"
#include "remote/websocket.h"

#include <QHostInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// Checks for silent viewers in each idle time.
constexpr int KeepAliveChecks = 6;

// The token of "Authorization: Bearer T", or else of "?token=T".
QString presentedToken(const QByteArray &authorization, const QUrlQuery &query)
{
    if (authorization.startsWith("Bearer ")) {
        return QString::fromLatin1(authorization.sliced(7).trimmed());
    }
    return query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
}

// Answers on a WebSocket, as the HTTP call would answer: {"status", "state"} or {"status", "error"}.
void sendAnswer(WebSocketConnection *socket, const QJsonObject &answer)
{
    socket->send(webSocketTextFrame(QJsonDocument(answer).toJson(QJsonDocument::Compact)));
}

// The state with the laptop's wall clock of the moment it leaves.
QByteArray stampedState(const ClockSnapshot &snapshot)
{
    return RemoteProtocol::stateJson(snapshot, RemoteProtocol::WallClock::now());
}

void sendError(WebSocketConnection *socket, int status, const QString &error)
{
    sendAnswer(socket, QJsonObject{{QStringLiteral("status"), status}, {QStringLiteral("error"), error}});
}

} // namespace

NetworkCore::NetworkCore(RequestAction requestAction, const ServerLimits &limits, QObject *parent)
    : QObject(parent)
    , requestAction_(std::move(requestAction))
    , limits_(limits)
    , tcp_(new QTcpServer(this))
    , pinger_(new QTimer(this))
    // Its actions are answered to no one: their outcome finds no waiting connection in actionDone.
    , osc_(new OscInput([this](ClockCommand command, const QString &text) { requestAction_(nextId_++, command, text); },
                        last_, this))
{
    clock_.start();
    const QString host = QHostInfo::localHostName();
    machineNames_ = {host, host + QStringLiteral(".local")};
    if (const QString domain = QHostInfo::localDomainName(); !domain.isEmpty()) {
        machineNames_.append(host + u'.' + domain);
    }
    // Connections are taken as they come, so the kernel's queue stays short; the limit is ours to keep.
    tcp_->setMaxPendingConnections(limits_.connections);
    connect(tcp_, &QTcpServer::newConnection, this, &NetworkCore::accept);
    connect(pinger_, &QTimer::timeout, this, &NetworkCore::keepAlive);
    pinger_->start(limits_.idleMs / KeepAliveChecks);
}

NetworkCore::~NetworkCore()
{
    close();
}

std::optional<QString> NetworkCore::listen(const RemoteServer::Config &config)
{
    const bool samePort = tcp_->isListening() && tcp_->serverPort() == config.port;
    dropConnectionsWithout(config);
    gate_.setTokens(config.viewerToken, config.controlToken);
    if (samePort) {
        return std::nullopt;
    }
    tcp_->close();
    if (!tcp_->listen(QHostAddress::Any, config.port)) {
        const QString reason = tcp_->serverError() == QAbstractSocket::AddressInUseError
                                   ? QStringLiteral("port %1 is in use by another program").arg(config.port)
                                   : QStringLiteral("port %1: %2").arg(config.port).arg(tcp_->errorString());
        return reason;
    }
    return std::nullopt;
}

void NetworkCore::acceptMachineName(const QString &name)
{
    if (!machineNames_.contains(name, Qt::CaseInsensitive)) {
        machineNames_.append(name);
    }
}

void NetworkCore::close()
{
    tcp_->close();
    dropConnectionsWithout({});
    // A request or handshake still arriving on an open connection finds no token in force.
    gate_.setTokens({}, {});
}

std::optional<QString> NetworkCore::listenOsc(const RemoteServer::OscConfig &config)
{
    return osc_->listen(config);
}

void NetworkCore::closeOsc()
{
    osc_->close();
}

const OscCounters &NetworkCore::oscCounters() const
{
    return osc_->counters();
}

void NetworkCore::dropConnectionsWithout(const RemoteServer::Config &config)
{
    const auto kept = [&config](const QString &token) {
        return !token.isEmpty() && (token == config.viewerToken || token == config.controlToken);
    };
    QList<WebSocketConnection *> dropped;
    for (auto it = clients_.cbegin(); it != clients_.cend(); ++it) {
        if (!kept(it->token)) {
            dropped.append(it.key());
        }
    }
    // Aborted after the walk: an abort removes the client from the table at once.
    for (WebSocketConnection *socket : dropped) {
        socket->abort();
    }
    for (HttpConnection *connection : findChildren<HttpConnection *>(Qt::FindDirectChildrenOnly)) {
        if (!connection->token().isEmpty() && !kept(connection->token())) {
            connection->socket()->abort();
        }
    }
}

void NetworkCore::publish(const ClockSnapshot &snapshot)
{
    last_ = snapshot;
    state_ = stampedState(snapshot);
    const QByteArray frame = webSocketTextFrame(state_);
    for (auto it = clients_.cbegin(); it != clients_.cend(); ++it) {
        it.key()->send(frame);
    }
}

void NetworkCore::accept()
{
    while (QTcpSocket *socket = tcp_->nextPendingConnection()) {
        if (open_ >= limits_.connections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++open_;
        connect(socket, &QObject::destroyed, this, [this] { --open_; });
        auto *connection = new HttpConnection(socket, limits_, this);
        connect(connection, &HttpConnection::requestReady, this, &NetworkCore::handle);
        connect(connection, &HttpConnection::failed, this, &NetworkCore::refuse);
    }
}

void NetworkCore::refuse(HttpConnection *connection, int status)
{
    connection->respond(httpResponse(status, "text/plain; charset=utf-8", statusText(status) + '\n'));
}

void NetworkCore::answer(HttpConnection *connection, int status, const QByteArray &json)
{
    connection->respond(httpResponse(status, "application/json", json));
}

void NetworkCore::handle(HttpConnection *connection, const HttpRequest &request, const QByteArray &body)
{
    const QString address = connection->socket()->peerAddress().toString();
    const qint64 now = clock_.elapsed();
    const QByteArray host = request.header("host");
    if (host.isEmpty()) {
        return refuse(connection, 400);
    }
    if (!hostAllowed(host, machineNames_)) {
        return refuse(connection, 421);
    }
    if (gate_.blocked(address, now)) {
        return refuse(connection, 429);
    }
    const RouteMatch match = routeFor(request.method, request.path);
    if (match.status != 200) {
        return connection->respond(
            httpResponse(match.status, "text/plain; charset=utf-8", statusText(match.status) + '\n',
                         match.status == 405 ? "Allow: " + match.allowed.toByteArray() + "\r\n" : QByteArray()));
    }
    const QString token = presentedToken(request.header("authorization"), request.query);
    const Access access = gate_.accessFor(token.toLatin1());
    if (access == Access::None) {
        gate_.recordFailure(address, now);
        if (match.route == Route::Page) {
            return connection->respond(httpResponse(401, "text/plain; charset=utf-8", unauthorisedPageText()));
        }
        return answer(connection, 401, RemoteProtocol::errorJson(QStringLiteral("missing or wrong token")));
    }
    connection->setToken(token);
    if (needsControl(match.route) && access != Access::Control) {
        return answer(connection, 403, RemoteProtocol::errorJson(QStringLiteral("this link may only view")));
    }
    switch (match.route) {
    case Route::Page:
        return connection->respond(access == Access::Control ? controlPageResponse(host) : viewerPageResponse(host));
    case Route::State:
        // Framed again, so that its wall clock is now's even when nothing has changed for an hour.
        return answer(connection, 200, stampedState(last_));
    case Route::Programme:
        return answer(connection, 200, RemoteProtocol::programmeJson(last_.session, RemoteProtocol::WallClock::now()));
    case Route::WebSocket:
        return upgrade(connection, request, access);
    case Route::Action:
        return act(connection, *RemoteProtocol::commandFor(match.action), request, body);
    }
}

void NetworkCore::act(HttpConnection *connection, ClockCommand command, const HttpRequest &request,
                      const QByteArray &body)
{
    const QString name = RemoteProtocol::argumentName(command);
    QString text = name.isEmpty() ? QString() : request.query.queryItemValue(name, QUrl::FullyDecoded);
    if (!name.isEmpty() && text.isEmpty() && !body.isEmpty()) {
        text = formQuery(body).queryItemValue(name, QUrl::FullyDecoded);
    }
    const quint64 id = nextId_++;
    waitingHttp_.insert(id, connection);
    connect(connection, &QObject::destroyed, this, [this, id] { waitingHttp_.remove(id); });
    requestAction_(id, command, text);
}

void NetworkCore::actionDone(quint64 id, const ActionOutcome &outcome)
{
    if (HttpConnection *connection = waitingHttp_.take(id)) {
        if (outcome.refusal) {
            return answer(connection, 409, RemoteProtocol::errorJson(*outcome.refusal));
        }
        return answer(connection, 200, stampedState(outcome.snapshot));
    }
    if (WebSocketConnection *socket = waitingSockets_.take(id); socket != nullptr && clients_.contains(socket)) {
        sendOutcome(socket, outcome);
    }
}

void NetworkCore::upgrade(HttpConnection *connection, const HttpRequest &request, Access access)
{
    const WebSocket::Handshake handshake = WebSocket::answerHandshake(request);
    if (!handshake.opened) {
        return connection->respond(handshake.response);
    }
    const QString token = connection->token();
    auto *socket =
        new WebSocketConnection(connection->release(), limits_.wsMessageBytes, limits_.idleMs / KeepAliveChecks, this);
    const qint64 now = clock_.elapsed();
    clients_.insert(socket, Client{access, token, now, 0, now});
    connect(socket, &WebSocketConnection::textReceived, this,
            [this, socket](const QByteArray &message) { receive(socket, message); });
    connect(socket, &WebSocketConnection::heard, this, [this, socket] {
        if (auto found = clients_.find(socket); found != clients_.end()) {
            found->lastHeardMs = clock_.elapsed();
        }
    });
    connect(socket, &WebSocketConnection::ended, this, [this, socket] {
        clients_.remove(socket);
        for (auto it = waitingSockets_.begin(); it != waitingSockets_.end();) {
            it = it.value() == socket ? waitingSockets_.erase(it) : std::next(it);
        }
    });
    socket->send(handshake.response + webSocketTextFrame(stampedState(last_)));
}

void NetworkCore::receive(WebSocketConnection *socket, const QByteArray &message)
{
    const auto found = clients_.find(socket);
    if (found == clients_.end()) {
        return;
    }
    const qint64 now = clock_.elapsed();
    if (now - found->windowStartMs >= 1000) {
        found->windowStartMs = now;
        found->messagesInWindow = 0;
    }
    if (++found->messagesInWindow > limits_.wsMessagesPerSecond) {
        socket->close(WebSocket::CloseCode::PolicyViolated, "more than 20 messages a second");
        return;
    }
    const RemoteProtocol::ParsedRequest parsed = RemoteProtocol::parseRequest(message);
    if (!parsed.request) {
        return sendError(socket, 400, parsed.error);
    }
    if (found->access != Access::Control) {
        return sendError(socket, 403, QStringLiteral("this link may only view"));
    }
    const quint64 id = nextId_++;
    waitingSockets_.insert(id, socket);
    requestAction_(id, parsed.request->command, parsed.request->text);
}

void NetworkCore::sendOutcome(WebSocketConnection *socket, const ActionOutcome &outcome)
{
    if (outcome.refusal) {
        return sendError(socket, 409, *outcome.refusal);
    }
    sendAnswer(socket, QJsonObject{{QStringLiteral("status"), 200},
                                   {QStringLiteral("state"),
                                    RemoteProtocol::stateObject(outcome.snapshot, RemoteProtocol::WallClock::now())}});
}

void NetworkCore::keepAlive()
{
    const qint64 now = clock_.elapsed();
    QList<WebSocketConnection *> silent;
    for (auto it = clients_.cbegin(); it != clients_.cend(); ++it) {
        // A viewer only listens, so its answer to a ping is all it says: asked once it has been silent
        // for half the idle time, and again at each check until it answers or the idle time is up.
        const qint64 silentMs = now - it->lastHeardMs;
        if (silentMs > limits_.idleMs) {
            silent.append(it.key());
        } else if (silentMs >= limits_.idleMs / 2) {
            it.key()->ping();
        }
    }
    for (WebSocketConnection *socket : silent) {
        socket->abort();
    }
}
