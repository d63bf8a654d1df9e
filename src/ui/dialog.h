#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "resources/resources.h"
#include "ui/backend.h"
#include "ui/control.h"
#include "ui/draw.h"
#include "ui/geometry.h"

namespace ui {

enum class SizeState { Restored, Minimized, Maximized };

// Keys that dialogs treat specially; every other key goes straight to the
// focused control. NextPage is Ctrl+Tab or Ctrl+PgDn, PreviousPage
// Ctrl+Shift+Tab or Ctrl+PgUp; BackTab is Shift+Tab.
enum class Key {
    Enter,
    Escape,
    Tab,
    BackTab,
    Up,
    Down,
    Left,
    Right,
    Home,
    End,
    NextPage,
    PreviousPage,
    // Ctrl+M, which no control uses: a window gives it a meaning in
    // preTranslateKey (the main window opens the bus monitor); unclaimed, it
    // is dropped.
    ControlM,
};

// What preTranslateKey decides for a key.
enum class KeyAction {
    Default,  // ask the next window up, then the modal dialog's own handling
    Swallow,  // drop the key
    Deliver,  // give it to the focused control as an ordinary key
};

// The system menu's close command (SC_CLOSE).
inline constexpr int kSystemClose = 0xF060;

struct SystemMenuItem {
    int command = 0;  // 0 for a separator
    std::u16string text;
};

// A dialog built from a dialog template: either a modal dialog (runModal) or a
// page, a child dialog created inside a control of another dialog (create). The
// object outlives its window: state set before the window exists is the
// subclass's own, and controls exist only between creation and destruction.
//
// Subclasses override the handlers below; every handler runs on the user
// interface thread. All other members belong to that thread too, except post().
class Dialog {
  public:
    explicit Dialog(int templateId);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    int templateId() const { return templateId_; }
    const resources::DialogTemplate* dialogTemplate() const { return template_; }
    DialogUnits units() const;

    // --- Life
    // Creates the window centred over the innermost running modal dialog (or
    // the screen), initialises it and runs it until endDialog; the window is
    // destroyed before this returns. Returns the endDialog result, -1 when the
    // window could not be created.
    int runModal();
    // Creates the window as a child of the parent dialog's control `hostId`
    // (a tab control for pages) at (0, 0) with its template size, and initialises
    // it. Destroyed with the parent's window or by destroy().
    bool create(Dialog& parent, int hostId);
    // Creates the window as a modeless top-level dialog, centred like a modal
    // one, shown and initialised; it stays until destroy(). Hosts pages in
    // tests and tools without a modal loop.
    bool createModeless();
    // Ends a modal dialog's loop with the result. Child dialogs do not end.
    void endDialog(int result);
    void destroy();
    bool exists() const { return exists_; }
    bool isModal() const { return modal_; }
    bool isTopLevel() const { return exists_ && parent_ == nullptr; }
    bool modalEnded() const { return ended_; }
    int modalResult() const { return result_; }
    Dialog* parent() const { return parent_; }
    int hostId() const { return hostId_; }
    // The modal dialog at the top of the parent chain (this for a modal dialog).
    Dialog& root();
    const std::vector<Dialog*>& children() const { return children_; }
    WindowView* view() const { return view_.get(); }

    // --- Window
    // The caption starts as the template's each time the window is created.
    const std::u16string& caption() const { return caption_; }
    void setCaption(std::u16string_view caption);
    // In screen pixels for a modal dialog, else in the host control's client pixels.
    Rect windowRect() const { return rect_; }
    Rect clientRect() const { return {0, 0, rect_.width(), rect_.height()}; }
    // Moves and sizes the window; a new size reaches onSize.
    void move(const Rect& rect);
    // The smallest client size the user can resize a top-level window to;
    // {0, 0} for none. Programs may still move() it smaller.
    void setMinimumSize(Size client);
    Size minimumSize() const { return minimumSize_; }
    void centerWindow();
    void show(bool on);
    bool isVisible() const { return visible_; }
    // A top-level window: shown, restored when minimised, raised above the
    // program's other windows and made the active one.
    void activate();
    SizeState sizeState() const { return sizeState_; }
    bool isMinimized() const { return sizeState_ == SizeState::Minimized; }
    Point screenOrigin() const;
    void setIcon(int iconId);
    int icon() const { return icon_; }
    // Appends to the window's system menu; command 0 appends a separator.
    void appendSystemMenuItem(int command, std::u16string_view text);
    const std::vector<SystemMenuItem>& systemMenu() const { return systemMenu_; }
    // A window timer: onTimer(id) every periodMs (at least 10 ms) until killed
    // or the window is destroyed. The same id again restarts it.
    void setTimer(int id, int periodMs);
    void killTimer(int id);
    // A drawing context on a control's area (the plot host, colour swatches).
    std::unique_ptr<DrawContext> controlContext(int id);
    // The mouse position relative to a control's top-left corner.
    Point cursorPosition(int controlId) const;
    void invalidate();
    // Any thread: runs the task on the user interface thread while the window
    // that exists at the call still exists; otherwise the task is dropped.
    void post(std::function<void()> task);

