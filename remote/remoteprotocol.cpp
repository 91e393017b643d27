#include "remote/remoteprotocol.h"

#include "platform/colours.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

namespace RemoteProtocol {

namespace {

QString stateName(ClockState state)
{
    switch (state) {
    case ClockState::Running:
        return QStringLiteral("Running");
    case ClockState::Paused:
        return QStringLiteral("Paused");
    case ClockState::Ready:
        break;
    }
    return QStringLiteral("Ready");
}

// A programme handed over with fewer rows than it counts is shown as none rather than read past its list.
bool showsTalk(const SessionInfo &session)
{
    return session.active() && session.talk <= session.talks.size();
}

QJsonValue optionalNumber(const std::optional<std::int64_t> &value)
{
    return value ? QJsonValue(static_cast<qint64>(*value)) : QJsonValue(QJsonValue::Null);
}

QJsonValue optionalTime(const std::optional<std::int64_t> &ms, const WallClock &now)
{
    return ms ? QJsonValue(localTime(*ms, now.utcOffsetSeconds)) : QJsonValue(QJsonValue::Null);
}

QJsonObject talkObject(const ScheduledTalk &talk, const WallClock &now)
{
    return QJsonObject{
        {QStringLiteral("number"), talk.number},
        {QStringLiteral("title"), talk.title},
        {QStringLiteral("speaker"), talk.speaker},
        {QStringLiteral("plannedStart"), optionalTime(talk.plannedStartMs, now)},
        {QStringLiteral("plannedEnd"), optionalTime(talk.plannedEndMs, now)},
        {QStringLiteral("plannedSeconds"), static_cast<qint64>(talk.plannedSeconds)},
        {QStringLiteral("expectedStart"), localTime(talk.expectedStartMs, now.utcOffsetSeconds)},
        {QStringLiteral("expectedEnd"), localTime(talk.expectedEndMs, now.utcOffsetSeconds)},
        {QStringLiteral("done"), talk.done},
        {QStringLiteral("startedAt"), optionalTime(talk.startedAtMs, now)},
        {QStringLiteral("actualSeconds"), optionalNumber(talk.actualSeconds)},
    };
}

} // namespace

WallClock WallClock::now()
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    return {ms, QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc()};
}

QString localTime(std::int64_t ms, std::int32_t utcOffsetSeconds)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toOffsetFromUtc(utcOffsetSeconds).toString(Qt::ISODate);
}

QString htmlColour(Colour colour)
{
    return toQColor(colour).name();
}

QJsonObject stateObject(const ClockSnapshot &s, const WallClock &now)
{
    const QJsonObject stage{
        {QStringLiteral("number"), s.stage},
        {QStringLiteral("description"), s.description},
        {QStringLiteral("background"), htmlColour(s.background)},
        {QStringLiteral("foreground"), htmlColour(s.foreground)},
        {QStringLiteral("endSeconds"), static_cast<qint64>(s.stageEnd)},
    };
    QJsonObject state{
        {QStringLiteral("state"), stateName(s.state)},
        {QStringLiteral("elapsedMs"), static_cast<qint64>(s.elapsedMs)},
        {QStringLiteral("minutes"), s.minutes},
        {QStringLiteral("seconds"), s.seconds},
        {QStringLiteral("mode"), readOutModeName(s.mode)},
        {QStringLiteral("stage"), stage},
        {QStringLiteral("talkSeconds"), static_cast<qint64>(s.talkSeconds)},
        {QStringLiteral("digitsEnabled"), s.digitsEnabled},
        {QStringLiteral("flash"), s.flashInverted},
        {QStringLiteral("message"), s.message},
        {QStringLiteral("canUndoReset"), s.canUndoReset},
        {QStringLiteral("soundEnabled"), s.soundEnabled},
        {QStringLiteral("flashEnabled"), s.flashEnabled},
        {QStringLiteral("blackout"), s.blackout},
        {QStringLiteral("available"), QJsonArray::fromStringList(s.available.words())},
        {QStringLiteral("wallClockMs"), static_cast<qint64>(now.ms)},
        {QStringLiteral("utcOffsetSeconds"), now.utcOffsetSeconds},
    };
    if (showsTalk(s.session)) {
        const ScheduledTalk &talk = s.session.current();
        state.insert(QStringLiteral("talk"),
                     QJsonObject{
                         {QStringLiteral("number"), s.session.talk},
                         {QStringLiteral("count"), s.session.count},
                         {QStringLiteral("title"), talk.title},
                         {QStringLiteral("speaker"), talk.speaker},
                         {QStringLiteral("plannedStart"), optionalTime(talk.plannedStartMs, now)},
                         {QStringLiteral("startedAt"), optionalTime(talk.startedAtMs, now)},
                     });
        state.insert(QStringLiteral("offsetSeconds"), optionalNumber(s.session.offsetSeconds));
        state.insert(QStringLiteral("sessionEndsAt"), optionalTime(s.session.sessionEndsAtMs, now));
    }
    return state;
}

