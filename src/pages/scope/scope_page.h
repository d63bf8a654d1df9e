#pragma once
#include <cstdint>

#include "app/app_context.h"
#include "app/main_page.h"

namespace pages {

// Page 2 of the main window (template 130): the oscilloscope. It has a tab only
// when the language file names it (UI 3). For now a shell that places itself
// and samples nothing.
class ScopePage : public app::MainPage {
  public:
    explicit ScopePage(app::AppContext& context);

    // Poll thread, called back to back: one acquisition cycle, paced by the
    // sample period; returns the drive access result code.
    std::uint8_t acquire();
    // User interface thread, every timer tick while shown.
    void refresh();
    // Moves the page to the main window's page rectangle and places its controls.
    void layout();

    std::uint8_t poll() override { return acquire(); }
    void refreshPage() override { refresh(); }
    void layoutPage() override { layout(); }

  protected:
    bool onInitDialog() override;

  private:
    app::AppContext& context_;
};

}  // namespace pages
