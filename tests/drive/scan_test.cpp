// The bus scan against servo-sim and against an independent libmodbus slave,
// each behind a cable that passes bytes only at matching line speeds.
#include "drive/scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "modbus/master.h"
#include "modbus/request.h"
#include "support/line_relay.h"
#include "support/sim_process.h"

namespace {

using drive::ScanHit;
using drive::ScanPlan;
using drive::ScanReport;

// The simulator's pty, opened as the far end of the cable.
struct SimEnd {
    int fd = -1;
    explicit SimEnd(const std::string& path) {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) throw std::runtime_error("cannot open " + path);
    }
    ~SimEnd() { ::close(fd); }
};

ScanPlan planFor(const std::string& port, std::vector<std::uint32_t> bauds, std::int32_t first,
                 std::int32_t last, std::uint16_t timeoutMs = 15) {
    ScanPlan plan;
    plan.ports = {port};
    plan.baudRates = std::move(bauds);
    plan.parities = {drive::kParityNone};
    plan.firstStation = first;
    plan.lastStation = last;
    plan.timeoutMs = timeoutMs;
    return plan;
}

// Register 0 read directly at the given speed, for comparison.
std::uint16_t readRegister0(const std::string& port, std::uint32_t baud, std::int32_t station) {
    modbus::ModbusMaster master;
    master.resetMaster();
    if (master.openSerialChannelAt(0, port, baud, 8, 0, 0) != modbus::kSuccess)
        throw std::runtime_error("cannot open " + port);
    std::uint8_t bytes[2] = {};
    const auto r = master.readItems(
        0, station, 0, bytes, 2,
        modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, modbus::kFrameRtu),
        modbus::RequestTiming{200, 2});
    if (r != modbus::kSuccess) throw std::runtime_error("direct read failed");
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

TEST(DriveScan, FindsTheSimulatorAtItsStationAndSpeedOnly) {
    testsupport::SimProcess sim({"--station", "7", "--baud", "38400"});
    testsupport::PtyEnd line;
    SimEnd simEnd(sim.ptyPath());
    testsupport::LineRelay relay(line.fd, simEnd.fd);

    // Time-outs far above the answer's few milliseconds: a loaded machine
    // must not turn the drive into a late one.
    const ScanPlan plan = planFor(line.path, {4800, 9600, 19200, 38400, 57600, 115200}, 6, 8, 40);
    std::size_t lastDone = 0;
    std::size_t lastTotal = 0;
    std::vector<ScanHit> announced;
    drive::ScanControl control;
    control.progress = [&](std::size_t done, std::size_t total) {
        EXPECT_GT(done, lastDone);
        lastDone = done;
        lastTotal = total;
    };
    control.found = [&](const ScanHit& h) { announced.push_back(h); };
    const ScanReport report = drive::scanBus(plan, control);

    ASSERT_EQ(report.hits.size(), 1u) << "hits beyond the drive: the scan reports noise";
    const ScanHit& hit = report.hits[0];
    EXPECT_EQ(hit.port, line.path);
    EXPECT_EQ(hit.station, 7);
    EXPECT_EQ(hit.baudRate, 38400u);
    EXPECT_EQ(hit.parity, drive::kParityNone);
    ASSERT_TRUE(hit.register0.has_value());
    EXPECT_EQ(*hit.register0, readRegister0(line.path, 38400, 7));
    EXPECT_EQ(announced.size(), 1u);
    EXPECT_TRUE(report.portFailures.empty());
    EXPECT_FALSE(report.cancelled);
    EXPECT_EQ(lastDone, plan.probeCount());
    EXPECT_EQ(lastTotal, plan.probeCount());
    EXPECT_GT(relay.dropped(), 0u) << "the other speeds were never tried";
}

TEST(DriveScan, ALateDriveIsFoundByASecondLookAndNamedByItsOwnStation) {
    // Every answer comes 40 ms late, after the 15 ms time-out: it arrives
    // while a later station is being asked, and must not pass for that one's.
    testsupport::SimProcess sim({"--station", "7", "--late", "100", "--late-ms", "40"});
    const ScanReport report = drive::scanBus(planFor(sim.ptyPath(), {115200}, 5, 10));
    ASSERT_EQ(report.hits.size(), 1u);
    EXPECT_EQ(report.hits[0].station, 7);
    EXPECT_TRUE(report.hits[0].register0.has_value());
    EXPECT_GT(report.probes, 6u) << "found without a second look";

    // The last station of the range: its late answer comes after the pass,
    // when no probe is left to see it.
    const ScanReport last = drive::scanBus(planFor(sim.ptyPath(), {115200}, 5, 7));
    ASSERT_EQ(last.hits.size(), 1u) << "a slow drive at the end of the range is missed";
    EXPECT_EQ(last.hits[0].station, 7);
    EXPECT_GT(last.probes, 3u) << "found without a second look";
}

