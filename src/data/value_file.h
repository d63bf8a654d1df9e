#pragma once
// Parameter value files (.dat).
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "data/parameters.h"

namespace data {

// The file image of the parameters' driveValue fields (4 * n + 10 bytes).
std::vector<std::uint8_t> valueImage(std::span<const ParameterDefinition> parameters);

// Checks, in this order: size >= 10, CRC, length field, count ==
// parameters.size(); any failure gives 0 and no field changes. Then copies
// value i into fileValue of parameter i and gives 1.
int applyValueImage(std::span<const std::uint8_t> bytes, std::span<ParameterDefinition> parameters);

// saveValueFile: writes the driveValue fields; 1 written, 0 failed.
// The file is replaced atomically (temporary file + flush + rename), so a
// failure leaves a previous file of that name as it was.
int saveValueFile(const std::filesystem::path& path,
                  std::span<const ParameterDefinition> parameters);

// loadValueFile: 1 accepted (fileValue fields set), 0 refused or
// unreadable (nothing changed).
int loadValueFile(const std::filesystem::path& path, std::span<ParameterDefinition> parameters);

}  // namespace data
