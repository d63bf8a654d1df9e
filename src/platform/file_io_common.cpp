#include "platform/file_io.h"
#include "platform/text.h"

namespace platform {

std::optional<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path) {
    FileContent content = readFile(path);
    if (!content.outcome.ok()) return std::nullopt;
    return std::move(content.bytes);
}

bool replaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    return writeFileReplacing(path, bytes).ok();
}

std::string describeFileFailure(std::string_view verb, const std::filesystem::path& path,
                                const FileOutcome& outcome) {
    std::string text = "cannot ";
    text += verb;
    text += ' ';
    text += toUtf8(path.u16string());
    text += ": ";
    text += outcome.reason.empty() ? std::string("unknown error") : outcome.reason;
    return text;
}

}  // namespace platform
