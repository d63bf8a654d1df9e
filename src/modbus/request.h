#pragma once
#include <cstdint>

#include "modbus/channel.h"

namespace modbus {

// Selector byte 0: what is read or written.
inline constexpr std::uint8_t kKindBits = 0;
inline constexpr std::uint8_t kKindRegisters = 1;
// Selector byte 1 (reads only): which table.
inline constexpr std::uint8_t kTableInput = 0;   // discrete inputs, input registers
inline constexpr std::uint8_t kTableOutput = 1;  // coils, holding registers

// One request carries at most this much.
inline constexpr std::uint32_t kMaxBitsPerRequest = 1920;
inline constexpr std::uint32_t kMaxRegistersPerRequest = 120;

inline constexpr std::uint8_t kReadCoils = 1;
inline constexpr std::uint8_t kReadDiscreteInputs = 2;
inline constexpr std::uint8_t kReadHoldingRegisters = 3;
inline constexpr std::uint8_t kReadInputRegisters = 4;
inline constexpr std::uint8_t kWriteSingleCoil = 5;
inline constexpr std::uint8_t kWriteSingleRegister = 6;
inline constexpr std::uint8_t kWriteMultipleCoils = 15;
inline constexpr std::uint8_t kWriteMultipleRegisters = 16;

struct Selector {
    std::uint8_t kind = kKindRegisters;
    std::uint8_t table = kTableOutput;
    std::uint8_t frameType = kFrameRtu;
};

constexpr std::uint32_t makeSelector(std::uint8_t kind, std::uint8_t table,
                                     std::uint8_t frameType) {
    return std::uint32_t{kind} | (std::uint32_t{table} << 8) | (std::uint32_t{frameType} << 16);
}

constexpr Selector decodeSelector(std::uint32_t selector) {
    return {static_cast<std::uint8_t>(selector & 0xFF),
            static_cast<std::uint8_t>((selector >> 8) & 0xFF),
            static_cast<std::uint8_t>((selector >> 16) & 0xFF)};
}

// Function code of a read (kind and table each 0 or 1).
std::uint8_t readFunctionCode(std::uint8_t kind, std::uint8_t table);
// Function code of every request of a write run of `quantity` bits or
// registers: the single-item code only when the whole run is one item.
std::uint8_t writeFunctionCode(std::uint8_t kind, std::uint32_t quantity);

// Builds the raw request (no checksum) in the frame area from the
// transaction's station byte, function code, start address and quantity.
void buildReadRequest(ModbusTransaction& transaction);
// The same for a write; source holds the quantity's data in memory order:
// bits packed eight to a byte, registers little-endian. False, with nothing
// built, for a function code other than 5, 6, 15, 16 or a quantity above one
// request's limit.
bool buildWriteRequest(ModbusTransaction& transaction, const std::uint8_t* source);

// Validates the unframed response of a read, the first failing check
// deciding: 224 other station, 1 other function code, 3 byte count not the
// quantity's, 224 response shorter than its content. Stores the byte count
// in the transaction. On success copies the data to destination (when not
// null): bits unchanged, registers with their bytes swapped; destination
// holds the byte count.
std::uint8_t validateReadResponse(ModbusTransaction& transaction, std::uint8_t* destination);

// Validates the unframed response of a write; every check is made and a later
// failure replaces an earlier one: 224 other station, 1 other function code,
// 2 other start address, 3 other value (codes 5, 6; sentValue is the two value
// bytes of the request) or other quantity (15, 16). A response too short to
// echo anything is not read past its end: it gives the result so far, or 224.
std::uint8_t validateWriteResponse(const ModbusTransaction& transaction,
                                   const std::uint8_t sentValue[2]);

}  // namespace modbus
