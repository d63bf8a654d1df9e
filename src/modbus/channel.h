#pragma once
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/serial.h"

namespace modbus {

inline constexpr std::uint8_t kChannelCount = 8;
inline constexpr std::uint8_t kNoChannel = 255;

// ModbusChannel::mode
inline constexpr std::uint8_t kModeSerial = 0;
inline constexpr std::uint8_t kModeClosed = 255;

// ModbusChannel::frameType and selector byte 2
inline constexpr std::uint8_t kFrameRtu = 0;
inline constexpr std::uint8_t kFrameAscii = 1;

inline constexpr std::size_t kFrameAreaSize = 512;
inline constexpr std::size_t kRequestCopySize = 513;
// A received RTU frame holds at most this many bytes, CRC included.
inline constexpr std::size_t kMaxRtuFrame = 256;

// The state of a channel after resetMaster.
inline constexpr std::uint32_t kResetInterCharGapMicros = 3000;
inline constexpr std::int32_t kResetResponseTimeoutMs = 2000;
inline constexpr std::uint8_t kResetRetries = 3;

// Least pause between a failed attempt and the next; also the margin that the
// guard against late answers allows for a serial adapter's delivery delay.
inline constexpr unsigned kRetryPauseMs = 20;

// The exchange in progress on a channel.
struct ModbusTransaction {
    std::uint8_t stationByte = 0;
    std::uint8_t functionCode = 0;
    std::uint16_t startAddress = 0;
    std::uint16_t quantity = 0;
    std::uint8_t responseByteCount = 0;
    std::uint16_t frameLength = 0;
    // The request as built and framed, then the response as received and
    // unframed.
    std::array<std::uint8_t, kFrameAreaSize> frame{};
};

// One channel of the master. mode and channelNumber are read by any thread
// before it takes the channel lock; the timing fields may be written by any
// thread and are read once at the start of a run that was given no timing of
// its own. The rest belongs to the thread that holds the channel lock.
struct ModbusChannel {
    std::atomic<std::uint8_t> mode{kModeClosed};
    std::atomic<std::uint8_t> channelNumber{kNoChannel};
    std::uint8_t frameType = kFrameRtu;
    std::int32_t connection = -1;  // station number of the current request
    ModbusTransaction transaction;
    std::atomic<std::uint32_t> interCharGapMicros{kResetInterCharGapMicros};
    std::atomic<std::int32_t> responseTimeoutMs{kResetResponseTimeoutMs};
    std::atomic<std::uint8_t> retries{kResetRetries};
};

// The test that every read and write makes before it takes the channel lock:
// 225 for a closed channel or a station number outside 0 to 255, else 0.
// (Whether the port itself is open is checked under the lock.)
std::uint8_t checkChannel(const ModbusChannel& channel, std::int32_t connection);

// Bits on the line per character: data bits, one start bit, one more for a
// stop-bit code other than 0 and one for a parity code other than 0.
std::uint32_t characterLength(std::uint8_t dataBits, std::uint8_t stopBitCode,
                              std::uint8_t parityCode);

// The read interval time-out of the port in ms: 1 above 19200 bit/s, else
// characterLength x 2000 / baud + 1, truncated. baudRate must not be 0.
std::uint32_t serialIntervalTimeoutMs(std::uint32_t baudRate, std::uint32_t characterLength);

// The port's time-outs: interval t, read multiplier 1, read constant 1, write
// multiplier t, write constant 1 (t from serialIntervalTimeoutMs).
platform::SerialTimeouts serialTimeouts(std::uint32_t baudRate, std::uint32_t characterLength);

// Microseconds of line silence that end an RTU response: for a baud rate of
// the standard table characterLength x T / 9; otherwise three and a half
// characters up to 19200 bit/s and 1800 above. baudRate must not be 0.
std::uint32_t interCharacterGapMicros(std::uint32_t baudRate, std::uint32_t characterLength);

// Microseconds of silence that separate RTU frames on the line: three and a
// half characters, rounded up, and 1750 above 19200 bit/s. characterBits is
// every bit of a character on the wire, its first stop bit included (which
// characterLength does not count): 10 for 8N1. baudRate must not be 0.
std::uint32_t frameSilenceMicros(std::uint32_t baudRate, std::uint32_t characterBits);

}  // namespace modbus
