#pragma once

#include "remote/remotemodule.h"
#include "remote/remotesettings.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class ClockSession;
class SettingsStore;

// Sharing the clock on the network, as the program sees it: the stored settings, the network module and the
// server in it. Sharing (HTTP and WebSockets) and OSC are switched on and off each on its own; the module is
// loaded the first time either is on, never before, and stays. Lives on the GUI thread; the start-up object
// feeds it the clock's snapshots and the share dialog drives it.
class RemoteSharing final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RemoteSharing)

public:
    // Makes the server, or sets `problem` and returns null.
    using MakeServer = std::function<std::unique_ptr<RemoteServer>(PerformAction perform, QString &problem)>;

    // `privateFile` is the settings file to keep readable by its owner only once it holds a token (empty:
    // none, for a store that is not a file).
    RemoteSharing(SettingsStore &store, PerformAction perform, QString modulePath, QString privateFile,
                  QObject *parent = nullptr);
    // A server made by `makeServer` instead of the module's.
    RemoteSharing(SettingsStore &store, PerformAction perform, MakeServer makeServer, QString privateFile,
                  QObject *parent = nullptr);
    ~RemoteSharing() override;

    // The module's path beside the running program's executable.
    static QString moduleBesideProgram();
    // Actions carried out on `session`, each answered with the state after it.
    static PerformAction performOn(ClockSession &session);

    // Reads section "Remote"; throws StoredValueError for a value it cannot use.
    void load();
    // With sharing or OSC on, loads the module and starts what is on; a port in use (or a missing module) is
    // said on standard error and the program runs on.
    void startIfEnabled();

    const RemoteSettings &settings() const { return settings_; }
    // Whether the server is listening now, and why not when sharing is on and it is not.
    bool listening() const { return listening_; }
    const QString &problem() const { return problem_; }
    // The same for OSC.
    bool oscListening() const { return oscListening_; }
    const QString &oscProblem() const { return oscProblem_; }
    // The loaded module's server, for the links' hosts and QR codes; null before sharing or OSC was first on.
    RemoteServer *server() const { return server_.get(); }
    // How this machine is announced by name; Off before sharing was first on.
    Announcement announcement() const { return server_ ? server_->announcement() : Announcement{}; }

    // Switches sharing on or off at `port` and saves that, making the tokens when there are none yet.
    // Returns why the server does not listen (the port is in use, ...) or why the save failed. OSC's port is
    // refused, and nothing changes.
    std::optional<QString> apply(bool enabled, std::int32_t port);
    // Switches OSC on or off at `port`, taking commands without the token from the senders the text `allow`
    // lists (remote/oscallow.h), and saves that, making the tokens when there are none yet (the control token
    // lets any sender in). Sharing's port or a list that does not read is refused, and nothing changes.
    std::optional<QString> applyOsc(bool enabled, std::int32_t port, const QString &allow);
    // New tokens for both links (and OSC's), saved; every connection that came with an old one is closed.
    std::optional<QString> renewTokens();

    // The clock's state, for the server (dropped while it is off; the latest is kept for its start).
    void publish(const ClockSnapshot &snapshot);

signals:
    void sharingChanged();
    void announcementChanged();

private:
    std::optional<QString> loadModule();
    std::optional<QString> start();
    std::optional<QString> startOsc();
    std::optional<QString> save();
    void makeTokens();
    // Saves, tells the dialog, and returns `problem` with whatever the save met added.
    std::optional<QString> savedAndAnnounced(std::optional<QString> problem);

    SettingsStore &store_;
    PerformAction perform_;
    MakeServer makeServer_;
    QString privateFile_;
    RemoteSettings settings_;
    std::unique_ptr<RemoteServer> server_;
    ClockSnapshot last_;
    bool listening_ = false;
    QString problem_;
    bool oscListening_ = false;
    QString oscProblem_;
};
