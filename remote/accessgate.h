#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>

// Who a request is from, by its token.
enum class Access
{
    None,
    Viewer,
    Control
};

// Equal bytes, in a time that depends on the lengths only: a network client must not learn a token's prefix
// from how long a refusal took.
bool sameSecret(QByteArrayView presented, QByteArrayView secret);

// The tokens in force and the addresses that guess them. Times are milliseconds of any monotonic clock,
// passed in so that the minute can be tested without waiting for it.
class AccessGate final
{
public:
    static constexpr int AllowedFailures = 10; // wrong tokens an address may send in a minute...
    static constexpr std::int64_t WindowMs = 60'000;
    static constexpr std::int64_t BlockMs = 60'000; // ...after which it is answered 429 for a minute
    // Beyond this many addresses the oldest are forgotten, so a flood of sources cannot fill the memory.
    static constexpr qsizetype MaxTracked = 4096;

    void setTokens(const QString &viewer, const QString &control);
    // Both tokens are always compared, so that which one matched does not show in the time taken either.
    Access accessFor(QByteArrayView presented) const;

    // Whether `address` is answered 429 now.
    bool blocked(const QString &address, std::int64_t nowMs) const;
    // Counts a wrong or missing token from `address`.
    void recordFailure(const QString &address, std::int64_t nowMs);

private:
    QByteArray viewer_;
    QByteArray control_;
    struct Failures
    {
        std::deque<std::int64_t> times; // within the last window
        std::int64_t blockedUntil = 0;
    };
    QHash<QString, Failures> failures_;
};

// Whether a Host header names this machine in a way no other site can: an IP address, "localhost" or one
// of `machineNames`, with or without a port. Anything else may be a DNS name rebound to this machine by a
// page in the user's browser, and is answered 421.
bool hostAllowed(QByteArrayView host, const QStringList &machineNames);
