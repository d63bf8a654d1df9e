// The master through gateways on 127.0.0.1: a libmodbus TCP server, servo-sim
// serving Modbus TCP (also read by mbpoll) and RTU over TCP behind a socat
// bridge, and small gateways of our own that misbehave on purpose.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "drive/session.h"
#include "modbus/crc.h"
#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "modbus/request.h"
#include "modbus/result.h"
#include "platform/clock.h"
#include "platform/tcp_socket.h"
#include "support/sim_process.h"

extern char** environ;

namespace {

using modbus::kFrameRtu;

// A listening socket on 127.0.0.1 at a port the system picks.
struct Listener {
    int fd = -1;
    std::uint16_t port = 0;
    explicit Listener(int backlog = 8) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(fd, backlog) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port = ntohs(a.sin_port);
    }
    ~Listener() {
        if (fd >= 0) ::close(fd);
    }
};

// Reads until `count` bytes have come, the peer closes or 2 s pass.
std::vector<std::uint8_t> receive(int fd, std::size_t count) {
    std::vector<std::uint8_t> in;
    while (in.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0) break;
        std::uint8_t b[512];
        const ssize_t n = ::recv(fd, b, std::min(sizeof b, count - in.size()), 0);
        if (n <= 0) break;
        in.insert(in.end(), b, b + n);
    }
    return in;
}

void sendBytes(int fd, const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}

// The answer to a function-3 request (station, 3, address, quantity): every
// register holds 0x4000 + its address.
std::vector<std::uint8_t> readAnswer(const std::uint8_t* pdu) {
    const unsigned address = unsigned{pdu[2]} << 8 | pdu[3];
    const unsigned quantity = unsigned{pdu[4]} << 8 | pdu[5];
    std::vector<std::uint8_t> out = {pdu[0], 3, static_cast<std::uint8_t>(2 * quantity)};
    for (unsigned i = 0; i < quantity; ++i) {
        const unsigned v = 0x4000 + address + i;
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    }
    return out;
}

