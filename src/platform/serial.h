#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Line settings with the Win32 DCB codes: stop bits 0 = one, 1 = one and a
// half, 2 = two; parity 0 = none, 1 = odd, 2 = even, 3 = mark, 4 = space.
struct SerialLineSettings {
    std::uint32_t baudRate = 115200;
    std::uint8_t dataBits = 8;
    std::uint8_t stopBits = 0;
    std::uint8_t parity = 0;
};

// The Win32 COMMTIMEOUTS, in milliseconds. On POSIX only the write fields are
// used: they bound how long a write may wait for room in the output queue.
struct SerialTimeouts {
    std::uint32_t readIntervalMs = 0;
    std::uint32_t readTotalMultiplierMs = 0;
    std::uint32_t readTotalConstantMs = 0;
    std::uint32_t writeTotalMultiplierMs = 0;
    std::uint32_t writeTotalConstantMs = 0;
};

// The device that "COMn" (n from 1) stands for: the environment variable
// SERVO_COMn if set and not empty, else a "COMn=device" line of ports.cfg
// beside the executable, else the system's default for COMn
// (/dev/ttyS(n-1) on POSIX, \\.\COMn on Windows).
std::string comDevicePath(unsigned n);

// The system's default device for COMn, without overrides.
std::string defaultComDevicePath(unsigned n);

// The device given for COMn in the text of a ports.cfg: lines "COMn=device",
// the name compared without regard to case, blanks around both sides
// ignored, '#' or ';' starting a comment line. The first matching line wins.
std::optional<std::string> findPortInConfig(std::string_view configText, unsigned n);

// The device for COMn from a ports.cfg file, or nothing when the file cannot
// be read or has no line for COMn.
std::optional<std::string> findPortInConfigFile(const std::filesystem::path& file, unsigned n);

// One serial port, opened exclusively (no other program may hold it at the
// same time). All calls return at once except waitReadable and write.
// Not thread-safe: the owner serialises calls.
class SerialPort {
  public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the device for reading and writing; an open port is closed first.
    // False when the device is missing, not a serial device, busy or not
    // permitted; lastError() then tells why.
    bool open(const std::string& devicePath);
    // Raw binary line with the given settings, no flow control, DTR and RTS
    // off. False (lastError() set) when the device refuses the settings.
    bool configure(const SerialLineSettings& settings);
    bool setTimeouts(const SerialTimeouts& timeouts);
    // Discards the bytes waiting in both directions.
    bool purge();
    void close();
    bool isOpen() const { return handle_ != kInvalidHandle; }

    // Received bytes ready to be read without waiting; 0 on error.
    std::size_t bytesWaiting();
    // Reads up to capacity waiting bytes without waiting; 0 when none or on
    // error.
    std::size_t read(std::uint8_t* buffer, std::size_t capacity);
    // Writes all bytes; false when the port fails or does not take them all
    // within the write time-outs.
    bool write(const std::uint8_t* data, std::size_t count);
    // Blocks until received bytes are ready or timeoutMicros have passed,
    // whichever comes first, without using the processor meanwhile. True when
    // bytes are ready. A port that has failed (device gone) waits the full time
    // and returns false, so that callers see silence rather than spin.
    bool waitReadable(std::uint64_t timeoutMicros);

    // The device of the last open, successful or not.
    const std::string& devicePath() const { return path_; }
    // The last failure in words, e.g. "cannot open /dev/ttyUSB0: Permission
    // denied"; empty when the last open succeeded and nothing failed since.
    const std::string& lastError() const { return error_; }

  private:
    static constexpr std::intptr_t kInvalidHandle = -1;  // also INVALID_HANDLE_VALUE

    void fail(std::string_view what, const std::string& reason);

    std::intptr_t handle_ = kInvalidHandle;  // file descriptor or HANDLE
    std::string path_;
    std::string error_;
    SerialTimeouts timeouts_{};
    // Win32 only: a byte taken by waitReadable, handed out first by read, and
    // the read time-out currently set on the device for waiting.
    int pendingByte_ = -1;
    std::uint32_t waitTimeoutMs_ = 0;
    // Win32 only: a named mutex held while the port is open, so that the
    // program's instances refuse each other's port also where the system does
    // not enforce the open without sharing (Wine); 0 when none.
    std::intptr_t portLock_ = 0;
};

}  // namespace platform
