#include "remote/httpresponse.h"

#include <QCryptographicHash>
#include <QFile>

namespace {

constexpr QByteArrayView DataPolicy = "default-src 'none'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'";

struct Page
{
    QByteArray html;
    QByteArray policy; // with "%HOST%" for the host the request named
};

// The hash of the text between `open` and the next `close`, as a policy source ('sha256-...').
QByteArray hashSource(const QByteArray &html, QByteArrayView open, QByteArrayView close)
{
    const qsizetype begin = html.indexOf(open);
    const qsizetype end = html.indexOf(close, begin);
    if (begin < 0 || end < 0) {
        return "'none'";
    }
    const QByteArray inner = html.mid(begin + open.size(), end - begin - open.size());
    return "'sha256-" + QCryptographicHash::hash(inner, QCryptographicHash::Sha256).toBase64() + "'";
}

// A page of one file with one inline script and one inline style, and the policy that allows exactly those.
Page loadPage(const QString &resource)
{
    QFile file(resource);
    Page p;
    if (file.open(QIODevice::ReadOnly)) {
        p.html = file.readAll();
    }
    p.policy = "default-src 'none'; script-src " + hashSource(p.html, "<script>", "</script>") + "; style-src " +
               hashSource(p.html, "<style>", "</style>") +
               "; connect-src ws://%HOST% http://%HOST%; img-src 'none'; frame-ancestors 'none'; base-uri 'none'; "
               "form-action 'none'";
    return p;
}

QByteArray pageResponse(const Page &page, QByteArrayView host)
{
    // The host is one the Host check let through: an address or a machine name, no blanks or quotes.
    QByteArray policy = page.policy;
    policy.replace("%HOST%", host.toByteArray());
    return httpResponse(200, "text/html; charset=utf-8", page.html, {}, policy);
}

} // namespace

QByteArray statusText(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 413:
        return "Content Too Large";
    case 421:
        return "Misdirected Request";
    case 426:
        return "Upgrade Required";
    case 429:
        return "Too Many Requests";
    default:
        return "Error";
    }
}

QByteArray httpResponse(int status, QByteArrayView contentType, QByteArrayView body, QByteArrayView extraHeaders,
                        QByteArrayView policy)
{
    QByteArray out;
    out.reserve(body.size() + 512);
    out += "HTTP/1.1 " + QByteArray::number(status) + ' ' + statusText(status) + "\r\n";
    out += "Content-Type: " + contentType.toByteArray() + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "X-Content-Type-Options: nosniff\r\n";
    out += "Referrer-Policy: no-referrer\r\n";
    out += "Content-Security-Policy: " + (policy.isEmpty() ? DataPolicy : policy).toByteArray() + "\r\n";
    out += "Cache-Control: no-store\r\n";
    out += "Connection: close\r\n";
    out += extraHeaders.toByteArray();
    out += "\r\n";
    out += body.toByteArray();
    return out;
}

QByteArray viewerPageResponse(QByteArrayView host)
{
    static const Page page = loadPage(QStringLiteral(":/kestrim-remote/viewer.html"));
    return pageResponse(page, host);
}

QByteArray controlPageResponse(QByteArrayView host)
{
    static const Page page = loadPage(QStringLiteral(":/kestrim-remote/control.html"));
    return pageResponse(page, host);
}

QByteArray unauthorisedPageText()
{
    return "This link has no valid token. Open the viewer link from Kestrim's \"Share on Network...\" dialog "
           "(right-click the timer's window).\n";
}

QByteArray webSocketTextFrame(QByteArrayView utf8)
{
    // FIN and the text opcode, then the length in the shortest of its three forms (RFC 6455, 5.2).
    QByteArray frame(1, char(0x81));
    const auto length = static_cast<quint64>(utf8.size());
    int lengthBytes = 0;
    if (length < 126) {
        frame += char(length);
    } else if (length <= 0xFFFF) {
        frame += char(126);
        lengthBytes = 2;
    } else {
        frame += char(127);
        lengthBytes = 8;
    }
    for (int shift = 8 * (lengthBytes - 1); shift >= 0; shift -= 8) {
        frame += char((length >> shift) & 0xFF);
    }
    frame += utf8;
    return frame;
}
