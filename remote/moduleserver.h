#pragma once

#include "remote/httpconnection.h"
#include "remote/oscmessage.h"
#include "remote/remotemodule.h"

#include <QObject>

class NetworkCore;
class QThread;

// The module's RemoteServer: the network core on a thread of its own, and the way actions travel between
// it and the GUI thread. Nothing here waits for the server thread except listen() (a bind takes
// microseconds, and the dialog must say at once whether the port was free).
class ModuleServer final : public RemoteServer
{
public:
    explicit ModuleServer(PerformAction perform, const ServerLimits &limits = {});
    ~ModuleServer() override;
    ModuleServer(const ModuleServer &) = delete;
    ModuleServer &operator=(const ModuleServer &) = delete;

    std::optional<QString> listen(const Config &config) override;
    void close() override;
    void publish(const ClockSnapshot &snapshot) override;
    QStringList linkHosts() const override;
    QImage qrCode(const QString &text) const override;
    std::optional<QString> listenOsc(const OscConfig &config) override;
    void closeOsc() override;

    // What OSC has seen so far, for the tests; waits for the server thread.
    OscCounters oscCounters() const;

private:
    PerformAction perform_;
    QObject guiSide_; // the context of actions queued to the GUI thread
    QThread *thread_;
    NetworkCore *core_;
};
