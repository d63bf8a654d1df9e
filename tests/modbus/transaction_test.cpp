// Transactions of the master over a real pseudo-terminal, with the test
// playing the drive on the other side.

#include <gtest/gtest.h>
#include <time.h>

#include <thread>

#include "modbus/master.h"
#include "modbus/pty_peer.h"
#include "modbus/request.h"
#include "modbus/result.h"

namespace {

using namespace modbus;
using testpeer::Bytes;
using testpeer::rtu;
using testpeer::Step;

constexpr std::uint8_t kCh = 0;
const std::uint32_t kHolding = makeSelector(kKindRegisters, kTableOutput, kFrameRtu);
const std::uint32_t kInputRegs = makeSelector(kKindRegisters, kTableInput, kFrameRtu);
const std::uint32_t kCoils = makeSelector(kKindBits, kTableOutput, kFrameRtu);
const std::uint32_t kInputs = makeSelector(kKindBits, kTableInput, kFrameRtu);

std::uint8_t hi(unsigned v) {
    return static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
std::uint8_t lo(unsigned v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}

Bytes readRequest(std::uint8_t station, std::uint8_t fc, unsigned start, unsigned quantity) {
    return rtu({station, fc, hi(start), lo(start), hi(quantity), lo(quantity)});
}

// A holding-register response whose register i holds base + i.
Bytes registerResponse(std::uint8_t station, unsigned quantity, unsigned base) {
    Bytes r{station, 3, static_cast<std::uint8_t>(2 * quantity)};
    for (unsigned i = 0; i < quantity; ++i) {
        r.push_back(hi(base + i));
        r.push_back(lo(base + i));
    }
    return rtu(r);
}

std::uint64_t threadCpuMicros() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000 +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000;
}

class Transactions : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(peer.ok());
        ASSERT_EQ(master.openSerialChannelAt(kCh, peer.slavePath(), 115200, 8, 0, 0), kSuccess)
            << master.portError(kCh);
        master.setChannelTiming(kCh, 300, 0);
    }

    void expectScriptPlayed(testpeer::Responder& responder) {
        responder.join();
        for (const auto& f : responder.failures) ADD_FAILURE() << f;
        EXPECT_TRUE(peer.silentFor(30)) << "unexpected further request";
    }

    testpeer::PtyPeer peer;
    ModbusMaster master;  // destroyed first: closes its port before the peer goes
};

TEST_F(Transactions, LongRegisterReadIsSplitAt120) {
    testpeer::Responder responder(peer,
                                  {
                                      {readRequest(1, 3, 100, 120), registerResponse(1, 120, 0)},
                                      {readRequest(1, 3, 220, 120), registerResponse(1, 120, 120)},
                                      {readRequest(1, 3, 340, 1), registerResponse(1, 1, 240)},
                                  });
    Bytes out(482, 0xEE);
    EXPECT_EQ(master.readItems(kCh, 1, 100, out.data(), 482, kHolding), kSuccess);
    expectScriptPlayed(responder);
    for (unsigned i = 0; i < 241; ++i) {
        ASSERT_EQ(out[2 * i], lo(i)) << i;
        ASSERT_EQ(out[2 * i + 1], hi(i)) << i;
    }
}

TEST_F(Transactions, ReadFunctionCodesAndOddByteCount) {
    testpeer::Responder responder(
        peer,
        {
            {readRequest(2, 3, 0, 2), registerResponse(2, 2, 0x0102)},  // 3 bytes: 2 registers
            {readRequest(2, 4, 5, 1), rtu({2, 4, 2, 0xBE, 0xEF})},
            {readRequest(2, 1, 0, 8), rtu({2, 1, 1, 0x81})},
            {readRequest(2, 2, 0, 10), rtu({2, 2, 2, 0xFF, 0x03})},
        });
    Bytes regs(4, 0), reg(2, 0), coils(1, 0), inputs(2, 0);
    EXPECT_EQ(master.readItems(kCh, 2, 0, regs.data(), 3, kHolding), kSuccess);
    EXPECT_EQ(master.readItems(kCh, 2, 5, reg.data(), 2, kInputRegs), kSuccess);
    EXPECT_EQ(master.readItems(kCh, 2, 0, coils.data(), 8, kCoils), kSuccess);
    EXPECT_EQ(master.readItems(kCh, 2, 0, inputs.data(), 10, kInputs), kSuccess);
    expectScriptPlayed(responder);
    EXPECT_EQ(regs, (Bytes{0x02, 0x01, 0x03, 0x01}));
    EXPECT_EQ(reg, (Bytes{0xEF, 0xBE}));
    EXPECT_EQ(coils, Bytes{0x81});
    EXPECT_EQ(inputs, (Bytes{0xFF, 0x03}));
}

