#include "rtu_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "modbus/crc.h"

namespace simtest {

namespace {
using Clock = std::chrono::steady_clock;

void put(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
}
}  // namespace

Bytes withCrc(Bytes frame) {
    std::uint16_t crc = modbus::modbusCrc16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

std::string hex(const Bytes& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (auto b : bytes) {
        s.push_back(digits[b >> 4]);
        s.push_back(digits[b & 15]);
    }
    return s;
}

Bytes readRequest(std::uint16_t start, std::uint16_t count) {
    Bytes b;
    put(b, start);
    put(b, count);
    return b;
}

Bytes writeSingle(std::uint16_t address, std::uint16_t value) {
    return readRequest(address, value);
}

Bytes writeMultiple(std::uint16_t start, const std::vector<std::uint16_t>& values) {
    Bytes b = readRequest(start, static_cast<std::uint16_t>(values.size()));
    b.push_back(static_cast<std::uint8_t>(values.size() * 2));
    for (auto v : values) put(b, v);
    return b;
}

RtuClient::RtuClient(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B115200);
    ::tcsetattr(fd_, TCSANOW, &tio);
    ::tcflush(fd_, TCIOFLUSH);
}

RtuClient::RtuClient(int fd) : fd_(fd) {
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

RtuClient::~RtuClient() {
    if (fd_ >= 0) ::close(fd_);
}

void RtuClient::sendRaw(const Bytes& bytes) {
    ::tcflush(fd_, TCIFLUSH);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) throw std::runtime_error(std::string("write: ") + std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
}

Bytes RtuClient::receive(std::chrono::milliseconds timeout, std::chrono::milliseconds silence) {
    Bytes out;
    auto deadline = Clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        if (left.count() <= 0) return out;
        timespec ts{static_cast<time_t>(left.count() / 1'000'000'000),
                    static_cast<long>(left.count() % 1'000'000'000)};
        pollfd p{fd_, POLLIN, 0};
        int r = ::ppoll(&p, 1, &ts, nullptr);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return out;
        std::uint8_t buffer[512];
        ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            const auto now = Clock::now();
            if (out.empty()) firstByteAt = now;
            lastByteAt = now;
            out.insert(out.end(), buffer, buffer + n);
            deadline = now + silence;
        }
    }
}

Reply RtuClient::request(std::uint8_t station, std::uint8_t function, const Bytes& data,
                         std::chrono::milliseconds timeout) {
    Bytes frame{station, function};
    frame.insert(frame.end(), data.begin(), data.end());
    sendRaw(withCrc(frame));
    Reply reply;
    reply.frame = receive(timeout);
    reply.answered = !reply.frame.empty();
    if (reply.frame.size() >= 4) {
        Bytes body(reply.frame.begin(), reply.frame.end() - 2);
        reply.crcOk = withCrc(body) == reply.frame;
        reply.station = body[0];
        reply.function = body[1];
        reply.data.assign(body.begin() + 2, body.end());
    }
    return reply;
}

std::vector<std::uint16_t> RtuClient::readRegisters(std::uint16_t start, std::uint16_t count) {
    Reply r = request(station_, 3, readRequest(start, count));
    if (!r.crcOk || r.function != 3 || r.data.empty() || r.data[0] != count * 2 ||
        r.data.size() != 1u + count * 2u)
        throw std::runtime_error("read of " + std::to_string(count) + " registers at " +
                                 std::to_string(start) + " failed: " + hex(r.frame));
    std::vector<std::uint16_t> values;
    for (std::size_t i = 0; i < count; ++i)
        values.push_back(static_cast<std::uint16_t>(r.data[1 + 2 * i] << 8 | r.data[2 + 2 * i]));
    return values;
}

void RtuClient::writeRegister(std::uint16_t address, std::uint16_t value) {
    Bytes data = writeSingle(address, value);
    Reply r = request(station_, 6, data);
    if (!r.crcOk || r.function != 6 || r.data != data)
        throw std::runtime_error("write of register " + std::to_string(address) +
                                 " failed: " + hex(r.frame));
}

void RtuClient::writeRegisters(std::uint16_t start, const std::vector<std::uint16_t>& values) {
    Reply r = request(station_, 16, writeMultiple(start, values));
    if (!r.crcOk || r.function != 16 ||
        r.data != readRequest(start, static_cast<std::uint16_t>(values.size())))
        throw std::runtime_error("write of registers at " + std::to_string(start) +
                                 " failed: " + hex(r.frame));
}

int RtuClient::exceptionOf(std::uint8_t function, const Bytes& data) {
    Reply r = request(station_, function, data);
    if (!r.crcOk) throw std::runtime_error("no valid answer: " + hex(r.frame));
    return r.exceptionCode();
}

}  // namespace simtest
