// servoctl's raw commands against servo-sim through COM1 mapped to its pty.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "run_command.h"
#include "support/sim_process.h"

namespace {

using testing_support::CommandResult;

class ServoctlLink : public ::testing::Test {
  protected:
    void SetUp() override { sim.exportAsCom(1); }
    CommandResult run(const std::string& args,
                      const std::string& timing = "--timeout 80 --retries 1") {
        const std::string err = std::filesystem::temp_directory_path() /
                                ("servoctl-link-" + std::to_string(::getpid()) + ".err");
        auto r = testing_support::runCommand(
            std::string(SERVOCTL_PATH) + " --port COM1 " + timing + " " + args, err);
        std::filesystem::remove(err);
        return r;
    }
    // Polls a control query until it answers `want` or 5 s pass: the
    // simulator executes a broadcast after servoctl has already ended.
    std::string await(const std::string& query, const std::string& want) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        std::string got = sim.ok(query);
        while (got != want && std::chrono::steady_clock::now() < deadline) got = sim.ok(query);
        return got;
    }
    testsupport::SimProcess sim{{"--no-pace"}};
};

TEST_F(ServoctlLink, ReadsAndWritesRegistersCoilsAndInputs) {
    CommandResult r = run("probe");
    ASSERT_EQ(r.status, 0) << r.err;

    sim.ok("set reg 30 777");
    r = run("read-regs 29 3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1, 4), "777\n");

    // P01.07 (register 22) takes 1..65535.
    r = run("write-regs 22 4321");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim.ok("get reg 22"), "4321");

    r = run("write-coils 0 1 0 1");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run("--json read-coils 0 4");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["values"], nlohmann::json({1, 0, 1, 0}));

    sim.ok("set input 2 1");
    r = run("read-inputs 0 3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1), "1\n");
}

TEST_F(ServoctlLink, FailuresAreNamedAndMappedToExitStatuses) {
    sim.ok("noanswer on");
    CommandResult r = run("probe");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("time-out"), std::string::npos) << r.err;
    sim.ok("faults off");

    sim.ok("badcrc on");
    r = run("probe");
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("checksum"), std::string::npos) << r.err;
    sim.ok("faults off");

    sim.ok("wrongstation on");
    r = run("probe");
    EXPECT_EQ(r.status, 6);
    EXPECT_NE(r.err.find("wrong station"), std::string::npos) << r.err;
    sim.ok("faults off");

    // A value outside P01.07's range: exception 03 from the drive.
    r = run("write-regs 22 0");
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("exception response 03"), std::string::npos) << r.err;
}

// The drive answers 250 ms late against a 200 ms time-out: the old master
// took the late answer to 0-119 for the answer to 120-239 and printed a copy.
TEST_F(ServoctlLink, LateAnswersNeverShiftTheRegistersRead) {
    sim.ok("pattern on");
    sim.ok("delay 250");
    CommandResult r = run("read-regs 0 240", "--timeout 200 --retries 1");
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.err.find("time-out: no response from the drive (station 1, 2 tries of 200 ms)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");

    // Half the answers late: whatever succeeds holds each register's own
    // value.
    sim.ok("delay off");
    sim.ok("late 50 250");
    int succeeded = 0;
    for (int run_ = 0; run_ < 4; ++run_) {
        r = run("read-regs 0 240", "--timeout 200 --retries 5");
        if (r.status != 0) {
            EXPECT_EQ(r.status, 3) << r.err;
            continue;
        }
        ++succeeded;
        std::istringstream lines(r.out);
        long expected = 0;
        for (long value; lines >> value; ++expected) ASSERT_EQ(value, expected);
        EXPECT_EQ(expected, 240);
    }
    EXPECT_GT(succeeded, 0);
}

TEST_F(ServoctlLink, LostWriteAnswersAndBroadcasts) {
    // The drive applies the write but answers after the time-out.
    sim.ok("delay 250");
    CommandResult r = run("write-regs 22 4321", "--timeout 200 --retries 0");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("time-out: the drive may have applied the write; read it back"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(await("get reg 22", "4321"), "4321");
    sim.ok("delay off");

    // Station 0: sent once, executed, reported as sent to all stations.
    sim.ok("log on");
    r = run("--station 0 write-regs 22 1234");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("sent to all stations"), std::string::npos) << r.out;
    EXPECT_EQ(await("get reg 22", "1234"), "1234");
    r = run("--json --station 0 write-coils 1 1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["broadcast"], true);
    EXPECT_EQ(await("get coil 1", "1"), "1");
    // Nothing answers a broadcast, so a read from station 0 is refused
    // before anything is sent.
    r = run("--station 0 read-regs 22 1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("station 0"), std::string::npos) << r.err;
    EXPECT_EQ(sim.ok("log dump").substr(0, 2), "2 ");  // the two broadcasts
}

// The port option takes a gateway as well: servo-sim serving Modbus TCP, and
// one that is not there.
TEST(ServoctlGateway, ReadsRegistersOverModbusTcpAndNamesAnUnreachableGateway) {
    testsupport::SimProcess sim({"--tcp", "0"});
    sim.ok("set reg 30 777");
    const std::string err = std::filesystem::temp_directory_path() /
                            ("servoctl-gw-" + std::to_string(::getpid()) + ".err");
    CommandResult r = testing_support::runCommand(
        std::string(SERVOCTL_PATH) + " --port " + sim.ptyPath() + " read-regs 29 3", err);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1, 4), "777\n");
    const std::string port = sim.ptyPath();
    sim.stop();
    r = testing_support::runCommand(
        std::string(SERVOCTL_PATH) + " --port " + port + " --timeout 80 read-regs 29 3", err);
    std::filesystem::remove(err);
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("cannot connect to 127.0.0.1:"), std::string::npos) << r.err;
}

}  // namespace
