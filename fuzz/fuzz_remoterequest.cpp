// What a network client sends: any bytes as a request head, as a WebSocket request, as a Host header; and
// any text the clock may hold, as the state's JSON. Nothing crashes, the head parser never reads past its
// limit, and the state's JSON always reads back as the texts it was made from.
#include "fuzzinput.h"
#include "remote/accessgate.h"
#include "remote/httprequest.h"
#include "remote/remoteprotocol.h"
#include "remote/router.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString show(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toPercentEncoding());
}

void checkHead(QByteArrayView bytes, qsizetype limit)
{
    const HeadResult result = parseHead(bytes, limit);
    switch (result.status) {
    case HeadResult::Status::Complete: {
        FUZZ_CHECK(result.headLength <= limit && result.headLength <= bytes.size(), show(bytes));
        FUZZ_CHECK(result.request.contentLength >= 0, show(bytes));
        FUZZ_CHECK(result.request.path.startsWith('/'), show(bytes));
        const RouteMatch match = routeFor(result.request.method, result.request.path);
        FUZZ_CHECK(match.status == 200 || match.status == 404 || match.status == 405, show(bytes));
        FUZZ_CHECK(match.route != Route::Action || match.status == 404 || RemoteProtocol::commandFor(match.action),
                   show(bytes));
        hostAllowed(result.request.header("host"), {QStringLiteral("machine")});
        break;
    }
    case HeadResult::Status::TooLarge:
        FUZZ_CHECK(bytes.size() >= limit, show(bytes));
        break;
    case HeadResult::Status::Incomplete:
        FUZZ_CHECK(bytes.size() < limit && !bytes.contains("\r\n\r\n"), show(bytes));
        break;
    case HeadResult::Status::Bad:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::uint8_t mode = input.byte();
    if (mode & 0x80) {
        // The state's texts as the clock may hold them (a description from the settings file, a message).
        ClockSnapshot s;
        s.description = input.utf8Until('\n');
        s.minutes = input.utf8Until('\n');
        s.background = input.raw<Colour>();
        s.elapsedMs = input.raw<std::int64_t>();
        s.message = input.rest(mode & 1);
        const QJsonObject back = QJsonDocument::fromJson(RemoteProtocol::stateJson(s, {})).object();
        FUZZ_CHECK(!back.isEmpty(), s.message);
        // Every well-formed text comes back as it is; a lone surrogate (a hand-edited file may hold one)
        // only has to leave the JSON readable.
        const auto same = [](const QString &back, const QString &text) {
            return back == text || QString::fromUtf8(text.toUtf8()) != text;
        };
        FUZZ_CHECK(same(back[QLatin1String("message")].toString(), s.message), s.message);
        FUZZ_CHECK(
            same(back[QLatin1String("stage")].toObject()[QLatin1String("description")].toString(), s.description),
            s.description);
        FUZZ_CHECK(back[QLatin1String("stage")].toObject()[QLatin1String("background")].toString().size() == 7,
                   QString::number(s.background));
        FUZZ_CHECK(same(back[QLatin1String("minutes")].toString(), s.minutes), s.minutes);
        return 0;
    }
    const QByteArray rest =
        QByteArray(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - (size > 0)));
    if (mode & 1) {
        const RemoteProtocol::ParsedRequest parsed = RemoteProtocol::parseRequest(rest);
        FUZZ_CHECK(parsed.request.has_value() == parsed.error.isEmpty(), show(rest));
        return 0;
    }
    checkHead(rest, 64 + (mode >> 1));
    return 0;
}
