#pragma once
#include <cstdint>

namespace modbus {

// Result codes of the master. Every operation returns one of them; none
// throws.
inline constexpr std::uint8_t kSuccess = 0;
// The response's function code differs from the request's (exception
// responses included); a selector's data kind or table is neither 0 nor 1.
inline constexpr std::uint8_t kFunctionMismatch = 1;
// A write response echoes another start address.
inline constexpr std::uint8_t kAddressMismatch = 2;
// Byte count, echoed quantity or echoed value differs from the request; or a
// frame type that is neither RTU nor ASCII when a request is framed.
inline constexpr std::uint8_t kValueMismatch = 3;
// The request could not be written to the port; the port refused its line
// settings or time-outs; closing a channel that is not open; a network
// connection that ended.
inline constexpr std::uint8_t kPortFailure = 4;
// The serial port cannot be opened.
inline constexpr std::uint8_t kPortUnavailable = 6;
// CRC or LRC of the response wrong.
inline constexpr std::uint8_t kChecksumError = 8;
// Malformed response: bad ASCII framing, RTU frame over 256 bytes, more bytes
// than the frame area holds, too short for its content, or from another
// station.
inline constexpr std::uint8_t kFramingError = 224;
// Channel number 8 or more, channel closed, port not open, station number
// outside 0 to 255.
inline constexpr std::uint8_t kChannelUnavailable = 225;
// No response within the response time-out.
inline constexpr std::uint8_t kNoResponse = 255;

// The cause of a run's result, for messages that name it. The result codes
// above stay what callers store and show; several causes share one code
// (kFunctionMismatch is both an exception response and another function code).
enum class Outcome : std::uint8_t {
    ok,
    noAnswer,            // nothing within the response time-out
    badChecksum,         // CRC or LRC wrong
    exception,           // the drive refused the request: exception response
    wrongStation,        // a well-formed answer from another station
    malformed,           // bad framing, too short, or more than one frame
    mismatch,            // another function code, byte count, address or value
    portFailure,         // the request could not be written
    portUnavailable,     // the port cannot be opened
    channelUnavailable,  // channel closed, port not open, station out of range
    broadcastSent,       // a write to station 0: sent once, no answer expected
    broadcastRead,       // a read from station 0, refused: a broadcast has no answer
    connectionLost,      // the network connection ended, or could not be made again
};

}  // namespace modbus