std::vector<std::uint8_t> withCrc(std::vector<std::uint8_t> frame) {
    const std::uint16_t crc = modbus::modbusCrc16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

std::vector<std::uint8_t> withMbap(std::uint16_t id, const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> out(6 + body.size());
    out[0] = static_cast<std::uint8_t>(id >> 8);
    out[1] = static_cast<std::uint8_t>(id & 0xFF);
    out[5] = static_cast<std::uint8_t>(body.size());
    std::copy(body.begin(), body.end(), out.begin() + 6);
    return out;
}

// A gateway of our own: serves each connection with the handler (given the
// connection's number from 0) on its own thread, joined on destruction.
class TinyGateway {
  public:
    using Handler = std::function<void(int fd, int connection)>;
    explicit TinyGateway(Handler handler) : handler_(std::move(handler)) {
        thread_ = std::thread([this] {
            for (int n = 0; !stop_.load(std::memory_order_acquire); ++n) {
                pollfd p{listener_.fd, POLLIN, 0};
                while (::poll(&p, 1, 20) == 0)
                    if (stop_.load(std::memory_order_acquire)) return;
                const int fd = ::accept4(listener_.fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) return;
                connections_.fetch_add(1, std::memory_order_acq_rel);
                handler_(fd, n);
                ::close(fd);
            }
        });
    }
    ~TinyGateway() {
        stop_.store(true, std::memory_order_release);
        thread_.join();
    }
    std::uint16_t port() const { return listener_.port; }
    int connections() const { return connections_.load(std::memory_order_acquire); }

  private:
    Listener listener_;
    Handler handler_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

// Serves Modbus TCP reads of holding registers until the peer closes; the
// first connection answers only half of its first answer, then drops.
void modbusTcpDroppingFirst(int fd, int connection) {
    for (int request = 0;; ++request) {
        const auto in = receive(fd, 12);
        if (in.size() < 12) return;
        const auto answer =
            withMbap(static_cast<std::uint16_t>(in[0] << 8 | in[1]), readAnswer(in.data() + 6));
        if (connection == 0 && request == 0) {
            sendBytes(fd, std::vector<std::uint8_t>(answer.begin(), answer.begin() + 9));
            return;
        }
        sendBytes(fd, answer);
    }
}

void rtuTcpDroppingFirst(int fd, int connection) {
    for (int request = 0;; ++request) {
        const auto in = receive(fd, 8);
        if (in.size() < 8) return;
        const auto answer = withCrc(readAnswer(in.data()));
        if (connection == 0 && request == 0) {
            sendBytes(fd, std::vector<std::uint8_t>(answer.begin(), answer.begin() + 5));
            return;
        }
        sendBytes(fd, answer);
    }
}

struct Gateway {
    const char* scheme;
    TinyGateway::Handler handler;
};

TEST(Gateways, ADroppedConnectionFailsTheRunAndTheNextRequestConnectsAgain) {
    const Gateway gateways[] = {{"tcp://", modbusTcpDroppingFirst},
                                {"rtu+tcp://", rtuTcpDroppingFirst}};
    for (const Gateway& g : gateways) {
        SCOPED_TRACE(g.scheme);
        TinyGateway gateway(g.handler);
        modbus::ModbusMaster master;
        master.resetMaster();
        master.setChannelTiming(0, 150, 3);
        ASSERT_EQ(master.openSerialChannelAt(
                      0, g.scheme + std::string("127.0.0.1:") + std::to_string(gateway.port()),
                      115200, 8, 0, 0),
                  modbus::kSuccess)
            << master.portError(0);
        const std::uint32_t selector =
            modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, kFrameRtu);
        std::uint8_t regs[8] = {};
        modbus::RunReport report;
        EXPECT_EQ(master.readItems(0, 5, 100, regs, 8, selector, {150, 3}, &report),
                  modbus::kPortFailure);
        EXPECT_EQ(report.outcome, modbus::Outcome::connectionLost);
        // No retry is sent over a connection that has ended, and half an
        // answer is never taken.
        EXPECT_EQ(report.attempts, 1);
        EXPECT_EQ(regs[0], 0);
        EXPECT_NE(master.portError(0).find("closed by the peer"), std::string::npos)
            << master.portError(0);

        ASSERT_EQ(master.readItems(0, 5, 100, regs, 8, selector, {150, 3}, &report),
                  modbus::kSuccess)
            << master.portError(0);
        EXPECT_EQ(report.attempts, 1);
        EXPECT_EQ(regs[0] | regs[1] << 8, 0x4000 + 100);
        EXPECT_EQ(regs[6] | regs[7] << 8, 0x4000 + 103);
        EXPECT_EQ(gateway.connections(), 2);
    }
}

TEST(Gateways, TheSessionNamesALostConnectionAndCarriesOnAfterIt) {
    TinyGateway gateway(modbusTcpDroppingFirst);
    modbus::ModbusMaster master;
    modbus::DriveAccess access(master);
    master.resetMaster();
    drive::DriveSession session(access);
    drive::LinkSettings settings;
    settings.device = "tcp://127.0.0.1:" + std::to_string(gateway.port());
    settings.timing = {100, 2};
    ASSERT_TRUE(session.connect(settings).ok());
    std::uint8_t buf[2] = {};
    drive::Result r = session.readRegisters(8, buf);
    EXPECT_EQ(r.error, drive::Error::connectionLost);
    EXPECT_EQ(r.accessCode(), drive::kAccessFailed);
    EXPECT_NE(r.cause().find("the connection to 127.0.0.1:"), std::string::npos) << r.cause();
    EXPECT_NE(r.cause().find("closed by the peer"), std::string::npos) << r.cause();
    EXPECT_TRUE(session.connected());
    r = session.readRegisters(8, buf);
    ASSERT_TRUE(r.ok()) << r.cause();
    EXPECT_EQ(buf[0] | buf[1] << 8, 0x4000 + 8);
}

TEST(Gateways, ModbusTcpTakesOnlyTheAnswerWithTheRequestsTransactionId) {
    // Before each answer the gateway sends one with the previous id and other
    // values: the answer to an earlier request, arriving late.
    TinyGateway gateway([](int fd, int) {
        for (;;) {
            const auto in = receive(fd, 12);
            if (in.size() < 12) return;
            const auto id = static_cast<std::uint16_t>(in[0] << 8 | in[1]);
            auto stale = readAnswer(in.data() + 6);
            for (std::size_t i = 3; i < stale.size(); ++i) stale[i] = 0xEE;
            sendBytes(fd, withMbap(static_cast<std::uint16_t>(id - 1), stale));
            sendBytes(fd, withMbap(id, readAnswer(in.data() + 6)));
        }
    });
    modbus::ModbusMaster master;
    master.resetMaster();
    ASSERT_EQ(master.openSerialChannelAt(0, "tcp://127.0.0.1:" + std::to_string(gateway.port()),
                                         115200, 8, 0, 0),
              modbus::kSuccess);
    modbus::DriveAccess access(master);
    access.selectDrive(0, 9, kFrameRtu, true);
    for (std::uint16_t address : {7, 300, 65000}) {
        std::uint8_t regs[4] = {};
        modbus::RunReport report;
        ASSERT_EQ(access.readRegisters(address, regs, 4, {200, 0}, &report), 0) << address;
        EXPECT_EQ(regs[0] | regs[1] << 8, (0x4000 + address) & 0xFFFF);
        EXPECT_EQ(regs[2] | regs[3] << 8, (0x4000 + address + 1) & 0xFFFF);
    }
}

TEST(Gateways, RtuOverTcpReadsAFrameThatComesInPieces) {
    // A gateway that forwards the serial line's bytes as they come: the frame
    // arrives in three pieces, 15 ms apart, far beyond any end-of-frame
    // silence.
    TinyGateway gateway([](int fd, int) {
        for (;;) {
            const auto in = receive(fd, 8);
            if (in.size() < 8) return;
            const auto answer = withCrc(readAnswer(in.data()));
            const std::size_t cuts[] = {0, 2, 9, answer.size()};
            for (int i = 0; i < 3; ++i) {
                if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(15));
                sendBytes(fd, std::vector<std::uint8_t>(answer.begin() + cuts[i],
                                                        answer.begin() + cuts[i + 1]));
            }
        }
    });
    modbus::ModbusMaster master;
    master.resetMaster();
    ASSERT_EQ(master.openSerialChannelAt(0, "rtu+tcp://127.0.0.1:" + std::to_string(gateway.port()),
                                         115200, 8, 0, 0),
              modbus::kSuccess);
    modbus::DriveAccess access(master);
    access.selectDrive(0, 3, kFrameRtu, true);
    std::uint8_t regs[20] = {};
    modbus::RunReport report;
    ASSERT_EQ(access.readRegisters(40, regs, 20, {300, 0}, &report), 0);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(regs[2 * i] | regs[2 * i + 1] << 8, 0x4000 + 40 + i);
}

