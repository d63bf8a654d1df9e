// Serial ports on POSIX systems through termios.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/serial.h"

#if defined(__linux__)
#include <linux/serial.h>
#endif

namespace platform {

namespace {

// Writes that find the output queue full wait at least this long, however
// short the line's write time-outs: the kernel queue, not the line, limits
// how fast a write is taken.
constexpr std::uint64_t kMinWriteWaitMicros = 100'000;

int fdOf(std::intptr_t handle) {
    return static_cast<int>(handle);
}

std::string errnoText(int error) {
    return std::strerror(error);
}

bool baudConstant(std::uint32_t baud, speed_t& speed) {
    struct Rate {
        std::uint32_t baud;
        speed_t speed;
    };
    static constexpr Rate kRates[] = {
        {50, B50},
        {75, B75},
        {110, B110},
        {134, B134},
        {150, B150},
        {200, B200},
        {300, B300},
        {600, B600},
        {1200, B1200},
        {1800, B1800},
        {2400, B2400},
        {4800, B4800},
        {9600, B9600},
        {19200, B19200},
        {38400, B38400},
        {57600, B57600},
        {115200, B115200},
        {230400, B230400},
#if defined(B460800)
        {460800, B460800},
#endif
#if defined(B921600)
        {921600, B921600},
#endif
    };
    for (const Rate& r : kRates) {
        if (r.baud == baud) {
            speed = r.speed;
            return true;
        }
    }
    return false;
}

// Asks a USB-serial or UART driver to hand received bytes over at once rather
// than after its own latency timer; drivers and ptys that refuse are left as
// they are.
void requestLowLatency(int fd) {
#if defined(__linux__) && defined(ASYNC_LOW_LATENCY)
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) == 0) {
        info.flags |= ASYNC_LOW_LATENCY;
        (void)::ioctl(fd, TIOCSSERIAL, &info);
    }
#else
    (void)fd;
#endif
}

}  // namespace

std::string defaultComDevicePath(unsigned n) {
    return "/dev/ttyS" + std::to_string(n == 0 ? 0 : n - 1);
}

SerialPort::~SerialPort() {
    close();
}

bool SerialPort::open(const std::string& devicePath) {
    close();
    path_ = devicePath;
    error_.clear();
    pendingByte_ = -1;
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        fail("cannot open", errnoText(errno));
        return false;
    }
    if (!::isatty(fd)) {
        fail("cannot open", "not a serial device");
        ::close(fd);
        return false;
    }
    // Refuse a port that another program holds, like a Win32 open without
    // sharing: flock() covers programs that lock too (and the superuser, whom
    // TIOCEXCL does not stop); TIOCEXCL stops later plain opens.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        fail("cannot open",
             error == EWOULDBLOCK ? "port is in use by another program" : errnoText(error));
        ::close(fd);
        return false;
    }
    (void)::ioctl(fd, TIOCEXCL);
    requestLowLatency(fd);
    handle_ = fd;
    return true;
}

bool SerialPort::configure(const SerialLineSettings& s) {
    if (!isOpen()) return false;
    const int fd = fdOf(handle_);
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        fail("cannot configure", errnoText(errno));
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNPAR | PARMRK);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
#if defined(CMSPAR)
    tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    switch (s.dataBits) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        case 8:
            tio.c_cflag |= CS8;
            break;
        default:
            fail("cannot configure", "unsupported data bits " + std::to_string(s.dataBits));
            return false;
    }
    switch (s.stopBits) {
        case 0:
            break;
        // termios has no one and a half; CSTOPB gives it on UARTs with 5 data
        // bits (the only size at which one and a half exists) and two otherwise.
        case 1:
        case 2:
            tio.c_cflag |= CSTOPB;
            break;
        default:
            fail("cannot configure", "unsupported stop-bit code " + std::to_string(s.stopBits));
            return false;
    }
    switch (s.parity) {
        case 0:
            break;
        case 1:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            tio.c_cflag |= PARENB;
            break;
#if defined(CMSPAR)
        case 3:
            tio.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
#endif
        default:
            fail("cannot configure", "unsupported parity code " + std::to_string(s.parity));
            return false;
    }
    if (s.parity != 0) tio.c_iflag |= INPCK;

    speed_t speed{};
    if (!baudConstant(s.baudRate, speed)) {
        fail("cannot configure", "unsupported baud rate " + std::to_string(s.baudRate));
        return false;
    }
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        fail("cannot configure", errnoText(errno));
        return false;
    }
    // DTR and RTS off; ptys and some adapters have no modem lines.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIC, &lines);
    return true;
}

