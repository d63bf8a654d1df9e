// The project's master and access layer against servo-sim over a real
// pseudo-terminal: every function code, splitting, retries, faults, and the
// channel lock shared by two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "modbus/request.h"
#include "modbus/result.h"
#include "platform/clock.h"
#include "support/sim_process.h"

namespace {

using modbus::kFrameRtu;

std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

class MasterAgainstSim : public ::testing::Test {
  protected:
    void SetUp() override {
        sim.exportAsCom(1);
        master.resetMaster();
        ASSERT_EQ(access.openLink(0, 115200, 8, 0, 0), modbus::kLinkSuccess) << access.linkError(0);
        access.setLinkTiming(0, 200, 5);
        access.selectDrive(0, 1, kFrameRtu, true);
    }
    void TearDown() override { access.closeLink(0); }

    // The requests the simulator received since `log on`, as hex frames.
    std::vector<std::string> requests() {
        auto w = words(sim.ok("log dump"));
        if (!w.empty()) w.erase(w.begin());  // the count
        return w;
    }
    long simValue(const std::string& what) { return std::stol(sim.ok("get " + what)); }

    // Unpaced: on a loaded machine a paced response can stall mid-frame
    // longer than the end-of-frame silence, which is a test artefact.
    testsupport::SimProcess sim{{"--no-pace"}};
    modbus::ModbusMaster master;
    modbus::DriveAccess access{master};
};

TEST_F(MasterAgainstSim, RegistersThroughFunctionCodes3_6And16) {
    // Sample family: P01.07 at register 22 is INT16U 1..65535, P01.12 at 27-28
    // is INT32S.
    sim.ok("set reg 22 1234");
    std::uint8_t buf[4] = {};
    ASSERT_EQ(access.readRegisters(22, buf, 2), 0);
    EXPECT_EQ(buf[0] | (buf[1] << 8), 1234);

    sim.ok("log on");
    const std::uint8_t one[2] = {0x39, 0x30};  // 12345, little-endian in memory
    ASSERT_EQ(access.writeRegisters(22, one, 2), 0);
    EXPECT_EQ(simValue("reg 22"), 12345);
    const std::uint8_t two[4] = {0x01, 0x00, 0x02, 0x00};  // 0x00020001, low register first
    ASSERT_EQ(access.writeRegisters(27, two, 4), 0);
    EXPECT_EQ(simValue("param 24"), 0x00020001);
    const auto log = requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "010600163039BC1C");  // one register: function 6, big-endian value
    EXPECT_EQ(log[1].substr(0, 22), "0110001B00020400010002");  // 16, quantity 2, 4 bytes

    // A value outside the parameter's range is refused by the drive.
    const std::uint8_t zero[2] = {0, 0};
    EXPECT_EQ(access.writeRegisters(22, zero, 2), modbus::kAccessFailed);
    EXPECT_EQ(simValue("reg 22"), 12345);
}

TEST_F(MasterAgainstSim, CoilsAndInputsThroughFunctionCodes1_2_5And15) {
    sim.ok("set input 3 1");
    sim.ok("set input 9 1");
    std::uint8_t inputs[10];
    ASSERT_EQ(access.readInputs(0, inputs, 10), 0);
    EXPECT_EQ(inputs[3], 1);
    EXPECT_EQ(inputs[9], 1);

    const std::uint8_t on = 1;
    ASSERT_EQ(access.writeCoils(2, &on, 1), 0);
    EXPECT_EQ(simValue("coil 2"), 1);
    const std::uint8_t pattern[8] = {1, 0, 1, 0, 0, 0, 0, 1};
    ASSERT_EQ(access.writeCoils(0, pattern, 8), 0);
    std::uint8_t coils[8] = {};
    ASSERT_EQ(access.readCoils(0, coils, 8), 0);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(coils[i], pattern[i]) << i;
    EXPECT_EQ(simValue("coil 7"), 1);
}

TEST_F(MasterAgainstSim, LongReadIsSplitAt120Registers) {
    sim.ok("log on");
    std::vector<std::uint8_t> buf(482);
    ASSERT_EQ(access.readRegisters(0, buf.data(), 482), 0);
    const auto log = requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].substr(0, 12), "010300000078");
    EXPECT_EQ(log[1].substr(0, 12), "010300780078");
    EXPECT_EQ(log[2].substr(0, 12), "010300F00001");
}

