#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/text.h"
#include "recorder.h"
#include "ui/qt/qt_backend.h"

namespace {

using ui_test::Recorder;
namespace fs = std::filesystem;

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

fs::path outputDir() {
    return fs::path(UI_TEST_OUTPUT_DIR);
}

// Runs a modal dialog with the script as its modal hook. A watchdog ends the
// dialog with -9 after 5 s, so that a broken loop cannot hang the suite.
int runGuarded(ui::Dialog& d, std::function<void(ui::Dialog&)> script) {
    g_backend->setModalHook(std::move(script));
    auto alive = std::make_shared<std::atomic<bool>>(true);
    ui::Dialog* target = &d;
    std::thread watchdog([alive, target] {
        for (int i = 0; i < 500 && alive->load(std::memory_order_relaxed); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!alive->load(std::memory_order_relaxed)) return;
        ui::post([alive, target] {
            if (alive->load(std::memory_order_relaxed) && target->exists()) target->endDialog(-9);
        });
    });
    const int result = d.runModal();
    alive->store(false, std::memory_order_relaxed);
    watchdog.join();
    g_backend->setModalHook(nullptr);
    return result;
}

// The fraction of pixels in the area that are much darker than the first one.
double inkIn(const ui::qt::Image& img, ui::Rect area) {
    area.left = std::max(area.left, 0);
    area.top = std::max(area.top, 0);
    area.right = std::min(area.right, img.width);
    area.bottom = std::min(area.bottom, img.height);
    int dark = 0;
    int all = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x, ++all) {
            const ui::Color c = img.at(x, y);
            if (c.r + c.g + c.b < 3 * 100) ++dark;
        }
    return all ? static_cast<double>(dark) / all : 0.0;
}

class LanguageChoice : public ui::Dialog {
  public:
    LanguageChoice() : Dialog(resources::kLanguageDialog) {}
    int choice = 0;

  protected:
    void onCommand(int id) override {
        if (id >= 1099 && id <= 1101) {
            choice = id - 1099;
            endDialog(ui::kIdOk);
            return;
        }
        Dialog::onCommand(id);
    }
};

TEST(QtBackend, LanguageDialogRendersItsChineseTextsAndAClickEndsIt) {
    ASSERT_TRUE(ui::qt::canRenderText(u"中文(Chinese)语种选择")) << "no CJK font installed";
    LanguageChoice d;
    const fs::path png = outputDir() / "language_dialog.png";
    fs::remove(png);
    ui::Rect chinese;
    ui::Rect other;
    const int result = runGuarded(d, [&](ui::Dialog& dlg) {
        chinese = dlg.control(1099).rect();
        other = dlg.control(1101).rect();
        EXPECT_TRUE(ui::qt::saveWindowPng(dlg, png));
        EXPECT_TRUE(ui::qt::clickWidget(dlg, 1100));
    });
    EXPECT_EQ(result, ui::kIdOk);
    EXPECT_EQ(d.choice, 1);
    ASSERT_TRUE(fs::exists(png));
    const auto img = ui::qt::loadPng(png);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width, 390);
    EXPECT_EQ(img->height, 120);
    // "中文" is the left part of the centred button text: ink there, and none
    // where the hidden third button would be.
    const int cx = (chinese.left + chinese.right) / 2;
    const int cy = (chinese.top + chinese.bottom) / 2;
    EXPECT_GT(inkIn(*img, {cx - 40, cy - 8, cx - 12, cy + 8}), 0.05);
    EXPECT_EQ(inkIn(*img, {other.left + 4, other.top + 4, other.right - 4, other.bottom - 4}), 0.0);
}

TEST(QtBackend, EscapeKeyCancelsAndSwallowedKeysDoNot) {
    LanguageChoice d;
    EXPECT_EQ(runGuarded(d, [](ui::Dialog& dlg) { ui::qt::sendKey(dlg, ui::Key::Escape); }),
              ui::kIdCancel);
    EXPECT_EQ(d.choice, 0);

    Recorder main(resources::kMainDialog);
    main.keyAction = ui::KeyAction::Swallow;
    EXPECT_EQ(runGuarded(main,
                         [&](ui::Dialog& dlg) {
                             ui::qt::sendKey(dlg, ui::Key::Escape);
                             ui::qt::sendKey(dlg, ui::Key::Enter);
                             EXPECT_FALSE(dlg.modalEnded());
                             dlg.userClose();
                         }),
              ui::kIdCancel);
    EXPECT_TRUE(main.has("key escape"));
    EXPECT_TRUE(main.has("key enter"));
}

