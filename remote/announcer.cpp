#include "remote/announcer.h"

#include <avahi-common/alternative.h>
#include <avahi-common/malloc.h>
#include <memory>

namespace {

// Bytes of a DNS label, which a service name is.
constexpr qsizetype LabelBytes = 63;

} // namespace

QString serviceNameFor(const QString &host)
{
    QString name = QStringLiteral("Kestrim on ") + host;
    // Whole characters only, so that a long name in any script stays valid UTF-8.
    while (name.toUtf8().size() > LabelBytes) {
        name.chop(name.size() >= 2 && name.at(name.size() - 1).isLowSurrogate() ? 2 : 1);
    }
    return name;
}

QString nextServiceName(const QString &name)
{
    const std::unique_ptr<char, decltype(&avahi_free)> next(avahi_alternative_service_name(name.toUtf8().constData()),
                                                            &avahi_free);
    return next ? QString::fromUtf8(next.get()) : name + QStringLiteral(" #2");
}

AnnouncedService httpService(std::uint16_t port)
{
    return {httpServiceType, port, {QStringLiteral("path=/"), QStringLiteral("api=/api/v1")}};
}
