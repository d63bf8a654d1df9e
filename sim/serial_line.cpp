#include "serial_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/clock.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

std::optional<speed_t> termiosSpeed(unsigned baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        default:
            return std::nullopt;
    }
}

// Raw 8N1, no flow control, reads return at once.
bool makeRaw(int fd, unsigned baud, bool requireSpeed, std::string& error) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        error = std::string("tcgetattr: ") + std::strerror(errno);
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (auto speed = termiosSpeed(baud)) {
        ::cfsetispeed(&tio, *speed);
        ::cfsetospeed(&tio, *speed);
    } else if (requireSpeed) {
        error = "unsupported line speed " + std::to_string(baud);
        return false;
    }
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = std::string("tcsetattr: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t count, const StopSignal& stop) {
    while (count > 0) {
        ssize_t n = ::write(fd, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            // Nobody drains the other side: wait a little, then give the rest up,
            // as a line would lose what no one listens to.
            pollfd p[2] = {{fd, POLLOUT, 0}, {stop.fd(), POLLIN, 0}};
            if (::poll(p, 2, 50) <= 0 || p[1].revents) return !stop.requested();
            if (p[0].revents & POLLOUT) continue;
        }
        return true;
    }
    return true;
}

}  // namespace

std::unique_ptr<SerialPort> SerialPort::openPty(unsigned baud, const std::string& link,
                                                std::string& error) {
    std::unique_ptr<SerialPort> port(new SerialPort);
    port->fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (port->fd_ < 0 || ::grantpt(port->fd_) != 0 || ::unlockpt(port->fd_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return nullptr;
    }
    char name[128];
    if (::ptsname_r(port->fd_, name, sizeof name) != 0) {
        error = std::string("ptsname: ") + std::strerror(errno);
        return nullptr;
    }
    port->path_ = name;
    port->holdFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (port->holdFd_ < 0) {
        error = "cannot open " + port->path_ + ": " + std::strerror(errno);
        return nullptr;
    }
    // A master that opens the slave finds it raw already, so nothing it sends
    // is echoed or translated before it sets its own mode.
    if (!makeRaw(port->holdFd_, baud, false, error)) return nullptr;
    ::fcntl(port->fd_, F_SETFL, ::fcntl(port->fd_, F_GETFL) | O_NONBLOCK);

    if (!link.empty()) {
        struct stat st {};
        if (::lstat(link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error = link + " exists and is not a symbolic link";
                return nullptr;
            }
            ::unlink(link.c_str());
        }
        if (::symlink(name, link.c_str()) != 0) {
            error = "cannot make the link " + link + ": " + std::strerror(errno);
            return nullptr;
        }
        port->link_ = link;
    }
    return port;
}

std::unique_ptr<SerialPort> SerialPort::openDevice(const std::string& path, unsigned baud,
                                                   std::string& error) {
    std::unique_ptr<SerialPort> port(new SerialPort);
    port->fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port->fd_ < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    port->path_ = path;
    if (!makeRaw(port->fd_, baud, true, error)) {
        error = path + ": " + error;
        return nullptr;
    }
    ::tcflush(port->fd_, TCIOFLUSH);
    return port;
}

SerialPort::~SerialPort() {
    if (!link_.empty()) {
        // Only our own link: another simulator may have replaced it since.
        char target[256];
        ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == path_)
            ::unlink(link_.c_str());
    }
    if (holdFd_ >= 0) ::close(holdFd_);
    if (fd_ >= 0) ::close(fd_);
}

