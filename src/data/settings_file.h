#pragma once
// The binary settings file system.ini (scope ranges + setting word).
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "data/language.h"
#include "platform/file_io.h"

namespace data {

// settingsWord at program start. The program keeps one word, passes
// it to loadSettingsFile at start and to saveSettingsFile at the end.
inline constexpr std::uint32_t kInitialSettingsWord = 1;

// The file image for the given scope list (16 * n + 14 bytes).
std::vector<std::uint8_t> settingsImage(std::uint32_t settingsWord,
                                        std::span<const ScopeQuantity> scope);

// Applies an image, checks in this order: size >= 14, CRC, length field
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

// system.ini as found at start, kept so that the end of the run can tell
// whether anything in it changed.
struct SettingsAtStart {
    platform::FileOutcome file;       // Missing: the normal first start
    std::vector<std::uint8_t> bytes;  // as read; empty when not read
    int applied = 0;                  // applySettingsImage's result
};

// Reads the file and applies it as loadSettingsFile does, keeping what was read.
SettingsAtStart readSettingsFile(const std::filesystem::path& path, std::uint32_t& settingsWord,
                                 std::span<ScopeQuantity> scope);

enum class SettingsSave : std::uint8_t {
    Written,
    Unchanged,  // the file holds these very bytes: not written, so not touched
    // Not written: the file could not be read at start, or holds ranges that
    // an unusable language file could not take (they belong to channels it
    // could not describe, and would be lost).
    Kept,
    Failed,  // the previous file is as it was; `file` says why
};

struct SettingsSaveResult {
    SettingsSave action = SettingsSave::Written;
    platform::FileOutcome file;
};

// The end of a run: writes the settings unless the file already holds exactly
// that image, or keeping it is the only way not to lose what it holds (see
// SettingsSave::Kept). `languageUsable`: the language file gave sound tables.
SettingsSaveResult saveSettingsAtEnd(const std::filesystem::path& path,
                                     const SettingsAtStart& atStart, std::uint32_t settingsWord,
                                     std::span<const ScopeQuantity> scope, bool languageUsable);

}  // namespace data
