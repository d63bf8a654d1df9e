#pragma once
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/backend.h"
#include "ui/dialog.h"

// The desktop backend on Qt 6 Widgets. This header includes no Qt header, so
// that the program's start code needs none.
namespace ui::qt {

class QtBackend final : public Backend {
  public:
    // Creates the application object when there is none yet, installs the
    // backend and makes the calling thread the user interface thread.
    QtBackend();
    ~QtBackend() override;
    QtBackend(const QtBackend&) = delete;
    QtBackend& operator=(const QtBackend&) = delete;

    std::unique_ptr<WindowView> createView(Dialog& dialog) override;
    void runModalLoop(Dialog& dialog) override;
    int messageBox(std::u16string_view text, std::u16string_view caption,
                   MessageIcon icon) override;
    std::optional<std::u16string> fileDialog(const FileDialogRequest& request) override;
    bool askYesNo(std::u16string_view text, std::u16string_view caption) override;
    void post(std::function<void()> task) override;
    std::unique_ptr<DrawContext> createMemoryContext(Size size) override;
    Rect workArea() const override;
    Size measureText(const Control& c, std::u16string_view text) const override;
    ControlChrome chrome() const override;
    Size contentSize(const Control& c, int width,
                     std::optional<std::u16string_view> text = {}) const override;

    // Called inside every modal loop once its window is shown (tests, tools).
    void setModalHook(std::function<void(Dialog&)> hook);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// An RGB image read off a window or a file.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<Color> pixels;  // row by row
    Color at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};

// The window of a dialog as drawn now (a modal dialog's client area, or a page).
std::optional<Image> grabWindow(const Dialog& dialog);
// The same, written as a PNG file; the folders are created. False on failure.
bool saveWindowPng(const Dialog& dialog, const std::filesystem::path& path);
std::optional<Image> loadPng(const std::filesystem::path& path);

// True when the dialog font (with its fallbacks) has a glyph for every
// character of the text.
bool canRenderText(std::u16string_view text);

// An MFC filter string as a file dialog's name filters ("Text (*.a *.b);;...").
std::u16string toNameFilters(std::u16string_view mfcFilter);

// Presses the real button widget of a control, as a mouse click would.
bool clickWidget(Dialog& dialog, int controlId);
// Ticks or clears the check box of a list row as the user's click does.
bool toggleRowCheck(Dialog& dialog, int controlId, int row);
// Scrolls a list so that the row is its top row, as the user's scrolling does.
bool scrollListTo(Dialog& dialog, int controlId, int row);
// The first and the last row that a list shows, or nothing.
std::optional<std::pair<int, int>> shownRows(const Dialog& dialog, int controlId);
// Sends the key (Tab, Ctrl+Tab, ...) to the widget that has the keyboard focus.
bool sendKey(Dialog& dialog, Key key);
// Runs the event loop for up to ms milliseconds (0: what is pending now).
void processEvents(int ms = 0);

}  // namespace ui::qt
