#include "stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace sim {

StopSignal::StopSignal() {
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
}

StopSignal::~StopSignal() {
    ::close(fds_[0]);
    ::close(fds_[1]);
}

void StopSignal::request() {
    flag_.store(true, std::memory_order_relaxed);
    const char byte = 1;
    // One byte is enough; a full pipe already wakes every reader.
    [[maybe_unused]] ssize_t n = ::write(fds_[1], &byte, 1);
}

bool StopSignal::sleepUntil(std::chrono::steady_clock::time_point deadline) const {
    using namespace std::chrono;
    for (;;) {
        if (requested()) return false;
        auto left = deadline - steady_clock::now();
        if (left <= nanoseconds::zero()) return true;
        auto ns = duration_cast<nanoseconds>(left).count();
        timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        pollfd p{fds_[0], POLLIN, 0};
        int r = ::ppoll(&p, 1, &ts, nullptr);
        if (r > 0) return false;
        if (r < 0 && errno != EINTR) return true;
    }
}

}  // namespace sim
