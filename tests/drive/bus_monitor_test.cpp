// The bus monitor's model against servo-sim and the sample language file:
// decoded rows, pause, filters, and the saved text and CSV.
#include "drive/bus_monitor.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "drive_rig.h"
#include "modbus/request.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace {

std::string utf8(const std::u16string& s) {
    return platform::toUtf8(s);
}

class BusMonitorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rig.master.setObserver(&log);
        rig.connect({100, 1});
    }
    void TearDown() override {
        rig.session.disconnect();
        rig.master.setObserver(nullptr);
    }
    modbus::TransactionLog log;
    drivetest::Rig rig{{"--no-pace"}};
};

TEST_F(BusMonitorTest, RowsNameTheParameterOrStatusItemAndTheOutcome) {
    drive::BusMonitor monitor(log, rig.language, true, platform::monotonicMicros());
    const data::ParameterDefinition& p = rig.language.parameters()[0];
    const data::StatusItem& s = rig.language.statusItems()[0];
    std::uint8_t two[2] = {};
    ASSERT_TRUE(rig.session.readRegisters(p.address, two).ok());
    ASSERT_TRUE(rig.session.readRegisters(s.address, two).ok());
    rig.sim.ok("exception 2");
    EXPECT_FALSE(rig.session.readRegisters(p.address, two).ok());
    rig.sim.ok("faults off");
    const std::uint8_t value[2] = {0x39, 0x30};
    ASSERT_TRUE(rig.session.writeRegisters(22, value).ok());
    EXPECT_EQ(monitor.update(), 5u);  // the failed read was tried twice

    const auto rows = monitor.visibleRows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(utf8(rows[0]->direction), "read");
    EXPECT_EQ(utf8(rows[0]->station), "1");
    EXPECT_EQ(utf8(rows[0]->function), "03 read registers");
    EXPECT_EQ(rows[0]->address, platform::fromUtf8(std::to_string(p.address)) + u" " +
                                    std::u16string(p.numberText.view()) + u" " +
                                    std::u16string(p.name.view()));
    EXPECT_NE(rows[1]->address.find(std::u16string(s.name.view())), std::u16string::npos);
    EXPECT_TRUE(rows[0]->error.empty());
    EXPECT_FALSE(rows[0]->roundTrip.empty());
    EXPECT_EQ(utf8(rows[2]->error), "exception 02");
    EXPECT_EQ(utf8(rows[3]->error), "exception 02, retry 1");
    EXPECT_EQ(utf8(rows[4]->direction), "write");
    EXPECT_EQ(utf8(rows[4]->values), "12345");
    EXPECT_EQ(utf8(rows[4]->function), "06 write register");
}

TEST_F(BusMonitorTest, PauseFilterAndSaving) {
    drive::BusMonitor monitor(log, rig.language, true, platform::monotonicMicros());
    std::uint8_t regs[4] = {};
    ASSERT_TRUE(rig.session.readRegisters(0, regs).ok());
    EXPECT_EQ(monitor.update(), 1u);
    monitor.setPaused(true);
    ASSERT_TRUE(rig.session.readRegisters(0, regs).ok());
    EXPECT_EQ(monitor.update(), 0u);
    // After the pause the monitor catches up with what the log kept.
    monitor.setPaused(false);
    EXPECT_EQ(monitor.update(), 1u);
    rig.sim.ok("exception 3");
    EXPECT_FALSE(rig.session.readRegisters(0, regs).ok());
    rig.sim.ok("faults off");
    const std::uint8_t on = 1;
    ASSERT_TRUE(rig.session.writeCoils(0, {&on, 1}).ok());
    monitor.update();
    ASSERT_EQ(monitor.visibleRows().size(), 5u);

    monitor.setFilter({true, -1});
    EXPECT_EQ(monitor.visibleRows().size(), 2u);
    monitor.setFilter({false, modbus::kWriteSingleCoil});
    ASSERT_EQ(monitor.visibleRows().size(), 1u);
    EXPECT_EQ(utf8(monitor.visibleRows()[0]->values), "1");

    monitor.setFilter({true, -1});
    const std::string csv = monitor.asCsv();
    // A header and the two failed attempts; the comma in an error is quoted.
    EXPECT_EQ(csv.rfind("time s,direction,station,function,address,values,round trip,error\r\n", 0),
              0u);
    EXPECT_NE(csv.find(",exception 03\r\n"), std::string::npos);
    EXPECT_NE(csv.find(",\"exception 03, retry 1\"\r\n"), std::string::npos);
    const std::string text = monitor.asText();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    EXPECT_NE(text.find("\texception 03, retry 1\n"), std::string::npos);
}

}  // namespace
