#include "remote/httprequest.h"

#include <QUrl>

namespace {

bool isToken(QByteArrayView word)
{
    if (word.isEmpty()) {
        return false;
    }
    for (char c : word) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool readRequestLine(QByteArrayView line, HttpRequest &request)
{
    const qsizetype first = line.indexOf(' ');
    const qsizetype last = line.lastIndexOf(' ');
    if (first <= 0 || last <= first) {
        return false;
    }
    const QByteArrayView method = line.first(first);
    const QByteArrayView target = line.sliced(first + 1, last - first - 1);
    const QByteArrayView version = line.sliced(last + 1);
    if (!isToken(method) || (version != "HTTP/1.1" && version != "HTTP/1.0") || !target.startsWith('/')) {
        return false;
    }
    for (char c : target) {
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
            return false;
        }
    }
    request.method = method.toByteArray();
    const qsizetype mark = target.indexOf('?');
    const QByteArrayView rawPath = mark < 0 ? target : target.first(mark);
    request.path = QByteArray::fromPercentEncoding(rawPath.toByteArray());
    if (mark >= 0) {
        request.query = formQuery(target.sliced(mark + 1).toByteArray());
    }
    return true;
}

bool readContentLength(HttpRequest &request)
{
    if (request.headers.contains("transfer-encoding")) {
        return false;
    }
    const auto found = request.headers.constFind("content-length");
    if (found == request.headers.cend()) {
        return true;
    }
    // Repeated lengths arrive joined with ","; they must all agree.
    qint64 length = -1;
    for (const QByteArray &part : found->split(',')) {
        const QByteArray digits = part.trimmed();
        bool ok = !digits.isEmpty() && digits.size() <= 18;
        for (char c : digits) {
            ok = ok && c >= '0' && c <= '9';
        }
        if (!ok || (length >= 0 && digits.toLongLong() != length)) {
            return false;
        }
        length = digits.toLongLong();
    }
    request.contentLength = length;
    return true;
}

} // namespace

HeadResult parseHead(QByteArrayView bytes, qsizetype limit)
{
    const qsizetype end = bytes.first(std::min(bytes.size(), limit)).indexOf("\r\n\r\n");
    if (end < 0) {
        return {bytes.size() >= limit ? HeadResult::Status::TooLarge : HeadResult::Status::Incomplete, {}, 0};
    }
    HeadResult result{HeadResult::Status::Bad, {}, end + 4};
    const QList<QByteArrayView> lines = [&] {
        QList<QByteArrayView> all;
        QByteArrayView rest = bytes.first(end);
        while (true) {
            const qsizetype at = rest.indexOf("\r\n");
            all.append(at < 0 ? rest : rest.first(at));
            if (at < 0) {
                return all;
            }
            rest = rest.sliced(at + 2);
        }
    }();
    if (!readRequestLine(lines.first(), result.request)) {
        return result;
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArrayView line = lines[i];
        const qsizetype colon = line.indexOf(':');
        // No folded lines, no blanks before the colon (a smuggling trick), no bare control characters.
        if (colon <= 0 || !isToken(line.first(colon))) {
            return result;
        }
        for (char c : line) {
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
                return result;
            }
        }
        const QByteArray name = line.first(colon).toByteArray().toLower();
        const QByteArray value = line.sliced(colon + 1).toByteArray().trimmed();
        auto &slot = result.request.headers[name];
        slot = slot.isEmpty() ? value : slot + ',' + value;
    }
    if (!readContentLength(result.request)) {
        return result;
    }
    result.status = HeadResult::Status::Complete;
    return result;
}

QUrlQuery formQuery(QByteArray text)
{
    text.replace('+', "%20");
    return QUrlQuery(QString::fromUtf8(text));
}
