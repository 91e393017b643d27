#pragma once

#include "remote/remotemodule.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

// Announces services of this machine on the local network by name, for phones, laptops and the stage desk
// to find it when its address has changed. One name for all of them; renamed as the network requires.
class Announcer
{
public:
    // Told every change of the announcement, on any thread.
    using Report = std::function<void(const Announcement &)>;

    virtual ~Announcer() = default;
    // Both return at once, on any thread; the daemon is talked to later, elsewhere.
    virtual void announce(const AnnouncedService &service) = 0;
    virtual void withdraw(const QString &type) = 0;
};

using MakeAnnouncer = std::function<std::unique_ptr<Announcer>(Announcer::Report)>;

// "Kestrim on <host>", cut short within the 63 bytes a DNS label takes.
QString serviceNameFor(const QString &host);
// The name to try when `name` is taken, as every device on the network renames: "Kestrim on laptop #2".
QString nextServiceName(const QString &name);
// The HTTP server's announcement: where the pages and the API are, and nothing secret.
AnnouncedService httpService(std::uint16_t port);
inline const QString httpServiceType = QStringLiteral("_http._tcp");
// OSC's port, announced while OSC is on, without TXT: nothing a desk needs besides the port.
inline const QString oscServiceType = QStringLiteral("_osc._udp");
