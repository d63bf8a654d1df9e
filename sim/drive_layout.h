#pragma once
// What the simulator needs of a drive family: the parameter registers with
// their access, type, range and factory value, and the registers of the status
// items and scope quantities. Taken from a language file, or built by tests.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace data {
class LanguageData;
}

namespace sim {

enum class ValueType : std::uint8_t { Int16S, Int16U, Int32S, Int32U };

inline bool isWide(ValueType type) {
    return type == ValueType::Int32S || type == ValueType::Int32U;
}
inline bool isSigned(ValueType type) {
    return type == ValueType::Int16S || type == ValueType::Int32S;
}

struct ParameterSpec {
    std::string number;  // as shown to the user, UTF-8; for messages only
    std::uint16_t address = 0;
    ValueType type = ValueType::Int16S;
    bool writable = false;
    // In the width of the type: for the 16-bit types only the low half counts.
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 0;
    std::uint32_t factory = 0;

    unsigned registers() const { return isWide(type) ? 2u : 1u; }
    // Whether a value (in the type's width) lies in [minimum, maximum], compared
    // with the type's width and signedness. A range whose minimum lies above its
    // maximum admits nothing.
    bool inRange(std::uint32_t value) const;
    // The value cut to the type's width (the high half of a 16-bit type is 0).
    std::uint32_t normalise(std::uint32_t value) const;
};

// A status item or scope quantity: a read-only value at a register.
struct QuantitySpec {
    std::string name;  // UTF-8
    std::uint16_t address = 0;
    ValueType type = ValueType::Int16S;
    // Register counts per physical unit: a status item's divisor when it has
    // one (the tool shows raw / divisor), else the unit the name states in
    // parentheses ("(0.1 A)" gives 10), else 1.
    double scale = 1.0;
};

struct DriveLayout {
    std::vector<ParameterSpec> parameters;  // table order; the index is the EEPROM command
    std::vector<QuantitySpec> status;       // file order; item 8 carries the alarm code
    std::vector<QuantitySpec> scope;
};

// The tables of a loaded language file. Scope rows that no entry filled (size
// 0) are left out.
DriveLayout layoutFromLanguage(const data::LanguageData& language);

// Reads a language file. Nothing on a missing or empty file, or one without
// parameters; `error` then says why.
std::optional<DriveLayout> loadDriveLayout(const std::filesystem::path& path, std::string& error);

}  // namespace sim
