// How long the user interface thread is blocked while the parameter page runs
// its long drive operations. The whole program (start sequence, main window,
// the real pages and the poll thread) runs on the headless backend against
// servo-sim at 115200 bit/s with its line pacing and a 5 s EEPROM store. The
// main window's script plays the user interface thread's event loop: every
// 10 ms it runs the posted tasks and moves the 100 ms timer on, and every call
// it makes (the button click, the posted tasks, the timer ticks) is timed.
// An operation ends with the message box that reports it. Reports, per run:
//   ui_stall_max_ms   the longest single call over the three operations
//                     (target <= 50)
//   store_stall_ms, import_stall_ms, factory_stall_ms   the same per operation
//   store_ms, import_ms, factory_ms   click to result message
// The operations: "Save to EEPROM" (store-all), an import of a file whose
// every writable value differs from the drive's, and a factory restore.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "app/main_window.h"
#include "app/start.h"
#include "data/language.h"
#include "data/value_file.h"
#include "main/page_set.h"
#include "pages/parameters/parameter_page.h"
#include "pages/status/status_page.h"
#include "platform/program_dir.h"
#include "platform/text.h"
#include "resources/resources.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "ui/headless.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using pages::ParameterPage;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

ui::Dialog* childPage(ui::Dialog& window, int templateId) {
    for (ui::Dialog* page : window.children())
        if (page->templateId() == templateId) return page;
    return nullptr;
}

// The user interface thread's loop inside the main window.
struct UiLoop {
    ui::HeadlessBackend& backend;
    double longestMs = 0.0;

    // Times one call made on the user interface thread.
    void timed(const std::function<void()>& call) {
        const auto t0 = Clock::now();
        call();
        longestMs = std::max(longestMs, msSince(t0));
    }
    // One pass of the event loop, then the idle wait.
    void pass() {
        timed([this] { backend.pumpPosted(); });
        timed([this] { backend.advance(10); });
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    void runFor(std::chrono::milliseconds duration) {
        const auto end = Clock::now() + duration;
        while (Clock::now() < end) pass();
    }
    // Clicks the button and runs the loop until a message box reports the
    // end. Returns the click-to-message time in ms, or a negative value when
    // no message came within the limit.
    double operation(ui::Dialog& page, int button) {
        longestMs = 0.0;
        const std::size_t before = backend.messages().size();
        const auto t0 = Clock::now();
        timed([&] { page.userClick(button); });
        const auto limit = t0 + std::chrono::seconds(180);
        while (backend.messages().size() == before && Clock::now() < limit) pass();
        return backend.messages().size() == before ? -1.0 : msSince(t0);
    }
};

void BM_UiStall(benchmark::State& state) {
    testsupport::SimProcess sim({"--eeprom-ms", "5000"});
    sim.exportAsCom(1);
    testsupport::TempDir dir;
    fs::copy(platform::programDirectory() / "Language", dir.path() / "Language",
             fs::copy_options::recursive);

    // A file whose every writable value differs from the drive's factory
    // state: the factory value plus one where the range allows, else minus one.
    data::LanguageData language;
    if (!data::loadLanguageFile(dir.path() / "Language" / "DefineEn.cfg", language)) {
        state.SkipWithError("cannot load Language/DefineEn.cfg");
        return;
    }
    for (data::ParameterDefinition& p : language.parameters()) {
        const std::uint32_t up = p.factoryValue + 1;
        const std::uint32_t down = p.factoryValue - 1;
        p.driveValue.store(data::checkRange(p.typeCode, up, p.minimum, p.maximum) == 0 ? up
                           : data::checkRange(p.typeCode, down, p.minimum, p.maximum) == 0
                               ? down
                               : p.factoryValue);
    }
    const fs::path file = dir.path() / "import.dat";
    if (data::saveValueFile(file, language.parameters().span()) != 1) {
        state.SkipWithError("cannot write the import file");
        return;
    }

    for (auto _ : state) {
        ui::HeadlessBackend backend;
        UiLoop loop{backend};
        double store = -1, import = -1, factory = -1;
        double storeStall = 0, importStall = 0, factoryStall = 0;
        std::string failure;
        backend.queueModalScript(resources::kMainDialog, [&](ui::Dialog& window) {
            ui::Dialog* status = childPage(window, resources::kStatusPage);
            ui::Dialog* parameters = childPage(window, resources::kParameterPage);
            if (!status || !parameters) {
                failure = "pages missing";
                return;
            }
            // COM1, 115200 bit/s, station 1: the connection page's defaults.
            loop.timed([&] { status->userClick(pages::StatusPage::kConnectButton); });
            window.userClickTab(app::MainWindow::kTabControl, 1);
            loop.runFor(std::chrono::milliseconds(1500));

            store = loop.operation(*parameters, ParameterPage::kEepromButton);
            storeStall = loop.longestMs;
            backend.queueFileAnswer(platform::fromUtf8(file.string()));
            loop.timed([&] { parameters->userClick(ParameterPage::kLoadButton); });
            import = loop.operation(*parameters, ParameterPage::kImportButton);
            importStall = loop.longestMs;
            factory = loop.operation(*parameters, ParameterPage::kFactoryButton);
            factoryStall = loop.longestMs;
            window.userClose();
            // A close that waits for work in flight ends through the loop.
            const auto limit = Clock::now() + std::chrono::seconds(30);
            while (!window.modalEnded() && Clock::now() < limit) loop.pass();
        });
        app::StartOptions options;
        options.programDirectory = dir.path();
        options.language = 1;  // English
        app::runApplication(options, servo_main::makePages);

        if (!failure.empty() || store < 0 || import < 0 || factory < 0) {
            state.SkipWithError(failure.empty() ? "an operation did not end" : failure.c_str());
            return;
        }
        state.counters["ui_stall_max_ms"] = std::max({storeStall, importStall, factoryStall});
        state.counters["store_stall_ms"] = storeStall;
        state.counters["import_stall_ms"] = importStall;
        state.counters["factory_stall_ms"] = factoryStall;
        state.counters["store_ms"] = store;
        state.counters["import_ms"] = import;
        state.counters["factory_ms"] = factory;
    }
}
BENCHMARK(BM_UiStall)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
