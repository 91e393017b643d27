#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>

// The senders OSC commands are taken from without the control token. OSC carries no secret of its own, so
// the default is this machine alone. Kept in the program (the settings check it at start-up) and parsed with
// the C library, so that reading the settings maps no network library.

// An IPv6 address, or an IPv4 one in its mapped form (::ffff:a.b.c.d), so that one comparison serves both and
// a dual-stack socket's senders match the IPv4 entries.
using OscAddress = std::array<std::uint8_t, 16>;

// An address with the number of leading bits that must match: 128 for one address, 96 + n for an IPv4 /n.
struct OscNet
{
    OscAddress address{};
    std::uint8_t prefixBits = 128;

    friend bool operator==(const OscNet &, const OscNet &) = default;
};

OscAddress oscAddressV4(std::uint32_t ipv4);
// Loopback: 127.0.0.0/8 and ::1.
QList<OscNet> oscThisMachineOnly();

// "192.168.1.20, 10.0.0.0/8, ::1, [fe80::1]": entries separated by commas, blanks around them allowed, each
// an IPv4 or IPv6 address with an optional "/bits"; empty or blank for this machine only. Nothing for a
// text that is not such a list, with `why` saying which entry.
std::optional<QList<OscNet>> parseOscAllow(QStringView text, QString *why = nullptr);

bool oscAllowed(const QList<OscNet> &allowed, const OscAddress &sender);
