#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "data/language.h"
#include "drive/result.h"
#include "drive/session.h"

namespace drive {

// The holding registers that one status poll reads: from the lowest item
// address up to the last register of the highest item (its high word for a
// 32-bit item). Empty when there are no items.
struct StatusBlock {
    std::uint16_t firstAddress = 0;
    std::uint32_t byteCount = 0;  // 2 per register, at most 65536 registers
};
StatusBlock statusBlock(std::span<const data::StatusItem> items);

// The text of a status value as the page shows it while connected: with a
// divisor the value divided, three decimals; otherwise its decimal text.
std::u16string statusValueText(const data::StatusItem& item);

// A new alarm value, numbered so that a reader notices every change.
struct AlarmNotice {
    std::uint32_t sequence = 0;  // 0 = no value read yet
    std::int32_t value = 0;
};

// How current the values on show are.
enum class Freshness {
    none,   // nothing read on this connection (or no connection)
    stale,  // read on this connection, but before the fault or reopen since
    live,   // read since the link last became healthy, and it still is
};

// The status items, digital inputs X0-X9, outputs Y0-Y7 (coils) and the
// alarm value (status item 8).
//
// Threads: poll and pollAlarm run on the poll thread and write the items'
// values, the I/O states and the alarm notice; any thread reads them.
// writeOutput may be called from any thread. The epoch of a complete read is
// published with release after its values, so a reader that sees the epoch
// live sees the values that belong to it.
class StatusService {
  public:
    static constexpr int kInputCount = 10;
    static constexpr int kOutputCount = 8;
    // Status registers are read 12 at a time.
    static constexpr std::uint32_t kPieceBytes = 24;
    static constexpr std::size_t kAlarmItem = 8;

    StatusService(DriveSession& session, data::StatusTable& items);

    // Reads the status block in 24-byte pieces, the inputs and the outputs,
    // and notes a new alarm value. The first failure ends the poll: what was
    // read before it is kept, the rest keeps its last values.
    Result poll();
    // Reads only the alarm value's register(s), for a watch while the
    // status page is not shown; a change makes a notice as poll does.
    Result pollAlarm();

    // The values, I/O states and alarm of the last complete poll, judged
    // against the session's connection and epoch now.
    Freshness freshness() const;
    // The alarm value last read, judged the same way (poll or pollAlarm).
    Freshness alarmFreshness() const;

    int inputState(int index) const;
    int outputState(int index) const;
    // The alarm value last read, -1 before the first.
    std::int32_t lastAlarm() const { return lastAlarm_.load(std::memory_order_acquire); }
    AlarmNotice alarmNotice() const;

    // Writes output n (coil n); on success the state shows at once.
    Result writeOutput(int output, bool on);

    data::StatusTable& items() { return items_; }

  private:
    // Compares the alarm value with the last one and makes a notice on a
    // change or on the first read of a connection.
    void noteAlarm(std::uint64_t generation);
    Freshness judge(std::uint64_t generation, std::uint64_t epoch) const;

    DriveSession& session_;
    data::StatusTable& items_;
    std::array<std::atomic<std::uint8_t>, kInputCount> inputs_{};
    std::array<std::atomic<std::uint8_t>, kOutputCount> outputs_{};
    std::atomic<std::int32_t> lastAlarm_{-1};
    // (sequence << 32) | value, one word so the value comes with its sequence.
    std::atomic<std::uint64_t> alarmNotice_{0};
    // Generation and epoch of the last complete poll and the last alarm
    // read; 0 = none. Poll thread writes, any thread reads.
    std::atomic<std::uint64_t> readGeneration_{0};
    std::atomic<std::uint64_t> readEpoch_{0};
    std::atomic<std::uint64_t> alarmGeneration_{0};
    std::atomic<std::uint64_t> alarmEpoch_{0};
};

}  // namespace drive
