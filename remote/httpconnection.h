#pragma once

#include "remote/httprequest.h"

#include <QByteArray>
#include <QObject>

class QTcpSocket;
class QTimer;

// The bounds that keep one client, or many, from holding the server.
struct ServerLimits
{
    qsizetype headBytes = 16 * 1024;
    qsizetype bodyBytes = 64 * 1024;
    int connections = 128;
    int idleMs = 30'000;
    qsizetype wsMessageBytes = 4 * 1024;
    int wsMessagesPerSecond = 20;
};

// Writes `bytes` after whatever `socket` has queued, handing them to the kernel at once when nothing is
// queued before them. Through QTcpSocket alone, every write switches the socket's write notifier on and
// off again, and the event loop walks every watched socket to do so: with a hundred viewers that costs
// more than the writes themselves.
void writeAtOnce(QTcpSocket &socket, const QByteArray &bytes);

// One HTTP connection, one request: reads the head (never more than the limit into memory), then the body,
// then hands the request on; answers once and closes. A request that does not arrive whole within the idle
// time, or an answer the client does not take within it, ends the connection.
class HttpConnection final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HttpConnection)

public:
    // Takes `socket` as its child.
    HttpConnection(QTcpSocket *socket, const ServerLimits &limits, QObject *parent);

    QTcpSocket *socket() const { return socket_; }
    // Whether the request came in with this token (to close it when the token is withdrawn).
    void setToken(const QString &token) { token_ = token; }
    const QString &token() const { return token_; }

    // Writes the answer and closes once it is sent.
    void respond(QByteArray response);
    // Gives up the socket, with whatever followed the request still unread in it (a WebSocket's first
    // frames), and deletes this object later.
    QTcpSocket *release();

signals:
    void requestReady(HttpConnection *connection, const HttpRequest &request, const QByteArray &body);
    // A head or body too large or malformed: the answer (413 or 400) is written by the caller's `failed`.
    void failed(HttpConnection *connection, int status);

private:
    void readSome();

    QTcpSocket *socket_;
    QTimer *idle_;
    ServerLimits limits_;
    enum class Phase
    {
        Head,
        Body,
        Handled
    } phase_ = Phase::Head;
    HttpRequest request_;
    QByteArray body_;
    QString token_;
};
