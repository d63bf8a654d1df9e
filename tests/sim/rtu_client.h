#pragma once
// A minimal Modbus RTU master for testing servo-sim through its pty, kept
// apart from the project's master so that the two check each other.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

struct Reply {
    bool answered = false;  // any byte came
    Bytes frame;            // everything received, CRC included
    bool crcOk = false;
    std::uint8_t station = 0;
    std::uint8_t function = 0;
    Bytes data;  // after the function code, without CRC

    bool isException() const { return crcOk && (function & 0x80) != 0; }
    int exceptionCode() const { return isException() && !data.empty() ? data[0] : 0; }
};

Bytes withCrc(Bytes frame);

class RtuClient {
  public:
    // Opens the pty in raw mode; throws on failure.
    explicit RtuClient(const std::string& path);
    // Takes over an open descriptor (e.g. the master side of a pty).
    explicit RtuClient(int fd);
    ~RtuClient();
    RtuClient(const RtuClient&) = delete;
    RtuClient& operator=(const RtuClient&) = delete;

    // Drops anything unread, then writes the bytes as they are.
    void sendRaw(const Bytes& bytes);
    // Collects bytes until `silence` passes after the last one, or `timeout`
    // passes with none at all.
    Bytes receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(1000),
                  std::chrono::milliseconds silence = std::chrono::milliseconds(30));
    // One request (station, function, data, CRC) and its reply.
    Reply request(std::uint8_t station, std::uint8_t function, const Bytes& data,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));

    // Convenience requests to station `station_`; throw unless answered
    // without exception.
    std::vector<std::uint16_t> readRegisters(std::uint16_t start, std::uint16_t count);
    void writeRegister(std::uint16_t address, std::uint16_t value);
    void writeRegisters(std::uint16_t start, const std::vector<std::uint16_t>& values);
    // The exception code of a request (0 = none); throws when unanswered.
    int exceptionOf(std::uint8_t function, const Bytes& data);

    std::uint8_t station_ = 1;
    // When the first and the last byte of the last receive() were read.
    std::chrono::steady_clock::time_point firstByteAt{}, lastByteAt{};

  private:
    int fd_ = -1;
};

Bytes readRequest(std::uint16_t start, std::uint16_t count);  // address and count, big-endian
Bytes writeSingle(std::uint16_t address, std::uint16_t value);
Bytes writeMultiple(std::uint16_t start, const std::vector<std::uint16_t>& values);
std::string hex(const Bytes& bytes);

}  // namespace simtest
