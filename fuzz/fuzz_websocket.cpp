// What a WebSocket client sends: any request head as a handshake, any bytes as frames, and messages a
// client of any make could frame (fragmented, masked with any key, a length in any of its forms, pings in
// between). Nothing crashes; a handshake opens only with the key's own accept value; the decoder gives the
// same events however the bytes are cut into pieces; and every message framed comes back whole, or the
// first one that is too large or not UTF-8 ends the stream with the code for it.
#include "fuzzinput.h"
#include "remote/httprequest.h"
#include "remote/websocket.h"

#include <QStringList>

namespace {

using WebSocket::CloseCode;
using WebSocket::Event;

QString show(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toPercentEncoding());
}

bool utf8(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

QString describe(const Event &event)
{
    return QStringLiteral("%1:%2:%3").arg(int(event.kind)).arg(quint16(event.code)).arg(show(event.payload));
}

QStringList decodeAll(QByteArrayView bytes, qsizetype limit, qsizetype step)
{
    WebSocket::Decoder decoder(limit);
    QStringList events;
    bool ended = false;
    for (qsizetype at = 0; at < bytes.size(); at += step) {
        decoder.feed(bytes.sliced(at, std::min(step, bytes.size() - at)));
        while (const std::optional<Event> event = decoder.next()) {
            FUZZ_CHECK(!ended, show(bytes));
            ended = event->kind == Event::Kind::Close || event->kind == Event::Kind::Failure;
            if (event->kind == Event::Kind::Text) {
                FUZZ_CHECK(event->payload.size() <= limit && utf8(event->payload), show(bytes));
            } else if (!ended) {
                FUZZ_CHECK(event->payload.size() <= 125, show(bytes));
            }
            events.append(describe(*event));
        }
    }
    return events;
}

void checkHandshake(QByteArrayView bytes)
{
    const HeadResult head = parseHead(bytes, 4096);
    if (head.status != HeadResult::Status::Complete) {
        return;
    }
    const WebSocket::Handshake answer = WebSocket::answerHandshake(head.request);
    const QByteArray key = head.request.header("sec-websocket-key");
    if (answer.opened) {
        FUZZ_CHECK(answer.response.startsWith("HTTP/1.1 101 Switching Protocols\r\n"), show(bytes));
        FUZZ_CHECK(answer.response.contains("\r\nSec-WebSocket-Accept: " + WebSocket::acceptKey(key) + "\r\n"),
                   show(bytes));
        FUZZ_CHECK(QByteArray::fromBase64(key).size() == 16, show(bytes));
        FUZZ_CHECK(head.request.header("sec-websocket-version") == "13", show(bytes));
    } else {
        FUZZ_CHECK(answer.response.startsWith("HTTP/1.1 400 ") || answer.response.startsWith("HTTP/1.1 426 "),
                   show(bytes));
    }
}

// A client's frame, in the length form asked for (the shortest, or always eight bytes).
QByteArray clientFrame(quint8 head, QByteArrayView payload, std::uint32_t key, bool longForm)
{
    QByteArray frame(1, char(head));
    const auto size = static_cast<quint64>(payload.size());
    const int lengthBytes = longForm ? 8 : size < 126 ? 0 : size <= 0xFFFF ? 2 : 8;
    frame += char(0x80 | (lengthBytes == 0 ? size : lengthBytes == 2 ? 126 : 127));
    for (int shift = 8 * (lengthBytes - 1); shift >= 0; shift -= 8) {
        frame += char((size >> shift) & 0xFF);
    }
    const char mask[4] = {char(key >> 24), char(key >> 16), char(key >> 8), char(key)};
    frame += QByteArrayView(mask, 4);
    for (qsizetype i = 0; i < payload.size(); ++i) {
        frame += char(payload[i] ^ mask[i % 4]);
    }
    return frame;
}

// Messages framed from the input, and the events a decoder must make of them.
void checkRoundTrip(FuzzInput &input, qsizetype limit, qsizetype step)
{
    QByteArray stream;
    QStringList expected;
    bool ended = false;
    while (!input.empty()) {
        const std::uint8_t flags = input.byte();
        const std::uint32_t key = input.raw<std::uint32_t>();
        if (flags & 0x80) {
            stream += clientFrame(0x88, QByteArray::fromHex("03e8"), key, false);
            if (!ended) {
                expected.append(describe(Event{Event::Kind::Close, {}, CloseCode::Normal}));
            }
            break;
        }
        QByteArray message;
        for (qsizetype n = input.byte() * ((flags & 0x10) ? 40 : 1); n > 0 && !input.empty(); --n) {
            message += char(input.byte());
        }
        const int fragments = 1 + (flags & 7);
        const bool pings = flags & 0x08;
        qsizetype at = 0;
        for (int f = 0; f < fragments; ++f) {
            const qsizetype end = f + 1 == fragments ? message.size() : message.size() * (f + 1) / fragments;
            const QByteArrayView piece = QByteArrayView(message).sliced(at, end - at);
            stream +=
                clientFrame((f + 1 == fragments ? 0x80 : 0x00) | (f == 0 ? 0x01 : 0x00), piece, key, flags & 0x40);
            if (!ended && end > limit) {
                expected.append(describe(Event{Event::Kind::Failure, {}, CloseCode::TooBig}));
                ended = true;
            }
            at = end;
            if (pings && f + 1 < fragments) {
                stream += clientFrame(0x89, "p", key, false);
                if (!ended) {
                    expected.append(describe(Event{Event::Kind::Ping, "p", CloseCode::NoStatus}));
                }
            }
        }
        if (!ended) {
            ended = !utf8(message);
            expected.append(ended ? describe(Event{Event::Kind::Failure, {}, CloseCode::InvalidPayload})
                                  : describe(Event{Event::Kind::Text, message, CloseCode::NoStatus}));
        }
    }
    QStringList got = decodeAll(stream, limit, step);
    // A failure's reason is the decoder's to word.
    if (!got.isEmpty() && got.last().startsWith(QString::number(int(Event::Kind::Failure)) + u':')) {
        got.last() = got.last().section(u':', 0, 1) + u':';
    }
    FUZZ_CHECK(got == expected, show(stream) + u' ' + got.join(u'|') + QStringLiteral(" != ") + expected.join(u'|'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::uint8_t mode = input.byte();
    const qsizetype limit = 1 + 32 * input.byte();
    const qsizetype step = 1 + input.byte() % 64;
    if (mode & 0x80) {
        const QByteArray rest(reinterpret_cast<const char *>(data + std::min<std::size_t>(size, 3)),
                              static_cast<qsizetype>(size - std::min<std::size_t>(size, 3)));
        checkHandshake(rest);
        return 0;
    }
    if (mode & 0x40) {
        checkRoundTrip(input, limit, step);
        return 0;
    }
    const QByteArray rest(reinterpret_cast<const char *>(data + std::min<std::size_t>(size, 3)),
                          static_cast<qsizetype>(size - std::min<std::size_t>(size, 3)));
    FUZZ_CHECK(decodeAll(rest, limit, rest.size() + 1) == decodeAll(rest, limit, step), show(rest));
    return 0;
}
