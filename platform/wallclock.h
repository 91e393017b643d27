#pragma once

#include <QDateTime>

// The laptop's wall clock: the local date and time of day a programme of talks is planned in. Unlike the
// tick counter that drives the clock, it may jump (a time server, a time zone, daylight saving time), so
// it only places talks in the day and never times one.
class WallClock
{
public:
    virtual ~WallClock() = default;
    // Local time, to the millisecond.
    virtual QDateTime now() const = 0;
};

// The desktop's own clock.
class SystemWallClock final : public WallClock
{
public:
    QDateTime now() const override;
};
