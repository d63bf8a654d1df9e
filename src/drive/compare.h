#pragma once
// The drive's parameters against another set of values (a .dat file, the
// factory values, a drive model's set), and the checked write that reads
// every value it wrote back from the drive.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "data/model_sets.h"
#include "drive/parameters.h"

namespace drive {

// The values to compare with: one per parameter, or none where the source
// gives no value (a model set covers the first 100 parameters only). Values
// are kept in the width of the parameter's type.
struct CompareSource {
    std::string name;  // "file backup.dat", "factory values", "model X"
    std::vector<std::optional<std::uint32_t>> values;
};

// The source from a .dat file, read without touching the table's file
// values (the parameter page's loaded file stays as it is). fileError names
// the file and the reason on failure.
Result sourceFromFile(ParameterService& service, const std::filesystem::path& path,
                      CompareSource& source);
CompareSource sourceFromFactory(ParameterService& service);
// Set `set` of the model sets, for the parameters it covers; a source without
// values for a set that does not exist.
CompareSource sourceFromModel(ParameterService& service, const data::ModelValueSets& models,
                              std::size_t set);

struct CompareRow {
    std::size_t index = 0;
    std::uint32_t driveValue = 0;
    std::optional<std::uint32_t> sourceValue;
    bool differs = false;  // a source value that is not the drive's
    bool writable = false;
};

struct Comparison {
    Result result;  // incompleteRead, a link failure or cancelled: no rows
    std::vector<CompareRow> rows;
    std::size_t differences() const;
};

// What became of one parameter of a checked write.
enum class VerifyOutcome {
    verified,     // written, and the drive reads back the value written
    refused,      // the drive answered the write with an exception
    different,    // written, but the drive reads back another value
    unverified,   // written, but the read back failed
    unconfirmed,  // sent, no answer: the drive may have applied it
    notReached,   // not sent: the write stopped before it
};

const char* verifyOutcomeName(VerifyOutcome outcome);

struct VerifyItem {
    std::size_t index = 0;
    std::uint32_t value = 0;     // written
    std::uint32_t readBack = 0;  // verified and different: what the drive holds
    VerifyOutcome outcome = VerifyOutcome::notReached;
    Result result;  // refused, unverified, unconfirmed: why
};

struct VerifyReport {
    // The failure that stopped the write (or refused it before anything was
    // sent: a value out of range, a read-only parameter), or cancelled.
    Result result;
    std::vector<VerifyItem> items;  // in table order

    bool ok() const;  // every item verified
    std::size_t count(VerifyOutcome outcome) const;
    // "2 verified, 1 refused, 0 different after writing" (+ the other
    // outcomes that occur).
    std::string summary() const;
};

struct CheckedValue {
    std::size_t index = 0;
    std::uint32_t value = 0;
};

// Compare and checked write over the parameter service. Runs on the job
// thread (or any one thread at a time); the poll thread may read the
// parameters meanwhile.
class ParameterCompare {
  public:
    ParameterCompare(DriveSession& session, ParameterService& parameters)
        : session_(session), parameters_(parameters) {}

    // Reads every parameter (with progress and cancel) and compares that
    // read with the source. Only a complete read under the current
    // connection, with no write during it, is compared, as a backup requires:
    // otherwise incompleteRead, as for a table that does not fit the read.
    Comparison compare(const CompareSource& source, const BulkControl& control = {});

    // Writes the given values (to RAM) in table order, then reads each written
    // parameter back. Every index must be a writable parameter and every value
    // in its range, else nothing is sent (badValue or outOfRange naming it). A
    // refused value does not stop the others; a link failure stops the writes
    // (the rest: not reached). Cancel is honoured between writes; what was
    // written is still read back.
    VerifyReport writeChecked(std::vector<CheckedValue> values, const BulkControl& control = {});

  private:
    Result readBack(std::size_t index, std::uint32_t& value);

    DriveSession& session_;
    ParameterService& parameters_;
};

// The report as text for a person: a heading with the source and the
// summary, then one line per parameter (number, name, value and unit, what
// became of it and why). Lines end in CR LF, as text files on Windows do.
std::string reportText(ParameterService& service, const VerifyReport& report,
                       const std::string& sourceName);

// Writes the report text in UTF-8 through the platform's file replace:
// fileError naming the path and the system's reason on failure.
Result saveReport(const std::filesystem::path& path, const std::string& text);

}  // namespace drive
