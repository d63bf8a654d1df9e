// The main window with its three pages on the Qt backend offscreen, in both
// languages: every text fits its control with Qt's font metrics, the minimum
// size keeps every control inside and apart, larger windows give the room to
// the lists and text boxes, and the keyboard reaches everything.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "app/main_window.h"
#include "data/language.h"
#include "data/model_sets.h"
#include "main/page_set.h"
#include "support/program_rig.h"
#include "ui/layout.h"
#include "ui/qt/qt_backend.h"

namespace {

namespace fs = std::filesystem;
using app::MainWindow;

// The program's start as far as the window needs it: the language file and
// the model table of dist/, then the main window run with the script inside
// its modal loop.
void runMainWindow(const char* languageFile, const std::function<void(MainWindow&)>& script) {
    ui::qt::QtBackend backend;
    testsupport::ProgramRig program;
    const fs::path dist(SERVO_DIST_DIR);
    ASSERT_EQ(data::loadLanguageFile(dist / "Language" / languageFile, program.language), 1);
    // The program's own texts in the file's language, as the language choice gives them.
    program.context.englishTexts = std::string_view(languageFile) != "Define.cfg";
    program.context.modelTableLoaded =
        data::loadModelTable(dist / "version" / "Servo.csv", program.language.parameters().size(),
                             program.models, nullptr, nullptr);
    // Recorded as the program records, so that the bus monitor opens.
    modbus::TransactionLog log;
    program.context.transactions = &log;
    MainWindow window(program.context, servo_main::makePages);
    backend.setModalHook([&](ui::Dialog&) {
        script(window);
        window.userClose();
    });
    window.runModal();
    backend.setModalHook(nullptr);
}

void resize(MainWindow& w, ui::Size client) {
    const ui::Rect at = w.windowRect();
    w.move(ui::Rect::fromXywh(at.left, at.top, client.width, client.height));
    ui::qt::processEvents();
}

void expectNoIssues(MainWindow& w, const std::string& where) {
    for (const ui::LayoutIssue& issue : ui::findLayoutIssues(w))
        ADD_FAILURE() << where << ": " << issue.message;
}

ui::Rect rectOf(MainWindow& w, int page, int id) {
    return w.page(page)->control(id).rect();
}

// The bus monitor in the language's own words, opened with Ctrl+M as the
// user opens it: whole texts at its smallest size, the list growing with it.
void checkBusMonitor(MainWindow& w, const std::string& where) {
    ui::qt::sendKey(w, ui::Key::ControlM);
    ui::qt::processEvents();
    app::BusMonitorWindow* m = w.busMonitor();
    ASSERT_NE(m, nullptr) << where;
    const ui::Size minimum = m->minimumSize();
    EXPECT_GT(minimum.width, 300) << where;
    const ui::Rect at = m->windowRect();
    int listWidth = 0;
    for (const ui::Size size : {minimum, ui::Size{minimum.width + 300, minimum.height + 200}}) {
        m->move(ui::Rect::fromXywh(at.left, at.top, size.width, size.height));
        ui::qt::processEvents();
        for (const ui::LayoutIssue& issue : ui::findLayoutIssues(*m))
            ADD_FAILURE() << where << " bus monitor at " << size.width << "x" << size.height << ": "
                          << issue.message;
        const ui::Rect list = m->control(app::BusMonitorWindow::kList).rect();
        EXPECT_GT(list.width(), listWidth) << where;
        listWidth = list.width();
        if (size == minimum) {
            EXPECT_TRUE(ui::qt::saveWindowPng(
                *m, fs::path(APP_SCREENSHOT_DIR) / ("minimum_monitor_" + where + ".png")));
        }
    }
}

void checkEveryPage(const char* languageFile) {
    runMainWindow(languageFile, [&](MainWindow& w) {
        const bool english = std::string(languageFile) == "DefineEn.cfg";
        const bool before = w.context().englishTexts;
        w.context().englishTexts = english;
        checkBusMonitor(w, english ? "en" : "zh");
        w.context().englishTexts = before;
        const ui::Size minimum = w.minimumSize();
        EXPECT_GT(minimum.width, MainWindow::kSmallestSize.width);
        EXPECT_LT(minimum.width, MainWindow::kLargestMinimum.width);
        EXPECT_LT(minimum.height, MainWindow::kLargestMinimum.height);
        ASSERT_EQ(w.tabs().count(), 3);
        const ui::Size large{minimum.width + 400, minimum.height + 300};
        for (int page = 0; page < 3; ++page) {
            ASSERT_TRUE(w.userSelectTab(MainWindow::kTabControl, page));
            for (const ui::Size size : {minimum, ui::Size{1000, 730}, large}) {
                resize(w, size);
                expectNoIssues(w, std::string(languageFile) + " page " + std::to_string(page) +
                                      " at " + std::to_string(size.width) + "x" +
                                      std::to_string(size.height));
                // Kept for a look by eye: each page at the smallest size.
                if (size == minimum) {
                    EXPECT_TRUE(ui::qt::saveWindowPng(
                        w, fs::path(APP_SCREENSHOT_DIR) /
                               ("minimum_" + fs::path(languageFile).stem().string() + "_" +
                                std::to_string(page) + ".png")));
                }
            }
        }
        // What a larger window gives goes to the lists and text boxes.
        const int kStatusList = 1068, kAlarmText = 1103, kParameterList = 1011, kDetail = 1063;
        resize(w, minimum);
        const ui::Rect small[] = {rectOf(w, 0, kStatusList), rectOf(w, 0, kAlarmText),
                                  rectOf(w, 1, kParameterList), rectOf(w, 1, kDetail)};
        resize(w, large);
        const ui::Rect big[] = {rectOf(w, 0, kStatusList), rectOf(w, 0, kAlarmText),
                                rectOf(w, 1, kParameterList), rectOf(w, 1, kDetail)};
        for (int i = 0; i < 4; ++i) {
            EXPECT_GT(big[i].height(), small[i].height()) << i;
            if (i != 3) {
                EXPECT_GT(big[i].width(), small[i].width()) << i;
            }
        }
    });
}

TEST(LayoutQt, EveryTextFitsAndNothingOverlapsInChinese) {
    checkEveryPage("Define.cfg");
}

TEST(LayoutQt, EveryTextFitsAndNothingOverlapsInEnglish) {
    checkEveryPage("DefineEn.cfg");
}

TEST(KeyboardQt, TabLeavesAListAtOnceAndCtrlTabSwitchesPages) {
    runMainWindow("DefineEn.cfg", [](MainWindow& w) {
        ui::Control* focus = nullptr;
        const auto focused = [&] {
            ui::qt::processEvents();
            focus = w.focus();
            return focus ? focus->id() : 0;
        };
        ASSERT_TRUE(w.userSelectTab(MainWindow::kTabControl, 1));
        app::MainPage& params = *w.page(1);
        params.setFocus(1011);
        ASSERT_EQ(focused(), 1011);
        const int rows = params.control(1011).rowCount();
        ASSERT_GT(rows, 10);
        ui::qt::sendKey(w, ui::Key::End);
        EXPECT_EQ(params.control(1011).selectionMark(), rows - 1);
        ui::qt::sendKey(w, ui::Key::Home);
        EXPECT_EQ(params.control(1011).selectionMark(), 0);
        // One press leaves the list (to the description box), one goes back.
        ui::qt::sendKey(w, ui::Key::Tab);
        EXPECT_EQ(focused(), 1063);
        ui::qt::sendKey(w, ui::Key::BackTab);
        EXPECT_EQ(focused(), 1011);

        // The write mode is one stop: the checked button; arrows move the check.
        params.setFocus(1057);
        ui::qt::sendKey(w, ui::Key::Tab);
        EXPECT_EQ(focused(), 1095);
        ui::qt::sendKey(w, ui::Key::Down);
        EXPECT_EQ(focused(), 1096);
        EXPECT_EQ(params.radioGroupIndex(1095), 1);
        ui::qt::sendKey(w, ui::Key::Tab);
        EXPECT_NE(focused(), 1095);

        ui::qt::sendKey(w, ui::Key::NextPage);
        EXPECT_EQ(w.control(MainWindow::kTabControl).selection(), 2);
        EXPECT_EQ(w.tabs().current(), 2);
        ui::qt::sendKey(w, ui::Key::PreviousPage);
        EXPECT_EQ(w.tabs().current(), 1);
    });
}

}  // namespace
