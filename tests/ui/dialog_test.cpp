#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "recorder.h"
#include "ui/headless.h"

namespace {

using ui_test::Recorder;

// The language choice as the start sequence runs it: buttons set the choice
// and end the dialog as confirmed; any other way out leaves it unchanged.
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

class Modal : public ::testing::Test {
  protected:
    ui::HeadlessBackend backend;
};

TEST_F(Modal, ScriptClicksAButton) {
    LanguageChoice d;
    backend.queueModalScript(136, [](ui::Dialog& dlg) {
        EXPECT_EQ(dlg.caption(), u"语种选择(Language selection)");
        EXPECT_TRUE(dlg.userClick(1100));
    });
    EXPECT_EQ(d.runModal(), ui::kIdOk);
    EXPECT_EQ(d.choice, 1);
    EXPECT_FALSE(d.exists());
    EXPECT_EQ(backend.modalRuns(), std::vector<int>{136});
}

TEST_F(Modal, EscapeCancelsWithTheChoiceUnchanged) {
    LanguageChoice d;
    backend.queueModalScript(136, [](ui::Dialog& dlg) {
        // The hidden, disabled third button cannot be pressed.
        EXPECT_FALSE(dlg.userClick(1101));
        EXPECT_FALSE(dlg.userKey(ui::Key::Escape));
    });
    EXPECT_EQ(d.runModal(), ui::kIdCancel);
    EXPECT_EQ(d.choice, 0);
}

TEST_F(Modal, EnterPressesTheFocusedButton) {
    LanguageChoice d;
    backend.queueModalScript(136, [](ui::Dialog& dlg) {
        ASSERT_NE(dlg.focus(), nullptr);
        EXPECT_EQ(dlg.focus()->id(), 1099);
        dlg.setFocus(1100);
        dlg.userKey(ui::Key::Enter);
    });
    EXPECT_EQ(d.runModal(), ui::kIdOk);
    EXPECT_EQ(d.choice, 1);
}

TEST_F(Modal, WithoutAScriptTheCloseBoxEndsTheDialog) {
    LanguageChoice d;
    EXPECT_EQ(d.runModal(), ui::kIdCancel);
    EXPECT_EQ(d.choice, 0);
}

TEST_F(Modal, EnterWithTheFocusInAnEditTriggersTheHiddenDefaultButton) {
    Recorder range(132);
    backend.queueModalScript(132, [&](ui::Dialog& dlg) {
        dlg.setFocus(1035);
        dlg.userKey(ui::Key::Enter);
    });
    EXPECT_EQ(range.runModal(), ui::kIdOk);
    EXPECT_TRUE(range.has("command 1"));
    // With the focus on a visible push button, Enter presses that button.
    Recorder again(132);
    backend.queueModalScript(132, [&](ui::Dialog& dlg) {
        dlg.setFocus(1067);
        dlg.userKey(ui::Key::Enter);
        dlg.userClose();
    });
    EXPECT_EQ(again.runModal(), ui::kIdCancel);
    EXPECT_TRUE(again.has("command 1067"));
    EXPECT_FALSE(again.has("command 1"));
}

TEST_F(Modal, PreTranslateSwallowsOrDeliversBeforeTheDialogSeesTheKey) {
    Recorder main(102);
    Recorder page(131);
    main.keyAction = ui::KeyAction::Swallow;
    page.keyAction = ui::KeyAction::Deliver;
    backend.queueModalScript(102, [&](ui::Dialog&) {
        ASSERT_TRUE(page.create(main, 1064));
        page.show(true);
        // Focus in the main window: it swallows both keys, nothing closes.
        EXPECT_FALSE(main.userKey(ui::Key::Escape));
        EXPECT_FALSE(main.userKey(ui::Key::Enter));
        EXPECT_FALSE(main.modalEnded());
        EXPECT_FALSE(page.has("key escape"));
        // Focus on the page: the page decides first, and hands the key on.
        page.setFocus(1012);
        EXPECT_TRUE(main.userKey(ui::Key::Enter));
        EXPECT_TRUE(page.has("key enter"));
        EXPECT_FALSE(main.modalEnded());
        // A page that lets keys pass leaves them to its parent's rule...
        page.keyAction = ui::KeyAction::Default;
        main.log.clear();
        EXPECT_FALSE(main.userKey(ui::Key::Escape));
        EXPECT_EQ(main.log, std::vector<std::string>{"key escape"});
        // ...except Enter on its own focused button, which it presses itself.
        page.setFocus(1057);
        main.log.clear();
        EXPECT_FALSE(main.userKey(ui::Key::Enter));
        EXPECT_EQ(page.log.back(), "command 1057");
        EXPECT_TRUE(main.log.empty());
        EXPECT_FALSE(main.modalEnded());
        // The close box still closes.
        main.userClose();
        EXPECT_TRUE(main.modalEnded());
    });
    EXPECT_EQ(main.runModal(), ui::kIdCancel);
}

TEST_F(Modal, NestedModalCentresOverItsOwnerAndSystemMenuCommands) {
    Recorder main(102);
    Recorder about(100);
    main.onInit = [](Recorder& d) {
        d.appendSystemMenuItem(0, u"");
        d.appendSystemMenuItem(16, resources::loadString(resources::kAboutMenuText));
        d.move(ui::Rect::fromXywh(0, 0, 1000, 730));
        d.centerWindow();
    };
    backend.queueModalScript(102, [&](ui::Dialog& d) {
        ASSERT_EQ(d.systemMenu().size(), 2u);
        EXPECT_EQ(d.systemMenu()[0].command, 0);
        EXPECT_EQ(d.systemMenu()[1].text, u"关于 软件(&A)...");
        EXPECT_EQ(d.windowRect(), ui::Rect::fromXywh(460, 175, 1000, 730));
        d.userSystemCommand(16);
        EXPECT_TRUE(main.has("syscommand 16"));
        EXPECT_FALSE(main.modalEnded());
        EXPECT_EQ(about.runModal(), ui::kIdOk);
        d.userSystemCommand(ui::kSystemClose);
    });
    backend.queueModalScript(100, [&](ui::Dialog& d) {
        const ui::Rect r = d.windowRect();
        EXPECT_NEAR(r.left + r.width() / 2.0, 460 + 500, 1.0);
        EXPECT_NEAR(r.top + r.height() / 2.0, 175 + 365, 1.0);
        d.userKey(ui::Key::Enter);  // the default button "确定"
    });
    EXPECT_EQ(main.runModal(), ui::kIdCancel);
    EXPECT_EQ(backend.modalRuns(), (std::vector<int>{102, 100}));
    EXPECT_TRUE(about.has("command 1"));
}

TEST_F(Modal, ResizeReachesOnSizeWithItsState) {
    Recorder main(102);
    backend.queueModalScript(102, [&](ui::Dialog& d) {
        main.log.clear();
        d.move(ui::Rect::fromXywh(0, 0, 1000, 730));
        d.move(ui::Rect::fromXywh(10, 10, 1000, 730));  // same size: no resize
        d.userResize(ui::SizeState::Minimized, {1000, 730});
        EXPECT_TRUE(d.isMinimized());
        d.userResize(ui::SizeState::Restored, {1000, 730});
        d.userResize(ui::SizeState::Restored, {800, 600});
        EXPECT_EQ(d.clientRect(), (ui::Rect{0, 0, 800, 600}));
    });
    main.runModal();
    EXPECT_EQ(main.log,
              (std::vector<std::string>{"size 0 1000x730", "size 1 0x0", "size 0 1000x730",
                                        "size 0 800x600", "command 2", "destroy 102"}));
}

TEST_F(Modal, PagesLiveInTheirHostAndGoAfterTheirParent) {
    Recorder main(102);
    Recorder status(135);
    Recorder params(131);
    backend.queueModalScript(102, [&](ui::Dialog&) {
        ASSERT_TRUE(status.create(main, 1064));
        ASSERT_TRUE(params.create(main, 1064));
        EXPECT_EQ(main.children().size(), 2u);
        EXPECT_EQ(&status.root(), &main);
        const ui::Rect item = main.control(1064).itemRect(0);
        status.move(ui::Rect::fromXywh(item.left, item.bottom + 1, 400, 300));
        status.show(true);
        EXPECT_TRUE(status.has("size 0 400x300"));
        const ui::Point origin = status.control(1068).screenOrigin();
        const ui::Point expected =
            main.windowRect().topLeft() + main.control(1064).rect().topLeft() +
            ui::Point{item.left, item.bottom + 1} + status.control(1068).rect().topLeft();
        EXPECT_EQ(origin, expected);
        backend.setCursorScreenPosition(origin + ui::Point{7, 9});
        EXPECT_EQ(status.cursorPosition(1068), (ui::Point{7, 9}));
        params.destroy();
        EXPECT_EQ(main.children().size(), 1u);
        EXPECT_TRUE(params.has("destroy 131"));
    });
    main.runModal();
    // The parent's destroy handler runs before its children's.
    EXPECT_EQ(main.log.back(), "destroy 102");
    EXPECT_EQ(status.log.back(), "destroy 135");
    EXPECT_FALSE(status.exists());
}

TEST_F(Modal, AModelessWindowHostsPagesWithoutALoop) {
    Recorder main(102);
    Recorder page(131);
    ASSERT_TRUE(main.createModeless());
    EXPECT_TRUE(main.isTopLevel());
    EXPECT_FALSE(main.isModal());
    EXPECT_TRUE(main.isVisible());
    ASSERT_TRUE(page.create(main, 1064));
    main.setTimer(1, 100);
    backend.advance(100);
    EXPECT_TRUE(main.has("timer 1"));
    // Escape reaches Cancel, which does not end a modeless window.
    main.userKey(ui::Key::Escape);
    EXPECT_TRUE(main.has("command 2"));
    EXPECT_TRUE(main.exists());
    EXPECT_TRUE(backend.modalRuns().empty());
    main.destroy();
    EXPECT_FALSE(page.exists());
    EXPECT_TRUE(page.has("destroy 131"));
    EXPECT_EQ(backend.timerCount(), 0u);
}

TEST_F(Modal, TimersTickOnTheBackendClockUntilKilledOrDestroyed) {
    Recorder main(102);
    Recorder page(130);
    main.onInit = [](Recorder& d) { d.setTimer(1, 100); };
    backend.queueModalScript(102, [&](ui::Dialog&) {
        ASSERT_TRUE(page.create(main, 1064));
        page.setTimer(7, 250);
        EXPECT_EQ(backend.timerPeriod(main, 1), 100);
        main.log.clear();
        page.log.clear();
        backend.advance(99);
        EXPECT_TRUE(main.log.empty());
        backend.advance(1);
        EXPECT_EQ(main.log, std::vector<std::string>{"timer 1"});
        backend.advance(400);
        EXPECT_EQ(main.log.size(), 5u);
        EXPECT_EQ(page.log, (std::vector<std::string>{"timer 7", "timer 7"}));
        main.killTimer(1);
        backend.advance(1000);
        EXPECT_EQ(main.log.size(), 5u);
        EXPECT_EQ(page.log.size(), 6u);
        // Setting the id again restarts it with the new period.
        page.setTimer(7, 40);
        EXPECT_EQ(backend.timerPeriod(page, 7), 40);
        main.setTimer(2, 0);  // raised to the 10 ms minimum
        EXPECT_EQ(backend.timerPeriod(main, 2), 10);
    });
    main.runModal();
    EXPECT_EQ(backend.timerCount(), 0u);
}

TEST_F(Modal, PostFromAnotherThreadRunsOnTheUiThread) {
    Recorder main(102);
    std::atomic<int> ranOnUi{0};
    const std::thread::id ui = std::this_thread::get_id();
    backend.queueModalScript(102, [&](ui::Dialog&) {
        std::thread worker([&] {
            for (int i = 0; i < 3; ++i) {
                main.post([&] {
                    if (std::this_thread::get_id() == ui) ranOnUi.fetch_add(1);
                    main.setText(1093, u"通讯连接OK");
                });
            }
        });
        worker.join();
        EXPECT_EQ(ranOnUi.load(), 0);
        EXPECT_EQ(backend.pendingPosted(), 3u);
        EXPECT_EQ(backend.pumpPosted(), 3u);
        EXPECT_EQ(ranOnUi.load(), 3);
        EXPECT_EQ(main.text(1093), u"通讯连接OK");
        main.post([&] { ranOnUi.fetch_add(100); });
    });
    main.runModal();
    // Posted to a window that is gone: dropped.
    EXPECT_EQ(backend.pumpPosted(), 1u);
    EXPECT_EQ(ranOnUi.load(), 3);
    // ui::post itself keeps everything.
    bool plain = false;
    ui::post([&] { plain = true; });
    backend.pumpPosted();
    EXPECT_TRUE(plain);
}

TEST_F(Modal, ServicesRecordMessagesAndAnswerFileDialogsAsScripted) {
    ui::messageBox(u"通信未连接或通讯异常，请确认驱动器通信连接正常后再试！", u"Error",
                   ui::MessageIcon::Error);
    ui::messageBox(u"备份参数失败！", u"Error");
    ASSERT_EQ(backend.messages().size(), 2u);
    EXPECT_EQ(backend.messages()[0].icon, ui::MessageIcon::Error);
    EXPECT_EQ(backend.messages()[1].text, u"备份参数失败！");
    EXPECT_EQ(backend.messages()[1].icon, ui::MessageIcon::None);

    backend.queueFileAnswer(u"/tmp/backup.dat");
    backend.queueFileAnswer(std::nullopt);
    EXPECT_EQ(ui::saveFileDialog(u"(*.dat)|*.dat|*(*.*)|*.*||"), u"/tmp/backup.dat");
    EXPECT_EQ(ui::openFileDialog(u"(*.dat)|*.dat|*(*.*)|*.*||"), std::nullopt);
    EXPECT_EQ(ui::openFileDialog(u"(*.dat)|*.dat||"), std::nullopt);  // nothing queued: cancel
    ASSERT_EQ(backend.fileRequests().size(), 3u);
    EXPECT_TRUE(backend.fileRequests()[0].save);
    EXPECT_TRUE(backend.fileRequests()[0].confirmOverwrite);
    EXPECT_FALSE(backend.fileRequests()[1].save);
    EXPECT_EQ(backend.fileRequests()[1].filter, u"(*.dat)|*.dat|*(*.*)|*.*||");
}

// Unattended: no box reaches the backend (where a real one would wait for a
// click); each is answered OK and written to standard error, the error boxes
// counted. File dialogs are cancelled.
TEST_F(Modal, UnattendedRunsAnswerEveryBoxWithoutTheBackend) {
    const int errorsBefore = ui::unattendedErrorCount();
    ui::setUnattended(true);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ui::messageBox(u"语言文件无法使用：\n文件为空", u"错误", ui::MessageIcon::Error),
              ui::kIdOk);
    EXPECT_EQ(ui::messageBox(u"请键入一个数。", u"伺服管理软件", ui::MessageIcon::Exclamation),
              ui::kIdOk);
    backend.queueFileAnswer(u"/tmp/backup.dat");
    EXPECT_EQ(ui::saveFileDialog(u"(*.dat)|*.dat||"), std::nullopt);
    const std::string err = ::testing::internal::GetCapturedStderr();
    ui::setUnattended(false);

