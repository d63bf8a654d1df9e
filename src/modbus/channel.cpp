#include "modbus/channel.h"

#include "modbus/result.h"

namespace modbus {

std::uint8_t checkChannel(const ModbusChannel& channel, std::int32_t connection) {
    if (channel.mode.load(std::memory_order_relaxed) != kModeSerial) return kChannelUnavailable;
    if (connection < 0 || connection > 255) return kChannelUnavailable;
    return kSuccess;
}

std::uint32_t characterLength(std::uint8_t dataBits, std::uint8_t stopBitCode,
                              std::uint8_t parityCode) {
    std::uint32_t e = std::uint32_t{dataBits} + 1;
    if (stopBitCode != 0) ++e;
    if (parityCode != 0) ++e;
    return e;
}

std::uint32_t serialIntervalTimeoutMs(std::uint32_t baudRate, std::uint32_t characterLength) {
    if (baudRate > 19200) return 1;
    return static_cast<std::uint32_t>(
        static_cast<double>(characterLength) * 2000.0 / static_cast<double>(baudRate) + 1.0);
}

platform::SerialTimeouts serialTimeouts(std::uint32_t baudRate, std::uint32_t characterLength) {
    const std::uint32_t t = serialIntervalTimeoutMs(baudRate, characterLength);
    platform::SerialTimeouts timeouts;
    timeouts.readIntervalMs = t;
    timeouts.readTotalMultiplierMs = 1;
    timeouts.readTotalConstantMs = 1;
    timeouts.writeTotalMultiplierMs = t;
    timeouts.writeTotalConstantMs = 1;
    return timeouts;
}

std::uint32_t interCharacterGapMicros(std::uint32_t baudRate, std::uint32_t characterLength) {
    struct Gap {
        std::uint32_t baud;
        std::uint32_t micros;  // at 9 bits per character
    };
    static constexpr Gap kGaps[] = {{115200, 2300}, {57600, 11000}, {56000, 13000}, {38400, 16000},
                                    {19200, 18000}, {14400, 20000}, {9600, 24000},  {4800, 48000}};
    for (const Gap& g : kGaps) {
        if (g.baud == baudRate) return characterLength * g.micros / 9;
    }
    if (baudRate <= 19200) {
        return static_cast<std::uint32_t>(static_cast<double>(characterLength) * 3'500'000.0 /
                                          static_cast<double>(baudRate));
    }
    return 1800;
}

std::uint32_t frameSilenceMicros(std::uint32_t baudRate, std::uint32_t characterBits) {
    if (baudRate > 19200) return 1750;
    const std::uint64_t bits = std::uint64_t{characterBits} * 3'500'000u;
    return static_cast<std::uint32_t>((bits + baudRate - 1) / baudRate);
}

}  // namespace modbus
