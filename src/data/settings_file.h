#pragma once
// The binary settings file system.ini (scope ranges + setting word).
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "data/language.h"

namespace data {

// settingsWord at program start. The program keeps one word, passes
// it to loadSettingsFile at start and to saveSettingsFile at the end.
inline constexpr std::uint32_t kInitialSettingsWord = 1;

// The file image for the given scope list (16 * n + 14 bytes).
std::vector<std::uint8_t> settingsImage(std::uint32_t settingsWord,
                                        std::span<const ScopeQuantity> scope);

// Applies an image, checks in the documented order: size >= 14, CRC, length field
// (failure: 0, nothing changed); then settingsWord is set; then the count must
// equal scope.size() (failure: 0, ranges unchanged); then the ranges are set
// and the result is 1.
int applySettingsImage(std::span<const std::uint8_t> bytes, std::uint32_t& settingsWord,
                       std::span<ScopeQuantity> scope);

// loadSettingsFile: reads the file and applies it as above; a
// missing or unreadable file gives 0.
int loadSettingsFile(const std::filesystem::path& path, std::uint32_t& settingsWord,
                     std::span<ScopeQuantity> scope);

// saveSettingsFile: 1 written, 0 failed. The file is replaced
// atomically (temporary file + flush + rename), so a failure leaves the
// previous file as it was.
int saveSettingsFile(const std::filesystem::path& path, std::uint32_t settingsWord,
                     std::span<const ScopeQuantity> scope);

}  // namespace data
