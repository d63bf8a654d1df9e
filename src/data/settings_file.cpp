#include "data/settings_file.h"

#include <bit>
#include <utility>

#include "data/binary_image.h"
#include "platform/file_io.h"

namespace data {

namespace {
constexpr std::size_t kHeaderBytes = 12;   // length, settings word, count
constexpr std::size_t kEntryBytes = 16;    // minimum and maximum, two doubles
constexpr std::size_t kMinimumBytes = 14;  // a file without entries
}  // namespace

std::vector<std::uint8_t> settingsImage(std::uint32_t settingsWord,
                                        std::span<const ScopeQuantity> scope) {
    const std::size_t length = kEntryBytes * scope.size() + kMinimumBytes;
    std::vector<std::uint8_t> out;
    out.reserve(length);
    detail::putU32(out, static_cast<std::uint32_t>(length));
    detail::putU32(out, settingsWord);
    detail::putU32(out, static_cast<std::uint32_t>(scope.size()));
    for (const ScopeQuantity& q : scope) {
        detail::putU64(out, std::bit_cast<std::uint64_t>(q.minimum));
        detail::putU64(out, std::bit_cast<std::uint64_t>(q.maximum));
    }
    detail::appendCrc(out);
    return out;
}

int applySettingsImage(std::span<const std::uint8_t> bytes, std::uint32_t& settingsWord,
                       std::span<ScopeQuantity> scope) {
    if (bytes.size() < kMinimumBytes) return 0;
    // The checksum first, then the length field.
    if (!detail::crcMatches(bytes)) return 0;
    if (detail::getU32(bytes, 0) != bytes.size()) return 0;
    // The word is taken before the count is checked.
    settingsWord = detail::getU32(bytes, 4);
    // A consistent file has L = 16 n + 14; a crafted one with a good
    // checksum may not, and is refused so that no read leaves the bytes.
    const std::uint32_t count = detail::getU32(bytes, 8);
    if (count != scope.size()) return 0;
    if (bytes.size() != kEntryBytes * scope.size() + kMinimumBytes) return 0;
    // The ranges, one pair of doubles per scope quantity.
    for (std::size_t i = 0; i < scope.size(); ++i) {
        const std::size_t at = kHeaderBytes + kEntryBytes * i;
        scope[i].minimum = std::bit_cast<double>(detail::getU64(bytes, at));
        scope[i].maximum = std::bit_cast<double>(detail::getU64(bytes, at + 8));
    }
    return 1;
}

int loadSettingsFile(const std::filesystem::path& path, std::uint32_t& settingsWord,
                     std::span<ScopeQuantity> scope) {
    return readSettingsFile(path, settingsWord, scope).applied;
}

SettingsAtStart readSettingsFile(const std::filesystem::path& path, std::uint32_t& settingsWord,
                                 std::span<ScopeQuantity> scope) {
    SettingsAtStart start;
    platform::FileContent content = platform::readFile(path);
    start.file = content.outcome;
    if (!content.outcome.ok()) return start;
    start.bytes = std::move(content.bytes);
    start.applied = applySettingsImage(start.bytes, settingsWord, scope);
    return start;
}

SettingsSaveResult saveSettingsAtEnd(const std::filesystem::path& path,
                                     const SettingsAtStart& atStart, std::uint32_t settingsWord,
                                     std::span<const ScopeQuantity> scope, bool languageUsable) {
    SettingsSaveResult result;
    const bool unread = !atStart.file.ok() && atStart.file.status != platform::FileStatus::Missing;
    const bool foreign = atStart.file.ok() && !atStart.bytes.empty() && !atStart.applied;
    if (unread || (foreign && !languageUsable)) {
        result.action = SettingsSave::Kept;
        return result;
    }
    const std::vector<std::uint8_t> image = settingsImage(settingsWord, scope);
    if (atStart.file.ok() && image == atStart.bytes) {
        result.action = SettingsSave::Unchanged;
        return result;
    }
    result.file = platform::writeFileReplacing(path, image);
    result.action = result.file.ok() ? SettingsSave::Written : SettingsSave::Failed;
    return result;
}

int saveSettingsFile(const std::filesystem::path& path, std::uint32_t settingsWord,
                     std::span<const ScopeQuantity> scope) {
    const std::vector<std::uint8_t> image = settingsImage(settingsWord, scope);
    return platform::replaceFile(path, image) ? 1 : 0;
}

}  // namespace data
