// Fuzzes the system.ini reader. The first byte chooses the number
// of scope quantities; the rest is the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "data/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) return 0;
    data::ScopeTable scope(bytes[0] % 32);
    const std::span<const std::uint8_t> file(bytes + 1, size - 1);
    std::uint32_t word = data::kInitialSettingsWord;
    const int result = data::applySettingsImage(file, word, scope);
    if (result != 0 && result != 1) std::abort();
    if (result == 1) {
        // An accepted file is exactly the image of what it set.
        const auto image = data::settingsImage(word, scope);
        if (image.size() != file.size() || !std::equal(image.begin(), image.end(), file.begin()))
            std::abort();
    }
    return 0;
}
