#include "modbus/network_link.h"

#include <algorithm>
#include <array>

#include "platform/clock.h"

namespace modbus {

std::unique_ptr<NetworkLink> makeModbusTcpLink(const NetworkPort& where);
std::unique_ptr<NetworkLink> makeRtuTcpLink(const NetworkPort& where);

std::unique_ptr<NetworkLink> NetworkLink::create(const NetworkPort& where) {
    return where.protocol == NetworkProtocol::modbusTcp ? makeModbusTcpLink(where)
                                                        : makeRtuTcpLink(where);
}

bool NetworkLink::connect(std::uint32_t timeoutMs) {
    close();
    error_.clear();
    if (!connection_.connect(where_.host, where_.port, timeoutMs)) {
        error_ = connection_.lastError();
        return false;
    }
    return true;
}

void NetworkLink::close() {
    connection_.close();
    raw_.clear();
    ready_.clear();
    broken_ = false;
}

void NetworkLink::breakStream(std::string why) {
    broken_ = true;
    error_ = "the connection to " + where_.host + ":" + std::to_string(where_.port) +
             " was dropped: " + why;
    drop(raw_.size());
    raw_.clear();
}

std::uint64_t NetworkLink::pump() {
    if (!connection_.isOpen()) return 0;
    std::array<std::uint8_t, 1024> buffer{};
    while (!ended()) {
        const std::size_t got = connection_.read(buffer.data(), buffer.size());
        if (got == 0) break;
        raw_.insert(raw_.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
    }
    if (connection_.ended() && !broken_) error_ = connection_.lastError();
    return deliver(platform::monotonicMicros(), ended());
}

std::size_t NetworkLink::bytesWaiting() {
    pump();
    return ready_.size();
}

std::size_t NetworkLink::read(std::uint8_t* buffer, std::size_t capacity) {
    if (ready_.empty()) pump();
    const std::size_t n = std::min(capacity, ready_.size());
    std::copy_n(ready_.begin(), n, buffer);
    ready_.erase(ready_.begin(), ready_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

bool NetworkLink::write(const std::uint8_t* frame, std::size_t count) {
    if (!connection_.isOpen() || ended()) return false;
    std::vector<std::uint8_t> bytes;
    if (!encode(frame, count, bytes)) {
        error_ = name() + " carries RTU-framed requests only, not this one (ASCII?)";
        return false;
    }
    if (!connection_.write(bytes.data(), bytes.size(), kWriteTimeoutMs)) {
        error_ = connection_.lastError();
        return false;
    }
    return true;
}

bool NetworkLink::waitReadable(std::uint64_t timeoutMicros) {
    const std::uint64_t deadline = platform::monotonicMicros() + timeoutMicros;
    for (;;) {
        const std::uint64_t hold = pump();
        if (!ready_.empty()) return true;
        const std::uint64_t now = platform::monotonicMicros();
        if (now >= deadline) return false;
        if (!connection_.isOpen() || ended()) {
            // Nothing more can come: silence until the caller's time-out.
            platform::sleepMicros(deadline - now);
            return false;
        }
        const std::uint64_t until = hold != 0 ? std::min(deadline, std::max(hold, now)) : deadline;
        connection_.waitReadable(until - now);
    }
}

void NetworkLink::purge() {
    pump();
    drop(raw_.size() + ready_.size());
    raw_.clear();
    ready_.clear();
}

}  // namespace modbus
