#include "platform/serial.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// The master side of a pseudo-terminal; the port under test opens the slave.
struct Pty {
    Pty() {
        fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0 && ::grantpt(fd) == 0 && ::unlockpt(fd) == 0 && ::ptsname(fd) != nullptr)
            path = ::ptsname(fd);
    }
    ~Pty() {
        if (fd >= 0) ::close(fd);
    }
    termios settings() const {
        termios tio{};
        ::tcgetattr(fd, &tio);  // the slave's settings
        return tio;
    }
    Bytes read(std::size_t n) {
        Bytes out;
        for (int tries = 0; tries < 100 && out.size() < n; ++tries) {
            std::uint8_t buffer[256];
            const ssize_t got = ::read(fd, buffer, std::min(sizeof(buffer), n - out.size()));
            if (got > 0) {
                out.insert(out.end(), buffer, buffer + got);
            } else {
                pollfd p{fd, POLLIN, 0};
                ::poll(&p, 1, 20);
            }
        }
        return out;
    }
    void write(const Bytes& bytes) {
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    int fd = -1;
    std::string path;
};

std::uint64_t nowMicros() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::uint64_t threadCpuMicros() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000 +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000;
}

class SerialOnPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pty.path.empty());
        ASSERT_TRUE(port.open(pty.path)) << port.lastError();
        ASSERT_TRUE(port.configure({115200, 8, 0, 0})) << port.lastError();
    }
    Pty pty;
    platform::SerialPort port;
};

TEST(PortsConfig, LinesNamesCommentsAndBlanks) {
    const std::string text =
        "# ports of this bench\r\n"
        "; another comment\n"
        "COM11=/dev/ttyACM0\n"
        "  com1 =  /dev/ttyUSB0  \r\n"
        "COM2=\n"
        "COM2 = /dev/ttyUSB1\n"
        "COM2=/dev/ignored\n"
        "garbage line\n"
        "COM3=/dev/tty with blank";
    EXPECT_EQ(platform::findPortInConfig(text, 1), "/dev/ttyUSB0");
    EXPECT_EQ(platform::findPortInConfig(text, 11), "/dev/ttyACM0");
    EXPECT_EQ(platform::findPortInConfig(text, 2), "/dev/ttyUSB1");
    EXPECT_EQ(platform::findPortInConfig(text, 3), "/dev/tty with blank");
    EXPECT_EQ(platform::findPortInConfig(text, 4), std::nullopt);
    EXPECT_EQ(platform::findPortInConfig("", 1), std::nullopt);
}

