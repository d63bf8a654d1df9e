// Fuzzes the .dat reader. The first byte chooses the number of
// parameters; the rest is the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "data/value_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) return 0;
    data::ParameterTable table(bytes[0]);
    const std::span<const std::uint8_t> file(bytes + 1, size - 1);
    const int result = data::applyValueImage(file, table);
    if (result != 0 && result != 1) std::abort();
    for (auto& p : table) {
        if (result == 0 && p.fileValue.load() != 0) std::abort();  // nothing changed
        p.driveValue.store(p.fileValue.load());
    }
    if (result == 1) {
        const auto image = data::valueImage(table);
        if (image.size() != file.size() || !std::equal(image.begin(), image.end(), file.begin()))
            std::abort();
    }
    return 0;
}