TEST_F(Transactions, WritesUseSingleCodesOnlyForARunOfOne) {
    Bytes regs(242);
    for (std::size_t i = 0; i < regs.size(); ++i) regs[i] = static_cast<std::uint8_t>(i);
    Bytes fc16a{1, 16, 0, 10, 0, 120, 240};
    for (std::size_t i = 0; i < 240; i += 2) {
        fc16a.push_back(regs[i + 1]);
        fc16a.push_back(regs[i]);
    }
    const Bytes fc16b{1, 16, 0, 130, 0, 1, 2, regs[241], regs[240]};
    Bytes bits(241, 0x5A);
    Bytes fc15a{1, 15, 0, 0, hi(1920), lo(1920), 240};
    fc15a.insert(fc15a.end(), bits.begin(), bits.begin() + 240);
    const Bytes fc15b{1, 15, hi(1920), lo(1920), 0, 1, 1, 0x5A};

    testpeer::Responder responder(
        peer, {
                  {rtu({1, 6, 0, 7, 0x01, 0x00}), rtu({1, 6, 0, 7, 0x01, 0x00})},
                  {rtu({1, 16, 0, 7, 0, 2, 4, 0x01, 0x00, 0x03, 0x02}), rtu({1, 16, 0, 7, 0, 2})},
                  {rtu(fc16a), rtu({1, 16, 0, 10, 0, 120})},
                  {rtu(fc16b), rtu({1, 16, 0, 130, 0, 1})},
                  {rtu({1, 5, 0, 3, 0xFF, 0x00}), rtu({1, 5, 0, 3, 0xFF, 0x00})},
                  {rtu({1, 5, 0, 3, 0x00, 0x00}), rtu({1, 5, 0, 3, 0x00, 0x00})},
                  {rtu(fc15a), rtu({1, 15, 0, 0, hi(1920), lo(1920)})},
                  {rtu(fc15b), rtu({1, 15, hi(1920), lo(1920), 0, 1})},
              });
    const std::uint32_t regSel = makeSelector(kKindRegisters, 0, kFrameRtu);
    const std::uint32_t bitSel = makeSelector(kKindBits, 7, kFrameRtu);  // table unused by writes
    EXPECT_EQ(master.writeItems(kCh, 1, 7, regs.data(), 2, regSel), kSuccess);
    EXPECT_EQ(master.writeItems(kCh, 1, 7, regs.data(), 4, regSel), kSuccess);
    EXPECT_EQ(master.writeItems(kCh, 1, 10, regs.data(), 242, regSel), kSuccess);
    const std::uint8_t on = 1, off = 0;
    EXPECT_EQ(master.writeItems(kCh, 1, 3, &on, 1, bitSel), kSuccess);
    EXPECT_EQ(master.writeItems(kCh, 1, 3, &off, 1, bitSel), kSuccess);
    EXPECT_EQ(master.writeItems(kCh, 1, 0, bits.data(), 1921, bitSel), kSuccess);
    expectScriptPlayed(responder);
}

TEST_F(Transactions, SilenceTimesOutAfterRetriesPlusOneAttempts) {
    master.setChannelTiming(kCh, 30, 5);
    const Bytes req = readRequest(1, 3, 0, 1);
    testpeer::Responder responder(peer, std::vector<Step>(6, Step{req, {}}));
    Bytes out(2, 0);
    const std::uint64_t start = testpeer::nowMicros();
    const std::uint64_t cpuStart = threadCpuMicros();
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 2, kHolding), kNoResponse);
    const std::uint64_t elapsed = testpeer::nowMicros() - start;
    const std::uint64_t cpu = threadCpuMicros() - cpuStart;
    expectScriptPlayed(responder);
    // Six waits of 30 ms and five pauses of 20 ms at the least.
    EXPECT_GE(elapsed, 6 * 30'000u + 5 * 20'000u);
    // Waiting blocks instead of spinning.
    EXPECT_LT(cpu, elapsed / 2);
}

