#pragma once
// The frames received on the line, as delimited by silence, for tests that
// check the exact requests a master sent.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace sim {

class RequestLog {
  public:
    static constexpr std::size_t kMaxFrames = 10000;  // older frames are dropped

    void enable(bool on) { enabled_.store(on, std::memory_order_relaxed); }
    bool enabled() const { return enabled_.load(std::memory_order_relaxed); }
    void record(std::span<const std::uint8_t> frame);
    void clear();
    // Upper-case hex frames, one per element, oldest first.
    std::vector<std::string> frames() const;

  private:
    std::atomic<bool> enabled_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> frames_;
};

std::string toHex(std::span<const std::uint8_t> bytes);

}  // namespace sim
