#pragma once

#include "remote/announcer.h"

// Announces through the desktop's avahi-daemon, which answers for the whole machine on the network: the
// client library talks to it over the system's D-Bus. Without a daemon it says so and waits for one.
std::unique_ptr<Announcer> makeAvahiAnnouncer(Announcer::Report report);
