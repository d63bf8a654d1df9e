#pragma once
#include <cstdint>

namespace platform {

// Monotonic time in microseconds since an arbitrary origin; never goes back.
std::uint64_t monotonicMicros();

void sleepMs(unsigned milliseconds);
void sleepMicros(std::uint64_t microseconds);

// Lets the calling thread's timed waits end within a microsecond of their
// time instead of the system's default slack (50 µs on Linux), which a
// serial line's 1.75 ms frame silence would otherwise pay on every
// transaction. Cheap after the first call on a thread; a no-op where the
// system has no such setting.
void preciseWaitsOnThisThread();

}  // namespace platform
