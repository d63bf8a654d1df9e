// servo-tool: the desktop program on the Qt backend.
//
//   servo-tool [--lang zh|en] [--demo] [--screenshots DIR]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/start.h"
#include "main/demo_drive.h"
#include "main/page_set.h"
#include "pages/scope/scope_page.h"
#include "pages/status/status_page.h"
#include "platform/program_dir.h"
#include "resources/resources.h"
#include "ui/qt/qt_backend.h"

namespace {

namespace fs = std::filesystem;

struct Options {
    std::optional<int> language;
    bool demo = false;
    std::optional<fs::path> screenshots;
};

constexpr const char* kUsage =
    "usage: servo-tool [--lang zh|en] [--demo] [--screenshots DIR]\n"
    "  --lang zh|en        take this language instead of asking\n"
    "  --demo              start the simulated drive (servo-sim) on COM1\n"
    "  --screenshots DIR   save each page as DIR/<page>.png, then exit; message boxes\n"
    "                      are answered OK and printed to standard error, and an\n"
    "                      error among them makes the exit status 1\n";

// Parses the command line; nothing on a usage error (reported).
std::optional<Options> parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--lang" && i + 1 < argc) {
            const std::string_view v = argv[++i];
            if (v == "zh") {
                o.language = app::LanguageDialog::Chinese;
            } else if (v == "en") {
                o.language = app::LanguageDialog::English;
            } else {
                std::fprintf(stderr, "servo-tool: unknown language '%s'\n%s", argv[i], kUsage);
                return std::nullopt;
            }
        } else if (a == "--demo") {
            o.demo = true;
        } else if (a == "--screenshots" && i + 1 < argc) {
            o.screenshots = fs::absolute(argv[++i]);
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else {
            std::fprintf(stderr, "servo-tool: unexpected argument '%s'\n%s", argv[i], kUsage);
            return std::nullopt;
        }
    }
    return o;
}

constexpr const char* kPageNames[] = {"status", "parameters", "scope"};

// Inside the main window's modal loop: with the demo drive, connect to it as
// a user would (COM1, 115200 bit/s, station 1 are the page's defaults); then
// each tab in turn, given time for its timer and the poll thread, saved as a
// PNG; then the window is closed.
void takeScreenshots(ui::Dialog& window, const fs::path& dir, bool connect, bool& ok) {
    if (connect) {
        for (ui::Dialog* page : window.children()) {
            if (page->templateId() == resources::kStatusPage)
                page->userClick(pages::StatusPage::kConnectButton);
        }
        ui::qt::processEvents(1000);
        // The scope records the first three quantities every 10 ms.
        for (ui::Dialog* page : window.children()) {
            if (page->templateId() != resources::kScopePage) continue;
            for (int k = 0; k < pages::ScopePage::kChannels; ++k) {
                const auto i = static_cast<std::size_t>(k);
                page->userSelectItem(pages::ScopePage::kQuantity[i], k);
                page->userClick(pages::ScopePage::kOnOff[i]);
            }
            page->userSelectItem(pages::ScopePage::kPeriod, 1);
        }
    }
    const int tabs = window.control(app::MainWindow::kTabControl).itemCount();
    for (int i = 0; i < tabs && i < 3; ++i) {
        window.userClickTab(app::MainWindow::kTabControl, i);
        ui::qt::processEvents(connect && i == 2 ? 2500 : 400);
        const fs::path png = dir / (std::string(kPageNames[i]) + ".png");
        if (ui::qt::saveWindowPng(window, png)) {
            std::printf("%s\n", png.string().c_str());
        } else {
            std::fprintf(stderr, "servo-tool: cannot write %s\n", png.string().c_str());
            ok = false;
        }
    }
    std::fflush(stdout);
    window.userClose();
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<Options> options = parse(argc, argv);
    if (!options) return 2;

    // Before the toolkit starts any thread.
    servo_main::DemoDrive demo;
    if (options->demo) {
        std::string error;
        if (demo.start(platform::programDirectory() / "servo-sim", error)) {
            std::printf("demo drive: servo-sim on COM1 = %s (station 1, 115200 bit/s)\n",
                        demo.portPath().c_str());
            std::fflush(stdout);
        } else {
            std::fprintf(stderr, "servo-tool: --demo: %s\n", error.c_str());
            return 1;
        }
    }

    ui::qt::QtBackend backend;
    app::StartOptions start;
    start.language = options->language;
    bool shotsOk = true;
    if (options->screenshots) {
        // Unattended: Chinese unless asked otherwise, and the main window
        // closes itself once its pages are saved.
        if (!start.language) start.language = app::LanguageDialog::Chinese;
        // Nobody can click: message boxes go to standard error.
        ui::setUnattended(true);
        const fs::path dir = *options->screenshots;
        const bool connect = options->demo;
        backend.setModalHook([dir, connect, &shotsOk](ui::Dialog& d) {
            if (d.templateId() == resources::kMainDialog) takeScreenshots(d, dir, connect, shotsOk);
        });
    }
    const int result = app::runApplication(start, servo_main::makePages);
    demo.stop();
    if (result != 0) return result;
    return shotsOk && ui::unattendedErrorCount() == 0 ? 0 : 1;
}
