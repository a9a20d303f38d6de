#pragma once
// The monotonic clock in nanoseconds, for every interval the library measures: a step of the
// wall clock changes none of them.
#include <chrono>
#include <cstdint>

namespace nativesupport {

inline int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace nativesupport
