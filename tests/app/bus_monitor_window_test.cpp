// The bus monitor window on the headless backend, over the main window and
// servo-sim: decoded rows (also those from before it opened), pause, the
// filters after an injected fault, the saved CSV read back, and its life
// beside the main window (Ctrl+M, the close box, closing the main window).
#include "app/bus_monitor_window.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>

#include "app_fixture.h"
#include "data/language.h"
#include "support/sim_process.h"

namespace {

using namespace apptest;
using app::BusMonitorWindow;
using app::MainWindow;

class BusMonitorWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim.exportAsCom(1);
        ASSERT_EQ(data::loadLanguageFile(fs::path(SERVO_DIST_DIR) / "Language" / "DefineEn.cfg",
                                         shell.program.language),
                  1);
        shell.program.master.setObserver(&log);
        shell.context.transactions = &log;
        // Healthy from the start: the counting pages send nothing, so every
        // row is one of the test's own requests.
        ASSERT_TRUE(shell.program.connect(0, {30, 1}).ok());
    }
    void TearDown() override { shell.program.master.setObserver(nullptr); }

    bool read(std::uint16_t address) {
        std::array<std::uint8_t, 2> value{};
        return shell.session.readRegisters(address, value).ok();
    }
    // The monitor's timer, as the toolkit would run it.
    void tick() { shell.backend.advance(BusMonitorWindow::kRefreshPeriodMs); }

    testsupport::SimProcess sim{{"--no-pace"}};
    // Before the shell: the master reports to it until the master goes.
    modbus::TransactionLog log;
    Shell shell;
};

TEST_F(BusMonitorWindowTest, RowsNameWhatWasReadAndPauseHoldsThem) {
    const data::ParameterDefinition& p = shell.program.language.parameters()[0];
    const data::StatusItem& s = shell.program.language.statusItems()[0];
    const data::ScopeQuantity& q = shell.program.language.scopeQuantities()[0];
    shell.run([&](MainWindow& w) {
        // Read before the monitor opens: it shows what the log holds.
        ASSERT_TRUE(read(p.address));
        w.openBusMonitor();
        BusMonitorWindow* m = w.busMonitor();
        ASSERT_NE(m, nullptr);
        ASSERT_TRUE(read(s.address));
        ASSERT_TRUE(read(q.address));
        tick();
        const ui::Control& list = m->control(BusMonitorWindow::kList);
        ASSERT_EQ(list.rowCount(), 3);
        EXPECT_EQ(list.cellText(0, 1), u"read");
        EXPECT_EQ(list.cellText(0, 3), u"03 read registers");
        EXPECT_TRUE(list.cellText(0, 4).starts_with(platform::fromUtf8(std::to_string(p.address)) +
                                                    u" " + std::u16string(p.numberText.view())))
            << utf8(list.cellText(0, 4));
        EXPECT_NE(list.cellText(1, 4).find(std::u16string(s.name.view())), std::u16string::npos);
        EXPECT_NE(list.cellText(2, 4).find(std::u16string(q.name.view())), std::u16string::npos);
        EXPECT_TRUE(list.cellText(0, 6).ends_with(u" ms"));
        EXPECT_EQ(m->text(BusMonitorWindow::kCount), u"3 shown / 3 held");

        // Ctrl+M on the main window brings the open monitor back, rows kept.
        m->userResize(ui::SizeState::Minimized, m->clientRect().size());
        w.userKey(ui::Key::ControlM);
        EXPECT_EQ(w.busMonitor(), m);
        EXPECT_FALSE(m->isMinimized());
        EXPECT_EQ(list.rowCount(), 3);

        ASSERT_TRUE(m->userClick(BusMonitorWindow::kPauseButton));
        EXPECT_EQ(m->text(BusMonitorWindow::kPauseButton), u"Resume");
        ASSERT_TRUE(read(p.address));
        tick();
        tick();
        EXPECT_EQ(list.rowCount(), 3) << "paused";
        ASSERT_TRUE(m->userClick(BusMonitorWindow::kPauseButton));
        EXPECT_EQ(list.rowCount(), 4) << "caught up on resume";
        EXPECT_EQ(m->text(BusMonitorWindow::kPauseButton), u"Pause");

        ASSERT_TRUE(m->userClick(BusMonitorWindow::kClearButton));
        EXPECT_EQ(list.rowCount(), 0);
        EXPECT_EQ(m->text(BusMonitorWindow::kCount), u"0 shown / 0 held");
        ASSERT_TRUE(read(p.address));
        tick();
        EXPECT_EQ(list.rowCount(), 1) << "only what came after the clear";
    });
}

