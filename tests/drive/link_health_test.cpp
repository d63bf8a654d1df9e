// The transaction log and the link's health: counts that match the faults
// servo-sim injected, figures from the log, a reader beside a writer that
// never waits, and the USB latency hint on a fake sysfs tree.
#include "drive/link_health.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "modbus/request.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace {

using modbus::Outcome;
using modbus::TransactionLog;
using modbus::TransactionRecord;

std::map<std::string, long> simStats(testsupport::SimProcess& sim) {
    std::istringstream in(sim.ok("stats"));
    std::map<std::string, long> out;
    for (std::string w; in >> w;) {
        const auto eq = w.find('=');
        if (eq != std::string::npos) out[w.substr(0, eq)] = std::stol(w.substr(eq + 1));
    }
    return out;
}

TEST(LinkHealthAgainstSim, CountsEqualTheFaultsTheSimulatorInjected) {
    testsupport::SimProcess sim({"--no-pace", "--seed", "4", "--noanswer", "6", "--bad-crc-rate",
                                 "10", "--wrong-station-rate", "10"});
    modbus::ModbusMaster master;
    TransactionLog log;
    master.setObserver(&log);
    ASSERT_EQ(master.openSerialChannelAt(0, sim.ptyPath(), 115200, 8, 0, 0), modbus::kSuccess);
    drive::LinkHealth health(log);
    const auto sel =
        modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, modbus::kFrameRtu);
    std::uint8_t buf[24];
    constexpr int kReads = 30;
    int good = 0;
    for (int i = 0; i < kReads; ++i)
        good += master.readItems(0, 1, 0, buf, sizeof buf, sel, {50, 5}) == modbus::kSuccess;
    // Exceptions: two requests, each tried twice.
    sim.ok("faults off");
    sim.ok("exception 2");
    for (int i = 0; i < 2; ++i) master.readItems(0, 1, 0, buf, sizeof buf, sel, {50, 1});
    sim.ok("faults off");

    const auto stats = simStats(sim);
    const auto& f = health.update(platform::monotonicMicros());
    ASSERT_TRUE(f.any);
    EXPECT_EQ(good, kReads);
    // The seed draws each fault at least once.
    EXPECT_GT(stats.at("dropped"), 0);
    EXPECT_GT(stats.at("badcrc"), 0);
    EXPECT_GT(stats.at("wrongstation"), 0);
    EXPECT_EQ(f.counts.timeouts, stats.at("dropped"));
    EXPECT_EQ(f.counts.badChecksums, stats.at("badcrc"));
    EXPECT_EQ(f.counts.wrongStations, stats.at("wrongstation"));
    EXPECT_EQ(f.counts.exceptions, stats.at("exceptions"));
    EXPECT_EQ(f.counts.exceptions, 4u);
    EXPECT_EQ(f.counts.otherErrors, 0u);
    // Every attempt after a request's first is a retry, and every request
    // reached the simulator once per attempt.
    EXPECT_EQ(f.counts.retries, f.counts.attempts - (kReads + 2));
    EXPECT_EQ(f.counts.attempts, stats.at("frames"));
    ASSERT_TRUE(f.lastError.has_value());
    EXPECT_EQ(f.lastError->outcome, Outcome::exception);
    EXPECT_EQ(f.lastError->exceptionCode, 2);
    EXPECT_GT(f.roundTripMeanMs, 0);
    EXPECT_GE(f.roundTripP99Ms, f.roundTripMeanMs);
    master.setObserver(nullptr);
}

