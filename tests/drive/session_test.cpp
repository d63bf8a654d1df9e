// DriveSession against servo-sim: connect and disconnect, the typed results
// and the words of their causes, timing per request, stale fault codes.
#include "drive/session.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>

#include "drive_rig.h"

namespace {

using drive::Error;
using drivetest::Rig;

TEST(DriveSession, ConnectPublishesANewGenerationAndProbesFirst) {
    Rig rig;
    EXPECT_FALSE(rig.session.connected());
    rig.connect();
    const drive::LinkSnapshot s = rig.session.snapshot();
    EXPECT_TRUE(s.connected);
    EXPECT_EQ(s.generation, 1u);
    EXPECT_EQ(s.faultCode, drive::kFaultProbe);
    EXPECT_EQ(s.device, rig.sim.ptyPath());
    EXPECT_FALSE(rig.session.healthy());
    EXPECT_TRUE(rig.session.probe().ok());
    EXPECT_TRUE(rig.session.healthy());

    rig.session.disconnect();
    EXPECT_FALSE(rig.session.connected());
    std::array<std::uint8_t, 2> value{};
    const drive::Result r = rig.session.readRegisters(0, value);
    EXPECT_EQ(r.error, Error::notConnected);
    EXPECT_EQ(r.accessCode(), drive::kAccessNoLink);

    rig.connect();
    EXPECT_GT(rig.session.generation(), s.generation);
}

TEST(DriveSession, AFaultCodeOfAnEarlierConnectionIsDropped) {
    Rig rig;
    rig.connect();
    const std::uint64_t old = rig.session.generation();
    rig.connect();  // reconnects
    rig.session.noteFault(old, drive::kAccessNoResponse);
    EXPECT_EQ(rig.session.faultCode(), drive::kFaultProbe);
    rig.session.noteFault(rig.session.generation(), 0);
    EXPECT_EQ(rig.session.faultCode(), 0);
}

TEST(DriveSession, TheEpochMovesWheneverEarlierReadsTurnStale) {
    Rig rig;
    std::uint64_t epoch = rig.session.epoch();
    const auto moved = [&] {
        const std::uint64_t now = rig.session.epoch();
        const bool changed = now != epoch;
        epoch = now;
        return changed;
    };
    rig.connect();
    EXPECT_TRUE(moved()) << "connect";
    const std::uint64_t generation = rig.session.generation();
    ASSERT_TRUE(rig.session.probe().ok());
    EXPECT_FALSE(moved()) << "a probe that clears the fault";
    rig.session.noteFault(generation, drive::kAccessNoResponse);
    EXPECT_TRUE(moved()) << "healthy to faulty";
    rig.session.noteFault(generation, drive::kAccessFailed);
    EXPECT_FALSE(moved()) << "still faulty";
    rig.session.noteFault(generation, 0);
    EXPECT_FALSE(moved()) << "healthy again: reads from now on are new";

    // Opening the port again keeps the connection, flags the fault for a
    // probe, and works on the same device.
    ASSERT_TRUE(rig.session.reopen(generation).ok());
    EXPECT_TRUE(moved()) << "reopen";
    EXPECT_EQ(rig.session.generation(), generation);
    EXPECT_EQ(rig.session.faultCode(), drive::kFaultProbe);
    ASSERT_TRUE(rig.session.probe().ok());
    // A reopen for an earlier connection does nothing.
    EXPECT_EQ(rig.session.reopen(generation - 1).error, Error::notConnected);
    EXPECT_TRUE(rig.session.healthy());

    rig.session.disconnect();
    EXPECT_TRUE(moved()) << "disconnect";
    EXPECT_EQ(rig.session.reopen(generation).error, Error::notConnected);
    EXPECT_FALSE(rig.session.connected());
}

TEST(DriveSession, CausesNameWhatHappened) {
    Rig rig;
    rig.connect();
    std::array<std::uint8_t, 2> value{};

    rig.sim.ok("noanswer on");
    drive::Result r = rig.session.readRegisters(0, value);
    EXPECT_EQ(r.error, Error::noAnswer);
    EXPECT_EQ(r.cause(), "no answer from station 1 after 6 tries (200 ms each)");
    EXPECT_EQ(r.accessCode(), drive::kAccessNoResponse);

    r = rig.session.writeRegisters(0, value, drive::RequestTiming{50, 1});
    EXPECT_EQ(r.error, Error::writeUnconfirmed);
    EXPECT_EQ(r.cause(), "time-out: the drive may have applied the write; read it back");
    rig.sim.ok("noanswer off");

    rig.sim.ok("badcrc on");
    r = rig.session.readRegisters(0, value, drive::RequestTiming{50, 1});
    EXPECT_EQ(r.error, Error::badChecksum);
    EXPECT_EQ(r.cause(), "bad checksum");
    EXPECT_EQ(r.accessCode(), drive::kAccessFailed);
    rig.sim.ok("badcrc off");

    rig.sim.ok("exception 3");
    r = rig.session.writeRegisters(0, value);
    EXPECT_EQ(r.error, Error::refused);
    EXPECT_EQ(r.exceptionCode, 3);
    EXPECT_EQ(r.cause(), "the drive refused the value: exception 03, illegal data value");
}

TEST(DriveSession, AWriteToStationZeroIsSentOnceToAll) {
    Rig rig;
    drive::LinkSettings s = rig.settings();
    s.station = 0;
    ASSERT_TRUE(rig.session.connect(s).ok());
    rig.sim.ok("log on");
    const std::array<std::uint8_t, 1> on{1};
    const drive::Result r = rig.session.writeCoils(4, on);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.error, Error::broadcastSent);
    EXPECT_EQ(r.cause(), "sent to all stations; no answer expected");
    // No answer tells when the drive has carried it out: ask the simulator
    // until it has, with a deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (rig.sim.ok("get coil 4") != "1" && std::chrono::steady_clock::now() < deadline) {
    }
    EXPECT_EQ(rig.sim.ok("get coil 4"), "1");
    EXPECT_EQ(rig.sim.ok("log dump").substr(0, 2), "1 ");
    // A read has no answer from all stations: refused without a request.
    std::array<std::uint8_t, 2> value{};
    const drive::Result read = rig.session.readRegisters(0, value);
    EXPECT_FALSE(read.ok());
    EXPECT_EQ(read.cause(), "a read from station 0 (all stations) has no answer");
    EXPECT_EQ(rig.sim.ok("log dump").substr(0, 2), "1 ");
}

