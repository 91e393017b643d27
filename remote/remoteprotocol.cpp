#include "remote/remoteprotocol.h"

#include "platform/colours.h"

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

} // namespace

QString htmlColour(Colour colour)
{
    return toQColor(colour).name();
}

QJsonObject stateObject(const ClockSnapshot &s)
{
    const QJsonObject stage{
        {QStringLiteral("number"), s.stage},
        {QStringLiteral("description"), s.description},
        {QStringLiteral("background"), htmlColour(s.background)},
        {QStringLiteral("foreground"), htmlColour(s.foreground)},
        {QStringLiteral("endSeconds"), static_cast<qint64>(s.stageEnd)},
    };
    return QJsonObject{
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
    };
}

QByteArray stateJson(const ClockSnapshot &snapshot)
{
    return QJsonDocument(stateObject(snapshot)).toJson(QJsonDocument::Compact);
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
