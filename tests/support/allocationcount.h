#pragma once

#include <cstdint>

// Counts every allocation made through the global operator new (the replacements live in
// allocationcount.cpp), including those Qt's libraries make, so a measurement can prove it allocates nothing.
namespace AllocationCount {

std::uint64_t total();

} // namespace AllocationCount
