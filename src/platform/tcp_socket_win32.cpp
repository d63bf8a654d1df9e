// TCP client connections on Windows through Windows Sockets.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iterator>

#include "platform/address_lookup.h"
#include "platform/clock.h"
#include "platform/tcp_socket.h"
#include "platform/text.h"

namespace platform {

namespace {

SOCKET socketOf(std::intptr_t handle) {
    return static_cast<SOCKET>(handle);
}

std::string errorText(int code) {
    wchar_t buffer[512] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(code), 0, buffer,
                                   static_cast<DWORD>(std::size(buffer)), nullptr);
    std::string text = toUtf8(std::u16string(buffer, buffer + n));
    while (!text.empty() &&
           (text.back() == '\r' || text.back() == '\n' || text.back() == '.' || text.back() == ' '))
        text.pop_back();
    if (text.empty()) text = "socket error " + std::to_string(code);
    return text;
}

SocketFailure failureOf(int error) {
    switch (error) {
        case WSAECONNREFUSED:
            return SocketFailure::refused;
        case WSAETIMEDOUT:
            return SocketFailure::timedOut;
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAESHUTDOWN:
            return SocketFailure::closed;
        default:
            return SocketFailure::failed;
    }
}

// Waits until the socket is readable (or writable) or deadline passes. For a
// connect, a failed attempt shows in the exception set. 0 on time-out.
int waitFor(SOCKET s, bool forWrite, std::uint64_t deadline) {
    const std::uint64_t now = monotonicMicros();
    const std::uint64_t left = deadline > now ? deadline - now : 0;
    fd_set main;
    fd_set except;
    FD_ZERO(&main);
    FD_ZERO(&except);
    FD_SET(s, &main);
    FD_SET(s, &except);
    timeval tv{static_cast<long>(left / 1'000'000), static_cast<long>(left % 1'000'000)};
    return select(0, forWrite ? nullptr : &main, forWrite ? &main : nullptr, &except, &tv);
}

}  // namespace

TcpConnection::~TcpConnection() {
    close();
    if (started_) WSACleanup();
}

void TcpConnection::fail(SocketFailure why, std::string text) {
    failure_ = why;
    error_ = std::move(text);
}

void TcpConnection::close() {
    if (handle_ != kInvalid) closesocket(socketOf(handle_));
    handle_ = kInvalid;
    ended_ = false;
}

bool TcpConnection::connect(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs) {
    close();
    failure_ = SocketFailure::none;
    error_.clear();
    peer_ = host + ":" + std::to_string(port);
    const std::string what = "cannot connect to " + peer_ + ": ";
    if (!started_) {
        // Counted by the system: balanced in the destructor, whatever else the
        // program has started.
        WSADATA data{};
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            fail(SocketFailure::failed, what + "the socket layer does not start");
            return false;
        }
        started_ = true;
    }
    // The time-out bounds the name's lookup and the connect together.
    const std::uint64_t deadline = monotonicMicros() + std::uint64_t{timeoutMs} * 1000;
    AddressList addresses;
    int code = 0;
    switch (lookUpAddress(host, port, timeoutMs, addresses, code)) {
        case LookupOutcome::found:
            break;
        case LookupOutcome::failed:
            fail(SocketFailure::badAddress, what + errorText(code));
            return false;
        case LookupOutcome::timedOut:
            fail(SocketFailure::timedOut, what + "the name " + host + " was not resolved within " +
                                              std::to_string(timeoutMs) + " ms");
            return false;
    }
    fail(SocketFailure::timedOut, what + "no answer within " + std::to_string(timeoutMs) + " ms");
    for (addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
        const SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            fail(SocketFailure::failed, what + errorText(WSAGetLastError()));
            continue;
        }
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        int error = 0;
        if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
            error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK) {
                if (waitFor(s, true, deadline) <= 0) {
                    closesocket(s);
                    fail(SocketFailure::timedOut,
                         what + "no answer within " + std::to_string(timeoutMs) + " ms");
                    break;
                }
                int len = sizeof error;
                error = 0;
                if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0)
                    error = WSAGetLastError();
            }
        }
        if (error != 0) {
            closesocket(s);
            fail(failureOf(error), what + errorText(error));
            continue;
        }
        const BOOL one = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        handle_ = static_cast<std::intptr_t>(s);
        break;
    }
    if (handle_ == kInvalid) return false;
    failure_ = SocketFailure::none;
    error_.clear();
    return true;
}

std::size_t TcpConnection::read(std::uint8_t* buffer, std::size_t capacity) {
    if (handle_ == kInvalid || ended_ || capacity == 0) return 0;
    const int want = capacity > 65536 ? 65536 : static_cast<int>(capacity);
    const int n = recv(socketOf(handle_), reinterpret_cast<char*>(buffer), want, 0);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n == 0) {
        ended_ = true;
        fail(SocketFailure::closed, "the connection to " + peer_ + " was closed by the peer");
        return 0;
    }
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return 0;
    ended_ = true;
    fail(failureOf(error), "the connection to " + peer_ + " failed: " + errorText(error));
    return 0;
}

bool TcpConnection::write(const std::uint8_t* data, std::size_t count, std::uint32_t timeoutMs) {
    if (handle_ == kInvalid || ended_) return false;
    const std::uint64_t deadline = monotonicMicros() + std::uint64_t{timeoutMs} * 1000;
    while (count > 0) {
        const int want = count > 65536 ? 65536 : static_cast<int>(count);
        const int n = send(socketOf(handle_), reinterpret_cast<const char*>(data), want, 0);
        if (n > 0) {
            data += n;
            count -= static_cast<std::size_t>(n);
            continue;
        }
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            if (waitFor(socketOf(handle_), true, deadline) <= 0) {
                ended_ = true;
                fail(SocketFailure::timedOut, "the connection to " + peer_ + " took no data for " +
                                                  std::to_string(timeoutMs) + " ms");
                return false;
            }
            continue;
        }
        ended_ = true;
        fail(failureOf(error), "the connection to " + peer_ + " failed: " + errorText(error));
        return false;
    }
    return true;
}

bool TcpConnection::waitReadable(std::uint64_t timeoutMicros) {
    if (handle_ == kInvalid) return false;
    if (ended_) return true;
    return waitFor(socketOf(handle_), false, monotonicMicros() + timeoutMicros) > 0;
}

}  // namespace platform