    // Layout trials (finding a minimum size): while on, moves of this window's
    // controls and pages change the layer's state only; the toolkit is told
    // of the rectangles that changed when the trial ends. Held on the root.
    void beginLayoutTrial();
    void endLayoutTrial();
    bool inLayoutTrial() const;

    // --- Controls, by id. An unknown id is a usage error.
    Control& control(int id);
    const Control& control(int id) const;
    bool hasControl(int id) const;
    const std::vector<std::unique_ptr<Control>>& controls() const { return controls_; }
    void setText(int id, std::u16string_view text) { control(id).setText(text); }
    std::u16string text(int id) const { return control(id).text(); }
    void enable(int id, bool on) { control(id).enable(on); }
    void showControl(int id, bool on) { control(id).show(on); }
    int check(int id) const { return control(id).check(); }
    void setCheck(int id, int state) { control(id).setCheck(state); }
    // Radio buttons by id range, as CheckRadioButton / GetCheckedRadioButton.
    void checkRadioButton(int firstId, int lastId, int checkId);
    int checkedRadioButton(int firstId, int lastId) const;  // 0 when none
    // The radio group that starts at firstId (a group-start control) and runs
    // to the next group start, by position among its radio buttons, as DDX_Radio.
    int radioGroupIndex(int firstId) const;  // -1 when none is checked
    void setRadioGroupIndex(int firstId, int index);
    void setFocus(int id) { control(id).setFocus(); }
    // Makes the push button the one that Enter presses (DM_SETDEFID); 0 for
    // none. In a page, Enter presses it while the focus is in the page.
    void setDefaultButton(int id);
    int defaultButton() const;  // 0 when none
    // The size the control needs to show all of its text with the backend's
    // font and metrics, when given `width` (a static wraps its words to it;
    // 0: on one line). See Backend::contentSize.
    Size fitSize(int id, int width = 0) const;
    // The same for another text that the control will show (Connect and
    // Disconnect, On and Off), so that room is kept for each.
    Size fitSizeFor(int id, std::u16string_view text) const;
    // The control's own text (and items, column headers) fits its rectangle.
    bool textFits(int id) const;
    // The control with the keyboard focus in this window's tree, or nullptr.
    Control* focus() const;

    // --- The user's input, from a backend's widgets or from a test. Each call
    // does what the user's action does (state change, then the handler) and
    // returns false when a user could not do it: no window, unknown control,
    // hidden or disabled control, wrong kind, index out of range.
    bool userClick(int id);                           // buttons, check boxes, radio buttons
    bool userType(int id, std::u16string_view text);  // edits, editable combo boxes
    bool userSelectItem(int id, int index);           // combo box list
    bool userSelectTab(int id, int index);            // keyboard selection of a tab
    bool userClickTab(int id, int index);             // mouse press on a tab
    bool userSelectRow(int id, int row);              // keyboard selection in a list view
    bool userClickRow(int id, int row);          // mouse click in a list view; -1 below the rows
    bool userSetPosition(int id, int position);  // track bar
    // A row's check box, in a list with list_style::kCheckBoxes.
    bool userCheckRow(int id, int row, bool checked);
    bool userFocus(int id);
    // A key, with the focus where it is: preTranslateKey of the window with the
    // focus and then of its parents decides first. Then, as the dialog manager
    // does it:
    // - Enter: a page presses its own focused push button, else its default
    //   button; what is left is the modal dialog's: Enter presses the focused
    //   push button, else the default button (when enabled, even hidden), else OK.
    // - Escape: the modal dialog's Cancel.
    // - Tab, BackTab: the next or previous tab stop of the whole window, pages
    //   included after their host; a list is one stop, a radio group is one
    //   stop (its checked button).
    // - Arrows in a radio group: the next or previous button, checked and
    //   clicked. Up, Down, Home, End in a list: select that row.
    // - NextPage, PreviousPage: the window's tab control selects the next or
    //   previous tab (wrapping); a focus left on a hidden page goes to the tabs.
    // Returns true when the key is to be given to the focused control as an
    // ordinary key.
    bool userKey(Key key);
    void userClose();  // the close box
    void userSystemCommand(int command);
    void userResize(SizeState state, Size client);

