// The program as a user runs it, offscreen on the Qt backend: the start
// sequence on a program directory of its own, the real pages, the connection
// made on the status page to servo-sim on COM1, then the scope page with
// three channels (PNG files under the build tree), pause and clear; and a
// range set in the range dialog that is still there at the next start.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/start.h"
#include "main/page_set.h"
#include "pages/scope/scope_page.h"
#include "pages/status/status_page.h"
#include "support/sim_process.h"
#include "ui/qt/qt_backend.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using pages::ScopePage;

ui::qt::QtBackend* g_backend = nullptr;

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { g_backend = new ui::qt::QtBackend(); }
    void TearDown() override {
        delete g_backend;
        g_backend = nullptr;
    }
};
[[maybe_unused]] const auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// A message box nobody answers would hold the modal loop for ever: end the
// process loudly instead.
class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              const auto end = std::chrono::steady_clock::now() + limit;
              while (!done_.load() && std::chrono::steady_clock::now() < end)
                  std::this_thread::sleep_for(50ms);
              if (done_.load()) return;
              std::fprintf(stderr, "watchdog: the program did not end (a message box?)\n");
              std::abort();
          }) {}
    ~Watchdog() {
        done_.store(true);
        thread_.join();
    }

  private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// A program directory with the shipped language files and model table.
class ProgramDir {
  public:
    ProgramDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() /
                ("servo-scope-gui-" + std::to_string(::getpid()) + "-" + info->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
        for (const char* sub : {"Language", "version"})
            fs::copy(fs::path(SERVO_DIST_DIR) / sub, path_ / sub, fs::copy_options::recursive);
    }
    ~ProgramDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// Runs the start sequence in English on the directory. `script` acts as the
// user inside the main window, `onRange` inside each range dialog; both are
// closed afterwards.
void runProgram(const fs::path& dir, const std::function<void(app::MainWindow&)>& script,
                const std::function<void(ui::Dialog&)>& onRange = {}) {
    Watchdog watchdog(180s);
    g_backend->setModalHook([&](ui::Dialog& d) {
        if (d.templateId() == resources::kMainDialog) {
            auto* w = dynamic_cast<app::MainWindow*>(&d);
            ASSERT_NE(w, nullptr);
            script(*w);
        } else if (d.templateId() == resources::kRangeDialog && onRange) {
            onRange(d);
        }
        d.userClose();
    });
    app::StartOptions options;
    options.programDirectory = dir;
    options.language = app::LanguageDialog::English;
    EXPECT_EQ(app::runApplication(options, servo_main::makePages), 0);
    g_backend->setModalHook(nullptr);
}

// Runs the event loop until the condition holds or the time-out passes.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        ui::qt::processEvents(20);
    }
    return true;
}

ScopePage* scopePage(app::MainWindow& w) {
    w.userClickTab(app::MainWindow::kTabControl, 2);
    return dynamic_cast<ScopePage*>(w.page(2));
}

// Pixels of exactly the colour inside the area.
int pixelsOf(const ui::qt::Image& img, ui::Rect area, ui::Color colour) {
    int n = 0;
    for (int y = std::max(area.top, 0); y < area.bottom && y < img.height; ++y)
        for (int x = std::max(area.left, 0); x < area.right && x < img.width; ++x)
            n += img.at(x, y) == colour ? 1 : 0;
    return n;
}

