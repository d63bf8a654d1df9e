// The status page's port list, network port and scan dialog on the headless
// backend, against servo-sim on a pseudo-terminal.
#include "pages/status/port_chooser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "pages/status/scan_dialog.h"
#include "pages/status/status_page.h"
#include "platform/text.h"
#include "resources/resources.h"
#include "support/line_relay.h"
#include "support/program_rig.h"
#include "support/sim_process.h"
#include "ui/headless.h"

namespace {

using pages::PortChooser;
using pages::ScanDialog;
using pages::StatusPage;

class PortChooserTest : public ::testing::Test {
  protected:
    ui::HeadlessBackend backend;
    testsupport::ProgramRig program;
    std::unique_ptr<StatusPage> page;
    std::mutex listMutex;
    std::vector<platform::SerialPortInfo> listed;  // what the fake listing gives

    void SetUp() override { ::unsetenv("SERVO_COM2"); }
    void TearDown() override {
        if (page && program.session.connected()) page->toggleConnection();
        page.reset();
        ::unsetenv("SERVO_COM2");
    }

    void open() {
        program.context.pageRect = {0, 0, 969, 641};
        page = std::make_unique<StatusPage>(program.context);
        ASSERT_TRUE(page->createModeless());
        page->ports().useListing([this] {
            std::lock_guard lock(listMutex);
            return listed;
        });
    }
    void list(std::vector<platform::SerialPortInfo> ports) {
        std::lock_guard lock(listMutex);
        listed = std::move(ports);
    }
    ui::Control& portList() { return page->control(PortChooser::kPortList); }
    // Waits until the list shows `device` in one of its entries.
    bool shows(const std::string& device) {
        return testsupport::pumpUntil(backend, [&] {
            for (int i = 0; i < portList().itemCount(); ++i)
                if (platform::toUtf8(portList().itemText(i)).find(device) != std::string::npos)
                    return true;
            return false;
        });
    }
    int entryOf(const std::string& device) {
        for (int i = 0; i < portList().itemCount(); ++i)
            if (platform::toUtf8(portList().itemText(i)).starts_with(device)) return i;
        return -1;
    }
};

TEST_F(PortChooserTest, AListedPortOverridesTheComButtonsUntilOneIsClicked) {
    testsupport::SimProcess sim({"--no-pace", "--station", "3"});
    testsupport::SimProcess other({"--no-pace", "--station", "3"});
    other.exportAsCom(2);
    list({{sim.ptyPath(), "", "Test adapter", "0403", "6001", "A1", {}}});
    open();
    ASSERT_TRUE(shows("Test adapter"));
    const int entry = entryOf(sim.ptyPath());
    ASSERT_GT(entry, 0);

    ASSERT_TRUE(page->userClick(StatusPage::kFirstPortButton + 1));  // COM2
    ASSERT_TRUE(page->userSelectItem(PortChooser::kPortList, entry));
    ASSERT_TRUE(page->userSelectItem(PortChooser::kParityList, 1));  // even
    ASSERT_TRUE(page->userSelectItem(StatusPage::kStationList, 2));  // station 3
    ASSERT_TRUE(page->userClick(StatusPage::kConnectButton));
    ASSERT_TRUE(program.session.connected()) << backend.messages().size();
    drive::LinkSnapshot link = program.session.snapshot();
    EXPECT_EQ(link.device, sim.ptyPath());
    EXPECT_EQ(link.settings.parity, drive::kParityEven);
    EXPECT_FALSE(portList().isEnabled()) << "the port in use cannot change while connected";
    EXPECT_FALSE(page->control(PortChooser::kScanButton).isEnabled());
    page->toggleConnection();

    // A COM button again: the mapping's device, not the listed port.
    ASSERT_TRUE(page->userClick(StatusPage::kFirstPortButton + 1));
    EXPECT_EQ(portList().selection(), 0);
    ASSERT_TRUE(page->userClick(StatusPage::kConnectButton));
    ASSERT_TRUE(program.session.connected());
    link = program.session.snapshot();
    EXPECT_EQ(link.device, other.ptyPath());
    EXPECT_TRUE(link.settings.device.empty());
}

TEST_F(PortChooserTest, ARefreshKeepsTheChoiceAndMarksItWhileItsAdapterIsAway) {
    list({{"/dev/ttyUSB0", "", "First", "", "", "", {}},
          {"/dev/ttyUSB1", "", "Second", "", "", "", {}}});
    open();
    ASSERT_TRUE(shows("Second"));
    ASSERT_TRUE(page->userSelectItem(PortChooser::kPortList, entryOf("/dev/ttyUSB1")));
    EXPECT_EQ(page->ports().chosenDevice(), "/dev/ttyUSB1");

    // Another adapter arrives before it: the choice stays on its device.
    list({{"/dev/ttyACM0", "", "Newcomer", "", "", "", {}},
          {"/dev/ttyUSB0", "", "First", "", "", "", {}},
          {"/dev/ttyUSB1", "", "Second", "", "", "", {}}});
    backend.advance(PortChooser::kRefreshMs);
    ASSERT_TRUE(shows("Newcomer"));
    EXPECT_EQ(portList().selection(), entryOf("/dev/ttyUSB1"));

    // Unplugged: still chosen, marked, never replaced by another port.
    list({{"/dev/ttyUSB0", "", "First", "", "", "", {}}});
    backend.advance(PortChooser::kRefreshMs);
    ASSERT_TRUE(testsupport::pumpUntil(backend, [&] { return entryOf("/dev/ttyACM0") < 0; }));
    EXPECT_EQ(page->ports().chosenDevice(), "/dev/ttyUSB1");
    const int away = entryOf("/dev/ttyUSB1");
    ASSERT_GT(away, 0);
    EXPECT_EQ(portList().selection(), away);
    EXPECT_NE(portList().itemText(away).find(u"not listed"), std::u16string::npos);
    drive::LinkSettings settings;
    page->ports().apply(settings);
    EXPECT_EQ(settings.device, "/dev/ttyUSB1");
}

TEST_F(PortChooserTest, NetworkAsksUntilTheAddressIsUsable) {
    open();
    int boxes = 0;
    backend.queueModalScript(resources::kNetworkPortDialog, [&](ui::Dialog& d) {
        ASSERT_TRUE(d.userType(1212, u"tcp://plc-7"));
        ASSERT_TRUE(d.userClick(ui::kIdOk));
        boxes = static_cast<int>(backend.messages().size());
        EXPECT_FALSE(d.modalEnded()) << "a port without a number was taken";
        ASSERT_TRUE(d.userType(1212, u" rtu+tcp://10.0.0.5:4001 "));
        ASSERT_TRUE(d.userClick(ui::kIdOk));
    });
    const int network = portList().itemCount() - 1;  // "Network..." is last
    ASSERT_TRUE(page->userSelectItem(PortChooser::kPortList, network));
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(page->ports().chosenDevice(), "rtu+tcp://10.0.0.5:4001");
    EXPECT_EQ(portList().selection(), entryOf("rtu+tcp://10.0.0.5:4001"));

    // Cancelled: the choice before stays.
    backend.queueModalScript(resources::kNetworkPortDialog,
                             [](ui::Dialog& d) { ASSERT_TRUE(d.userClick(ui::kIdCancel)); });
    ASSERT_TRUE(page->userSelectItem(PortChooser::kPortList, portList().itemCount() - 1));
    EXPECT_EQ(page->ports().chosenDevice(), "rtu+tcp://10.0.0.5:4001");
}

TEST_F(PortChooserTest, AScanResultOnAComPortChoosesItsButton) {
    open();
    drive::ScanHit hit;
    hit.port = "COM4";
    hit.baudRate = 9600;
    hit.station = 70;  // beyond the page's list of 64
    page->ports().choose(hit);
    EXPECT_TRUE(page->ports().chosenDevice().empty()) << "the mapping would be skipped";
    EXPECT_EQ(page->radioGroupIndex(StatusPage::kFirstPortButton), 3);
    EXPECT_EQ(page->radioGroupIndex(StatusPage::kFirstBaudButton), 1);
    drive::LinkSettings settings;
    page->ports().apply(settings);
    EXPECT_TRUE(settings.device.empty());
    const ui::Control& stations = page->control(StatusPage::kStationList);
    EXPECT_EQ(stations.selection(), 69);
    EXPECT_EQ(stations.itemText(69), u"70");
}

TEST(NetworkPortText, SchemesHostsAndPorts) {
    for (const char* good : {"tcp://127.0.0.1:502", "rtu+tcp://gw-1.plant.local:4001",
                             "tcp://[::1]:1502", "tcp://h:65535"})
        EXPECT_EQ(pages::networkPortProblem(good), "") << good;
    for (const char* bad : {"udp://h:502", "tcp://h", "tcp://:502", "tcp://h:0", "tcp://h:65536",
                            "tcp://h:50x", "tcp://a b:502", "tcp://[::1:502", "/dev/ttyUSB0"})
        EXPECT_NE(pages::networkPortProblem(bad), "") << bad;
}

TEST_F(PortChooserTest, AScanResultFillsTheConnectionSettings) {
    testsupport::SimProcess sim({"--no-pace", "--station", "7"});
    list({{sim.ptyPath(), "", "Test adapter", "", "", "", {}}});
    open();
    ASSERT_TRUE(shows("Test adapter"));
    std::size_t found = 0;
    backend.queueModalScript(resources::kScanDialog, [&](ui::Dialog& d) {
        auto& scan = static_cast<ScanDialog&>(d);
        EXPECT_EQ(platform::toUtf8(scan.text(ScanDialog::kPorts)), sim.ptyPath());
        ASSERT_TRUE(scan.userType(ScanDialog::kBauds, u"19200"));
        ASSERT_TRUE(scan.userType(ScanDialog::kParities, u"O"));
        ASSERT_TRUE(scan.userType(ScanDialog::kStations, u"5-9"));
        ASSERT_TRUE(scan.userType(ScanDialog::kTimeout, u"15"));
        ASSERT_TRUE(scan.userClick(ScanDialog::kStartButton));
        ASSERT_TRUE(scan.scanning());
        ASSERT_TRUE(testsupport::pumpUntil(backend, [&] { return !scan.scanning(); }));
        found = scan.hits().size();
        EXPECT_EQ(scan.control(ScanDialog::kResults).rowCount(), 1);
        EXPECT_EQ(scan.control(ScanDialog::kProgress).position(), 1000);
        ASSERT_TRUE(scan.userClick(ui::kIdOk));
    });
    ASSERT_TRUE(page->userClick(PortChooser::kScanButton));
    ASSERT_EQ(found, 1u);

    EXPECT_EQ(page->ports().chosenDevice(), sim.ptyPath());
    EXPECT_EQ(page->radioGroupIndex(StatusPage::kFirstBaudButton), 2);  // 19200
    EXPECT_EQ(page->control(StatusPage::kStationList).selection(), 6);  // station 7
    EXPECT_EQ(page->control(PortChooser::kParityList).selection(), 2);  // odd
    drive::LinkSettings settings;
    page->ports().apply(settings);
    EXPECT_EQ(settings.parity, drive::kParityOdd);

    // A pseudo-terminal refuses a second setting with parity (the first one
    // the scan made): the connect checks the rest without it.
    ASSERT_TRUE(page->userSelectItem(PortChooser::kParityList, 0));
    ASSERT_TRUE(page->userClick(StatusPage::kConnectButton));
    ASSERT_TRUE(program.session.connected()) << program.master.portError(0);
    const drive::LinkSnapshot link = program.session.snapshot();
    EXPECT_EQ(link.device, sim.ptyPath());
    EXPECT_EQ(link.settings.station, 7);
    EXPECT_EQ(link.settings.baudRate, 19200u);
}

TEST_F(PortChooserTest, ClosingTheScanStopsItFirstAndChangesNothing) {
    testsupport::PtyEnd silent;  // a line where nothing answers
    open();
    bool endedAtOnce = true;
    int result = 0;
    backend.queueModalScript(resources::kScanDialog, [&](ui::Dialog& d) {
        auto& scan = static_cast<ScanDialog&>(d);
        ASSERT_TRUE(scan.userType(ScanDialog::kPorts, platform::fromUtf8(silent.path)));
        ASSERT_TRUE(scan.userType(ScanDialog::kStations, u"1-247"));
        ASSERT_TRUE(scan.userClick(ScanDialog::kStartButton));
        ASSERT_TRUE(scan.userClick(ui::kIdCancel));
        // The user interface thread goes on; the dialog closes once the scan stopped.
        endedAtOnce = scan.modalEnded();
        ASSERT_TRUE(testsupport::pumpUntil(backend, [&] { return scan.modalEnded(); }));
        result = scan.modalResult();
    });
    ASSERT_TRUE(page->userClick(PortChooser::kScanButton));
    EXPECT_FALSE(endedAtOnce);
    EXPECT_EQ(result, ui::kIdCancel);
    EXPECT_TRUE(page->ports().chosenDevice().empty());
    EXPECT_EQ(page->control(StatusPage::kStationList).selection(), 0);
    EXPECT_EQ(page->radioGroupIndex(StatusPage::kFirstBaudButton), 5);
}

}  // namespace
