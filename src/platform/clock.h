#pragma once
#include <cstdint>

namespace platform {

// Monotonic time in microseconds since an arbitrary origin; never goes back.
std::uint64_t monotonicMicros();

void sleepMs(unsigned milliseconds);
void sleepMicros(std::uint64_t microseconds);

}  // namespace platform
