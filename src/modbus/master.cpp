#include "modbus/master.h"

#include <algorithm>

#include "modbus/frame.h"
#include "modbus/request.h"
#include "modbus/result.h"
#include "platform/clock.h"

namespace modbus {

namespace {

// After a broadcast the stations need time to execute it before the line
// carries the next request; none of them says when it is done.
constexpr std::uint64_t kBroadcastTurnaroundMicros = 100'000;

// What a USB serial adapter or the OS may hold back before bytes show as
// readable (an FTDI latency timer is 16 ms); also the least pause between
// attempts.
constexpr std::uint64_t kDeliveryMarginMicros = std::uint64_t{kRetryPauseMs} * 1000;

// The silence that ends a response on a network link, which delivers a frame
// whole once its length is known (modbus/network_link.h).
constexpr std::uint32_t kNetworkGapMicros = 1000;

// Characters of the answer a request expects (the longest that a late
// answer to it can be, an exception response being shorter).
std::size_t answerCharacters(const ModbusTransaction& tx, std::uint8_t frameType) {
    std::size_t rtu = 8;  // a write's echo
    switch (tx.functionCode) {
        case kReadCoils:
        case kReadDiscreteInputs:
            rtu = 5 + (std::size_t{tx.quantity} + 7) / 8;
            break;
        case kReadHoldingRegisters:
        case kReadInputRegisters:
            rtu = 5 + 2 * std::size_t{tx.quantity};
            break;
        default:
            break;
    }
    // ASCII: ':', the bytes without CRC and the LRC as hex pairs, CR LF.
    return frameType == kFrameAscii ? 1 + 2 * (rtu - 1) + 2 : rtu;
}

}  // namespace

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
    LinkPort& port = ports_[n];
    const RequestTiming timing = channelTiming(n);
    const std::uint32_t connectMs = std::max<std::uint32_t>(
        kConnectTimeoutMinMs, std::uint32_t{timing.responseTimeoutMs} * (timing.retries + 1u));
    if (!port.open(devicePath, connectMs)) return kPortUnavailable;
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
    lines_[n] = LineState{};
    lines_[n].characterMicros = e * 1'000'000u / baudRate + 1;
    lines_[n].frameSilenceMicros = frameSilenceMicros(baudRate, e + 1);
    lines_[n].link = opens_.fetch_add(1, std::memory_order_relaxed) + 1;
    ModbusChannel& c = channels_[n];
    // A network link hands over whole frames: no line timing to wait out.
    c.interCharGapMicros.store(
        port.isNetwork() ? kNetworkGapMicros : interCharacterGapMicros(baudRate, e),
        std::memory_order_relaxed);
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

std::uint8_t ModbusMaster::awaitQuietLine(std::uint8_t channel) {
    if (channel >= kChannelCount) return kChannelUnavailable;
    std::lock_guard guard(locks_[channel]);
    return awaitQuietLocked(channel);
}

std::uint8_t ModbusMaster::closeChannelWhenQuiet(std::uint8_t channel) {
    if (channel >= kChannelCount) return kChannelUnavailable;
    std::lock_guard guard(locks_[channel]);
    const std::uint8_t r = awaitQuietLocked(channel);
    if (r == kSuccess) closeLocked(channel);
    return r;
}

std::uint64_t ModbusMaster::awaitLateAnswers(std::uint8_t channel, std::uint64_t sinceMicros,
                                             std::uint64_t windowMicros) {
    if (channel >= kChannelCount) return 0;
    std::lock_guard guard(locks_[channel]);
    if (channels_[channel].mode.load(std::memory_order_relaxed) != kModeSerial ||
        !ports_[channel].isOpen())
        return 0;
    const std::uint64_t before = lines_[channel].discardedBytes;
    drain(channel, sinceMicros, windowMicros);
    return lines_[channel].discardedBytes - before;
}

std::uint8_t ModbusMaster::awaitQuietLocked(std::uint8_t n) {
    if (channels_[n].mode.load(std::memory_order_relaxed) != kModeSerial || !ports_[n].isOpen())
        return kPortFailure;
    LineState& line = lines_[n];
    if (line.resync) {
        drain(n, line.quietSinceMicros, line.guardMicros);
        line.resync = false;
        line.guardMicros = 0;
    } else if (ports_[n].bytesWaiting() > 0) {
        // An answer already under way: only its rest can follow.
        drain(n, platform::monotonicMicros(), guardMicros(n, 0));
    }
    return kSuccess;
}

void ModbusMaster::closeLocked(std::uint8_t n) {
    // Closing discards what the port has not sent yet: a broadcast, which
    // nothing acknowledges, must have left first.
    if (ports_[n].isOpen()) {
        const std::uint64_t now = platform::monotonicMicros();
        if (now < lines_[n].notBeforeMicros) platform::sleepMicros(lines_[n].notBeforeMicros - now);
    }
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

std::uint64_t ModbusMaster::discardedBytes(std::uint8_t channel) {
    if (channel >= kChannelCount) return 0;
    std::lock_guard guard(locks_[channel]);
    return lines_[channel].discardedBytes;
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

RequestTiming ModbusMaster::channelTiming(std::uint8_t channel) const {
    const ModbusChannel& c = channels_[channel % kChannelCount];
    const std::int32_t timeoutMs = c.responseTimeoutMs.load(std::memory_order_relaxed);
    return {static_cast<std::uint16_t>(std::clamp<std::int32_t>(timeoutMs, 0, 0xFFFF)),
            c.retries.load(std::memory_order_relaxed)};
}

std::uint8_t ModbusMaster::readItems(std::uint8_t channel, std::int32_t connection,
                                     std::uint16_t startAddress, std::uint8_t* destination,
                                     std::uint32_t count, std::uint32_t selector) {
    if (channel >= kChannelCount) return kChannelUnavailable;
    return readItems(channel, connection, startAddress, destination, count, selector,
                     channelTiming(channel));
}

std::uint8_t ModbusMaster::writeItems(std::uint8_t channel, std::int32_t connection,
                                      std::uint16_t startAddress, const std::uint8_t* source,
                                      std::uint32_t count, std::uint32_t selector) {
    if (channel >= kChannelCount) return kChannelUnavailable;
    return writeItems(channel, connection, startAddress, source, count, selector,
                      channelTiming(channel));
}

namespace {

// Fills the report's result and, for results that name their cause alone,
// the outcome; returns the result.
std::uint8_t settle(RunReport& report, std::uint8_t result, Outcome outcome) {
    report.result = result;
    report.outcome = outcome;
    return result;
}

// The cause of a failed attempt, from its result and, when the response was
// unframed (its checksum right), from the response itself.
Outcome classify(std::uint8_t result, const ModbusTransaction& tx, std::uint8_t& exceptionCode,
                 bool unframed = false) {
    exceptionCode = 0;
    switch (result) {
        case kSuccess:
            return Outcome::ok;
        case kNoResponse:
            return Outcome::noAnswer;
        case kChecksumError:
            return Outcome::badChecksum;
        case kPortFailure:
            return Outcome::portFailure;
        case kPortUnavailable:
            return Outcome::portUnavailable;
        case kChannelUnavailable:
            return Outcome::channelUnavailable;
        default:
            break;
    }
    if (!unframed) return result == kFramingError ? Outcome::malformed : Outcome::mismatch;
    if (tx.frameLength >= 1 && tx.frame[0] != tx.stationByte) return Outcome::wrongStation;
    if (tx.frameLength >= 3 && tx.frame[1] == (tx.functionCode | 0x80)) {
        exceptionCode = tx.frame[2];
        return Outcome::exception;
    }
    return result == kFramingError ? Outcome::malformed : Outcome::mismatch;
}

}  // namespace

std::uint8_t ModbusMaster::readItems(std::uint8_t channel, std::int32_t connection,
                                     std::uint16_t startAddress, std::uint8_t* destination,
                                     std::uint32_t count, std::uint32_t selector,
                                     const RequestTiming& timing, RunReport* report) {
    RunReport local;
    RunReport& rep = report != nullptr ? *report : local;
    rep = RunReport{};
    rep.station = connection;
    rep.failedAddress = startAddress;
    rep.responseTimeoutMs = timing.responseTimeoutMs;
    if (channel >= kChannelCount)
        return settle(rep, kChannelUnavailable, Outcome::channelUnavailable);
    ModbusChannel& c = channels_[channel];
    if (const std::uint8_t r = checkChannel(c, connection); r != kSuccess)
        return settle(rep, r, Outcome::channelUnavailable);
    const Selector s = decodeSelector(selector);
    if (s.kind > kKindRegisters || s.table > kTableOutput)
        return settle(rep, kFunctionMismatch, Outcome::mismatch);
    const bool registers = s.kind == kKindRegisters;
    const std::uint64_t quantity = registers ? (std::uint64_t{count} + 1) / 2 : count;
    const std::uint32_t limit = registers ? kMaxRegistersPerRequest : kMaxBitsPerRequest;
    const std::uint8_t functionCode = readFunctionCode(s.kind, s.table);
    rep.functionCode = functionCode;
    // Nothing answers a broadcast, so there is nothing to read.
    if (connection == 0) return settle(rep, kChannelUnavailable, Outcome::broadcastRead);

    std::lock_guard guard(locks_[channel]);
    // The channel may have been closed while this run waited for the lock.
    if (checkChannel(c, connection) != kSuccess || !ports_[channel].isOpen())
        return settle(rep, kChannelUnavailable, Outcome::channelUnavailable);
    c.connection = connection;
    std::uint16_t address = startAddress;
    for (std::uint64_t done = 0; done < quantity; done += limit) {
        ModbusTransaction& tx = c.transaction;
        tx.stationByte = static_cast<std::uint8_t>(connection);
        tx.functionCode = functionCode;
        tx.startAddress = address;
        tx.quantity = static_cast<std::uint16_t>(std::min<std::uint64_t>(limit, quantity - done));
        rep.failedAddress = address;
        buildReadRequest(tx);
        if (const std::uint8_t r =
                runRequest(channel, s.frameType, destination, false, timing, rep);
            r != kSuccess)
            return r;
        destination += tx.responseByteCount;
        address = static_cast<std::uint16_t>(address + limit);
    }
    return kSuccess;
}

std::uint8_t ModbusMaster::writeItems(std::uint8_t channel, std::int32_t connection,
                                      std::uint16_t startAddress, const std::uint8_t* source,
                                      std::uint32_t count, std::uint32_t selector,
                                      const RequestTiming& timing, RunReport* report) {
    RunReport local;
    RunReport& rep = report != nullptr ? *report : local;
    rep = RunReport{};
    rep.station = connection;
    rep.failedAddress = startAddress;
    rep.responseTimeoutMs = timing.responseTimeoutMs;
    rep.write = true;
    if (channel >= kChannelCount)
        return settle(rep, kChannelUnavailable, Outcome::channelUnavailable);
    ModbusChannel& c = channels_[channel];
    if (const std::uint8_t r = checkChannel(c, connection); r != kSuccess)
        return settle(rep, r, Outcome::channelUnavailable);
    const Selector s = decodeSelector(selector);
    if (s.kind > kKindRegisters) return settle(rep, kFunctionMismatch, Outcome::mismatch);
    const bool registers = s.kind == kKindRegisters;
    const std::uint64_t quantity = registers ? (std::uint64_t{count} + 1) / 2 : count;
    const std::uint32_t limit = registers ? kMaxRegistersPerRequest : kMaxBitsPerRequest;
    // Chosen once for the whole run: a longer run keeps the multiple-write
    // code even for a last request of one item.
    const std::uint8_t functionCode =
        writeFunctionCode(s.kind, static_cast<std::uint32_t>(std::min<std::uint64_t>(quantity, 2)));
    rep.functionCode = functionCode;

    std::lock_guard guard(locks_[channel]);
    if (checkChannel(c, connection) != kSuccess || !ports_[channel].isOpen())
        return settle(rep, kChannelUnavailable, Outcome::channelUnavailable);
    c.connection = connection;
    std::uint16_t address = startAddress;
    for (std::uint64_t done = 0; done < quantity; done += limit) {
        ModbusTransaction& tx = c.transaction;
        tx.stationByte = static_cast<std::uint8_t>(connection);
        tx.functionCode = functionCode;
        tx.startAddress = address;
        tx.quantity = static_cast<std::uint16_t>(std::min<std::uint64_t>(limit, quantity - done));
        rep.failedAddress = address;
        buildWriteRequest(tx, source);
        if (const std::uint8_t r = runRequest(channel, s.frameType, nullptr, true, timing, rep);
            r != kSuccess)
            return r;
        source += registers ? 2 * std::size_t{tx.quantity} : (std::size_t{tx.quantity} + 7) / 8;
        address = static_cast<std::uint16_t>(address + limit);
    }
    return kSuccess;
}

std::uint8_t ModbusMaster::runRequest(std::uint8_t n, std::uint8_t frameType,
                                      std::uint8_t* readDestination, bool isWrite,
                                      const RequestTiming& timing, RunReport& report) {
    ModbusChannel& c = channels_[n];
    ModbusTransaction& tx = c.transaction;
    const std::uint8_t sentValue[2] = {tx.frame[4], tx.frame[5]};
    // What a write carries, for the observer, taken before framing: the
    // value of a single write, the data after the byte count of a multiple.
    const bool multiple =
        tx.functionCode == kWriteMultipleCoils || tx.functionCode == kWriteMultipleRegisters;
    const std::uint8_t* writeData = multiple ? tx.frame.data() + 7 : sentValue;
    const std::size_t writeBytes = !isWrite ? 0
                                   : multiple
                                       ? std::min<std::size_t>(tx.frame[6], kFrameAreaSize - 7)
                                       : 2;
    std::array<std::uint8_t, kRecordDataBytes> written{};
    std::copy_n(writeData, std::min(writeBytes, written.size()), written.begin());
    c.frameType = frameType;
    report.attempts = 0;
    report.exceptionCode = 0;
    lines_[n].sentMicros = 0;
    lines_[n].answerEndMicros = 0;
    if (const std::uint8_t r = appendChecksum(c); r != kSuccess)
        return settle(report, r,
                      r == kChannelUnavailable ? Outcome::channelUnavailable : Outcome::mismatch);
    if (tx.stationByte == 0) {
        // A broadcast: every station executes it and none answers.
        report.attempts = 1;
        const std::uint8_t r = send(n, timing.responseTimeoutMs);
        if (r != kSuccess) {
            settle(report, r, classify(r, tx, report.exceptionCode));
            notify(n, report, written.data(), writeBytes);
            return r;
        }
        // write() may return before the frame has left the port.
        lines_[n].notBeforeMicros = platform::monotonicMicros() +
                                    std::uint64_t{tx.frameLength} * lines_[n].characterMicros +
                                    kBroadcastTurnaroundMicros;
        settle(report, kSuccess, Outcome::broadcastSent);
        notify(n, report, written.data(), writeBytes);
        return kSuccess;
    }
    RequestCopy& copy = requestCopies_[n];
    std::copy_n(tx.frame.begin(), tx.frameLength, copy.bytes.begin());
    copy.length = tx.frameLength;
    for (unsigned attempt = 1;; ++attempt) {
        report.attempts = static_cast<std::uint8_t>(std::min(attempt, 255u));
        std::uint8_t r = exchange(n, timing.responseTimeoutMs);
        const bool unframed = r == kSuccess;
        if (unframed)
            r = isWrite ? validateWriteResponse(tx, sentValue)
                        : validateReadResponse(tx, readDestination);
        report.result = r;
        report.outcome = classify(r, tx, report.exceptionCode, unframed);
        if (isWrite)
            notify(n, report, written.data(), writeBytes);
        else if (r == kSuccess)
            notify(n, report, tx.frame.data() + 3, tx.responseByteCount);
        else
            notify(n, report, nullptr, 0);
        if (r == kSuccess) return r;
        // An exception response that passed every check is this request's
        // answer: the line is in step. After anything else the drive may still
        // be answering, or an answer seen may have been another request's.
        const bool inStep = report.outcome == Outcome::exception && tx.frameLength == 3;
        // Silence is safe to skip only when nothing came and the request after
        // this one checks for another station (see RequestTiming): never before
        // a retry, which asks the same station again.
        const bool stationTells = timing.nextStationDiffers &&
                                  report.outcome == Outcome::noAnswer &&
                                  attempt >= timing.retries + 1u;
        if (!inStep && !stationTells) {
            // A response with a bad checksum came within the time-out: this
            // request's answer, garbled or cut by a pause, whose rest may
            // follow; an answer to an earlier request cannot be on its way
            // (that one was waited out). Anything else may be followed by a
            // late answer.
            const std::uint16_t lateBy =
                report.outcome == Outcome::badChecksum ? 0 : timing.responseTimeoutMs;
            LineState& line = lines_[n];
            line.resync = true;
            line.quietSinceMicros = platform::monotonicMicros();
            line.guardMicros = std::max(line.guardMicros, guardMicros(n, lateBy));
        }
        // A retry cannot pass a connection that has ended: the run fails here
        // and the next one connects again (the guard above still applies).
        if (ports_[n].connectionLost())
            return settle(report, kPortFailure, Outcome::connectionLost);
        if (attempt >= timing.retries + 1u) return r;
        // The guard before the next send includes the pause.
        if (inStep) platform::sleepMs(kRetryPauseMs);
        std::copy_n(copy.bytes.begin(), copy.length, tx.frame.begin());
        tx.frameLength = copy.length;
    }
}

void ModbusMaster::notify(std::uint8_t n, const RunReport& report, const std::uint8_t* data,
                          std::size_t dataBytes) {
    LineState& line = lines_[n];
    TransactionCounts& counts = line.counts;
    ++counts.attempts;
    if (report.attempts > 1) ++counts.retries;
    switch (report.outcome) {
        case Outcome::ok:
        case Outcome::broadcastSent:
            ++counts.good;
            break;
        case Outcome::noAnswer:
            ++counts.timeouts;
            break;
        case Outcome::badChecksum:
            ++counts.badChecksums;
            break;
        case Outcome::exception:
            ++counts.exceptions;
            break;
        case Outcome::wrongStation:
            ++counts.wrongStations;
            break;
        default:
            ++counts.otherErrors;
            break;
    }
    TransactionObserver* observer = observer_.load(std::memory_order_acquire);
    if (observer == nullptr) return;
    const ModbusTransaction& tx = channels_[n].transaction;
    TransactionRecord r;
    const std::uint64_t now = platform::monotonicMicros();
    r.timeMicros = line.sentMicros != 0 ? line.sentMicros : now;
    const std::uint64_t end = line.answerEndMicros > r.timeMicros ? line.answerEndMicros : now;
    r.roundTripMicros =
        line.sentMicros == 0 || report.outcome == Outcome::broadcastSent
            ? 0
            : static_cast<std::uint32_t>(std::min<std::uint64_t>(end - r.timeMicros, UINT32_MAX));
    r.link = line.link;
    r.address = tx.startAddress;
    r.quantity = tx.quantity;
    r.channel = n;
    r.station = tx.stationByte;
    r.functionCode = tx.functionCode;
    r.outcome = report.outcome;
    r.exceptionCode = report.exceptionCode;
    r.attempt = report.attempts;
    r.dataBytes = static_cast<std::uint8_t>(std::min<std::size_t>(dataBytes, 255));
    if (data != nullptr) std::copy_n(data, r.keptBytes(), r.data.begin());
    r.counts = counts;
    observer->onTransaction(r);
}

void ModbusMaster::setObserver(TransactionObserver* observer) {
    for (auto& lock : locks_) {
        std::lock_guard guard(lock);
        observer_.store(observer, std::memory_order_release);
    }
}

// The guard: after a failed attempt, an answer to it may begin up to its
// response time-out late and then takes its frame time to arrive. A drive
// that was busy answers its queue in order, so once the line has been silent
// for time-out + answer frame time + one inter-character gap + the adapter's
// delivery margin, no answer to that request is expected any more, and the
// next request's answer cannot be confused with it. Only failures pay it: on
// the good path the line is checked, not waited on. lateByMs is the time-out,
// or 0 when the answer has already begun.
std::uint64_t ModbusMaster::guardMicros(std::uint8_t n, std::uint16_t lateByMs) const {
    const ModbusChannel& c = channels_[n];
    return std::uint64_t{lateByMs} * 1000 +
           answerCharacters(c.transaction, c.frameType) * lines_[n].characterMicros +
           c.interCharGapMicros.load(std::memory_order_relaxed) + kDeliveryMarginMicros;
}

void ModbusMaster::drain(std::uint8_t n, std::uint64_t since, std::uint64_t guard) {
    LinkPort& port = ports_[n];
    std::array<std::uint8_t, 256> scratch{};
    std::uint64_t last = since;
    for (;;) {
        const std::size_t waiting = port.bytesWaiting();
        if (waiting > 0) {
            const std::size_t got = port.read(scratch.data(), std::min(waiting, scratch.size()));
            if (got > 0) {
                lines_[n].discardedBytes += got;
                last = platform::monotonicMicros();
                lines_[n].lastByteMicros = last;
                continue;
            }
        }
        const std::uint64_t now = platform::monotonicMicros();
        const std::uint64_t quiet = now > last ? now - last : 0;
        if (quiet >= guard) return;
        port.waitReadable(guard - quiet);
    }
}

std::uint8_t ModbusMaster::send(std::uint8_t n, std::uint16_t responseTimeoutMs) {
    LinkPort& port = ports_[n];
    if (!port.isOpen()) return kChannelUnavailable;
    if (port.connectionLost() && !port.reconnect()) return kPortFailure;
    LineState& line = lines_[n];
    if (const std::uint64_t now = platform::monotonicMicros(); now < line.notBeforeMicros)
        platform::sleepMicros(line.notBeforeMicros - now);
    // Bytes nobody asked for (an answer later than the guard, a second
    // answer, noise) mean the same as a failure: something may still follow,
    // so the line must fall silent before it carries a request. They are never
    // just purged, because the rest of such an answer would then be taken
    // for this request's.
    if (line.resync || port.bytesWaiting() > 0) {
        const std::uint64_t guard = guardMicros(n, responseTimeoutMs);
        if (line.resync)
            drain(n, line.quietSinceMicros, std::max(line.guardMicros, guard));
        else
            drain(n, platform::monotonicMicros(), guard);
        line.resync = false;
        line.guardMicros = 0;
    }
    // Every RTU frame on the line follows 3.5 characters of silence, the
    // receivers' only way to tell where a frame starts. The good path has
    // watched it already at the end of the last answer.
    if (channels_[n].frameType == kFrameRtu) {
        const std::uint64_t quietAt = line.lastByteMicros + line.frameSilenceMicros;
        if (const std::uint64_t now = platform::monotonicMicros(); now < quietAt) {
            platform::sleepMicros(quietAt - now);
            // Bytes in the wait are the same failure as bytes before it.
            if (port.bytesWaiting() > 0) {
                drain(n, platform::monotonicMicros(), guardMicros(n, responseTimeoutMs));
                const std::uint64_t again = line.lastByteMicros + line.frameSilenceMicros;
                if (const std::uint64_t t = platform::monotonicMicros(); t < again)
                    platform::sleepMicros(again - t);
            }
        }
    }
    const ModbusTransaction& tx = channels_[n].transaction;
    if (!port.write(tx.frame.data(), tx.frameLength)) return kPortFailure;
    line.sentMicros = platform::monotonicMicros();
    // write() may return before the frame has left the port.
    line.lastByteMicros = line.sentMicros + std::uint64_t{tx.frameLength} * line.characterMicros;
    return kSuccess;
}

std::uint8_t ModbusMaster::exchange(std::uint8_t n, std::uint16_t responseTimeoutMs) {
    if (n >= kChannelCount) return kChannelUnavailable;
    LinkPort& port = ports_[n];
    ModbusChannel& c = channels_[n];
    ModbusTransaction& tx = c.transaction;

    platform::preciseWaitsOnThisThread();
    lines_[n].sentMicros = 0;
    lines_[n].answerEndMicros = 0;
    if (const std::uint8_t r = send(n, responseTimeoutMs); r != kSuccess) return r;

    tx.frame.fill(0);
    tx.frameLength = 0;
    LineState& line = lines_[n];
    const bool ascii = c.frameType == kFrameAscii;
    const std::uint64_t timeoutMicros = std::uint64_t{responseTimeoutMs} * 1000;
    std::uint64_t start = platform::monotonicMicros();
    // An RTU answer whose length its header gives, complete with a good CRC,
    // needs only the frame silence after it, not the longer inter-character
    // gap of an answer of unknown length. That silence is still watched here,
    // before the answer is taken: a byte in it means the answer was longer
    // than it said, and the receive goes on to fail as any longer frame does.
    bool complete = false;
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
                line.lastByteMicros = start;
                line.answerEndMicros = start;
                if (ascii && endsWithCrLf(tx)) break;
                complete = !ascii && isWholeRtuFrame(tx.frame.data(), tx.frameLength);
                continue;
            }
        }
        const std::uint64_t elapsed = platform::monotonicMicros() - start;
        std::uint64_t limit = 0;
        if (tx.frameLength == 0 || ascii) {
            limit = timeoutMicros;
            if (elapsed > limit) return kNoResponse;
        } else {
            limit = complete ? line.frameSilenceMicros
                             : c.interCharGapMicros.load(std::memory_order_relaxed);
            if (elapsed >= limit) break;
        }
        port.waitReadable(limit - elapsed + 1);
    }
    return checkResponse(c);
}

}  // namespace modbus
