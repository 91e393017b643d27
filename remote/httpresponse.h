#pragma once

#include <QByteArray>
#include <QByteArrayView>

// "Not Found" for 404, and so on for every status the server answers.
QByteArray statusText(int status);

// A whole answer with the headers every answer carries: no sniffing, no referrer, nothing loaded from
// elsewhere, never cached (the state changes every second), no CORS headers at all, and the connection
// closed after it. `extraHeaders` are whole lines, each ended by "\r\n".
QByteArray httpResponse(int status, QByteArrayView contentType, QByteArrayView body, QByteArrayView extraHeaders = {},
                        QByteArrayView policy = {});

// The viewer page for a request that named `host`; its policy allows its own inline script and style (by
// their hashes) and a WebSocket back to the same host, nothing else.
QByteArray viewerPageResponse(QByteArrayView host);

// The chair's control page, under the same kind of policy: the digits and every control of the clock.
QByteArray controlPageResponse(QByteArrayView host);

// The page's answer without a valid token.
QByteArray unauthorisedPageText();

// One unmasked WebSocket text frame holding all of `utf8`, as a server sends it: the state is framed once
// and the same frame written to every viewer.
QByteArray webSocketTextFrame(QByteArrayView utf8);
