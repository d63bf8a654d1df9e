#include "tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace sim {

namespace {

// Writes everything on a non-blocking socket; false when the client is gone
// or a stop came.
bool sendAll(int fd, const std::uint8_t* bytes, std::size_t count, const StopSignal& stop) {
    while (count > 0) {
        const ssize_t n = ::send(fd, bytes, count, MSG_NOSIGNAL);
        if (n > 0) {
            bytes += n;
            count -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p[2] = {{fd, POLLOUT, 0}, {stop.fd(), POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 && errno != EINTR) return false;
            if (p[1].revents) return false;
            continue;
        }
        return false;
    }
    return true;
}

// One Modbus TCP client until it closes, sends a header that cannot be
// followed, or a stop comes.
void serveModbusTcpClient(int fd, RtuSlave& slave, const FaultSettings& faults,
                          const SlaveSettings& settings, const StopSignal& stop) {
    std::vector<std::uint8_t> in;
    std::uint8_t buffer[1024];
    while (!stop.requested()) {
        pollfd p[2] = {{fd, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[1].revents) return;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got == 0) return;
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return;
        }
        in.insert(in.end(), buffer, buffer + got);
        while (in.size() >= 7) {
            const std::size_t length = std::size_t{in[4]} << 8 | in[5];
            if (in[2] != 0 || in[3] != 0 || length < 2 || length > 254) return;
            if (in.size() < 6 + length) break;
            std::vector<std::uint8_t> rtu(in.begin() + 6,
                                          in.begin() + 6 + static_cast<std::ptrdiff_t>(length));
            const std::uint8_t id[2] = {in[0], in[1]};
            in.erase(in.begin(), in.begin() + 6 + static_cast<std::ptrdiff_t>(length));
            appendCrc(rtu);
            auto response = slave.handle(rtu);
            if (!response || response->size() < 4) continue;
            const auto wait =
                std::chrono::microseconds(settings.turnaroundUs.load(std::memory_order_relaxed)) +
                std::chrono::milliseconds(faults.delayMs.load(std::memory_order_relaxed));
            if (!stop.sleepFor(wait)) return;
            const std::size_t answer = response->size() - 2;  // unit id + PDU
            std::vector<std::uint8_t> out = {id[0],
                                             id[1],
                                             0,
                                             0,
                                             static_cast<std::uint8_t>(answer >> 8),
                                             static_cast<std::uint8_t>(answer & 0xFF)};
            out.insert(out.end(), response->begin(),
                       response->begin() + static_cast<std::ptrdiff_t>(answer));
            if (!sendAll(fd, out.data(), out.size(), stop)) return;
        }
    }
}

}  // namespace

std::unique_ptr<TcpListener> TcpListener::open(std::uint16_t port, std::string& error) {
    std::unique_ptr<TcpListener> l(new TcpListener);
    l->fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (l->fd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return nullptr;
    }
    const int one = 1;
    ::setsockopt(l->fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(l->fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(l->fd_, 8) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        return nullptr;
    }
    socklen_t len = sizeof a;
    ::getsockname(l->fd_, reinterpret_cast<sockaddr*>(&a), &len);
    l->port_ = ntohs(a.sin_port);
    return l;
}

TcpListener::~TcpListener() {
    if (fd_ >= 0) ::close(fd_);
}

int TcpListener::accept(const StopSignal& stop) {
    while (!stop.requested()) {
        pollfd p[2] = {{fd_, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (p[1].revents) return -1;
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        // Paced answers leave in small pieces, each at once.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return fd;
    }
    return -1;
}

void serveModbusTcp(TcpListener& listener, RtuSlave& slave, const FaultSettings& faults,
                    const SlaveSettings& settings, const StopSignal& stop) {
    for (int fd; (fd = listener.accept(stop)) >= 0;) {
        serveModbusTcpClient(fd, slave, faults, settings, stop);
        ::close(fd);
    }
}

void serveRtuTcp(TcpListener& listener, const LineOptions& options, RtuSlave& slave,
                 const FaultSettings& faults, const SlaveSettings& settings,
                 const StopSignal& stop) {
    for (int fd; (fd = listener.accept(stop)) >= 0;) {
        serveStream(fd, options, slave, faults, settings, stop, true);
        ::close(fd);
    }
}

}  // namespace sim