    EXPECT_TRUE(backend.messages().empty());
    EXPECT_TRUE(backend.fileRequests().empty());
    EXPECT_EQ(ui::unattendedErrorCount(), errorsBefore + 1);
    EXPECT_EQ(err,
              "error: 错误: 语言文件无法使用：\n  文件为空 (answered OK)\n"
              "warning: 伺服管理软件: 请键入一个数。 (answered OK)\n");
    ui::messageBox(u"shown", u"again");
    EXPECT_EQ(backend.messages().size(), 1u);
}

TEST(FileFilter, ParsesMfcFilterStrings) {
    const auto f = ui::parseFileFilter(u"(*.dat)|*.dat|*(*.*)|*.*||");
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].description, u"(*.dat)");
    EXPECT_EQ(f[0].patterns, std::vector<std::u16string>{u"*.dat"});
    EXPECT_EQ(f[1].description, u"*(*.*)");
    EXPECT_EQ(f[1].patterns, std::vector<std::u16string>{u"*.*"});
    const auto g = ui::parseFileFilter(u"Data|*.dat;*.bak|Broken||ignored|*.x");
    ASSERT_EQ(g.size(), 1u);
    EXPECT_EQ(g[0].patterns, (std::vector<std::u16string>{u"*.dat", u"*.bak"}));
    EXPECT_TRUE(ui::parseFileFilter(u"").empty());
    EXPECT_EQ(ui::parseFileFilter(u"Text|*.txt").size(), 1u);  // no terminator
}

