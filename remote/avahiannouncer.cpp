#include "remote/avahiannouncer.h"

#include <QMap>

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>
#include <cstdint>
#include <mutex>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// Without the system's bus there is nothing to wait on for a daemon to appear: look again at this pace.
constexpr unsigned RetrySeconds = 5;
// Every name taken this many times over means something else is wrong.
constexpr int MostRenames = 50;

QString noDaemon()
{
    return QStringLiteral("no avahi-daemon is running");
}

QString problemOf(int error)
{
    return error == AVAHI_ERR_NO_DAEMON || error == AVAHI_ERR_DISCONNECTED || error == AVAHI_ERR_DBUS_ERROR
               ? noDaemon()
               : QStringLiteral("avahi-daemon: %1").arg(QString::fromUtf8(avahi_strerror(error)));
}

// avahi's threaded poll, not Qt's event loop: every entry-group call of the client library is a D-Bus round
// trip that blocks, and on a thread of its own that wait delays neither the clock nor the server's requests.
// The client lives on that thread alone; the GUI thread only hands over the wanted services and wakes it.
class AvahiAnnouncer final : public Announcer
{
public:
    explicit AvahiAnnouncer(Report report);
    ~AvahiAnnouncer() override;
    AvahiAnnouncer(const AvahiAnnouncer &) = delete;
    AvahiAnnouncer &operator=(const AvahiAnnouncer &) = delete;

    void announce(const AnnouncedService &service) override;
    void withdraw(const QString &type) override;

private:
    static void onWake(AvahiWatch *, int fd, AvahiWatchEvent, void *self);
    static void onRetry(AvahiTimeout *, void *self);
    static void onClient(AvahiClient *client, AvahiClientState state, void *self);
    static void onGroup(AvahiEntryGroup *group, AvahiEntryGroupState state, void *self);

    // On avahi's thread from here on.
    void connect();
    void retryLater();
    void clientIs(AvahiClient *client, AvahiClientState state);
    void registerWanted();
    int addService(const AnnouncedService &service);
    void tell(Announcement::State state, const QString &problem = {});
    void wake();

    Report report_;
    AvahiThreadedPoll *poll_ = nullptr;
    const AvahiPoll *api_ = nullptr;
    int wake_ = -1;
    AvahiWatch *wakeWatch_ = nullptr;
    AvahiTimeout *retry_ = nullptr;
    AvahiClient *client_ = nullptr;
    bool creating_ = false;
    AvahiEntryGroup *group_ = nullptr;
    QMap<QString, AnnouncedService> registered_; // by type
    QString firstName_;
    QString name_;
    Announcement told_;

    std::mutex wantedLock_;
    QMap<QString, AnnouncedService> wanted_; // by type, guarded by wantedLock_
};

AvahiAnnouncer::AvahiAnnouncer(Report report)
    : report_(std::move(report))
    , poll_(avahi_threaded_poll_new())
    , wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (poll_ == nullptr || wake_ < 0) {
        tell(Announcement::State::Unavailable, QStringLiteral("avahi's event loop cannot be made"));
        return;
    }
    api_ = avahi_threaded_poll_get(poll_);
    wakeWatch_ = api_->watch_new(api_, wake_, AVAHI_WATCH_IN, &AvahiAnnouncer::onWake, this);
    // The first connection on avahi's thread too: making the client waits for the daemon's answers.
    timeval now{};
    retry_ = api_->timeout_new(api_, avahi_elapse_time(&now, 0, 0), &AvahiAnnouncer::onRetry, this);
    if (avahi_threaded_poll_start(poll_) < 0) {
        tell(Announcement::State::Unavailable, QStringLiteral("avahi's event loop cannot be started"));
    }
}

AvahiAnnouncer::~AvahiAnnouncer()
{
    if (api_ != nullptr) {
        avahi_threaded_poll_stop(poll_);
        // The thread is done: the client, and with it every announcement, goes from this one.
        if (client_ != nullptr) {
            avahi_client_free(client_);
        }
        api_->watch_free(wakeWatch_);
        api_->timeout_free(retry_);
    }
    if (poll_ != nullptr) {
        avahi_threaded_poll_free(poll_);
    }
    if (wake_ >= 0) {
        ::close(wake_);
    }
}

void AvahiAnnouncer::announce(const AnnouncedService &service)
{
    {
        const std::lock_guard lock(wantedLock_);
        wanted_.insert(service.type, service);
    }
    wake();
}

void AvahiAnnouncer::withdraw(const QString &type)
{
    {
        const std::lock_guard lock(wantedLock_);
        wanted_.remove(type);
    }
    wake();
}

void AvahiAnnouncer::wake()
{
    if (wake_ >= 0) {
        // Only a counter at its maximum refuses, and then a wake-up is pending anyway.
        [[maybe_unused]] const int written = ::eventfd_write(wake_, 1);
    }
}

void AvahiAnnouncer::onWake(AvahiWatch *, int fd, AvahiWatchEvent, void *self)
{
    eventfd_t count = 0;
    [[maybe_unused]] const int read = ::eventfd_read(fd, &count);
    static_cast<AvahiAnnouncer *>(self)->registerWanted();
}

void AvahiAnnouncer::onRetry(AvahiTimeout *, void *self)
{
    auto *announcer = static_cast<AvahiAnnouncer *>(self);
    announcer->api_->timeout_update(announcer->retry_, nullptr);
    announcer->connect();
}

