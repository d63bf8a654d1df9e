// The main window on the headless backend: layout, tabs, timer, resize, keys,
// system menu, and the page tabs on their own.
#include <gtest/gtest.h>

#include "app/page_tabs.h"
#include "app_fixture.h"
#include "modbus/transaction_log.h"
#include "platform/clock.h"

namespace {

using namespace apptest;
using app::MainWindow;

const std::u16string kWithScope = uiTextsFile({{3, u"【示波器】"}});

ui::Rect expectedPageRect(const ui::Dialog& window) {
    const ui::Control& tabs = window.control(MainWindow::kTabControl);
    const ui::Rect item = tabs.itemRect(0);
    return {item.left, item.bottom + 1, tabs.clientRect().right - 3, tabs.clientRect().bottom - 1};
}

TEST(MainWindow, InitialisationLaysOutTheTabsTheStatusLineAndThePages) {
    Shell shell(kWithScope);
    shell.run([&](MainWindow& w) {
        EXPECT_TRUE(w.initialised());
        EXPECT_EQ(w.clientRect().size(), (ui::Size{1000, 730}));
        EXPECT_EQ(w.control(MainWindow::kTabControl).rect(), ui::Rect::fromXywh(5, 5, 990, 704));
        EXPECT_EQ(w.control(MainWindow::kStatusLine).rect(), ui::Rect::fromXywh(5, 710, 990, 18));
        EXPECT_EQ(w.icon(), 128);

        const ui::Rect pageRect = expectedPageRect(w);
        EXPECT_GT(pageRect.top, 10) << "below the tab items";
        EXPECT_EQ(shell.context.pageRect, pageRect);
        const ui::Rect item = w.control(MainWindow::kTabControl).itemRect(0);
        const ui::Rect placed{item.left, item.bottom + 1, 990 - 2, 704 - 2};
        for (int i = 0; i < 3; ++i) {
            CountingPage& p = *shell.pages.at(i);
            EXPECT_TRUE(p.exists());
            EXPECT_EQ(w.page(i), &p);
            // The tab items were in place when the page laid itself out.
            EXPECT_EQ(p.rectAtCreation, pageRect) << "page " << i;
            EXPECT_EQ(p.windowRect(), placed) << "page " << i;
            EXPECT_EQ(p.isVisible(), i == 0) << "page " << i;
        }
        EXPECT_EQ(w.visiblePage(), 0);
        EXPECT_EQ(w.control(MainWindow::kTabControl).selection(), 0);
        EXPECT_EQ(shell.backend.timerPeriod(w, MainWindow::kRefreshTimer), 100);
    });
}

TEST(MainWindow, TheSelectedTabIsShownRefreshedAndPolled) {
    Shell shell(kWithScope);
    shell.run([&](MainWindow& w) {
        CountingPage& status = *shell.pages.status;
        CountingPage& parameters = *shell.pages.parameters;
        CountingPage& scope = *shell.pages.scope;
        shell.backend.advance(200);
        EXPECT_EQ(status.refreshes, 2);

        ASSERT_TRUE(w.userClickTab(MainWindow::kTabControl, 2));
        EXPECT_EQ(w.visiblePage(), 2);
        EXPECT_TRUE(scope.isVisible());
        EXPECT_FALSE(status.isVisible());
        shell.backend.advance(300);
        EXPECT_EQ(scope.refreshes, 3);
        EXPECT_EQ(status.refreshes, 2);
        EXPECT_EQ(parameters.refreshes, 0);

        // A selection with the keyboard shows its page too.
        ASSERT_TRUE(w.userSelectTab(MainWindow::kTabControl, 1));
        EXPECT_EQ(w.visiblePage(), 1);
        EXPECT_TRUE(parameters.isVisible());
        EXPECT_FALSE(scope.isVisible());
        shell.backend.advance(100);
        EXPECT_EQ(parameters.refreshes, 1);
        EXPECT_EQ(w.tabs().current(), 1);
    });
}

TEST(MainWindow, LinkHealthReadoutFollowsTheTransactionLog) {
    Shell shell;
    modbus::TransactionLog log;
    shell.context.transactions = &log;
    shell.run([&](MainWindow& w) {
        EXPECT_EQ(w.linkHealthReadout(), u"");
        modbus::TransactionRecord r;
        r.link = 1;
        r.timeMicros = platform::monotonicMicros();
        r.roundTripMicros = 7'000;
        r.outcome = modbus::Outcome::noAnswer;
        r.counts.attempts = 1;
        log.onTransaction(r);
        // Taken in with the page refresh, not before.
        EXPECT_EQ(w.linkHealthReadout(), u"");
        shell.backend.advance(100);
        const std::u16string readout = w.linkHealthReadout();
        EXPECT_NE(readout.find(u"1 error"), std::u16string::npos);
        EXPECT_EQ(readout.rfind(u"1/s", 0), 0u);
    });
}

TEST(MainWindow, ResizeLaysOutEveryPageButNotWhileMinimised) {
    Shell withScope(kWithScope);
    withScope.run([&](MainWindow& w) {
        const PageRefs& p = withScope.pages;
        const int before = p.status->layouts;
        w.userResize(ui::SizeState::Minimized, {1000, 730});
        EXPECT_EQ(p.status->layouts, before);
        EXPECT_EQ(p.parameters->layouts, before);
        w.userResize(ui::SizeState::Restored, {1000, 730});
        EXPECT_EQ(p.status->layouts, before + 1);
        EXPECT_EQ(p.scope->layouts, before + 1);

        w.userResize(ui::SizeState::Maximized, {800, 600});
        EXPECT_EQ(w.control(MainWindow::kTabControl).rect(), ui::Rect::fromXywh(5, 5, 790, 574));
        EXPECT_EQ(w.control(MainWindow::kStatusLine).rect(), ui::Rect::fromXywh(5, 580, 790, 18));
        EXPECT_EQ(withScope.context.pageRect, expectedPageRect(w));
        EXPECT_EQ(withScope.context.pageRect.right, 790 - 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(p.at(i)->layouts, before + 2) << "page " << i;
            EXPECT_EQ(p.at(i)->windowRect(), withScope.context.pageRect) << "page " << i;
        }
    });

    // Without a scope tab the scope page is never laid out.
    Shell plain;
    plain.run([&](MainWindow& w) {
        w.userResize(ui::SizeState::Restored, {900, 700});
        EXPECT_GT(plain.pages.status->layouts, 1);
        EXPECT_EQ(plain.pages.scope->layouts, 0);
        EXPECT_FALSE(plain.pages.scope->exists());
        EXPECT_EQ(w.page(2), nullptr);
    });
}

TEST(MainWindow, EnterAndEscapeDoNotCloseIt) {
    Shell shell;
    shell.run([&](MainWindow& w) {
        EXPECT_FALSE(w.userKey(ui::Key::Escape));
        EXPECT_FALSE(w.userKey(ui::Key::Enter));
        EXPECT_FALSE(w.modalEnded());
        // With the focus on a page's control as well.
        ASSERT_TRUE(shell.pages.status->userFocus(1037));
        w.userKey(ui::Key::Escape);
        w.userKey(ui::Key::Enter);
        EXPECT_FALSE(w.modalEnded());
        w.userClose();
        EXPECT_TRUE(w.modalEnded());
    });
}

TEST(MainWindow, SystemMenuOpensTheAboutBox) {
    Shell shell;
    int aboutRuns = 0;
    shell.backend.queueModalScript(100, [&](ui::Dialog& d) {
        ++aboutRuns;
        EXPECT_EQ(d.caption(), u"关于软件");
        d.userKey(ui::Key::Enter);
        EXPECT_TRUE(d.modalEnded());
    });
    shell.backend.queueModalScript(100, [&](ui::Dialog&) { ++aboutRuns; });
    shell.run([&](MainWindow& w) {
        ASSERT_EQ(w.systemMenu().size(), 2u);
        EXPECT_EQ(w.systemMenu()[0].command, 0);
        EXPECT_EQ(w.systemMenu()[1].command, 16);
        EXPECT_EQ(w.systemMenu()[1].text, u"关于 软件(&A)...");
        w.userSystemCommand(16);
        EXPECT_EQ(aboutRuns, 1);
        w.userSystemCommand(16 | 0x3);  // the low four bits do not count
        EXPECT_EQ(aboutRuns, 2);
        w.userSystemCommand(32);
        EXPECT_EQ(aboutRuns, 2);
        EXPECT_FALSE(w.modalEnded());
        w.userSystemCommand(ui::kSystemClose);
        EXPECT_TRUE(w.modalEnded());
    });
    EXPECT_EQ(shell.backend.modalRuns(), (std::vector<int>{102, 100, 100}));
}

TEST(MainWindow, MinimisedItDrawsItsIconCentred) {
    Shell shell;
    shell.run([&](MainWindow& w) {
        const auto iconOps = [&] {
            std::vector<ui::Point> at;
            const auto surface = shell.backend.paint(w);
            for (const auto& op : surface->ops)
                if (op.kind == ui::RecordingContext::Op::Kind::Icon) at.push_back(op.point);
            return at;
        };
        EXPECT_TRUE(iconOps().empty());
        w.userResize(ui::SizeState::Minimized, {1000, 730});
        EXPECT_EQ(iconOps(), (std::vector<ui::Point>{{(1000 - 32 + 1) / 2, (730 - 32 + 1) / 2}}));
    });
}

TEST(PageTabs, SixteenPagesAtMostAndSelectionByIndex) {
    ui::HeadlessBackend backend;
    ui::Dialog host(102);
    std::vector<std::unique_ptr<ui::Dialog>> pages;
    for (int i = 0; i < 17; ++i) pages.push_back(std::make_unique<ui::Dialog>(135));
    backend.queueModalScript(102, [&](ui::Dialog&) {
        app::PageTabs tabs(host, 1064);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(tabs.addPage(u"P", *pages[i], 135), 1);
        EXPECT_EQ(tabs.addPage(u"P", *pages[16], 135), 0);
        EXPECT_EQ(tabs.count(), 16);
        bool called = false;
        tabs.createPages([&] {
            called = true;
            EXPECT_EQ(host.control(1064).itemCount(), 16) << "items before the pages";
            EXPECT_FALSE(pages[0]->exists());
        });
        EXPECT_TRUE(called);
        EXPECT_TRUE(pages[15]->exists());
        EXPECT_FALSE(pages[16]->exists());
        EXPECT_TRUE(pages[0]->isVisible());

        EXPECT_EQ(tabs.selectPage(3), 0);
        EXPECT_EQ(tabs.selectPage(3), 3);
        EXPECT_EQ(tabs.selectPage(16), -1);
        EXPECT_EQ(tabs.selectPage(-1), -1);
        EXPECT_EQ(host.control(1064).selection(), 3);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(pages[i]->isVisible(), i == 3) << i;

        // A mouse press: the control's selection moved first.
        host.control(1064).setSelection(5);
        tabs.tabClicked();
        EXPECT_EQ(tabs.current(), 5);
        EXPECT_TRUE(pages[5]->isVisible());
        EXPECT_FALSE(pages[3]->isVisible());
        host.userClose();
    });
    host.runModal();
}

}  // namespace

