#pragma once

#include "clock/clocksession.h"
#include "clock/clocksnapshot.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

// The texts the network speaks: the state as JSON, the actions' names and the WebSocket's requests. Pure
// functions, shared by the program and its network module, so that they are tested without a server.
namespace RemoteProtocol {

// The laptop's wall clock at one moment: milliseconds since the epoch and its local offset from UTC then. Every
// text leaving the server is stamped with it, so that a page shows the laptop's time of day, not the phone's.
struct WallClock
{
    std::int64_t ms = 0;
    std::int32_t utcOffsetSeconds = 0;

    static WallClock now();
};

// A time of the schedule (ms since the epoch) as the laptop's local date and time with its offset:
// "2026-12-09T10:34:00+01:00".
QString localTime(std::int64_t ms, std::int32_t utcOffsetSeconds);

// {"state", "elapsedMs", "minutes", "seconds", "mode", "stage": {"number", "description", "background",
// "foreground", "endSeconds"}, "talkSeconds", "digitsEnabled", "flash", "message", "canUndoReset",
// "soundEnabled", "flashEnabled", "blackout", "available": [the API words of the commands allowed now],
// "wallClockMs", "utcOffsetSeconds"}; with a programme also "talk": {"number", "count", "title", "speaker",
// "plannedStart", "startedAt"}, "offsetSeconds" and "sessionEndsAt" (null where there is none).
QJsonObject stateObject(const ClockSnapshot &snapshot, const WallClock &now);
QByteArray stateJson(const ClockSnapshot &snapshot, const WallClock &now);
// The whole schedule, asked for now and then rather than sent with every state: {"current", "count",
// "offsetSeconds", "sessionEndsAt", "plannedEnd", "wallClockMs", "utcOffsetSeconds", "talks": [{"number",
// "title", "speaker", "plannedStart", "plannedEnd", "plannedSeconds", "expectedStart", "expectedEnd", "done",
// "startedAt", "actualSeconds"}]}; without a programme {"count": 0, "talks": []}.
QByteArray programmeJson(const SessionInfo &session, const WallClock &now);
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
