#pragma once

#include "clock/clocksession.h"
#include "clock/clocksnapshot.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringView>

#include <optional>

// The texts the network speaks: the state as JSON, the actions' names and the WebSocket's requests. Pure
// functions, shared by the program and its network module, so that they are tested without a server.
namespace RemoteProtocol {

// {"state", "elapsedMs", "minutes", "seconds", "mode", "stage": {"number", "description", "background",
// "foreground", "endSeconds"}, "talkSeconds", "digitsEnabled", "flash", "message", "canUndoReset",
// "soundEnabled", "flashEnabled", "blackout", "available": [the API words of the commands allowed now]}.
QJsonObject stateObject(const ClockSnapshot &snapshot);
QByteArray stateJson(const ClockSnapshot &snapshot);
// {"error": reason}
QByteArray errorJson(const QString &reason);

// "#rrggbb" of a colour held as 0x00BBGGRR.
QString htmlColour(Colour colour);

// The command behind an action's name in the API ("start", "undo-reset", "message", ...), or nothing.
std::optional<ClockCommand> commandFor(QStringView action);
// The name of the command's argument in a query, a form or a request ("text", "mode"); empty for none.
QString argumentName(ClockCommand command);

// A request on the WebSocket: {"action": "...", "text": "..."} or {"action": "set-mode", "mode": "..."},
// the argument optional.
struct Request
{
    ClockCommand command = ClockCommand::Toggle;
    QString text;
};
// The request, or why it is not one (for the answer's "error").
struct ParsedRequest
{
    std::optional<Request> request;
    QString error;
};
ParsedRequest parseRequest(const QByteArray &message);

} // namespace RemoteProtocol
