#include "modbus/drive_access.h"

#include <vector>

#include "modbus/request.h"
#include "modbus/result.h"

namespace modbus {

namespace {

// channel in bits 0-7, frame type 8-15, enabled 16, station 32-63.
std::uint64_t packLink(const DriveLink& link) {
    return std::uint64_t{link.channel} | (std::uint64_t{link.frameType} << 8) |
           (std::uint64_t{link.enabled ? 1u : 0u} << 16) |
           (std::uint64_t{static_cast<std::uint32_t>(link.station)} << 32);
}

DriveLink unpackLink(std::uint64_t word) {
    DriveLink link;
    link.channel = static_cast<std::uint8_t>(word & 0xFF);
    link.frameType = static_cast<std::uint8_t>((word >> 8) & 0xFF);
    link.enabled = ((word >> 16) & 1) != 0;
    link.station = static_cast<std::int32_t>(static_cast<std::uint32_t>(word >> 32));
    return link;
}

std::uint8_t accessCode(std::uint8_t masterResult) {
    if (masterResult == kSuccess) return kAccessSuccess;
    if (masterResult == kNoResponse) return kAccessNoResponse;
    return kAccessFailed;
}

std::uint8_t linkCode(std::uint8_t masterResult) {
    switch (masterResult) {
        case kSuccess:
            return kLinkSuccess;
        case kChannelUnavailable:
            return kLinkBadChannel;
        case kPortUnavailable:
            return kLinkPortUnavailable;
        default:
            return kLinkFailed;
    }
}

}  // namespace

void DriveAccess::initModbus() {
    link_.store(packLink(DriveLink{}), std::memory_order_relaxed);
    master_.resetMaster();
}

std::uint8_t DriveAccess::openLink(std::uint8_t channel, std::uint32_t baudRate,
                                   std::uint8_t dataBits, std::uint8_t stopBits,
                                   std::uint8_t parity) {
    return linkCode(master_.openSerialChannel(channel, baudRate, dataBits, stopBits, parity));
}

std::uint8_t DriveAccess::openLinkAt(std::uint8_t channel, const std::string& devicePath,
                                     std::uint32_t baudRate, std::uint8_t dataBits,
                                     std::uint8_t stopBits, std::uint8_t parity) {
    return linkCode(
        master_.openSerialChannelAt(channel, devicePath, baudRate, dataBits, stopBits, parity));
}

std::uint8_t DriveAccess::closeLink(std::uint8_t channel) {
    return linkCode(master_.closeChannel(channel));
}

std::uint8_t DriveAccess::setLinkTiming(std::uint8_t channel, std::uint16_t responseTimeoutMs,
                                        std::uint8_t retries) {
    return master_.setChannelTiming(channel, responseTimeoutMs, retries);
}

void DriveAccess::selectDrive(std::uint8_t channel, std::int32_t station, std::uint8_t frameType,
                              bool enabled) {
    link_.store(packLink({channel, station, frameType, enabled}), std::memory_order_relaxed);
}

DriveLink DriveAccess::currentLink() const {
    return unpackLink(link_.load(std::memory_order_relaxed));
}

namespace {

// A disabled link: nothing was sent.
std::uint8_t noLink(RunReport* report, const DriveLink& link, std::uint16_t startAddress,
                    bool write) {
    if (report != nullptr) {
        *report = RunReport{};
        report->result = kChannelUnavailable;
        report->outcome = Outcome::channelUnavailable;
        report->station = link.station;
        report->failedAddress = startAddress;
        report->write = write;
    }
    return kAccessNoLink;
}

}  // namespace

// The calls without a timing take the channel's at the start of the run, as
// the master's own overloads do.
std::uint8_t DriveAccess::readBits(std::uint16_t startAddress, std::uint8_t* destination,
                                   std::uint32_t count, std::uint8_t table,
                                   const RequestTiming* timing, RunReport* report) {
    const DriveLink link = currentLink();
    if (!link.enabled) return noLink(report, link, startAddress, false);
    std::vector<std::uint8_t> work(count / 8 + 1, 0);
    const RequestTiming t = timing != nullptr ? *timing : master_.channelTiming(link.channel);
    const std::uint8_t r =
        master_.readItems(link.channel, link.station, startAddress, work.data(), count,
                          makeSelector(kKindBits, table, link.frameType), t, report);
    if (r == kSuccess) {
        for (std::uint32_t i = 0; i < count; ++i)
            destination[i] = static_cast<std::uint8_t>((work[i / 8] >> (i % 8)) & 1);
    }
    return accessCode(r);
}

std::uint8_t DriveAccess::writeBits(std::uint16_t startAddress, const std::uint8_t* source,
                                    std::uint32_t count, const RequestTiming* timing,
                                    RunReport* report) {
    const DriveLink link = currentLink();
    if (!link.enabled) return noLink(report, link, startAddress, true);
    std::vector<std::uint8_t> work(count / 8 + 1, 0);
    for (std::uint32_t i = 0; i < count; ++i) {
        if ((source[i] & 1) != 0)
            work[i / 8] = static_cast<std::uint8_t>(work[i / 8] | (1u << (i % 8)));
    }
    const RequestTiming t = timing != nullptr ? *timing : master_.channelTiming(link.channel);
    return accessCode(
        master_.writeItems(link.channel, link.station, startAddress, work.data(), count,
                           makeSelector(kKindBits, kTableOutput, link.frameType), t, report));
}

std::uint8_t DriveAccess::registers(bool write, std::uint16_t startAddress,
                                    std::uint8_t* destination, const std::uint8_t* source,
                                    std::uint32_t byteCount, const RequestTiming* timing,
                                    RunReport* report) {
    const DriveLink link = currentLink();
    if (!link.enabled) return noLink(report, link, startAddress, write);
    const RequestTiming t = timing != nullptr ? *timing : master_.channelTiming(link.channel);
    const std::uint32_t selector = makeSelector(kKindRegisters, kTableOutput, link.frameType);
    if (write)
        return accessCode(master_.writeItems(link.channel, link.station, startAddress, source,
                                             byteCount, selector, t, report));
    return accessCode(master_.readItems(link.channel, link.station, startAddress, destination,
                                        byteCount, selector, t, report));
}

std::uint8_t DriveAccess::readInputs(std::uint16_t startAddress, std::uint8_t* destination,
                                     std::uint32_t count) {
    return readBits(startAddress, destination, count, kTableInput, nullptr, nullptr);
}

std::uint8_t DriveAccess::readCoils(std::uint16_t startAddress, std::uint8_t* destination,
                                    std::uint32_t count) {
    return readBits(startAddress, destination, count, kTableOutput, nullptr, nullptr);
}

std::uint8_t DriveAccess::writeCoils(std::uint16_t startAddress, const std::uint8_t* source,
                                     std::uint32_t count) {
    return writeBits(startAddress, source, count, nullptr, nullptr);
}

std::uint8_t DriveAccess::readRegisters(std::uint16_t startAddress, std::uint8_t* destination,
                                        std::uint32_t byteCount) {
    return registers(false, startAddress, destination, nullptr, byteCount, nullptr, nullptr);
}

std::uint8_t DriveAccess::writeRegisters(std::uint16_t startAddress, const std::uint8_t* source,
                                         std::uint32_t byteCount) {
    return registers(true, startAddress, nullptr, source, byteCount, nullptr, nullptr);
}

std::uint8_t DriveAccess::readInputs(std::uint16_t startAddress, std::uint8_t* destination,
                                     std::uint32_t count, const RequestTiming& timing,
                                     RunReport* report) {
    return readBits(startAddress, destination, count, kTableInput, &timing, report);
}

std::uint8_t DriveAccess::readCoils(std::uint16_t startAddress, std::uint8_t* destination,
                                    std::uint32_t count, const RequestTiming& timing,
                                    RunReport* report) {
    return readBits(startAddress, destination, count, kTableOutput, &timing, report);
}

std::uint8_t DriveAccess::writeCoils(std::uint16_t startAddress, const std::uint8_t* source,
                                     std::uint32_t count, const RequestTiming& timing,
                                     RunReport* report) {
    return writeBits(startAddress, source, count, &timing, report);
}

std::uint8_t DriveAccess::readRegisters(std::uint16_t startAddress, std::uint8_t* destination,
                                        std::uint32_t byteCount, const RequestTiming& timing,
                                        RunReport* report) {
    return registers(false, startAddress, destination, nullptr, byteCount, &timing, report);
}

std::uint8_t DriveAccess::writeRegisters(std::uint16_t startAddress, const std::uint8_t* source,
                                         std::uint32_t byteCount, const RequestTiming& timing,
                                         RunReport* report) {
    return registers(true, startAddress, nullptr, source, byteCount, &timing, report);
}

}  // namespace modbus