LineTiming::LineTiming(unsigned baud)
    : byteTime(std::chrono::nanoseconds(10'000'000'000LL / std::max(1u, baud))),
      frameSilence(baud > 19200 ? std::chrono::nanoseconds(1'750'000) : byteTime * 35 / 10) {}

bool transmit(int fd, const Transmission& t, const LineTiming& timing, bool pace,
              const StopSignal& stop, Clock::time_point* lastWrite) {
    const std::size_t n = t.bytes.size();
    if (n == 0) return true;
    // Half a millisecond of bytes per write: few wake-ups, and the spacing of
    // the writes stays far below a receiver's end-of-frame silence even when a
    // wake-up comes late on a busy machine (a late chunk catches up).
    const auto chunk = static_cast<std::size_t>(std::max<std::int64_t>(
        1, std::chrono::nanoseconds(std::chrono::microseconds(500)) / timing.byteTime));
    const bool gapped = t.gap.count() > 0 && t.gapAt > 0 && t.gapAt < n;
    const Clock::time_point start = Clock::now();
    std::size_t i = 0;
    while (i < n) {
        std::size_t j = std::min(n, i + (pace ? chunk : n));
        if (gapped && i < t.gapAt && j > t.gapAt) j = t.gapAt;
        auto due = start + timing.byteTime * static_cast<std::int64_t>(j);
        if (gapped && i >= t.gapAt) due += t.gap;
        if (pace || (gapped && i == t.gapAt)) {
            if (!stop.sleepUntil(due)) return false;
        }
        if (lastWrite != nullptr && j == n) *lastWrite = Clock::now();
        if (!writeAll(fd, t.bytes.data() + i, j - i, stop)) return false;
        i = j;
    }
    return true;
}

namespace {

std::int64_t micros(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

int hexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// An ASCII request (':' ... CR LF) as the RTU frame the slave takes: the
// decoded bytes and their CRC. A frame with a bad character or LRC gets a
// wrong CRC, so that the slave ignores and counts it like a bad RTU frame.
std::vector<std::uint8_t> rtuFromAscii(const std::vector<std::uint8_t>& chars) {
    std::vector<std::uint8_t> bytes;
    bool valid = chars.size() >= 5 && chars.size() % 2 == 1;
    for (std::size_t i = 1; valid && i + 3 < chars.size(); i += 2) {
        const int hi = hexValue(chars[i]);
        const int lo = hexValue(chars[i + 1]);
        if (hi < 0 || lo < 0) valid = false;
        bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    unsigned sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    valid = valid && !bytes.empty() && (sum & 0xFF) == 0;  // the LRC makes the sum 0
    if (!bytes.empty()) bytes.pop_back();                  // the LRC
    appendCrc(bytes);
    if (!valid) bytes.back() ^= 0xFF;
    return bytes;
}

}  // namespace

void runLine(SerialPort& port, const LineOptions& options, RtuSlave& slave,
             const FaultSettings& faults, const SlaveSettings& settings, const StopSignal& stop) {
    serveStream(port.fd(), options, slave, faults, settings, stop, false);
}

void serveStream(int fd, const LineOptions& options, RtuSlave& slave, const FaultSettings& faults,
                 const SlaveSettings& settings, const StopSignal& stop, bool endAtHangup) {
    const LineTiming timing(options.baud);
    // The line's timing is emulated by timed waits: without this each of them
    // would end up to 50 µs late (the default timer slack), about half a
    // character at 115200 bit/s.
    platform::preciseWaitsOnThisThread();
    // A received RTU frame has at most 256 bytes; anything longer is noise that
    // is delimited all the same and then ignored. An ASCII frame has at most
    // 513 characters.
    const std::size_t maxFrame = options.ascii ? 600 : 512;
    std::vector<std::uint8_t> frame;
    bool asciiComplete = false;
    // ASCII characters read past the end of a frame, taken before the line.
    std::vector<std::uint8_t> carry;
    Clock::time_point lineFreeAt{};  // when the last byte received has fully arrived
    // The last byte on the line in either direction, for the silence before
    // a frame; none before the first.
    std::optional<Clock::time_point> lastOnLine;
    FrameArrival arrival;
    std::uint8_t buffer[512];
    // ':' starts an ASCII frame (dropping an unfinished one); LF after CR ends
    // it; anything outside a frame is noise.
    auto takeAscii = [&](std::uint8_t c) {
        if (c == ':') frame.clear();
        if (frame.empty() && c != ':') return;
        if (frame.size() < maxFrame) frame.push_back(c);
        asciiComplete = c == '\n' && frame.size() >= 2 && frame[frame.size() - 2] == '\r';
    };

    while (!stop.requested()) {
        timespec ts{};
        timespec* timeout = nullptr;
        if (!frame.empty()) {
            auto left = lineFreeAt + timing.frameSilence - Clock::now();
            if (options.ascii && asciiComplete) left = std::chrono::nanoseconds::zero();
            if (left <= std::chrono::nanoseconds::zero() && (!options.ascii || asciiComplete)) {
                auto response = slave.handle(options.ascii ? rtuFromAscii(frame) : frame, arrival);
                lastOnLine = lineFreeAt;
                frame.clear();
                asciiComplete = false;
                if (!response) continue;
                Transmission t =
                    shapeResponse(std::move(*response), faults, slave.random(), options.ascii);
                auto turnaround = std::chrono::microseconds(
                    settings.turnaroundUs.load(std::memory_order_relaxed));
                if (!stop.sleepFor(turnaround + t.delay)) break;
                Clock::time_point sent{};
                if (!transmit(fd, t, timing, options.pace, stop, &sent)) break;
                lastOnLine = sent;
                continue;
            }
            if (!options.ascii) {
                auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
                ts = {static_cast<time_t>(ns / 1'000'000'000),
                      static_cast<long>(ns % 1'000'000'000)};
                timeout = &ts;
            }
        }
        if (options.ascii && !carry.empty()) {
            std::size_t k = 0;
            while (k < carry.size() && !asciiComplete) takeAscii(carry[k++]);
            carry.erase(carry.begin(), carry.begin() + static_cast<std::ptrdiff_t>(k));
            continue;
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
        int r = ::ppoll(fds, 2, timeout, nullptr);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents) break;
        if (fds[0].revents & POLLIN) {
            ssize_t got = ::read(fd, buffer, sizeof buffer);
            const auto now = Clock::now();
            if (got > 0) {
                if (options.ascii) {
                    carry.insert(carry.end(), buffer, buffer + got);
                    continue;
                }
                if (frame.empty()) {
                    arrival.firstByteMicros = micros(now.time_since_epoch());
                    arrival.silenceMicros = lastOnLine ? micros(now - *lastOnLine) : -1;
                }
                for (ssize_t k = 0; k < got; ++k) {
                    // Bytes written in one burst by the master would have taken
                    // their line time to arrive: the frame ends no earlier than
                    // that.
                    lineFreeAt = frame.empty() ? now : std::max(now, lineFreeAt + timing.byteTime);
                    if (frame.size() < maxFrame) frame.push_back(buffer[k]);
                }
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            // A connection's end (or reset) is final; a device may come back.
            if (endAtHangup) return;
        }
        if (endAtHangup && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) return;
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL | POLLIN)) {
            // Device gone or no reader: wait instead of spinning.
            if (!stop.sleepFor(std::chrono::milliseconds(20))) break;
        }
    }
}

}  // namespace sim
