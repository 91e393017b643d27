#include "platform/tickcounter.h"

#include <chrono>
#include <cstdint>

#ifdef __linux__
#include <time.h>
#endif

std::int32_t SystemTickCounter::GetTickCount() const
{
    std::uint64_t ms = 0;
#ifdef __linux__
    // CLOCK_BOOTTIME keeps counting while the machine is suspended, so a talk timed across a suspend shows
    // the real elapsed time, as a wall-clock user expects.
    timespec ts{};
    if (clock_gettime(CLOCK_BOOTTIME, &ts) == 0) {
        ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    } else
#endif
    {
        const auto since = std::chrono::steady_clock::now().time_since_epoch();
        ms = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
    }
    // Keep the low 32 bits: callers compare ticks modulo 2^32.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms & 0xFFFFFFFFu));
}
