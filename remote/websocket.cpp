#include "remote/websocket.h"

#include "remote/httpconnection.h"
#include "remote/httpresponse.h"

#include <QCryptographicHash>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <sys/socket.h>

namespace WebSocket {

namespace {

enum Opcode : quint8
{
    Continuation = 0x0,
    TextFrame = 0x1,
    BinaryFrame = 0x2,
    CloseFrame = 0x8,
    PingFrame = 0x9,
    PongFrame = 0xA,
};

// Two bytes of header, eight of length and four of mask.
constexpr qsizetype MaxHeaderBytes = 14;
constexpr qsizetype MaxControlPayload = 125;

// Whether a comma-separated header value holds `token` (lower case), in any case.
bool listHolds(const QByteArray &value, QByteArrayView token)
{
    const QList<QByteArray> items = value.toLower().split(',');
    return std::any_of(items.cbegin(), items.cend(),
                       [token](const QByteArray &item) { return item.trimmed() == token; });
}

bool isUtf8(QByteArrayView bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return true;
    }
    // Qt's decoder refuses overlong forms, surrogates, code points past U+10FFFF and a sequence cut short.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    return !decoder.hasError();
}

// The codes a client may close with: those the protocol defines for an endpoint to send, and the ranges
// kept for libraries and applications.
bool mayBeSent(quint16 code)
{
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) || (code >= 3000 && code <= 4999);
}

QByteArray controlFrame(Opcode opcode, QByteArrayView payload)
{
    const QByteArrayView body = payload.first(std::min(payload.size(), MaxControlPayload));
    QByteArray frame;
    frame.reserve(2 + body.size());
    frame += char(0x80 | opcode);
    frame += char(body.size());
    frame += body;
    return frame;
}

quint64 bigEndian(QByteArrayView bytes)
{
    quint64 value = 0;
    for (char c : bytes) {
        value = (value << 8) | static_cast<unsigned char>(c);
    }
    return value;
}

} // namespace

QByteArray acceptKey(QByteArrayView key)
{
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    sha1.addData(key);
    sha1.addData(QByteArrayView("258EAFA5-E914-47DA-95CA-C5AB0DC85B11"));
    return sha1.result().toBase64();
}

Handshake answerHandshake(const HttpRequest &request)
{
    const auto refuse = [](int status, QByteArrayView extra = {}) {
        return Handshake{false, httpResponse(status, "text/plain; charset=utf-8", statusText(status) + '\n', extra)};
    };
    const QByteArray key = request.header("sec-websocket-key");
    const auto decoded = QByteArray::fromBase64Encoding(key, QByteArray::AbortOnBase64DecodingErrors);
    if (request.method != "GET" || !listHolds(request.header("upgrade"), "websocket") ||
        !listHolds(request.header("connection"), "upgrade") || !decoded || decoded.decoded.size() != 16) {
        return refuse(400);
    }
    if (request.header("sec-websocket-version") != "13") {
        return refuse(426, "Sec-WebSocket-Version: 13\r\n");
    }
    // No subprotocol and no extension is agreed: every frame comes as the protocol itself defines it.
    return {true, "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Accept: " +
                      acceptKey(key) + "\r\n\r\n"};
}

QByteArray closeFrame(CloseCode code, QByteArrayView reason)
{
    if (code == CloseCode::NoStatus) {
        return controlFrame(CloseFrame, {});
    }
    const auto value = static_cast<quint16>(code);
    const char codeBytes[2] = {char(value >> 8), char(value & 0xFF)};
    QByteArray payload(codeBytes, 2);
    // Cut at a character's start, so that the reason stays UTF-8 within the 125 bytes.
    qsizetype length = std::min(reason.size(), MaxControlPayload - 2);
    while (length < reason.size() && length > 0 && (static_cast<unsigned char>(reason[length]) & 0xC0) == 0x80) {
        --length;
    }
    payload += reason.first(length);
    return controlFrame(CloseFrame, payload);
}

