#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace app {

class MainWindow;
struct AppContext;

// The body of the background poll thread. While no link is open it shows
// "通讯未连接" (UI 66) every 100 ms; while a fault is flagged (or right after
// a connect) it probes holding register 0 until the drive answers, showing
// "网络通讯异常" (UI 65) or "通讯连接OK" (UI 64); otherwise it polls the
// selected page and keeps the result as the session's fault code. Its pauses
// end early when the window asks it to stop.
class PollLoop {
  public:
    explicit PollLoop(MainWindow& window);

    // Runs until the window's stopRequested is set; returns 0. Poll thread.
    int run();

    // The pause after a pass without a link, and after any other pass but a
    // scope acquisition.
    static constexpr int kIdleSleepMs = 100;
    static constexpr int kPollSleepMs = 20;
    // Page index of the scope page, whose acquisition paces itself.
    static constexpr int kScopePage = 2;

  private:
    // The status line shows the UI text (or its default); only a change is
    // handed to the user interface thread.
    void showStatus(std::size_t entry, std::u16string_view fallback);

    MainWindow& window_;
    AppContext& context_;
    std::u16string shown_;
    bool anyShown_ = false;
};

}  // namespace app
