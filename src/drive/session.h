#pragma once
// Threads of the drive layer: who owns what.
//
// - The user interface thread owns the DriveSession's connect and disconnect,
//   the services' configuration (ScopeAcquisition::setChannel, ...), and the
//   JobRunner object (start, cancel, wait). It never waits on the link except
//   in connect/disconnect, which wait for an open or for the end of the run
//   in progress; a job's run can be a long EEPROM store, so the owner does
//   not connect or disconnect while a job runs.
// - The poll thread runs DriveSession::probe, StatusService::poll,
//   ParameterService::readAll and ScopeAcquisition::acquire, one at a time.
// - The job thread (JobRunner) runs one long operation at a time: the
//   ParameterService bulk operations, the EEPROM stores, backups.
// - Any thread may send single requests through the session; the master's
//   channel lock orders whole runs first come, first served, so the poll
//   thread and a job share the link fairly and neither starves.
// - The link's state is one snapshot under the session's mutex; `connected`,
//   the generation and the fault code are also atomic words published with
//   release and read with acquire, so a reader that sees a new generation sees
//   the link that belongs to it.
// - Time-out and retries travel with each request (modbus::RequestTiming);
//   nothing changes the channel's timing while another thread may use it.
// - Values in the language tables (driveValue, StatusItem::value, ...) are
//   stored whole by the thread that read them from the drive (the poll
//   thread, or a job's read) and read whole by the user interface thread; the
//   ParameterService keeps its own copy of a complete read under its lock for
//   backups.
// - Every request goes through the session (not through access()), so that
//   the write count that dates the parameter reads sees every write.
// - Lifetimes: the access layer outlives the session, the session outlives
//   the services, and the services outlive the JobRunner whose jobs use
//   them (the runner joins its thread in its destructor).
#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "drive/result.h"
#include "modbus/channel.h"
#include "modbus/drive_access.h"
#include "modbus/master.h"

namespace drive {

using modbus::RequestTiming;

// The link's normal timing from a connect on: 200 ms, 5 retries (6 tries).
inline constexpr RequestTiming kLinkTiming{200, 5};

// What connect opens.
struct LinkSettings {
    std::uint8_t channel = 0;  // 0 to 5 = COM1 to COM6 (the master's channel)
    // Empty: the channel's COM port. Else a serial device, or a gateway
    // "tcp://HOST:PORT" / "rtu+tcp://HOST:PORT" (modbus/network_port.h).
    std::string device;
    std::uint32_t baudRate = 115200;
    std::uint8_t dataBits = 8;
    std::uint8_t stopBits = 0;  // Win32 DCB code: 0 = one stop bit
    std::uint8_t parity = 0;    // 0 = none
    std::int32_t station = 1;
    std::uint8_t frameType = modbus::kFrameRtu;
    RequestTiming timing = kLinkTiming;
};

// The link as one consistent picture.
struct LinkSnapshot {
    bool connected = false;
    LinkSettings settings;
    std::string device;  // the device actually opened
    // 0 while the last poll succeeded, else its legacy access code; a fresh
    // connection starts at kFaultProbe so that the poll loop probes first.
    std::uint8_t faultCode = 0;
    // Counts connects: work done under one generation is stale in the next.
    std::uint64_t generation = 0;
};

inline constexpr std::uint8_t kFaultProbe = 3;

// The one drive link of the program, over the access layer.
class DriveSession {
  public:
    explicit DriveSession(modbus::DriveAccess& access);
    ~DriveSession();
    DriveSession(const DriveSession&) = delete;
    DriveSession& operator=(const DriveSession&) = delete;

    // Opens the port, sets the link's timing and enables the drive; then
    // publishes the new generation with fault code kFaultProbe. A session that
    // is connected is disconnected first. Failure: portUnavailable (detail
    // "cannot open DEVICE: REASON"), portFailure or channelUnavailable; a
    // station outside 0 to 247 is refused (badValue) before anything opens.
    Result connect(const LinkSettings& settings);
    // Disables the drive (new requests are refused at once), then closes the
    // port, which waits for a run still in progress. No sleeping.
    void disconnect();

