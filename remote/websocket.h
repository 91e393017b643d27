#pragma once

#include "remote/httprequest.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>

#include <optional>

class QTcpSocket;

// The server side of RFC 6455, our own: Qt WebSockets maps OpenSSL and Qt's TLS plugin at its first
// connection even when every link is plain HTTP. Text messages only, as the viewers and the stage desk send.
namespace WebSocket {

enum class CloseCode : quint16
{
    Normal = 1000,
    ProtocolError = 1002,
    UnsupportedData = 1003,
    NoStatus = 1005, // never sent: a close frame without a code
    InvalidPayload = 1007,
    PolicyViolated = 1008,
    TooBig = 1009,
};

// "Sec-WebSocket-Accept" for a client's "Sec-WebSocket-Key": SHA-1 of the key and the protocol's GUID, in base64.
QByteArray acceptKey(QByteArrayView key);

// The answer to a GET that asks for an upgrade: the 101 that opens the WebSocket, or a whole refusal
// (400 for a request that is not a WebSocket handshake, 426 for another version of the protocol).
struct Handshake
{
    bool opened = false;
    QByteArray response;
};
Handshake answerHandshake(const HttpRequest &request);

// Server frames (never masked) of the control kinds; a payload of at most 125 bytes.
QByteArray closeFrame(CloseCode code, QByteArrayView reason = {});
QByteArray pingFrame();
QByteArray pongFrame(QByteArrayView payload);

// What a client's bytes amount to, frame by frame.
struct Event
{
    enum class Kind
    {
        Text,   // a whole message, fragments joined, valid UTF-8
        Ping,   // payload: to be sent back in the pong
        Pong,   // the answer to our ping
        Close,  // the client's close frame: code (NoStatus when it gave none) and reason
        Failure // the stream breaks the protocol: close with `code`, `payload` says why
    } kind = Kind::Text;
    QByteArray payload;
    CloseCode code = CloseCode::NoStatus;
};

// Reads client frames from bytes as they arrive, in any pieces. Every frame must be masked; a message
// may be fragmented, with control frames between its fragments. A message larger than the limit fails at
// its frame's header, before its payload is taken in, so at most one frame is ever held.
class Decoder
{
public:
    explicit Decoder(qsizetype maxMessageBytes)
        : limit_(maxMessageBytes)
    {}

    void feed(QByteArrayView bytes);
    // The next event the bytes so far hold whole, or nothing until more arrive. Nothing ever follows a
    // Close or a Failure.
    std::optional<Event> next();

private:
    std::optional<Event> fail(CloseCode code, const char *why);

    qsizetype limit_;
    QByteArray buffer_;
    qsizetype read_ = 0; // of buffer_, taken as whole frames
    QByteArray message_; // the fragments of a message so far
    bool inMessage_ = false;
    bool ended_ = false;
};

} // namespace WebSocket

// One client's WebSocket once its handshake is through: frames in and out over the connection, the ping
// answered, the close handshake, and the bound on what waits unsent. What the messages mean, who may send
// them and how often is the caller's.
class WebSocketConnection final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WebSocketConnection)

public:
    // A client that has not read this much of what was sent to it is not reading at all.
    static constexpr qint64 MaxUnsentBytes = 1024 * 1024;

    // Takes `socket` as its child, with the handshake read from it; once a close frame is out, the client
    // has `closeWaitMs` to end the connection.
    WebSocketConnection(QTcpSocket *socket, qsizetype maxMessageBytes, int closeWaitMs, QObject *parent);

    // A whole frame, made beforehand (the state's is made once for every viewer). Nothing follows the
    // close frame; a client with more than MaxUnsentBytes waiting is dropped instead.
    void send(const QByteArray &frame);
    void ping() { send(WebSocket::pingFrame()); }
    // Sends the close frame and ends the connection once the client has it.
    void close(WebSocket::CloseCode code, QByteArrayView reason);
    void abort();
    bool closing() const { return closing_; }

signals:
    void textReceived(const QByteArray &utf8);
    // Any whole frame from the client: it is still there.
    void heard();
    // The connection is over; the object is deleted later.
    void ended();

private:
    void readFrames();
    void write(const QByteArray &frame);
    void end();

    QTcpSocket *socket_;
    WebSocket::Decoder decoder_;
    int closeWaitMs_;
    bool closing_ = false;
    bool over_ = false;
};
