#pragma once

#include "clock/clocksession.h"
#include "clock/clocksnapshot.h"
#include "remote/oscallow.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

// The contract between the program and its network module. The HTTP server, WebSockets, OSC and the QR
// encoder live in a module that the program loads when sharing or OSC is first switched on, so that a timer
// that uses neither maps none of the network libraries.

// What an action did: why the clock refused it (then nothing changed), and the state after it.
struct ActionOutcome
{
    std::optional<QString> refusal;
    ClockSnapshot snapshot;
};

// Carries out an action on the clock. Always called on the thread that created the server (the GUI
// thread), never on the server's own.
using PerformAction = std::function<ActionOutcome(ClockCommand, const QString &)>;

// A service announced on the local network by name (DNS-SD over multicast DNS), as "_http._tcp" on the
// HTTP port. Its TXT records are read by anyone on the network: they never carry a token.
struct AnnouncedService
{
    QString type; // "_http._tcp", "_osc._udp"
    std::uint16_t port = 0;
    QStringList txt; // "key=value" each
    friend bool operator==(const AnnouncedService &, const AnnouncedService &) = default;
};

// How far this machine is announced by name.
struct Announcement
{
    enum class State
    {
        Off,         // nothing to announce
        Announcing,  // handed to the daemon, not yet established
        Announced,   // others find it under `name`
        Unavailable, // no daemon to announce it (`problem` says why); tried again once one runs
    };
    State state = State::Off;
    QString name;      // "Kestrim on laptop", or "Kestrim on laptop #2" when another device has the first
    QString firstName; // the name asked for, before any rename
    QString hostName;  // this machine's name on the network, "laptop.local", while announced
    QString problem;
    friend bool operator==(const Announcement &, const Announcement &) = default;
};

// The server, running on a thread of its own. Every member is called on the thread that created it and
// returns at once; the server thread gets the calls queued.
class RemoteServer
{
public:
    struct Config
    {
        std::uint16_t port = 0;
        QString viewerToken;
        QString controlToken;
    };

    virtual ~RemoteServer() = default;

    // Listens on every address at `config.port` (again, when the port changed), or says why not ("port
    // 4680 is in use"). Connections that came with a token no longer in `config` are closed.
    virtual std::optional<QString> listen(const Config &config) = 0;
    // Stops listening and closes every connection.
    virtual void close() = 0;
    // The clock's state now; sent to every WebSocket and answered to "state".
    virtual void publish(const ClockSnapshot &snapshot) = 0;

    // The addresses of this machine that others may reach it by, for the links ("192.168.1.20", "[fe80::1]"),
    // loopback last.
    virtual QStringList linkHosts() const = 0;
    // `text` as a QR code, one pixel a module, black on white with the quiet zone; null when it does not fit.
    virtual QImage qrCode(const QString &text) const = 0;

    // While the server listens, its HTTP port is announced as "_http._tcp"; these announce other services
    // under the same name (an OSC port as "_osc._udp") until withdrawn. A service of a type already
    // announced replaces it. close() withdraws the HTTP one only.
    virtual void announce(const AnnouncedService &service) = 0;
    virtual void withdraw(const QString &type) = 0;
    // The announcement now, and a call on this thread whenever it changes.
    virtual Announcement announcement() const = 0;
    virtual void setAnnouncementListener(std::function<void()> listener) = 0;
    // OSC on UDP, independent of HTTP: either may be on without the other.
    struct OscConfig
    {
        std::uint16_t port = 0;
        QList<OscNet> allowed; // the senders taken without the token
        QString controlToken;  // as the first argument, from any sender
    };
    // Takes OSC datagrams on every address at `config.port` (again, when the port changed), or says why not.
    virtual std::optional<QString> listenOsc(const OscConfig &config) = 0;
    virtual void closeOsc() = 0;
};

// The module exports one C function under this name, returning a new server the caller owns. The number
// changes whenever RemoteServer's layout or that of what it is handed (ClockSnapshot) does, so a stale module is
// refused rather than misused.
inline constexpr char remoteModuleEntryPoint[] = "kestrimCreateRemoteServer3";
using CreateRemoteServer = RemoteServer *(*)(PerformAction perform);

// The module's file name, looked for in the folder of the program's executable.
inline constexpr char remoteModuleFileName[] = "kestrim-remote.so";
