#pragma once

#include "remote/accessgate.h"
#include "remote/httpconnection.h"
#include "remote/oscmessage.h"
#include "remote/remotemodule.h"
#include "remote/router.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>

#include <functional>

class OscInput;
class QTcpServer;
class QTimer;
class WebSocketConnection;

// The server proper, on the server thread: accepts connections within the limits, answers requests by
// the route table, streams the state to WebSockets and takes OSC. It never touches the clock; actions go out through
// `requestAction` and their outcome comes back through `actionDone`, both queued across the threads.
class NetworkCore final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NetworkCore)

public:
    // Asks the GUI thread to carry out an action; its outcome is to come back to actionDone(id, ...).
    using RequestAction = std::function<void(quint64 id, ClockCommand command, const QString &text)>;

    NetworkCore(RequestAction requestAction, const ServerLimits &limits, QObject *parent = nullptr);
    ~NetworkCore() override;

    std::optional<QString> listen(const RemoteServer::Config &config);
    void close();
    void publish(const ClockSnapshot &snapshot);
    void actionDone(quint64 id, const ActionOutcome &outcome);
    // A name of this machine on the network that Host may carry: the one it is announced by.
    void acceptMachineName(const QString &name);
    std::optional<QString> listenOsc(const RemoteServer::OscConfig &config);
    void closeOsc();
    const OscCounters &oscCounters() const;

private:
    struct Client
    {
        Access access = Access::None;
        QString token;
        qint64 windowStartMs = 0;
        int messagesInWindow = 0;
        qint64 lastHeardMs = 0;
    };

    void accept();
    void handle(HttpConnection *connection, const HttpRequest &request, const QByteArray &body);
    // Asks the GUI thread to carry out the action; the answer waits for its outcome, the thread does not.
    void act(HttpConnection *connection, ClockCommand command, const HttpRequest &request, const QByteArray &body);
    void refuse(HttpConnection *connection, int status);
    void answer(HttpConnection *connection, int status, const QByteArray &json);
    void upgrade(HttpConnection *connection, const HttpRequest &request, Access access);
    void receive(WebSocketConnection *socket, const QByteArray &message);
    void sendOutcome(WebSocketConnection *socket, const ActionOutcome &outcome);
    void keepAlive();
    void dropConnectionsWithout(const RemoteServer::Config &config);

    RequestAction requestAction_;
    ServerLimits limits_;
    QTcpServer *tcp_;
    QTimer *pinger_;
    OscInput *osc_;
    QElapsedTimer clock_;
    AccessGate gate_;
    QStringList machineNames_;
    int open_ = 0; // sockets accepted and not yet destroyed, HTTP and WebSocket alike
    // The schedule, a late joiner's first state and OSC's polls are read from it, on request only.
    ClockSnapshot last_;
    QByteArray state_;
    quint64 nextId_ = 1;
    QHash<quint64, HttpConnection *> waitingHttp_;
    QHash<quint64, WebSocketConnection *> waitingSockets_;
    QHash<WebSocketConnection *, Client> clients_;
};
