// The reference for what sharing on the network costs: the least a Qt program does to keep WebSocket
// viewers up to date. It takes the same handshake as Kestrim's server (any token), answers it with the
// same 101 and a first frame, and once a second writes one text frame of the size asked for to every
// viewer: framed once, handed to each socket with one send() as Kestrim's server does. It reads nothing
// after the handshake, checks no token, pings nobody and runs no clock.
//
//   kestrim_sharingbaseline <port> <payload bytes>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <sys/socket.h>

namespace {

QByteArray textFrame(qsizetype payloadBytes, int count)
{
    // JSON, as the state is, padded to the size of the state.
    QByteArray payload = R"({"state":"Reference","count":)" + QByteArray::number(count) + R"(,"pad":")";
    payload += QByteArray(std::max<qsizetype>(0, payloadBytes - payload.size() - 2), 'x') + "\"}";
    QByteArray frame(1, char(0x81));
    if (payload.size() < 126) {
        frame += char(payload.size());
    } else {
        frame += char(126);
        frame += char(payload.size() >> 8);
        frame += char(payload.size() & 0xFF);
    }
    return frame + payload;
}

void sendAtOnce(QTcpSocket *socket, const QByteArray &bytes)
{
    qint64 sent = 0;
    if (socket->bytesToWrite() == 0) {
        sent = std::max<qint64>(0, ::send(static_cast<int>(socket->socketDescriptor()), bytes.constData(),
                                          static_cast<size_t>(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL));
    }
    if (sent < bytes.size()) {
        socket->write(bytes.constData() + sent, bytes.size() - sent);
    }
}

// The 101 for a handshake whose head is whole in `head`, or nothing while it is not.
QByteArray handshakeAnswer(const QByteArray &head)
{
    if (!head.contains("\r\n\r\n")) {
        return {};
    }
    const QByteArray lower = head.toLower();
    const qsizetype at = lower.indexOf("\r\nsec-websocket-key:");
    const qsizetype from = at + int(sizeof "\r\nsec-websocket-key:") - 1;
    const QByteArray key = at < 0 ? QByteArray() : head.mid(from, head.indexOf("\r\n", from) - from).trimmed();
    const QByteArray accept =
        QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1).toBase64();
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: " +
           accept + "\r\n\r\n";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        qCritical("usage: kestrim_sharingbaseline <port> <payload bytes>");
        return 2;
    }
    const auto port = arguments[1].toUShort();
    const qsizetype payloadBytes = arguments[2].toLongLong();

    QTcpServer server;
    if (!server.listen(QHostAddress::Any, port)) {
        qCritical("cannot listen on port %u", unsigned(port));
        return 1;
    }
    QSet<QTcpSocket *> viewers;
    int count = 0;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [&viewers, socket] {
                viewers.remove(socket);
                socket->deleteLater();
            });
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [&viewers, &count, payloadBytes, socket] {
                if (viewers.contains(socket)) {
                    socket->skip(socket->bytesAvailable());
                    return;
                }
                const QByteArray answer = handshakeAnswer(socket->peek(16 * 1024));
                if (!answer.isEmpty()) {
                    socket->skip(socket->bytesAvailable());
                    viewers.insert(socket);
                    sendAtOnce(socket, answer + textFrame(payloadBytes, count));
                }
            });
        }
    });
    QTimer second;
    QObject::connect(&second, &QTimer::timeout, &second, [&] {
        const QByteArray frame = textFrame(payloadBytes, ++count);
        for (QTcpSocket *socket : std::as_const(viewers)) {
            sendAtOnce(socket, frame);
        }
    });
    second.start(1000);
    return QCoreApplication::exec();
}