    LinkSnapshot snapshot() const;
    bool connected() const { return connected_.load(std::memory_order_acquire); }
    std::uint64_t generation() const { return generation_.load(std::memory_order_acquire); }
    std::uint8_t faultCode() const { return faultCode_.load(std::memory_order_acquire); }
    // Connected and no fault flagged.
    bool healthy() const { return connected() && faultCode() == 0; }
    // Stores the poll's result as the fault code, unless the link has been
    // reconnected or closed since `generation` (a stale result is dropped).
    void noteFault(std::uint64_t generation, std::uint8_t code);
    // Counts the events after which values read earlier are stale: connects,
    // disconnects, reopens and each change from healthy to faulty. A value
    // read wholly within one epoch is current while the epoch stays and the
    // link is healthy.
    std::uint64_t epoch() const { return epoch_.load(std::memory_order_acquire); }

    // Closes and opens the port again with the same settings, after the port
    // failed or went away (a USB adapter unplugged and plugged in again). Does
    // nothing unless still connected under `generation`; the fault stays
    // flagged (kFaultProbe on success) so that a probe confirms the drive.
    // Poll thread; the open does not block.
    Result reopen(std::uint64_t generation);
    // The link's normal timing.
    RequestTiming timing() const;

    // Reads holding register 0 (the value is not used) and stores the result
    // as the fault code. Poll thread.
    Result probe();

    // Requests on the drive with the link's timing, or the one given. Byte
    // layouts as modbus::DriveAccess: registers 2 bytes each little-endian,
    // coils and inputs one byte per point.
    Result readRegisters(std::uint16_t address, std::span<std::uint8_t> bytes);
    Result readRegisters(std::uint16_t address, std::span<std::uint8_t> bytes,
                         const RequestTiming& timing);
    Result writeRegisters(std::uint16_t address, std::span<const std::uint8_t> bytes);
    Result writeRegisters(std::uint16_t address, std::span<const std::uint8_t> bytes,
                          const RequestTiming& timing);
    Result readCoils(std::uint16_t address, std::span<std::uint8_t> states);
    Result writeCoils(std::uint16_t address, std::span<const std::uint8_t> states);
    Result readInputs(std::uint16_t address, std::span<std::uint8_t> states);

    // Counts register writes sent (or attempted) through the session: a read
    // that began before the last write may not hold what the drive holds.
    std::uint64_t writeSequence() const { return writeSequence_.load(std::memory_order_acquire); }
    // True while a register write is on its way (counted, not yet answered):
    // a read that starts then may see the drive before or after it.
    bool writeInProgress() const {
        return writesDone_.load(std::memory_order_acquire) != writeSequence();
    }

    // The access layer, for what the session does not cover (the channel's
    // port names); requests go through the session.
    modbus::DriveAccess& access() { return access_; }

  private:
    // Opens the port of `settings` and enables the drive on it; mutex_ held.
    Result open(const LinkSettings& settings);
    Result finish(std::uint8_t accessCode, const modbus::RunReport& report, std::uint16_t address,
                  bool write, const RequestTiming& timing) const;

    modbus::DriveAccess& access_;
    mutable std::mutex mutex_;  // snapshot_, and connect/disconnect as a whole
    LinkSnapshot snapshot_;
    std::atomic<bool> connected_{false};
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<std::uint8_t> faultCode_{0};
    std::atomic<std::uint64_t> epoch_{0};
    std::atomic<std::uint64_t> writeSequence_{0};
    std::atomic<std::uint64_t> writesDone_{0};
    // The link's normal timing, packed (timeout << 8 | retries).
    std::atomic<std::uint32_t> timing_{std::uint32_t{kLinkTiming.responseTimeoutMs} << 8 |
                                       kLinkTiming.retries};
};

}  // namespace drive
