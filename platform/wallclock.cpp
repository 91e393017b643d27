#include "platform/wallclock.h"

QDateTime SystemWallClock::now() const
{
    return QDateTime::currentDateTime();
}