TEST(Gateways, AConnectThatNobodyAnswersEndsWithinItsTimeOut) {
    // A listener whose queue is full drops further connection requests
    // unanswered, as a host that is down would.
    Listener full(0);
    ASSERT_NE(full.port, 0);
    std::vector<int> queued;
    platform::TcpConnection probe;
    std::uint64_t elapsedMs = 0;
    bool filled = false;
    for (int i = 0; i < 8 && !filled; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(full.port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        queued.push_back(fd);
        const std::uint64_t start = platform::monotonicMicros();
        filled = !probe.connect("127.0.0.1", full.port, 150);
        elapsedMs = (platform::monotonicMicros() - start) / 1000;
        probe.close();
    }
    for (int fd : queued) ::close(fd);
    ASSERT_TRUE(filled) << "the listen queue never filled";
    EXPECT_EQ(probe.failure(), platform::SocketFailure::timedOut);
    EXPECT_NE(probe.lastError().find("no answer within 150 ms"), std::string::npos)
        << probe.lastError();
    EXPECT_GE(elapsedMs, 140u);
    EXPECT_LT(elapsedMs, 2000u);  // ends by the time-out, never hangs

    // Refused and unresolvable hosts are told apart.
    Listener closed;
    const std::uint16_t unused = closed.port;
    ::close(closed.fd);
    closed.fd = -1;
    EXPECT_FALSE(probe.connect("127.0.0.1", unused, 500));
    EXPECT_EQ(probe.failure(), platform::SocketFailure::refused);
    EXPECT_FALSE(probe.connect("no-such-host.invalid", 502, 500));
    EXPECT_EQ(probe.failure(), platform::SocketFailure::badAddress);
}

// libmodbus's own Modbus TCP server, on a port the system picks.
class LibmodbusTcpServer {
  public:
    LibmodbusTcpServer() {
        ctx_ = modbus_new_tcp("127.0.0.1", 0);
        map_ = modbus_mapping_new(16, 16, 300, 16);
        if (!ctx_ || !map_) return;
        for (int i = 0; i < 300; ++i) map_->tab_registers[i] = static_cast<std::uint16_t>(2000 + i);
        for (int i = 0; i < 16; ++i) map_->tab_input_bits[i] = static_cast<std::uint8_t>(i % 2);
        listen_ = modbus_tcp_listen(ctx_, 1);
        sockaddr_in a{};
        socklen_t len = sizeof a;
        if (listen_ < 0 || ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port_ = ntohs(a.sin_port);
        modbus_set_indication_timeout(ctx_, 0, 50000);
        thread_ = std::thread([this] {
            pollfd p{listen_, POLLIN, 0};
            while (::poll(&p, 1, 20) == 0)
                if (stop_.load(std::memory_order_acquire)) return;
            if (modbus_tcp_accept(ctx_, &listen_) < 0) return;
            std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
            while (!stop_.load(std::memory_order_acquire)) {
                const int rc = modbus_receive(ctx_, query);
                if (rc > 0) {
                    std::lock_guard lock(mapMutex_);
                    modbus_reply(ctx_, query, rc, map_);
                } else if (rc < 0 && errno != ETIMEDOUT) {
                    return;
                }
            }
        });
    }
    ~LibmodbusTcpServer() {
        stop_.store(true, std::memory_order_release);
        if (thread_.joinable()) thread_.join();
        if (listen_ >= 0) ::close(listen_);
        if (ctx_) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
        if (map_) modbus_mapping_free(map_);
    }
    std::uint16_t port() const { return port_; }
    std::uint16_t reg(int i) {
        std::lock_guard lock(mapMutex_);
        return map_->tab_registers[i];
    }

  private:
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* map_ = nullptr;
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::mutex mapMutex_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(Gateways, MasterAgainstLibmodbusTcpServer) {
    LibmodbusTcpServer server;
    ASSERT_NE(server.port(), 0);
    modbus::ModbusMaster master;
    master.resetMaster();
    master.setChannelTiming(0, 300, 1);
    ASSERT_EQ(master.openSerialChannelAt(0, "tcp://127.0.0.1:" + std::to_string(server.port()),
                                         115200, 8, 0, 0),
              modbus::kSuccess)
        << master.portError(0);
    modbus::DriveAccess access(master);
    access.selectDrive(0, 7, kFrameRtu, true);

    // 241 registers: three requests of one run.
    std::vector<std::uint8_t> regs(482);
    ASSERT_EQ(access.readRegisters(0, regs.data(), 482), 0);
    for (int i = 0; i < 241; ++i) ASSERT_EQ(regs[2 * i] | regs[2 * i + 1] << 8, 2000 + i) << i;
    const std::uint8_t values[4] = {0x34, 0x12, 0x78, 0x56};
    ASSERT_EQ(access.writeRegisters(20, values, 4), 0);
    EXPECT_EQ(server.reg(20), 0x1234);
    EXPECT_EQ(server.reg(21), 0x5678);
    std::uint8_t inputs[6] = {};
    ASSERT_EQ(access.readInputs(0, inputs, 6), 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(inputs[i], i % 2) << i;
    // Beyond the mapping libmodbus answers exception 02: the run names it.
    modbus::RunReport report;
    EXPECT_EQ(access.readRegisters(400, regs.data(), 2, {300, 1}, &report), modbus::kAccessFailed);
    EXPECT_EQ(report.outcome, modbus::Outcome::exception);
    EXPECT_EQ(report.exceptionCode, 2);
}

// A child process whose standard error is read line by line; killed and
// reaped on destruction.
class Child {
  public:
    explicit Child(std::vector<std::string> args) {
        int err[2];
        if (::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(err[1]);
        err_ = err[0];
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (err_ >= 0) ::close(err_);
    }
    // The first match of the pattern's group 1 in the error output, waiting
    // up to 10 s; "" when none comes.
    std::string waitFor(const std::regex& pattern) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::smatch m;
        while (!std::regex_search(text_, m, pattern)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{err_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
            char b[512];
            const ssize_t n = ::read(err_, b, sizeof b);
            if (n <= 0) return {};
            text_.append(b, static_cast<std::size_t>(n));
        }
        return m[1];
    }

  private:
    pid_t pid_ = -1;
    int err_ = -1;
    std::string text_;
};

TEST(Gateways, RtuOverTcpToServoSimThroughASocatBridge) {
    testsupport::SimProcess sim({"--rtu-tcp", "0"});
    const std::string simPort = sim.ptyPath().substr(sim.ptyPath().rfind(':') + 1);
    // socat stands for the gateway: it listens on a port of its choice and
    // says which once it listens.
    Child socat(
        {"socat", "-d", "-d", "TCP-LISTEN:0,bind=127.0.0.1,reuseaddr", "TCP:127.0.0.1:" + simPort});
    const std::string bridge =
        socat.waitFor(std::regex("listening on AF=2 127\\.0\\.0\\.1:(\\d+)"));
    ASSERT_FALSE(bridge.empty()) << "socat did not start listening";

    modbus::ModbusMaster master;
    modbus::DriveAccess access(master);
    master.resetMaster();
    master.setChannelTiming(0, 300, 2);
    ASSERT_EQ(access.openLinkAt(0, "rtu+tcp://127.0.0.1:" + bridge, 115200, 8, 0, 0),
              modbus::kLinkSuccess)
        << access.linkError(0);
    access.selectDrive(0, 1, kFrameRtu, true);
    sim.ok("set reg 22 4321");
    std::uint8_t buf[2] = {};
    ASSERT_EQ(access.readRegisters(22, buf, 2), 0);
    EXPECT_EQ(buf[0] | buf[1] << 8, 4321);
    const std::uint8_t value[2] = {0x39, 0x05};  // 1337
    ASSERT_EQ(access.writeRegisters(22, value, 2), 0);
    EXPECT_EQ(sim.ok("get reg 22"), "1337");
    // The bytes on the simulator's side are RTU frames as on a serial line.
    sim.ok("log on");
    ASSERT_EQ(access.readRegisters(22, buf, 2), 0);
    EXPECT_NE(sim.ok("log dump").find("01030016000"), std::string::npos);
}

TEST(Gateways, ModbusTcpToServoSimFromTheSessionAndFromMbpoll) {
    testsupport::SimProcess sim({"--tcp", "0"});
    ASSERT_EQ(sim.ptyPath().rfind("tcp://127.0.0.1:", 0), 0u) << sim.readyLine();
    sim.ok("set reg 22 2024");

    // The drive session (the GUI's and servoctl's path) takes the port text as
    // its device.
    modbus::ModbusMaster master;
    modbus::DriveAccess access(master);
    master.resetMaster();
    {
        drive::DriveSession session(access);
        drive::LinkSettings settings;
        settings.device = sim.ptyPath();
        ASSERT_TRUE(session.connect(settings).ok());
        EXPECT_EQ(session.snapshot().device, sim.ptyPath());
        std::uint8_t buf[2] = {};
        const drive::Result r = session.readRegisters(22, buf);
        ASSERT_TRUE(r.ok()) << r.cause();
        EXPECT_EQ(buf[0] | buf[1] << 8, 2024);
        session.disconnect();
    }

    // mbpoll as an independent Modbus TCP master; it counts references from 1.
    const std::string port = sim.ptyPath().substr(sim.ptyPath().rfind(':') + 1);
    const std::string command =
        "timeout 20 mbpoll -m tcp -p " + port + " -a 1 -r 23 -c 1 -1 127.0.0.1 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) output += line;
    EXPECT_EQ(::pclose(pipe), 0) << output;
    EXPECT_NE(output.find("[23]: \t2024"), std::string::npos) << output;
}

TEST(Gateways, RefusedPortTextsAndUnreachableGatewaysNameTheCause) {
    modbus::ModbusMaster master;
    modbus::DriveAccess access(master);
    master.resetMaster();
    drive::DriveSession session(access);
    drive::LinkSettings settings;
    settings.device = "rtu+tcp://127.0.0.1";
    drive::Result r = session.connect(settings);
    EXPECT_EQ(r.error, drive::Error::portUnavailable);
    EXPECT_NE(r.cause().find("needs a port number"), std::string::npos) << r.cause();

    Listener closed;
    settings.device = "tcp://127.0.0.1:" + std::to_string(closed.port);
    ::close(closed.fd);
    closed.fd = -1;
    r = session.connect(settings);
    EXPECT_EQ(r.error, drive::Error::portUnavailable);
    EXPECT_NE(r.cause().find("cannot connect to 127.0.0.1:"), std::string::npos) << r.cause();
    EXPECT_FALSE(session.connected());
}

TEST(Gateways, ModbusTcpRefusesToCarryAnAsciiRequest) {
    TinyGateway gateway([](int fd, int) { receive(fd, 1); });
    modbus::ModbusMaster master;
    master.resetMaster();
    ASSERT_EQ(master.openSerialChannelAt(0, "tcp://127.0.0.1:" + std::to_string(gateway.port()),
                                         115200, 8, 0, 0),
              modbus::kSuccess);
    std::uint8_t regs[2] = {};
    modbus::RunReport report;
    EXPECT_EQ(master.readItems(0, 1, 0, regs, 2,
                               modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput,
                                                    modbus::kFrameAscii),
                               {100, 0}, &report),
              modbus::kPortFailure);
    EXPECT_EQ(report.outcome, modbus::Outcome::portFailure);
    EXPECT_NE(master.portError(0).find("RTU-framed requests only"), std::string::npos)
        << master.portError(0);
}

}  // namespace
