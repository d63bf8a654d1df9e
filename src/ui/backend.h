#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/control.h"
#include "ui/draw.h"
#include "ui/geometry.h"
#include "ui/layout.h"

namespace ui {

class Dialog;
struct DialogUnits;

enum class MessageIcon { None, Error, Exclamation };

// Results of modal dialogs and message boxes.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// One entry of an MFC-style filter string "Text|patterns|Text|patterns||".
struct FileFilter {
    std::u16string description;
    std::vector<std::u16string> patterns;  // "*.dat"; several patterns are ';'-separated
};

// Parses "(*.dat)|*.dat|*(*.*)|*.*||". An entry without its pattern part is dropped.
std::vector<FileFilter> parseFileFilter(std::u16string_view filter);

struct FileDialogRequest {
    bool save = false;
    std::u16string filter;          // MFC form, as given
    bool confirmOverwrite = false;  // save dialogs ask before replacing a file
};

enum class WindowChange : std::uint8_t {
    Caption,
    Geometry,
    Visible,
    Icon,
    SystemMenu,
    MinimumSize,
    Activate,  // a top-level window restored, raised and given the input
};

// The backend's side of one window (a modal dialog or a page): it shows the
// dialog's state and reports the user's input back through Dialog::user*.
class WindowView {
  public:
    virtual ~WindowView() = default;
    virtual void controlChanged(Control& control, Change change, int index) = 0;
    virtual void windowChanged(WindowChange change) = 0;
    // Repaint the window (a paint request follows later on this thread).
    virtual void invalidate() = 0;
    // A window timer; the same id again restarts it with the new period.
    virtual void setTimer(int id, int periodMs) = 0;
    virtual void killTimer(int id) = 0;
    // The modal loop of this window ends with the dialog's result.
    virtual void endModal() = 0;
    // A drawing context on the control's area; drawing stays there until the
    // control is drawn on again.
    virtual std::unique_ptr<DrawContext> controlContext(Control& control) = 0;
    // The mouse position relative to the control's top-left corner.
    virtual Point cursorPosition(const Control& control) const = 0;
    // A tab item's rectangle as the toolkit places it; nothing to use the layer's
    // own metrics.
    virtual std::optional<Rect> tabItemRect(const Control&, int) const { return std::nullopt; }
};

// A user interface toolkit. One backend is installed at a time; it belongs to
// the thread that installed it, the user interface thread.
class Backend {
  public:
    virtual ~Backend() = default;
    virtual std::unique_ptr<WindowView> createView(Dialog& dialog) = 0;
    // Runs the dialog's modal loop until WindowView::endModal.
    virtual void runModalLoop(Dialog& dialog) = 0;
    virtual int messageBox(std::u16string_view text, std::u16string_view caption,
                           MessageIcon icon) = 0;
    virtual std::optional<std::u16string> fileDialog(const FileDialogRequest& request) = 0;
    // A question with Yes and No buttons (question icon); true for Yes. A
    // backend without one answers No.
    virtual bool askYesNo(std::u16string_view /*text*/, std::u16string_view /*caption*/) {
        return false;
    }
    // Any thread: run the task on the user interface thread later.
    virtual void post(std::function<void()> task) = 0;
    virtual std::unique_ptr<DrawContext> createMemoryContext(Size size) = 0;
    // The screen area that modal dialogs are centred in when they have no owner.
    virtual Rect workArea() const { return {0, 0, 1920, 1080}; }
    // Dialog units of the template's font as this toolkit draws it; the
    // default is the nominal font of DialogUnits::forFont.
    virtual DialogUnits dialogUnits(const resources::DialogTemplate& t) const;
    // One line of text in the font of the control's window. The default is
    // deterministic, from the dialog units: a narrow character is baseX wide,
    // a wide (CJK) one twice that, the line baseY high.
    virtual Size measureText(const Control& c, std::u16string_view text) const;
    // What this toolkit draws around the texts of controls.
    virtual ControlChrome chrome() const { return {}; }
    // The size a control needs to show all of its text (ui::contentSize with
    // the two above, unless the toolkit knows better).
    // `text` stands in for the control's own text when given.
    virtual Size contentSize(const Control& c, int width,
                             std::optional<std::u16string_view> text = {}) const;
};

// Installs the backend and makes the calling thread the user interface thread;
// nullptr uninstalls. The backend must outlive every dialog that uses it.
void setBackend(Backend* backend);
Backend* currentBackend();

// True on the user interface thread (always true while no backend is installed
// and no thread has been bound).
bool onUiThread();
// Reports a thread or usage error of the layer. The default handler prints the
// message and aborts; a replacement (tests) is called and the operation goes on.
void reportViolation(std::string_view message);
using ViolationHandler = std::function<void(std::string_view)>;
ViolationHandler setViolationHandler(ViolationHandler handler);  // returns the previous one

// Unattended runs (screenshots, scripts), where nobody can click: while on,
// no backend is asked to show a message box or a file dialog. A message box
// is answered with its default, OK, and written to standard error instead; a
// file dialog is cancelled. Any backend is covered, since the services below
// decide before calling it. User interface thread.
void setUnattended(bool on);
bool unattended();
// Message boxes with the error icon answered so since the program started.
int unattendedErrorCount();

// Services of the installed backend; user interface thread unless stated.
// A message box with an OK button; returns kIdOk.
int messageBox(std::u16string_view text, std::u16string_view caption,
               MessageIcon icon = MessageIcon::None);
// Asks before work that cannot be undone; true when the user answers Yes.
// Unattended runs answer No (and print the question): nobody agreed to it.
bool askYesNo(std::u16string_view text, std::u16string_view caption);
// The chosen file's full path, or nothing when the user cancels.
std::optional<std::u16string> openFileDialog(std::u16string_view filter);
// As openFileDialog; asks before replacing an existing file.
std::optional<std::u16string> saveFileDialog(std::u16string_view filter);
// Any thread.
void post(std::function<void()> task);
std::unique_ptr<DrawContext> createMemoryContext(Size size);

// The program's title: caption of messages that have no caption of their own.
std::u16string applicationTitle();
void setApplicationTitle(std::u16string_view title);

// The dialog-unit to pixel conversion of a dialog font: the base units are the
// font's average character width and height in pixels (96 pixels per inch, a
// CJK dialog font of 12 pixels at 9 points being 6 x 12).
struct DialogUnits {
    int baseX = 6;
    int baseY = 12;
    static DialogUnits forFont(int points);
    int toPixelsX(int units) const;
    int toPixelsY(int units) const;
    Rect toPixels(const resources::UnitRect& r) const;
};

}  // namespace ui
