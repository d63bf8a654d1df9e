// The drive access layer over a pseudo-terminal.

#include "modbus/drive_access.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "modbus/pty_peer.h"
#include "modbus/result.h"

namespace {

using namespace modbus;
using testpeer::Bytes;
using testpeer::rtu;

constexpr std::uint8_t kCh = 5;  // COM6
constexpr std::uint8_t kStation = 12;

class Access : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(peer.ok());
        access.initModbus();
        ASSERT_EQ(access.openLinkAt(kCh, peer.slavePath(), 38400, 8, 0, 0), kLinkSuccess);
        ASSERT_EQ(access.setLinkTiming(kCh, 100, 0), 1);
        access.selectDrive(kCh, kStation, kFrameRtu, true);
    }
    void expectScriptPlayed(testpeer::Responder& responder) {
        responder.join();
        for (const auto& f : responder.failures) ADD_FAILURE() << f;
        EXPECT_TRUE(peer.silentFor(30)) << "unexpected further request";
    }

    testpeer::PtyPeer peer;
    ModbusMaster master;
    DriveAccess access{master};
};

TEST_F(Access, DisabledLinkRefusesEveryCallAndSendsNothing) {
    access.selectDrive(kCh, kStation, kFrameRtu, false);
    std::uint8_t buffer[16] = {1, 1, 1, 1};
    EXPECT_EQ(access.readInputs(0, buffer, 10), kAccessNoLink);
    EXPECT_EQ(access.readCoils(0, buffer, 8), kAccessNoLink);
    EXPECT_EQ(access.writeCoils(0, buffer, 1), kAccessNoLink);
    EXPECT_EQ(access.readRegisters(0, buffer, 2), kAccessNoLink);
    EXPECT_EQ(access.writeRegisters(0, buffer, 2), kAccessNoLink);
    EXPECT_TRUE(peer.silentFor(50));
}

TEST_F(Access, LinkIsReadBackWhole) {
    access.selectDrive(3, 64, kFrameAscii, true);
    const DriveLink link = access.currentLink();
    EXPECT_EQ(link.channel, 3);
    EXPECT_EQ(link.station, 64);
    EXPECT_EQ(link.frameType, kFrameAscii);
    EXPECT_TRUE(link.enabled);
    access.initModbus();
    EXPECT_FALSE(access.currentLink().enabled);
    EXPECT_EQ(access.currentLink().channel, kNoChannel);
}

TEST_F(Access, RegistersAndCoilsOnTheLine) {
    testpeer::Responder responder(
        peer, {
                  // The link probe: one holding register at address 0.
                  {rtu({kStation, 3, 0, 0, 0, 1}), rtu({kStation, 3, 2, 0x12, 0x34})},
                  {rtu({kStation, 6, 0, 9, 0xAB, 0xCD}), rtu({kStation, 6, 0, 9, 0xAB, 0xCD})},
                  {rtu({kStation, 16, 0, 9, 0, 2, 4, 0xAB, 0xCD, 0x00, 0x01}),
                   rtu({kStation, 16, 0, 9, 0, 2})},
                  {rtu({kStation, 5, 0, 4, 0xFF, 0x00}), rtu({kStation, 5, 0, 4, 0xFF, 0x00})},
                  {rtu({kStation, 15, 0, 0, 0, 3, 1, 0x05}), rtu({kStation, 15, 0, 0, 0, 3})},
                  {rtu({kStation, 2, 0, 0, 0, 10}), rtu({kStation, 2, 2, 0x81, 0x02})},
                  {rtu({kStation, 1, 0, 0, 0, 8}), rtu({kStation, 1, 1, 0xF0})},
              });
    std::uint8_t probe[4] = {};
    EXPECT_EQ(access.readRegisters(0, probe, 2), kAccessSuccess);
    EXPECT_EQ(probe[0], 0x34);
    EXPECT_EQ(probe[1], 0x12);
    const std::uint8_t value[] = {0xCD, 0xAB, 0x01, 0x00};  // 0xABCD, then 0x0001
    EXPECT_EQ(access.writeRegisters(9, value, 2), kAccessSuccess);
    EXPECT_EQ(access.writeRegisters(9, value, 4), kAccessSuccess);
    const std::uint8_t on = 1;
    EXPECT_EQ(access.writeCoils(4, &on, 1), kAccessSuccess);
    const std::uint8_t three[] = {1, 0, 3};  // bit 0 of each byte
    EXPECT_EQ(access.writeCoils(0, three, 3), kAccessSuccess);
    std::uint8_t inputs[10];
    EXPECT_EQ(access.readInputs(0, inputs, 10), kAccessSuccess);
    EXPECT_EQ(Bytes(inputs, inputs + 10), (Bytes{1, 0, 0, 0, 0, 0, 0, 1, 0, 1}));
    std::uint8_t coils[8];
    EXPECT_EQ(access.readCoils(0, coils, 8), kAccessSuccess);
    EXPECT_EQ(Bytes(coils, coils + 8), (Bytes{0, 0, 0, 0, 1, 1, 1, 1}));
    expectScriptPlayed(responder);
}

TEST_F(Access, MasterFailuresFoldIntoTwoCodes) {
    const Bytes req = rtu({kStation, 2, 0, 0, 0, 4});
    testpeer::Responder responder(
        peer, {
                  {req, {}},
                  {req, rtu({kStation, 0x82, 0x02})},
                  {req, rtu({kStation, 2, 2, 0x0F, 0x00})},  // byte count 2 for 4 inputs
              });
    std::uint8_t inputs[4] = {7, 7, 7, 7};
    EXPECT_EQ(access.readInputs(0, inputs, 4), kAccessNoResponse);
    EXPECT_EQ(access.readInputs(0, inputs, 4), kAccessFailed);
    EXPECT_EQ(access.readInputs(0, inputs, 4), kAccessFailed);
    expectScriptPlayed(responder);
    EXPECT_EQ(Bytes(inputs, inputs + 4), Bytes(4, 7));  // untouched on failure
    // A link on a channel that is not open fails without reaching any port.
    access.selectDrive(1, kStation, kFrameRtu, true);
    EXPECT_EQ(access.readRegisters(0, inputs, 2), kAccessFailed);
}

TEST_F(Access, OpenAndCloseCodes) {
    EXPECT_EQ(access.openLink(9, 115200, 8, 0, 0), kLinkBadChannel);
    ::setenv("SERVO_COM7", "/nonexistent/servo-tty", 1);
    EXPECT_EQ(access.openLink(6, 115200, 8, 0, 0), kLinkPortUnavailable);
    ::unsetenv("SERVO_COM7");
    EXPECT_NE(access.linkError(6).find("No such file or directory"), std::string::npos);
    EXPECT_EQ(access.openLinkAt(4, peer.slavePath(), 115200, 8, 0, 0), kLinkPortUnavailable)
        << "held by channel 5";
    EXPECT_EQ(access.closeLink(kCh), kLinkSuccess);
    EXPECT_EQ(access.closeLink(kCh), kLinkFailed);
    EXPECT_EQ(access.closeLink(9), kLinkBadChannel);
    EXPECT_EQ(access.setLinkTiming(9, 200, 5), 0);
}

}  // namespace
