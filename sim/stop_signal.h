#pragma once
// The simulator's stop request: a pipe that becomes readable once, so that
// every poll loop wakes, and a flag. request() is async-signal-safe.
#include <atomic>
#include <chrono>

namespace sim {

class StopSignal {
  public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void request();
    bool requested() const { return flag_.load(std::memory_order_relaxed); }
    // Readable once a stop is requested; never drained.
    int fd() const { return fds_[0]; }
    // Sleeps until the deadline; false when a stop came first.
    bool sleepUntil(std::chrono::steady_clock::time_point deadline) const;
    bool sleepFor(std::chrono::nanoseconds duration) const {
        return sleepUntil(std::chrono::steady_clock::now() + duration);
    }

  private:
    int fds_[2] = {-1, -1};
    std::atomic<bool> flag_{false};
};

}  // namespace sim
