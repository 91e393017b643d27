// What an OSC sender on the network sends: any bytes as a datagram, from any address, against any allow list
// the settings may hold; and any texts the clock may hold, as the poll's answer. Nothing crashes, nothing is
// obeyed from a sender off the list without the token, and what is obeyed is a word of the catalogue with
// the argument it takes.
#include "fuzzinput.h"
#include "remote/oscmessage.h"

#include <lo/lo_lowlevel.h>

namespace {

constexpr char Token[] = "Control-token-for-fuzzing-0123";

QString show(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toPercentEncoding());
}

void checkDecision(QByteArrayView datagram, const OscAddress &sender, const QList<OscNet> &allowed)
{
    const OscDecision d = decideOsc(datagram, sender, allowed, Token);
    const bool obeyed = d.kind != OscDecision::Kind::Ignore;
    FUZZ_CHECK(!obeyed || datagram.startsWith("/kestrim/"), show(datagram));
    FUZZ_CHECK(!obeyed || oscAllowed(allowed, sender) || datagram.contains(Token), show(datagram));
    FUZZ_CHECK(datagram.size() <= 4096 || (!obeyed && d.reason == OscIgnored::TooLarge), show(datagram));
    if (d.kind == OscDecision::Kind::Act) {
        const CommandRow &row = commandRow(d.command);
        FUZZ_CHECK(*row.word != '\0' && commandNamed(QString::fromLatin1(row.word)) == d.command, show(datagram));
        FUZZ_CHECK(row.argument != CommandArgument::None || d.argument.isEmpty(), show(datagram));
    }
    FUZZ_CHECK(static_cast<std::size_t>(d.reason) < OscIgnoredCount, show(datagram));
}

void checkReplies(FuzzInput &input)
{
    ClockSnapshot s;
    s.minutes = input.utf8Until('\n');
    s.description = input.utf8Until('\n');
    s.stage = input.raw<std::int32_t>();
    s.session.talk = 1;
    s.session.count = 1;
    s.session.offsetSeconds = input.raw<std::int64_t>();
    s.seconds = input.rest(input.byte() & 1);
    const QList<QByteArray> replies = oscPollReplies(s);
    FUZZ_CHECK(replies.size() == 4, s.seconds);
    for (QByteArray reply : replies) {
        FUZZ_CHECK(reply.size() % 4 == 0, show(reply));
        const lo_message back = lo_message_deserialise(reply.data(), std::size_t(reply.size()), nullptr);
        FUZZ_CHECK(back != nullptr, show(reply));
        FUZZ_CHECK(reply.startsWith("/kestrim/"), show(reply));
        if (reply.startsWith("/kestrim/time")) {
            // A text comes back as its UTF-8, up to a zero character it may hold.
            const QByteArray minutes = s.minutes.toUtf8();
            FUZZ_CHECK(QByteArrayView(&lo_message_get_argv(back)[0]->s) ==
                           minutes.first(qstrnlen(minutes, minutes.size())),
                       s.minutes);
        }
        lo_message_free(back);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::uint8_t mode = input.byte();
    if (mode & 0x80) {
        checkReplies(input);
        return 0;
    }
    // The allow list as a hand-edited settings file may hold it, or the default.
    QList<OscNet> allowed = oscThisMachineOnly();
    if (mode & 1) {
        const QString text = input.utf8Until('\n');
        QString why;
        const std::optional<QList<OscNet>> parsed = parseOscAllow(text, &why);
        FUZZ_CHECK(parsed.has_value() == why.isEmpty(), text);
        if (parsed) {
            FUZZ_CHECK(!parsed->isEmpty(), text);
            FUZZ_CHECK(
                std::all_of(parsed->cbegin(), parsed->cend(), [](const OscNet &net) { return net.prefixBits <= 128; }),
                text);
            allowed = *parsed;
        }
    }
    // This machine, the desk's usual place, or any address.
    OscAddress sender = oscAddressV4((mode & 2) ? 0xc0a80109 : 0x7f000001);
    for (std::size_t i = 0; (mode & 4) && i < sender.size(); ++i) {
        sender[i] = input.byte();
    }
    QByteArray datagram;
    while (!input.empty()) {
        datagram.append(static_cast<char>(input.byte()));
    }
    checkDecision(datagram, sender, allowed);
    return 0;
}