TEST_F(Transactions, RetryResendsTheSameRequestAndRecovers) {
    master.setChannelTiming(kCh, 50, 3);
    const Bytes req = readRequest(9, 3, 0x10, 1);
    Bytes badCrc = registerResponse(9, 1, 0x4242);
    badCrc.back() ^= 0xFF;
    testpeer::Responder responder(peer,
                                  {
                                      {req, {}},
                                      {req, badCrc},
                                      {req, rtu({9, 3, 1, 0x42})},  // byte count 1 for one register
                                      {req, registerResponse(9, 1, 0x4242)},
                                  });
    Bytes out(2, 0);
    EXPECT_EQ(master.readItems(kCh, 9, 0x10, out.data(), 2, kHolding), kSuccess);
    expectScriptPlayed(responder);
    EXPECT_EQ(out, (Bytes{0x42, 0x42}));
}

TEST_F(Transactions, LastAttemptDecidesTheResult) {
    master.setChannelTiming(kCh, 50, 1);
    const Bytes inputs = readRequest(1, 2, 0, 10);
    const Bytes holding = readRequest(1, 3, 0, 1);
    Bytes badCrc = registerResponse(1, 1, 5);
    badCrc[3] ^= 0x01;
    testpeer::Responder responder(peer,
                                  {
                                      {inputs, rtu({1, 2, 1, 0xFF})},  // byte count 1 for 10 inputs
                                      {inputs, rtu({1, 2, 1, 0xFF})},
                                      {holding, rtu({1, 0x83, 0x02})},  // exception
                                      {holding, rtu({1, 0x83, 0x02})},
                                      {holding, registerResponse(2, 1, 5)},  // another station
                                      {holding, registerResponse(2, 1, 5)},
                                      {holding, {}},  // silent, then a bad CRC last
                                      {holding, badCrc},
                                  });
    Bytes out(2, 0x77);
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 10, kInputs), kValueMismatch);
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 2, kHolding), kFunctionMismatch);
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 2, kHolding), kFramingError);
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 2, kHolding), kChecksumError);
    expectScriptPlayed(responder);
    EXPECT_EQ(out, (Bytes{0x77, 0x77}));  // failed reads store nothing
}

TEST_F(Transactions, WriteEchoMismatches) {
    const Bytes req = rtu({1, 6, 0, 7, 0x12, 0x34});
    testpeer::Responder responder(peer, {
                                            {req, rtu({1, 6, 0, 8, 0x12, 0x34})},
                                            {req, rtu({1, 6, 0, 7, 0x12, 0x35})},
                                            {req, rtu({1, 0x86, 0x03})},
                                        });
    const std::uint8_t value[] = {0x34, 0x12};
    const std::uint32_t sel = makeSelector(kKindRegisters, kTableOutput, kFrameRtu);
    EXPECT_EQ(master.writeItems(kCh, 1, 7, value, 2, sel), kAddressMismatch);
    EXPECT_EQ(master.writeItems(kCh, 1, 7, value, 2, sel), kValueMismatch);
    EXPECT_EQ(master.writeItems(kCh, 1, 7, value, 2, sel), kFunctionMismatch);
    expectScriptPlayed(responder);
}

TEST_F(Transactions, RunStopsAtFirstFailingRequestKeepingEarlierData) {
    testpeer::Responder responder(peer,
                                  {
                                      {readRequest(1, 3, 0, 120), registerResponse(1, 120, 0)},
                                      {readRequest(1, 3, 120, 120), rtu({1, 0x83, 0x04})},
                                  });
    Bytes out(482, 0xEE);
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 482, kHolding), kFunctionMismatch);
    expectScriptPlayed(responder);
    EXPECT_EQ(out[2 * 119], 119);
    EXPECT_EQ(out[240], 0xEE);
}

