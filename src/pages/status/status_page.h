#pragma once
#include <cstdint>

#include "app/app_context.h"
#include "app/main_page.h"

namespace pages {

// Page 0 of the main window (template 135): connection settings, connect and
// disconnect, drive status, alarm and I/O. For now a shell that places itself
// and reads nothing.
class StatusPage : public app::MainPage {
  public:
    explicit StatusPage(app::AppContext& context);

    // Poll thread: reads the status items, the alarm and the I/O; returns the
    // drive access result code.
    std::uint8_t pollStatus();
    // User interface thread, every timer tick while shown.
    void refreshStatus();
    // Moves the page to the main window's page rectangle and places its controls.
    void layout();

    std::uint8_t poll() override { return pollStatus(); }
    void refreshPage() override { refreshStatus(); }
    void layoutPage() override { layout(); }

  protected:
    bool onInitDialog() override;

  private:
    app::AppContext& context_;
};

}  // namespace pages