// Unattended, a dialog that nothing answers is closed with its close box
// (the watchdog's -9 would mean it waited), and a message box never shows.
TEST(QtBackend, UnattendedDialogsAndBoxesDoNotWait) {
    ui::setUnattended(true);
    LanguageChoice d;
    EXPECT_EQ(runGuarded(d, [](ui::Dialog&) {}), ui::kIdCancel);
    EXPECT_EQ(d.choice, 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ui::messageBox(u"text", u"caption"), ui::kIdOk);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "message: caption: text (answered OK)\n");
    ui::setUnattended(false);
}

TEST(QtBackend, PageInTheMainWindowRendersAndItsButtonsReachTheHandler) {
    Recorder main(resources::kMainDialog);
    Recorder page(resources::kStatusPage);
    const fs::path png = outputDir() / "status_page.png";
    fs::remove(png);
    ui::Rect groupTitle;
    const int result = runGuarded(main, [&](ui::Dialog& dlg) {
        dlg.move(ui::Rect::fromXywh(0, 0, 1000, 730));
        ui::Control& tabs = dlg.control(1064);
        tabs.move(ui::Rect::fromXywh(5, 5, 990, 704));
        tabs.insertItem(0, u"【驱动状态】");
        tabs.insertItem(1, u"【驱动参数】");
        const ui::Rect item = tabs.itemRect(0);
        EXPECT_GT(item.height(), 10);
        ASSERT_TRUE(page.create(dlg, 1064));
        page.move({item.left, item.bottom + 1, 990 - 3, 704 - 1});
        page.show(true);
        page.setRadioGroupIndex(1070, 5);
        ui::Control& list = page.control(1068);
        list.setExtendedStyle(ui::list_style::kFullRowSelect | ui::list_style::kGridLines);
        list.insertColumn(0, u"参数名称", 200);
        list.insertColumn(1, u"当前值", 105);
        list.insertRow(0, u"电机转速");
        list.setCellText(0, 1, u"未知");
        ui::qt::processEvents(50);
        EXPECT_TRUE(ui::qt::saveWindowPng(dlg, png));
        const ui::Point origin = page.control(1084).screenOrigin() - dlg.windowRect().topLeft();
        groupTitle = ui::Rect::fromXywh(origin.x + 4, origin.y - 2, 60, 16);

        // Real clicks: a radio button joins its group, a push button commands.
        EXPECT_TRUE(ui::qt::clickWidget(page, 1072));
        EXPECT_EQ(page.radioGroupIndex(1070), 2);
        EXPECT_EQ(page.check(1075), 0);
        EXPECT_TRUE(ui::qt::clickWidget(page, 1072));  // clicked again: stays checked
        EXPECT_EQ(page.check(1072), 1);
        EXPECT_TRUE(ui::qt::clickWidget(page, 1065));
        EXPECT_TRUE(page.has("command 1065"));

        // The status line's text colour is drawn, and goes again.
        ui::Control& line = dlg.control(1093);
        line.setText(u"Alarm 11: overcurrent");
        const auto redPixels = [&] {
            ui::qt::processEvents(20);
            const auto shot = ui::qt::grabWindow(dlg);
            int count = 0;
            const ui::Rect r = line.rect();
            for (int y = r.top; shot && y < r.bottom && y < shot->height; ++y)
                for (int x = r.left; x < r.right && x < shot->width; ++x) {
                    const ui::Color c = shot->at(x, y);
                    count += c.r > 120 && c.g < 80 && c.b < 80;
                }
            return count;
        };
        EXPECT_EQ(redPixels(), 0);
        line.setTextColor(ui::rgb(200, 0, 0));
        EXPECT_GT(redPixels(), 10);
        line.setTextColor(std::nullopt);
        EXPECT_EQ(redPixels(), 0);
        dlg.userClose();
    });
    EXPECT_EQ(result, ui::kIdCancel);
    EXPECT_TRUE(page.has("destroy 135"));
    const auto img = ui::qt::loadPng(png);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width, 1000);
    EXPECT_GT(inkIn(*img, groupTitle), 0.03) << "group box title 通讯管理";
}

