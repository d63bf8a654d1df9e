#pragma once
// The master's transports to a gateway on the network. The master frames
// every request as RTU (station, PDU, CRC) and reads RTU frames back; a
// network link carries them in its own way and hands back, as received bytes,
// only what may be taken for a frame:
// - Modbus TCP wraps the station and PDU in an MBAP header with a new
//   transaction id per request; an answer whose id is not the last request's
//   (a late answer to an earlier one) is dropped, and the answer that is kept
//   gets its CRC back, TCP having checked its bytes already.
// - RTU over TCP carries the frames unchanged. A TCP stream has no line
//   silence to end a frame by, so the bytes of a frame whose length its first
//   bytes tell are held back until it is complete (or kHoldMicros have passed,
//   or the connection ends), and the master never sees half of a frame that
//   is still on its way.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modbus/network_port.h"
#include "platform/tcp_socket.h"

namespace modbus {

class NetworkLink {
  public:
    // The longest an RTU frame over TCP is held back waiting for its rest.
    static constexpr std::uint64_t kHoldMicros = 50'000;
    // The longest a request may wait for the peer to take it.
    static constexpr std::uint32_t kWriteTimeoutMs = 1000;

    static std::unique_ptr<NetworkLink> create(const NetworkPort& where);
    virtual ~NetworkLink() = default;
    NetworkLink(const NetworkLink&) = delete;
    NetworkLink& operator=(const NetworkLink&) = delete;

    // Makes a new connection (an open one is closed first). False with
    // lastError() set when none is made within timeoutMs.
    bool connect(std::uint32_t timeoutMs);
    void close();
    bool isOpen() const { return connection_.isOpen(); }
    // The connection has ended (closed by the peer, reset, a write not taken,
    // or a stream that cannot be followed): nothing more comes on it.
    bool ended() const { return connection_.isOpen() && (connection_.ended() || broken_); }

    // Bytes ready to be read, as SerialPort: received, whole frames only.
    std::size_t bytesWaiting();
    std::size_t read(std::uint8_t* buffer, std::size_t capacity);
    // Sends one RTU frame (CRC included). False when the connection fails.
    bool write(const std::uint8_t* frame, std::size_t count);
    // As SerialPort::waitReadable; an ended connection waits the full time and
    // gives false, so that the master sees silence and ends by its time-out.
    bool waitReadable(std::uint64_t timeoutMicros);
    // Drops everything received and not yet read.
    void purge();

    // "tcp://10.0.0.5:502" for messages.
    std::string name() const { return where_.text(); }
    const std::string& lastError() const { return error_; }
    // Bytes dropped as not belonging to the current request (for tests).
    std::uint64_t droppedBytes() const { return dropped_; }

  protected:
    explicit NetworkLink(NetworkPort where) : where_(std::move(where)) {}
    // The bytes that carry one RTU frame; false (with fail()) when the frame
    // cannot be carried.
    virtual bool encode(const std::uint8_t* frame, std::size_t count,
                        std::vector<std::uint8_t>& out) = 0;
    // Moves what may be read from raw_ to ready_ (or drops it); `ending` is
    // true when nothing more will arrive. Returns the time (monotonicMicros)
    // at which bytes held back are to be let go anyway, or 0 when none are.
    virtual std::uint64_t deliver(std::uint64_t now, bool ending) = 0;
    // Marks the stream as impossible to follow; the connection counts as ended.
    void breakStream(std::string why);
    void drop(std::size_t count) { dropped_ += count; }

    std::vector<std::uint8_t> raw_;    // received, not yet delivered
    std::vector<std::uint8_t> ready_;  // delivered, not yet read

  private:
    // Reads what has arrived and delivers it; the hold deadline or 0.
    std::uint64_t pump();

    NetworkPort where_;
    platform::TcpConnection connection_;
    bool broken_ = false;
    std::string error_;
    std::uint64_t dropped_ = 0;
};

}  // namespace modbus