    // --- Backend entry points.
    void dispatchTimer(int id);
    void dispatchPaint(DrawContext& dc);

  protected:
    // Handlers. The defaults do what a plain dialog does.
    // After the controls exist; true lets a modal dialog focus its first control.
    virtual bool onInitDialog() { return true; }
    // Buttons (BN_CLICKED) and the dialog's OK/Cancel commands.
    virtual void onCommand(int id);
    virtual void onOk() { endDialog(kIdOk); }
    virtual void onCancel() { endDialog(kIdCancel); }
    // Combo box or tab control selection changed by the user.
    virtual void onSelectionChange(int /*id*/) {}
    // Mouse click on a list view (after the list's own handling); row -1 below the rows.
    virtual void onListClick(int /*id*/, int /*row*/) {}
    // A row's check box changed by the user (after the list's state changed).
    virtual void onListCheck(int /*id*/, int /*row*/) {}
    // Mouse press on a tab control (after the control's own handling).
    virtual void onTabClick(int /*id*/, int /*index*/) {}
    virtual void onTimer(int /*id*/) {}
    virtual void onSize(SizeState /*state*/, int /*width*/, int /*height*/) {}
    virtual void onPaint(DrawContext& /*dc*/) {}
    // When the window goes; a parent's handler runs before its children's.
    virtual void onDestroy() {}
    // System menu commands; the default closes on kSystemClose.
    virtual void onSystemCommand(int command);
    // The close box; the default is the Cancel command.
    virtual void onClose() { dispatchCommand(kIdCancel); }
    // Enter and Escape, first on the window with the focus, then its parents.
    virtual KeyAction preTranslateKey(Key /*key*/) { return KeyAction::Default; }

    void dispatchCommand(int id) { onCommand(id); }

  private:
    friend class Control;
    struct Token {
        Dialog* dialog;
        std::atomic<unsigned> serial{0};
    };

    bool touch(const char* what) const;
    bool build(Dialog* parent, int hostId, bool modal);
    void destroyWindow(bool runHandlers);
    void notifyWindow(WindowChange change);
    void notifyControl(Control& control, Change change, int index);
    Control* find(int id) const;
    Control* userControl(int id, const char* what) const;
    std::size_t indexOf(const Control& c) const;
    // Indices of the radio buttons in the group around the control at `index`.
    std::vector<Control*> radioGroupOf(std::size_t index) const;
    void checkInGroup(Control& radio);
    void focusControl(Control* control, bool fromUser);
    bool commandKey(Key key, Control* focused);
    bool navigationKey(Key key, Control* focused);
    // Every control of this window and its shown pages in tab order.
    void tabOrder(std::vector<Control*>& out);
    bool isTabStop(Control& c);
    bool usable(const Control& c) const;
    void switchPage(int step);
    void resizeTo(Size size);

    int templateId_;
    const resources::DialogTemplate* template_;
    std::shared_ptr<Token> token_;
    bool exists_ = false;
    bool modal_ = false;
    bool ended_ = false;
    int result_ = -1;
    Dialog* parent_ = nullptr;
    int hostId_ = 0;
    std::vector<Dialog*> children_;
    std::unique_ptr<WindowView> view_;
    std::vector<std::unique_ptr<Control>> controls_;
    std::u16string caption_;
    Rect rect_;
    bool visible_ = false;
    SizeState sizeState_ = SizeState::Restored;
    int icon_ = 0;
    std::vector<SystemMenuItem> systemMenu_;
    Size minimumSize_;
    // Kept by the root dialog during a layout trial: what was moved unseen.
    bool layoutTrial_ = false;
    std::vector<Control*> movedControls_;
    std::vector<Dialog*> movedWindows_;
    // Kept by the root dialog: the control with the focus in its tree.
    Control* focus_ = nullptr;
};

}  // namespace ui