TEST(ScopeGui, ThreeChannelsFromTheDriveArePlottedPausedAndCleared) {
    ProgramDir dir;
    testsupport::SimProcess sim{{"--no-pace"}};
    sim.exportAsCom(1);
    const fs::path shots = fs::path(SCOPE_SCREENSHOT_DIR);

    runProgram(dir.path(), [&](app::MainWindow& w) {
        // Connect as the user does: COM1, 115200 bit/s, station 1.
        auto* status = dynamic_cast<pages::StatusPage*>(w.page(0));
        ASSERT_NE(status, nullptr);
        status->userClick(pages::StatusPage::kFirstPortButton);
        status->userClick(pages::StatusPage::kFirstBaudButton + 5);
        status->userClick(pages::StatusPage::kConnectButton);
        const drive::DriveSession& session = w.context().session;
        ASSERT_TRUE(waitFor([&] { return session.healthy(); }));

        ScopePage* p = scopePage(w);
        ASSERT_NE(p, nullptr);
        // Motor speed, speed command and output torque; 10 ms, 200 points.
        const int rows[] = {0, 1, 3};
        for (int k = 0; k < 3; ++k)
            p->userSelectItem(ScopePage::kQuantity[static_cast<std::size_t>(k)], rows[k]);
        p->userSelectItem(ScopePage::kPeriod, 1);
        p->userSetPosition(ScopePage::kPointsSlider, 4);
        for (int id : ScopePage::kOnOff) p->userClick(id);
        for (int id : ScopePage::kOnOff) EXPECT_EQ(p->text(id), u"On");
        const auto counts = [p] {
            return std::min({p->plot().channel(0).count, p->plot().channel(1).count,
                             p->plot().channel(2).count});
        };
        ASSERT_TRUE(waitFor([&] { return counts() >= 150; }));
        EXPECT_EQ(p->plot().points(), 200);
        EXPECT_EQ(p->samplePeriodUs(), 10000);

        // The curves without labels, then with them for the eye.
        ui::qt::processEvents(200);
        const auto img = ui::qt::grabWindow(*p);
        ASSERT_TRUE(img);
        const ui::Rect plotArea = p->control(ScopePage::kPlotHost).rect();
        EXPECT_EQ(img->at(plotArea.left + 3, plotArea.top + 3), pages::PlotControl::kBackground);
        for (const ui::Color c : ScopePage::kColours) EXPECT_GT(pixelsOf(*img, plotArea, c), 100);
        EXPECT_TRUE(ui::qt::saveWindowPng(w, shots / "scope-curves.png"));
        p->userClick(ScopePage::kShowCoordinates);
        ui::qt::processEvents(300);
        EXPECT_TRUE(ui::qt::saveWindowPng(w, shots / "scope-labels.png"));

        // Paused: the curves stay and grow no more.
        p->userClick(ScopePage::kPause);
        EXPECT_EQ(p->text(ScopePage::kPause), u"Resume");
        // Once a cycle under way has ended, nothing more is read.
        ui::qt::processEvents(300);
        const int held = p->plot().channel(0).count;
        sim.ok("log on");
        ui::qt::processEvents(500);
        // The alarm watch (register 0x100A, every 500 ms on every page) goes
        // on; the scope reads nothing.
        std::istringstream dump(sim.ok("log dump"));
        std::string frame;
        dump >> frame;  // the count
        while (dump >> frame) EXPECT_EQ(frame.rfind("0103100A0001", 0), 0u) << frame;
        EXPECT_EQ(p->plot().channel(0).count, held);
        EXPECT_GT(held, 0);

        p->userClick(ScopePage::kClear);
        ui::qt::processEvents(300);
        EXPECT_EQ(counts(), 0);
        EXPECT_EQ(p->plot().channel(0).count, 0);
        EXPECT_TRUE(ui::qt::saveWindowPng(w, shots / "scope-cleared.png"));

        p->userClick(ScopePage::kPause);
        EXPECT_EQ(p->text(ScopePage::kPause), u"Pause");
        EXPECT_TRUE(waitFor([&] { return counts() >= 20; }));
    });
}

TEST(ScopeGui, ARangeSetInTheDialogIsThereAfterARestart) {
    ProgramDir dir;
    const auto rangeOfChannel1 = [](ScopePage* p) {
        return std::pair{p->plot().channel(0).min, p->plot().channel(0).max};
    };
    const std::pair<double, double> changed{-1234, 4321};

    runProgram(
        dir.path(),
        [&](app::MainWindow& w) {
            ScopePage* p = scopePage(w);
            ASSERT_NE(p, nullptr);
            ASSERT_TRUE(waitFor([&] { return p->plot().points() > 0; }));
            ASSERT_NE(rangeOfChannel1(p), changed);
            p->userClick(ScopePage::kRange);
            EXPECT_TRUE(waitFor([&] { return rangeOfChannel1(p) == changed; }));
        },
        [](ui::Dialog& d) {
            // Shown and focused, the dialog still has no row chosen.
            ui::qt::processEvents(100);
            EXPECT_EQ(d.control(1011).selectionMark(), -1);
            d.userClickRow(1011, 0);
            d.userType(1035, u"-1234");
            d.userType(1038, u"4321");
            d.userClick(1067);
        });
    // 12 quantities of 16 bytes, the header and the checksum.
    ASSERT_TRUE(fs::exists(dir.path() / "system.ini"));
    EXPECT_EQ(fs::file_size(dir.path() / "system.ini"), 12u * 16 + 14);

    std::u16string listed;
    runProgram(
        dir.path(),
        [&](app::MainWindow& w) {
            const auto& quantity = w.context().language.scopeQuantities()[0];
            EXPECT_EQ(quantity.minimum, -1234);
            EXPECT_EQ(quantity.maximum, 4321);
            ScopePage* p = scopePage(w);
            ASSERT_NE(p, nullptr);
            EXPECT_TRUE(waitFor([&] { return rangeOfChannel1(p) == changed; }));
            p->userClick(ScopePage::kRange);
        },
        [&](ui::Dialog& d) { listed = d.control(1011).cellText(0, 1); });
    EXPECT_EQ(listed, u"-1234");
}

}  // namespace
