#include "remote/remoteprotocol.h"

#include "platform/colours.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <array>
#include <utility>

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

constexpr std::array<std::pair<const char16_t *, ClockCommand>, 10> Actions = {{
    {u"start", ClockCommand::Start},
    {u"pause", ClockCommand::Pause},
    {u"continue", ClockCommand::Continue},
    {u"reset", ClockCommand::Reset},
    {u"undo-reset", ClockCommand::UndoReset},
    {u"toggle", ClockCommand::Toggle},
    {u"add-minute", ClockCommand::AddMinute},
    {u"take-minute", ClockCommand::TakeMinute},
    {u"message", ClockCommand::ShowMessage},
    {u"clear-message", ClockCommand::ClearMessage},
}};

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
    for (const auto &[name, command] : Actions) {
        if (action == QStringView(name)) {
            return command;
        }
    }
    return std::nullopt;
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
    const QJsonValue text = object.value(QLatin1String("text"));
    if (!action.isString()) {
        return {std::nullopt, QStringLiteral("\"action\" must be a text")};
    }
    if (!text.isUndefined() && !text.isString()) {
        return {std::nullopt, QStringLiteral("\"text\" must be a text")};
    }
    const std::optional<ClockCommand> command = commandFor(action.toString());
    if (!command) {
        return {std::nullopt, QStringLiteral("no such action: %1").arg(action.toString().left(40))};
    }
    return {Request{*command, text.toString()}, {}};
}

} // namespace RemoteProtocol