TEST(ThreadAffinity, TouchingAControlOffTheUiThreadAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ui::HeadlessBackend backend;
            Recorder main(102);
            backend.queueModalScript(
                102, [&](ui::Dialog&) { std::thread([&] { main.setText(1093, u"x"); }).join(); });
            main.runModal();
        },
        "off the user interface thread");
}

TEST(ThreadAffinity, AReplacementHandlerSeesEveryOffThreadCall) {
    ui::HeadlessBackend backend;
    std::vector<std::string> errors;
    std::mutex m;
    auto previous = ui::setViolationHandler([&](std::string_view msg) {
        std::lock_guard lock(m);
        errors.emplace_back(msg);
    });
    Recorder main(102);
    backend.queueModalScript(102, [&](ui::Dialog&) {
        std::thread([&] {
            (void)main.control(1093).text();
            ui::messageBox(u"x", u"y");
            backend.pumpPosted();
            main.post([] {});  // allowed from any thread
        }).join();
        backend.pumpPosted();
    });
    main.runModal();
    ui::setViolationHandler(previous);
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_NE(errors[0].find("Control::text"), std::string::npos);
    EXPECT_NE(errors[1].find("messageBox"), std::string::npos);
    EXPECT_NE(errors[2].find("pumpPosted"), std::string::npos);
}

}  // namespace
