#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/parameters.h"
#include "data/value_file.h"
#include "drive/result.h"
#include "drive/session.h"

namespace drive {

// Progress and cancel of a bulk operation. progress(done, total) is called on
// the thread that runs the operation; cancel is polled between requests (a
// request in flight is finished).
struct BulkControl {
    std::function<void(std::size_t done, std::size_t total)> progress;
    const std::atomic<bool>* cancel = nullptr;

    bool cancelled() const { return cancel && cancel->load(std::memory_order_acquire); }
    void report(std::size_t done, std::size_t total) const {
        if (progress) progress(done, total);
    }
};

// What became of one parameter in a bulk write.
enum class ItemOutcome {
    written,      // the drive acknowledged the value
    refused,      // the drive answered with an exception; reason in result
    unchanged,    // not written: a read-only parameter, or nothing to write
    unconfirmed,  // sent, no answer: the drive may have applied it
    notReached,   // not sent: the operation stopped before it
};

const char* outcomeName(ItemOutcome outcome);

struct ItemReport {
    std::size_t index = 0;  // table position
    ItemOutcome outcome = ItemOutcome::notReached;
    std::uint32_t value = 0;  // the value meant for the drive
    Result result;            // for refused and unconfirmed: why
};

// The report of a bulk operation: the whole result (the first failure that
// stopped it, or cancelled) and one entry per parameter in table order.
struct BulkReport {
    Result result;
    std::vector<ItemReport> items;

    bool ok() const;  // result ok and nothing refused or unconfirmed
    std::size_t count(ItemOutcome outcome) const;
    // "12 written, 1 refused, 86 unchanged, 0 not reached"
    std::string summary() const;
};

// The one-parameter EEPROM store: through register 65535 with its own timing.
inline constexpr RequestTiming kStoreOneTiming{400, 0};
// The store-all command gets the save time-out (UI 104, default 3100 ms) plus
// this, and one retry.
inline constexpr std::uint32_t kStoreAllExtraMs = 2000;
inline constexpr std::uint8_t kStoreAllRetries = 1;
inline constexpr std::uint32_t kDefaultSaveTimeoutMs = 3100;

enum class WriteMode { ram, eeprom };
// What backup does when the service holds no complete read of this
// connection made after the last write.
enum class BackupMode { readFirst, refuseStale };

// The drive's parameters over the language file's table: the block read, the
// writes and EEPROM stores, and the .dat files.
//
// Threads: readAll may run on the poll thread while a job runs a bulk
// operation; the complete-read record is under the service's lock. The table's
// driveValue fields are written by readAll only, fileValue by load and the
// caller (model sets) on the user interface thread.
class ParameterService {
  public:
    static constexpr std::uint16_t kEepromCommandRegister = 0xFFFF;
    static constexpr std::uint16_t kStoreAll = 0xFFFF;
    static constexpr std::uint16_t kBlockRegisters = 12;
    static constexpr std::size_t kReadBufferBytes = 512;
    static constexpr std::size_t kMaxEntryBytes = 19;

    ParameterService(DriveSession& session, data::ParameterTable& table,
                     std::uint32_t saveTimeoutMs = kDefaultSaveTimeoutMs);

    data::ParameterTable& table() { return table_; }
    std::size_t size() const { return table_.size(); }
    // The read plan, fixed at construction: parameters the block read covers
    // (the leading ones that fit the read buffer and the register space).
    std::size_t readableCount() const { return readable_; }
    bool tableFits() const { return tableFits_; }
    std::uint32_t saveTimeoutMs() const { return saveTimeoutMs_; }

    // Reads every parameter register in 12-register blocks; only when every
    // block succeeded are the driveValue fields stored and the read recorded
    // as complete (for this generation, when no write was on its way as it
    // began and none was sent while it ran).
    Result readAll(const BulkControl& control = {});
    // A complete read made under the current generation after the last write.
    bool hasCompleteRead() const;
    // The values of that read (empty when there is none).
    std::vector<std::uint32_t> completeValues() const;

    // Reads the entered text of parameter `index` into a value field: a whole
    // number (blanks and a '+' allowed) within the type and the range;
    // otherwise badValue or outOfRange whose cause names the range and unit.
    // Nothing is sent. (The page's entry box clamps instead; see data::textToValue.)
    Result parseValue(std::size_t index, std::u16string_view text, std::uint32_t& value) const;
    // Writes one value (range-checked first; nothing sent when outside); with
    // WriteMode::eeprom then stores it through register 65535.
    Result writeOne(std::size_t index, std::uint32_t value, WriteMode mode = WriteMode::ram);
    // Stores parameter `index` in the EEPROM (register 65535, kStoreOneTiming).
    Result storeOne(std::size_t index);
    // Stores every parameter (65535 = store all) with the save time-out.
    Result storeAll();

    // Loads a .dat file into the fileValue fields; fileError naming the file
    // and the failed check.
    Result load(const std::filesystem::path& path);
    // As load, with the typed outcome; RangeCheck::on also refuses a file whose
    // writable values lie outside their ranges (what an import would refuse).
    data::ValueFileResult loadFile(const std::filesystem::path& path,
                                   data::RangeCheck ranges = data::RangeCheck::off);
    bool fileLoaded() const { return fileLoaded_.load(std::memory_order_acquire); }
    // Marks the fileValue fields as holding values to import (model sets).
    void setFileLoaded(bool loaded) { fileLoaded_.store(loaded, std::memory_order_release); }

    // The first writable parameter whose value lies outside its range.
    std::optional<std::size_t> firstOutOfRange(const std::vector<std::uint32_t>& values) const;
    // Writes `values` (one per parameter) to every writable parameter, after a
    // range check of the whole set (outOfRange, nothing sent). A refused value
    // does not stop the rest; a link failure does (the rest: not reached).
    BulkReport writeAll(const std::vector<std::uint32_t>& values, const BulkControl& control = {});
    // writeAll of the file values; fileError ("no parameter file loaded") and
    // nothing sent when none was loaded.
    BulkReport importFile(const BulkControl& control = {});
    // writeAll of the factory values.
    BulkReport factoryValues(const BulkControl& control = {});
    std::vector<std::uint32_t> fileValues() const;
    std::vector<std::uint32_t> factoryValueList() const;

    // Writes a .dat of values read from the drive after this connection and
    // the last write. Without such a read: readFirst reads all first (with
    // progress), refuseStale refuses with incompleteRead. Never writes values
    // that were not read.
    Result backup(const std::filesystem::path& path, BackupMode mode = BackupMode::readFirst,
                  const BulkControl& control = {});

    // "P01.03" or the name; the number text when there is one.
    std::u16string displayName(std::size_t index) const;
    // "P01.03 takes 0 to 3000 rpm".
    std::string rangeText(std::size_t index) const;

  private:
    void planReads();
    Result writeValue(std::size_t index, std::uint32_t value);

    DriveSession& session_;
    data::ParameterTable& table_;
    std::uint32_t saveTimeoutMs_;
    std::uint16_t firstAddress_ = 0;
    int blocks_ = 0;
    std::size_t readable_ = 0;
    bool tableFits_ = true;
    std::atomic<bool> fileLoaded_{false};

    mutable std::mutex mutex_;
    // The last complete read: its values, generation and the write sequence
    // seen when it began.
    std::vector<std::uint32_t> readValues_;
    std::uint64_t readGeneration_ = 0;
    std::uint64_t readWriteSequence_ = 0;
    bool haveRead_ = false;
};

}  // namespace drive