TEST(LinkHealthAgainstSim, RecordsCarryTheRequestAndItsValues) {
    testsupport::SimProcess sim({"--no-pace", "--pattern"});
    modbus::ModbusMaster master;
    TransactionLog log;
    master.setObserver(&log);
    ASSERT_EQ(master.openSerialChannelAt(0, sim.ptyPath(), 115200, 8, 0, 0), modbus::kSuccess);
    const auto sel =
        modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, modbus::kFrameRtu);
    std::uint8_t buf[6];
    ASSERT_EQ(master.readItems(0, 1, 300, buf, sizeof buf, sel, {100, 0}), modbus::kSuccess);
    const std::uint8_t value[2] = {0x39, 0x30};  // 12345, little-endian as callers give it
    ASSERT_EQ(master.writeItems(0, 1, 22, value, 2, sel, {100, 0}), modbus::kSuccess);
    std::vector<TransactionRecord> records;
    EXPECT_EQ(log.readSince(0, records), 2u);
    ASSERT_EQ(records.size(), 2u);
    const TransactionRecord& read = records[0];
    EXPECT_EQ(read.functionCode, modbus::kReadHoldingRegisters);
    EXPECT_EQ(read.station, 1);
    EXPECT_EQ(read.address, 300);
    EXPECT_EQ(read.quantity, 3);
    EXPECT_EQ(read.outcome, Outcome::ok);
    ASSERT_EQ(read.dataBytes, 6);
    // Registers as on the wire, high byte first: 300, 301, 302.
    EXPECT_EQ(read.data[0] << 8 | read.data[1], 300);
    EXPECT_EQ(read.data[4] << 8 | read.data[5], 302);
    EXPECT_GT(read.roundTripMicros, 0u);
    const TransactionRecord& write = records[1];
    EXPECT_TRUE(write.isWrite());
    EXPECT_EQ(write.address, 22);
    ASSERT_EQ(write.dataBytes, 2);
    EXPECT_EQ(write.data[0] << 8 | write.data[1], 12345);
    EXPECT_GT(write.timeMicros, read.timeMicros);
    master.setObserver(nullptr);
}

TransactionRecord attempt(std::uint32_t link, std::uint64_t time, std::uint32_t tripMicros,
                          Outcome outcome, std::uint32_t attempts, std::uint32_t good) {
    TransactionRecord r;
    r.link = link;
    r.timeMicros = time;
    r.roundTripMicros = tripMicros;
    r.outcome = outcome;
    r.counts.attempts = attempts;
    r.counts.good = good;
    return r;
}