TEST(DriveScan, CancelStopsAtTheNextProbeAndAMissingPortIsNamed) {
    testsupport::PtyEnd line;  // nothing answers
    ScanPlan plan = planFor(line.path, {115200}, 1, 20, 5);
    plan.ports.insert(plan.ports.begin(), "/dev/servo-scan-no-such-port");
    std::size_t asked = 0;
    drive::ScanControl control;
    control.cancelled = [&] { return ++asked > 4; };
    const ScanReport report = drive::scanBus(plan, control);
    EXPECT_TRUE(report.cancelled);
    EXPECT_TRUE(report.hits.empty());
    // The fifth check stops it: one before each port's only setting, then two probes.
    EXPECT_EQ(report.probes, 2u);
    ASSERT_EQ(report.portFailures.size(), 1u);
    EXPECT_EQ(report.portFailures[0].port, "/dev/servo-scan-no-such-port");
    EXPECT_NE(report.portFailures[0].reason.find("/dev/servo-scan-no-such-port"),
              std::string::npos);
}

// libmodbus as the drive: station 23 at 19200 bit/s on its own pty.
class LibmodbusDrive {
  public:
    explicit LibmodbusDrive(const std::string& device) {
        ctx_ = modbus_new_rtu(device.c_str(), 19200, 'N', 8, 1);
        map_ = modbus_mapping_new(0, 0, 4, 0);
        if (!ctx_ || !map_ || modbus_set_slave(ctx_, 23) != 0 || modbus_connect(ctx_) != 0)
            throw std::runtime_error("libmodbus slave cannot start on " + device);
        modbus_set_indication_timeout(ctx_, 0, 50000);
        map_->tab_registers[0] = 4321;
        // After a request for another station libmodbus takes the next frame
        // for that station's answer, waiting up to its response time-out for
        // it. Kept below the scan's time-out, as a drive on a real bus hears
        // the other station's answer within its own.
        modbus_set_response_timeout(ctx_, 0, 5000);
        thread_ = std::thread([this] {
            std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            while (!stop_.load(std::memory_order_acquire)) {
                const int rc = modbus_receive(ctx_, query);
                if (rc > 0) modbus_reply(ctx_, query, rc, map_);
            }
        });
    }
    ~LibmodbusDrive() {
        stop_.store(true, std::memory_order_release);
        if (thread_.joinable()) thread_.join();
        modbus_close(ctx_);
        modbus_free(ctx_);
        modbus_mapping_free(map_);
    }

  private:
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* map_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(DriveScan, FindsALibmodbusSlaveAndNothingElse) {
    testsupport::PtyEnd line;
    testsupport::PtyEnd slaveSide;
    LibmodbusDrive slave(slaveSide.path);
    testsupport::LineRelay relay(line.fd, slaveSide.fd);
    const ScanReport report = drive::scanBus(planFor(line.path, {9600, 19200, 38400}, 21, 25, 40));
    ASSERT_EQ(report.hits.size(), 1u);
    EXPECT_EQ(report.hits[0].station, 23);
    EXPECT_EQ(report.hits[0].baudRate, 19200u);
    EXPECT_EQ(report.hits[0].register0, std::optional<std::uint16_t>(4321));
    EXPECT_EQ(report.probes, 15u) << "no answer should have needed a second look";
}

TEST(DriveScan, PlanTextsAndFileNames) {
    std::string problem;
    EXPECT_EQ(drive::parseBaudRates(" 9600,115200 ,9600", problem),
              (std::vector<std::uint32_t>{9600, 115200}));
    EXPECT_FALSE(drive::parseBaudRates("9600,1234", problem));
    EXPECT_NE(problem.find("1234"), std::string::npos);
    EXPECT_FALSE(drive::parseBaudRates("9600,", problem));

    EXPECT_EQ(
        drive::parseParities("n, E,o", problem),
        (std::vector<std::uint8_t>{drive::kParityNone, drive::kParityEven, drive::kParityOdd}));
    EXPECT_FALSE(drive::parseParities("N,X", problem));

    using Range = std::pair<std::int32_t, std::int32_t>;
    EXPECT_EQ(drive::parseStationRange("1-247", problem), Range(1, 247));
    EXPECT_EQ(drive::parseStationRange(" 7 ", problem), Range(7, 7));
    EXPECT_EQ(drive::parseStationRange("3 - 10", problem), Range(3, 10));
    for (const char* bad : {"0-5", "1-248", "10-3", "", "a-b", "5-", "-5"})
        EXPECT_FALSE(drive::parseStationRange(bad, problem)) << bad;

    EXPECT_EQ(drive::parsePortList("COM1, /dev/ttyUSB0,COM1", problem),
              (std::vector<std::string>{"COM1", "/dev/ttyUSB0"}));
    EXPECT_FALSE(drive::parsePortList(" , ", problem));

    ScanHit hit;
    hit.station = 7;
    hit.port = "/dev/serial/by-id/usb-FTDI_x y";
    EXPECT_EQ(drive::backupFileName(hit), "usb-FTDI_x_y-st7.dat");
    hit.port = "COM3";
    EXPECT_EQ(drive::backupFileName(hit), "COM3-st7.dat");
    hit.port = "rtu+tcp://10.0.0.5:4001";
    EXPECT_EQ(drive::backupFileName(hit), "rtu_tcp___10.0.0.5_4001-st7.dat");
    hit.baudRate = 38400;
    hit.parity = drive::kParityEven;
    EXPECT_EQ(drive::lineText(hit), "38400 8E1");
}

}  // namespace
