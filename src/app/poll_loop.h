#pragma once
#include <chrono>
#include <cstdint>

#include "drive/result.h"

namespace app {

class MainWindow;
struct AppContext;

// What the poll thread last learned about the link, for the status line.
struct LinkReport {
    // The connection it belongs to; 0 = none yet. A report of an older
    // generation than the session's means that the new link has not been
    // probed yet.
    std::uint64_t generation = 0;
    drive::Result result;  // of the last probe or reopen
    // The port failed or went away; it is being opened again periodically.
    bool reopening = false;
    friend bool operator==(const LinkReport& a, const LinkReport& b) {
        return a.generation == b.generation && a.reopening == b.reopening &&
               a.result.error == b.result.error &&
               a.result.exceptionCode == b.result.exceptionCode &&
               a.result.detail == b.result.detail;
    }
};

// The body of the background poll thread. While no link is open it waits
// 100 ms at a time. While a fault is flagged (or right after a connect) it
// probes holding register 0 until the drive answers; when the port itself
// failed or went away (a USB adapter unplugged) it opens it again every
// kReopenPeriodMs with the same settings instead. Otherwise it polls the
// selected page and keeps the result as the session's fault code, and lets
// the status page watch the alarm while another page is shown. Each change
// of what it learned is handed to the window (MainWindow::publishLink); its
// pauses end early when the window asks it to stop.
class PollLoop {
  public:
    explicit PollLoop(MainWindow& window);

    // Runs until the window's stopRequested is set; returns 0. Poll thread.
    int run();

    // The pause after a pass without a link, and after any other pass but a
    // scope acquisition.
    static constexpr int kIdleSleepMs = 100;
    static constexpr int kPollSleepMs = 20;
    // Between two attempts to open a failed port again: often enough to
    // notice an adapter plugged back in soon, rarely enough to cost nothing.
    static constexpr int kReopenPeriodMs = 250;
    // Between two alarm watches while another page than the status page is shown.
    static constexpr int kWatchPeriodMs = 500;
    // Page index of the scope page, whose acquisition paces itself.
    static constexpr int kScopePage = 2;
    static constexpr int kStatusPage = 0;

  private:
    void publish(std::uint64_t generation, const drive::Result& result, bool reopening);

    MainWindow& window_;
    AppContext& context_;
    LinkReport published_;
    bool anyPublished_ = false;
};

}  // namespace app