bool SerialPort::setTimeouts(const SerialTimeouts& timeouts) {
    if (!isOpen()) return false;
    timeouts_ = timeouts;
    return true;
}

bool SerialPort::purge() {
    if (!isOpen()) return false;
    if (::tcflush(fdOf(handle_), TCIOFLUSH) != 0) {
        fail("cannot purge", errnoText(errno));
        return false;
    }
    return true;
}

void SerialPort::close() {
    if (!isOpen()) return;
    const int fd = fdOf(handle_);
    (void)::tcflush(fd, TCIOFLUSH);
    (void)::ioctl(fd, TIOCNXCL);  // a later open by a non-privileged user must succeed
    ::close(fd);                  // also drops the flock()
    handle_ = kInvalidHandle;
}

std::size_t SerialPort::bytesWaiting() {
    if (!isOpen()) return 0;
    int count = 0;
    if (::ioctl(fdOf(handle_), FIONREAD, &count) != 0 || count < 0) return 0;
    return static_cast<std::size_t>(count);
}

std::size_t SerialPort::read(std::uint8_t* buffer, std::size_t capacity) {
    if (!isOpen() || capacity == 0) return 0;
    for (;;) {
        const ssize_t got = ::read(fdOf(handle_), buffer, capacity);
        if (got > 0) return static_cast<std::size_t>(got);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            fail("cannot read", errnoText(errno));
        return 0;
    }
}

bool SerialPort::write(const std::uint8_t* data, std::size_t count) {
    if (!isOpen()) return false;
    const std::uint64_t budgetMicros = std::max<std::uint64_t>(
        kMinWriteWaitMicros,
        (std::uint64_t{timeouts_.writeTotalMultiplierMs} * count + timeouts_.writeTotalConstantMs) *
            1000);
    const std::uint64_t deadline = monotonicMicros() + budgetMicros;
    std::size_t done = 0;
    while (done < count) {
        const ssize_t put = ::write(fdOf(handle_), data + done, count - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            fail("cannot write to", errnoText(errno));
            return false;
        }
        const std::uint64_t now = monotonicMicros();
        if (now >= deadline) {
            fail("cannot write to", "write timed out");
            return false;
        }
        pollfd p{fdOf(handle_), POLLOUT, 0};
        const auto waitMs = static_cast<int>((deadline - now + 999) / 1000);
        (void)::poll(&p, 1, waitMs);
    }
    return true;
}

bool SerialPort::waitReadable(std::uint64_t timeoutMicros) {
    if (!isOpen()) {
        sleepMicros(timeoutMicros);
        return false;
    }
    const std::uint64_t deadline = monotonicMicros() + timeoutMicros;
    for (;;) {
        const std::uint64_t now = monotonicMicros();
        const std::uint64_t left = now >= deadline ? 0 : deadline - now;
        pollfd p{fdOf(handle_), POLLIN, 0};
#if defined(__linux__)
        timespec ts{static_cast<time_t>(left / 1'000'000),
                    static_cast<long>((left % 1'000'000) * 1000)};
        const int n = ::ppoll(&p, 1, &ts, nullptr);
#else
        const int n = ::poll(&p, 1, static_cast<int>((left + 999) / 1000));
#endif
        if (n < 0 && errno == EINTR) continue;
        if (n > 0 && (p.revents & POLLIN) != 0 && (p.revents & (POLLHUP | POLLERR)) == 0)
            return true;
        if (n > 0 && bytesWaiting() > 0) return true;  // data still queued before a hang-up
        if (n > 0) {
            // Hang-up or error without data (device unplugged, pty peer gone):
            // poll would report it at once, again and again; wait out the time.
            const std::uint64_t after = monotonicMicros();
            if (after < deadline) sleepMicros(deadline - after);
        }
        return false;
    }
}

}  // namespace platform
