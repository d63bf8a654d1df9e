#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Why a connection failed or ended.
enum class SocketFailure : std::uint8_t {
    none,
    badAddress,  // the host name does not resolve
    refused,     // the host answered: nothing listens on the port
    timedOut,    // no answer within the time-out (connect or write)
    closed,      // the peer closed the connection
    failed,      // any other error of the system's socket layer
};

// One TCP connection of a client, its reads and writes never blocking beyond
// the time given. Not thread-safe: the owner serialises calls.
class TcpConnection {
  public:
    TcpConnection() = default;
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Connects to host:port, trying each address the name resolves to until
    // one answers or timeoutMs has passed in all. A connection that is open is
    // closed first. False with failure()/lastError() set otherwise.
    bool connect(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs);
    void close();
    bool isOpen() const { return handle_ != kInvalid; }
    // True once the peer has closed the connection or it failed; the owner
    // then closes and connects again.
    bool ended() const { return ended_; }

    // Reads what has arrived, up to capacity, without waiting; 0 when nothing
    // has (or the connection has ended: see ended()).
    std::size_t read(std::uint8_t* buffer, std::size_t capacity);
    // Writes all bytes within timeoutMs; false (the connection ended) when it
    // cannot.
    bool write(const std::uint8_t* data, std::size_t count, std::uint32_t timeoutMs);
    // Blocks until bytes or the end of the connection can be read, or
    // timeoutMicros have passed. True when read() has something to tell.
    bool waitReadable(std::uint64_t timeoutMicros);

    SocketFailure failure() const { return failure_; }
    // The last failure in words, e.g. "cannot connect to 10.0.0.5:502: no
    // answer within 1000 ms"; empty when nothing failed.
    const std::string& lastError() const { return error_; }

  private:
    static constexpr std::intptr_t kInvalid = -1;  // also INVALID_SOCKET

    void fail(SocketFailure why, std::string text);

    std::intptr_t handle_ = kInvalid;
    bool ended_ = false;
    // Win32: this object holds a start of the socket layer (unused on POSIX).
    [[maybe_unused]] bool started_ = false;
    SocketFailure failure_ = SocketFailure::none;
    std::string peer_;  // "host:port" for messages
    std::string error_;
};

}  // namespace platform
