// Modbus ASCII end to end: the master against servo-sim --ascii, the master
// against pymodbus's ASCII framer playing a drive, and pymodbus as the master
// against servo-sim. Each over a real pseudo-terminal.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "modbus/master.h"
#include "modbus/request.h"
#include "modbus/result.h"
#include "support/sim_process.h"

namespace {

using modbus::Outcome;
using modbus::RunReport;

const std::uint32_t kAsciiRegs =
    modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, modbus::kFrameAscii);
const std::uint32_t kAsciiCoils =
    modbus::makeSelector(modbus::kKindBits, modbus::kTableOutput, modbus::kFrameAscii);
const std::uint32_t kAsciiInputs =
    modbus::makeSelector(modbus::kKindBits, modbus::kTableInput, modbus::kFrameAscii);
constexpr modbus::RequestTiming kTiming{500, 1};

int reg(const std::uint8_t* buf, int i) {
    return buf[2 * i] | (buf[2 * i + 1] << 8);
}

// The pymodbus peer script as a child: its standard input stays open until
// the peer is destroyed (which ends a drive), its standard output is read by
// line. Throws when it cannot start or says nothing in time, so that a
// missing pymodbus fails the test instead of skipping it.
class PythonPeer {
  public:
    explicit PythonPeer(const std::vector<std::string>& args) {
        int in[2];
        int out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(out[1], 2);
            ::close(in[1]);
            ::close(out[0]);
            std::vector<std::string> all{PYMODBUS_PYTHON, PYMODBUS_PEER_SCRIPT};
            all.insert(all.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (auto& a : all) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ~PythonPeer() { finish(); }
    PythonPeer(const PythonPeer&) = delete;
    PythonPeer& operator=(const PythonPeer&) = delete;

    // The next line of output; throws after 20 s of silence or at its end.
    std::string line() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            if (auto nl = pending_.find('\n'); nl != std::string::npos) {
                std::string l = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                return l;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{stdout_, POLLIN, 0};
            char buf[512];
            const ssize_t got =
                left.count() > 0 && ::poll(&p, 1, static_cast<int>(left.count())) > 0
                    ? ::read(stdout_, buf, sizeof buf)
                    : -1;
            if (got <= 0)
                throw std::runtime_error("pymodbus peer: no line; output so far: " + pending_);
            pending_.append(buf, static_cast<std::size_t>(got));
        }
    }

    // Closes its input and waits for its exit status (killed after 10 s).
    int finish() {
        if (pid_ <= 0) return status_;
        ::close(stdin_);
        int raw = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        pid_t done = 0;
        while ((done = ::waitpid(pid_, &raw, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd p{stdout_, POLLIN, 0};
            char buf[512];
            if (::poll(&p, 1, 50) > 0 && ::read(stdout_, buf, sizeof buf) > 0) continue;
        }
        if (done == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &raw, 0);
        }
        ::close(stdout_);
        pid_ = -1;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return status_;
    }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    int status_ = -1;
    std::string pending_;
};

TEST(AsciiEndToEnd, MasterAgainstServoSimEveryFunctionCodeAndTheFaults) {
    testsupport::SimProcess sim({"--no-pace", "--ascii"});
    modbus::ModbusMaster master;
    master.resetMaster();
    ASSERT_EQ(master.openSerialChannelAt(0, sim.ptyPath(), 115200, 8, 0, 0), modbus::kSuccess);
    RunReport rep;
    std::uint8_t buf[24] = {};

    sim.ok("set reg 30 777");
    sim.ok("log on");
    ASSERT_EQ(master.readItems(0, 1, 29, buf, 6, kAsciiRegs, kTiming, &rep), modbus::kSuccess);
    EXPECT_EQ(reg(buf, 1), 777);
    // P01.07 (register 22) takes 1..65535; P01.12 (27-28) is 32 bits.
    const std::uint8_t one[2] = {0x39, 0x30};
    ASSERT_EQ(master.writeItems(0, 1, 22, one, 2, kAsciiRegs, kTiming, &rep), modbus::kSuccess);
    EXPECT_EQ(sim.ok("get reg 22"), "12345");
    const std::uint8_t two[4] = {0x01, 0x00, 0x02, 0x00};
    ASSERT_EQ(master.writeItems(0, 1, 27, two, 4, kAsciiRegs, kTiming, &rep), modbus::kSuccess);
    EXPECT_EQ(sim.ok("get param 24"), std::to_string(0x00020001));
    // The log holds the decoded frames: the request bytes went out as sent.
    std::istringstream log(sim.ok("log dump"));
    std::string count, first;
    log >> count >> first;
    EXPECT_EQ(count, "3");
    EXPECT_EQ(first.substr(0, 12), "0103001D0003");

    const std::uint8_t pattern = 0b1101;
    ASSERT_EQ(master.writeItems(0, 1, 0, &pattern, 4, kAsciiCoils, kTiming, &rep),
              modbus::kSuccess);
    const std::uint8_t on = 1;
    ASSERT_EQ(master.writeItems(0, 1, 6, &on, 1, kAsciiCoils, kTiming, &rep), modbus::kSuccess);
    ASSERT_EQ(master.readItems(0, 1, 0, buf, 8, kAsciiCoils, kTiming, &rep), modbus::kSuccess);
    EXPECT_EQ(buf[0], 0b01001101);
    sim.ok("set input 9 1");
    ASSERT_EQ(master.readItems(0, 1, 0, buf, 10, kAsciiInputs, kTiming, &rep), modbus::kSuccess);
    EXPECT_EQ(buf[1] & 0x02, 0x02);

    // The drive's refusal, a bad LRC and another station, typed.
    const std::uint8_t zero[2] = {0, 0};
    EXPECT_EQ(master.writeItems(0, 1, 22, zero, 2, kAsciiRegs, kTiming, &rep),
              modbus::kFunctionMismatch);
    EXPECT_EQ(rep.outcome, Outcome::exception);
    EXPECT_EQ(rep.exceptionCode, 3);
    sim.ok("badcrc on");
    EXPECT_EQ(master.readItems(0, 1, 0, buf, 2, kAsciiRegs, kTiming, &rep), modbus::kChecksumError);
    EXPECT_EQ(rep.outcome, Outcome::badChecksum);
    sim.ok("faults off");
    sim.ok("wrongstation on");
    EXPECT_EQ(master.readItems(0, 1, 0, buf, 2, kAsciiRegs, kTiming, &rep), modbus::kFramingError);
    EXPECT_EQ(rep.outcome, Outcome::wrongStation);
    sim.ok("faults off");
    // A response split by a long pause is still one ASCII frame.
    sim.ok("gap 100");
    EXPECT_EQ(master.readItems(0, 1, 29, buf, 6, kAsciiRegs, kTiming, &rep), modbus::kSuccess);
    EXPECT_EQ(reg(buf, 1), 777);
}

TEST(AsciiEndToEnd, MasterAgainstPymodbusDrive) {
    PythonPeer peer({"drive", "7"});
    const std::string ready = peer.line();
    ASSERT_EQ(ready.rfind("READY /dev/", 0), 0u) << ready;
    modbus::ModbusMaster master;
    master.resetMaster();
    ASSERT_EQ(master.openSerialChannelAt(0, ready.substr(6), 115200, 8, 0, 0), modbus::kSuccess)
        << master.portError(0);
    RunReport rep;
    std::uint8_t buf[24] = {};

    ASSERT_EQ(master.readItems(0, 7, 3, buf, 24, kAsciiRegs, kTiming, &rep), modbus::kSuccess);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(reg(buf, i), 1003 + i) << i;
    EXPECT_EQ(peer.line(), "REQUEST 3 3");
    const std::uint8_t values[4] = {0x4D, 0x00, 0x4E, 0x00};  // 77, 78
    ASSERT_EQ(master.writeItems(0, 7, 5, values, 4, kAsciiRegs, kTiming, &rep), modbus::kSuccess);
    EXPECT_EQ(peer.line(), "REQUEST 16 5");
    const std::uint8_t single[2] = {0x10, 0x27};  // 10000
    ASSERT_EQ(master.writeItems(0, 7, 7, single, 2, kAsciiRegs, kTiming, &rep), modbus::kSuccess);
    EXPECT_EQ(peer.line(), "REQUEST 6 7");
    ASSERT_EQ(master.readItems(0, 7, 4, buf, 8, kAsciiRegs, kTiming, &rep), modbus::kSuccess);
    EXPECT_EQ(reg(buf, 0), 1004);
    EXPECT_EQ(reg(buf, 1), 77);
    EXPECT_EQ(reg(buf, 2), 78);
    EXPECT_EQ(reg(buf, 3), 10000);
    EXPECT_EQ(peer.line(), "REQUEST 3 4");

    // Coils 0, 3, 6 ... are on; inputs likewise.
    ASSERT_EQ(master.readItems(0, 7, 0, buf, 7, kAsciiCoils, kTiming, &rep), modbus::kSuccess);
    EXPECT_EQ(buf[0], 0b1001001);
    EXPECT_EQ(peer.line(), "REQUEST 1 0");
    const std::uint8_t on = 1;
    ASSERT_EQ(master.writeItems(0, 7, 1, &on, 1, kAsciiCoils, kTiming, &rep), modbus::kSuccess);
    EXPECT_EQ(peer.line(), "REQUEST 5 1");
    ASSERT_EQ(master.readItems(0, 7, 0, buf, 10, kAsciiInputs, kTiming, &rep), modbus::kSuccess);
    EXPECT_EQ(buf[0], 0b01001001);
    EXPECT_EQ(peer.line(), "REQUEST 2 0");

    // Past the end of pymodbus's store: its exception 02, typed.
    EXPECT_EQ(master.readItems(0, 7, 299, buf, 6, kAsciiRegs, {500, 0}, &rep),
              modbus::kFunctionMismatch);
    EXPECT_EQ(rep.outcome, Outcome::exception);
    EXPECT_EQ(rep.exceptionCode, 2);
    master.closeChannel(0);
    EXPECT_EQ(peer.finish(), 0);
}

TEST(AsciiEndToEnd, PymodbusMasterAgainstServoSim) {
    testsupport::SimProcess sim({"--ascii"});
    sim.ok("set reg 3 1234");
    PythonPeer peer({"master", sim.ptyPath(), "1"});
    const std::string regs = peer.line();
    ASSERT_EQ(regs.rfind("regs ", 0), 0u) << regs;
    std::istringstream values(regs.substr(5));
    std::vector<int> got;
    for (int v; values >> v;) got.push_back(v);
    ASSERT_EQ(got.size(), 12u);
    EXPECT_EQ(got[3], 1234);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(got[i], std::stol(sim.ok("get reg " + std::to_string(i))) & 0xFFFF) << i;
    EXPECT_EQ(peer.line(), "wrote 22");
    EXPECT_EQ(peer.line(), "reg22 4321");
    EXPECT_EQ(sim.ok("get reg 22"), "4321");
    EXPECT_EQ(peer.line(), "coils 1 0 1 1");
    EXPECT_EQ(sim.ok("get coil 3"), "1");
    EXPECT_EQ(peer.finish(), 0);
}

}  // namespace
