// servo-sim as a process, through its pseudo-terminal: our own RTU client and
// mbpoll as masters, the fixture's control channel to switch faults on and
// off while it runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <regex>
#include <thread>

#include "drive_layout.h"
#include "sim/rtu_client.h"
#include "sim/test_defs.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;
using simtest::Bytes;
using simtest::RtuClient;
using testsupport::SimProcess;
using Clock = std::chrono::steady_clock;

// A simulator on the test language file, with a client on its pty.
struct Rig {
    explicit Rig(std::vector<std::string> extra = {})
        : sim(args(std::move(extra))), client(sim.ptyPath()) {}

    std::vector<std::string> args(std::vector<std::string> extra) {
        std::vector<std::string> a{"--defs", simtest::writeTestDefs(dir.path()).string()};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }

    simtest::TempDir dir;
    SimProcess sim;
    RtuClient client;
};

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Output of a command line, with its exit status.
std::pair<int, std::string> run(const std::string& command) {
    std::string out;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return {-1, {}};
    std::array<char, 512> buffer;
    while (std::fgets(buffer.data(), buffer.size(), p)) out += buffer.data();
    int status = ::pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(SimLine, ReadyLineAndLink) {
    simtest::TempDir dir;
    const auto link = (dir.path() / "com1").string();
    SimProcess sim(
        {"--defs", simtest::writeTestDefs(dir.path()).string(), "--link", link, "--station", "7"});
    EXPECT_TRUE(std::regex_match(sim.readyLine(), std::regex("READY pty=/dev/pts/[0-9]+ link=" +
                                                             link + " station=7 baud=115200")))
        << sim.readyLine();
    EXPECT_EQ(std::filesystem::read_symlink(link), sim.ptyPath());
    RtuClient client(link);
    client.station_ = 7;
    EXPECT_EQ(client.readRegisters(0, 2), (std::vector<std::uint16_t>{10, 1207}));
    sim.exportAsCom(1);
    EXPECT_EQ(std::string(std::getenv("SERVO_COM1")), sim.ptyPath());
    EXPECT_EQ(sim.stop(), 0);  // a clean end on SIGTERM, and the link is gone
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(SimLine, ServesAGivenDevice) {
    // A pty pair made here stands in for a serial device.
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string device = ::ptsname(master);
    simtest::TempDir dir;
    SimProcess sim({"--defs", simtest::writeTestDefs(dir.path()).string(), "--device", device,
                    "--baud", "9600"});
    EXPECT_EQ(sim.readyLine(), "READY device=" + device + " station=1 baud=9600");
    RtuClient c(master);
    EXPECT_EQ(c.readRegisters(0, 2), (std::vector<std::uint16_t>{10, 1207}));
    // The line speed sets the pace: at 9600 bit/s the 45 bytes of 20 registers
    // take 47 ms.
    EXPECT_EQ(c.readRegisters(100, 20).size(), 20u);
    EXPECT_GE(c.lastByteAt - c.firstByteAt, 25ms);
}

TEST(SimLine, ParameterReadsAndWrites) {
    Rig rig;
    auto& c = rig.client;
    // Factory values; the poll reads registers past the last parameter, which answer 0.
    EXPECT_EQ(c.readRegisters(0, 16),
              (std::vector<std::uint16_t>{10, 1207, 0xFFFB, 0xFFFF, 0xFFFF, 0, 0, 0, 0, 0, 0, 0, 0,
                                          0, 0, 0}));
    c.writeRegister(0, 42);
    c.writeRegisters(2, {0x86A0, 0x0001});  // 100000, low register first
    c.writeRegister(4, 0xFF9C);             // -100
    EXPECT_EQ(c.readRegisters(0, 5),
              (std::vector<std::uint16_t>{42, 1207, 0x86A0, 0x0001, 0xFF9C}));
    EXPECT_EQ(rig.sim.ok("get param 2"), "100000");
    EXPECT_EQ(rig.sim.ok("get param 3"), "-100");
    EXPECT_EQ(rig.sim.ok("get reg 0"), "42");
}

TEST(SimLine, ExceptionResponses) {
    Rig rig;
    auto& c = rig.client;
    EXPECT_EQ(c.exceptionOf(6, simtest::writeSingle(1, 5)), 2);    // read-only
    EXPECT_EQ(c.exceptionOf(6, simtest::writeSingle(0, 101)), 3);  // above the maximum
    EXPECT_EQ(c.exceptionOf(16, simtest::writeMultiple(2, {0x86A1, 0x0001})), 3);  // 100001
    EXPECT_EQ(c.exceptionOf(6, simtest::writeSingle(3, 0x0002)), 3);  // high half alone: 0x0002FFFB
    EXPECT_EQ(c.exceptionOf(16, simtest::writeMultiple(0, {50, 5})),
              2);                                                  // P1 read-only: P0 untouched
    EXPECT_EQ(c.exceptionOf(6, simtest::writeSingle(100, 1)), 2);  // status register
    EXPECT_EQ(c.exceptionOf(4, simtest::readRequest(0, 1)), 1);
    EXPECT_EQ(c.exceptionOf(0x11, {}), 1);
    EXPECT_EQ(c.readRegisters(0, 5),
              (std::vector<std::uint16_t>{10, 1207, 0xFFFB, 0xFFFF, 0xFFFF}));
}

TEST(SimLine, StrictModeByOptionAndAtRunTime) {
    Rig rig({"--strict"});
    auto& c = rig.client;
    EXPECT_EQ(c.exceptionOf(3, simtest::readRequest(0, 16)), 2);
    EXPECT_EQ(c.readRegisters(0, 5).size(), 5u);
    EXPECT_EQ(c.readRegisters(100, 13).size(), 13u);
    EXPECT_EQ(rig.sim.ok("strict off"), "strict off");
    EXPECT_EQ(c.readRegisters(0, 16).size(), 16u);
    rig.sim.ok("strict on");
    EXPECT_EQ(c.exceptionOf(3, simtest::readRequest(5, 1)), 2);
}

TEST(SimLine, CoilsInputsAndAlarm) {
    Rig rig;
    auto& c = rig.client;
    auto bits = [&](std::uint8_t function, std::uint16_t count) {
        auto r = c.request(1, function, simtest::readRequest(0, count));
        EXPECT_TRUE(r.crcOk && r.function == function) << simtest::hex(r.frame);
        return r.data;
    };
    EXPECT_EQ(c.request(1, 5, simtest::writeSingle(3, 0xFF00)).data,
              simtest::writeSingle(3, 0xFF00));
    EXPECT_EQ(bits(1, 8), (Bytes{1, 0x08}));
    EXPECT_EQ(rig.sim.ok("get coil 3"), "1");
    EXPECT_EQ(c.request(1, 15, Bytes{0, 0, 0, 8, 1, 0xA5}).data, (Bytes{0, 0, 0, 8}));
    EXPECT_EQ(bits(1, 8), (Bytes{1, 0xA5}));
    EXPECT_EQ(c.readRegisters(112, 1)[0], 0xA5);  // the output terminals item
    rig.sim.ok("set coil 1 1");
    EXPECT_EQ(bits(1, 8), (Bytes{1, 0xA7}));
    EXPECT_EQ(c.exceptionOf(5, simtest::writeSingle(8, 0xFF00)), 2);
    EXPECT_EQ(c.exceptionOf(5, simtest::writeSingle(0, 0x1234)), 3);
    EXPECT_EQ(c.exceptionOf(2, simtest::readRequest(0, 11)), 2);

    // Ten inputs in two bytes; a forced input holds until released.
    rig.sim.ok("set input 5 1");
    auto in = bits(2, 10);
    ASSERT_EQ(in.size(), 3u);
    EXPECT_EQ(in[0], 2);
    EXPECT_TRUE(in[1] & 0x20);
    EXPECT_EQ(in[2] & 0xFC, 0);
    EXPECT_EQ(rig.sim.ok("get input 5"), "1");
    rig.sim.ok("set input 5 0");
    EXPECT_FALSE(bits(2, 10)[1] & 0x20);

    rig.sim.ok("alarm 12");
    EXPECT_EQ(c.readRegisters(110, 1)[0], 12);
    in = bits(2, 10);
    EXPECT_FALSE(in[1] & 0x01);  // X0 ready off
    EXPECT_TRUE(in[1] & 0x80);   // X7 alarm on
    EXPECT_EQ(rig.sim.ok("alarm"), "12");
    rig.sim.ok("alarm 0");
    EXPECT_EQ(c.readRegisters(110, 1)[0], 0);
}

TEST(SimLine, StatusValuesMoveWithTheModel) {
    Rig rig({"--alarm", "3"});
    auto& c = rig.client;
    EXPECT_EQ(c.readRegisters(110, 1)[0], 3);  // alarm given at start
    rig.sim.ok("alarm 0");
    auto s = c.readRegisters(100, 13);
    EXPECT_NEAR(s[8], 3110, 150);                          // item at 108: 311 V in 0.1 V
    EXPECT_NEAR(static_cast<std::int16_t>(s[9]), 32, 10);  // temperature
    // Within a profile cycle the speed is seen away from 0.
    bool moved = false;
    for (auto deadline = Clock::now() + 15s; !moved && Clock::now() < deadline;
         std::this_thread::sleep_for(50ms))
        moved = std::abs(static_cast<std::int16_t>(c.readRegisters(100, 1)[0])) > 100;
    EXPECT_TRUE(moved);
    // A fixed value hides the model until released.
    rig.sim.ok("set reg 200 -1234");
    EXPECT_EQ(c.readRegisters(200, 1)[0], static_cast<std::uint16_t>(-1234));
    EXPECT_EQ(rig.sim.ok("get reg 200"), "64302");
    rig.sim.ok("release reg 200");
    EXPECT_NE(c.readRegisters(200, 1)[0], static_cast<std::uint16_t>(-1234));
}

TEST(SimLine, EepromStoreOneAndAllPersistAcrossRestart) {
    simtest::TempDir dir;
    const auto defs = simtest::writeTestDefs(dir.path()).string();
    const auto eeprom = dir.path() / "eeprom.txt";
    const std::vector<std::string> args{"--defs",        defs,          "--eeprom",
                                        eeprom.string(), "--eeprom-ms", "400"};
    {
        SimProcess sim(args);
        RtuClient c(sim.ptyPath());
        c.writeRegister(0, 55);
        c.writeRegister(0xFFFF, 0);  // store parameter 0 at once
        EXPECT_NE(fileText(eeprom).find("\n0 55\n"), std::string::npos) << fileText(eeprom);
        EXPECT_EQ(sim.ok("get eeprom 0"), "55");
        EXPECT_EQ(c.exceptionOf(6, simtest::writeSingle(0xFFFF, 4)), 3);  // no parameter 4

        c.writeRegister(4, 7);
        c.writeRegisters(2, {0x1234, 0});
        EXPECT_EQ(sim.ok("get eeprom 3"), "-1");
        auto start = Clock::now();
        auto r = c.request(1, 6, simtest::writeSingle(0xFFFF, 0xFFFF), 10s);
        auto took = Clock::now() - start;
        EXPECT_EQ(r.data, simtest::writeSingle(0xFFFF, 0xFFFF));
        EXPECT_GE(took, 400ms);  // answers only once all is stored
        EXPECT_EQ(sim.ok("get eeprom 3"), "7");
        c.writeRegister(0, 99);  // changed but not stored
    }
    // Only the file is left in the folder: the temporary file was renamed.
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.path() != defs;
    EXPECT_EQ(files, 1u);
    SimProcess again(args);
    RtuClient c(again.ptyPath());
    EXPECT_EQ(c.readRegisters(0, 5), (std::vector<std::uint16_t>{55, 1207, 0x1234, 0, 7}));
}

TEST(SimLine, StartUpFailuresAreReportedAndChangeNothing) {
    simtest::TempDir dir;
    const auto defs = simtest::writeTestDefs(dir.path()).string();
    const auto eeprom = dir.path() / "eeprom.txt";
    { std::ofstream(eeprom) << "servo-sim-eeprom 1\n0 5\nnot a line\n"; }
    const std::string before = fileText(eeprom);
    auto e = SimProcess::runToExit({"--defs", defs, "--eeprom", eeprom.string()});
    EXPECT_EQ(e.code, 1);
    EXPECT_NE(e.errorOutput.find("line 3"), std::string::npos) << e.errorOutput;
    EXPECT_EQ(fileText(eeprom), before);
    EXPECT_EQ(e.output.find("READY"), std::string::npos);

    e = SimProcess::runToExit({"--defs", defs, "--eeprom", (dir.path() / "no" / "e.txt").string()});
    EXPECT_EQ(e.code, 1);
    EXPECT_NE(e.errorOutput.find("no folder"), std::string::npos) << e.errorOutput;
    e = SimProcess::runToExit({"--defs", (dir.path() / "missing.cfg").string()});
    EXPECT_EQ(e.code, 1);
    EXPECT_NE(e.errorOutput.find("missing.cfg"), std::string::npos) << e.errorOutput;
    e = SimProcess::runToExit({"--station", "0"});
    EXPECT_EQ(e.code, 2);
    EXPECT_NE(e.errorOutput.find("--station"), std::string::npos) << e.errorOutput;
    e = SimProcess::runToExit({"--bogus"});
    EXPECT_EQ(e.code, 2);

    // The fixture fails loudly, quoting the simulator.
    try {
        SimProcess sim({"--defs", (dir.path() / "missing.cfg").string()});
        ADD_FAILURE() << "a simulator without a language file became ready";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("missing.cfg"), std::string::npos) << error.what();
    }
}

TEST(SimLine, FixtureReapsItsChild) {
    pid_t pid = -1;
    {
        Rig rig;
        pid = rig.sim.pid();
        EXPECT_TRUE(rig.sim.running());
        EXPECT_EQ(rig.sim.ok("ping"), "pong");
        EXPECT_EQ(rig.sim.command("frobnicate").rfind("ERR ", 0), 0u);
    }
    EXPECT_EQ(::kill(pid, 0), -1);  // gone and reaped: no zombie left behind
    EXPECT_EQ(errno, ESRCH);
    // "quit" ends it from the control channel.
    Rig rig;
    EXPECT_EQ(rig.sim.ok("quit"), "bye");
    auto deadline = Clock::now() + 10s;
    while (rig.sim.running() && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(rig.sim.running());
}

TEST(SimLine, OtherStationsGetNoAnswer) {
    Rig rig;
    auto& c = rig.client;
    EXPECT_FALSE(c.request(2, 3, simtest::readRequest(0, 1), 300ms).answered);
    rig.sim.ok("station 2");
    EXPECT_FALSE(c.request(1, 3, simtest::readRequest(0, 1), 300ms).answered);
    EXPECT_TRUE(c.request(2, 3, simtest::readRequest(0, 1)).crcOk);
    const std::string stats = rig.sim.ok("stats");
    EXPECT_NE(stats.find("ignored=2 "), std::string::npos) << stats;
}

TEST(SimLine, RequestLogHoldsTheExactFrames) {
    Rig rig;
    auto& c = rig.client;
    c.readRegisters(0, 1);  // before logging: not recorded
    EXPECT_EQ(rig.sim.ok("log on"), "log on");
    c.readRegisters(0, 10);
    c.request(9, 3, simtest::readRequest(0, 1), 200ms);  // another station's request is logged too
    Bytes broken = simtest::withCrc({1, 6, 0, 0, 0, 1});
    broken.back() ^= 0xFF;
    c.sendRaw(broken);
    c.receive(200ms);
    EXPECT_EQ(rig.sim.ok("log dump"), "3 01030000000AC5CD " +
                                          simtest::hex(simtest::withCrc({9, 3, 0, 0, 0, 1})) + " " +
                                          simtest::hex(broken));
    rig.sim.ok("log off");
    c.readRegisters(0, 1);
    EXPECT_EQ(rig.sim.ok("log dump").substr(0, 2), "3 ");
    rig.sim.ok("log clear");
    EXPECT_EQ(rig.sim.ok("log dump"), "0");
}

TEST(SimLine, FaultsSwitchOnAndOffAtRunTime) {
    Rig rig;
    auto& c = rig.client;
    auto read = [&](std::chrono::milliseconds timeout = 1000ms) {
        return c.request(1, 3, simtest::readRequest(0, 2), timeout);
    };
    const Bytes good = simtest::withCrc({1, 3, 4, 0, 10, 0x04, 0xB7});
    ASSERT_EQ(read().frame, good);

    rig.sim.ok("noanswer on");
    EXPECT_FALSE(read(300ms).answered);
    rig.sim.ok("noanswer off");
    EXPECT_EQ(read().frame, good);

    rig.sim.ok("delay 300");
    auto start = Clock::now();
    EXPECT_EQ(read(5s).frame, good);
    EXPECT_GE(Clock::now() - start, 300ms);
    rig.sim.ok("delay off");

    rig.sim.ok("badcrc on");
    auto r = read();
    EXPECT_EQ(r.frame.size(), good.size());
    EXPECT_FALSE(r.crcOk);
    rig.sim.ok("badcrc off");
    EXPECT_EQ(read().frame, good);

    rig.sim.ok("wrongstation on");
    r = read();
    EXPECT_TRUE(r.crcOk);
    EXPECT_EQ(r.station, 2);
    rig.sim.ok("wrongstation off");
    EXPECT_EQ(read().frame, good);

    rig.sim.ok("exception 6");
    EXPECT_EQ(read().frame, simtest::withCrc({1, 0x83, 6}));
    EXPECT_EQ(c.exceptionOf(6, simtest::writeSingle(0, 20)), 6);
    rig.sim.ok("exception off");
    EXPECT_EQ(read().frame, good);  // the write was not executed

    rig.sim.ok("truncate 3");
    EXPECT_EQ(read().frame, Bytes(good.begin(), good.end() - 3));
    rig.sim.ok("truncate off");
    EXPECT_EQ(read().frame, good);

    rig.sim.ok("garbage before 4");
    r = read();
    ASSERT_EQ(r.frame.size(), good.size() + 4);
    EXPECT_EQ(Bytes(r.frame.begin() + 4, r.frame.end()), good);
    rig.sim.ok("garbage before off");
    rig.sim.ok("garbage after 2");
    r = read();
    ASSERT_EQ(r.frame.size(), good.size() + 2);
    EXPECT_EQ(Bytes(r.frame.begin(), r.frame.end() - 2), good);
    rig.sim.ok("garbage after off");
    EXPECT_EQ(read().frame, good);

    // A silence inside the frame splits it for a receiver that waits less.
    rig.sim.ok("gap 150 3");
    c.sendRaw(simtest::withCrc({1, 3, 0, 0, 0, 2}));
    EXPECT_EQ(c.receive(1s, 50ms), Bytes(good.begin(), good.begin() + 3));
    EXPECT_EQ(c.receive(1s, 50ms), Bytes(good.begin() + 3, good.end()));
    rig.sim.ok("gap off");
    c.sendRaw(simtest::withCrc({1, 3, 0, 0, 0, 2}));
    EXPECT_EQ(c.receive(1s, 50ms), good);

    // The second write from now is refused and not executed.
    EXPECT_EQ(rig.sim.ok("rejectwrite 2"), "rejectwrite 2 code 4");
    c.writeRegister(0, 20);
    EXPECT_EQ(c.exceptionOf(6, simtest::writeSingle(0, 21)), 4);
    c.writeRegister(4, 5);
    EXPECT_EQ(c.readRegisters(0, 1)[0], 20);
    rig.sim.ok("rejectwrite 1 6");
    EXPECT_EQ(c.exceptionOf(16, simtest::writeMultiple(0, {22})), 6);
    rig.sim.ok("rejectwrite 1");
    rig.sim.ok("rejectwrite off");
    c.writeRegister(0, 23);

    // All at once, then all off.
    rig.sim.ok("badcrc on");
    rig.sim.ok("truncate 1");
    rig.sim.ok("faults off");
    EXPECT_EQ(read().frame, simtest::withCrc({1, 3, 4, 0, 23, 0x04, 0xB7}));
}

TEST(SimLine, NoAnswerAtARateAnswersSome) {
    Rig rig({"--noanswer", "50"});
    int answered = 0;
    for (int i = 0; i < 20; ++i)
        answered += rig.client.request(1, 3, simtest::readRequest(0, 1), 150ms).crcOk;
    EXPECT_GT(answered, 0);
    EXPECT_LT(answered, 20);
}

TEST(SimLine, ResponsesArePacedAtTheLineSpeed) {
    Rig rig;
    // 125 registers: 255 bytes, 22 ms at 115200 bit/s from the first byte to
    // the last. Written in one piece they would arrive together; the bound
    // leaves room for a late wake-up of this test.
    rig.client.sendRaw(simtest::withCrc({1, 3, 0, 0, 0, 125}));
    Bytes got = rig.client.receive(5s, 200ms);
    ASSERT_EQ(got.size(), 255u);
    EXPECT_GE(rig.client.lastByteAt - rig.client.firstByteAt, 10ms);
}

TEST(SimLine, ControlSocket) {
    simtest::TempDir dir;
    const auto socketPath = (dir.path() / "control").string();
    SimProcess sim(
        {"--defs", simtest::writeTestDefs(dir.path()).string(), "--control", socketPath});
    EXPECT_NE(sim.readyLine().find(" control=" + socketPath), std::string::npos);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const std::string cmd = "alarm 9\nalarm\n";
    ASSERT_EQ(::send(fd, cmd.data(), cmd.size(), MSG_NOSIGNAL), static_cast<ssize_t>(cmd.size()));
    std::string answer;
    char buffer[256];
    while (std::count(answer.begin(), answer.end(), '\n') < 2) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        ASSERT_GT(n, 0);
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    EXPECT_EQ(answer, "OK alarm 9\nOK 9\n");
    EXPECT_EQ(sim.ok("alarm"), "9");  // one drive behind both channels
}

TEST(SimLine, ControlCommandErrors) {
    Rig rig;
    for (const char* bad :
         {"", "noanswer 101", "delay -1", "set reg 70000 1", "set reg 1 70000", "get param 4",
          "set coil 8 1", "set input 0 2", "gap", "garbage middle 3", "exception 0", "station 248",
          "log maybe", "set eeprom 0 1"}) {
        std::string answer = rig.sim.command(bad);
        EXPECT_EQ(answer.rfind("ERR ", 0), 0u) << bad << " -> " << answer;
    }
    EXPECT_EQ(rig.sim.ok("get param 0"), "10");  // nothing changed
}

TEST(SimLine, MbpollAsAnIndependentMaster) {
    Rig rig;
    const std::string base = "timeout 20 mbpoll -m rtu -a 1 -b 115200 -P none -1 -o 2 ";
    const std::string port = " " + rig.sim.ptyPath();
    // mbpoll counts references from 1: reference 1 is register 0.
    auto [code, out] = run(base + "-r 1 -c 5" + port);
    ASSERT_EQ(code, 0) << out;
    EXPECT_NE(
        out.find(
            "[1]: \t10\n[2]: \t1207\n[3]: \t65531 (-5)\n[4]: \t65535 (-1)\n[5]: \t65535 (-1)\n"),
        std::string::npos)
        << out;
    std::tie(code, out) = run(base + "-r 1" + port + " 42");
    EXPECT_EQ(code, 0) << out;
    EXPECT_EQ(rig.sim.ok("get param 0"), "42");
    std::tie(code, out) = run(base + "-r 2" + port + " 5");
    EXPECT_NE(code, 0);
    EXPECT_NE(out.find("Illegal data address"), std::string::npos) << out;
    std::tie(code, out) = run(base + "-r 1" + port + " 101");
    EXPECT_NE(out.find("Illegal data value"), std::string::npos) << out;
    std::tie(code, out) = run(base + "-t 3 -r 1" + port);
    EXPECT_NE(out.find("Illegal function"), std::string::npos) << out;
    // Coils (-t 0) written by mbpoll read back through the control channel.
    std::tie(code, out) = run(base + "-t 0 -r 3" + port + " 1");
    EXPECT_EQ(code, 0) << out;
    EXPECT_EQ(rig.sim.ok("get coil 2"), "1");
}

TEST(SimLine, ShippedSampleFileServesItsParameterBlock) {
    // The default language file beside the executable.
    std::string error;
    auto layout = sim::loadDriveLayout(SERVO_SIM_DEFAULT_DEFS, error);
    ASSERT_TRUE(layout) << error;
    ASSERT_GE(layout->status.size(), 9u);
    SimProcess sim;
    RtuClient c(sim.ptyPath());
    const auto& first = layout->parameters.front();
    const auto& last = layout->parameters.back();
    // The parameter poll: from the first parameter up to 11 registers past the last.
    std::vector<std::uint16_t> values;
    for (std::uint32_t a = first.address; a < last.address + last.registers() + 11u; a += 120) {
        auto count = static_cast<std::uint16_t>(
            std::min<std::uint32_t>(120, last.address + last.registers() + 11u - a));
        auto part = c.readRegisters(static_cast<std::uint16_t>(a), count);
        values.insert(values.end(), part.begin(), part.end());
    }
    for (const auto& p : layout->parameters) {
        std::uint32_t v = values[p.address - first.address];
        if (p.registers() == 2)
            v |= static_cast<std::uint32_t>(values[p.address - first.address + 1]) << 16;
        EXPECT_EQ(v, p.factory) << p.number;
    }
    sim.ok("alarm 5");
    EXPECT_EQ(c.readRegisters(layout->status[8].address, 1)[0], 5);
}

}  // namespace