QByteArray pingFrame()
{
    return controlFrame(PingFrame, {});
}

QByteArray pongFrame(QByteArrayView payload)
{
    return controlFrame(PongFrame, payload);
}

void Decoder::feed(QByteArrayView bytes)
{
    if (ended_) {
        return;
    }
    buffer_.remove(0, read_);
    read_ = 0;
    buffer_.append(bytes);
}

std::optional<Event> Decoder::fail(CloseCode code, const char *why)
{
    ended_ = true;
    buffer_.clear();
    message_.clear();
    return Event{Event::Kind::Failure, why, code};
}

std::optional<Event> Decoder::next()
{
    while (!ended_) {
        const QByteArrayView rest = QByteArrayView(buffer_).sliced(read_);
        if (rest.size() < 2) {
            return std::nullopt;
        }
        const auto first = static_cast<unsigned char>(rest[0]);
        const auto second = static_cast<unsigned char>(rest[1]);
        const bool final = first & 0x80;
        const auto opcode = static_cast<Opcode>(first & 0x0F);
        const bool control = opcode & 0x08;
        if (first & 0x70) {
            return fail(CloseCode::ProtocolError, "reserved bits set without an extension");
        }
        if (!(second & 0x80)) {
            return fail(CloseCode::ProtocolError, "a client frame must be masked");
        }
        switch (opcode) {
        case Continuation:
            if (!inMessage_) {
                return fail(CloseCode::ProtocolError, "a continuation without a message");
            }
            break;
        case TextFrame:
            if (inMessage_) {
                return fail(CloseCode::ProtocolError, "a new message within a fragmented one");
            }
            break;
        case BinaryFrame:
            return fail(CloseCode::UnsupportedData, "text only");
        case CloseFrame:
        case PingFrame:
        case PongFrame:
            if (!final || (second & 0x7F) > MaxControlPayload) {
                return fail(CloseCode::ProtocolError, "a fragmented or long control frame");
            }
            break;
        default:
            return fail(CloseCode::ProtocolError, "an unknown opcode");
        }
        quint64 length = second & 0x7F;
        qsizetype header = 2;
        if (length == 126 || length == 127) {
            header += length == 126 ? 2 : 8;
            if (rest.size() < header) {
                return std::nullopt;
            }
            length = bigEndian(rest.sliced(2, header - 2));
            if (length >> 63) {
                return fail(CloseCode::ProtocolError, "a length with its highest bit set");
            }
        }
        if (!control && length > static_cast<quint64>(limit_ - message_.size())) {
            return fail(CloseCode::TooBig, "a message over the size limit");
        }
        header += 4;
        // Within the limit or 125 bytes now, so the length fits any size type.
        const auto size = static_cast<qsizetype>(length);
        if (rest.size() < header + size) {
            return std::nullopt;
        }
        const QByteArrayView mask = rest.sliced(header - 4, 4);
        QByteArray payload(size, Qt::Uninitialized);
        char *out = payload.data();
        for (qsizetype i = 0; i < size; ++i) {
            out[i] = char(rest[header + i] ^ mask[i % 4]);
        }
        read_ += header + size;
        switch (opcode) {
        case PingFrame:
            return Event{Event::Kind::Ping, payload, CloseCode::NoStatus};
        case PongFrame:
            return Event{Event::Kind::Pong, payload, CloseCode::NoStatus};
        case CloseFrame: {
            if (payload.size() == 1) {
                return fail(CloseCode::ProtocolError, "a close frame with half a code");
            }
            const auto code = payload.isEmpty() ? quint16(CloseCode::NoStatus) : quint16(bigEndian(payload.first(2)));
            if (!payload.isEmpty() && !mayBeSent(code)) {
                return fail(CloseCode::ProtocolError, "a close code no client may send");
            }
            if (!isUtf8(QByteArrayView(payload).sliced(std::min<qsizetype>(2, payload.size())))) {
                return fail(CloseCode::InvalidPayload, "a close reason that is not UTF-8");
            }
            ended_ = true;
            return Event{Event::Kind::Close, payload.mid(2), static_cast<CloseCode>(code)};
        }
        default:
            message_ += payload;
            inMessage_ = !final;
            if (inMessage_) {
                continue;
            }
            if (!isUtf8(message_)) {
                return fail(CloseCode::InvalidPayload, "a text that is not UTF-8");
            }
            return Event{Event::Kind::Text, std::exchange(message_, {}), CloseCode::NoStatus};
        }
    }
    return std::nullopt;
}

} // namespace WebSocket

