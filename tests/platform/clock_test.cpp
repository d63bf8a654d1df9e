#include "platform/clock.h"

#include <gtest/gtest.h>

#if defined(__linux__)
#include <sys/prctl.h>

#include <thread>

namespace {

long timerSlackNanos() {
    return ::prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
}

// The setting is the calling thread's own: a link thread asks for it, and
// the rest of the program keeps the system's default.
TEST(PreciseWaits, NarrowTheCallingThreadsTimerSlackOnly) {
    const long before = timerSlackNanos();
    long inside = -1;
    long again = -1;
    std::thread link([&] {
        platform::preciseWaitsOnThisThread();
        inside = timerSlackNanos();
        platform::preciseWaitsOnThisThread();
        again = timerSlackNanos();
    });
    link.join();
    EXPECT_EQ(inside, 1000);
    EXPECT_EQ(again, 1000);
    EXPECT_EQ(timerSlackNanos(), before);
}
}  // namespace

#endif
