#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace platform {

// The whole content of a file, or nothing when it cannot be opened or read.
std::optional<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path);

// Replaces the file with the given bytes so that a failure at any point leaves
// the previous file as it was: the bytes go to a temporary file in the same
// folder, which is flushed to disk and then renamed over the target. Returns
// false (and removes the temporary file) on any failure.
bool replaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

}  // namespace platform
