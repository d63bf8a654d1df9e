#include "data/settings_file.h"

#include <bit>

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
    // Step 1.
    if (bytes.size() < kMinimumBytes) return 0;
    // Step 3: checksum, then length field.
    if (!detail::crcMatches(bytes)) return 0;
    if (detail::getU32(bytes, 0) != bytes.size()) return 0;
    // Step 4: the word is taken before the count is checked.
    settingsWord = detail::getU32(bytes, 4);
    // Step 5. A consistent file has L = 16 n + 14; a crafted one with a good
    // checksum may not, and is refused so that no read leaves the bytes.
    const std::uint32_t count = detail::getU32(bytes, 8);
    if (count != scope.size()) return 0;
    if (bytes.size() != kEntryBytes * scope.size() + kMinimumBytes) return 0;
    // Step 6.
    for (std::size_t i = 0; i < scope.size(); ++i) {
        const std::size_t at = kHeaderBytes + kEntryBytes * i;
        scope[i].minimum = std::bit_cast<double>(detail::getU64(bytes, at));
        scope[i].maximum = std::bit_cast<double>(detail::getU64(bytes, at + 8));
    }
    return 1;
}

int loadSettingsFile(const std::filesystem::path& path, std::uint32_t& settingsWord,
                     std::span<ScopeQuantity> scope) {
    const auto bytes = platform::readWholeFile(path);
    if (!bytes) return 0;
    return applySettingsImage(*bytes, settingsWord, scope);
}

int saveSettingsFile(const std::filesystem::path& path, std::uint32_t settingsWord,
                     std::span<const ScopeQuantity> scope) {
    const std::vector<std::uint8_t> image = settingsImage(settingsWord, scope);
    return platform::replaceFile(path, image) ? 1 : 0;
}

}  // namespace data