TEST_F(BusMonitorWindowTest, FiltersShowTheFaultsAndTheCsvHoldsWhatIsShown) {
    const TempDir dir;
    shell.run([&](MainWindow& w) {
        w.openBusMonitor();
        BusMonitorWindow& m = *w.busMonitor();
        const ui::Control& list = m.control(BusMonitorWindow::kList);
        ASSERT_TRUE(read(0));
        sim.ok("noanswer on");
        EXPECT_FALSE(read(0));  // tried twice
        sim.ok("noanswer off");
        const std::uint8_t value[2] = {0x39, 0x30};  // 12345, low byte first
        ASSERT_TRUE(shell.session.writeRegisters(22, value).ok());
        tick();
        ASSERT_EQ(list.rowCount(), 4);
        EXPECT_FALSE(list.isRowHighlighted(0));
        EXPECT_TRUE(list.isRowHighlighted(1));
        EXPECT_TRUE(list.isRowHighlighted(2));
        EXPECT_FALSE(list.isRowHighlighted(3));

        ASSERT_TRUE(m.userClick(BusMonitorWindow::kErrorsOnly));
        ASSERT_EQ(list.rowCount(), 2);
        EXPECT_EQ(list.cellText(0, 7), u"time-out");
        EXPECT_EQ(list.cellText(1, 7), u"time-out, retry 1");
        EXPECT_EQ(m.text(BusMonitorWindow::kCount), u"2 shown / 4 held");
        // A new fault joins the filtered list on the next tick.
        sim.ok("noanswer on");
        EXPECT_FALSE(read(0));
        sim.ok("noanswer off");
        tick();
        EXPECT_EQ(list.rowCount(), 4);

        ASSERT_TRUE(m.userClick(BusMonitorWindow::kErrorsOnly));
        const ui::Control& functions = m.control(BusMonitorWindow::kFunctionCombo);
        int writeRegister = -1;
        for (int i = 0; i < functions.itemCount(); ++i)
            if (functions.itemText(i).starts_with(u"06 ")) writeRegister = i;
        ASSERT_TRUE(m.userSelectItem(BusMonitorWindow::kFunctionCombo, writeRegister));
        ASSERT_EQ(list.rowCount(), 1);
        EXPECT_EQ(list.cellText(0, 3), u"06 write register");
        EXPECT_EQ(list.cellText(0, 5), u"12345");

        const fs::path csv = dir.path() / "bus.csv";
        shell.backend.queueFileAnswer(csv.u16string());
        ASSERT_TRUE(m.userClick(BusMonitorWindow::kSaveCsv));
        std::ifstream in(csv, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        const std::string text = content.str();
        EXPECT_TRUE(text.starts_with("time s,direction,station,function,address,values,")) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << "a header and the one row";
        EXPECT_NE(text.find(",write,1,06 write register,22 P01.07 "), std::string::npos) << text;
        EXPECT_NE(text.find(",12345,"), std::string::npos) << text;

        // A save that fails names the path and the system's reason.
        const fs::path nowhere = dir.path() / "missing" / "bus.txt";
        shell.backend.queueFileAnswer(nowhere.u16string());
        shell.backend.clearMessages();
        ASSERT_TRUE(m.userClick(BusMonitorWindow::kSaveText));
        ASSERT_EQ(shell.backend.messages().size(), 1u);
        const std::string message = utf8(shell.backend.messages()[0].text);
        EXPECT_NE(message.find(nowhere.string()), std::string::npos) << message;
        EXPECT_NE(message.find("No such file or directory"), std::string::npos) << message;
    });
}

TEST_F(BusMonitorWindowTest, ItClosesByItselfOrWithTheMainWindow) {
    BusMonitorWindow* monitor = nullptr;
    shell.run([&](MainWindow& w) {
        ASSERT_TRUE(read(0));
        w.openBusMonitor();
        monitor = w.busMonitor();
        ASSERT_NE(monitor, nullptr);
        // The close box hides it at once and lets it go once the toolkit's
        // handler has returned.
        monitor->userClose();
        EXPECT_FALSE(monitor->isVisible());
        shell.backend.pumpPosted();
        EXPECT_EQ(w.busMonitor(), nullptr);
        EXPECT_EQ(monitor->model(), nullptr) << "no rows kept while closed";

        // Opened again (from the window menu), it shows what the log still
        // holds.
        w.userSystemCommand(MainWindow::kBusMonitorCommand);
        ASSERT_EQ(w.busMonitor(), monitor);
        EXPECT_TRUE(monitor->isVisible());
        EXPECT_EQ(monitor->control(BusMonitorWindow::kList).rowCount(), 1);
        // The status page's button reaches it through the context.
        monitor->userClose();
        shell.backend.pumpPosted();
        ASSERT_TRUE(shell.context.openBusMonitor);
        shell.context.openBusMonitor();
        ASSERT_EQ(w.busMonitor(), monitor);
        // Traffic keeps coming while the main window closes.
        ASSERT_TRUE(read(0));
    });
    EXPECT_FALSE(shell.context.openBusMonitor) << "a button could reach a window that is gone";
    // The main window took the monitor with it: no timer is left, and a task
    // the poll thread posted before it was joined is dropped by the window's
    // guard when it runs (under ASan, one that reached the context or the
    // log would be caught here).
    EXPECT_FALSE(monitor->exists());
    EXPECT_EQ(shell.backend.timerCount(), 0u);
    shell.backend.pumpPosted();
}

}  // namespace
