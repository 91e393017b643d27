#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QUrlQuery>

// The head of an HTTP/1.1 request, read by the server itself: QHttpServer 6.4 reads heads and bodies of any
// size into memory and gives no hook to refuse them early, which a server on a shared network must do.
struct HttpRequest
{
    QByteArray method;
    QByteArray path; // percent-decoded
    QUrlQuery query;
    QHash<QByteArray, QByteArray> headers; // lower-case names; repeated headers joined with ","
    qint64 contentLength = 0;

    QByteArray header(const char *name) const { return headers.value(QByteArray(name)); }
};

struct HeadResult
{
    enum class Status
    {
        Incomplete, // no blank line yet: wait for more
        Complete,
        TooLarge, // more than the limit without a blank line
        Bad
    } status = Status::Incomplete;
    HttpRequest request;
    qsizetype headLength = 0; // bytes up to and including the blank line
};

// A query or form body as a browser sends it: "+" is a blank, "%2B" a plus.
QUrlQuery formQuery(QByteArray text);

// Reads the request head at the start of `bytes`, which may hold more (a body) or less (wait for more).
// The head is at most `limit` bytes. Only origin-form targets ("/path?query") are taken; a request with
// Transfer-Encoding, a negative or unreadable Content-Length, or two different Content-Lengths is Bad.
HeadResult parseHead(QByteArrayView bytes, qsizetype limit);
