#pragma once
// The simulated EEPROM on disk: a text file of stored parameter values keyed
// by register address, so that a changed parameter table never assigns a
// value to the wrong parameter.
//
//   servo-sim-eeprom 1
//   # comment
//   <address> <value>        decimal; the value as unsigned 32-bit
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

using EepromValues = std::map<std::uint16_t, std::uint32_t>;

std::string formatEeprom(const EepromValues& values);
// Nothing on a malformed text; `error` names the line.
std::optional<EepromValues> parseEeprom(std::string_view text, std::string& error);

// A missing file reads as an empty EEPROM; an unreadable or malformed one gives
// nothing and an error.
std::optional<EepromValues> readEepromFile(const std::filesystem::path& path, std::string& error);
// Replaces the file atomically (temporary file, then rename): a failure leaves
// the previous file whole.
bool writeEepromFile(const std::filesystem::path& path, const EepromValues& values,
                     std::string& error);

}  // namespace sim
