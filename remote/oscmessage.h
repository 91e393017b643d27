#pragma once

#include "clock/clocksnapshot.h"
#include "clock/commands.h"
#include "remote/oscallow.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>

// OSC as the stage desk speaks it: "/kestrim/<word>" for every word of the command catalogue, its text or mode
// as a string argument, "/kestrim/poll" for the state. Pure functions of the datagram and its sender, so that
// the rows and the fuzzer reach them without a socket; the socket is OscInput's.

// Why a datagram was not taken. Each is counted.
enum class OscIgnored : std::uint8_t
{
    NotOsc,         // not an OSC message liblo can read
    Bundle,         // "#bundle": not taken, a desk sends single messages
    TooLarge,       // larger than any command needs
    OtherAddress,   // not under /kestrim/
    NotAllowed,     // a sender off the allow list, without the token
    UnknownWord,    // /kestrim/<word> with no such word
    WrongArguments, // not the arguments the command takes
    Released,       // a button's 0 on release: its press did the work
};
inline constexpr std::size_t OscIgnoredCount = 8;

struct OscDecision
{
    enum class Kind : std::uint8_t
    {
        Act,  // carry out `command` with `argument`, answering nothing
        Poll, // answer the sender with the state
        Ignore
    };
    Kind kind = Kind::Ignore;
    ClockCommand command = ClockCommand::Toggle;
    QString argument;
    OscIgnored reason = OscIgnored::NotOsc;
};

// What the datagram asks, given who sent it. A sender on `allowed` is obeyed; any other only when the first
// argument is `controlToken` (then the rest are the command's). A command without an argument takes none, or
// one number or truth value: a button that sends 1 on press and 0 on release acts once.
OscDecision decideOsc(QByteArrayView datagram, const OscAddress &sender, const QList<OscNet> &allowed,
                      QByteArrayView controlToken);

// The answer to a poll, one datagram each: /kestrim/state (state, mode, then the words available now),
// /kestrim/time (the two texts shown), /kestrim/stage (number, description) and, when the programme's talk
// has one, /kestrim/offset (seconds).
QList<QByteArray> oscPollReplies(const ClockSnapshot &snapshot);

// At most `PerSecond` datagrams a second on average from all senders together, `Burst` at once. Times are
// milliseconds of any monotonic clock, passed in so that a second can be tested without waiting for it.
class OscTokenBucket
{
public:
    static constexpr std::int64_t PerSecond = 200;
    static constexpr std::int64_t Burst = 50;

    bool take(std::int64_t nowMs);

private:
    // In thousandths of a datagram: a millisecond earns PerSecond of them, exactly.
    static constexpr std::int64_t Whole = 1000;
    std::int64_t credit_ = Burst * Whole;
    std::int64_t lastMs_ = 0;
    bool started_ = false;
};

// What OscInput has seen since it was made.
struct OscCounters
{
    std::uint64_t received = 0;
    std::uint64_t dropped = 0; // over the rate, not even read
    std::uint64_t acted = 0;
    std::uint64_t polled = 0;
    std::array<std::uint64_t, OscIgnoredCount> ignored{};

    std::uint64_t ignoredFor(OscIgnored reason) const { return ignored[static_cast<std::size_t>(reason)]; }
};
