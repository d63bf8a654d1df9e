#pragma once
// Run-time settings of the slave and the faults it injects. Written by the
// control channel, read by the line thread at every request.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace sim {

struct SlaveSettings {
    std::atomic<unsigned> station{1};
    std::atomic<bool> strict{false};
    std::atomic<unsigned> eepromMs{1500};
    std::atomic<unsigned> turnaroundUs{1000};
    // Function 3 reads every register as its own address, so that data from
    // another request is told apart from the right data.
    std::atomic<bool> pattern{false};
};

struct FaultSettings {
    std::atomic<unsigned> noAnswerPercent{0};  // requests ignored (not executed)
    std::atomic<unsigned> delayMs{0};          // extra wait before answering
    // latePercent % of the answers, drawn with the seeded generator, come
    // lateMs later still: a busy drive, which then answers the requests that
    // queued meanwhile (a master's retry) in order.
    std::atomic<unsigned> latePercent{0};
    std::atomic<unsigned> lateMs{0};
    std::atomic<bool> badCrc{false};
    std::atomic<bool> wrongStation{false};  // answer with another station number
    // The same for this percentage of the answers, drawn with the seeded
    // generator, so that a seed replays the same faults.
    std::atomic<unsigned> badCrcPercent{0};
    std::atomic<unsigned> wrongStationPercent{0};
    // Answers sent with a corrupted CRC, and valid answers sent from another
    // station, since start: what a master's counts must match.
    mutable std::atomic<std::uint64_t> badCrcSent{0};
    mutable std::atomic<std::uint64_t> wrongStationSent{0};
    std::atomic<unsigned> exceptionCode{0};  // answer every request with it (not executed)
    std::atomic<unsigned> truncateBytes{0};  // bytes cut off the end of a response
    std::atomic<unsigned> garbageBefore{0};  // random bytes sent right before a response
    std::atomic<unsigned> garbageAfter{0};   // ... and right after it
    std::atomic<unsigned> gapMs{0};          // silence inside a response
    std::atomic<int> gapAt{-1};              // byte index of the gap; -1 = the middle
    // The write (function 5, 6, 15 or 16) that the countdown reaches gets
    // rejectCode instead of being executed; 0 = off. Repeats of that same
    // request are rejected too, as a drive refuses a value every time it is
    // sent, until another write arrives or the fault is set again.
    std::atomic<unsigned> rejectCountdown{0};
    std::atomic<unsigned> rejectCode{4};
    // Changes whenever the reject fault is set or cleared, which ends the
    // rejection of repeats.
    std::atomic<unsigned> rejectEpoch{0};

    // All faults off.
    void clear();
    // Counts one write; true for the one that is to be rejected.
    bool takeRejectedWrite();
};

struct SlaveStats {
    std::atomic<std::uint64_t> frames{0};    // frames delimited on the line
    std::atomic<std::uint64_t> ignored{0};   // too short, bad CRC or another station
    std::atomic<std::uint64_t> dropped{0};   // no answer by fault
    std::atomic<std::uint64_t> answered{0};  // responses sent (exceptions included)
    std::atomic<std::uint64_t> exceptions{0};
};

// What goes on the line for one response.
struct Transmission {
    std::vector<std::uint8_t> bytes;
    std::size_t gapAt = 0;  // a silence of `gap` before bytes[gapAt]
    std::chrono::microseconds gap{0};
    std::chrono::microseconds delay{0};  // extra wait before the first byte
};

// Applies the frame faults (wrong station, bad CRC, truncation, garbage, gap,
// delay, late answers) to a correct RTU response frame. With ascii the frame
// is sent as Modbus ASCII (':', hex pairs, LRC, CR LF): a bad CRC becomes a
// bad LRC, and truncation, garbage and the gap apply to the characters.
Transmission shapeResponse(std::vector<std::uint8_t> frame, const FaultSettings& faults,
                           std::mt19937& random, bool ascii = false);

// The RTU frame (CRC included) as Modbus ASCII characters; the LRC is
// corrupted when the frame's CRC is not right, so that a fault survives.
std::vector<std::uint8_t> asciiFromRtu(const std::vector<std::uint8_t>& frame);

}  // namespace sim