TEST(LinkHealthFigures, RateRoundTripsAndANewLinkStartingAfresh) {
    TransactionLog log;
    drive::LinkHealth health(log, 1'000'000);
    // 100 good attempts over one second, 1 ms each but one of 9 ms, then one
    // time-out; all on link 1.
    std::uint64_t t = 10'000'000;
    for (std::uint32_t i = 0; i < 100; ++i)
        log.onTransaction(
            attempt(1, t + i * 10'000, i == 50 ? 9'000 : 1'000, Outcome::ok, i + 1, i + 1));
    log.onTransaction(attempt(1, t + 999'000, 200'000, Outcome::noAnswer, 101, 100));
    const auto& f = health.update(t + 1'000'000);
    EXPECT_NEAR(f.transactionsPerSecond, 101, 1);
    EXPECT_NEAR(f.roundTripMeanMs, 1.08, 0.001);  // the time-out does not count
    EXPECT_DOUBLE_EQ(f.roundTripP99Ms, 1.0);      // the 9 ms one is the top 1 %
    EXPECT_EQ(f.counts.attempts, 101u);
    ASSERT_TRUE(f.lastError);
    EXPECT_EQ(f.lastError->outcome, Outcome::noAnswer);
    // The window moves on: nothing in the last second.
    EXPECT_EQ(health.update(t + 3'000'000).transactionsPerSecond, 0);
    // The channel opened again: counts, last error and window start over.
    log.onTransaction(attempt(2, t + 3'100'000, 2'000, Outcome::ok, 1, 1));
    const auto& g = health.update(t + 3'200'000);
    EXPECT_EQ(g.counts.attempts, 1u);
    EXPECT_FALSE(g.lastError);
    EXPECT_DOUBLE_EQ(g.roundTripMeanMs, 2.0);
    EXPECT_EQ(platform::toUtf8(drive::linkHealthSummary(g, true)), "1/s 2.0 ms (p99 2.0) 0 errors");
    EXPECT_EQ(platform::toUtf8(drive::linkHealthSummary(g, false)),
              "1/s 2.0 ms (p99 2.0) 0 个错误");
    // A reset ignores the link that was current.
    health.reset();
    log.onTransaction(attempt(2, t + 3'300'000, 2'000, Outcome::ok, 2, 2));
    EXPECT_FALSE(health.update(t + 3'400'000).any);
}

TEST(LinkHealthFigures, LastErrorSurvivesARingThatOverflowedUnread) {
    TransactionLog log;
    drive::LinkHealth health(log);
    log.onTransaction(attempt(1, 1'000, 30'000, Outcome::badChecksum, 1, 0));
    for (std::uint32_t i = 0; i < TransactionLog::kCapacity + 5; ++i)
        log.onTransaction(attempt(1, 2'000 + i, 1'000, Outcome::ok, i + 2, i + 1));
    const auto& f = health.update(20'000);
    ASSERT_TRUE(f.lastError);
    EXPECT_EQ(f.lastError->outcome, Outcome::badChecksum);
    EXPECT_EQ(f.counts.attempts, TransactionLog::kCapacity + 6);
}

// A reader copies slots while the writer fills them: every record it gets is
// whole (its fields agree with its sequence) and in order, and the writer
// never waited (it has no way to).
TEST(DriveThreadsTransactionLog, ReaderBesideTheWriterSeesOnlyWholeRecords) {
    TransactionLog log;
    constexpr std::uint64_t kRecords = 100'000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (std::uint64_t i = 0; i < kRecords; ++i) {
            TransactionRecord r;
            r.timeMicros = i;
            r.address = static_cast<std::uint16_t>(i);
            r.counts.attempts = static_cast<std::uint32_t>(i);
            r.data.fill(static_cast<std::uint8_t>(i));
            log.onTransaction(r);
        }
        done.store(true, std::memory_order_release);
    });
    std::uint64_t next = 0;
    std::uint64_t seen = 0;
    std::uint64_t torn = 0;
    std::uint64_t lastSequence = 0;
    bool ordered = true;
    std::vector<TransactionRecord> batch;
    for (bool finished = false; !finished;) {
        finished = done.load(std::memory_order_acquire);
        batch.clear();
        next = log.readSince(next, batch);
        for (const TransactionRecord& r : batch) {
            torn += r.timeMicros != r.sequence ||
                    r.address != static_cast<std::uint16_t>(r.sequence) ||
                    r.counts.attempts != r.sequence ||
                    r.data[modbus::kRecordDataBytes - 1] != static_cast<std::uint8_t>(r.sequence);
            ordered = ordered && (seen == 0 || r.sequence > lastSequence);
            lastSequence = r.sequence;
            ++seen;
        }
    }
    writer.join();
    EXPECT_EQ(torn, 0u);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(next, kRecords);
    EXPECT_GT(seen, 0u);
    EXPECT_EQ(log.latest()->sequence, kRecords - 1);
}

TEST(UsbLatencyHint, SixteenMillisecondAdapterGetsTheCommandThatLowersIt) {
    testsupport::TempDir root;
    namespace fs = std::filesystem;
    const fs::path r = root.path();
    fs::create_directories(r / "dev/serial/by-id");
    std::ofstream(r / "dev/ttyUSB0").put('\n');
    fs::create_symlink("../../ttyUSB0", r / "dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0");
    fs::create_directories(r / "sys/class/tty/ttyUSB0/device");
    std::ofstream(r / "sys/class/tty/ttyUSB0/device/latency_timer") << "16\n";
    fs::create_directories(r / "sys/class/tty/ttyUSB1/device");
    std::ofstream(r / "sys/class/tty/ttyUSB1/device/latency_timer") << "1\n";

    const auto byId = drive::usbLatencyHint("/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0", r);
    ASSERT_TRUE(byId);
    EXPECT_EQ(byId->latencyMs, 16u);
    EXPECT_EQ(byId->command, "echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer");
    EXPECT_TRUE(drive::usbLatencyHint("/dev/ttyUSB0", r));
    // Already low, no timer (a built-in port or a pty), or not a path.
    EXPECT_FALSE(drive::usbLatencyHint("/dev/ttyUSB1", r));
    EXPECT_FALSE(drive::usbLatencyHint("/dev/ttyS0", r));
    EXPECT_FALSE(drive::usbLatencyHint("COM3", r));
}

}  // namespace
