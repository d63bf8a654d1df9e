#pragma once
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "data/language.h"
#include "drive/result.h"
#include "drive/session.h"

namespace drive {

// One value of one scope channel, stamped with the instant the drive was
// read: monotonic microseconds (platform::monotonicMicros) at the middle of
// the transaction that carried it, not index times the nominal period.
struct ScopeSample {
    std::int32_t channel = 0;
    std::int32_t value = 0;
    std::uint64_t timeMicros = 0;
};

// The scope's sampling engine: up to three channels, each a row of the scope
// quantity table; channels at nearby registers are read in one request.
//
// Threads: the configuration calls (setChannel, setPaused, setSamplePeriodUs)
// come from one thread (the user interface), acquire runs on the poll thread,
// takeSamples and discardSamples on one consumer thread (the user interface).
// The samples travel through a single-producer single-consumer lock-free
// queue; a full queue drops the new sample.
class ScopeAcquisition {
  public:
    static constexpr int kChannels = 3;
    static constexpr int kBufferBytes = 24;
    static constexpr int kGroupSpan = 10;
    static constexpr std::uint32_t kQueueSize = 8192;
    static_assert((kQueueSize & (kQueueSize - 1)) == 0, "indices wrap at a multiple of the size");
    static constexpr int kIdleWaitMs = 20;

    ScopeAcquisition(DriveSession& session, const data::ScopeTable& quantities);

    // Channel k samples table row `row` (its address is taken from the row);
    // row -1 leaves the channel without a row (it cannot be on).
    void setChannel(int channel, bool enabled, int row);
    void setEnabled(int channel, bool enabled);
    bool channelEnabled(int channel) const;
    int channelRow(int channel) const;  // -1 when none
    void setPaused(bool paused);
    bool paused() const { return paused_.load(std::memory_order_acquire); }
    void setSamplePeriodUs(int periodUs);
    int samplePeriodUs() const { return samplePeriodUs_.load(std::memory_order_acquire); }
    std::int32_t lastValue(int channel) const;

    // Poll thread: one acquisition cycle. Reads the enabled channels, queues
    // the values, then waits out the sample period from the cycle's start (a
    // cycle with nothing to read waits kIdleWaitMs). Returns the result of the
    // cycle's last read; a failed last read returns at once. `read` is set
    // when anything was read (the poll loop goes on without a pause then).
    Result acquire(bool* read = nullptr);

    // Consumer: hands every queued sample to `sink` in order; returns how many.
    std::size_t takeSamples(const std::function<void(const ScopeSample&)>& sink);
    // Consumer: drops what is queued.
    void discardSamples();

  private:
    struct Slot {
        int channel = 0;
        int row = 0;
        std::uint16_t address = 0;
    };
    int rowSize(int row) const;
    Result readAlone(const Slot& slot);
    Result readGroup(const Slot* slots, int count);
    Result read(std::uint16_t address, int bytes);
    void deliver(const Slot& slot, const std::uint8_t* at);
    void waitOut(std::chrono::steady_clock::time_point start);

    DriveSession& session_;
    const data::ScopeTable& quantities_;
    // Per channel, one word: address | row << 16 | enabled << 32 | hasRow << 33.
    std::array<std::atomic<std::uint64_t>, kChannels> published_{};
    std::atomic<bool> paused_{false};
    std::atomic<std::int32_t> samplePeriodUs_{10000};
    std::array<std::atomic<std::int32_t>, kChannels> lastValue_{};

    std::array<ScopeSample, kQueueSize> queue_{};
    std::atomic<std::uint32_t> queueHead_{0};
    std::atomic<std::uint32_t> queueTail_{0};

    // Poll thread only.
    std::chrono::microseconds lateness_{0};
    std::array<std::uint8_t, kBufferBytes> buffer_{};
    std::uint64_t readTime_ = 0;  // middle of the last read
};

}  // namespace drive