using namespace WebSocket;

WebSocketConnection::WebSocketConnection(QTcpSocket *socket, qsizetype maxMessageBytes, int closeWaitMs,
                                         QObject *parent)
    : QObject(parent)
    , socket_(socket)
    , decoder_(maxMessageBytes)
    , closeWaitMs_(closeWaitMs)
{
    socket_->setParent(this);
    // The socket reads no further ahead than a whole frame of the largest message.
    socket_->setReadBufferSize(maxMessageBytes + MaxHeaderBytes);
    connect(socket_, &QTcpSocket::readyRead, this, &WebSocketConnection::readFrames);
    connect(socket_, &QTcpSocket::disconnected, this, &WebSocketConnection::end);
    // Frames that came with the handshake are in the socket already, and the client may be gone already:
    // either is taken up once the caller has connected to the signals.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (socket_->state() == QAbstractSocket::UnconnectedState) {
                end();
            } else {
                readFrames();
            }
        },
        Qt::QueuedConnection);
}

void WebSocketConnection::end()
{
    if (!over_) {
        over_ = true;
        closing_ = true;
        emit ended();
        deleteLater();
    }
}

void WebSocketConnection::readFrames()
{
    const QByteArray bytes = socket_->readAll();
    if (closing_) {
        return; // after the close frame, only the end of the connection is awaited
    }
    decoder_.feed(bytes);
    while (!closing_) {
        const std::optional<Event> event = decoder_.next();
        if (!event) {
            return;
        }
        if (event->kind != Event::Kind::Failure) {
            emit heard();
        }
        switch (event->kind) {
        case Event::Kind::Text:
            emit textReceived(event->payload);
            break;
        case Event::Kind::Ping:
            send(pongFrame(event->payload));
            break;
        case Event::Kind::Pong:
            break;
        case Event::Kind::Close:
            // The client's code goes back to it, as the protocol asks.
            close(event->code, {});
            break;
        case Event::Kind::Failure:
            close(event->code, event->payload);
            break;
        }
    }
}

void WebSocketConnection::send(const QByteArray &frame)
{
    if (closing_) {
        return;
    }
    if (socket_->bytesToWrite() > MaxUnsentBytes) {
        // Later, not here: the caller may be walking every connection when this one ends.
        closing_ = true;
        QMetaObject::invokeMethod(socket_, &QTcpSocket::abort, Qt::QueuedConnection);
        return;
    }
    write(frame);
}

void WebSocketConnection::write(const QByteArray &frame)
{
    writeAtOnce(*socket_, frame);
}

void WebSocketConnection::close(CloseCode code, QByteArrayView reason)
{
    if (closing_) {
        return;
    }
    closing_ = true;
    write(closeFrame(code, reason));
    // Our side is shut once the close frame is out, and the client ends the connection when it has read
    // it. Closing with its bytes unread would reset the connection, and could lose the close frame.
    const auto shut = [this] {
        if (socket_->bytesToWrite() == 0) {
            ::shutdown(static_cast<int>(socket_->socketDescriptor()), SHUT_WR);
        }
    };
    connect(socket_, &QTcpSocket::bytesWritten, this, shut);
    shut();
    QTimer::singleShot(closeWaitMs_, socket_, &QTcpSocket::abort);
}

void WebSocketConnection::abort()
{
    closing_ = true;
    socket_->abort();
}
