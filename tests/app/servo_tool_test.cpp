// servo-tool as a user starts it, offscreen: with the sample language files and
// the simulated drive, each page saved as a PNG under the build tree.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "ui/qt/qt_backend.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int exitCode = -1;
    std::vector<std::string> lines;  // standard output
};

ToolRun runTool(const std::string& arguments) {
    ToolRun run;
    const std::string command = std::string(SERVO_TOOL_PATH) + " " + arguments + " 2>/dev/null";
    FILE* out = ::popen(command.c_str(), "r");
    if (!out) return run;
    std::string text;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
        text.append(buffer, n);
    const int status = ::pclose(out);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) run.lines.push_back(line);
    return run;
}

// Share of pixels in the area that are dark (text, frames).
double ink(const ui::qt::Image& img, ui::Rect area) {
    int dark = 0;
    int all = 0;
    for (int y = area.top; y < area.bottom && y < img.height; ++y)
        for (int x = area.left; x < area.right && x < img.width; ++x, ++all) {
            const ui::Color c = img.at(x, y);
            if (c.r + c.g + c.b < 3 * 100) ++dark;
        }
    return all ? static_cast<double>(dark) / all : 0.0;
}

TEST(ServoTool, DemoRunSavesEveryPageAndEndsTheSimulatedDrive) {
    const ui::qt::QtBackend toolkit;  // for the font check and the PNG reader
    ASSERT_TRUE(ui::qt::canRenderText(u"【驱动状态】通讯未连接")) << "no CJK font installed";
    const fs::path dir = fs::path(APP_SCREENSHOT_DIR);
    fs::remove_all(dir);
    const ToolRun run = runTool("--lang zh --demo --screenshots " + dir.string());
    ASSERT_EQ(run.exitCode, 0);

    // "demo drive: servo-sim on COM1 = /dev/pts/N (...)", then one path per
    // page, then the compare view's and the bus monitor's.
    ASSERT_EQ(run.lines.size(), 6u);
    const std::string& demo = run.lines[0];
    const auto at = demo.find("= ");
    ASSERT_NE(at, std::string::npos) << demo;
    const std::string pty = demo.substr(at + 2, demo.find(' ', at + 2) - at - 2);
    EXPECT_EQ(pty.rfind("/dev/", 0), 0u) << demo;
    EXPECT_FALSE(fs::exists(pty)) << "the simulator's pty outlived the program";

    const char* names[] = {"status", "parameters", "scope"};
    std::vector<ui::qt::Image> images;
    for (int i = 0; i < 3; ++i) {
        const fs::path png = dir / (std::string(names[i]) + ".png");
        EXPECT_EQ(run.lines[static_cast<std::size_t>(i) + 1], png.string());
        const auto img = ui::qt::loadPng(png);
        ASSERT_TRUE(img) << png;
        EXPECT_EQ(img->width, 1000);
        EXPECT_EQ(img->height, 730);
        // Tab titles along the top, the status line "通讯未连接" at the bottom,
        // and the page's controls in between.
        EXPECT_GT(ink(*img, {5, 5, 300, 30}), 0.03) << names[i];
        EXPECT_GT(ink(*img, {5, 712, 80, 728}), 0.03) << names[i];
        EXPECT_GT(ink(*img, {5, 40, 995, 700}), 0.001) << names[i];
        images.push_back(*img);
    }
    EXPECT_NE(images[0].pixels, images[1].pixels);
    EXPECT_NE(images[1].pixels, images[2].pixels);

    // The compare view against the first model set: rows that differ are
    // tinted, and two of them are checked.
    const fs::path compare = dir / "compare.png";
    EXPECT_EQ(run.lines[4], compare.string());
    const auto view = ui::qt::loadPng(compare);
    ASSERT_TRUE(view) << compare;
    EXPECT_GT(view->width, 600);
    int tinted = 0;
    for (int y = 0; y < view->height; ++y) {
        const ui::Color c = view->at(300, y);
        tinted += c.r > 240 && c.g > 220 && c.g < 250 && c.b > 160 && c.b < 200 ? 1 : 0;
    }
    EXPECT_GT(tinted, 10) << "no highlighted row";

    // The bus monitor over the recording link: rows of text in its list.
    const fs::path monitor = dir / "monitor.png";
    EXPECT_EQ(run.lines[5], monitor.string());
    const auto bus = ui::qt::loadPng(monitor);
    ASSERT_TRUE(bus) << monitor;
    EXPECT_GT(bus->width, 600);
    EXPECT_GT(ink(*bus, {10, 80, bus->width - 10, bus->height - 10}), 0.02) << "no rows";
}

// Unattended, a broken language file must not leave a message box waiting
// for a click: the run ends, the message is on standard error, and the status
// says that something was wrong. The program runs from a copy beside the
// damaged file, since it reads the files beside itself.
TEST(ServoTool, ScreenshotsWithADamagedLanguageFileEndWithAFailure) {
    const testsupport::TempDir dir;
    fs::copy_file(SERVO_TOOL_PATH, dir.path() / "servo-tool");
    fs::create_directories(dir.path() / "Language");
    const auto whole = fs::path(SERVO_DIST_DIR) / "Language/Define.cfg";
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    bytes.resize(bytes.size() / 2);
    std::ofstream(dir.path() / "Language/Define.cfg", std::ios::binary) << bytes;

    const std::string command = "timeout 60 " + (dir.path() / "servo-tool").string() +
                                " --lang zh --screenshots " + (dir.path() / "shots").string() +
                                " 2>&1";
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
        text.append(buffer, n);
    const int status = ::pclose(out);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << text << "(124: still waiting after 60 s)";
    EXPECT_NE(text.find("error: 错误: 语言文件无法使用：\n  " +
                        (dir.path() / "Language/Define.cfg").string() + "：文件已损坏"),
              std::string::npos)
        << text;
    EXPECT_TRUE(fs::exists(dir.path() / "shots/status.png")) << "the run went on";
}

TEST(ServoTool, UnknownOptionsAreUsageErrors) {
    EXPECT_EQ(runTool("--lang fr").exitCode, 2);
    EXPECT_EQ(runTool("--screenshots").exitCode, 2);
    EXPECT_EQ(runTool("--bogus").exitCode, 2);
    // --connect takes only what the status page offers.
    EXPECT_EQ(runTool("--connect COM7").exitCode, 2);
    EXPECT_EQ(runTool("--connect COM1:1200").exitCode, 2);
    EXPECT_EQ(runTool("--connect COM1:9600:65").exitCode, 2);
}

}  // namespace
