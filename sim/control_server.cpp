#include "control_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace sim {

namespace {

constexpr std::size_t kMaxLine = 4096;

struct Client {
    int in;
    int out;
    std::string pending;
};

void writeLine(int fd, std::string line) {
    line.push_back('\n');
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the reader has gone; nothing to tell
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace

ControlServer::~ControlServer() {
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(socketPath_.c_str());
    }
}

bool ControlServer::listen(const std::string& path, std::string& error) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        error = "control socket path too long: " + path;
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            error = path + " exists and is not a socket";
            return false;
        }
        ::unlink(path.c_str());
    }
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 8) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        if (listenFd_ >= 0) ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    socketPath_ = path;
    return true;
}

void ControlServer::run() {
    std::vector<Client> clients;
    if (useStdin_) clients.push_back({STDIN_FILENO, STDOUT_FILENO, {}});
    while (!stop_.requested() && !controller_.quitRequested()) {
        std::vector<pollfd> fds{{stop_.fd(), POLLIN, 0}};
        if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
        const std::size_t firstClient = fds.size();
        for (const auto& c : clients) fds.push_back({c.in, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        if (listenFd_ >= 0 && (fds[1].revents & POLLIN)) {
            int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) clients.push_back({fd, fd, {}});
        }
        std::vector<std::size_t> closed;
        for (std::size_t k = 0; k + firstClient < fds.size(); ++k) {
            if (!fds[firstClient + k].revents) continue;
            Client& c = clients[k];
            char buffer[1024];
            ssize_t n = ::read(c.in, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                closed.push_back(k);
                continue;
            }
            c.pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t eol;
            while ((eol = c.pending.find('\n')) != std::string::npos) {
                std::string line = c.pending.substr(0, eol);
                c.pending.erase(0, eol + 1);
                writeLine(c.out, controller_.execute(line));
                if (controller_.quitRequested()) return;
            }
            if (c.pending.size() > kMaxLine) {
                c.pending.clear();
                writeLine(c.out, "ERR line too long");
            }
        }
        for (auto it = closed.rbegin(); it != closed.rend(); ++it) {
            if (clients[*it].in != STDIN_FILENO) ::close(clients[*it].in);
            clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(*it));
        }
    }
    for (const auto& c : clients)
        if (c.in != STDIN_FILENO) ::close(c.in);
}

}  // namespace sim