TEST_F(MasterAgainstSim, ExceptionsAreFunctionMismatchesAfterAllRetries) {
    // Function 4 is not supported by the drive: exception 01.
    master.setChannelTiming(0, 200, 1);
    sim.ok("log on");
    std::uint8_t buf[2];
    EXPECT_EQ(master.readItems(
                  0, 1, 0, buf, 2,
                  modbus::makeSelector(modbus::kKindRegisters, modbus::kTableInput, kFrameRtu)),
              modbus::kFunctionMismatch);
    EXPECT_EQ(requests().size(), 2u);  // one retry
    sim.ok("exception 2");
    EXPECT_EQ(access.readRegisters(0, buf, 2), modbus::kAccessFailed);
    sim.ok("faults off");
    EXPECT_EQ(access.readRegisters(0, buf, 2), modbus::kAccessSuccess);
}

TEST_F(MasterAgainstSim, SilenceCostsEveryAttemptAndTheLinkRecovers) {
    master.setChannelTiming(0, 60, 2);
    sim.ok("noanswer on");
    sim.ok("log on");
    std::uint8_t buf[2];
    const auto start = platform::monotonicMicros();
    EXPECT_EQ(access.readRegisters(0, buf, 2), modbus::kAccessNoResponse);
    const auto elapsedMs = (platform::monotonicMicros() - start) / 1000;
    EXPECT_EQ(requests().size(), 3u);
    EXPECT_GE(elapsedMs, 3u * 60 + 2 * 20);  // three time-outs and two pauses at least
    sim.ok("noanswer off");
    EXPECT_EQ(access.readRegisters(0, buf, 2), modbus::kAccessSuccess);
}

TEST_F(MasterAgainstSim, CorruptedResponsesGiveTheirResultCodes) {
    master.setChannelTiming(0, 100, 0);
    std::uint8_t buf[2];
    const auto sel = modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, kFrameRtu);
    sim.ok("badcrc on");
    EXPECT_EQ(master.readItems(0, 1, 0, buf, 2, sel), modbus::kChecksumError);
    sim.ok("faults off");
    sim.ok("wrongstation on");
    EXPECT_EQ(master.readItems(0, 1, 0, buf, 2, sel), modbus::kFramingError);
    sim.ok("faults off");
    sim.ok("truncate 2");
    EXPECT_NE(master.readItems(0, 1, 0, buf, 2, sel), modbus::kSuccess);
    sim.ok("faults off");
    // Intermittent silence is absorbed by the retries.
    master.setChannelTiming(0, 200, 5);
    sim.ok("noanswer 20");
    int good = 0;
    for (int i = 0; i < 10; ++i) good += master.readItems(0, 1, 0, buf, 2, sel) == modbus::kSuccess;
    EXPECT_EQ(good, 10);
}

