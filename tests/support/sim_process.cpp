#include "support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef SERVO_SIM_PATH
#error "SERVO_SIM_PATH must name the servo-sim executable"
#endif

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string makeErrorFile() {
    std::string path = "/tmp/servo-sim-stderr.XXXXXX";
    int fd = ::mkstemp(path.data());
    if (fd < 0) throw std::runtime_error("servo-sim fixture: mkstemp failed");
    ::close(fd);
    return path;
}

// Forks and execs servo-sim with its stdin and stdout on one end of a socket
// pair (returned in `control`) and its stderr into a file.
pid_t spawn(const std::vector<std::string>& args, const std::string& errorFile, int& control) {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        throw std::runtime_error(std::string("servo-sim fixture: socketpair: ") +
                                 std::strerror(errno));
    std::vector<std::string> all{SimProcess::executable()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();

    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(sv[0]);
        ::close(sv[1]);
        throw std::runtime_error(std::string("servo-sim fixture: fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here on. The simulator dies with
        // the test process, whatever way that ends.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        int err = ::open(errorFile.c_str(), O_WRONLY | O_TRUNC);
        if (err < 0 || ::dup2(sv[1], 0) < 0 || ::dup2(sv[1], 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(127);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(sv[1]);
    control = sv[0];
    return pid;
}

// Waits for the child's end up to a time; true when reaped.
bool reap(pid_t pid, int& status, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return true;
        if (r < 0 && errno != EINTR) return true;  // not our child any more
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

std::string field(const std::string& line, const std::string& key) {
    std::size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) return {};
    at += key.size() + 2;
    return line.substr(at, line.find(' ', at) - at);
}

}  // namespace

std::string SimProcess::executable() {
    return SERVO_SIM_PATH;
}

SimProcess::SimProcess(std::vector<std::string> args, std::chrono::milliseconds readyTimeout) {
    errorFile_ = makeErrorFile();
    try {
        pid_ = spawn(args, errorFile_, control_);
        const auto deadline = Clock::now() + readyTimeout;
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            std::string line = readLine(std::max(left, std::chrono::milliseconds(0)));
            if (line.rfind("READY ", 0) == 0) {
                readyLine_ = line;
                break;
            }
        }
        portPath_ = field(readyLine_, "pty");
        if (portPath_.empty()) portPath_ = field(readyLine_, "device");
        if (portPath_.empty() && !field(readyLine_, "tcp").empty())
            portPath_ = "tcp://" + field(readyLine_, "tcp");
        if (portPath_.empty() && !field(readyLine_, "rtu-tcp").empty())
            portPath_ = "rtu+tcp://" + field(readyLine_, "rtu-tcp");
        if (portPath_.empty())
            throw std::runtime_error("servo-sim fixture: no port in \"" + readyLine_ + "\"");
    } catch (const std::exception& e) {
        std::string message =
            std::string(e.what()) + "\nservo-sim standard error:\n" + errorOutput();
        stop();
        ::unlink(errorFile_.c_str());
        throw std::runtime_error(message);
    }
}

SimProcess::~SimProcess() {
    stop();
    ::unlink(errorFile_.c_str());
}

std::string SimProcess::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (auto eol = pending_.find('\n'); eol != std::string::npos) {
            std::string line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (control_ < 0) throw std::runtime_error("servo-sim fixture: the simulator is stopped");
        if (left.count() <= 0)
            throw std::runtime_error("servo-sim fixture: no line from the simulator within " +
                                     std::to_string(timeout.count()) + " ms");
        pollfd p{control_, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) continue;
        char buffer[4096];
        ssize_t n = ::recv(control_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            throw std::runtime_error(
                "servo-sim fixture: the simulator closed its output (it exited?)");
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string SimProcess::command(std::string_view line, std::chrono::milliseconds timeout) {
    if (control_ < 0) throw std::runtime_error("servo-sim fixture: the simulator is stopped");
    std::string text(line);
    text.push_back('\n');
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::send(control_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            throw std::runtime_error("servo-sim fixture: cannot send \"" + std::string(line) +
                                     "\"");
        done += static_cast<std::size_t>(n);
    }
    return readLine(timeout);
}

std::string SimProcess::ok(std::string_view line) {
    std::string answer = command(line);
    if (answer == "OK") return {};
    if (answer.rfind("OK ", 0) != 0)
        throw std::runtime_error("servo-sim: \"" + std::string(line) + "\" answered \"" + answer +
                                 "\"");
    return answer.substr(3);
}

void SimProcess::exportAsCom(int n) const {
    ::setenv(("SERVO_COM" + std::to_string(n)).c_str(), portPath_.c_str(), 1);
}

int SimProcess::stop() {
    if (pid_ <= 0) return exitStatus_;
    int status = 0;
    ::kill(pid_, SIGTERM);
    if (!reap(pid_, status, std::chrono::seconds(5))) {
        ::kill(pid_, SIGKILL);
        reap(pid_, status, std::chrono::seconds(60));
    }
    pid_ = -1;
    exitStatus_ = status;
    if (control_ >= 0) ::close(control_);
    control_ = -1;
    return status;
}

bool SimProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
    // Reaped here: forget the pid, which the system may give to another process.
    exitStatus_ = status;
    pid_ = -1;
    if (control_ >= 0) ::close(control_);
    control_ = -1;
    return false;
}

std::string SimProcess::errorOutput() const {
    return readFile(errorFile_);
}

SimProcess::Exit SimProcess::runToExit(std::vector<std::string> args,
                                       std::chrono::milliseconds timeout) {
    const std::string errorFile = makeErrorFile();
    int control = -1;
    pid_t pid = spawn(args, errorFile, control);
    ::shutdown(control, SHUT_WR);  // no control commands: standard input ends
    int status = 0;
    bool ended = reap(pid, status, timeout);
    if (!ended) {
        ::kill(pid, SIGKILL);
        reap(pid, status, std::chrono::seconds(60));
    }
    Exit result;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(control, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
        result.output.append(buffer, static_cast<std::size_t>(n));
    ::close(control);
    result.code = exitCodeOf(status);
    result.errorOutput = readFile(errorFile);
    ::unlink(errorFile.c_str());
    if (!ended)
        throw std::runtime_error("servo-sim did not exit within " +
                                 std::to_string(timeout.count()) + " ms; standard error:\n" +
                                 result.errorOutput);
    return result;
}

}  // namespace testsupport
