#include "remote/oscmessage.h"

#include "remote/accessgate.h"

#include <QLatin1String>

#include <cstdlib>
#include <cstring>
#include <lo/lo_lowlevel.h>
#include <memory>

namespace {

const QByteArrayView Prefix("/kestrim/");
const QByteArrayView PollWord("poll");
constexpr qsizetype LargestMessage = 4096;

struct MessageFree
{
    void operator()(lo_message message) const { lo_message_free(message); }
};
using Message = std::unique_ptr<std::remove_pointer_t<lo_message>, MessageFree>;

bool isString(char type)
{
    return type == LO_STRING || type == LO_SYMBOL;
}

// A command without an argument takes one number or truth value at most: nothing but a released button's 0
// holds it back.
std::optional<bool> pressed(char type, const lo_arg *arg)
{
    switch (type) {
    case LO_INT32:
        return arg->i != 0;
    case LO_INT64:
        return arg->h != 0;
    case LO_FLOAT:
        return arg->f != 0.0f;
    case LO_DOUBLE:
        return arg->d != 0.0;
    case LO_TRUE:
    case LO_INFINITUM: // OSC 1.1's "impulse"
        return true;
    case LO_FALSE:
        return false;
    default:
        return std::nullopt;
    }
}

OscDecision ignored(OscIgnored reason)
{
    OscDecision decision;
    decision.reason = reason;
    return decision;
}

QByteArray serialised(lo_message message, const char *path)
{
    std::size_t size = 0;
    void *bytes = lo_message_serialise(message, path, nullptr, &size);
    QByteArray datagram(static_cast<const char *>(bytes), static_cast<qsizetype>(bytes ? size : 0));
    std::free(bytes);
    return datagram;
}

} // namespace

OscDecision decideOsc(QByteArrayView datagram, const OscAddress &sender, const QList<OscNet> &allowed,
                      QByteArrayView controlToken)
{
    if (datagram.size() > LargestMessage) {
        return ignored(OscIgnored::TooLarge);
    }
    if (datagram.startsWith(QByteArrayView("#bundle", 8))) {
        return ignored(OscIgnored::Bundle);
    }
    // liblo only reads the bytes; it copies what it keeps.
    const Message message(lo_message_deserialise(const_cast<char *>(datagram.data()),
                                                 static_cast<std::size_t>(datagram.size()), nullptr));
    if (!message) {
        return ignored(OscIgnored::NotOsc);
    }
    // A valid message's path is its first text, ended by a zero byte.
    const QByteArrayView path(datagram.data(), static_cast<qsizetype>(qstrnlen(datagram.data(), datagram.size())));
    if (!path.startsWith(Prefix)) {
        return ignored(OscIgnored::OtherAddress);
    }
    const char *types = lo_message_get_types(message.get());
    lo_arg **argv = lo_message_get_argv(message.get());
    const int argc = lo_message_get_argc(message.get());
    int first = 0;
    if (argc > 0 && isString(types[0]) && sameSecret(QByteArrayView(&argv[0]->s), controlToken)) {
        first = 1;
    } else if (!oscAllowed(allowed, sender)) {
        return ignored(OscIgnored::NotAllowed);
    }

    const QByteArrayView word = path.sliced(Prefix.size());
    OscDecision decision;
    CommandArgument wanted = CommandArgument::None;
    if (word == PollWord) {
        decision.kind = OscDecision::Kind::Poll;
    } else {
        const std::optional<ClockCommand> command = commandNamed(QString::fromUtf8(word));
        if (!command) {
            return ignored(OscIgnored::UnknownWord);
        }
        decision.kind = OscDecision::Kind::Act;
        decision.command = *command;
        wanted = commandRow(*command).argument;
    }
    const int left = argc - first;
    if (wanted != CommandArgument::None) {
        if (left != 1 || !isString(types[first])) {
            return ignored(OscIgnored::WrongArguments);
        }
        decision.argument = QString::fromUtf8(&argv[first]->s);
        return decision;
    }
    if (left == 0) {
        return decision;
    }
    const std::optional<bool> press = left == 1 ? pressed(types[first], argv[first]) : std::nullopt;
    if (!press) {
        return ignored(OscIgnored::WrongArguments);
    }
    return *press ? decision : ignored(OscIgnored::Released);
}

QList<QByteArray> oscPollReplies(const ClockSnapshot &snapshot)
{
    QList<QByteArray> replies;
    const auto add = [&replies](const char *path, const auto &fill) {
        const Message message(lo_message_new());
        if (message) {
            fill(message.get());
            replies.append(serialised(message.get(), path));
        }
    };
    const auto string = [](lo_message message, const QString &text) {
        lo_message_add_string(message, text.toUtf8().constData());
    };
    const auto clampedInt = [](std::int64_t value) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                                  std::numeric_limits<std::int32_t>::max()));
    };
    add("/kestrim/state", [&](lo_message m) {
        const char *state = snapshot.state == ClockState::Running  ? "Running"
                            : snapshot.state == ClockState::Paused ? "Paused"
                                                                   : "Ready";
        lo_message_add_string(m, state);
        string(m, readOutModeName(snapshot.mode));
        for (const QString &word : snapshot.available.words()) {
            string(m, word);
        }
    });
    add("/kestrim/time", [&](lo_message m) {
        string(m, snapshot.minutes);
        string(m, snapshot.seconds);
    });
    add("/kestrim/stage", [&](lo_message m) {
        lo_message_add_int32(m, snapshot.stage);
        string(m, snapshot.description);
    });
    if (snapshot.session.active() && snapshot.session.offsetSeconds) {
        add("/kestrim/offset",
            [&](lo_message m) { lo_message_add_int32(m, clampedInt(*snapshot.session.offsetSeconds)); });
    }
    return replies;
}

bool OscTokenBucket::take(std::int64_t nowMs)
{
    if (!started_) {
        started_ = true;
        lastMs_ = nowMs;
    }
    // A clock that stepped back earns nothing; a long silence earns a full bucket and no more.
    const std::int64_t since = std::clamp<std::int64_t>(nowMs - lastMs_, 0, Burst * Whole / PerSecond);
    lastMs_ = std::max(lastMs_, nowMs);
    credit_ = std::min(credit_ + since * PerSecond, Burst * Whole);
    if (credit_ < Whole) {
        return false;
    }
    credit_ -= Whole;
    return true;
}
