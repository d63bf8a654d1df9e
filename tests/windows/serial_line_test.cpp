// The Win32 serial port on a live line: COM1 mapped by Wine to the
// pseudo-terminal of a Linux servo-sim (station 1, 115200 bit/s), which
// wine_link_test.py starts before it runs this program.
//
// SerialLineVanish needs the driver's help: it writes "opened" into
// SERVO_TEST_HANDSHAKE_DIR, the driver ends the simulator and answers with
// "vanished".
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "modbus/crc.h"
#include "platform/clock.h"
#include "platform/program_dir.h"
#include "platform/serial.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kPort = "COM1";
constexpr const char* kDevice = "\\\\.\\COM1";

std::uint64_t threadCpuMicros() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto micros = [](const FILETIME& f) {
        return ((static_cast<std::uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 10;
    };
    return micros(kernel) + micros(user);
}

std::vector<std::uint8_t> withCrc(std::vector<std::uint8_t> frame) {
    const std::uint16_t crc = modbus::modbusCrc16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

// Read holding registers (function 3) of a station.
std::vector<std::uint8_t> readRequest(std::uint8_t station, std::uint16_t address,
                                      std::uint16_t count) {
    return withCrc({station, 3, static_cast<std::uint8_t>(address >> 8),
                    static_cast<std::uint8_t>(address & 0xFF),
                    static_cast<std::uint8_t>(count >> 8),
                    static_cast<std::uint8_t>(count & 0xFF)});
}

bool crcHolds(const std::vector<std::uint8_t>& frame) {
    return frame.size() >= 4 && modbus::modbusCrc16(frame.data(), frame.size()) == 0;
}

class SerialLine : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(openLine(port)) << port.lastError(); }

    static bool openLine(platform::SerialPort& p) {
        if (!p.open(platform::comDevicePath(1))) return false;
        // The master's settings at 115200 bit/s: 8N1, time-out unit 1 ms.
        return p.configure({115200, 8, 0, 0}) && p.setTimeouts({1, 1, 1, 1, 1}) && p.purge();
    }

    // Everything that arrives until the line has been silent for gapMicros,
    // waiting up to firstMicros for the first byte.
    std::vector<std::uint8_t> receive(std::uint64_t firstMicros, std::uint64_t gapMicros = 20'000) {
        std::vector<std::uint8_t> in;
        std::uint64_t wait = firstMicros;
        while (port.waitReadable(wait)) {
            std::array<std::uint8_t, 64> chunk{};
            const std::size_t n = port.read(chunk.data(), chunk.size());
            if (n == 0) break;
            in.insert(in.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
            wait = gapMicros;
        }
        return in;
    }

    platform::SerialPort port;
};

TEST_F(SerialLine, RequestAndResponseBothWays) {
    EXPECT_EQ(platform::comDevicePath(1), kDevice);
    const auto request = readRequest(1, 0, 12);
    ASSERT_TRUE(port.write(request.data(), request.size())) << port.lastError();
    const auto response = receive(1'000'000);
    ASSERT_EQ(response.size(), 5u + 2 * 12) << "station, function, count, 24 bytes, CRC";
    EXPECT_EQ(response[0], 1);
    EXPECT_EQ(response[1], 3);
    EXPECT_EQ(response[2], 24);
    EXPECT_TRUE(crcHolds(response));
    EXPECT_TRUE(port.lastError().empty()) << port.lastError();

    // Back to back, the byte that waitReadable takes is handed out first.
    ASSERT_TRUE(port.write(request.data(), request.size()));
    ASSERT_TRUE(port.waitReadable(1'000'000));
    EXPECT_GE(port.bytesWaiting(), 1u);
    std::uint8_t first = 0;
    ASSERT_EQ(port.read(&first, 1), 1u);
    EXPECT_EQ(first, 1) << "the station byte comes first";
    auto rest = receive(1'000'000);
    rest.insert(rest.begin(), first);
    EXPECT_EQ(rest.size(), response.size());
    EXPECT_TRUE(crcHolds(rest));
}

TEST_F(SerialLine, SilenceWaitsTheWholeTimeWithoutSpinning) {
    // A request for another station: the drive keeps quiet.
    const auto request = readRequest(9, 0, 1);
    ASSERT_TRUE(port.write(request.data(), request.size()));
    const std::uint64_t cpu0 = threadCpuMicros();
    const std::uint64_t t0 = platform::monotonicMicros();
    EXPECT_FALSE(port.waitReadable(400'000));
    const std::uint64_t waited = platform::monotonicMicros() - t0;
    EXPECT_GE(waited, 390'000u);
    EXPECT_LT(threadCpuMicros() - cpu0, waited / 2);
    EXPECT_EQ(port.bytesWaiting(), 0u);

    // A short wait after a long one: the device's read time-out follows (a
    // kept 400 ms would show far above the bound).
    const std::uint64_t t1 = platform::monotonicMicros();
    EXPECT_FALSE(port.waitReadable(10'000));
    EXPECT_LT(platform::monotonicMicros() - t1, 300'000u);
}

TEST_F(SerialLine, PurgeDiscardsWaitingInputAndTheWaitedByte) {
    const auto request = readRequest(1, 0, 4);
    ASSERT_TRUE(port.write(request.data(), request.size()));
    ASSERT_TRUE(port.waitReadable(1'000'000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the whole response
    EXPECT_GT(port.bytesWaiting(), 1u);
    ASSERT_TRUE(port.purge());
    EXPECT_EQ(port.bytesWaiting(), 0u);
    std::uint8_t byte = 0;
    EXPECT_EQ(port.read(&byte, 1), 0u);
}

TEST_F(SerialLine, OpenIsExclusiveUntilClosed) {
    platform::SerialPort second;
    EXPECT_FALSE(second.open(kDevice));
    EXPECT_NE(second.lastError().find("in use"), std::string::npos) << second.lastError();
    EXPECT_FALSE(second.open("\\\\.\\com1")) << "the same port under another spelling";
    EXPECT_FALSE(second.open(kPort));

    // Another program: servoctl beside this executable, told to probe COM1.
    const fs::path servoctl = platform::programFile("servoctl.exe");
    ASSERT_TRUE(fs::exists(servoctl)) << servoctl;
    std::wstring command = L"\"" + servoctl.wstring() + L"\" --port COM1 --timeout 50 probe";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 30'000), WAIT_OBJECT_0) << "no hang";
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(status, 7u) << "port cannot be opened";

    port.close();
    EXPECT_TRUE(second.open(kDevice)) << second.lastError();
    second.close();
    EXPECT_TRUE(openLine(port)) << "reopened after a close";
}

TEST(SerialLineVanish, APortWhoseDeviceVanishesIsSilenceNotASpin) {
    const char* dir = std::getenv("SERVO_TEST_HANDSHAKE_DIR");
    ASSERT_NE(dir, nullptr) << "run by wine_link_test.py";
    platform::SerialPort port;
    ASSERT_TRUE(port.open(kDevice)) << port.lastError();
    ASSERT_TRUE(port.configure({115200, 8, 0, 0}) && port.setTimeouts({1, 1, 1, 1, 1}));
    std::ofstream(fs::path(dir) / "opened") << "opened\n";
    bool vanished = false;
    for (int i = 0; i < 200 && !vanished; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        vanished = fs::exists(fs::path(dir) / "vanished");
    }
    ASSERT_TRUE(vanished) << "the driver ends the simulator";

    const auto request = readRequest(1, 0, 1);
    port.write(request.data(), request.size());  // may fail: the line is gone
    const std::uint64_t cpu0 = threadCpuMicros();
    const std::uint64_t t0 = platform::monotonicMicros();
    EXPECT_FALSE(port.waitReadable(200'000));
    const std::uint64_t waited = platform::monotonicMicros() - t0;
    EXPECT_GE(waited, 190'000u);
    EXPECT_LT(threadCpuMicros() - cpu0, waited / 2);
    std::uint8_t byte = 0;
    EXPECT_EQ(port.read(&byte, 1), 0u);
}

}  // namespace
