#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "modbus/channel.h"
#include "modbus/link_port.h"
#include "modbus/result.h"
#include "modbus/transaction_log.h"
#include "platform/serial.h"

namespace modbus {

// Time-out and retries of one run, given with the run and never stored in
// the channel, so that two threads on one channel need not agree on them.
struct RequestTiming {
    std::uint16_t responseTimeoutMs;
    std::uint8_t retries;  // attempts after the first
    // Only for a caller whose next request on the channel addresses another
    // station (a bus scan): a failed attempt without any answer then leaves
    // no guard silence. A late answer to it carries its own station, so the
    // next request's station check refuses it instead of taking it for its
    // own answer; the caller sees the wrong station and can act on it.
    bool nextStationDiffers = false;
};

// What a run did, for a message that names the cause.
struct RunReport {
    std::uint8_t result = kSuccess;  // the code the run returned
    Outcome outcome = Outcome::ok;
    // The drive's exception code when the last answer was an exception
    // response, else 0.
    std::uint8_t exceptionCode = 0;
    // Attempts of the last request sent (1 + retries used).
    std::uint8_t attempts = 0;
    std::uint16_t responseTimeoutMs = 0;
    std::int32_t station = 0;
    std::uint8_t functionCode = 0;
    // Start address of the request that failed (of the last one on success).
    std::uint16_t failedAddress = 0;
    bool write = false;
};

// The channel lock: one holder at a time, waiters served in arrival order, so
// that a thread that runs request after request cannot starve another.
// Meets BasicLockable.
class ChannelLock {
  public:
    void lock();
    void unlock();
    // Threads waiting for the lock (not counting the holder); for tests.
    std::uint64_t waiting();

  private:
    std::mutex mutex_;
    std::condition_variable turn_;
    std::uint64_t nextTicket_ = 0;
    std::uint64_t nowServing_ = 0;
};

// The least time a gateway is given to accept a connection.
inline constexpr std::uint32_t kConnectTimeoutMinMs = 1000;

// The Modbus master: eight channels, each a port (serial, or a gateway on the
// network) with its lock.
// Every operation returns a result code (modbus/result.h).
//
// Threads: any thread may run readItems and writeItems; runs on one channel
// follow one another whole. A run given a RequestTiming uses only that; the
// others take the channel's timing once, at their start (setChannelTiming
// takes no lock). Opening and closing a channel wait for the
// run in progress on it to end, so that no run uses a port being closed.
class ModbusMaster {
  public:
    ModbusMaster() = default;
    ~ModbusMaster();
    ModbusMaster(const ModbusMaster&) = delete;
    ModbusMaster& operator=(const ModbusMaster&) = delete;

    // Every channel to its reset state (closed, time-out 2000 ms, 3 retries,
    // gap 3000 us); open ports are closed.
    void resetMaster();

    // Opens channel n on the port "COM(n+1)" (platform::comDevicePath) with
    // the given line settings (stop-bit and parity codes of the Win32 DCB).
    // 0; 225 channel 8 or more; 6 port cannot be opened; 4 the port refused
    // the settings or time-outs (the port is released again). A channel that
    // is already open is closed first, so a failed reopen leaves it closed.
    std::uint8_t openSerialChannel(std::uint8_t channel, std::uint32_t baudRate,
                                   std::uint8_t dataBits, std::uint8_t stopBits,
                                   std::uint8_t parity);
    // The same on an explicit device ("/dev/ttyUSB0", "/dev/pts/5", "\\.\COM12"),
    // or a gateway: "tcp://HOST:PORT" (Modbus TCP) or "rtu+tcp://HOST:PORT"
    // (modbus/network_port.h). A gateway is connected within the channel's
    // response time-out times its attempts (at least kConnectTimeoutMinMs);
    // the line settings give only the guard's character time. A connection
    // that ends fails the run in progress (Outcome::connectionLost) and is
    // made anew by the next request.
    std::uint8_t openSerialChannelAt(std::uint8_t channel, const std::string& devicePath,
                                     std::uint32_t baudRate, std::uint8_t dataBits,
                                     std::uint8_t stopBits, std::uint8_t parity);
    // 0; 225 channel 8 or more; 4 channel not open.
    std::uint8_t closeChannel(std::uint8_t channel);
    // For a process that ends after it closes the port: when the last attempt
    // failed, or unasked bytes are waiting, waits out the guard silence, so
    // that a late answer ends here instead of reaching whoever opens the port
    // next, who would take it for the answer to a request of the same length.
    // Blocks up to the failed request's time-out plus its answer's frame
    // time: never call it on a user interface thread.
    // 0; 225 channel 8 or more; 4 channel not open.
    std::uint8_t awaitQuietLine(std::uint8_t channel);
    // awaitQuietLine, then closeChannel as one step.
    std::uint8_t closeChannelWhenQuiet(std::uint8_t channel);
    // Listens until the line has been silent for windowMicros since
    // sinceMicros (platform::monotonicMicros) or the last byte after it,
    // dropping what comes: answers still on their way to requests that timed
    // out without a guard (RequestTiming::nextStationDiffers). Returns the
    // bytes dropped; 0 also for a channel that is not open. Blocks: never on
    // a user interface thread.
    std::uint64_t awaitLateAnswers(std::uint8_t channel, std::uint64_t sinceMicros,
                                   std::uint64_t windowMicros);
    // 1 when stored, 0 for channel 8 or more.
    std::uint8_t setChannelTiming(std::uint8_t channel, std::uint16_t responseTimeoutMs,
                                  std::uint8_t retries);

