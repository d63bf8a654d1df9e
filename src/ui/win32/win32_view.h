#pragma once
// Internal to the Win32 backend: includes windows.h.
#include <map>
#include <memory>
#include <unordered_map>

#include "ui/backend.h"
#include "ui/dialog.h"
#include "ui/win32/win32_draw.h"

namespace ui::win32 {

class Win32View;

// What the views share with the backend: fonts, icon, scale and the map from
// window handles to their owners (to route focus and keys).
struct ViewShared {
    HINSTANCE instance = nullptr;
    HFONT dialogFont = nullptr;  // controls and dialogs
    HFONT drawFont = nullptr;    // text drawn through drawing contexts
    HICON icon = nullptr;        // 32 x 32
    HICON smallIcon = nullptr;   // 16 x 16, for the caption and the task bar
    bool ownIcon = false;        // made in memory: destroyed with the backend
    int dpi = 96;
    DialogUnits units;  // of dialogFont, at 96 DPI
    std::unordered_map<HWND, std::pair<Win32View*, const Control*>> owners;

    double scale() const { return dpi / 96.0; }
    int toDevice(int v) const { return MulDiv(v, dpi, 96); }
    int fromDevice(int v) const { return MulDiv(v, 96, dpi); }
    DrawResources drawResources() const { return {drawFont, icon}; }
};

// The window class of dialogs and pages.
inline constexpr wchar_t kDialogClass[] = L"ServoToolDialog";

class Win32View final : public WindowView {
  public:
    Win32View(ViewShared& shared, Dialog& dialog);
    ~Win32View() override;

    Dialog& dialog() const { return dialog_; }
    HWND window() const { return hwnd_; }
    HWND handleOf(const Control& c) const;
    bool pushing() const { return pushing_ > 0; }
    // Shows the window of a modal dialog; its loop runs in the backend.
    void showModal();
    bool modalEnded() const { return ended_; }

    void controlChanged(Control& control, Change change, int index) override;
    void windowChanged(WindowChange change) override;
    void invalidate() override;
    void setTimer(int id, int periodMs) override;
    void killTimer(int id) override;
    void endModal() override;
    std::unique_ptr<DrawContext> controlContext(Control& control) override;
    Point cursorPosition(const Control& control) const override;
    std::optional<Rect> tabItemRect(const Control& control, int index) const override;

    // The window procedure's work, for this view's window.
    LRESULT handle(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
    // A control's canvas repaints from its backing surface.
    bool paintCanvas(HWND control);

  private:
    HWND makeControl(Control& c);
    void pushAll(Control& c);
    void pushGeometry(const Control& c);
    void pushText(const Control& c);
    void pushItems(const Control& c);
    void pushSelection(const Control& c);
    void pushColumns(const Control& c);
    void pushRows(const Control& c);
    void pushAppendedRows(const Control& c, int first);
    void pushRowStates(const Control& c);
    void pushRowCheck(const Control& c, int row);
    void pushRange(const Control& c);
    void pushCheck(const Control& c);
    void applyWindowGeometry();
    void applySystemMenu();
    void command(HWND from, int id, int code);
    LRESULT notify(const NMHDR& header);
    Control* controlOf(HWND h) const;
    RECT toDevice(const Rect& r) const;

    ViewShared& shared_;
    Dialog& dialog_;
    HWND hwnd_ = nullptr;
    std::unordered_map<const Control*, HWND> handles_;
    std::map<HWND, std::shared_ptr<Surface>> canvases_;
    int pushing_ = 0;
    bool ended_ = false;
    int baseMenuItems_ = -1;  // entries of the system menu before ours
};

}  // namespace ui::win32
