// The master on a line paced at its real speed: an answer ends at its
// length, the line keeps 3.5 characters of silence before every request (as
// servo-sim's request log measures it), and answers that are longer than
// they say or garbled still fail. servo-sim's measure is checked against a
// master that does not keep the silence (mbpoll, on libmodbus).
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <sstream>
#include <string>
#include <vector>

#include "modbus/master.h"
#include "modbus/request.h"
#include "modbus/result.h"
#include "support/sim_process.h"

namespace {

struct Arrival {
    long long firstByte = 0;
    long long silence = 0;
};

std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::vector<std::string> frames(testsupport::SimProcess& sim) {
    auto w = words(sim.ok("log dump"));
    if (!w.empty()) w.erase(w.begin());
    return w;
}

std::vector<Arrival> arrivals(testsupport::SimProcess& sim) {
    auto w = words(sim.ok("log timing"));
    std::vector<Arrival> out;
    for (std::size_t i = 1; i < w.size(); ++i) {
        const auto colon = w[i].find(':');
        out.push_back({std::stoll(w[i].substr(0, colon)), std::stoll(w[i].substr(colon + 1))});
    }
    return out;
}

// 3.5 characters of 10 bits, and the fixed 1750 us above 19200 bit/s.
long long frameSilenceMicros(unsigned baud) {
    return baud > 19200 ? 1750 : (35'000'000LL + baud - 1) / baud;
}

class PacedLine : public ::testing::TestWithParam<unsigned> {
  protected:
    void SetUp() override {
        master.resetMaster();
        ASSERT_EQ(master.openSerialChannelAt(0, sim.ptyPath(), GetParam(), 8, 0, 0),
                  modbus::kSuccess)
            << master.portError(0);
        master.setChannelTiming(0, 200, 0);
    }
    std::uint8_t read(std::uint16_t address, std::uint8_t* buf, std::uint32_t bytes) {
        return master.readItems(0, 1, address, buf, bytes, kRegisters);
    }

    const std::uint32_t kRegisters =
        modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, modbus::kFrameRtu);
    testsupport::SimProcess sim{
        {"--baud", std::to_string(GetParam()), "--turnaround-us", "0", "--pattern"}};
    modbus::ModbusMaster master;
};

TEST_P(PacedLine, BackToBackReadsKeepTheFrameSilenceAndNoFrameIsSplitOrMerged) {
    sim.ok("log on");
    // Retries absorb a response that a loaded test machine stalls mid-frame
    // (the simulator's artefact, not the master's); every attempt must still
    // be one whole request on the line.
    master.setChannelTiming(0, 200, 5);
    const int reads = GetParam() > 19200 ? 60 : 12;
    int wrongData = 0;
    for (int i = 0; i < reads; ++i) {
        std::uint8_t buf[24] = {};
        const auto address = static_cast<std::uint16_t>(12 * i);
        ASSERT_EQ(read(address, buf, sizeof buf), modbus::kSuccess) << "read " << i;
        for (int r = 0; r < 12; ++r)
            wrongData += (buf[2 * r] | (buf[2 * r + 1] << 8)) != address + r;
    }
    EXPECT_EQ(wrongData, 0);
    // One whole request per frame the simulator delimited, in order; a retry
    // repeats the request before it.
    const auto log = frames(sim);
    ASSERT_GE(log.size(), static_cast<std::size_t>(reads));
    int next = 0;
    for (std::size_t k = 0; k < log.size(); ++k) {
        char head[13];
        std::snprintf(head, sizeof head, "0103%04X000C", 12 * next);
        char previous[13];
        std::snprintf(previous, sizeof previous, "0103%04X000C", 12 * (next - 1));
        EXPECT_EQ(log[k].size(), 16u) << k;
        if (log[k].substr(0, 12) == head)
            ++next;
        else
            EXPECT_EQ(log[k].substr(0, 12), previous) << "frame " << k;
    }
    EXPECT_EQ(next, reads);
    const auto times = arrivals(sim);
    ASSERT_EQ(times.size(), log.size());
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_GE(times[i].silence, frameSilenceMicros(GetParam())) << "before request " << i;
}

TEST_P(PacedLine, LongerOrGarbledAnswersStillFailAndTheLineRecovers) {
    // Ten registers: a 25-byte answer that the simulator sends in whole
    // chunks, so the two bytes after it come in the silence after a complete
    // answer, the case that ending by length must not accept.
    std::uint8_t buf[20] = {};
    modbus::RunReport rep;
    sim.ok("garbage after 2");
    EXPECT_NE(master.readItems(0, 1, 0, buf, sizeof buf, kRegisters, {200, 0}, &rep),
              modbus::kSuccess);
    // Malformed: a whole frame and more. A loaded machine may stall the
    // simulator inside the answer, which then fails by its checksum.
    EXPECT_TRUE(rep.outcome == modbus::Outcome::malformed ||
                rep.outcome == modbus::Outcome::badChecksum)
        << static_cast<int>(rep.outcome);
    sim.ok("faults off");
    sim.ok("badcrc on");
    EXPECT_EQ(master.readItems(0, 1, 0, buf, sizeof buf, kRegisters, {200, 0}, &rep),
              modbus::kChecksumError);
    sim.ok("faults off");
    sim.ok("exception 2");
    EXPECT_EQ(master.readItems(0, 1, 0, buf, sizeof buf, kRegisters, {200, 0}, &rep),
              modbus::kFunctionMismatch);
    EXPECT_EQ(rep.outcome, modbus::Outcome::exception);
    sim.ok("faults off");
    ASSERT_EQ(read(24, buf, sizeof buf), modbus::kSuccess);
    EXPECT_EQ(buf[0] | (buf[1] << 8), 24);
}

INSTANTIATE_TEST_SUITE_P(Baud, PacedLine, ::testing::Values(115200u, 19200u),
                         [](const auto& p) { return std::to_string(p.param); });

// libmodbus sends the next request as soon as an answer is complete, without
// the silence: servo-sim's measure must show that (else the check above
// could not fail), while still delimiting every frame whole.
TEST(PacedLineMeasure, SeesAPeerMasterThatSkipsTheSilence) {
    testsupport::SimProcess sim({"--turnaround-us", "0"});
    sim.ok("log on");
    const std::string command =
        "mbpoll -m rtu -b 115200 -P none -a 1,1,1,1,1,1,1,1 -0 -r 0 "
        "-c 12 -1 -o 0.5 " +
        sim.ptyPath() + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
    const int status = ::pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    const auto log = frames(sim);
    ASSERT_EQ(log.size(), 8u) << output;
    for (const auto& f : log) EXPECT_EQ(f, "01030000000C45CF");
    const auto times = arrivals(sim);
    ASSERT_EQ(times.size(), 8u);
    long long shortest = times[1].silence;
    for (std::size_t i = 1; i < times.size(); ++i) shortest = std::min(shortest, times[i].silence);
    EXPECT_LT(shortest, frameSilenceMicros(115200)) << output;
}

}  // namespace