void AvahiAnnouncer::connect()
{
    int error = 0;
    // NO_FAIL: with the bus but no daemon the client waits for one, and announces once it is there.
    creating_ = true;
    client_ = avahi_client_new(api_, AVAHI_CLIENT_NO_FAIL, &AvahiAnnouncer::onClient, this, &error);
    creating_ = false;
    if (client_ != nullptr && avahi_client_get_state(client_) == AVAHI_CLIENT_FAILURE) {
        error = avahi_client_errno(client_);
        avahi_client_free(client_);
        client_ = nullptr;
    }
    if (client_ == nullptr) {
        tell(Announcement::State::Unavailable, problemOf(error));
        retryLater();
        return;
    }
    clientIs(client_, avahi_client_get_state(client_));
}

void AvahiAnnouncer::retryLater()
{
    timeval later{};
    api_->timeout_update(retry_, avahi_elapse_time(&later, RetrySeconds * 1000, 0));
}

void AvahiAnnouncer::onClient(AvahiClient *client, AvahiClientState state, void *self)
{
    auto *announcer = static_cast<AvahiAnnouncer *>(self);
    // The states it passes while being made are taken from it once avahi_client_new returns.
    if (!announcer->creating_) {
        announcer->clientIs(client, state);
    }
}

void AvahiAnnouncer::clientIs(AvahiClient *client, AvahiClientState state)
{
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        if (firstName_.isEmpty()) {
            firstName_ = serviceNameFor(QString::fromUtf8(avahi_client_get_host_name(client)));
            name_ = firstName_;
        }
        registerWanted();
        break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
        // The machine's own name is being settled; the services follow it once the daemon runs again.
        if (group_ != nullptr) {
            avahi_entry_group_reset(group_);
        }
        registered_.clear();
        tell(Announcement::State::Announcing);
        break;
    case AVAHI_CLIENT_CONNECTING:
        // What the daemon held is gone with it.
        if (group_ != nullptr) {
            avahi_entry_group_free(group_);
            group_ = nullptr;
        }
        registered_.clear();
        firstName_.clear();
        tell(Announcement::State::Unavailable, noDaemon());
        break;
    case AVAHI_CLIENT_FAILURE: {
        // The daemon went away: a new client waits for it to come back, as avahi's own tools do.
        const int error = avahi_client_errno(client);
        avahi_client_free(client);
        client_ = nullptr;
        group_ = nullptr;
        registered_.clear();
        firstName_.clear();
        tell(Announcement::State::Unavailable, problemOf(error));
        if (error == AVAHI_ERR_DISCONNECTED) {
            connect();
        } else {
            retryLater();
        }
        break;
    }
    }
}

void AvahiAnnouncer::registerWanted()
{
    if (client_ == nullptr || avahi_client_get_state(client_) != AVAHI_CLIENT_S_RUNNING) {
        return;
    }
    QMap<QString, AnnouncedService> wanted;
    {
        const std::lock_guard lock(wantedLock_);
        wanted = wanted_;
    }
    if (wanted == registered_) {
        return;
    }
    if (group_ != nullptr) {
        avahi_entry_group_reset(group_);
    }
    registered_.clear();
    if (wanted.isEmpty()) {
        return tell(Announcement::State::Off);
    }
    if (group_ == nullptr && (group_ = avahi_entry_group_new(client_, &AvahiAnnouncer::onGroup, this)) == nullptr) {
        return tell(Announcement::State::Unavailable, problemOf(avahi_client_errno(client_)));
    }
    int result = AVAHI_OK;
    for (int renames = 0; renames < MostRenames; ++renames) {
        for (const AnnouncedService &service : wanted) {
            if ((result = addService(service)) < 0) {
                break;
            }
        }
        // Taken by another program on this machine: the daemon says so at once, not by a collision later.
        if (result != AVAHI_ERR_COLLISION) {
            break;
        }
        avahi_entry_group_reset(group_);
        name_ = nextServiceName(name_);
    }
    if (result >= 0) {
        result = avahi_entry_group_commit(group_);
    }
    if (result < 0) {
        avahi_entry_group_reset(group_);
        return tell(Announcement::State::Unavailable, problemOf(result));
    }
    registered_ = wanted;
    tell(Announcement::State::Announcing);
}

int AvahiAnnouncer::addService(const AnnouncedService &service)
{
    AvahiStringList *txt = nullptr;
    for (const QString &record : service.txt) {
        txt = avahi_string_list_add(txt, record.toUtf8().constData());
    }
    txt = avahi_string_list_reverse(txt);
    const int result = avahi_entry_group_add_service_strlst(
        group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), name_.toUtf8().constData(),
        service.type.toUtf8().constData(), nullptr, nullptr, service.port, txt);
    avahi_string_list_free(txt);
    return result;
}

void AvahiAnnouncer::onGroup(AvahiEntryGroup *group, AvahiEntryGroupState state, void *self)
{
    auto *announcer = static_cast<AvahiAnnouncer *>(self);
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        announcer->tell(Announcement::State::Announced);
        break;
    case AVAHI_ENTRY_GROUP_COLLISION:
        // Another device on the network had the name first.
        announcer->name_ = nextServiceName(announcer->name_);
        announcer->registered_.clear();
        announcer->registerWanted();
        break;
    case AVAHI_ENTRY_GROUP_FAILURE:
        announcer->tell(Announcement::State::Unavailable,
                        problemOf(avahi_client_errno(avahi_entry_group_get_client(group))));
        break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
}

void AvahiAnnouncer::tell(Announcement::State state, const QString &problem)
{
    Announcement now{state, name_, firstName_, {}, problem};
    if (state == Announcement::State::Announced) {
        now.hostName = QString::fromUtf8(avahi_client_get_host_name_fqdn(client_));
    }
    if (now != told_) {
        told_ = now;
        report_(now);
    }
}

} // namespace

std::unique_ptr<Announcer> makeAvahiAnnouncer(Announcer::Report report)
{
    return std::make_unique<AvahiAnnouncer>(std::move(report));
}
