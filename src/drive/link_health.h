#pragma once
// The link's health, derived from the master's transaction log: how fast it
// runs, how long answers take, and what went wrong since the link was opened.
//
// Threads: LinkHealth belongs to one reader thread (the user interface
// thread); update() only reads the log, which never makes the link wait.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>

#include "modbus/transaction_log.h"

namespace drive {

struct LinkHealthFigures {
    double transactionsPerSecond = 0;  // attempts over the last window
    // Round trip of the good attempts in the window; 0 when there were none.
    double roundTripMeanMs = 0;
    double roundTripP99Ms = 0;
    // Since the link was opened.
    modbus::TransactionCounts counts;
    std::optional<modbus::TransactionRecord> lastError;
    bool any = false;  // an attempt has been seen on this link
};

class LinkHealth {
  public:
    explicit LinkHealth(const modbus::TransactionLog& log, std::uint64_t windowMicros = 5'000'000);

    // Takes in what the log gained since the last call and returns the
    // figures at nowMicros (platform::monotonicMicros()). A record of a new
    // link (the master opened the channel again) starts the figures afresh.
    const LinkHealthFigures& update(std::uint64_t nowMicros);
    const LinkHealthFigures& figures() const { return figures_; }
    // Forgets the figures until the next link's first record; for a connect.
    void reset();

  private:
    struct Sample {
        std::uint64_t timeMicros;
        std::uint32_t roundTripMicros;
        bool good;
    };

    const modbus::TransactionLog& log_;
    std::uint64_t windowMicros_;
    std::uint64_t next_ = 0;  // the log sequence to read from
    std::uint32_t link_ = 0;
    // Only records of links opened after a reset count.
    std::uint32_t minimumLink_ = 0;
    std::uint64_t linkStartMicros_ = 0;
    std::deque<Sample> recent_;
    LinkHealthFigures figures_;
};

// The short readout for the status line: "148/s 6.9 ms (p99 7.4) 3 errors",
// or "" before the link's first attempt.
std::u16string linkHealthSummary(const LinkHealthFigures& figures, bool english);

// A USB serial adapter that holds received bytes back for its latency timer
// (16 ms by default on common adapters) makes every answer that late.
struct LatencyHint {
    unsigned latencyMs = 0;
    std::string attributePath;  // the sysfs file, as the system sees it
    std::string command;        // the command that lowers it to 1 ms
};

// The hint for the serial device devicePath ("/dev/ttyUSB0", a
// /dev/serial/by-id link) when its latency timer is 16 ms or more, read under
// root ("/" on a live system; a fake tree in tests). Nothing for other
// devices, other systems, or when the timer cannot be read.
std::optional<LatencyHint> usbLatencyHint(const std::string& devicePath,
                                          const std::filesystem::path& root = "/");

}  // namespace drive
