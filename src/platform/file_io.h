#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

// Why a file could not be read or replaced.
enum class FileStatus : std::uint8_t {
    Ok,
    Missing,     // no such file
    NotRegular,  // a folder, FIFO, device or socket: never read from or replaced
    Failed,      // the operating system refused; the reason says why
};

struct FileOutcome {
    FileStatus status = FileStatus::Ok;
    // UTF-8, for messages: the operating system's own words ("Permission
    // denied", "File too large"), or "not a regular file". Empty when Ok.
    std::string reason;
    bool ok() const { return status == FileStatus::Ok; }
};

struct FileContent {
    FileOutcome outcome;
    std::vector<std::uint8_t> bytes;  // empty unless outcome.ok()
};

// The whole content of a regular file. Anything else is refused as NotRegular
// without reading, and opening never blocks: a FIFO with no writer, a device
// or a folder given where a data file belongs is reported, not waited on.
FileContent readFile(const std::filesystem::path& path);

// As readFile, nothing on any failure.
std::optional<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path);

// Replaces the file with the given bytes so that a failure at any point leaves
// the previous file as it was: the bytes go to a temporary file of a new,
// unique name in the same folder (never an existing file), which is flushed to
// disk and then renamed over the target. An existing target that is not a
// regular file is refused. On failure the temporary file is removed and the
// outcome names the step's OS reason.
FileOutcome writeFileReplacing(const std::filesystem::path& path,
                               std::span<const std::uint8_t> bytes);
// As writeFileReplacing; true when written.
bool replaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// "cannot <verb> <path>: <reason>", UTF-8 (verb: "read", "write").
std::string describeFileFailure(std::string_view verb, const std::filesystem::path& path,
                                const FileOutcome& outcome);

namespace detail {
inline constexpr const char* kNotRegularReason = "not a regular file";
}  // namespace detail

}  // namespace platform
