#include "drive/scope.h"

#include <algorithm>
#include <span>
#include <thread>
#include <utility>

#include "platform/clock.h"

namespace drive {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// Bounds of how early the sleep before the final spin wakes (see waitOut).
constexpr std::chrono::microseconds kMinSpin{300};
constexpr std::chrono::microseconds kMaxSpin{2000};
// The longest single sleep of a wait.
constexpr std::chrono::milliseconds kWaitSlice{20};

struct ChannelWord {
    bool enabled = false;
    bool hasRow = false;
    std::uint16_t row = 0;
    std::uint16_t address = 0;

    std::uint64_t pack() const {
        return std::uint64_t{address} | std::uint64_t{row} << 16 |
               std::uint64_t{enabled ? 1u : 0u} << 32 | std::uint64_t{hasRow ? 1u : 0u} << 33;
    }
    static ChannelWord unpack(std::uint64_t word) {
        ChannelWord c;
        c.address = static_cast<std::uint16_t>(word & 0xFFFF);
        c.row = static_cast<std::uint16_t>(word >> 16 & 0xFFFF);
        c.enabled = (word >> 32 & 1) != 0;
        c.hasRow = (word >> 33 & 1) != 0;
        return c;
    }
};

// Register data in memory: 16-bit little-endian words in address order.
std::int32_t decode(const std::uint8_t* at, int size) {
    const auto word = [at](int i) {
        return static_cast<std::uint16_t>(at[2 * i] | (at[2 * i + 1] << 8));
    };
    if (size == 2) return static_cast<std::int16_t>(word(0));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(word(1)) << 16 | word(0));
}

}  // namespace

ScopeAcquisition::ScopeAcquisition(DriveSession& session, const data::ScopeTable& quantities)
    : session_(session), quantities_(quantities) {
    for (int k = 0; k < kChannels; ++k) setChannel(k, false, quantities_.empty() ? -1 : 0);
}

void ScopeAcquisition::setChannel(int channel, bool enabled, int row) {
    if (channel < 0 || channel >= kChannels) return;
    ChannelWord c;
    if (row >= 0 && static_cast<std::size_t>(row) < quantities_.size()) {
        c.hasRow = true;
        c.row = static_cast<std::uint16_t>(row);
        c.address = quantities_[static_cast<std::size_t>(row)].address;
    }
    // Without a row a channel cannot be on.
    c.enabled = enabled && c.hasRow;
    published_[static_cast<std::size_t>(channel)].store(c.pack(), std::memory_order_release);
}

void ScopeAcquisition::setEnabled(int channel, bool enabled) {
    if (channel < 0 || channel >= kChannels) return;
    setChannel(channel, enabled, channelRow(channel));
}

bool ScopeAcquisition::channelEnabled(int channel) const {
    if (channel < 0 || channel >= kChannels) return false;
    return ChannelWord::unpack(
               published_[static_cast<std::size_t>(channel)].load(std::memory_order_acquire))
        .enabled;
}

int ScopeAcquisition::channelRow(int channel) const {
    if (channel < 0 || channel >= kChannels) return -1;
    const ChannelWord c = ChannelWord::unpack(
        published_[static_cast<std::size_t>(channel)].load(std::memory_order_acquire));
    return c.hasRow ? c.row : -1;
}

void ScopeAcquisition::setPaused(bool paused) {
    paused_.store(paused, std::memory_order_release);
}

void ScopeAcquisition::setSamplePeriodUs(int periodUs) {
    samplePeriodUs_.store(std::max(periodUs, 0), std::memory_order_release);
}

std::int32_t ScopeAcquisition::lastValue(int channel) const {
    if (channel < 0 || channel >= kChannels) return 0;
    return lastValue_[static_cast<std::size_t>(channel)].load(kRelaxed);
}

std::size_t ScopeAcquisition::takeSamples(const std::function<void(const ScopeSample&)>& sink) {
    // Acquire pairs with the producer's release: the entries up to the head
    // are written.
    std::uint32_t tail = queueTail_.load(kRelaxed);
    const std::uint32_t head = queueHead_.load(std::memory_order_acquire);
    std::size_t n = 0;
    for (; tail != head; ++tail, ++n) sink(queue_[tail % kQueueSize]);
    queueTail_.store(tail, std::memory_order_release);
    return n;
}

void ScopeAcquisition::discardSamples() {
    queueTail_.store(queueHead_.load(std::memory_order_acquire), std::memory_order_release);
}

// --- Poll thread

int ScopeAcquisition::rowSize(int row) const {
    // Only 4 means 32 bits; anything else is read and decoded as 16 bits.
    return quantities_[static_cast<std::size_t>(row)].size == 4 ? 4 : 2;
}

void ScopeAcquisition::deliver(const Slot& slot, const std::uint8_t* at) {
    const std::int32_t value = decode(at, rowSize(slot.row));
    lastValue_[static_cast<std::size_t>(slot.channel)].store(value, kRelaxed);
    // Release pairs with takeSamples' acquire: the entry is written before
    // the head passes it.
    const std::uint32_t head = queueHead_.load(kRelaxed);
    if (head - queueTail_.load(std::memory_order_acquire) >= kQueueSize) return;
    queue_[head % kQueueSize] = {slot.channel, value, readTime_};
    queueHead_.store(head + 1, std::memory_order_release);
}

Result ScopeAcquisition::read(std::uint16_t address, int bytes) {
    // The drive takes its values while it answers: the middle of the whole
    // transaction stands for that instant better than either end (on a clean
    // read the two ends differ by the request and answer times on the line).
    const std::uint64_t before = platform::monotonicMicros();
    Result r = session_.readRegisters(
        address, std::span<std::uint8_t>(buffer_).first(static_cast<std::size_t>(bytes)));
    const std::uint64_t after = platform::monotonicMicros();
    readTime_ = before + (after - before) / 2;
    return r;
}