TEST(PortsConfig, FileBesideAndEnvironmentFirst) {
    const fs::path file = fs::temp_directory_path() / ("servo-ports-" + std::to_string(::getpid()));
    std::ofstream(file) << "COM5=/dev/ttyUSB7\n";
    EXPECT_EQ(platform::findPortInConfigFile(file, 5), "/dev/ttyUSB7");
    EXPECT_EQ(platform::findPortInConfigFile(file, 6), std::nullopt);
    fs::remove(file);
    EXPECT_EQ(platform::findPortInConfigFile(file, 5), std::nullopt);

    EXPECT_EQ(platform::defaultComDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(platform::defaultComDevicePath(6), "/dev/ttyS5");
    ::setenv("SERVO_COM6", "/dev/pts/77", 1);
    EXPECT_EQ(platform::comDevicePath(6), "/dev/pts/77");
    ::setenv("SERVO_COM6", "", 1);  // empty counts as not set
    EXPECT_NE(platform::comDevicePath(6), "");
    ::unsetenv("SERVO_COM6");
}

TEST_F(SerialOnPty, RawLineWithoutFlowControl) {
    const termios tio = pty.settings();
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(::cfgetispeed(&tio), B115200);
    EXPECT_EQ(::cfgetospeed(&tio), B115200);
}

TEST_F(SerialOnPty, ParityAndStopBits) {
    // A pty forces CS8 and clears PARENB on its own, so only the other bits
    // of the request can be seen here.
    const auto bits = [this] { return pty.settings().c_cflag & (PARODD | CMSPAR | CSTOPB); };
    ASSERT_TRUE(port.configure({19200, 7, 2, 2}));  // even, two stop bits
    EXPECT_EQ(bits(), static_cast<tcflag_t>(CSTOPB));
    EXPECT_NE(pty.settings().c_iflag & INPCK, 0u);
    EXPECT_EQ(::cfgetospeed(&static_cast<const termios&>(pty.settings())), B19200);
    ASSERT_TRUE(port.configure({4800, 8, 0, 1}));  // odd
    EXPECT_EQ(bits(), static_cast<tcflag_t>(PARODD));
    ASSERT_TRUE(port.configure({4800, 8, 0, 3}));  // mark
    EXPECT_EQ(bits(), static_cast<tcflag_t>(PARODD | CMSPAR));
    ASSERT_TRUE(port.configure({4800, 8, 0, 4}));  // space
    EXPECT_EQ(bits(), static_cast<tcflag_t>(CMSPAR));
    ASSERT_TRUE(port.configure({4800, 5, 1, 0}));  // one and a half, no parity
    EXPECT_EQ(bits(), static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(pty.settings().c_iflag & INPCK, 0u);
}

TEST_F(SerialOnPty, RefusedSettingsSayWhy) {
    EXPECT_FALSE(port.configure({12345, 8, 0, 0}));
    EXPECT_EQ(port.lastError(), "cannot configure " + pty.path + ": unsupported baud rate 12345");
    EXPECT_FALSE(port.configure({9600, 9, 0, 0}));
    EXPECT_NE(port.lastError().find("data bits 9"), std::string::npos);
    EXPECT_FALSE(port.configure({9600, 8, 3, 0}));
    EXPECT_NE(port.lastError().find("stop-bit code 3"), std::string::npos);
    EXPECT_FALSE(port.configure({9600, 8, 0, 5}));
    EXPECT_NE(port.lastError().find("parity code 5"), std::string::npos);
    // The earlier settings stand.
    EXPECT_EQ(::cfgetospeed(&static_cast<const termios&>(pty.settings())), B115200);
}

TEST_F(SerialOnPty, OpenIsExclusiveUntilClosed) {
    platform::SerialPort second;
    EXPECT_FALSE(second.open(pty.path));
    EXPECT_EQ(second.lastError(),
              "cannot open " + pty.path + ": port is in use by another program");
    EXPECT_FALSE(second.isOpen());
    port.close();
    EXPECT_TRUE(second.open(pty.path)) << second.lastError();
    EXPECT_TRUE(second.lastError().empty());
}

TEST(SerialOpen, MissingDeviceAndNonSerialFile) {
    platform::SerialPort port;
    EXPECT_FALSE(port.open("/nonexistent/ttyUSB0"));
    EXPECT_EQ(port.lastError(), "cannot open /nonexistent/ttyUSB0: No such file or directory");
    EXPECT_EQ(port.devicePath(), "/nonexistent/ttyUSB0");
    const fs::path file =
        fs::temp_directory_path() / ("servo-notatty-" + std::to_string(::getpid()));
    std::ofstream(file) << "x";
    EXPECT_FALSE(port.open(file.string()));
    EXPECT_EQ(port.lastError(), "cannot open " + file.string() + ": not a serial device");
    fs::remove(file);
    // A port that is not open does nothing and says so.
    std::uint8_t byte = 0;
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.write(&byte, 1));
    EXPECT_EQ(port.read(&byte, 1), 0u);
    EXPECT_EQ(port.bytesWaiting(), 0u);
    EXPECT_FALSE(port.purge());
    EXPECT_FALSE(port.configure({}));
}

TEST_F(SerialOnPty, BytesBothWaysUnchanged) {
    // Every byte value, CR, LF, XON and XOFF included, passes untouched.
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(port.write(all.data(), all.size())) << port.lastError();
    EXPECT_EQ(pty.read(256), all);

    pty.write(all);
    std::size_t waiting = 0;
    for (int i = 0; i < 100 && waiting < all.size(); ++i) {
        port.waitReadable(20'000);
        waiting = port.bytesWaiting();
    }
    ASSERT_EQ(waiting, all.size());
    Bytes got(300, 0);
    ASSERT_EQ(port.read(got.data(), 100), 100u);  // no more than asked
    ASSERT_EQ(port.read(got.data() + 100, 200), 156u);
    got.resize(256);
    EXPECT_EQ(got, all);
    EXPECT_EQ(port.read(got.data(), 10), 0u);  // nothing left: returns at once
}

TEST_F(SerialOnPty, WaitReturnsOnDataOrAfterTheTimeWithoutSpinning) {
    const std::uint64_t cpu0 = threadCpuMicros();
    const std::uint64_t t0 = nowMicros();
    EXPECT_FALSE(port.waitReadable(50'000));
    const std::uint64_t waited = nowMicros() - t0;
    EXPECT_GE(waited, 50'000u);
    EXPECT_LT(threadCpuMicros() - cpu0, waited / 2);

    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.write({0x42});
    });
    EXPECT_TRUE(port.waitReadable(5'000'000));
    late.join();
    std::uint8_t byte = 0;
    EXPECT_EQ(port.read(&byte, 1), 1u);
    EXPECT_EQ(byte, 0x42);
}

TEST_F(SerialOnPty, PurgeDiscardsWaitingInput) {
    pty.write({1, 2, 3});
    ASSERT_TRUE(port.waitReadable(1'000'000));
    ASSERT_TRUE(port.purge());
    EXPECT_EQ(port.bytesWaiting(), 0u);
}

TEST_F(SerialOnPty, VanishedPeerIsSilenceNotASpin) {
    ::close(pty.fd);
    pty.fd = -1;
    const std::uint64_t cpu0 = threadCpuMicros();
    const std::uint64_t t0 = nowMicros();
    EXPECT_FALSE(port.waitReadable(60'000));
    const std::uint64_t waited = nowMicros() - t0;
    EXPECT_GE(waited, 60'000u);
    EXPECT_LT(threadCpuMicros() - cpu0, waited / 2);
    std::uint8_t byte = 0;
    EXPECT_EQ(port.read(&byte, 1), 0u);
}

}  // namespace
