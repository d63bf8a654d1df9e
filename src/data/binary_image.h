#pragma once
// Internal helpers of the two binary data files (system.ini, .dat): little-
// endian integers and the trailing CRC-16/MODBUS, low byte first.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "modbus/crc.h"

namespace data::detail {

inline void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

inline void putU64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    for (int k = 0; k < 8; ++k) out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

inline std::uint32_t getU32(std::span<const std::uint8_t> in, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) v |= static_cast<std::uint32_t>(in[at + k]) << (8 * k);
    return v;
}

inline std::uint64_t getU64(std::span<const std::uint8_t> in, std::size_t at) {
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < 8; ++k) v |= static_cast<std::uint64_t>(in[at + k]) << (8 * k);
    return v;
}

inline void appendCrc(std::vector<std::uint8_t>& out) {
    const std::uint16_t crc = modbus::modbusCrc16(out.data(), out.size());
    out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    out.push_back(static_cast<std::uint8_t>(crc >> 8));
}

// The last two bytes hold the CRC of the bytes before them. Needs size >= 2.
inline bool crcMatches(std::span<const std::uint8_t> in) {
    const std::size_t n = in.size() - 2;
    const std::uint16_t stored = static_cast<std::uint16_t>(in[n] | (in[n + 1] << 8));
    return modbus::modbusCrc16(in.data(), n) == stored;
}

}  // namespace data::detail
