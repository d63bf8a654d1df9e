#pragma once
// Finding drives on a bus whose settings nobody knows: every combination of
// port, baud rate, parity and station is asked for holding register 0, and
// whatever answers is reported. UI-free; runs on the caller's thread (a job
// or a command-line tool) with its own master, so that it never touches the
// program's drive session.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drive {

// Parity codes as LinkSettings and the serial layer take them.
inline constexpr std::uint8_t kParityNone = 0;
inline constexpr std::uint8_t kParityOdd = 1;
inline constexpr std::uint8_t kParityEven = 2;

inline constexpr std::int32_t kLowestStation = 1;
inline constexpr std::int32_t kHighestStation = 247;

struct ScanPlan {
    // "COMn" (mapped as the program maps it) or a device path; kept as given
    // in the hits, so that a connect with the same name reaches the drive.
    std::vector<std::string> ports;
    std::vector<std::uint32_t> baudRates{4800, 9600, 19200, 38400, 57600, 115200};
    std::vector<std::uint8_t> parities{kParityNone, kParityEven, kParityOdd};
    std::int32_t firstStation = kLowestStation;
    std::int32_t lastStation = kHighestStation;
    std::uint16_t timeoutMs = 50;

    std::size_t probeCount() const;
};

// A device that answered.
struct ScanHit {
    std::string port;
    std::uint32_t baudRate = 0;
    std::uint8_t parity = kParityNone;
    std::int32_t station = 0;
    // Holding register 0; absent when the device answered with an exception
    // (it exists, but holds no such register).
    std::optional<std::uint16_t> register0;
    std::uint8_t exceptionCode = 0;
};

struct ScanPortFailure {
    std::string port;
    std::string reason;  // "cannot open /dev/ttyUSB0: Permission denied"
};

struct ScanReport {
    std::vector<ScanHit> hits;  // in the order found
    std::vector<ScanPortFailure> portFailures;
    std::size_t probes = 0;  // requests sent, second looks included
    bool cancelled = false;
};

struct ScanControl {
    // Probes of the plan done, of probeCount(); called on the scanning thread.
    std::function<void(std::size_t done, std::size_t total)> progress;
    // Each hit as it is found, on the scanning thread.
    std::function<void(const ScanHit&)> found;
    // Asked before every probe; true stops the scan with what was found.
    std::function<bool()> cancelled;
};

// Scans the plan: ports one after another, on each port every baud rate and
// parity, on each of those every station. A port that cannot be opened is
// reported and skipped. A station whose answer looks late, garbled or was
// dropped is asked once more with a longer time-out before the next line
// setting, so that a slow drive is still found and nothing is reported on
// the strength of a damaged answer.
ScanReport scanBus(const ScanPlan& plan, const ScanControl& control = {});

// --- Texts of a plan, as servoctl and the Scan dialog take them. Each parser
// gives nothing and sets `problem` when the text cannot be used.

// "4800,9600" (blanks allowed); each one of the six rates of the program.
std::optional<std::vector<std::uint32_t>> parseBaudRates(std::string_view text,
                                                         std::string& problem);
// "N,E,O" in any case and order.
std::optional<std::vector<std::uint8_t>> parseParities(std::string_view text, std::string& problem);
// "1-247", "7" or "3-10"; within 1 to 247.
std::optional<std::pair<std::int32_t, std::int32_t>> parseStationRange(std::string_view text,
                                                                       std::string& problem);
// "COM1, /dev/ttyUSB0"; an empty list is a problem.
std::optional<std::vector<std::string>> parsePortList(std::string_view text, std::string& problem);

// 'N', 'O', 'E' ('?' for another code).
char parityLetter(std::uint8_t parity);
// The line in short: "38400 8E1".
std::string lineText(const ScanHit& hit);
// A file name for the hit's backup, by port and station: "ttyUSB0-st7.dat",
// "COM3-st12.dat"; characters a file name cannot carry become '_'.
std::string backupFileName(const ScanHit& hit);

}  // namespace drive
