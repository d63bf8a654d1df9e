#pragma once
// What the master did on the line, attempt by attempt, for the bus monitor
// and the link's health.
//
// Threads: the master calls the observer from the thread that holds the
// channel lock, once per attempt, after the attempt has ended. The log's
// writer never waits: each slot of its ring is published with a sequence
// check (the slot's version is odd while it is written and names the record
// it holds when done; the data words are release stores after the odd
// version, and the version is released again after them), and a reader that
// finds a slot changed under it drops that record instead of holding the
// writer up.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "modbus/result.h"

namespace modbus {

// Counts of one channel's attempts since its last open.
struct TransactionCounts {
    std::uint32_t attempts = 0;
    std::uint32_t good = 0;
    std::uint32_t timeouts = 0;
    std::uint32_t badChecksums = 0;
    std::uint32_t exceptions = 0;
    std::uint32_t wrongStations = 0;
    std::uint32_t otherErrors = 0;  // malformed, mismatched, port failures
    std::uint32_t retries = 0;      // attempts after a request's first
};

inline constexpr std::size_t kRecordDataBytes = 32;

// One attempt: a request written and how its answer ended.
struct TransactionRecord {
    std::uint64_t sequence = 0;         // given by the log, from 0
    std::uint64_t timeMicros = 0;       // platform::monotonicMicros() as the request was written
    std::uint32_t roundTripMicros = 0;  // to the answer's last byte, or to the time-out
    std::uint32_t link = 0;             // counts the master's channel opens: a new link
    std::uint16_t address = 0;
    std::uint16_t quantity = 0;  // registers or bits of the request
    std::uint8_t channel = 0;
    std::uint8_t station = 0;
    std::uint8_t functionCode = 0;
    Outcome outcome = Outcome::ok;
    std::uint8_t exceptionCode = 0;  // the drive's, when outcome is exception
    std::uint8_t attempt = 1;        // 1 for the first, more for a retry
    // Data bytes as on the wire (registers high byte first, bits packed):
    // what a write sent, or what a good read received. dataBytes may exceed
    // what data keeps.
    std::uint8_t dataBytes = 0;
    std::array<std::uint8_t, kRecordDataBytes> data{};
    // The channel's counts including this attempt.
    TransactionCounts counts;

    bool retry() const { return attempt > 1; }
    bool failed() const { return outcome != Outcome::ok && outcome != Outcome::broadcastSent; }
    bool isWrite() const;
    std::size_t keptBytes() const {
        return dataBytes < kRecordDataBytes ? dataBytes : kRecordDataBytes;
    }
};

// Receives every attempt. Called with the channel lock held: it must return
// at once and never wait for another thread.
class TransactionObserver {
  public:
    virtual ~TransactionObserver() = default;
    virtual void onTransaction(const TransactionRecord& record) noexcept = 0;
};

// The last kCapacity attempts in a ring, and the last kErrorCapacity failed
// ones in a ring of their own, so that the last error outlives a busy link.
// Any number of writers and readers.
class TransactionLog final : public TransactionObserver {
  public:
    static constexpr std::size_t kCapacity = 10000;
    static constexpr std::size_t kErrorCapacity = 64;

    TransactionLog();
    ~TransactionLog() override;
    TransactionLog(const TransactionLog&) = delete;
    TransactionLog& operator=(const TransactionLog&) = delete;

    void onTransaction(const TransactionRecord& record) noexcept override;

    // Records given out so far: the sequence number of the next one.
    std::uint64_t written() const;
    // Appends the records from sequence `from` on, oldest first, to out, and
    // returns the sequence to read from next time. Records overwritten before
    // they were read are skipped; one still being written ends the read.
    std::uint64_t readSince(std::uint64_t from, std::vector<TransactionRecord>& out) const;
    // The most recent record, or nothing yet.
    std::optional<TransactionRecord> latest() const;
    // The most recent failed attempt, or nothing yet.
    std::optional<TransactionRecord> lastError() const;

  private:
    struct Ring;
    std::unique_ptr<Ring> all_;
    std::unique_ptr<Ring> errors_;
};

}  // namespace modbus
