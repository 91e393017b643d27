#pragma once

#include "remote/oscmessage.h"
#include "remote/remotemodule.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <optional>

class QSocketNotifier;

// OSC in, on the server thread: a UDP socket of our own watched by a QSocketNotifier, each datagram decoded by
// decideOsc (liblo's lo_message_deserialise). Not liblo's server, which reads and dispatches inside its own
// receive call: here the reading is ours to bound (a number of datagrams per wake, the rate over all senders,
// before any decoding), each datagram comes with its sender, and the decoding is a pure function of bytes.
// Not QUdpSocket either: it stops announcing datagrams to a reader that leaves some unread for the next wake.
// Actions go out through `act` as HTTP's do, unanswered; a poll is answered from the latest state.
class OscInput final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OscInput)

public:
    // Read in one wake before the event loop gets its turn again (publish, HTTP, timers).
    static constexpr int DatagramsPerWake = 64;

    using Act = std::function<void(ClockCommand command, const QString &argument)>;

    // `latest` is the state the network core last published; it outlives this.
    OscInput(Act act, const ClockSnapshot &latest, QObject *parent = nullptr);
    ~OscInput() override;

    std::optional<QString> listen(const RemoteServer::OscConfig &config);
    void close();
    const OscCounters &counters() const { return counters_; }

private:
    void drain();

    Act act_;
    const ClockSnapshot &latest_;
    int socket_ = -1;
    std::uint16_t port_ = 0;
    QSocketNotifier *notifier_ = nullptr;
    RemoteServer::OscConfig config_;
    QByteArray token_;
    QByteArray buffer_;
    QElapsedTimer clock_;
    OscTokenBucket bucket_;
    OscCounters counters_;
};
