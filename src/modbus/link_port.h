#pragma once
// The port of a master channel: a serial port, or a connection to a gateway
// when the device is written "tcp://HOST:PORT" or "rtu+tcp://HOST:PORT". The
// calls are SerialPort's, so that the master reads and writes either alike.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "modbus/network_link.h"
#include "platform/serial.h"

namespace modbus {

class LinkPort {
  public:
    // Opens the device: a network port connects within connectTimeoutMs (its
    // text is checked first, and a bad one is refused with the reason).
    bool open(const std::string& device, std::uint32_t connectTimeoutMs);
    // Line settings and time-outs apply to a serial port; a network link
    // takes them and ignores them.
    bool configure(const platform::SerialLineSettings& settings);
    bool setTimeouts(const platform::SerialTimeouts& timeouts);
    bool purge();
    void close();
    // A network port stays open while its connection is down: the channel
    // keeps its place, and the next request connects again.
    bool isOpen() const;
    bool isNetwork() const { return network_ != nullptr; }

    std::size_t bytesWaiting();
    std::size_t read(std::uint8_t* buffer, std::size_t capacity);
    bool write(const std::uint8_t* data, std::size_t count);
    bool waitReadable(std::uint64_t timeoutMicros);

    // A network connection that has ended since it was made; false for a
    // serial port.
    bool connectionLost() const;
    // Makes a new connection in place of one that ended, within the open's
    // time-out; lastError() tells why none is made.
    bool reconnect();

    const std::string& devicePath() const { return path_; }
    const std::string& lastError() const;

  private:
    platform::SerialPort serial_;
    std::unique_ptr<NetworkLink> network_;
    std::string path_;
    std::string error_;  // a refused network port text
    std::uint32_t connectTimeoutMs_ = 0;
};

}  // namespace modbus
