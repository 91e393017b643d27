#include "remote/remotesharing.h"

#include "clock/clocksession.h"
#include "platform/settingsstore.h"

#include <QCoreApplication>
#include <QLibrary>

#include <cstdio>
#include <utility>

namespace {

// The module stays loaded: the server thread may still be in its code while the program ends.
RemoteSharing::MakeServer fromModule(const QString &modulePath)
{
    return [modulePath](PerformAction perform, QString &problem) -> std::unique_ptr<RemoteServer> {
        QLibrary module(modulePath);
        const auto create =
            module.load() ? reinterpret_cast<CreateRemoteServer>(module.resolve(remoteModuleEntryPoint)) : nullptr;
        if (create == nullptr) {
            problem = module.isLoaded()
                          ? QStringLiteral("%1 does not belong to this version of the program").arg(modulePath)
                          : module.errorString();
            return nullptr;
        }
        return std::unique_ptr<RemoteServer>(create(std::move(perform)));
    };
}

} // namespace

RemoteSharing::RemoteSharing(SettingsStore &store, PerformAction perform, QString modulePath, QString privateFile,
                             QObject *parent)
    : RemoteSharing(store, std::move(perform), fromModule(modulePath), std::move(privateFile), parent)
{}

RemoteSharing::RemoteSharing(SettingsStore &store, PerformAction perform, MakeServer makeServer, QString privateFile,
                             QObject *parent)
    : QObject(parent)
    , store_(store)
    , perform_(std::move(perform))
    , makeServer_(std::move(makeServer))
    , privateFile_(std::move(privateFile))
{}

RemoteSharing::~RemoteSharing() = default;

QString RemoteSharing::moduleBesideProgram()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(remoteModuleFileName);
}

PerformAction RemoteSharing::performOn(ClockSession &session)
{
    return [&session](ClockCommand command, const QString &text) {
        std::optional<QString> refusal = session.perform(command, text);
        return ActionOutcome{std::move(refusal), session.snapshot()};
    };
}

void RemoteSharing::load()
{
    settings_ = ReadRemoteSettings(store_);
    if (!privateFile_.isEmpty() && !settings_.viewerToken.isEmpty()) {
        keepOwnerOnly(privateFile_);
    }
}

void RemoteSharing::startIfEnabled()
{
    if (settings_.enabled) {
        if (const std::optional<QString> problem = start()) {
            std::fprintf(stderr, "Kestrim: not shared on the network: %s\n", qPrintable(*problem));
        }
    }
    if (settings_.oscEnabled) {
        if (const std::optional<QString> problem = startOsc()) {
            std::fprintf(stderr, "Kestrim: no OSC: %s\n", qPrintable(*problem));
        }
    }
}

std::optional<QString> RemoteSharing::loadModule()
{
    if (server_) {
        return std::nullopt;
    }
    QString problem;
    if (!(server_ = makeServer_(perform_, problem))) {
        return problem;
    }
    server_->setAnnouncementListener([this] { emit announcementChanged(); });
    return std::nullopt;
}

std::optional<QString> RemoteSharing::start()
{
    listening_ = false;
    if (settings_.viewerToken.isEmpty() || settings_.controlToken.isEmpty()) {
        problem_ = QStringLiteral("the links have no tokens");
        return problem_;
    }
    if (std::optional<QString> problem = loadModule()) {
        problem_ = *problem;
        return problem;
    }
    const RemoteServer::Config config{static_cast<std::uint16_t>(settings_.port), settings_.viewerToken,
                                      settings_.controlToken};
    if (std::optional<QString> problem = server_->listen(config)) {
        problem_ = *problem;
        return problem;
    }
    problem_.clear();
    listening_ = true;
    server_->publish(last_);
    return std::nullopt;
}

std::optional<QString> RemoteSharing::startOsc()
{
    oscListening_ = false;
    std::optional<QList<OscNet>> allowed = parseOscAllow(settings_.oscAllow);
    std::optional<QString> problem = loadModule();
    if (!problem) {
        // The settings were read or applied only once the list had parsed.
        problem = server_->listenOsc({static_cast<std::uint16_t>(settings_.oscPort),
                                      allowed.value_or(oscThisMachineOnly()), settings_.controlToken});
    }
    if (problem) {
        oscProblem_ = *problem;
        return problem;
    }
    oscProblem_.clear();
    oscListening_ = true;
    server_->publish(last_);
    return std::nullopt;
}

std::optional<QString> RemoteSharing::save()
{
    WriteRemoteSettings(store_, settings_);
    // Private before the first token reaches the disk; the store's replace keeps the mode.
    if (!privateFile_.isEmpty() && !keepOwnerOnly(privateFile_)) {
        return QStringLiteral("%1 cannot be made readable by its owner only").arg(privateFile_);
    }
    return store_.sync();
}

std::optional<QString> RemoteSharing::apply(bool enabled, std::int32_t port)
{
    port = std::clamp(port, RemoteSettings::LowestPort, RemoteSettings::HighestPort);
    if (port == settings_.oscPort) {
        return QStringLiteral("port %1 is the OSC port").arg(port);
    }
    settings_.enabled = enabled;
    settings_.port = port;
    if (enabled && settings_.viewerToken.isEmpty()) {
        makeTokens();
    }
    std::optional<QString> problem;
    if (enabled) {
        problem = start();
    } else {
        listening_ = false;
        problem_.clear();
        if (server_) {
            server_->close();
        }
    }
    return savedAndAnnounced(problem);
}

std::optional<QString> RemoteSharing::applyOsc(bool enabled, std::int32_t port, const QString &allow)
{
    port = std::clamp(port, RemoteSettings::LowestPort, RemoteSettings::HighestPort);
    if (port == settings_.port) {
        return QStringLiteral("OSC port %1 is the sharing port").arg(port);
    }
    QString why;
    if (!parseOscAllow(allow, &why)) {
        return why;
    }
    settings_.oscEnabled = enabled;
    settings_.oscPort = port;
    settings_.oscAllow = allow;
    if (enabled && settings_.controlToken.isEmpty()) {
        makeTokens();
    }
    std::optional<QString> problem;
    if (enabled) {
        problem = startOsc();
    } else {
        oscListening_ = false;
        oscProblem_.clear();
        if (server_) {
            server_->closeOsc();
        }
    }
    return savedAndAnnounced(problem);
}

std::optional<QString> RemoteSharing::renewTokens()
{
    makeTokens();
    std::optional<QString> problem = settings_.enabled ? start() : std::nullopt;
    if (settings_.oscEnabled) {
        if (std::optional<QString> osc = startOsc()) {
            problem = problem ? *problem + u' ' + *osc : *osc;
        }
    }
    return savedAndAnnounced(problem);
}

void RemoteSharing::makeTokens()
{
    settings_.viewerToken = newToken();
    settings_.controlToken = newToken();
}

std::optional<QString> RemoteSharing::savedAndAnnounced(std::optional<QString> problem)
{
    if (std::optional<QString> failed = save()) {
        problem = problem ? *problem + u' ' + *failed : *failed;
    }
    emit sharingChanged();
    return problem;
}

void RemoteSharing::publish(const ClockSnapshot &snapshot)
{
    last_ = snapshot;
    if (listening_ || oscListening_) {
        server_->publish(snapshot);
    }
}
