#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/app_context.h"
#include "app/bus_monitor_window.h"
#include "app/main_page.h"
#include "app/page_tabs.h"
#include "app/poll_loop.h"
#include "drive/link_health.h"
#include "ui/dialog.h"

namespace app {

// Starts a thread running `body`. Throws std::system_error when no thread can
// be started, as the std::thread constructor does. Tests replace it.
using ThreadLauncher = std::function<std::thread(std::function<void()> body)>;

// The program's only top-level window (template 102), run modally by the start
// sequence: the tab control with the pages, the status line under it, the
// About entry of the system menu, the 100 ms timer that refreshes the selected
// page, and the poll thread. Closing stops the poll thread; while a job runs,
// or a poll is inside a slow transaction, the status line says what the
// window waits for and the window closes once that has ended: the user
// interface thread never blocks on it.
class MainWindow : public ui::Dialog {
  public:
    static constexpr int kTabControl = 1064;
    static constexpr int kStatusLine = 1093;
    static constexpr int kAboutCommand = 16;
    static constexpr int kBusMonitorCommand = 32;
    static constexpr int kRefreshTimer = 1;
    static constexpr int kRefreshPeriodMs = 100;
    // A note of an ended operation stays this long before the link's state
    // takes the status line back.
    static constexpr int kNoteTimer = 2;
    static constexpr int kNoteMs = 4000;
    // The status line's text colour while it shows an active alarm.
    static constexpr ui::Color kAlarmColor{200, 0, 0};
    // How long a close waits in place for the poll thread to end (it ends
    // at once unless a transaction is under way) before it shows that it
    // waits and lets the thread's end close the window.
    static constexpr int kCloseWaitMs = 100;
    // The range in which the minimum client size is looked for: a page that
    // does not fit even the larger one leaves that as the minimum.
    static constexpr ui::Size kSmallestSize{320, 240};
    static constexpr ui::Size kLargestMinimum{1000, 730};

    // Constructs the pages through the factory. An empty launcher starts a
    // std::thread.
    MainWindow(AppContext& context, const PageFactory& pages, ThreadLauncher launcher = {});
    ~MainWindow() override;

    AppContext& context() { return context_; }
    const PageTabs& tabs() const { return tabs_; }
    // The page of a tab, by tab index (0 status, 1 parameters, 2 scope), or
    // nullptr.
    MainPage* page(int index) const;

    // Read by the poll thread. The selected tab is a hint (a poll of the tab
    // just left is harmless), so relaxed suffices.
    int visiblePage() const { return visiblePage_.load(std::memory_order_relaxed); }
    bool stopRequested() const { return stopRequested_.load(std::memory_order_acquire); }
    // Poll thread: waits `duration`, or less when the window asks the thread
    // to stop; returns stopRequested.
    bool waitUnlessStopped(std::chrono::milliseconds duration);
    // True from a close until the window ends (it may wait for a job or a
    // poll in a transaction).
    bool closePending() const { return closePending_; }
    bool initialised() const { return initialised_; }
    // True while a poll thread has been started and not yet joined.
    bool pollThreadRunning() const { return pollThread_.joinable(); }

    // User interface thread: the status line shows the text; an unchanged text
    // is not set again, so that it does not repaint.
    void setStatusText(std::u16string_view text);
    // User interface thread: the status line from what is known now, in this
    // order: a close that waits, a note of an ended operation (for kNoteMs),
    // no link, a link not yet probed, a link fault with its cause, an active
    // alarm (in kAlarmColor), the link OK.
    void updateStatusLine();
    // User interface thread: shows the note on the status line for kNoteMs.
    void showNote(std::u16string note);
    // Any thread (the poll thread): what it learned about the link; the
    // status line follows on the user interface thread.
    void publishLink(LinkReport report);
    LinkReport linkReport() const;
    // Any thread: setStatusText on the user interface thread later (dropped
    // when the window has gone by then).
    void postStatusText(std::u16string text);
    // User interface thread: the link's health in a few words for the status
    // line ("148/s 6.9 ms (p99 7.4) 0 errors"), as of the last refresh;
    // empty before the link's first attempt or without a transaction log.
    std::u16string linkHealthReadout() const;
    // User interface thread: opens the bus monitor beside the window, or
    // brings the open one to the front (also Ctrl+M on every page and the
    // system menu). Nothing without a transaction log.
    void openBusMonitor();
    // The bus monitor while it is open, else nullptr.
    BusMonitorWindow* busMonitor() const;
    // Poll thread: polls the page of the tab at `index`; nothing when there is
    // no such page.
    std::optional<std::uint8_t> pollPage(int index);
    // Poll thread: the watch of the page at `index` (MainPage::watch).
    std::optional<std::uint8_t> watchPage(int index);

  protected:
    bool onInitDialog() override;
    void onSelectionChange(int id) override;
    void onTabClick(int id, int index) override;
    void onTimer(int id) override;
    void onSize(ui::SizeState state, int width, int height) override;
    void onPaint(ui::DrawContext& dc) override;
    void onSystemCommand(int command) override;
    void onDestroy() override;
    void onClose() override;
    void onCancel() override;
    ui::KeyAction preTranslateKey(ui::Key key) override;

  private:
    void layout();
    void layoutFor(ui::Size client);
    void layoutPages();
    void fitMinimumSize();
    void buildPages();
    void startPollThread();
    void requestStop();
    void stopPollThread();
    void pollThreadEnded();
    // Ends the window once a close waits for nothing any more.
    void closeWhenIdle();

    AppContext& context_;
    PageSet pageSet_;
    PageTabs tabs_;
    // The pages of the tabs, in tab order; fixed before the poll thread starts.
    std::vector<MainPage*> tabPages_;
    std::atomic<std::int32_t> visiblePage_{0};
    // Set with release under stopMutex_, so that a waiting poll thread
    // cannot miss it between its check and its wait.
    std::atomic<bool> stopRequested_{false};
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    // Under stopMutex_: the poll thread has left its loop (true while none runs).
    bool pollDone_ = true;
    // User interface thread: a close asked for, waiting for a job or a poll.
    bool closePending_ = false;
    bool pollEnded_ = true;
    bool initialised_ = false;
    // The poll thread's last link report, under linkMutex_.
    mutable std::mutex linkMutex_;
    LinkReport link_;
    // User interface thread: the note on show (empty when none).
    std::u16string note_;
    ThreadLauncher launcher_;
    // From the context's transaction log, refreshed with the page.
    std::unique_ptr<drive::LinkHealth> linkHealth_;
    // The times the bus monitor shows count from the window's start.
    std::uint64_t startMicros_ = 0;
    // Made on first open and kept: closed, it holds no rows.
    std::unique_ptr<BusMonitorWindow> busMonitor_;
    std::thread pollThread_;
};

}  // namespace app
