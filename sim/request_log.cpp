#include "request_log.h"

namespace sim {

std::string toHex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

void RequestLog::record(std::span<const std::uint8_t> frame, FrameArrival arrival) {
    if (!enabled()) return;
    std::lock_guard lock(mutex_);
    if (frames_.size() >= kMaxFrames) {
        frames_.erase(frames_.begin());
        arrivals_.erase(arrivals_.begin());
    }
    frames_.push_back(toHex(frame));
    arrivals_.push_back(arrival);
}

void RequestLog::clear() {
    std::lock_guard lock(mutex_);
    frames_.clear();
    arrivals_.clear();
}

std::vector<FrameArrival> RequestLog::arrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
}

std::vector<std::string> RequestLog::frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

}  // namespace sim
