// servoctl's raw commands against servo-sim through COM1 mapped to its pty.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "run_command.h"
#include "support/sim_process.h"

namespace {

using testing_support::CommandResult;

class ServoctlLink : public ::testing::Test {
  protected:
    void SetUp() override { sim.exportAsCom(1); }
    CommandResult run(const std::string& args) {
        const std::string err = std::filesystem::temp_directory_path() /
                                ("servoctl-link-" + std::to_string(::getpid()) + ".err");
        auto r = testing_support::runCommand(
            std::string(SERVOCTL_PATH) + " --port COM1 --timeout 80 --retries 1 " + args, err);
        std::filesystem::remove(err);
        return r;
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

}  // namespace