TEST(DriveSession, APortThatCannotBeOpenedIsNamed) {
    Rig rig;
    drive::LinkSettings s = rig.settings();
    s.device = "/nonexistent/ttyUSB0";
    const drive::Result r = rig.session.connect(s);
    EXPECT_EQ(r.error, Error::portUnavailable);
    EXPECT_EQ(r.cause().rfind("cannot open /nonexistent/ttyUSB0: ", 0), 0u) << r.cause();
    EXPECT_FALSE(rig.session.connected());
    s = rig.settings();
    s.station = 248;
    EXPECT_EQ(rig.session.connect(s).error, Error::badValue);
    EXPECT_FALSE(rig.session.connected());
}

TEST(DriveSession, TimingTravelsWithTheRequestAndLeavesTheChannelAlone) {
    Rig rig;
    rig.connect();
    const modbus::ModbusChannel& channel = rig.master.channel(0);
    rig.sim.ok("noanswer on");
    std::array<std::uint8_t, 2> value{};
    const drive::Result r = rig.session.readRegisters(0, value, drive::RequestTiming{30, 2});
    EXPECT_EQ(r.cause(), "no answer from station 1 after 3 tries (30 ms each)");
    EXPECT_EQ(channel.responseTimeoutMs.load(), drive::kLinkTiming.responseTimeoutMs);
    EXPECT_EQ(channel.retries.load(), drive::kLinkTiming.retries);
}

}  // namespace
