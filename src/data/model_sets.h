#pragma once
// Drive model value sets from version/Servo.csv.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_io.h"

namespace data {

class ModelValueSets {
  public:
    static constexpr std::size_t kMaxSets = 70;
    static constexpr std::size_t kMaxValues = 100;

    ModelValueSets();  // no sets, all values 0

    // Number of sets read (0 to kMaxSets).
    std::size_t count() const { return names_.size(); }
    // Set name as in the file: narrow text of the system code page.
    std::string_view name(std::size_t set) const;
    // The name converted to UTF-16 (platform::narrowToWide).
    std::u16string wideName(std::size_t set) const;
    // Value of parameter `parameter` in set `set` (both from 0): 0 when the
    // file did not give it, or when either index is out of range.
    std::int32_t value(std::size_t set, std::size_t parameter) const;
    // All kMaxValues values of a set (an empty span for a set out of range).
    std::span<const std::int32_t> values(std::size_t set) const;

  private:
    friend class ModelTableParser;
    std::vector<std::string> names_;
    std::unique_ptr<std::array<std::array<std::int32_t, kMaxValues>, kMaxSets>> values_;
};

// What the model reader saw beyond what it keeps (for the checker).
struct ModelDiagnostics {
    std::size_t setsIgnored = 0;    // headers after the 70th set
    std::size_t valuesIgnored = 0;  // values of parameters from index 100 on
    bool stoppedEarly = false;      // a 'P', ',' or line feed was missing
};

// Reads a Servo.csv image against a parameter table of `parameterCount`
// entries. Excess sets and parameters beyond 100 are ignored.
ModelValueSets parseModelTable(std::span<const std::uint8_t> bytes, std::size_t parameterCount,
                               ModelDiagnostics* diagnostics = nullptr);

// loadModelTable: 1 when the file exists and has at least one byte
// (`into` is then replaced), else 0 and `into` unchanged. `file`, when given,
// receives how the read went.
int loadModelTable(const std::filesystem::path& path, std::size_t parameterCount,
                   ModelValueSets& into, ModelDiagnostics* diagnostics = nullptr,
                   platform::FileOutcome* file = nullptr);

}  // namespace data
