// The status page in the main window as the user sees it: the Qt backend
// offscreen, the real poll loop and servo-sim on a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "data/language.h"
#include "data/model_sets.h"
#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "modbus/transaction_log.h"
#include "pages/status/status_page.h"
#include "support/program_rig.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "ui/qt/qt_backend.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using pages::StatusPage;

// Runs the event loop until the condition holds or the time-out passes.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        ui::qt::processEvents(20);
    }
    return true;
}

TEST(StatusPageGui, ConnectShowsTheDriveAndSurvivesASilentDrive) {
    const fs::path languageFile = fs::path(SERVO_DIST_DIR) / "Language" / "Define.cfg";
    testsupport::SimProcess sim({"--no-pace", "--defs", languageFile.string()});
    sim.exportAsCom(2);
    sim.ok("set reg 4105 42");    // drive temperature, row 7
    sim.ok("set reg 4104 3110");  // bus voltage / 10, row 6

    ui::qt::QtBackend backend;
    testsupport::ProgramRig program;
    data::LanguageData& language = program.language;
    ASSERT_EQ(data::loadLanguageFile(languageFile, language), 1);
    app::AppContext& context = program.context;
    modbus::TransactionLog log;
    program.master.setObserver(&log);
    context.transactions = &log;
    // The pseudo-terminal seen as a USB adapter with the usual 16 ms timer.
    testsupport::TempDir root;
    const fs::path device = root.path() / fs::path(sim.ptyPath()).relative_path();
    fs::create_directories(device.parent_path());
    fs::create_symlink("/dev/ttyUSB0", device);
    fs::create_directories(root.path() / "sys/class/tty/ttyUSB0/device");
    std::ofstream(root.path() / "sys/class/tty/ttyUSB0/device/latency_timer") << "16\n";
    StatusPage* page = nullptr;
    app::MainWindow window(context, [&page](app::AppContext& c) {
        app::PageSet set;
        auto status = std::make_unique<StatusPage>(c);
        page = status.get();
        set.status = std::move(status);
        return set;
    });

    const fs::path png = fs::path(STATUS_SCREENSHOT_DIR) / "status_connected.png";
    fs::remove(png);
    const auto statusLine = [&] { return window.text(app::MainWindow::kStatusLine); };
    const auto values = [&] {
        std::vector<std::u16string> texts;
        const ui::Control& list = page->control(StatusPage::kStatusList);
        for (int row = 0; row < list.rowCount(); ++row) texts.push_back(list.cellText(row, 1));
        return texts;
    };
    const auto allValues = [&](std::u16string_view text) {
        const auto texts = values();
        for (const auto& t : texts)
            if (t != text) return false;
        return !texts.empty();
    };

    const auto script = [&] {
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(waitFor([&] { return statusLine() == u"通讯未连接"; }));
        EXPECT_TRUE(waitFor([&] { return allValues(u"未知"); }));

        // Connect on COM2 and see the drive's values.
        page->setSystemRoot(root.path());
        ASSERT_TRUE(ui::qt::clickWidget(*page, 1079));
        ASSERT_TRUE(ui::qt::clickWidget(*page, StatusPage::kConnectButton));
        ASSERT_TRUE(program.session.connected());
        EXPECT_TRUE(waitFor([&] { return statusLine().starts_with(u"通讯连接OK"); }));
        EXPECT_TRUE(waitFor([&] { return values()[7] == u"42" && values()[6] == u"311.000"; }));
        // The main window's link health reaches the page's group.
        EXPECT_TRUE(
            waitFor([&] { return page->text(StatusPage::kLinkRate).starts_with(u"Rate "); }));
        EXPECT_TRUE(page->control(StatusPage::kLatencyHint).isVisible());
        EXPECT_TRUE(page->control(StatusPage::kLatencyCommand).isVisible());

        // An alarm on the drive shows its text.
        sim.ok("alarm 3");
        const std::u16string content(language.alarms()[3].content.view());
        EXPECT_TRUE(waitFor([&] {
            const std::u16string text = page->text(StatusPage::kAlarmText);
            return text.find(u"报警代码：3") != std::u16string::npos &&
                   text.find(content) != std::u16string::npos;
        }));
        // ... and the status line says it in red.
        EXPECT_TRUE(waitFor([&] { return statusLine() == u"Alarm 3: " + content; }));
        EXPECT_EQ(window.control(app::MainWindow::kStatusLine).textColor(),
                  app::MainWindow::kAlarmColor);
        ui::qt::processEvents(100);
        EXPECT_TRUE(ui::qt::saveWindowPng(window, png));
        sim.ok("alarm 0");
        EXPECT_TRUE(waitFor([&] { return statusLine().starts_with(u"通讯连接OK"); }));
        EXPECT_EQ(window.control(app::MainWindow::kStatusLine).textColor(), std::nullopt);

        // The I/O boxes show the drive's states (the write's confirmation is
        // the headless tests' part).
        sim.ok("set coil 0 1");
        EXPECT_TRUE(page->control(1092).isVisible());
        EXPECT_TRUE(waitFor([&] { return page->check(1092) == 1; }));

        // A silent drive: the fault shows with its cause and the values are
        // marked as read before it.
        sim.ok("noanswer on");
        EXPECT_TRUE(waitFor(
            [&] { return statusLine().starts_with(u"网络通讯异常: no answer from station 1"); }));
        EXPECT_TRUE(waitFor([&] { return values()[7] == u"42 (stale)"; }));
        EXPECT_TRUE(waitFor([&] {
            return page->text(StatusPage::kLinkLastError).find(u"time-out (no answer)") !=
                   std::u16string::npos;
        }));
        EXPECT_FALSE(page->control(1092).isEnabled());
        sim.ok("set reg 4105 77");
        sim.ok("noanswer off");
        EXPECT_TRUE(waitFor([&] { return statusLine().starts_with(u"通讯连接OK"); }));
        EXPECT_TRUE(waitFor([&] { return values()[7] == u"77"; }));
        EXPECT_EQ(page->check(1092), 1);

        // Disconnect: every value is unknown again.
        ASSERT_TRUE(ui::qt::clickWidget(*page, StatusPage::kConnectButton));
        EXPECT_TRUE(waitFor([&] { return allValues(u"未知"); }));
        EXPECT_TRUE(waitFor([&] { return statusLine() == u"通讯未连接"; }));
    };
    backend.setModalHook([&](ui::Dialog&) {
        script();
        window.userClose();
    });
    window.runModal();
    backend.setModalHook(nullptr);
    program.master.setObserver(nullptr);

    const auto image = ui::qt::loadPng(png);
    ASSERT_TRUE(image) << png;
    EXPECT_EQ(image->width, 1000);
}

}  // namespace
