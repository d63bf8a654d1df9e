#include "main/demo_drive.h"

#ifdef _WIN32

namespace servo_main {

DemoDrive::~DemoDrive() = default;

bool DemoDrive::start(const std::filesystem::path&, std::string& error) {
    error = "--demo needs a POSIX system (servo-sim runs on a pseudo-terminal)";
    return false;
}

void DemoDrive::stop() {}

}  // namespace servo_main

#else

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

namespace servo_main {
namespace {

constexpr auto kReadyTimeout = std::chrono::seconds(30);
constexpr auto kStopGrace = std::chrono::seconds(3);

// The value of `key=` in a READY line, or "".
std::string field(const std::string& line, const std::string& key) {
    std::istringstream in(line);
    for (std::string word; in >> word;)
        if (word.rfind(key + "=", 0) == 0) return word.substr(key.size() + 1);
    return {};
}

}  // namespace

DemoDrive::~DemoDrive() {
    stop();
}

bool DemoDrive::start(const std::filesystem::path& simulator, std::string& error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const std::string path = simulator.string();
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
#ifdef __linux__
        // The simulator ends with this program, also when it is killed.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
#endif
        ::dup2(fds[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) ::dup2(null, STDIN_FILENO);
        const char* argv[] = {path.c_str(), "--no-stdin", nullptr};
        ::execv(path.c_str(), const_cast<char* const*>(argv));
        ::_exit(127);
    }
    (void)parent;
    ::close(fds[1]);
    pid_ = pid;
    output_ = fds[0];

    // Wait for "READY pty=... station=... baud=...".
    std::string pending;
    const auto deadline = std::chrono::steady_clock::now() + kReadyTimeout;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            error = "servo-sim did not report READY in time";
            stop();
            return false;
        }
        pollfd p{output_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        char buffer[256];
        const ssize_t n = ready > 0 ? ::read(output_, buffer, sizeof buffer) : 0;
        if (ready > 0 && n <= 0) {
            error = "servo-sim ended before it was ready (see its messages above)";
            stop();
            return false;
        }
        pending.append(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line.rfind("READY", 0) != 0) continue;
            portPath_ = field(line, "pty");
            if (portPath_.empty()) portPath_ = field(line, "device");
            if (portPath_.empty()) {
                error = "servo-sim reported no port: " + line;
                stop();
                return false;
            }
            ::setenv("SERVO_COM1", portPath_.c_str(), 1);
            return true;
        }
    }
}

void DemoDrive::stop() {
    if (pid_ > 0) {
        const pid_t pid = static_cast<pid_t>(pid_);
        ::kill(pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
        int status = 0;
        pid_t done = 0;
        while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        pid_ = -1;
    }
    if (output_ >= 0) {
        ::close(output_);
        output_ = -1;
    }
}

}  // namespace servo_main

#endif
