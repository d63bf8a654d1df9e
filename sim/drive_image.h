#pragma once
// The drive as the Modbus slave sees it: parameter registers, status and scope
// registers driven by the servo model, discrete inputs, coils, the alarm code
// and the EEPROM. Thread-safe: the line thread serves requests while the
// control channel reads and changes values.
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive_layout.h"
#include "eeprom_file.h"
#include "servo_model.h"

namespace sim {

// Modbus exception codes; None = success.
enum class ModbusError : std::uint8_t {
    None = 0,
    IllegalFunction = 1,
    IllegalAddress = 2,
    IllegalValue = 3,
    DeviceFailure = 4,
};

class DriveImage {
  public:
    static constexpr unsigned kInputCount = 10;
    static constexpr unsigned kCoilCount = 8;
    static constexpr std::size_t kAlarmItem = 8;  // status item holding the alarm code
    // Writing a parameter's table index stores it in the EEPROM; writing
    // kStoreAll stores every parameter. Reads as 0.
    static constexpr std::uint16_t kEepromCommandRegister = 0xFFFF;
    static constexpr std::uint16_t kStoreAll = 0xFFFF;

    explicit DriveImage(DriveLayout layout, std::uint32_t seed = 1);

    const DriveLayout& layout() const { return layout_; }
    // Registers claimed twice (a parameter wins over a status item, a status
    // item over a scope quantity), for a warning at start.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // The quantity read at each status item, then each scope quantity.
    std::vector<Quantity> statusQuantities() const;
    std::vector<Quantity> scopeQuantities() const;

    // ---- Modbus ----------------------------------------------------------
    // Registers outside the map read 0, or give IllegalAddress when strict.
    ModbusError readRegisters(std::uint16_t start, std::uint16_t count, bool strict,
                              std::vector<std::uint16_t>& out);
    // All or nothing: every register must be a writable parameter's
    // (IllegalAddress) and every parameter touched must end in its range
    // (IllegalValue); the half of a 32-bit parameter that is not written keeps
    // its value for the check.
    ModbusError writeRegisters(std::uint16_t start, std::span<const std::uint16_t> values);
    ModbusError readInputs(std::uint16_t start, std::uint16_t count, std::vector<bool>& out);
    ModbusError readCoils(std::uint16_t start, std::uint16_t count, std::vector<bool>& out);
    ModbusError writeCoils(std::uint16_t start, const std::vector<bool>& states);

    // ---- EEPROM ----------------------------------------------------------
    // Loads stored values from a file (missing = nothing stored yet) and keeps
    // the path for later stores. On error nothing changes.
    bool attachEeprom(const std::filesystem::path& path, std::string& error);
    std::size_t parameterCount() const { return layout_.parameters.size(); }
    // DeviceFailure when the file cannot be written; IllegalValue for an index
    // outside the table.
    ModbusError storeParameter(std::size_t index);
    ModbusError storeAll();
    // The value stored for a parameter (its factory value when never stored).
    std::optional<std::uint32_t> storedValue(std::size_t index) const;

    // ---- Control ---------------------------------------------------------
    void setAlarm(std::int32_t code);
    std::int32_t alarm() const;
    // A parameter register is set directly (no access or range check); any
    // other register gets a fixed value that hides the model until released.
    void setRegister(std::uint16_t address, std::uint16_t value);
    std::uint16_t registerValue(std::uint16_t address);
    void releaseRegister(std::uint16_t address);
    // Parameter values in the type's width.
    bool setParameter(std::size_t index, std::uint32_t value);
    std::optional<std::uint32_t> parameter(std::size_t index) const;
    bool setCoil(unsigned index, bool on);
    std::optional<bool> coil(unsigned index) const;
    // Forces an input until released; nullopt releases it.
    bool forceInput(unsigned index, std::optional<bool> state);
    std::optional<bool> input(unsigned index);
    // Drops every register override and forced input.
    void releaseAll();

  private:
    enum class SlotKind : std::uint8_t { None, Parameter, Status, Scope };
    struct Slot {
        SlotKind kind = SlotKind::None;
        std::uint8_t half = 0;  // 1 = high register of a 32-bit value
        std::uint32_t index = 0;
    };

    void claim(std::uint16_t address, Slot slot, const std::string& what);
    void advanceModel();
    // One sample of a status item or scope quantity, both halves of a 32-bit
    // value from the same sample.
    std::uint32_t sampleQuantity(SlotKind kind, std::uint32_t index);
    std::uint16_t readLocked(std::uint16_t address);
    std::uint16_t inputMaskLocked();
    ModbusError storeLocked(const std::vector<std::size_t>& indices);

    DriveLayout layout_;
    std::vector<Slot> slots_;  // one per register address
    std::vector<Quantity> statusQuantity_;
    std::vector<Quantity> scopeQuantity_;
    std::vector<std::string> warnings_;

    mutable std::mutex mutex_;
    std::vector<std::uint32_t> values_;  // parameter values, table order
    std::map<std::uint16_t, std::uint16_t> overrides_;
    std::array<bool, kCoilCount> coils_{};
    std::array<std::optional<bool>, kInputCount> forcedInputs_{};
    std::int32_t alarm_ = 0;
    ServoModel model_;
    std::chrono::steady_clock::time_point start_;
    std::optional<std::filesystem::path> eepromPath_;
    EepromValues eeprom_;  // stored values by register, including unknown registers
};

}  // namespace sim
