#include "remote/router.h"

#include "remote/remoteprotocol.h"

#include <array>

namespace {

struct Entry
{
    QByteArrayView path; // a path ending in "/" takes one more segment: the action's name
    Route route;
    QByteArrayView methods;
};

constexpr QByteArrayView ApiPrefix = "/api/v1/";

constexpr std::array<Entry, 5> Table = {{
    {"/", Route::Page, "GET"},
    {"/api/v1/state", Route::State, "GET"},
    {"/api/v1/ws", Route::WebSocket, "GET"},
    {"/api/v1/programme", Route::Programme, "GET"},
    {ApiPrefix, Route::Action, "GET, POST"},
}};

bool takes(QByteArrayView methods, QByteArrayView method)
{
    // HEAD is answered as GET by no route: the stage desk never sends it, and a browser does not need it.
    for (QByteArrayView rest = methods; !rest.isEmpty();) {
        const qsizetype comma = rest.indexOf(',');
        if (rest.first(comma < 0 ? rest.size() : comma).trimmed() == method) {
            return true;
        }
        rest = comma < 0 ? QByteArrayView() : rest.sliced(comma + 1);
    }
    return false;
}

} // namespace

RouteMatch routeFor(QByteArrayView method, QByteArrayView path)
{
    for (const Entry &entry : Table) {
        RouteMatch match{200, entry.route, {}, entry.methods};
        if (entry.route == Route::Action) {
            if (!path.startsWith(entry.path)) {
                continue;
            }
            const QString name = QString::fromLatin1(path.sliced(entry.path.size()));
            if (!RemoteProtocol::commandFor(name)) {
                continue;
            }
            match.action = name;
        } else if (path != entry.path) {
            continue;
        }
        if (!takes(entry.methods, method)) {
            match.status = 405;
        }
        return match;
    }
    return {404, Route::Page, {}, {}};
}
