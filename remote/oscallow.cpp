#include "remote/oscallow.h"

#include <arpa/inet.h>
#include <cstring>

namespace {

constexpr std::uint8_t MappedPrefixBits = 96;

// One entry: an address, optionally bracketed when IPv6, optionally "/bits".
std::optional<OscNet> parseEntry(QStringView entry)
{
    QStringView address = entry;
    std::optional<int> bits;
    if (const qsizetype slash = entry.indexOf(u'/'); slash >= 0) {
        const QStringView digits = entry.sliced(slash + 1);
        if (digits.isEmpty() || digits.size() > 3 ||
            !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; })) {
            return std::nullopt;
        }
        bits = digits.toInt();
        address = entry.first(slash);
    }
    if (address.startsWith(u'[') && address.endsWith(u']') && address.size() > 2) {
        address = address.sliced(1, address.size() - 2);
    } else if (address.contains(u'[') || address.contains(u']')) {
        return std::nullopt;
    }
    // inet_pton takes only the dotted four-part IPv4 form, never "1" or "0x7f.1".
    const QByteArray text = address.toLatin1();
    if (text.size() != address.size() || text.contains('\0')) {
        return std::nullopt;
    }
    OscNet net;
    in_addr v4{};
    if (inet_pton(AF_INET, text.constData(), &v4) == 1) {
        if (bits && *bits > 32) {
            return std::nullopt;
        }
        net.address = oscAddressV4(ntohl(v4.s_addr));
        net.prefixBits = static_cast<std::uint8_t>(MappedPrefixBits + bits.value_or(32));
        return net;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.constData(), &v6) == 1) {
        if (bits && *bits > 128) {
            return std::nullopt;
        }
        std::memcpy(net.address.data(), &v6, net.address.size());
        net.prefixBits = static_cast<std::uint8_t>(bits.value_or(128));
        return net;
    }
    return std::nullopt;
}

} // namespace

OscAddress oscAddressV4(std::uint32_t ipv4)
{
    OscAddress address{};
    address[10] = 0xff;
    address[11] = 0xff;
    for (int i = 0; i < 4; ++i) {
        address[12 + i] = static_cast<std::uint8_t>(ipv4 >> (24 - 8 * i));
    }
    return address;
}

QList<OscNet> oscThisMachineOnly()
{
    OscNet ipv6Loopback;
    ipv6Loopback.address[15] = 1;
    return {{oscAddressV4(0x7f000000), MappedPrefixBits + 8}, ipv6Loopback};
}

std::optional<QList<OscNet>> parseOscAllow(QStringView text, QString *why)
{
    if (text.trimmed().isEmpty()) {
        return oscThisMachineOnly();
    }
    QList<OscNet> nets;
    for (const QStringView entry : text.split(u',')) {
        const std::optional<OscNet> net = parseEntry(entry.trimmed());
        if (!net) {
            if (why) {
                *why = QStringLiteral("\"%1\" is not an IPv4 or IPv6 address").arg(entry.trimmed().left(60));
            }
            return std::nullopt;
        }
        nets.append(*net);
    }
    return nets;
}

bool oscAllowed(const QList<OscNet> &allowed, const OscAddress &sender)
{
    return std::any_of(allowed.cbegin(), allowed.cend(), [&sender](const OscNet &net) {
        const int whole = net.prefixBits / 8;
        if (std::memcmp(net.address.data(), sender.data(), static_cast<std::size_t>(whole)) != 0) {
            return false;
        }
        const int rest = net.prefixBits % 8;
        const auto mask = static_cast<std::uint8_t>(0xff00u >> rest);
        return rest == 0 || ((net.address[whole] ^ sender[whole]) & mask) == 0;
    });
}