    // Reads a run of bits or registers from station `connection`. The
    // selector (modbus/request.h) gives data kind, table and frame type; count
    // is bits, or bytes for registers (rounded up to whole registers).
    // destination must hold the whole run: the packed bits, or 2 bytes per
    // register, little-endian. On failure the requests before the failing one
    // have stored their data.
    std::uint8_t readItems(std::uint8_t channel, std::int32_t connection,
                           std::uint16_t startAddress, std::uint8_t* destination,
                           std::uint32_t count, std::uint32_t selector);
    // Writes a run from source (same layout; selector byte 1 not used).
    std::uint8_t writeItems(std::uint8_t channel, std::int32_t connection,
                            std::uint16_t startAddress, const std::uint8_t* source,
                            std::uint32_t count, std::uint32_t selector);

    // The same with this run's own timing; report (when not null) receives
    // the cause. Station 0 is a broadcast: a write is sent once, no answer
    // awaited, and reported as Outcome::broadcastSent with result 0; a read
    // is refused (225, Outcome::broadcastRead).
    std::uint8_t readItems(std::uint8_t channel, std::int32_t connection,
                           std::uint16_t startAddress, std::uint8_t* destination,
                           std::uint32_t count, std::uint32_t selector, const RequestTiming& timing,
                           RunReport* report = nullptr);
    std::uint8_t writeItems(std::uint8_t channel, std::int32_t connection,
                            std::uint16_t startAddress, const std::uint8_t* source,
                            std::uint32_t count, std::uint32_t selector,
                            const RequestTiming& timing, RunReport* report = nullptr);

    // The channel's stored timing (as setChannelTiming left it).
    RequestTiming channelTiming(std::uint8_t channel) const;

    // The channel record, for display and tests; only the atomic fields may be
    // read while a run may be in progress.
    const ModbusChannel& channel(std::uint8_t n) const { return channels_[n % kChannelCount]; }

    // Every attempt from now on is reported to observer (nullptr: none).
    // Takes each channel's lock in turn, so that once it returns no run still
    // reports to the observer it replaced.
    void setObserver(TransactionObserver* observer);

    // Bytes dropped by the guard since the channel was opened (answers that
    // came too late or unasked, noise); for diagnostics and tests.
    std::uint64_t discardedBytes(std::uint8_t channel);

    // The device of the channel's last open and its last port failure in
    // words ("cannot open /dev/ttyUSB0: Permission denied"); empty when none.
    std::string portDevice(std::uint8_t channel);
    std::string portError(std::uint8_t channel);

  private:
    struct RequestCopy {
        std::array<std::uint8_t, kRequestCopySize> bytes{};
        std::uint16_t length = 0;
    };

    std::uint8_t openLocked(std::uint8_t channel, const std::string& devicePath,
                            std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t stopBits,
                            std::uint8_t parity);
    void closeLocked(std::uint8_t channel);
    std::uint8_t awaitQuietLocked(std::uint8_t channel);
    void resetChannelLocked(std::uint8_t channel);
    // One request with its retries; the channel lock is held.
    std::uint8_t runRequest(std::uint8_t channel, std::uint8_t frameType,
                            std::uint8_t* readDestination, bool isWrite,
                            const RequestTiming& timing, RunReport& report);
    // Sends the framed request and receives the response into the frame area;
    // the channel lock is held.
    std::uint8_t exchange(std::uint8_t channel, std::uint16_t responseTimeoutMs);
    // Writes the framed request once the line is known to carry no answer to
    // an earlier one; the channel lock is held.
    std::uint8_t send(std::uint8_t channel, std::uint16_t responseTimeoutMs);
    // Reports the attempt that just ended to the observer, if any; the
    // channel lock is held. data: what the attempt carried or received.
    void notify(std::uint8_t channel, const RunReport& report, const std::uint8_t* data,
                std::size_t dataBytes);
    // Reads and drops bytes until the line has been silent for guardMicros
    // since `since` or the last byte after it.
    void drain(std::uint8_t channel, std::uint64_t since, std::uint64_t guardMicros);
    // The guard of the channel's current request (see master.cpp).
    std::uint64_t guardMicros(std::uint8_t channel, std::uint16_t lateByMs) const;

    // Line state of a channel beside its record; belongs to the lock holder.
    struct LineState {
        std::uint32_t characterMicros = 0;  // one character on the wire
        // The silence that separates RTU frames: 3.5 characters, 1750 us
        // above 19200 bit/s.
        std::uint32_t frameSilenceMicros = 0;
        // When the last byte on the line was seen (received, or our request
        // written); RTU requests keep frameSilenceMicros of silence after it.
        std::uint64_t lastByteMicros = 0;
        // The current attempt: its request written, its answer's last byte.
        std::uint64_t sentMicros = 0;
        std::uint64_t answerEndMicros = 0;
        // No request goes out before this time (monotonicMicros).
        std::uint64_t notBeforeMicros = 0;
        // Set by a failed attempt: an answer may still be on its way, so the
        // next request first waits for guardMicros of silence counted from
        // quietSinceMicros or the last byte after it.
        bool resync = false;
        std::uint64_t quietSinceMicros = 0;
        std::uint64_t guardMicros = 0;
        std::uint64_t discardedBytes = 0;
        std::uint32_t link = 0;  // the open this state belongs to
        TransactionCounts counts;
    };

    std::array<ModbusChannel, kChannelCount> channels_;
    std::array<LineState, kChannelCount> lines_;
    std::array<LinkPort, kChannelCount> ports_;
    std::array<ChannelLock, kChannelCount> locks_;
    std::array<RequestCopy, kChannelCount> requestCopies_;
    std::atomic<TransactionObserver*> observer_{nullptr};
    std::atomic<std::uint32_t> opens_{0};
};

}  // namespace modbus
