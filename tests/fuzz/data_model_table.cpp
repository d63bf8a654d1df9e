// Fuzzes the Servo.csv reader. The first byte chooses the size of
// the parameter table (0 to 255, so both sides of the 100-value limit).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "data/model_sets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t parameterCount = bytes[0];
    data::ModelDiagnostics diag;
    const data::ModelValueSets sets =
        data::parseModelTable(std::span(bytes + 1, size - 1), parameterCount, &diag);
    if (sets.count() > data::ModelValueSets::kMaxSets) std::abort();
    long long sum = 0;
    for (std::size_t s = 0; s <= sets.count(); ++s) {
        (void)sets.wideName(s);
        for (std::size_t i = 0; i <= data::ModelValueSets::kMaxValues; ++i) sum += sets.value(s, i);
    }
    if (sets.value(sets.count(), 0) != 0) std::abort();
    (void)sum;
    return 0;
}
