#include "remote/accessgate.h"

#include <QHostAddress>

bool sameSecret(QByteArrayView presented, QByteArrayView secret)
{
    unsigned difference = presented.size() == secret.size() ? 0u : 1u;
    for (qsizetype i = 0; i < secret.size(); ++i) {
        const char offered = i < presented.size() ? presented[i] : '\0';
        difference |= static_cast<unsigned char>(offered ^ secret[i]);
    }
    // An empty secret is no secret: nothing matches it.
    return difference == 0 && !secret.isEmpty();
}

void AccessGate::setTokens(const QString &viewer, const QString &control)
{
    viewer_ = viewer.toLatin1();
    control_ = control.toLatin1();
}

Access AccessGate::accessFor(QByteArrayView presented) const
{
    const bool viewer = sameSecret(presented, viewer_);
    const bool control = sameSecret(presented, control_);
    return control ? Access::Control : viewer ? Access::Viewer : Access::None;
}

bool AccessGate::blocked(const QString &address, std::int64_t nowMs) const
{
    const auto found = failures_.constFind(address);
    return found != failures_.cend() && nowMs < found->blockedUntil;
}

void AccessGate::recordFailure(const QString &address, std::int64_t nowMs)
{
    if (failures_.size() >= MaxTracked && !failures_.contains(address)) {
        // Forget whoever is not blocked now; if all are, the newest stays untracked.
        for (auto it = failures_.begin(); it != failures_.end();) {
            it = nowMs >= it->blockedUntil ? failures_.erase(it) : std::next(it);
        }
        if (failures_.size() >= MaxTracked) {
            return;
        }
    }
    Failures &f = failures_[address];
    while (!f.times.empty() && nowMs - f.times.front() >= WindowMs) {
        f.times.pop_front();
    }
    f.times.push_back(nowMs);
    if (static_cast<int>(f.times.size()) >= AllowedFailures) {
        f.blockedUntil = nowMs + BlockMs;
        f.times.clear();
    }
}

namespace {

bool isPort(QByteArrayView digits)
{
    return !digits.isEmpty() && digits.size() <= 5 &&
           std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool hostAllowed(QByteArrayView host, const QStringList &machineNames)
{
    QByteArrayView name = host.trimmed();
    if (name.startsWith('[')) {
        // "[::1]:4680"
        const qsizetype close = name.indexOf(']');
        if (close < 0) {
            return false;
        }
        const QByteArrayView rest = name.sliced(close + 1);
        if (!rest.isEmpty() && !(rest.startsWith(':') && isPort(rest.sliced(1)))) {
            return false;
        }
        QHostAddress address;
        return address.setAddress(QString::fromLatin1(name.sliced(1, close - 1))) &&
               address.protocol() == QAbstractSocket::IPv6Protocol;
    }
    if (const qsizetype colon = name.lastIndexOf(':'); colon >= 0) {
        if (!isPort(name.sliced(colon + 1))) {
            return false;
        }
        name = name.first(colon);
    }
    if (name.isEmpty()) {
        return false;
    }
    const QString text = QString::fromLatin1(name);
    QHostAddress address;
    // Only the four-part dotted form: "1" and "0x7f.1" parse as addresses too, and mean nothing to a person.
    if (address.setAddress(text) && address.protocol() == QAbstractSocket::IPv4Protocol && name.count('.') == 3) {
        return true;
    }
    if (text.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    return std::any_of(machineNames.cbegin(), machineNames.cend(), [&text](const QString &machine) {
        return !machine.isEmpty() && text.compare(machine, Qt::CaseInsensitive) == 0;
    });
}