Result ScopeAcquisition::readAlone(const Slot& slot) {
    Result r = read(slot.address, rowSize(slot.row));
    if (r) deliver(slot, buffer_.data());
    return r;
}

Result ScopeAcquisition::readGroup(const Slot* slots, int count) {
    // The group's bytes and each value's offset come from the list rows
    // between the first and the last slot, which the group form expects to be
    // consecutive registers in ascending order. Where the rows say otherwise
    // (a byte count that does not fit the buffer, or an offset that is not
    // the register's place in the read) the slots are read one by one, so
    // that no channel shows another register's value.
    const Slot& first = slots[0];
    const auto bytesBetween = [this](int from, int to) {
        int bytes = 0;
        for (int r = from; r < to && bytes <= kBufferBytes; ++r)
            bytes += quantities_[static_cast<std::size_t>(r)].size;
        return bytes;
    };
    const int byteCount =
        first.row <= slots[count - 1].row ? bytesBetween(first.row, slots[count - 1].row + 1) : 0;
    std::array<int, kChannels> offsets{};
    bool fits = byteCount > 0 && byteCount <= kBufferBytes;
    for (int i = 0; i < count && fits; ++i) {
        const Slot& s = slots[i];
        const int offset = s.row > first.row ? bytesBetween(first.row, s.row) : 0;
        offsets[static_cast<std::size_t>(i)] = offset;
        fits = offset == 2 * (s.address - first.address) && offset + rowSize(s.row) <= byteCount;
    }
    if (!fits) {
        Result r;
        for (int i = 0; i < count; ++i) r = readAlone(slots[i]);
        return r;
    }
    Result r = read(first.address, byteCount);
    if (r)
        for (int i = 0; i < count; ++i)
            deliver(slots[i], buffer_.data() + offsets[static_cast<std::size_t>(i)]);
    return r;
}

void ScopeAcquisition::waitOut(std::chrono::steady_clock::time_point start) {
    using Clock = std::chrono::steady_clock;
    // Sleep until shortly before the deadline, then spin the rest: the period
    // is met to the microsecond without holding a core for all of it. The
    // margin follows how late recent sleeps woke up. Long waits sleep in
    // slices, so that a new period takes effect within one.
    for (;;) {
        const auto deadline = start + std::chrono::microseconds(samplePeriodUs());
        const auto margin =
            std::clamp(2 * lateness_ + std::chrono::microseconds(200), kMinSpin, kMaxSpin);
        const auto wake = deadline - margin;
        const auto now = Clock::now();
        if (now >= wake) break;
        if (wake - now > kWaitSlice) {
            std::this_thread::sleep_for(kWaitSlice);
            continue;
        }
        std::this_thread::sleep_until(wake);
        const auto late =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - wake);
        lateness_ = std::max(late, lateness_ * 7 / 8);
        break;
    }
    const auto deadline = start + std::chrono::microseconds(samplePeriodUs());
    while (Clock::now() < deadline) {
    }
}

Result ScopeAcquisition::acquire(bool* read) {
    if (read) *read = false;
    const auto idle = [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(kIdleWaitMs));
        return Result{};
    };
    if (paused()) return idle();

    // Each channel's row and address come from one word; a channel at the
    // register of a lower channel (on or off) is not read.
    std::array<ChannelWord, kChannels> c;
    for (std::size_t k = 0; k < kChannels; ++k)
        c[k] = ChannelWord::unpack(published_[k].load(std::memory_order_acquire));
    std::array<Slot, kChannels> slots;
    int count = 0;
    for (int k = 0; k < kChannels; ++k) {
        const ChannelWord& ch = c[static_cast<std::size_t>(k)];
        if (!ch.enabled || !ch.hasRow) continue;
        if (static_cast<std::size_t>(ch.row) >= quantities_.size()) continue;
        bool shared = false;
        for (int lower = 0; lower < k; ++lower)
            shared = shared || c[static_cast<std::size_t>(lower)].address == ch.address;
        if (!shared) slots[static_cast<std::size_t>(count++)] = {k, ch.row, ch.address};
    }
    if (count == 0) return idle();
    if (read) *read = true;

    const auto start = std::chrono::steady_clock::now();
    // Ascending addresses (distinct: shared registers were left out).
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i)
        for (std::size_t j = i + 1; j < static_cast<std::size_t>(count); ++j)
            if (slots[j].address < slots[i].address) std::swap(slots[i], slots[j]);
    const auto near = [](const Slot& a, const Slot& b) {
        return b.address - a.address <= kGroupSpan;
    };
    Result r;
    if (count == 1) {
        r = readAlone(slots[0]);
    } else if (count == 2) {
        if (near(slots[0], slots[1])) {
            r = readGroup(slots.data(), 2);
        } else {
            readAlone(slots[0]);
            r = readAlone(slots[1]);
        }
    } else {
        const bool near1 = near(slots[0], slots[1]);
        const bool near2 = near(slots[1], slots[2]);
        if (near1 && near2) {
            r = readGroup(slots.data(), 3);
        } else if (!near1 && !near2) {
            readAlone(slots[0]);
            readAlone(slots[1]);
            r = readAlone(slots[2]);
        } else if (!near1) {
            readGroup(slots.data() + 1, 2);
            r = readAlone(slots[0]);
        } else {
            readGroup(slots.data(), 2);
            r = readAlone(slots[2]);
        }
    }
    if (!r) return r;
    waitOut(start);
    return r;
}

}  // namespace drive
