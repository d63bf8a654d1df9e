// TCP client connections on POSIX systems.

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/address_lookup.h"
#include "platform/clock.h"
#include "platform/tcp_socket.h"

namespace platform {

namespace {

int fdOf(std::intptr_t handle) {
    return static_cast<int>(handle);
}

// Waits for the events on fd until deadline (monotonicMicros); the revents,
// or 0 when the time ran out.
short waitFor(int fd, short events, std::uint64_t deadline) {
    for (;;) {
        const std::uint64_t now = monotonicMicros();
        const std::uint64_t left = deadline > now ? deadline - now : 0;
        pollfd p{fd, events, 0};
        timespec ts{static_cast<time_t>(left / 1'000'000),
                    static_cast<long>(left % 1'000'000) * 1000};
        const int r = ::ppoll(&p, 1, &ts, nullptr);
        if (r > 0) return p.revents;
        if (r == 0) return 0;
        if (errno != EINTR) return POLLERR;
    }
}

SocketFailure failureOf(int error) {
    switch (error) {
        case ECONNREFUSED:
            return SocketFailure::refused;
        case ETIMEDOUT:
            return SocketFailure::timedOut;
        case ECONNRESET:
        case EPIPE:
            return SocketFailure::closed;
        default:
            return SocketFailure::failed;
    }
}

}  // namespace

TcpConnection::~TcpConnection() {
    close();
}

void TcpConnection::fail(SocketFailure why, std::string text) {
    failure_ = why;
    error_ = std::move(text);
}

void TcpConnection::close() {
    if (handle_ != kInvalid) ::close(fdOf(handle_));
    handle_ = kInvalid;
    ended_ = false;
}

bool TcpConnection::connect(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs) {
    close();
    failure_ = SocketFailure::none;
    error_.clear();
    peer_ = host + ":" + std::to_string(port);
    const std::string what = "cannot connect to " + peer_ + ": ";
    // The time-out bounds the name's lookup and the connect together.
    const std::uint64_t deadline = monotonicMicros() + std::uint64_t{timeoutMs} * 1000;
    AddressList addresses;
    int code = 0;
    switch (lookUpAddress(host, port, timeoutMs, addresses, code)) {
        case LookupOutcome::found:
            break;
        case LookupOutcome::failed:
            fail(SocketFailure::badAddress, what + ::gai_strerror(code));
            return false;
        case LookupOutcome::timedOut:
            fail(SocketFailure::timedOut, what + "the name " + host + " was not resolved within " +
                                              std::to_string(timeoutMs) + " ms");
            return false;
    }
    fail(SocketFailure::timedOut, what + "no answer within " + std::to_string(timeoutMs) + " ms");
    for (addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            fail(SocketFailure::failed, what + std::strerror(errno));
            continue;
        }
        int error = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                const short ev = waitFor(fd, POLLOUT, deadline);
                if (ev == 0) {
                    ::close(fd);
                    fail(SocketFailure::timedOut,
                         what + "no answer within " + std::to_string(timeoutMs) + " ms");
                    break;  // the time is used up for every further address too
                }
                socklen_t len = sizeof error;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
            }
        }
        if (error != 0) {
            ::close(fd);
            fail(failureOf(error), what + std::strerror(error));
            continue;
        }
        // Requests are small and each waits for its answer: send them at once.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        handle_ = fd;
        break;
    }
    if (handle_ == kInvalid) return false;
    failure_ = SocketFailure::none;
    error_.clear();
    return true;
}

std::size_t TcpConnection::read(std::uint8_t* buffer, std::size_t capacity) {
    if (handle_ == kInvalid || ended_ || capacity == 0) return 0;
    for (;;) {
        const ssize_t n = ::recv(fdOf(handle_), buffer, capacity, MSG_DONTWAIT);
        if (n > 0) return static_cast<std::size_t>(n);
        if (n == 0) {
            ended_ = true;
            fail(SocketFailure::closed, "the connection to " + peer_ + " was closed by the peer");
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        const int error = errno;
        ended_ = true;
        fail(failureOf(error), "the connection to " + peer_ + " failed: " + std::strerror(error));
        return 0;
    }
}

bool TcpConnection::write(const std::uint8_t* data, std::size_t count, std::uint32_t timeoutMs) {
    if (handle_ == kInvalid || ended_) return false;
    const std::uint64_t deadline = monotonicMicros() + std::uint64_t{timeoutMs} * 1000;
    while (count > 0) {
        const ssize_t n = ::send(fdOf(handle_), data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            count -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (waitFor(fdOf(handle_), POLLOUT, deadline) == 0) {
                ended_ = true;
                fail(SocketFailure::timedOut, "the connection to " + peer_ + " took no data for " +
                                                  std::to_string(timeoutMs) + " ms");
                return false;
            }
            continue;
        }
        const int error = n < 0 ? errno : EPIPE;
        ended_ = true;
        fail(failureOf(error), "the connection to " + peer_ + " failed: " + std::strerror(error));
        return false;
    }
    return true;
}

bool TcpConnection::waitReadable(std::uint64_t timeoutMicros) {
    if (handle_ == kInvalid) return false;
    if (ended_) return true;
    return waitFor(fdOf(handle_), POLLIN, monotonicMicros() + timeoutMicros) != 0;
}

}  // namespace platform