TEST(QtBackend, ListCheckBoxesReachTheHandlerAndHighlightedRowsAreTinted) {
    Recorder d(resources::kRangeDialog);
    const int result = runGuarded(d, [&](ui::Dialog& dlg) {
        ui::Control& list = dlg.control(1011);
        list.insertColumn(0, u"参数名称", 180);
        list.insertRow(0, u"a");
        list.insertRow(1, u"b");
        // No check box before the style.
        EXPECT_FALSE(ui::qt::toggleRowCheck(dlg, 1011, 0));
        list.setExtendedStyle(ui::list_style::kCheckBoxes);
        list.setRowChecked(1, true);
        EXPECT_TRUE(ui::qt::toggleRowCheck(dlg, 1011, 0));
        EXPECT_TRUE(list.isRowChecked(0));
        EXPECT_TRUE(d.has("listcheck 1011 0"));
        EXPECT_TRUE(ui::qt::toggleRowCheck(dlg, 1011, 1));  // the program's check, cleared
        EXPECT_FALSE(list.isRowChecked(1));
        EXPECT_TRUE(d.has("listcheck 1011 1"));

        // The highlight tints the row's cells, and only while it is set.
        const auto tintedLines = [&] {
            ui::qt::processEvents(50);
            const auto img = ui::qt::grabWindow(dlg);
            if (!img) return -1;
            const ui::Rect r = list.rect();
            int lines = 0;
            for (int y = r.top; y < std::min(r.bottom, img->height); ++y) {
                int n = 0;
                for (int x = r.left + 60; x < std::min(r.left + 170, img->width); ++x) {
                    const ui::Color c = img->at(x, y);
                    n += (c.r > 240 && c.g > 220 && c.g < 250 && c.b > 160 && c.b < 200) ? 1 : 0;
                }
                lines += n > 50 ? 1 : 0;
            }
            return lines;
        };
        EXPECT_EQ(tintedLines(), 0);
        list.setRowHighlighted(1, true);
        EXPECT_GT(tintedLines(), 5);
        list.setRowHighlighted(1, false);
        EXPECT_EQ(tintedLines(), 0);
        dlg.endDialog(ui::kIdOk);
    });
    EXPECT_EQ(result, ui::kIdOk);
}

// A list that grows at its end and sheds rows at its start, as the bus
// monitor's does: it follows the end while the user looks at the end, and
// keeps the rows the user scrolled to in view otherwise.
TEST(QtBackend, AppendedRowsAreFollowedOnlyFromTheEnd) {
    Recorder d(resources::kRangeDialog);
    const auto rows = [](int from, int count) {
        std::vector<std::vector<std::u16string>> out;
        for (int i = from; i < from + count; ++i)
            out.push_back({u"r" + platform::fromUtf8(std::to_string(i))});
        return out;
    };
    const int result = runGuarded(d, [&](ui::Dialog& dlg) {
        ui::Control& list = dlg.control(1011);
        list.insertColumn(0, u"row", 180);
        EXPECT_EQ(list.appendRows(rows(0, 200)), 0);
        ui::qt::processEvents(20);
        auto shown = ui::qt::shownRows(dlg, 1011);
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->second, 199) << "a list at its end follows it";
        list.appendRows(rows(200, 20));
        ui::qt::processEvents(20);
        EXPECT_EQ(ui::qt::shownRows(dlg, 1011)->second, 219);

        // Scrolled up: new rows and rows shed at the start leave the view
        // on the same rows.
        ASSERT_TRUE(ui::qt::scrollListTo(dlg, 1011, 50));
        ui::qt::processEvents(20);
        ASSERT_EQ(ui::qt::shownRows(dlg, 1011)->first, 50);
        list.appendRows(rows(220, 20));
        ui::qt::processEvents(20);
        EXPECT_EQ(ui::qt::shownRows(dlg, 1011)->first, 50);
        list.deleteFirstRows(30);
        ui::qt::processEvents(20);
        shown = ui::qt::shownRows(dlg, 1011);
        ASSERT_TRUE(shown);
        EXPECT_EQ(list.cellText(shown->first, 0), u"r50");
        EXPECT_EQ(list.rowCount(), 210);
        dlg.endDialog(ui::kIdOk);
    });
    EXPECT_EQ(result, ui::kIdOk);
}

