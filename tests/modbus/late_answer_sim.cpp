// The master against a servo-sim that answers some requests late and then
// answers the retry too, as a busy drive does. The simulator reads every
// register as its own address, so data that answers another request shows.
#include <gtest/gtest.h>

#include <iostream>

#include "modbus/master.h"
#include "modbus/request.h"
#include "modbus/result.h"
#include "support/sim_process.h"

namespace {

using modbus::kFrameAscii;
using modbus::kFrameRtu;

struct Tally {
    int good = 0;
    int wrong = 0;  // reported success with another request's data
    int failed = 0;
};

// Reads `reads` blocks of 12 registers at successive addresses through the
// channel's own timing (the overload every caller used so far).
Tally readBlocks(modbus::ModbusMaster& master, std::uint8_t frameType, int reads) {
    Tally t;
    const auto sel = modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, frameType);
    for (int i = 0; i < reads; ++i) {
        const auto start = static_cast<std::uint16_t>((12 * i) % 60000);
        std::uint8_t buf[24] = {};
        if (master.readItems(0, 1, start, buf, 24, sel) != modbus::kSuccess) {
            ++t.failed;
            continue;
        }
        bool right = true;
        for (int r = 0; r < 12; ++r)
            right = right && (buf[2 * r] | (buf[2 * r + 1] << 8)) == start + r;
        ++(right ? t.good : t.wrong);
    }
    return t;
}

class LateAnswers : public ::testing::TestWithParam<std::uint8_t> {
  protected:
    void open(testsupport::SimProcess& sim) {
        master.resetMaster();
        ASSERT_EQ(master.openSerialChannelAt(0, sim.ptyPath(), 115200, 8, 0, 0), modbus::kSuccess)
            << master.portError(0);
        master.setChannelTiming(0, 200, 5);
    }
    modbus::ModbusMaster master;
};

// 5 % of the answers 250 ms late against a 200 ms time-out: each late answer
// arrives while the master would otherwise be waiting for its retry or the
// next block, and the drive answers the retry as well.
TEST_P(LateAnswers, NoReadReportsSuccessWithAnotherRequestsData) {
    const bool ascii = GetParam() == kFrameAscii;
    std::vector<std::string> args{"--pattern", "--late", "5", "--late-ms", "250", "--seed", "15"};
    if (ascii) args.push_back("--ascii");
    testsupport::SimProcess sim(args);
    open(sim);
    const Tally t = readBlocks(master, GetParam(), ascii ? 500 : 600);
    std::cout << "good " << t.good << ", wrong " << t.wrong << ", failed " << t.failed
              << ", late bytes dropped " << master.discardedBytes(0) << "\n";
    EXPECT_EQ(t.wrong, 0);
    // The fault did strike, and the guard dropped the late answers.
    EXPECT_GT(master.discardedBytes(0), 0u);
    EXPECT_GT(t.good, 0);
}

INSTANTIATE_TEST_SUITE_P(Framing, LateAnswers, ::testing::Values(kFrameRtu, kFrameAscii),
                         [](const auto& p) { return p.param == kFrameRtu ? "Rtu" : "Ascii"; });

// Every answer late: each attempt times out and the late answer of one
// attempt must not be taken for the next attempt's or block's.
TEST_F(LateAnswers, EveryAnswerLateFailsInsteadOfShiftingTheData) {
    testsupport::SimProcess sim({"--pattern", "--delay", "250"});
    open(sim);
    modbus::RunReport rep;
    std::vector<std::uint8_t> buf(480);
    const auto sel = modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, kFrameRtu);
    EXPECT_EQ(master.readItems(0, 1, 0, buf.data(), 480, sel, {200, 2}, &rep), modbus::kNoResponse);
    EXPECT_EQ(rep.outcome, modbus::Outcome::noAnswer);
    EXPECT_EQ(rep.attempts, 3);
    EXPECT_EQ(rep.failedAddress, 0);
    // Once the drive is quick again the line is clean at once: no answer left
    // over from the failed run is taken for this one.
    sim.ok("faults off");
    ASSERT_EQ(master.readItems(0, 1, 120, buf.data(), 240, sel, {200, 0}, &rep), modbus::kSuccess);
    for (int r = 0; r < 120; ++r) ASSERT_EQ(buf[2 * r] | (buf[2 * r + 1] << 8), 120 + r) << r;
}

// A process that ends after a failed attempt closes the port while the
// answer to it is still on its way; the next process opens the same port and
// asks for a block of the same length, which that answer would fit.
TEST(LateAnswersAcrossOpens, ClosingAfterAFailureLeavesNoAnswerForTheNextOpen) {
    testsupport::SimProcess sim({"--pattern", "--delay", "250"});
    const auto sel = modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, kFrameRtu);
    std::vector<std::uint8_t> buf(240);
    modbus::RunReport rep;
    {
        modbus::ModbusMaster first;
        first.resetMaster();
        ASSERT_EQ(first.openSerialChannelAt(0, sim.ptyPath(), 115200, 8, 0, 0), modbus::kSuccess)
            << first.portError(0);
        EXPECT_EQ(first.readItems(0, 1, 120, buf.data(), 240, sel, {200, 0}, &rep),
                  modbus::kNoResponse);
        EXPECT_EQ(first.closeChannelWhenQuiet(0), modbus::kSuccess);
        EXPECT_EQ(first.closeChannelWhenQuiet(0), modbus::kPortFailure);  // closed already
    }
    sim.ok("faults off");
    modbus::ModbusMaster next;
    next.resetMaster();
    ASSERT_EQ(next.openSerialChannelAt(0, sim.ptyPath(), 115200, 8, 0, 0), modbus::kSuccess)
        << next.portError(0);
    ASSERT_EQ(next.readItems(0, 1, 0, buf.data(), 240, sel, {200, 0}, &rep), modbus::kSuccess);
    for (int r = 0; r < 120; ++r) ASSERT_EQ(buf[2 * r] | (buf[2 * r + 1] << 8), r) << r;
}

}  // namespace
