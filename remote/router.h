#pragma once

#include <QByteArrayView>
#include <QString>

// Where a request goes, from its method and path alone. The table in router.cpp lists every path.
enum class Route
{
    Page,      // GET /: the viewer page, or the control page for the control token
    State,     // GET /api/v1/state
    Action,    // GET or POST /api/v1/<action>
    WebSocket, // GET /api/v1/ws
    Programme, // GET /api/v1/programme
};

struct RouteMatch
{
    int status = 200; // 200, or 404 (no such path) or 405 (the path, but not that method)
    Route route = Route::Page;
    QString action;         // for Route::Action: its name ("undo-reset")
    QByteArrayView allowed; // for a 405: the methods the path takes ("GET, POST")
};

RouteMatch routeFor(QByteArrayView method, QByteArrayView path);

// Whether a route needs the control token rather than either token.
constexpr bool needsControl(Route route)
{
    return route == Route::Action;
}
