#pragma once

#include <cstdint>

// Milliseconds since the system started, including time spent suspended, truncated to 32 bits and held
// as a signed value. It wraps after 2^32 ms; callers take differences modulo 2^32 (see tickDifference).
class TickCounter
{
public:
    virtual ~TickCounter() = default;
    virtual std::int32_t GetTickCount() const = 0;
};

// later - earlier, taken modulo 2^32: exact for spans under 2^31 ms (24.8 days) either way, and for any
// forward span under 2^32 ms when read as unsigned. Never overflows a signed type.
inline std::int64_t tickDifference(std::int32_t later, std::int32_t earlier)
{
    return static_cast<std::int64_t>(static_cast<std::uint32_t>(later) - static_cast<std::uint32_t>(earlier));
}

// The real counter: CLOCK_BOOTTIME on Linux, a steady clock elsewhere.
class SystemTickCounter final : public TickCounter
{
public:
    std::int32_t GetTickCount() const override;
};
