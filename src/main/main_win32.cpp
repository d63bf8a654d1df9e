// servo-tool.exe: the desktop program on the Win32 backend.
//
//   servo-tool [--lang zh|en] [--connect PORT[:BAUD[:STATION]]] [--screenshots DIR]
//
// A GUI-subsystem program: it opens no console, but writes to the standard
// handles it inherits (redirected output, Wine).
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/start.h"
#include "main/page_set.h"
#include "main/start_actions.h"
#include "resources/resources.h"
#include "ui/backend.h"
#include "ui/win32/win32_backend.h"

namespace {

namespace fs = std::filesystem;

struct Options {
    std::optional<int> language;
    std::optional<servo_main::ConnectChoice> connect;
    std::optional<fs::path> screenshots;
};

constexpr const char* kUsage =
    "usage: servo-tool [--lang zh|en] [--connect PORT[:BAUD[:STATION]]] [--screenshots DIR]\n"
    "  --lang zh|en          take this language instead of asking\n"
    "  --connect PORT[:BAUD[:STATION]]\n"
    "                        connect at start as the Connect button does (COM1 to COM6,\n"
    "                        4800 to 115200 bit/s, default 115200; station 1 to 64, default 1)\n"
    "  --screenshots DIR     save each page as DIR\\<page>.png, then exit\n";

std::optional<Options> parse() {
    const std::vector<std::string> args = ui::win32::commandLineArguments();
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--lang" && hasValue) {
            const std::string& v = args[++i];
            if (v == "zh") {
                o.language = app::LanguageDialog::Chinese;
            } else if (v == "en") {
                o.language = app::LanguageDialog::English;
            } else {
                std::fprintf(stderr, "servo-tool: unknown language '%s'\n%s", v.c_str(), kUsage);
                return std::nullopt;
            }
        } else if (a == "--connect" && hasValue) {
            std::string error;
            o.connect = servo_main::parseConnectChoice(args[++i], error);
            if (!o.connect) {
                std::fprintf(stderr, "servo-tool: --connect: %s\n%s", error.c_str(), kUsage);
                return std::nullopt;
            }
        } else if (a == "--screenshots" && hasValue) {
            o.screenshots = fs::absolute(fs::u8path(args[++i]));
        } else if (a == "--demo") {
            std::fprintf(stderr,
                         "servo-tool: --demo needs servo-sim, a Linux program; on Windows "
                         "connect to a drive with --connect\n");
            return std::nullopt;
        } else if (a == "--help" || a == "-h" || a == "/?") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else {
            std::fprintf(stderr, "servo-tool: unexpected argument '%s'\n%s", a.c_str(), kUsage);
            return std::nullopt;
        }
    }
    return o;
}

}  // namespace

int main() {
    std::optional<Options> options = parse();
    if (!options) return 2;

    ui::win32::Win32Backend backend;
    app::StartOptions start;
    start.language = options->language;
    bool ok = true;
    if (options->screenshots) {
        // Unattended: Chinese unless asked otherwise; messages go to standard
        // error; the main window closes itself once its pages are saved.
        if (!start.language) start.language = app::LanguageDialog::Chinese;
        ui::setUnattended(true);
    }
    // Without a choice the language dialog asks, in Chinese.
    backend.setChineseText(start.language.value_or(app::LanguageDialog::Chinese) !=
                           app::LanguageDialog::English);
    const std::optional<servo_main::ConnectChoice> connect = options->connect;
    if (options->screenshots) {
        const fs::path dir = *options->screenshots;
        const servo_main::ScreenshotBackend shots{
            [](int ms) { ui::win32::processEvents(ms); },
            [](const ui::Dialog& d, const fs::path& p) { return ui::win32::saveWindowImage(d, p); },
            ".png"};
        backend.setModalHook([dir, connect, shots, &ok](ui::Dialog& d) {
            if (d.templateId() == resources::kMainDialog &&
                !servo_main::takeScreenshots(d, dir, connect, shots))
                ok = false;
        });
    } else if (connect) {
        backend.setModalHook([connect](ui::Dialog& d) {
            if (d.templateId() == resources::kMainDialog) servo_main::connectAtStart(d, *connect);
        });
    }
    const int result = app::runApplication(start, servo_main::makePages);
    if (result != 0) return result;
    return ok && ui::unattendedErrorCount() == 0 ? 0 : 1;
}
