#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "modbus/channel.h"

namespace modbus {

// LRC of Modbus ASCII: the two's complement of the 8-bit sum of the bytes.
// 0 for an empty block.
std::uint8_t modbusLrc(const std::uint8_t* bytes, std::size_t count);

// Length of an RTU response frame, CRC included, as its first bytes give it
// (exception: 5; reads: 5 + byte count; writes: 8); 0 when they do not tell.
std::size_t rtuFrameLength(const std::uint8_t* bytes, std::size_t count);

// True when the bytes are exactly one RTU response frame as its header gives
// its length, with a good CRC.
bool isWholeRtuFrame(const std::uint8_t* bytes, std::size_t count);

// One byte as two upper-case hexadecimal characters, high nibble first.
std::array<std::uint8_t, 2> hexEncodeByte(std::uint8_t value);

// Two hexadecimal characters back to a byte. Either case decodes; any other
// character is taken as its code minus '0' (below ':') or minus '7', low four
// bits kept, so nothing is refused.
std::uint8_t hexDecodePair(std::uint8_t high, std::uint8_t low);

// Frames the raw request in the channel's frame area by the channel's frame
// type: RTU appends the CRC, low byte first; ASCII rewrites the frame as ':',
// hex pairs, LRC pair, CR LF. 225 for a closed channel, 3 for another frame
// type (or a request too long to frame), else 0.
std::uint8_t appendChecksum(ModbusChannel& channel);

// Verifies and strips the checksum of a received frame in the channel's
// frame area: 0, 8 (checksum wrong) or 224 (malformed, including a receive
// that holds a whole frame and more).
std::uint8_t checkResponse(ModbusChannel& channel);

// The two steps above on a bare transaction, for callers without a channel.
std::uint8_t frameRequest(ModbusTransaction& transaction, std::uint8_t frameType);
std::uint8_t unframeResponse(ModbusTransaction& transaction, std::uint8_t frameType);

// True when the received ASCII frame ends in CR LF.
bool endsWithCrLf(const ModbusTransaction& transaction);

}  // namespace modbus
