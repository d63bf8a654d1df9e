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

std::uint8_t DriveAccess::readBits(std::uint16_t startAddress, std::uint8_t* destination,
                                   std::uint32_t count, std::uint8_t table) {
    const DriveLink link = currentLink();
    if (!link.enabled) return kAccessNoLink;
    std::vector<std::uint8_t> work(count / 8 + 1, 0);
    const std::uint8_t r = master_.readItems(link.channel, link.station, startAddress, work.data(),
                                             count, makeSelector(kKindBits, table, link.frameType));
    if (r == kSuccess) {
        for (std::uint32_t i = 0; i < count; ++i)
            destination[i] = static_cast<std::uint8_t>((work[i / 8] >> (i % 8)) & 1);
    }
    return accessCode(r);
}

std::uint8_t DriveAccess::readInputs(std::uint16_t startAddress, std::uint8_t* destination,
                                     std::uint32_t count) {
    return readBits(startAddress, destination, count, kTableInput);
}

std::uint8_t DriveAccess::readCoils(std::uint16_t startAddress, std::uint8_t* destination,
                                    std::uint32_t count) {
    return readBits(startAddress, destination, count, kTableOutput);
}

std::uint8_t DriveAccess::writeCoils(std::uint16_t startAddress, const std::uint8_t* source,
                                     std::uint32_t count) {
    const DriveLink link = currentLink();
    if (!link.enabled) return kAccessNoLink;
    std::vector<std::uint8_t> work(count / 8 + 1, 0);
    for (std::uint32_t i = 0; i < count; ++i) {
        if ((source[i] & 1) != 0)
            work[i / 8] = static_cast<std::uint8_t>(work[i / 8] | (1u << (i % 8)));
    }
    return accessCode(master_.writeItems(link.channel, link.station, startAddress, work.data(),
                                         count,
                                         makeSelector(kKindBits, kTableOutput, link.frameType)));
}

std::uint8_t DriveAccess::readRegisters(std::uint16_t startAddress, std::uint8_t* destination,
                                        std::uint32_t byteCount) {
    const DriveLink link = currentLink();
    if (!link.enabled) return kAccessNoLink;
    return accessCode(
        master_.readItems(link.channel, link.station, startAddress, destination, byteCount,
                          makeSelector(kKindRegisters, kTableOutput, link.frameType)));
}

std::uint8_t DriveAccess::writeRegisters(std::uint16_t startAddress, const std::uint8_t* source,
                                         std::uint32_t byteCount) {
    const DriveLink link = currentLink();
    if (!link.enabled) return kAccessNoLink;
    return accessCode(
        master_.writeItems(link.channel, link.station, startAddress, source, byteCount,
                           makeSelector(kKindRegisters, kTableOutput, link.frameType)));
}

}  // namespace modbus