class TimedDialog : public Recorder {
  public:
    TimedDialog() : Recorder(resources::kLanguageDialog) {}
    int ticks = 0;

  protected:
    bool onInitDialog() override {
        setTimer(1, 20);
        return Recorder::onInitDialog();
    }
    void onTimer(int id) override {
        Recorder::onTimer(id);
        if (++ticks == 3) endDialog(42);
    }
};

TEST(QtBackend, WindowTimerAndPostedTasksRunOnTheUiThread) {
    TimedDialog d;
    EXPECT_EQ(runGuarded(d, [](ui::Dialog&) {}), 42);
    EXPECT_EQ(d.ticks, 3);
    EXPECT_TRUE(d.has("timer 1"));

    LanguageChoice posted;
    const std::thread::id uiThread = std::this_thread::get_id();
    bool onUi = false;
    EXPECT_EQ(runGuarded(posted,
                         [&](ui::Dialog& dlg) {
                             std::thread([&] {
                                 dlg.post([&] {
                                     onUi = std::this_thread::get_id() == uiThread;
                                     dlg.endDialog(7);
                                 });
                             }).join();
                         }),
              7);
    EXPECT_TRUE(onUi);
}

// A page that draws on its plot host whenever it is painted, as the scope page does.
class Canvas : public Recorder {
  public:
    Canvas() : Recorder(resources::kScopePage) {}
    int paints = 0;

  protected:
    void onPaint(ui::DrawContext&) override {
        ++paints;
        if (auto window = controlContext(1011))
            window->fillRect({0, 30, 60, 40}, ui::rgb(0, 0, 255));
    }
};

TEST(QtBackend, ImageContextDrawsLinesAndCopiesToAControl) {
    auto dc = ui::createMemoryContext({60, 40});
    ASSERT_NE(dc, nullptr);
    dc->fillRect({0, 0, 60, 40}, ui::rgb(64, 128, 128));
    dc->setPen(ui::PenStyle::Solid, ui::rgb(255, 0, 0), 1);
    dc->moveTo({5, 10});
    dc->lineTo({50, 10});
    EXPECT_EQ(dc->pixel({20, 10}), ui::rgb(255, 0, 0));
    EXPECT_EQ(dc->pixel({20, 12}), ui::rgb(64, 128, 128));
    EXPECT_GT(dc->textExtent(u"+5.0").width, 0);

    // A modeless window hosts the page; no loop runs but the test's own.
    Recorder main(resources::kMainDialog);
    Canvas page;
    ASSERT_TRUE(main.createModeless());
    ASSERT_TRUE(page.create(main, 1064));
    page.show(true);
    page.control(1011).move(ui::Rect::fromXywh(0, 0, 60, 40));
    auto window = page.controlContext(1011);
    ASSERT_NE(window, nullptr);
    window->copyFrom(*dc, {0, 0, 60, 40}, {0, 0});
    window.reset();
    ui::qt::processEvents(100);
    // Drawing from the paint handler settles instead of repainting forever.
    EXPECT_GE(page.paints, 1);
    EXPECT_LE(page.paints, 3);
    const std::optional<ui::qt::Image> shot = ui::qt::grabWindow(page);
    const ui::Point hostOrigin = page.control(1011).rect().topLeft();
    main.destroy();
    EXPECT_FALSE(page.exists());
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->at(hostOrigin.x + 20, hostOrigin.y + 10), ui::rgb(255, 0, 0));
    EXPECT_EQ(shot->at(hostOrigin.x + 20, hostOrigin.y + 20), ui::rgb(64, 128, 128));
    EXPECT_EQ(shot->at(hostOrigin.x + 20, hostOrigin.y + 35), ui::rgb(0, 0, 255));
}

TEST(QtBackend, FileFiltersBecomeNameFilters) {
    EXPECT_EQ(ui::qt::toNameFilters(u"(*.dat)|*.dat|*(*.*)|*.*||"),
              u"(*.dat) (*.dat);;*(*.*) (*.*)");
    EXPECT_EQ(ui::qt::toNameFilters(u"Data|*.dat;*.bak||"), u"Data (*.dat *.bak)");
}

}  // namespace
