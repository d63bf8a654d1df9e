#pragma once
// Helpers of the application shell tests: pages that count what the main
// window and the poll loop ask of them, a shell built around a MainWindow on
// the headless backend, language files, and waiting with posted tasks pumped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/app_context.h"
#include "app/main_page.h"
#include "app/main_window.h"
#include "data/language.h"
#include "data/model_sets.h"
#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "platform/text.h"
#include "support/language_file.h"
#include "support/program_rig.h"
#include "support/temp_dir.h"
#include "ui/headless.h"

namespace apptest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A page that records the calls of the main window (user interface thread)
// and of the poll loop (poll thread). poll() runs `onPoll` when set, else
// returns `result`.
class CountingPage : public app::MainPage {
  public:
    CountingPage(int templateId, app::AppContext& context)
        : MainPage(templateId), context_(context) {}

    std::atomic<int> polls{0};
    std::atomic<std::uint8_t> result{0};
    std::function<std::uint8_t()> onPoll;  // set before the window runs
    int refreshes = 0;
    int layouts = 0;
    ui::Rect rectAtCreation;
    // Steady-clock times at which polls started and ended (poll thread; read
    // after it has been joined).
    std::vector<std::chrono::steady_clock::time_point> pollStarts, pollEnds;

    std::uint8_t poll() override {
        pollStarts.push_back(std::chrono::steady_clock::now());
        const std::uint8_t r = onPoll ? onPoll() : result.load(std::memory_order_relaxed);
        pollEnds.push_back(std::chrono::steady_clock::now());
        polls.fetch_add(1, std::memory_order_relaxed);
        return r;
    }
    std::atomic<int> watches{0};
    std::uint8_t watch() override {
        watches.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    void refreshPage() override { ++refreshes; }
    // What statusAlarm gives the status line (user interface thread).
    std::u16string alarm;
    std::u16string statusAlarm() override { return alarm; }
    void layoutPage() override {
        ++layouts;
        move(context_.pageRect);
    }

  protected:
    bool onInitDialog() override {
        layoutPage();
        rectAtCreation = windowRect();
        return true;
    }

  private:
    app::AppContext& context_;
};

// The pages a factory made, for the test to look at.
struct PageRefs {
    CountingPage* status = nullptr;
    CountingPage* parameters = nullptr;
    CountingPage* scope = nullptr;
    app::AppContext* context = nullptr;
    CountingPage* at(int i) const {
        return i == 0 ? status : i == 1 ? parameters : i == 2 ? scope : nullptr;
    }
};

inline app::PageFactory countingPages(PageRefs& refs) {
    return [&refs](app::AppContext& context) {
        app::PageSet set;
        auto s = std::make_unique<CountingPage>(135, context);
        auto p = std::make_unique<CountingPage>(131, context);
        auto c = std::make_unique<CountingPage>(130, context);
        refs = {s.get(), p.get(), c.get(), &context};
        set.status = std::move(s);
        set.parameters = std::move(p);
        set.scope = std::move(c);
        return set;
    };
}

// A language file's text with the given UI entries (others absent).
inline std::u16string uiTextsFile(const std::vector<std::pair<int, std::u16string>>& entries) {
    return testsupport::uiTextSection(entries);
}

using testsupport::writeUtf16;

// The MainWindow and everything it refers to, built as the start sequence
// builds them, on the headless backend of this thread.
struct Shell {
    ui::HeadlessBackend backend;
    testsupport::ProgramRig program;
    drive::DriveSession& session = program.session;
    app::AppContext& context = program.context;
    PageRefs pages;
    std::unique_ptr<app::MainWindow> window;

    explicit Shell(std::u16string_view languageText = {}, app::ThreadLauncher launcher = {})
        : program(languageText) {
        window = std::make_unique<app::MainWindow>(context, countingPages(pages), launcher);
    }
    ~Shell() {
        // The window goes before the link and tables it uses.
        window.reset();
    }

    // Runs the window modally with the script as the user; the window is
    // closed afterwards if the script left it open (a close that waits for
    // the poll thread's transaction ends once the posted work says so).
    int run(std::function<void(app::MainWindow&)> script) {
        backend.queueModalScript(102, [this, script](ui::Dialog&) {
            script(*window);
            if (window->modalEnded()) return;
            window->userClose();
            EXPECT_TRUE(waitFor([this] { return window->modalEnded(); }));
        });
        return window->runModal();
    }

    std::u16string statusLine() const { return window->text(app::MainWindow::kStatusLine); }

    // Pumps posted tasks until the condition holds or the time-out passes.
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 30s) {
        return testsupport::pumpUntil(backend, condition, timeout);
    }
    bool waitForStatus(std::u16string_view text, std::chrono::milliseconds timeout = 30s) {
        return waitFor([&] { return statusLine() == text; }, timeout);
    }
};

using testsupport::TempDir;

inline std::string utf8(std::u16string_view text) {
    return platform::toUtf8(text);
}

}  // namespace apptest
