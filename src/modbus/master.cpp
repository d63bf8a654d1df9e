#include "modbus/master.h"

#include <algorithm>

#include "modbus/frame.h"
#include "modbus/request.h"
#include "modbus/result.h"
#include "platform/clock.h"

namespace modbus {

void ChannelLock::lock() {
    std::unique_lock guard(mutex_);
    const std::uint64_t ticket = nextTicket_++;
    turn_.wait(guard, [&] { return nowServing_ == ticket; });
}

void ChannelLock::unlock() {
    {
        std::lock_guard guard(mutex_);
        ++nowServing_;
    }
    turn_.notify_all();
}

std::uint64_t ChannelLock::waiting() {
    std::lock_guard guard(mutex_);
    const std::uint64_t queued = nextTicket_ - nowServing_;
    return queued == 0 ? 0 : queued - 1;
}

ModbusMaster::~ModbusMaster() {
    for (std::uint8_t n = 0; n < kChannelCount; ++n) {
        std::lock_guard guard(locks_[n]);
        closeLocked(n);
    }
}

void ModbusMaster::resetChannelLocked(std::uint8_t n) {
    closeLocked(n);
    ModbusChannel& c = channels_[n];
    c.frameType = kFrameRtu;
    c.connection = -1;
    c.transaction = ModbusTransaction{};
    c.interCharGapMicros.store(kResetInterCharGapMicros, std::memory_order_relaxed);
    c.responseTimeoutMs.store(kResetResponseTimeoutMs, std::memory_order_relaxed);
    c.retries.store(kResetRetries, std::memory_order_relaxed);
    requestCopies_[n] = RequestCopy{};
}

void ModbusMaster::resetMaster() {
    for (std::uint8_t n = 0; n < kChannelCount; ++n) {
        std::lock_guard guard(locks_[n]);
        resetChannelLocked(n);
    }
}

std::uint8_t ModbusMaster::openSerialChannel(std::uint8_t channel, std::uint32_t baudRate,
                                             std::uint8_t dataBits, std::uint8_t stopBits,
                                             std::uint8_t parity) {
    if (channel >= kChannelCount) return kChannelUnavailable;
    return openSerialChannelAt(channel, platform::comDevicePath(channel + 1u), baudRate, dataBits,
                               stopBits, parity);
}

std::uint8_t ModbusMaster::openSerialChannelAt(std::uint8_t channel, const std::string& devicePath,
                                               std::uint32_t baudRate, std::uint8_t dataBits,
                                               std::uint8_t stopBits, std::uint8_t parity) {
    if (channel >= kChannelCount) return kChannelUnavailable;
    std::lock_guard guard(locks_[channel]);
    closeLocked(channel);
    return openLocked(channel, devicePath, baudRate, dataBits, stopBits, parity);
}

std::uint8_t ModbusMaster::openLocked(std::uint8_t n, const std::string& devicePath,
                                      std::uint32_t baudRate, std::uint8_t dataBits,
                                      std::uint8_t stopBits, std::uint8_t parity) {
    platform::SerialPort& port = ports_[n];
    if (!port.open(devicePath)) return kPortUnavailable;
    // A baud rate of 0 would make the time-out formulas divide by zero; the
    // port would refuse it anyway.
    if (baudRate == 0 || !port.configure({baudRate, dataBits, stopBits, parity})) {
        port.close();
        return kPortFailure;
    }
    const std::uint32_t e = characterLength(dataBits, stopBits, parity);
    if (!port.setTimeouts(serialTimeouts(baudRate, e))) {
        port.close();
        return kPortFailure;
    }
    port.purge();
    ModbusChannel& c = channels_[n];
    c.interCharGapMicros.store(interCharacterGapMicros(baudRate, e), std::memory_order_relaxed);
    c.channelNumber.store(n, std::memory_order_relaxed);
    c.mode.store(kModeSerial, std::memory_order_relaxed);
    return kSuccess;
}

std::uint8_t ModbusMaster::closeChannel(std::uint8_t channel) {
    if (channel >= kChannelCount) return kChannelUnavailable;
    std::lock_guard guard(locks_[channel]);
    if (channels_[channel].mode.load(std::memory_order_relaxed) != kModeSerial ||
        !ports_[channel].isOpen())
        return kPortFailure;
    closeLocked(channel);
    return kSuccess;
}

void ModbusMaster::closeLocked(std::uint8_t n) {
    ModbusChannel& c = channels_[n];
    c.mode.store(kModeClosed, std::memory_order_relaxed);
    c.channelNumber.store(kNoChannel, std::memory_order_relaxed);
    ports_[n].close();
}

std::uint8_t ModbusMaster::setChannelTiming(std::uint8_t channel, std::uint16_t responseTimeoutMs,
                                            std::uint8_t retries) {
    if (channel >= kChannelCount) return 0;
    channels_[channel].responseTimeoutMs.store(responseTimeoutMs, std::memory_order_relaxed);
    channels_[channel].retries.store(retries, std::memory_order_relaxed);
    return 1;
}

std::string ModbusMaster::portDevice(std::uint8_t channel) {
    if (channel >= kChannelCount) return {};
    std::lock_guard guard(locks_[channel]);
    return ports_[channel].devicePath();
}

std::string ModbusMaster::portError(std::uint8_t channel) {
    if (channel >= kChannelCount) return {};
    std::lock_guard guard(locks_[channel]);
    return ports_[channel].lastError();
}

std::uint8_t ModbusMaster::readItems(std::uint8_t channel, std::int32_t connection,
                                     std::uint16_t startAddress, std::uint8_t* destination,
                                     std::uint32_t count, std::uint32_t selector) {
    if (channel >= kChannelCount) return kChannelUnavailable;
    ModbusChannel& c = channels_[channel];
    if (const std::uint8_t r = checkChannel(c, connection); r != kSuccess) return r;
    const Selector s = decodeSelector(selector);
    if (s.kind > kKindRegisters || s.table > kTableOutput) return kFunctionMismatch;
    const bool registers = s.kind == kKindRegisters;
    const std::uint64_t quantity = registers ? (std::uint64_t{count} + 1) / 2 : count;
    const std::uint32_t limit = registers ? kMaxRegistersPerRequest : kMaxBitsPerRequest;
    const std::uint8_t functionCode = readFunctionCode(s.kind, s.table);

    std::lock_guard guard(locks_[channel]);
    // The channel may have been closed while this run waited for the lock.
    if (checkChannel(c, connection) != kSuccess || !ports_[channel].isOpen())
        return kChannelUnavailable;
    c.connection = connection;
    std::uint16_t address = startAddress;
    for (std::uint64_t done = 0; done < quantity; done += limit) {
        ModbusTransaction& tx = c.transaction;
        tx.stationByte = static_cast<std::uint8_t>(connection);
        tx.functionCode = functionCode;
        tx.startAddress = address;
        tx.quantity = static_cast<std::uint16_t>(std::min<std::uint64_t>(limit, quantity - done));
        buildReadRequest(tx);
        if (const std::uint8_t r = runRequest(channel, s.frameType, destination, false);
            r != kSuccess)
            return r;
        destination += tx.responseByteCount;
        address = static_cast<std::uint16_t>(address + limit);
    }
    return kSuccess;
}

std::uint8_t ModbusMaster::writeItems(std::uint8_t channel, std::int32_t connection,
                                      std::uint16_t startAddress, const std::uint8_t* source,
                                      std::uint32_t count, std::uint32_t selector) {
    if (channel >= kChannelCount) return kChannelUnavailable;
    ModbusChannel& c = channels_[channel];
    if (const std::uint8_t r = checkChannel(c, connection); r != kSuccess) return r;
    const Selector s = decodeSelector(selector);
    if (s.kind > kKindRegisters) return kFunctionMismatch;
    const bool registers = s.kind == kKindRegisters;
    const std::uint64_t quantity = registers ? (std::uint64_t{count} + 1) / 2 : count;
    const std::uint32_t limit = registers ? kMaxRegistersPerRequest : kMaxBitsPerRequest;
    // Chosen once for the whole run: a longer run keeps the multiple-write
    // code even for a last request of one item.
    const std::uint8_t functionCode =
        writeFunctionCode(s.kind, static_cast<std::uint32_t>(std::min<std::uint64_t>(quantity, 2)));

    std::lock_guard guard(locks_[channel]);
    if (checkChannel(c, connection) != kSuccess || !ports_[channel].isOpen())
        return kChannelUnavailable;
    c.connection = connection;
    std::uint16_t address = startAddress;
    for (std::uint64_t done = 0; done < quantity; done += limit) {
        ModbusTransaction& tx = c.transaction;
        tx.stationByte = static_cast<std::uint8_t>(connection);
        tx.functionCode = functionCode;
        tx.startAddress = address;
        tx.quantity = static_cast<std::uint16_t>(std::min<std::uint64_t>(limit, quantity - done));
        buildWriteRequest(tx, source);
        if (const std::uint8_t r = runRequest(channel, s.frameType, nullptr, true); r != kSuccess)
            return r;
        source += registers ? 2 * std::size_t{tx.quantity} : (std::size_t{tx.quantity} + 7) / 8;
        address = static_cast<std::uint16_t>(address + limit);
    }
    return kSuccess;
}

std::uint8_t ModbusMaster::runRequest(std::uint8_t n, std::uint8_t frameType,
                                      std::uint8_t* readDestination, bool isWrite) {
    ModbusChannel& c = channels_[n];
    ModbusTransaction& tx = c.transaction;
    const std::uint8_t sentValue[2] = {tx.frame[4], tx.frame[5]};
    c.frameType = frameType;
    if (const std::uint8_t r = appendChecksum(c); r != kSuccess) return r;
    RequestCopy& copy = requestCopies_[n];
    std::copy_n(tx.frame.begin(), tx.frameLength, copy.bytes.begin());
    copy.length = tx.frameLength;
    for (unsigned attempt = 1;; ++attempt) {
        std::uint8_t r = exchange(n);
        if (r == kSuccess)
            r = isWrite ? validateWriteResponse(tx, sentValue)
                        : validateReadResponse(tx, readDestination);
        if (r == kSuccess) return r;
        if (attempt >= c.retries.load(std::memory_order_relaxed) + 1u) return r;
        platform::sleepMs(kRetryPauseMs);
        std::copy_n(copy.bytes.begin(), copy.length, tx.frame.begin());
        tx.frameLength = copy.length;
    }
}

std::uint8_t ModbusMaster::exchange(std::uint8_t n) {
    if (n >= kChannelCount) return kChannelUnavailable;
    platform::SerialPort& port = ports_[n];
    if (!port.isOpen()) return kChannelUnavailable;
    ModbusChannel& c = channels_[n];
    ModbusTransaction& tx = c.transaction;

    port.purge();
    if (!port.write(tx.frame.data(), tx.frameLength)) return kPortFailure;

    tx.frame.fill(0);
    tx.frameLength = 0;
    const bool ascii = c.frameType == kFrameAscii;
    std::uint64_t start = platform::monotonicMicros();
    for (;;) {
        const std::size_t waiting = port.bytesWaiting();
        if (waiting > 0) {
            const std::size_t room = kFrameAreaSize - tx.frameLength;
            // More bytes than the frame area holds: a framing error, never a
            // write past it. Also ends a peer that sends without pause.
            if (waiting > room) return kFramingError;
            const std::size_t got = port.read(tx.frame.data() + tx.frameLength, waiting);
            if (got > 0) {
                tx.frameLength = static_cast<std::uint16_t>(tx.frameLength + got);
                start = platform::monotonicMicros();
                if (ascii && endsWithCrLf(tx)) break;
                continue;
            }
        }
        const std::uint64_t elapsed = platform::monotonicMicros() - start;
        std::uint64_t limit = 0;
        if (tx.frameLength == 0 || ascii) {
            const std::int32_t timeoutMs = c.responseTimeoutMs.load(std::memory_order_relaxed);
            limit = static_cast<std::uint64_t>(std::max(timeoutMs, 0)) * 1000;
            if (elapsed > limit) return kNoResponse;
        } else {
            limit = c.interCharGapMicros.load(std::memory_order_relaxed);
            if (elapsed > limit) break;
        }
        port.waitReadable(limit - elapsed + 1);
    }
    return checkResponse(c);
}

}  // namespace modbus
