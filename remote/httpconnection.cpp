#include "remote/httpconnection.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <sys/socket.h>

HttpConnection::HttpConnection(QTcpSocket *socket, const ServerLimits &limits, QObject *parent)
    : QObject(parent)
    , socket_(socket)
    , idle_(new QTimer(this))
    , limits_(limits)
{
    socket_->setParent(this);
    // The socket reads no further ahead than a whole head: a client cannot make it buffer more.
    socket_->setReadBufferSize(limits_.headBytes + 1);
    idle_->setSingleShot(true);
    connect(idle_, &QTimer::timeout, socket_, &QTcpSocket::abort);
    connect(socket_, &QTcpSocket::readyRead, this, &HttpConnection::readSome);
    connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    idle_->start(limits_.idleMs);
    readSome();
}

void HttpConnection::readSome()
{
    if (phase_ == Phase::Handled) {
        // Read and dropped: closing with bytes unread would reset the connection and could lose the answer.
        socket_->skip(socket_->bytesAvailable());
        return;
    }
    if (phase_ == Phase::Head) {
        // Peeked until it is whole: the socket's own buffer, bounded above, holds it meanwhile.
        const QByteArray head = socket_->peek(limits_.headBytes + 1);
        const HeadResult result = parseHead(head, limits_.headBytes);
        switch (result.status) {
        case HeadResult::Status::Incomplete:
            return;
        case HeadResult::Status::TooLarge:
            phase_ = Phase::Handled;
            emit failed(this, 413);
            return;
        case HeadResult::Status::Bad:
            phase_ = Phase::Handled;
            emit failed(this, 400);
            return;
        case HeadResult::Status::Complete:
            break;
        }
        request_ = result.request;
        socket_->skip(result.headLength);
        if (request_.contentLength > limits_.bodyBytes) {
            phase_ = Phase::Handled;
            emit failed(this, 413);
            return;
        }
        if (request_.contentLength == 0) {
            phase_ = Phase::Handled;
            emit requestReady(this, request_, {});
            return;
        }
        phase_ = Phase::Body;
    }
    if (phase_ == Phase::Body) {
        body_ += socket_->read(request_.contentLength - body_.size());
        if (body_.size() == request_.contentLength) {
            phase_ = Phase::Handled;
            emit requestReady(this, request_, body_);
        }
    }
}

void HttpConnection::respond(QByteArray response)
{
    phase_ = Phase::Handled;
    // Once the answer is out, only our side is shut: the client reads it and closes, and whatever it still
    // sends is dropped meanwhile. The idle timer bounds all of it.
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (socket_->bytesToWrite() == 0) {
            ::shutdown(static_cast<int>(socket_->socketDescriptor()), SHUT_WR);
        }
    });
    socket_->write(response);
    readSome();
}

QTcpSocket *HttpConnection::release()
{
    idle_->stop();
    disconnect(socket_, nullptr, this, nullptr);
    QTcpSocket *socket = socket_;
    socket->setReadBufferSize(0);
    socket->setParent(nullptr);
    socket_ = nullptr;
    deleteLater();
    return socket;
}

void writeAtOnce(QTcpSocket &socket, const QByteArray &bytes)
{
    qint64 sent = 0;
    if (socket.bytesToWrite() == 0 && socket.socketDescriptor() >= 0) {
        // On an error nothing is sent here, and QTcpSocket's own write below meets the error and reports it.
        sent = std::max<qint64>(0, ::send(static_cast<int>(socket.socketDescriptor()), bytes.constData(),
                                          static_cast<size_t>(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL));
    }
    if (sent < bytes.size()) {
        socket.write(bytes.constData() + sent, bytes.size() - sent);
    }
}
