#pragma once
// The frames received on the line, as delimited by silence, for tests that
// check the exact requests a master sent, and when each began: a master must
// leave 3.5 characters of silence before a frame, and this is where a test
// sees whether it did.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace sim {

// When a frame's first byte was read, and the silence before it since the
// last byte on the line in either direction (a request's last byte, or the
// last byte of our own response). Microseconds of the steady clock; silence
// is -1 for the first frame, which nothing preceded.
struct FrameArrival {
    std::int64_t firstByteMicros = 0;
    std::int64_t silenceMicros = -1;
};

class RequestLog {
  public:
    static constexpr std::size_t kMaxFrames = 10000;  // older frames are dropped

    void enable(bool on) { enabled_.store(on, std::memory_order_relaxed); }
    bool enabled() const { return enabled_.load(std::memory_order_relaxed); }
    void record(std::span<const std::uint8_t> frame, FrameArrival arrival = {});
    void clear();
    // Upper-case hex frames, one per element, oldest first.
    std::vector<std::string> frames() const;
    // The arrival of each frame, in the order of frames().
    std::vector<FrameArrival> arrivals() const;

  private:
    std::atomic<bool> enabled_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> frames_;
    std::vector<FrameArrival> arrivals_;
};

std::string toHex(std::span<const std::uint8_t> bytes);

}  // namespace sim
