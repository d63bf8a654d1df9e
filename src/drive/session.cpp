#include "drive/session.h"

#include <array>

#include "modbus/result.h"

namespace drive {
namespace {

std::uint32_t packTiming(const RequestTiming& t) {
    return std::uint32_t{t.responseTimeoutMs} << 8 | t.retries;
}

RequestTiming unpackTiming(std::uint32_t word) {
    return RequestTiming{static_cast<std::uint16_t>(word >> 8),
                         static_cast<std::uint8_t>(word & 0xFF)};
}

Error errorOf(modbus::Outcome outcome, bool write) {
    using modbus::Outcome;
    switch (outcome) {
        case Outcome::ok:
            return Error::none;
        case Outcome::noAnswer:
            return write ? Error::writeUnconfirmed : Error::noAnswer;
        case Outcome::badChecksum:
            return Error::badChecksum;
        case Outcome::exception:
            return Error::refused;
        case Outcome::wrongStation:
            return Error::wrongStation;
        case Outcome::malformed:
            return Error::malformed;
        case Outcome::mismatch:
            return Error::mismatch;
        case Outcome::portFailure:
            return Error::portFailure;
        case Outcome::portUnavailable:
            return Error::portUnavailable;
        case Outcome::connectionLost:
            return Error::connectionLost;
        case Outcome::channelUnavailable:
            return Error::channelUnavailable;
        case Outcome::broadcastSent:
            return Error::broadcastSent;
        case Outcome::broadcastRead:
            return Error::channelUnavailable;
    }
    return Error::malformed;
}

}  // namespace

DriveSession::DriveSession(modbus::DriveAccess& access) : access_(access) {}

DriveSession::~DriveSession() {
    if (connected()) disconnect();
}

Result DriveSession::connect(const LinkSettings& settings) {
    // Modbus stations are 1 to 247; 0 addresses all of them (writes only).
    if (settings.station < 0 || settings.station > 247)
        return Result::failure(Error::badValue, "station " + std::to_string(settings.station) +
                                                    " is outside 0 to 247");
    std::lock_guard lock(mutex_);
    if (snapshot_.connected) {
        // The old link goes first: disabled, then closed.
        connected_.store(false, std::memory_order_release);
        const modbus::DriveLink old = access_.currentLink();
        access_.selectDrive(old.channel, old.station, old.frameType, false);
        access_.closeLink(snapshot_.settings.channel);
        snapshot_.connected = false;
    }
    if (Result r = open(settings); !r) return r;
    snapshot_.settings = settings;
    snapshot_.device = access_.master().portDevice(settings.channel);
    snapshot_.connected = true;
    snapshot_.faultCode = kFaultProbe;
    snapshot_.generation = generation_.load(std::memory_order_relaxed) + 1;
    // The fault code and generation are in place before `connected` is
    // released, so a reader that acquires connected == true sees them.
    faultCode_.store(kFaultProbe, std::memory_order_release);
    epoch_.fetch_add(1, std::memory_order_acq_rel);
    generation_.store(snapshot_.generation, std::memory_order_release);
    connected_.store(true, std::memory_order_release);
    return {};
}

Result DriveSession::open(const LinkSettings& settings) {
    // The channel's own timing is the link's normal one; every request of the
    // session passes its timing explicitly as well, so nothing changes it
    // later. Set before the open: a gateway's connect is bounded by it.
    access_.setLinkTiming(settings.channel, settings.timing.responseTimeoutMs,
                          settings.timing.retries);
    const std::uint8_t opened =
        settings.device.empty()
            ? access_.openLink(settings.channel, settings.baudRate, settings.dataBits,
                               settings.stopBits, settings.parity)
            : access_.openLinkAt(settings.channel, settings.device, settings.baudRate,
                                 settings.dataBits, settings.stopBits, settings.parity);
    if (opened != modbus::kLinkSuccess) {
        Result r;
        r.station = settings.station;
        switch (opened) {
            case modbus::kLinkBadChannel:
                r.error = Error::channelUnavailable;
                r.detail = "no serial channel " + std::to_string(settings.channel);
                break;
            case modbus::kLinkPortUnavailable:
                r.error = Error::portUnavailable;
                r.detail = access_.linkError(settings.channel);
                break;
            default:
                r.error = Error::portFailure;
                r.detail = access_.linkError(settings.channel);
                break;
        }
        return r;
    }
    timing_.store(packTiming(settings.timing), std::memory_order_release);
    access_.selectDrive(settings.channel, settings.station, settings.frameType, true);
    return {};
}

Result DriveSession::reopen(std::uint64_t generation) {
    std::lock_guard lock(mutex_);
    if (!snapshot_.connected || snapshot_.generation != generation)
        return Result::failure(Error::notConnected);
    // Requests that start meanwhile are refused; closing waits for the run in
    // progress, which fails quickly on a port that has gone.
    const modbus::DriveLink link = access_.currentLink();
    access_.selectDrive(link.channel, link.station, link.frameType, false);
    access_.closeLink(snapshot_.settings.channel);
    faultCode_.store(kFaultProbe, std::memory_order_release);
    epoch_.fetch_add(1, std::memory_order_acq_rel);
    Result r = open(snapshot_.settings);
    if (r) snapshot_.device = access_.master().portDevice(snapshot_.settings.channel);
    return r;
}

void DriveSession::disconnect() {
    std::lock_guard lock(mutex_);
    if (!snapshot_.connected) return;
    connected_.store(false, std::memory_order_release);
    // New requests are refused from here on (the access layer's link word);
    // closing waits for a run still in progress on the channel.
    const modbus::DriveLink link = access_.currentLink();
    access_.selectDrive(link.channel, link.station, link.frameType, false);
    access_.closeLink(snapshot_.settings.channel);
    snapshot_.connected = false;
    snapshot_.faultCode = 0;
    faultCode_.store(0, std::memory_order_release);
    epoch_.fetch_add(1, std::memory_order_acq_rel);
    // A result of the closed link that arrives late belongs to no generation.
    generation_.store(snapshot_.generation + 1, std::memory_order_release);
    snapshot_.generation += 1;
}

LinkSnapshot DriveSession::snapshot() const {
    std::lock_guard lock(mutex_);
    LinkSnapshot s = snapshot_;
    s.faultCode = faultCode_.load(std::memory_order_acquire);
    return s;
}

void DriveSession::noteFault(std::uint64_t generation, std::uint8_t code) {
    std::lock_guard lock(mutex_);
    if (!snapshot_.connected || snapshot_.generation != generation) return;
    // The epoch moves before the fault shows, so that a reader that sees the
    // link healthy again also sees the new epoch.
    if (code != 0 && faultCode_.load(std::memory_order_relaxed) == 0)
        epoch_.fetch_add(1, std::memory_order_acq_rel);
    faultCode_.store(code, std::memory_order_release);
}

RequestTiming DriveSession::timing() const {
    return unpackTiming(timing_.load(std::memory_order_acquire));
}

Result DriveSession::probe() {
    const std::uint64_t generation = this->generation();
    std::array<std::uint8_t, 2> scratch{};
    Result r = readRegisters(0, scratch);
    noteFault(generation, r.accessCode());
    return r;
}

Result DriveSession::finish(std::uint8_t accessCode, const modbus::RunReport& report,
                            std::uint16_t address, bool write, const RequestTiming& timing) const {
    Result r;
    r.write = write;
    r.address = address;
    r.timeoutMs = timing.responseTimeoutMs;
    r.attempts = report.attempts;
    r.station = report.station;
    if (accessCode == modbus::kAccessSuccess && report.outcome == modbus::Outcome::ok) return r;
    if (accessCode == modbus::kAccessNoLink) {
        r.error = Error::notConnected;
        return r;
    }
    r.error = errorOf(report.outcome, write);
    r.exceptionCode = report.exceptionCode;
    if (report.responseTimeoutMs != 0) r.timeoutMs = report.responseTimeoutMs;
    // A long run is split into several requests: name the one that failed.
    if (report.attempts > 0) r.address = report.failedAddress;
    if (report.outcome == modbus::Outcome::broadcastRead)
        r.detail = "a read from station 0 (all stations) has no answer";
    if (r.error == Error::channelUnavailable && !connected()) r.error = Error::notConnected;
    if (r.error == Error::portFailure || r.error == Error::portUnavailable ||
        r.error == Error::connectionLost)
        r.detail = access_.linkError(snapshot().settings.channel);
    return r;
}

Result DriveSession::readRegisters(std::uint16_t address, std::span<std::uint8_t> bytes) {
    return readRegisters(address, bytes, timing());
}

Result DriveSession::readRegisters(std::uint16_t address, std::span<std::uint8_t> bytes,
                                   const RequestTiming& timing) {
    modbus::RunReport report{};
    const std::uint8_t code = access_.readRegisters(
        address, bytes.data(), static_cast<std::uint32_t>(bytes.size()), timing, &report);
    return finish(code, report, address, false, timing);
}

Result DriveSession::writeRegisters(std::uint16_t address, std::span<const std::uint8_t> bytes) {
    return writeRegisters(address, bytes, timing());
}

Result DriveSession::writeRegisters(std::uint16_t address, std::span<const std::uint8_t> bytes,
                                    const RequestTiming& timing) {
    // Counted before the request goes out: a read that starts after this
    // point is the first that can see the written value.
    writeSequence_.fetch_add(1, std::memory_order_acq_rel);
    modbus::RunReport report{};
    const std::uint8_t code = access_.writeRegisters(
        address, bytes.data(), static_cast<std::uint32_t>(bytes.size()), timing, &report);
    writesDone_.fetch_add(1, std::memory_order_acq_rel);
    return finish(code, report, address, true, timing);
}

Result DriveSession::readCoils(std::uint16_t address, std::span<std::uint8_t> states) {
    const RequestTiming t = timing();
    modbus::RunReport report{};
    const std::uint8_t code = access_.readCoils(
        address, states.data(), static_cast<std::uint32_t>(states.size()), t, &report);
    return finish(code, report, address, false, t);
}

Result DriveSession::writeCoils(std::uint16_t address, std::span<const std::uint8_t> states) {
    const RequestTiming t = timing();
    modbus::RunReport report{};
    const std::uint8_t code = access_.writeCoils(
        address, states.data(), static_cast<std::uint32_t>(states.size()), t, &report);
    return finish(code, report, address, true, t);
}

Result DriveSession::readInputs(std::uint16_t address, std::span<std::uint8_t> states) {
    const RequestTiming t = timing();
    modbus::RunReport report{};
    const std::uint8_t code = access_.readInputs(
        address, states.data(), static_cast<std::uint32_t>(states.size()), t, &report);
    return finish(code, report, address, false, t);
}

}  // namespace drive
