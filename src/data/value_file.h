#pragma once
// Parameter value files (.dat).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "data/parameters.h"
#include "platform/file_io.h"

namespace data {

// The file image of the parameters' driveValue fields (4 * n + 10 bytes).
std::vector<std::uint8_t> valueImage(std::span<const ParameterDefinition> parameters);

// The check a value file failed, in the order they are made.
enum class ValueFileCheck {
    ok,
    unreadable,  // the file could not be read (FileOutcome says why)
    tooShort,    // fewer than 10 bytes
    checksum,    // the trailing CRC does not match
    length,      // the length field is not the file's size
    count,       // the parameter count is not the table's
    outOfRange,  // a writable parameter's value lies outside its range
};

// Whether reading a file also checks every writable parameter's value
// against its range. The file format is the same either way.
enum class RangeCheck { off, on };

struct ValueFileResult {
    ValueFileCheck check = ValueFileCheck::ok;
    platform::FileOutcome file;  // unreadable: the OS reason
    std::size_t fileBytes = 0;   // tooShort, length: the file's size
    std::uint32_t found = 0;     // length: the length field; count: the count field;
                                 // outOfRange: the value in the file
    std::size_t parameter = 0;   // outOfRange: table position

    bool ok() const { return check == ValueFileCheck::ok; }
};

// Checks the image (size, CRC, length field, count, then with RangeCheck::on
// the writable parameters' ranges); only when every check passes are the
// fileValue fields set. Never reads outside the bytes.
ValueFileResult readValueImage(std::span<const std::uint8_t> bytes,
                               std::span<ParameterDefinition> parameters,
                               RangeCheck ranges = RangeCheck::off);
// readValueImage of the file's content; unreadable names the OS reason.
ValueFileResult readValueFile(const std::filesystem::path& path,
                              std::span<ParameterDefinition> parameters,
                              RangeCheck ranges = RangeCheck::off);

// The failed check in English words: "the checksum does not match (the file
// is damaged)", "it holds 40 parameters, this table has 99", ... ; "" for ok.
// outOfRange names the parameter by its number text.
std::string describeValueFileCheck(const ValueFileResult& result,
                                   std::span<const ParameterDefinition> parameters);

// As readValueImage without the range check: 1 accepted, 0 refused.
int applyValueImage(std::span<const std::uint8_t> bytes, std::span<ParameterDefinition> parameters);

// saveValueFile: writes the driveValue fields; 1 written, 0 failed.
// The file is replaced atomically (temporary file + flush + rename), so a
// failure leaves a previous file of that name as it was.
int saveValueFile(const std::filesystem::path& path,
                  std::span<const ParameterDefinition> parameters);
// As saveValueFile, with the OS reason of a failure.
platform::FileOutcome writeValueFile(const std::filesystem::path& path,
                                     std::span<const ParameterDefinition> parameters);

// loadValueFile: 1 accepted (fileValue fields set), 0 refused or
// unreadable (nothing changed).
int loadValueFile(const std::filesystem::path& path, std::span<ParameterDefinition> parameters);

}  // namespace data
