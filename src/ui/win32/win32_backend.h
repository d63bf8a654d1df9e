#pragma once
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/backend.h"
#include "ui/dialog.h"

// The Windows backend on Win32 windows, common controls and GDI. This header
// includes no Windows header, so that the program's start code needs none;
// window handles appear as void*.
namespace ui::win32 {

class Win32Backend final : public Backend {
  public:
    // Registers the window classes, loads the common controls, chooses the
    // dialog font, installs the backend and makes the calling thread the user
    // interface thread.
    Win32Backend();
    ~Win32Backend() override;
    Win32Backend(const Win32Backend&) = delete;
    Win32Backend& operator=(const Win32Backend&) = delete;

    std::unique_ptr<WindowView> createView(Dialog& dialog) override;
    void runModalLoop(Dialog& dialog) override;
    int messageBox(std::u16string_view text, std::u16string_view caption,
                   MessageIcon icon) override;
    std::optional<std::u16string> fileDialog(const FileDialogRequest& request) override;
    bool askYesNo(std::u16string_view text, std::u16string_view caption) override;
    void post(std::function<void()> task) override;
    std::unique_ptr<DrawContext> createMemoryContext(Size size) override;
    Rect workArea() const override;
    DialogUnits dialogUnits(const resources::DialogTemplate& t) const override;

    // The dialog font for windows created from now on: a CJK-capable face
    // for Chinese texts, the system's dialog font otherwise.
    void setChineseText(bool chinese);
    bool chineseText() const;
    // The face name of the dialog font in use.
    std::u16string dialogFontFace() const;

    // Called inside every modal loop once its window is shown (tests, tools).
    void setModalHook(std::function<void(Dialog&)> hook);
    // Called on the user interface thread with the window handle of each
    // system dialog (a message box, a file dialog) once it is active: tests
    // answer them through it.
    void setSystemDialogHook(std::function<void(void* window)> hook);

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

// The client area of a dialog's window as it is on the screen now, after
// every pending paint (a modal dialog, or a page).
std::optional<Image> grabWindow(const Dialog& dialog);
// The same, written as a PNG (Windows Imaging Component) for a ".png" path,
// else as a 24-bit BMP; the folders are created. False on failure.
bool saveWindowImage(const Dialog& dialog, const std::filesystem::path& path);
bool saveImage(const Image& image, const std::filesystem::path& path);
std::optional<Image> loadBmp(const std::filesystem::path& path);

// The window handle (HWND) of a control, or of the dialog's window for id 0.
void* nativeHandle(const Dialog& dialog, int controlId);

// Runs the message loop for up to ms milliseconds (0: what is pending now).
void processEvents(int ms = 0);

// The program's arguments after its name, as UTF-8, from the UTF-16 command
// line: paths keep characters outside the ANSI code page.
std::vector<std::string> commandLineArguments();

}  // namespace ui::win32
