#pragma once
#include <cstddef>
#include <cstdint>

namespace modbus {

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final
// XOR. The CRC of an empty block is 0xFFFF; over "123456789" it is 0x4B37.
// In a frame or a data file the low-order byte is stored first.
std::uint16_t modbusCrc16(const std::uint8_t* bytes, std::size_t count);

}  // namespace modbus
