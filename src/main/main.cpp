// servo-tool: the desktop program on the Qt backend.
//
//   servo-tool [--lang zh|en] [--demo] [--connect PORT[:BAUD[:STATION]]] [--screenshots DIR]
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
#include "main/start_actions.h"
#include "platform/program_dir.h"
#include "resources/resources.h"
#include "ui/qt/qt_backend.h"

namespace {

namespace fs = std::filesystem;

struct Options {
    std::optional<int> language;
    bool demo = false;
    std::optional<servo_main::ConnectChoice> connect;
    std::optional<fs::path> screenshots;
};

constexpr const char* kUsage =
    "usage: servo-tool [--lang zh|en] [--demo] [--connect PORT[:BAUD[:STATION]]]\n"
    "                  [--screenshots DIR]\n"
    "  --lang zh|en        take this language instead of asking\n"
    "  --demo              start the simulated drive (servo-sim) on COM1\n"
    "  --connect PORT[:BAUD[:STATION]]\n"
    "                      connect at start as the Connect button does (COM1 to COM6,\n"
    "                      4800 to 115200 bit/s, default 115200; station 1 to 64, default 1)\n"
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
        } else if (a == "--connect" && i + 1 < argc) {
            std::string error;
            o.connect = servo_main::parseConnectChoice(argv[++i], error);
            if (!o.connect) {
                std::fprintf(stderr, "servo-tool: --connect: %s\n%s", error.c_str(), kUsage);
                return std::nullopt;
            }
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
        // The demo drive answers at the page's defaults: COM1, 115200 bit/s, station 1.
        std::optional<servo_main::ConnectChoice> connect = options->connect;
        if (!connect && options->demo) connect = servo_main::ConnectChoice{};
        const servo_main::ScreenshotBackend shots{
            [](int ms) { ui::qt::processEvents(ms); },
            [](const ui::Dialog& d, const fs::path& p) { return ui::qt::saveWindowPng(d, p); },
            ".png"};
        backend.setModalHook([dir, connect, shots, &shotsOk](ui::Dialog& d) {
            if (d.templateId() == resources::kMainDialog &&
                !servo_main::takeScreenshots(d, dir, connect, shots))
                shotsOk = false;
        });
    } else if (options->connect) {
        const servo_main::ConnectChoice connect = *options->connect;
        backend.setModalHook([connect](ui::Dialog& d) {
            if (d.templateId() == resources::kMainDialog) servo_main::connectAtStart(d, connect);
        });
    }
    const int result = app::runApplication(start, servo_main::makePages);
    demo.stop();
    if (result != 0) return result;
    return shotsOk && ui::unattendedErrorCount() == 0 ? 0 : 1;
}
