#pragma once
#include <cstdint>

#include "app/app_context.h"
#include "app/main_page.h"

namespace pages {

// Page 1 of the main window (template 131): the parameter list with its
// detail, editing and the bulk operations. For now a shell that places itself
// and reads nothing.
class ParameterPage : public app::MainPage {
  public:
    explicit ParameterPage(app::AppContext& context);

    // Poll thread: reads every parameter register; returns the drive access
    // result code.
    std::uint8_t readDriveValues();
    // User interface thread, every timer tick while shown.
    void refreshView();
    // Moves the page to the main window's page rectangle and places its controls.
    void layoutControls();

    std::uint8_t poll() override { return readDriveValues(); }
    void refreshPage() override { refreshView(); }
    void layoutPage() override { layoutControls(); }

  protected:
    bool onInitDialog() override;

  private:
    app::AppContext& context_;
};

}  // namespace pages
