#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "app/app_context.h"
#include "ui/dialog.h"

namespace app {

// A page of the main window's tab control. The main window creates the page's
// window from its template inside the tab control, shows and hides it, and
// calls the three operations below.
class MainPage : public ui::Dialog {
  public:
    using ui::Dialog::Dialog;

    // Poll thread, while this page is the selected tab, the link is connected
    // and no fault is flagged: one round of drive reads. Returns the drive
    // access result code (0 = success), which becomes the session's fault code.
    // Runs off the user interface thread: it must not touch controls and must
    // never wait for the user interface thread (the window waits for the poll
    // thread when it closes). The loop pauses 20 ms after each poll of every
    // page but the scope page, whose acquisition paces itself.
    virtual std::uint8_t poll() = 0;

    // Poll thread, every PollLoop::kWatchPeriodMs while another page is the
    // selected tab and the link is healthy: the reads that matter on every
    // page (the status page reads the alarm). Same rules and result as poll().
    virtual std::uint8_t watch() { return 0; }

    // User interface thread, at every tick of the main window's timer whatever
    // tab is selected: the text of an active alarm for the status line, or
    // empty. The page may take in what its watch read here.
    virtual std::u16string statusAlarm() { return {}; }

    // User interface thread, at every tick of the main window's 100 ms timer
    // while this page is the selected tab: show what the polls left.
    virtual void refreshPage() = 0;

    // User interface thread, whenever the main window is resized (never while
    // it is minimised): move to AppContext::pageRect and place the controls.
    virtual void layoutPage() = 0;
};

// The three pages, constructed with the main window. A page left empty gets
// no tab; the scope page gets one only when the language file names it (UI 3).
struct PageSet {
    std::unique_ptr<MainPage> status;
    std::unique_ptr<MainPage> parameters;
    std::unique_ptr<MainPage> scope;
};

// Supplied by the executable, which knows the page types. Called once, on the
// user interface thread, before the main window's window exists.
using PageFactory = std::function<PageSet(AppContext&)>;

}  // namespace app
