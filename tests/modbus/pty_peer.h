#pragma once
// A pseudo-terminal whose master side plays the drive: the code under test
// opens the slave side as its serial port, the test reads the requests from
// the master side and answers them, from a thread when the call under test
// blocks.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "modbus/crc.h"

namespace testpeer {

using Bytes = std::vector<std::uint8_t>;

inline std::uint64_t nowMicros() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// The bytes with their CRC appended, low byte first.
inline Bytes rtu(Bytes frame) {
    const std::uint16_t crc = modbus::modbusCrc16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

inline std::string hex(const Bytes& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t b : bytes) {
        if (!s.empty()) s += ' ';
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

class PtyPeer {
  public:
    PtyPeer() {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) return;
        const char* name = ::ptsname(fd_);
        if (name == nullptr) return;
        path_ = name;
        termios tio{};
        if (::tcgetattr(fd_, &tio) == 0) {  // the slave's settings, until the port sets its own
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~PtyPeer() {
        if (fd_ >= 0) ::close(fd_);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool ok() const { return fd_ >= 0 && !path_.empty(); }
    const std::string& slavePath() const { return path_; }
    int fd() const { return fd_; }
    void hangUp() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    // Up to n bytes, or fewer when timeoutMs pass first.
    Bytes readBytes(std::size_t n, int timeoutMs) {
        Bytes out;
        const std::uint64_t deadline = nowMicros() + static_cast<std::uint64_t>(timeoutMs) * 1000;
        while (out.size() < n) {
            std::uint8_t buffer[1024];
            const std::size_t want = std::min(sizeof(buffer), n - out.size());
            const ssize_t got = ::read(fd_, buffer, want);
            if (got > 0) {
                out.insert(out.end(), buffer, buffer + got);
                continue;
            }
            const std::uint64_t now = nowMicros();
            if (now >= deadline) break;
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>((deadline - now) / 1000 + 1));
        }
        return out;
    }

    // True when no byte arrives within ms.
    bool silentFor(int ms) { return readBytes(1, ms).empty(); }

    void send(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t put = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (put > 0) {
                done += static_cast<std::size_t>(put);
            } else {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }

  private:
    int fd_ = -1;
    std::string path_;
};

// One exchange of a script: the exact request expected, then the reply
// (nothing: stay silent). pauseMs delays the reply; a reply may come in two
// parts with splitPauseMs between them.
struct Step {
    Bytes expect;
    Bytes reply;
    int pauseMs = 0;
    std::size_t splitAt = 0;
    int splitPauseMs = 0;
};

// Plays a script on the peer in its own thread. After join(), `failures`
// holds every mismatch and `arrivals` the time each request was complete.
class Responder {
  public:
    Responder(PtyPeer& peer, std::vector<Step> steps) : peer_(peer), steps_(std::move(steps)) {
        thread_ = std::thread([this] { run(); });
    }
    ~Responder() { join(); }
    void join() {
        if (thread_.joinable()) thread_.join();
    }

    std::vector<std::string> failures;
    std::vector<std::uint64_t> arrivals;

  private:
    void run() {
        for (std::size_t i = 0; i < steps_.size(); ++i) {
            const Step& s = steps_[i];
            const Bytes got = peer_.readBytes(s.expect.size(), 3000);
            arrivals.push_back(nowMicros());
            if (got != s.expect) {
                failures.push_back("step " + std::to_string(i) + ": expected [" + hex(s.expect) +
                                   "] got [" + hex(got) + "]");
                return;
            }
            if (s.reply.empty()) continue;
            if (s.pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(s.pauseMs));
            if (s.splitAt > 0 && s.splitAt < s.reply.size()) {
                peer_.send(Bytes(s.reply.begin(), s.reply.begin() + static_cast<long>(s.splitAt)));
                std::this_thread::sleep_for(std::chrono::milliseconds(s.splitPauseMs));
                peer_.send(Bytes(s.reply.begin() + static_cast<long>(s.splitAt), s.reply.end()));
            } else {
                peer_.send(s.reply);
            }
        }
    }

    PtyPeer& peer_;
    std::vector<Step> steps_;
    std::thread thread_;
};

}  // namespace testpeer