namespace {

TEST(MainWindowStatusLine, ANoteStaysItsTimeAndAnActiveAlarmShowsInRed) {
    Shell shell(uiTextsFile({{64, u"Link OK"}}));
    ASSERT_TRUE(shell.program.connectIdleLine().ok());  // healthy
    shell.run([&](MainWindow& w) {
        const ui::Control& line = w.control(MainWindow::kStatusLine);
        EXPECT_EQ(shell.statusLine(), u"Link OK");

        shell.pages.status->alarm = u"Alarm 11: overcurrent";
        shell.backend.advance(100);
        EXPECT_EQ(shell.statusLine(), u"Alarm 11: overcurrent");
        EXPECT_EQ(line.textColor(), MainWindow::kAlarmColor);
        // Whatever page is shown.
        ASSERT_TRUE(w.userClickTab(MainWindow::kTabControl, 1));
        shell.backend.advance(100);
        EXPECT_EQ(shell.statusLine(), u"Alarm 11: overcurrent");

        // A note of an ended operation holds the line for its time.
        shell.context.showNote(u"P00.07 = 40 written");
        EXPECT_EQ(shell.statusLine(), u"P00.07 = 40 written");
        EXPECT_EQ(line.textColor(), std::nullopt);
        shell.backend.advance(MainWindow::kNoteMs - 100);
        EXPECT_EQ(shell.statusLine(), u"P00.07 = 40 written");
        shell.backend.advance(200);
        EXPECT_EQ(shell.statusLine(), u"Alarm 11: overcurrent");

        shell.pages.status->alarm.clear();
        shell.backend.advance(100);
        EXPECT_EQ(shell.statusLine(), u"Link OK");
        EXPECT_EQ(line.textColor(), std::nullopt);
    });
}

}  // namespace