TEST_F(Transactions, RtuFrameEndsAtSilenceAsciiFrameAtCrLf) {
    // RTU: a pause far longer than the 2.3 ms gap splits the response; its
    // first part alone fails the checksum.
    const Bytes rtuReq = readRequest(1, 3, 0, 1);
    // ASCII: the same pause inside the frame does not end it.
    const std::string asciiReq = ":010300000001FB\r\n";
    const std::string asciiReply = ":0103020005F5\r\n";
    testpeer::Responder responder(peer,
                                  {
                                      {rtuReq, registerResponse(1, 1, 5), 0, 3, 100},
                                      {Bytes(asciiReq.begin(), asciiReq.end()),
                                       Bytes(asciiReply.begin(), asciiReply.end()), 0, 6, 100},
                                  });
    Bytes out(2, 0);
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 2, kHolding), kChecksumError);
    // Let the rest of the split RTU response arrive: the next request first
    // waits for the line to fall silent and drops it.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 2,
                               makeSelector(kKindRegisters, kTableOutput, kFrameAscii)),
              kSuccess);
    expectScriptPlayed(responder);
    EXPECT_EQ(out, (Bytes{0x05, 0x00}));
}

TEST_F(Transactions, AnswerLaterThanTheTimeOutIsNeverTakenForTheNextRequest) {
    // The first answer comes 60 ms after the 300 ms time-out; the next
    // request goes out only when the line has been silent long enough, so its
    // answer is its own.
    testpeer::Responder responder(peer,
                                  {
                                      {readRequest(1, 3, 0, 1), registerResponse(1, 1, 111), 360},
                                      {readRequest(1, 3, 1, 1), registerResponse(1, 1, 222)},
                                  });
    Bytes out(2, 0);
    RunReport rep;
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 2, kHolding, {300, 0}, &rep), kNoResponse);
    EXPECT_EQ(rep.outcome, Outcome::noAnswer);
    EXPECT_EQ(master.readItems(kCh, 1, 1, out.data(), 2, kHolding, {300, 0}, &rep), kSuccess);
    EXPECT_EQ(out, (Bytes{222, 0}));
    EXPECT_EQ(master.discardedBytes(kCh), registerResponse(1, 1, 111).size());
    expectScriptPlayed(responder);
}

TEST_F(Transactions, AReceiveHoldingMoreThanOneFrameIsRefused) {
    // A late answer and the right one back to back, without the silence that
    // ends a frame: the first frame is whole and bytes are left over.
    Bytes glued = registerResponse(1, 1, 99);
    const Bytes right = registerResponse(1, 1, 5);
    glued.insert(glued.end(), right.begin(), right.end());
    const std::string asciiReq = ":010300000001FB\r\n";
    const std::string asciiGlued = ":010302006397\r\n:0103020005F5\r\n";
    testpeer::Responder responder(peer, {
                                            {readRequest(1, 3, 0, 1), glued},
                                            {Bytes(asciiReq.begin(), asciiReq.end()),
                                             Bytes(asciiGlued.begin(), asciiGlued.end())},
                                        });
    Bytes out(2, 0x77);
    RunReport rep;
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 2, kHolding, {300, 0}, &rep), kFramingError);
    EXPECT_EQ(rep.outcome, Outcome::malformed);
    EXPECT_EQ(
        master.readItems(kCh, 1, 0, out.data(), 2,
                         makeSelector(kKindRegisters, kTableOutput, kFrameAscii), {300, 0}, &rep),
        kFramingError);
    EXPECT_EQ(rep.outcome, Outcome::malformed);
    EXPECT_EQ(out, (Bytes{0x77, 0x77}));
    expectScriptPlayed(responder);
}

TEST_F(Transactions, BytesBeyondTheFrameAreaAreAFramingError) {
    Bytes flood(700, 0x01);
    testpeer::Responder responder(peer, {{readRequest(1, 3, 0, 1), flood}});
    Bytes out(2, 0x77);
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 2, kHolding), kFramingError);
    responder.join();
    EXPECT_TRUE(responder.failures.empty());
    EXPECT_EQ(out, (Bytes{0x77, 0x77}));
}

