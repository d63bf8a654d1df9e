// Opening, closing and timing of the master's channels.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>

#include <filesystem>
#include <fstream>

#include "modbus/master.h"
#include "modbus/pty_peer.h"
#include "modbus/result.h"

namespace {

using namespace modbus;

const char* kMissing = "/nonexistent/servo-tty";

TEST(Channels, ResetState) {
    ModbusMaster master;
    master.setChannelTiming(3, 150, 9);
    master.resetMaster();
    for (std::uint8_t n = 0; n < kChannelCount; ++n) {
        const ModbusChannel& c = master.channel(n);
        EXPECT_EQ(c.mode.load(), kModeClosed);
        EXPECT_EQ(c.channelNumber.load(), kNoChannel);
        EXPECT_EQ(c.connection, -1);
        EXPECT_EQ(c.interCharGapMicros.load(), 3000u);
        EXPECT_EQ(c.responseTimeoutMs.load(), 2000);
        EXPECT_EQ(c.retries.load(), 3);
    }
}

TEST(Channels, OpenByComNumberThroughTheEnvironment) {
    testpeer::PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    ::setenv("SERVO_COM3", peer.slavePath().c_str(), 1);
    ModbusMaster master;
    ASSERT_EQ(master.openSerialChannel(2, 9600, 8, 2, 0), kSuccess) << master.portError(2);
    ::unsetenv("SERVO_COM3");
    EXPECT_EQ(master.portDevice(2), peer.slavePath());
    const ModbusChannel& c = master.channel(2);
    EXPECT_EQ(c.mode.load(), kModeSerial);
    EXPECT_EQ(c.channelNumber.load(), 2);
    EXPECT_EQ(c.interCharGapMicros.load(), 10u * 24000 / 9);  // two stop bits: e = 10
    termios tio{};
    ASSERT_EQ(::tcgetattr(peer.fd(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), B9600);
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
}

TEST(Channels, OpenFailures) {
    ModbusMaster master;
    EXPECT_EQ(master.openSerialChannel(8, 115200, 8, 0, 0), kChannelUnavailable);
    EXPECT_EQ(master.openSerialChannelAt(9, kMissing, 115200, 8, 0, 0), kChannelUnavailable);
    EXPECT_EQ(master.openSerialChannelAt(1, kMissing, 115200, 8, 0, 0), kPortUnavailable);
    EXPECT_EQ(master.portError(1),
              std::string("cannot open ") + kMissing + ": No such file or directory");
    EXPECT_EQ(master.channel(1).mode.load(), kModeClosed);

    // A device that refuses the settings is released again: 4, channel closed,
    // and the device can be opened at once.
    testpeer::PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    EXPECT_EQ(master.openSerialChannelAt(1, peer.slavePath(), 12345, 8, 0, 0), kPortFailure);
    EXPECT_NE(master.portError(1).find("unsupported baud rate 12345"), std::string::npos);
    EXPECT_EQ(master.channel(1).mode.load(), kModeClosed);
    EXPECT_EQ(master.openSerialChannelAt(1, peer.slavePath(), 0, 8, 0, 0), kPortFailure);
    EXPECT_EQ(master.openSerialChannelAt(1, peer.slavePath(), 9600, 9, 0, 0), kPortFailure);
    EXPECT_EQ(master.openSerialChannelAt(2, peer.slavePath(), 9600, 8, 0, 0), kSuccess);
}

TEST(Channels, PortIsExclusiveAndReopenClosesFirst) {
    testpeer::PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    ModbusMaster master;
    ModbusMaster other;  // another program holding the port, in effect
    ASSERT_EQ(master.openSerialChannelAt(0, peer.slavePath(), 115200, 8, 0, 0), kSuccess);
    EXPECT_EQ(other.openSerialChannelAt(0, peer.slavePath(), 115200, 8, 0, 0), kPortUnavailable);
    EXPECT_NE(other.portError(0).find("in use"), std::string::npos) << other.portError(0);
    // Opening the open channel again closes its port first, so the same
    // device opens again with the new settings.
    EXPECT_EQ(master.openSerialChannelAt(0, peer.slavePath(), 57600, 8, 0, 0), kSuccess);
    EXPECT_EQ(master.channel(0).interCharGapMicros.load(), 11000u);
    EXPECT_EQ(master.closeChannel(0), kSuccess);
    EXPECT_EQ(other.openSerialChannelAt(0, peer.slavePath(), 115200, 8, 0, 0), kSuccess);
}

TEST(Channels, CloseTwiceAndTimingAcrossReopen) {
    testpeer::PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    ModbusMaster master;
    EXPECT_EQ(master.setChannelTiming(8, 100, 1), 0);
    EXPECT_EQ(master.setChannelTiming(4, 100, 1), 1);
    ASSERT_EQ(master.openSerialChannelAt(4, peer.slavePath(), 4800, 8, 0, 0), kSuccess);
    EXPECT_EQ(master.channel(4).interCharGapMicros.load(), 48000u);
    EXPECT_EQ(master.closeChannel(4), kSuccess);
    EXPECT_EQ(master.closeChannel(4), kPortFailure);
    EXPECT_EQ(master.closeChannel(8), kChannelUnavailable);
    EXPECT_EQ(master.channel(4).mode.load(), kModeClosed);
    EXPECT_EQ(master.channel(4).channelNumber.load(), kNoChannel);
    // The gap keeps its last value after a close; timing survives a reopen.
    EXPECT_EQ(master.channel(4).interCharGapMicros.load(), 48000u);
    ASSERT_EQ(master.openSerialChannelAt(4, peer.slavePath(), 115200, 8, 0, 0), kSuccess);
    EXPECT_EQ(master.channel(4).responseTimeoutMs.load(), 100);
    EXPECT_EQ(master.channel(4).retries.load(), 1);
    // A reset closes open channels.
    master.resetMaster();
    EXPECT_EQ(master.channel(4).mode.load(), kModeClosed);
    EXPECT_EQ(master.closeChannel(4), kPortFailure);
}

TEST(ChannelLock, WaitersAreServedInArrivalOrder) {
    ChannelLock lock;
    std::vector<int> order;
    lock.lock();
    std::thread waiter([&] {
        lock.lock();
        order.push_back(2);
        lock.unlock();
    });
    while (lock.waiting() == 0) std::this_thread::yield();
    order.push_back(1);
    lock.unlock();
    lock.lock();  // queued behind the waiter
    order.push_back(3);
    lock.unlock();
    waiter.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

}  // namespace
