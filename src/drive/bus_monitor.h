#pragma once
// The bus monitor's model: the master's attempts from the transaction log,
// decoded for reading (the parameter or status item an address belongs to,
// from the language tables), with pause, a filter, and saving as text or CSV.
//
// Threads: one reader thread (the user interface thread) owns a BusMonitor;
// it only reads the log, which never makes the link wait.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "data/language.h"
#include "modbus/transaction_log.h"

namespace drive {

struct MonitorRow {
    std::uint64_t sequence = 0;
    bool failed = false;
    std::uint8_t functionCode = 0;
    std::u16string time;       // seconds since the monitor started, "12.345"
    std::u16string direction;  // read or write, from the master's side
    std::u16string station;
    std::u16string function;   // "03 read registers"
    std::u16string address;    // "22 P01.07 Speed gain" or a status item's name
    std::u16string values;     // registers in decimal, bits as 0 and 1
    std::u16string roundTrip;  // "2.41 ms"; empty for a broadcast
    std::u16string error;      // empty for a good attempt; "retry 2" marks a retry
};

struct MonitorFilter {
    bool errorsOnly = false;
    int functionCode = -1;  // -1: every function
};

// A function code with its name, "03 read registers", the code in hex as
// Modbus writes it ("0F write coils").
std::u16string functionText(std::uint8_t code, bool english);

// One record as a row. startMicros: the monotonic time shown as 0.
MonitorRow describeTransaction(const modbus::TransactionRecord& record,
                               const data::LanguageData& language, bool english,
                               std::uint64_t startMicros);

class BusMonitor {
  public:
    // At most this many rows are kept, as the log keeps.
    static constexpr std::size_t kCapacity = modbus::TransactionLog::kCapacity;

    // Shows only what the log receives from now on.
    BusMonitor(const modbus::TransactionLog& log, const data::LanguageData& language, bool english,
               std::uint64_t startMicros);

    // Takes in the records that arrived since the last call; nothing while
    // paused (they are taken after the pause, as far as the log still holds
    // them). Returns the rows added.
    std::size_t update();
    // The next update also takes what the log still holds from before the
    // monitor was made, oldest first: a monitor opened after a fault shows
    // the traffic that led to it.
    void includeHeld() { next_ = 0; }
    void setPaused(bool paused) { paused_ = paused; }
    bool paused() const { return paused_; }
    void setFilter(const MonitorFilter& filter) { filter_ = filter; }
    const MonitorFilter& filter() const { return filter_; }
    void clear() { rows_.clear(); }
    // Rows held, filtered or not.
    std::size_t held() const { return rows_.size(); }

    // The rows that pass the filter, oldest first.
    std::vector<const MonitorRow*> visibleRows() const;
    // The visible rows with a header line: columns separated by tabs, or as
    // CSV (RFC 4180 quoting). UTF-8.
    std::string asText() const;
    std::string asCsv() const;

  private:
    const modbus::TransactionLog& log_;
    const data::LanguageData& language_;
    bool english_;
    std::uint64_t startMicros_;
    std::uint64_t next_;
    bool paused_ = false;
    MonitorFilter filter_;
    std::deque<MonitorRow> rows_;
};

}  // namespace drive