QByteArray stateJson(const ClockSnapshot &snapshot, const WallClock &now)
{
    return QJsonDocument(stateObject(snapshot, now)).toJson(QJsonDocument::Compact);
}

QByteArray programmeJson(const SessionInfo &session, const WallClock &now)
{
    QJsonArray talks;
    if (!showsTalk(session)) {
        return QJsonDocument(QJsonObject{{QStringLiteral("count"), 0}, {QStringLiteral("talks"), talks}})
            .toJson(QJsonDocument::Compact);
    }
    for (const ScheduledTalk &talk : session.talks) {
        talks.append(talkObject(talk, now));
    }
    return QJsonDocument(QJsonObject{
                             {QStringLiteral("current"), session.talk},
                             {QStringLiteral("count"), session.count},
                             {QStringLiteral("offsetSeconds"), optionalNumber(session.offsetSeconds)},
                             {QStringLiteral("sessionEndsAt"), optionalTime(session.sessionEndsAtMs, now)},
                             {QStringLiteral("plannedEnd"), optionalTime(session.plannedEndMs, now)},
                             {QStringLiteral("wallClockMs"), static_cast<qint64>(now.ms)},
                             {QStringLiteral("utcOffsetSeconds"), now.utcOffsetSeconds},
                             {QStringLiteral("talks"), talks},
                         })
        .toJson(QJsonDocument::Compact);
}

QByteArray errorJson(const QString &reason)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), reason}}).toJson(QJsonDocument::Compact);
}

std::optional<ClockCommand> commandFor(QStringView action)
{
    return commandNamed(action);
}

QString argumentName(ClockCommand command)
{
    switch (commandRow(command).argument) {
    case CommandArgument::Text:
        return QStringLiteral("text");
    case CommandArgument::Mode:
        return QStringLiteral("mode");
    case CommandArgument::None:
        break;
    }
    return {};
}

ParsedRequest parseRequest(const QByteArray &message)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(message, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return {std::nullopt, QStringLiteral("expected a JSON object {\"action\": ..., \"text\": ...}")};
    }
    const QJsonObject object = document.object();
    const QJsonValue action = object.value(QLatin1String("action"));
    if (!action.isString()) {
        return {std::nullopt, QStringLiteral("\"action\" must be a text")};
    }
    const std::optional<ClockCommand> command = commandFor(action.toString());
    if (!command) {
        return {std::nullopt, QStringLiteral("no such action: %1").arg(action.toString().left(40))};
    }
    const QString name = argumentName(*command);
    const QJsonValue argument = name.isEmpty() ? QJsonValue(QJsonValue::Undefined) : object.value(name);
    if (!argument.isUndefined() && !argument.isString()) {
        return {std::nullopt, QStringLiteral("\"%1\" must be a text").arg(name)};
    }
    return {Request{*command, argument.toString()}, {}};
}

} // namespace RemoteProtocol
