#pragma once
// A serial cable between two pseudo-terminals that minds the line speed:
// bytes pass only while both ends are set to the same baud rate, as on a
// real line, where a receiver at another speed sees noise and answers
// nothing. Each end is a descriptor whose tcgetattr gives the speed that the
// program on that side set (a pty master gives its slave's settings).
// Parity cannot be checked this way: the pty driver clears it.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>

namespace testsupport {

// A new pseudo-terminal: the code under test opens `path`, the relay holds
// `fd`. The slave side is held open as well, raw, so that the master side
// never hangs up while the code under test closes and reopens its port.
struct PtyEnd {
    int fd = -1;
    int hold = -1;
    std::string path;
    PtyEnd() {
        fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0)
            throw std::runtime_error("no pseudo-terminal");
        path = ::ptsname(fd);
        hold = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        if (hold < 0 || ::tcgetattr(hold, &t) != 0) throw std::runtime_error("pty not usable");
        ::cfmakeraw(&t);
        ::tcsetattr(hold, TCSANOW, &t);
    }
    ~PtyEnd() {
        ::close(hold);
        ::close(fd);
    }
    PtyEnd(const PtyEnd&) = delete;
    PtyEnd& operator=(const PtyEnd&) = delete;
};

class LineRelay {
  public:
    // Descriptors stay the caller's; they must outlive the relay.
    LineRelay(int a, int b) : thread_([this, a, b] { run(a, b); }) {}
    ~LineRelay() {
        stop_.store(true, std::memory_order_release);
        thread_.join();
    }
    LineRelay(const LineRelay&) = delete;
    LineRelay& operator=(const LineRelay&) = delete;

    // Bytes that a speed mismatch kept from the other side.
    std::uint64_t dropped() const { return dropped_.load(std::memory_order_acquire); }

  private:
    static speed_t speedOf(int fd) {
        termios t{};
        return ::tcgetattr(fd, &t) == 0 ? ::cfgetospeed(&t) : B0;
    }

    static void writeAll(int fd, const std::uint8_t* data, ssize_t n) {
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(fd, data + done, static_cast<size_t>(n - done));
            if (w > 0) {
                done += w;
                continue;
            }
            pollfd out{fd, POLLOUT, 0};
            if (::poll(&out, 1, 100) < 0) return;
        }
    }

    void run(int a, int b) {
        std::uint8_t buf[512];
        while (!stop_.load(std::memory_order_acquire)) {
            pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
            // Bounded, so that the stop request is seen.
            if (::poll(fds, 2, 20) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & POLLIN)) continue;
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n <= 0) continue;
                if (speedOf(a) != speedOf(b)) {
                    dropped_.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_acq_rel);
                    continue;
                }
                writeAll(fds[1 - i].fd, buf, n);
            }
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> dropped_{0};
    std::thread thread_;
};

}  // namespace testsupport
