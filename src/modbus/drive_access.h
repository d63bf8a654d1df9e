#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "modbus/master.h"

namespace modbus {

// Result codes of the access calls.
inline constexpr std::uint8_t kAccessSuccess = 0;
inline constexpr std::uint8_t kAccessFailed = 2;       // any master failure but a time-out
inline constexpr std::uint8_t kAccessNoLink = 10;      // link not enabled; nothing sent
inline constexpr std::uint8_t kAccessNoResponse = 11;  // the master timed out

// Result codes of openLink and closeLink.
inline constexpr std::uint8_t kLinkSuccess = 0;
inline constexpr std::uint8_t kLinkBadChannel = 1;       // master 225
inline constexpr std::uint8_t kLinkPortUnavailable = 2;  // master 6
inline constexpr std::uint8_t kLinkFailed = 3;           // master 4 and anything else

// The drive link in use, as selectDrive stored it.
struct DriveLink {
    std::uint8_t channel = kNoChannel;
    std::int32_t station = 0;
    std::uint8_t frameType = kFrameRtu;
    bool enabled = false;
};

// The layer that pages and the poll thread call: one drive link (channel,
// station, frame type, enabled) and five calls on the drive's coils,
// discrete inputs and holding registers.
//
// Threads: selectDrive is called by the user interface thread while others
// run access calls; the link is one atomic word, so every call sees one
// whole link, old or new.
class DriveAccess {
  public:
    explicit DriveAccess(ModbusMaster& master) : master_(master) {}

    // Resets the master; the link becomes none, disabled.
    void initModbus();

    std::uint8_t openLink(std::uint8_t channel, std::uint32_t baudRate, std::uint8_t dataBits,
                          std::uint8_t stopBits, std::uint8_t parity);
    // openLink on an explicit device instead of the channel's COM port.
    std::uint8_t openLinkAt(std::uint8_t channel, const std::string& devicePath,
                            std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t stopBits,
                            std::uint8_t parity);
    std::uint8_t closeLink(std::uint8_t channel);
    // 1 when stored, 0 for a bad channel.
    std::uint8_t setLinkTiming(std::uint8_t channel, std::uint16_t responseTimeoutMs,
                               std::uint8_t retries);
    // The reason of the channel's last port failure, for messages.
    std::string linkError(std::uint8_t channel) { return master_.portError(channel); }

    void selectDrive(std::uint8_t channel, std::int32_t station, std::uint8_t frameType,
                     bool enabled);
    DriveLink currentLink() const;

    // Coils and inputs are one byte per point in memory, 0 or 1; on failure
    // the destination is left unchanged. writeCoils uses bit 0 of each byte.
    std::uint8_t readInputs(std::uint16_t startAddress, std::uint8_t* destination,
                            std::uint32_t count);
    std::uint8_t readCoils(std::uint16_t startAddress, std::uint8_t* destination,
                           std::uint32_t count);
    std::uint8_t writeCoils(std::uint16_t startAddress, const std::uint8_t* source,
                            std::uint32_t count);
    // Holding registers, 16-bit little-endian in memory; byteCount is 2 per
    // register, rounded up, and the area holds the rounded-up size.
    std::uint8_t readRegisters(std::uint16_t startAddress, std::uint8_t* destination,
                               std::uint32_t byteCount);
    std::uint8_t writeRegisters(std::uint16_t startAddress, const std::uint8_t* source,
                                std::uint32_t byteCount);

    // The same five with the run's own timing (never stored in the channel)
    // and, when report is not null, the cause of the result. A disabled link
    // gives kAccessNoLink with report->outcome channelUnavailable and
    // attempts 0.
    std::uint8_t readInputs(std::uint16_t startAddress, std::uint8_t* destination,
                            std::uint32_t count, const RequestTiming& timing,
                            RunReport* report = nullptr);
    std::uint8_t readCoils(std::uint16_t startAddress, std::uint8_t* destination,
                           std::uint32_t count, const RequestTiming& timing,
                           RunReport* report = nullptr);
    std::uint8_t writeCoils(std::uint16_t startAddress, const std::uint8_t* source,
                            std::uint32_t count, const RequestTiming& timing,
                            RunReport* report = nullptr);
    std::uint8_t readRegisters(std::uint16_t startAddress, std::uint8_t* destination,
                               std::uint32_t byteCount, const RequestTiming& timing,
                               RunReport* report = nullptr);
    std::uint8_t writeRegisters(std::uint16_t startAddress, const std::uint8_t* source,
                                std::uint32_t byteCount, const RequestTiming& timing,
                                RunReport* report = nullptr);

    ModbusMaster& master() { return master_; }

  private:
    std::uint8_t readBits(std::uint16_t startAddress, std::uint8_t* destination,
                          std::uint32_t count, std::uint8_t table, const RequestTiming* timing,
                          RunReport* report);
    std::uint8_t writeBits(std::uint16_t startAddress, const std::uint8_t* source,
                           std::uint32_t count, const RequestTiming* timing, RunReport* report);
    std::uint8_t registers(bool write, std::uint16_t startAddress, std::uint8_t* destination,
                           const std::uint8_t* source, std::uint32_t byteCount,
                           const RequestTiming* timing, RunReport* report);

    ModbusMaster& master_;
    std::atomic<std::uint64_t> link_{0xFF};  // packed DriveLink: none, disabled
};

}  // namespace modbus
