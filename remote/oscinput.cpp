#include "remote/oscinput.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One byte more than decideOsc takes, so that a larger datagram shows as such rather than cut short.
constexpr qsizetype ReadBytes = 4096 + 1;

OscAddress senderOf(const sockaddr_storage &from)
{
    if (from.ss_family == AF_INET) {
        return oscAddressV4(ntohl(reinterpret_cast<const sockaddr_in &>(from).sin_addr.s_addr));
    }
    OscAddress sender{};
    const in6_addr &address = reinterpret_cast<const sockaddr_in6 &>(from).sin6_addr;
    std::memcpy(sender.data(), &address, sender.size());
    return sender;
}

// Every address at `port`: IPv6 with IPv4 mapped into it where the system has IPv6, IPv4 alone otherwise.
// Not shared (no SO_REUSEADDR): a second program on the port must fail to bind, not take every other datagram.
int boundSocket(std::uint16_t port)
{
    int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        const int off = 0;
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        any.sin6_port = htons(port);
        any.sin6_addr = in6addr_any;
        if (::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0 &&
            ::bind(fd, reinterpret_cast<const sockaddr *>(&any), sizeof any) == 0) {
            return fd;
        }
        const int error = errno;
        ::close(fd);
        if (error != EAFNOSUPPORT && error != EADDRNOTAVAIL) {
            errno = error;
            return -1;
        }
    }
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&any), sizeof any) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace

OscInput::OscInput(Act act, const ClockSnapshot &latest, QObject *parent)
    : QObject(parent)
    , act_(std::move(act))
    , latest_(latest)
    , buffer_(ReadBytes, Qt::Uninitialized)
{
    clock_.start();
}

OscInput::~OscInput()
{
    close();
}

std::optional<QString> OscInput::listen(const RemoteServer::OscConfig &config)
{
    const bool samePort = socket_ >= 0 && port_ == config.port;
    config_ = config;
    token_ = config.controlToken.toLatin1();
    if (samePort) {
        return std::nullopt;
    }
    close();
    socket_ = boundSocket(config.port);
    if (socket_ < 0) {
        const int error = errno;
        return error == EADDRINUSE ? QStringLiteral("OSC port %1 is in use by another program").arg(config.port)
                                   : QStringLiteral("OSC port %1: %2").arg(config.port).arg(qt_error_string(error));
    }
    port_ = config.port;
    notifier_ = new QSocketNotifier(socket_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &OscInput::drain);
    return std::nullopt;
}

void OscInput::close()
{
    delete notifier_;
    notifier_ = nullptr;
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
}

void OscInput::drain()
{
    // What is left after these is read on the next wake: the notifier fires for as long as the socket holds a
    // datagram, and what else the thread serves waits for 64 reads at most.
    for (int n = 0; n < DatagramsPerWake && socket_ >= 0; ++n) {
        sockaddr_storage from{};
        iovec into{buffer_.data(), std::size_t(buffer_.size())};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &into;
        message.msg_iovlen = 1;
        const ssize_t size = ::recvmsg(socket_, &message, 0);
        if (size < 0) {
            if (errno == EINTR) {
                continue;
            }
            break; // drained (EAGAIN), or an error the socket has now forgotten
        }
        ++counters_.received;
        // Before decoding: a flood costs a read each and no more.
        if (!bucket_.take(clock_.elapsed())) {
            ++counters_.dropped;
            continue;
        }
        const OscDecision decision =
            decideOsc(QByteArrayView(buffer_.constData(), size), senderOf(from), config_.allowed, token_);
        switch (decision.kind) {
        case OscDecision::Kind::Act:
            ++counters_.acted;
            act_(decision.command, decision.argument);
            break;
        case OscDecision::Kind::Poll:
            ++counters_.polled;
            for (const QByteArray &reply : oscPollReplies(latest_)) {
                ::sendto(socket_, reply.constData(), std::size_t(reply.size()), MSG_DONTWAIT,
                         reinterpret_cast<const sockaddr *>(&from), message.msg_namelen);
            }
            break;
        case OscDecision::Kind::Ignore:
            ++counters_.ignored[static_cast<std::size_t>(decision.reason)];
            break;
        }
    }
}
