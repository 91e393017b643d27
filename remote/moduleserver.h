#pragma once

#include "remote/announcer.h"
#include "remote/httpconnection.h"
#include "remote/oscmessage.h"
#include "remote/remotemodule.h"

#include <QObject>

#include <memory>

class NetworkCore;
class QThread;

// The module's RemoteServer: the network core on a thread of its own, and the way actions travel between
// it and the GUI thread. Nothing here waits for the server thread except listen() (a bind takes
// microseconds, and the dialog must say at once whether the port was free). The announcer, made by
// `makeAnnouncer`, tells the network the HTTP port's name while the server listens.
class ModuleServer final : public RemoteServer
{
public:
    ModuleServer(PerformAction perform, const ServerLimits &limits, const MakeAnnouncer &makeAnnouncer);
    ~ModuleServer() override;
    ModuleServer(const ModuleServer &) = delete;
    ModuleServer &operator=(const ModuleServer &) = delete;

    std::optional<QString> listen(const Config &config) override;
    void close() override;
    void publish(const ClockSnapshot &snapshot) override;
    QStringList linkHosts() const override;
    QImage qrCode(const QString &text) const override;
    void announce(const AnnouncedService &service) override;
    void withdraw(const QString &type) override;
    Announcement announcement() const override { return announcement_; }
    void setAnnouncementListener(std::function<void()> listener) override { listener_ = std::move(listener); }
    std::optional<QString> listenOsc(const OscConfig &config) override;
    void closeOsc() override;

    // What OSC has seen so far, for the tests; waits for the server thread.
    OscCounters oscCounters() const;

private:
    void announced(const Announcement &announcement);

    PerformAction perform_;
    QObject guiSide_; // the context of actions and announcements queued to the GUI thread
    QThread *thread_;
    NetworkCore *core_;
    Announcement announcement_;
    std::function<void()> listener_;
    std::unique_ptr<Announcer> announcer_;
};
