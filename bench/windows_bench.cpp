// Reads 12 holding registers back to back through our master, as modbus_bench
// does on Linux, and prints the median transaction time, the physical limit of
// the line, and the CPU time of the polling thread and of the whole process
// over wall time. Built for Windows by the windows preset and run under Wine
// against servo-sim through COM1 by bench/windows_bench.py; it builds natively
// as well, for the same measurement on the POSIX serial path.
//
//   windows_bench [PORT [COUNT]]     PORT: COMn (default COM1) or a device path
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <time.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "platform/clock.h"

namespace {

constexpr unsigned kBaud = 115200;
constexpr int kRegisters = 12;

#ifdef _WIN32
double seconds(const FILETIME& kernel, const FILETIME& user) {
    auto ticks = [](const FILETIME& f) {
        return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;
}
double threadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    return seconds(kernel, user);
}
double processCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return seconds(kernel, user);
}
#else
double clockSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
double threadCpuSeconds() {
    return clockSeconds(CLOCK_THREAD_CPUTIME_ID);
}
double processCpuSeconds() {
    return clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
}
#endif

double wallSeconds() {
    return static_cast<double>(platform::monotonicMicros()) * 1e-6;
}

// Wire time of n bytes at 10 bits per byte (8N1).
double wireMs(int bytes) {
    return bytes * 10.0 * 1000.0 / kBaud;
}

// "COM3" -> 3; anything else -> 0.
unsigned comNumber(const std::string& port) {
    if (port.size() < 4 || port.compare(0, 3, "COM") != 0) return 0;
    return static_cast<unsigned>(std::atoi(port.c_str() + 3));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string port = argc > 1 ? argv[1] : "COM1";
    const int count = argc > 2 ? std::atoi(argv[2]) : 300;
    if (count < 1) {
        std::fprintf(stderr, "windows_bench: COUNT must be at least 1\n");
        return 2;
    }

    modbus::ModbusMaster master;
    modbus::DriveAccess access(master);
    master.resetMaster();
    const unsigned com = comNumber(port);
    const std::uint8_t opened =
        com >= 1 && com <= modbus::kChannelCount
            ? access.openLink(static_cast<std::uint8_t>(com - 1), kBaud, 8, 0, 0)
            : access.openLinkAt(0, port, kBaud, 8, 0, 0);
    const std::uint8_t channel = com >= 1 && com <= modbus::kChannelCount
                                     ? static_cast<std::uint8_t>(com - 1)
                                     : std::uint8_t{0};
    if (opened != 0) {
        std::fprintf(stderr, "windows_bench: cannot open %s: %s\n", port.c_str(),
                     access.linkError(channel).c_str());
        return 7;
    }
    access.setLinkTiming(channel, 200, 5);
    access.selectDrive(channel, 1, modbus::kFrameRtu, true);
    const double gapMs = master.channel(channel).interCharGapMicros.load() / 1000.0;
    // Request and response on the wire, the simulator's t3.5 and our gap.
    const double limitMs = wireMs(8) + wireMs(5 + 2 * kRegisters) + 1.75 + gapMs;

    std::uint8_t buffer[2 * kRegisters];
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(count));
    int failures = 0;
    const double thread0 = threadCpuSeconds();
    const double process0 = processCpuSeconds();
    const double wall0 = wallSeconds();
    for (int i = 0; i < count; ++i) {
        const double t0 = wallSeconds();
        failures += access.readRegisters(0, buffer, sizeof buffer) != 0;
        samples.push_back((wallSeconds() - t0) * 1000.0);
    }
    const double wall = wallSeconds() - wall0;
    const double threadCpu = threadCpuSeconds() - thread0;
    const double processCpu = processCpuSeconds() - process0;
    access.closeLink(channel);

    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) {
        return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))];
    };
    std::printf("reads %d failures %d\n", count, failures);
    std::printf("median_ms %.3f p10_ms %.3f p90_ms %.3f max_ms %.3f\n", at(0.5), at(0.1), at(0.9),
                samples.back());
    std::printf("limit_ms %.3f ratio %.3f\n", limitMs, at(0.5) / limitMs);
    std::printf("wall_s %.3f thread_cpu_pct %.2f process_cpu_pct %.2f\n", wall,
                100.0 * threadCpu / wall, 100.0 * processCpu / wall);
    return failures == 0 ? 0 : 1;
}