TEST_F(Transactions, RefusalsBeforeAnythingIsSent) {
    Bytes out(4, 0);
    EXPECT_EQ(master.readItems(8, 1, 0, out.data(), 2, kHolding), kChannelUnavailable);
    EXPECT_EQ(master.readItems(1, 1, 0, out.data(), 2, kHolding), kChannelUnavailable);
    EXPECT_EQ(master.readItems(kCh, 256, 0, out.data(), 2, kHolding), kChannelUnavailable);
    EXPECT_EQ(master.readItems(kCh, -1, 0, out.data(), 2, kHolding), kChannelUnavailable);
    EXPECT_EQ(master.writeItems(kCh, 256, 0, out.data(), 2, kHolding), kChannelUnavailable);
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 2, makeSelector(2, 1, 0)), kFunctionMismatch);
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 2, makeSelector(1, 2, 0)), kFunctionMismatch);
    EXPECT_EQ(master.writeItems(kCh, 1, 0, out.data(), 2, makeSelector(2, 1, 0)),
              kFunctionMismatch);
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 2, makeSelector(1, 1, 2)), kValueMismatch);
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 0, kHolding), kSuccess);
    EXPECT_EQ(master.writeItems(kCh, 1, 0, out.data(), 0, kCoils), kSuccess);
    EXPECT_TRUE(peer.silentFor(50));
}

TEST_F(Transactions, ChannelLockKeepsEachRunWhole) {
    // Two threads each read 241 registers (three requests); the drive answers
    // whatever comes and logs the start addresses.
    std::vector<unsigned> starts;
    std::string failure;
    std::thread drive([&] {
        for (int i = 0; i < 6; ++i) {
            const Bytes req = peer.readBytes(8, 3000);
            if (req.size() != 8) {
                failure = "request " + std::to_string(i) + " missing";
                return;
            }
            const unsigned start = (req[2] << 8) | req[3];
            const unsigned quantity = (req[4] << 8) | req[5];
            starts.push_back(start);
            peer.send(registerResponse(req[0], quantity, start));
        }
    });
    Bytes a(482), b(482);
    std::uint8_t ra = 0xFF, rb = 0xFF;
    std::thread first([&] { ra = master.readItems(kCh, 1, 0, a.data(), 482, kHolding); });
    std::thread second([&] { rb = master.readItems(kCh, 2, 1000, b.data(), 482, kHolding); });
    first.join();
    second.join();
    drive.join();
    ASSERT_EQ(failure, "");
    EXPECT_EQ(ra, kSuccess);
    EXPECT_EQ(rb, kSuccess);
    const std::vector<unsigned> aThenB{0, 120, 240, 1000, 1120, 1240};
    const std::vector<unsigned> bThenA{1000, 1120, 1240, 0, 120, 240};
    EXPECT_TRUE(starts == aThenB || starts == bThenA);
    EXPECT_EQ(a[2 * 240], 240);
    EXPECT_EQ(b[2 * 240 + 1], hi(1240));
}

TEST_F(Transactions, CloseWaitsForTheRunInProgress) {
    master.setChannelTiming(kCh, 200, 0);
    std::uint8_t result = 0;
    Bytes out(2);
    std::thread run([&] { result = master.readItems(kCh, 1, 0, out.data(), 2, kHolding); });
    // Once the request is on the line the run holds the channel.
    EXPECT_EQ(peer.readBytes(8, 3000).size(), 8u);
    EXPECT_EQ(master.closeChannel(kCh), kSuccess);
    run.join();
    EXPECT_EQ(result, kNoResponse);  // the run ended by its own time-out
    EXPECT_EQ(master.readItems(kCh, 1, 0, out.data(), 2, kHolding), kChannelUnavailable);
}

TEST_F(Transactions, PeerGoneLooksLikeSilenceWithoutSpinning) {
    master.setChannelTiming(kCh, 100, 1);
    peer.hangUp();
    Bytes out(2);
    const std::uint64_t cpuStart = threadCpuMicros();
    const std::uint64_t start = testpeer::nowMicros();
    const std::uint8_t r = master.readItems(kCh, 1, 0, out.data(), 2, kHolding);
    const std::uint64_t elapsed = testpeer::nowMicros() - start;
    // Writing to a hung-up pty may fail (4) or be taken and go unanswered (255).
    EXPECT_TRUE(r == kNoResponse || r == kPortFailure) << int(r);
    EXPECT_LT(threadCpuMicros() - cpuStart, std::max<std::uint64_t>(elapsed / 2, 20'000));
}

}  // namespace