TEST_F(MasterAgainstSim, ReportNamesTheCauseAndTheTimingStaysWithTheRun) {
    using modbus::Outcome;
    std::uint8_t buf[2] = {};
    modbus::RunReport rep;

    sim.ok("exception 3");
    EXPECT_EQ(access.readRegisters(22, buf, 2, {200, 1}, &rep), modbus::kAccessFailed);
    EXPECT_EQ(rep.result, modbus::kFunctionMismatch);
    EXPECT_EQ(rep.outcome, Outcome::exception);
    EXPECT_EQ(rep.exceptionCode, 3);
    EXPECT_EQ(rep.attempts, 2);
    EXPECT_EQ(rep.station, 1);
    EXPECT_EQ(rep.functionCode, modbus::kReadHoldingRegisters);
    EXPECT_EQ(rep.failedAddress, 22);
    EXPECT_FALSE(rep.write);
    sim.ok("faults off");

    // Silence: every attempt of this run's own timing is spent, and the
    // channel's stored timing is neither used nor changed.
    sim.ok("noanswer on");
    sim.ok("log on");
    EXPECT_EQ(access.readRegisters(0, buf, 2, {60, 2}, &rep), modbus::kAccessNoResponse);
    EXPECT_EQ(rep.outcome, Outcome::noAnswer);
    EXPECT_EQ(rep.attempts, 3);
    EXPECT_EQ(rep.responseTimeoutMs, 60);
    EXPECT_EQ(requests().size(), 3u);
    EXPECT_EQ(master.channelTiming(0).responseTimeoutMs, 200);
    EXPECT_EQ(master.channelTiming(0).retries, 5);
    sim.ok("faults off");

    sim.ok("wrongstation on");
    EXPECT_EQ(access.readRegisters(0, buf, 2, {100, 0}, &rep), modbus::kAccessFailed);
    EXPECT_EQ(rep.outcome, Outcome::wrongStation);
    EXPECT_EQ(rep.result, modbus::kFramingError);
    sim.ok("faults off");
    sim.ok("badcrc on");
    EXPECT_EQ(access.readRegisters(0, buf, 2, {100, 0}, &rep), modbus::kAccessFailed);
    EXPECT_EQ(rep.outcome, Outcome::badChecksum);
    sim.ok("faults off");

    // A value the drive refuses: the write's exception code and address.
    sim.ok("rejectwrite 1 3");
    const std::uint8_t value[2] = {0x39, 0x30};
    EXPECT_EQ(access.writeRegisters(22, value, 2, {200, 0}, &rep), modbus::kAccessFailed);
    EXPECT_EQ(rep.outcome, Outcome::exception);
    EXPECT_EQ(rep.exceptionCode, 3);
    EXPECT_TRUE(rep.write);
    EXPECT_EQ(rep.functionCode, modbus::kWriteSingleRegister);
    EXPECT_EQ(rep.failedAddress, 22);

    access.selectDrive(0, 1, kFrameRtu, false);
    EXPECT_EQ(access.readRegisters(0, buf, 2, {200, 0}, &rep), modbus::kAccessNoLink);
    EXPECT_EQ(rep.outcome, Outcome::channelUnavailable);
    EXPECT_EQ(rep.attempts, 0);
}

TEST_F(MasterAgainstSim, BroadcastWriteIsSentOnceAndReadsFromStationZeroAreRefused) {
    access.selectDrive(0, 0, kFrameRtu, true);
    sim.ok("log on");
    modbus::RunReport rep;
    const std::uint8_t value[2] = {0xD2, 0x04};  // 1234
    EXPECT_EQ(access.writeRegisters(22, value, 2, {200, 5}, &rep), modbus::kAccessSuccess);
    EXPECT_EQ(rep.outcome, modbus::Outcome::broadcastSent);
    EXPECT_EQ(rep.attempts, 1);
    std::uint8_t buf[2] = {};
    EXPECT_EQ(access.readRegisters(22, buf, 2, {200, 5}, &rep), modbus::kAccessFailed);
    EXPECT_EQ(rep.outcome, modbus::Outcome::broadcastRead);
    // Station 1 answers after the broadcast (which the simulator, taking
    // frames in order, has executed by then); the refused read never reached
    // the line.
    access.selectDrive(0, 1, kFrameRtu, true);
    ASSERT_EQ(access.readRegisters(22, buf, 2, {200, 0}, &rep), modbus::kAccessSuccess);
    EXPECT_EQ(buf[0] | (buf[1] << 8), 1234);
    const auto log = requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].substr(0, 12), "0006001604D2");
}

TEST_F(MasterAgainstSim, TwoThreadsShareTheChannelWithoutInterleaving) {
    sim.ok("set reg 200 4660");
    std::atomic<int> failures{0};
    auto worker = [&](std::uint16_t address, std::uint32_t bytes) {
        std::vector<std::uint8_t> buf(bytes);
        for (int i = 0; i < 25; ++i) {
            if (access.readRegisters(address, buf.data(), bytes) != 0) failures++;
        }
    };
    // The long read spans three requests: the other thread must wait for all.
    std::thread a(worker, 0, 482);
    std::thread b(worker, 200, 2);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(MasterAgainstSim, DisabledLinkSendsNothing) {
    access.selectDrive(0, 1, kFrameRtu, false);
    sim.ok("log on");
    std::uint8_t buf[2] = {};
    EXPECT_EQ(access.readRegisters(0, buf, 2), modbus::kAccessNoLink);
    EXPECT_EQ(access.writeCoils(0, buf, 1), modbus::kAccessNoLink);
    EXPECT_TRUE(requests().empty());
}

}  // namespace
