#include "remote/moduleserver.h"

#include "remote/networkcore.h"

#include <QNetworkInterface>
#include <QThread>
#include <qrencode.h>

#include <memory>

ModuleServer::ModuleServer(PerformAction perform, const ServerLimits &limits, const MakeAnnouncer &makeAnnouncer)
    : perform_(std::move(perform))
    , thread_(new QThread)
{
    thread_->setObjectName(QStringLiteral("Kestrim network"));
    // The action leaves the server thread for the GUI thread and its outcome comes back, each a queued
    // call; if either side is gone by then, the call is dropped with its context object.
    const auto requestAction = [this](quint64 id, ClockCommand command, const QString &text) {
        QMetaObject::invokeMethod(
            &guiSide_,
            [this, id, command, text] {
                const ActionOutcome outcome = perform_(command, text);
                QMetaObject::invokeMethod(
                    core_, [core = core_, id, outcome] { core->actionDone(id, outcome); }, Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    };
    // No parent: it lives on the server thread, and goes with that thread when it finishes.
    core_ = new NetworkCore(requestAction, limits);
    core_->moveToThread(thread_);
    QObject::connect(thread_, &QThread::finished, core_, &QObject::deleteLater);
    thread_->start();
    announcer_ = makeAnnouncer([this](const Announcement &announcement) { announced(announcement); });
}

ModuleServer::~ModuleServer()
{
    // Before the core goes: the announcer's own thread may be telling it a name this very moment.
    announcer_.reset();
    thread_->quit();
    thread_->wait();
    delete thread_;
}

std::optional<QString> ModuleServer::listen(const Config &config)
{
    std::optional<QString> result;
    QMetaObject::invokeMethod(
        core_, [this, &config, &result] { result = core_->listen(config); }, Qt::BlockingQueuedConnection);
    if (!result) {
        announce(httpService(config.port));
    }
    return result;
}

void ModuleServer::close()
{
    withdraw(httpServiceType);
    QMetaObject::invokeMethod(
        core_, [core = core_] { core->close(); }, Qt::QueuedConnection);
}

void ModuleServer::announce(const AnnouncedService &service)
{
    announcer_->announce(service);
}

void ModuleServer::withdraw(const QString &type)
{
    announcer_->withdraw(type);
}

void ModuleServer::announced(const Announcement &announcement)
{
    // The server takes the announced name in Host; it is told first, the dialog that offers links with it next.
    if (!announcement.hostName.isEmpty()) {
        QMetaObject::invokeMethod(
            core_, [core = core_, name = announcement.hostName] { core->acceptMachineName(name); },
            Qt::QueuedConnection);
    }
    QMetaObject::invokeMethod(
        &guiSide_,
        [this, announcement] {
            announcement_ = announcement;
            if (listener_) {
                listener_();
            }
        },
        Qt::QueuedConnection);
}

void ModuleServer::publish(const ClockSnapshot &snapshot)
{
    QMetaObject::invokeMethod(
        core_, [core = core_, snapshot] { core->publish(snapshot); }, Qt::QueuedConnection);
}

std::optional<QString> ModuleServer::listenOsc(const OscConfig &config)
{
    std::optional<QString> result;
    QMetaObject::invokeMethod(
        core_, [this, &config, &result] { result = core_->listenOsc(config); }, Qt::BlockingQueuedConnection);
    // A desk finds the OSC port by the same name as the pages.
    if (!result)
        announcer_->announce({oscServiceType, config.port, {}});
    return result;
}

void ModuleServer::closeOsc()
{
    announcer_->withdraw(oscServiceType);
    QMetaObject::invokeMethod(
        core_, [core = core_] { core->closeOsc(); }, Qt::QueuedConnection);
}

OscCounters ModuleServer::oscCounters() const
{
    OscCounters counters;
    QMetaObject::invokeMethod(
        core_, [this, &counters] { counters = core_->oscCounters(); }, Qt::BlockingQueuedConnection);
    return counters;
}

QStringList ModuleServer::linkHosts() const
{
    QStringList hosts;
    QStringList loopback;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        if (!interface.flags().testFlag(QNetworkInterface::IsUp)) {
            continue;
        }
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            const QHostAddress address = entry.ip();
            // A link-local IPv6 address needs its interface in the link, which browsers do not take.
            if (address.isLinkLocal() && address.protocol() == QAbstractSocket::IPv6Protocol) {
                continue;
            }
            const QString text = address.protocol() == QAbstractSocket::IPv6Protocol ? u'[' + address.toString() + u']'
                                                                                     : address.toString();
            (address.isLoopback() ? loopback : hosts).append(text);
        }
    }
    return hosts + loopback;
}

QImage ModuleServer::qrCode(const QString &text) const
{
    const QByteArray bytes = text.toUtf8();
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code) {
        return {};
    }
    constexpr int Quiet = 4;
    const int size = code->width + 2 * Quiet;
    QImage image(size, size, QImage::Format_Mono);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    image.fill(0);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            if (code->data[y * code->width + x] & 1) {
                image.setPixel(x + Quiet, y + Quiet, 1);
            }
        }
    }
    return image;
}
