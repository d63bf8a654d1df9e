#include "ui/win32/win32_view.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

namespace ui::win32 {
namespace {

const wchar_t* wide(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}

std::u16string windowText(HWND h) {
    const int n = GetWindowTextLengthW(h);
    std::u16string s(static_cast<std::size_t>(std::max(n, 0)) + 1, u'\0');
    const int got = GetWindowTextW(h, reinterpret_cast<wchar_t*>(s.data()), n + 1);
    s.resize(static_cast<std::size_t>(std::max(got, 0)));
    return s;
}

struct PushGuard {
    explicit PushGuard(int& n) : n_(n) { ++n_; }
    ~PushGuard() { --n_; }
    PushGuard(const PushGuard&) = delete;
    PushGuard& operator=(const PushGuard&) = delete;
    int& n_;
};

bool isButtonKind(ControlKind k) {
    return k == ControlKind::PushButton || k == ControlKind::CheckBox ||
           k == ControlKind::RadioButton;
}

LRESULT CALLBACK canvasProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                            DWORD_PTR data) {
    auto* view = reinterpret_cast<Win32View*>(data);
    switch (message) {
        case WM_PAINT:
            if (view->paintCanvas(h)) return 0;
            break;
        case WM_ERASEBKGND:
            return 1;  // the canvas covers the whole control
        case WM_NCDESTROY:
            RemoveWindowSubclass(h, canvasProc, id);
            break;
        default:
            break;
    }
    return DefSubclassProc(h, message, wParam, lParam);
}

// A combo box's window height includes its drop-down list; the layer's
// rectangles are often just the closed field (pages place them in pixels).
constexpr int kDroppedListHeight = 220;

// Row r of the layer's list into the list view at the same index, each column's
// text (the control copies the texts).
void insertRow(HWND h, const Control& c, int r, int columns) {
    for (int col = 0; col < columns; ++col) {
        std::u16string text = c.cellText(r, col);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = r;
        item.iSubItem = col;
        item.pszText = reinterpret_cast<wchar_t*>(text.data());
        SendMessageW(h, col == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, static_cast<WPARAM>(r),
                     reinterpret_cast<LPARAM>(&item));
    }
}

}  // namespace

Win32View::Win32View(ViewShared& shared, Dialog& dialog) : shared_(shared), dialog_(dialog) {
    PushGuard guard(pushing_);
    const resources::DialogTemplate& t = *dialog.dialogTemplate();
    // No WS_CLIPCHILDREN, as a dialog has none: a group box paints only its
    // frame and relies on the window's background beneath it.
    DWORD style = 0;
    DWORD ex = WS_EX_CONTROLPARENT;
    HWND parent = nullptr;
    if (dialog.isTopLevel()) {
        style |= WS_POPUP | WS_CAPTION | WS_SYSMENU;
        if (t.style & resources::dialog_style::kMinimizeBox) style |= WS_MINIMIZEBOX;
        if (t.style & resources::dialog_style::kResizable) style |= WS_THICKFRAME | WS_MAXIMIZEBOX;
        ex |= WS_EX_DLGMODALFRAME;
        // Owned by the active window of the program: a nested modal dialog
        // stays above the one that opened it.
        HWND active = GetActiveWindow();
        if (active && shared_.owners.count(active)) parent = active;
    } else {
        style |= WS_CHILD;
        auto* parentView = static_cast<Win32View*>(dialog.parent()->view());
        parent = parentView->handleOf(dialog.parent()->control(dialog.hostId()));
    }
    hwnd_ = CreateWindowExW(ex, kDialogClass, L"", style, 0, 0, 10, 10, parent, nullptr,
                            shared_.instance, this);
    if (!hwnd_) return;
    shared_.owners[hwnd_] = {this, nullptr};
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(shared_.dialogFont), FALSE);
    for (const auto& c : dialog.controls()) {
        HWND h = makeControl(*c);
        if (!h) continue;
        handles_[c.get()] = h;
        shared_.owners[h] = {this, c.get()};
        pushAll(*c);
    }
    // Group boxes lie beneath the controls they frame (the tab order, which
    // follows the same z-order, has no stops on them).
    for (const auto& c : dialog.controls())
        if (c->kind() == ControlKind::GroupBox)
            SetWindowPos(handleOf(*c), HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    windowChanged(WindowChange::Caption);
    applyWindowGeometry();
    // A modal window shows when its loop starts.
    if (!dialog.isModal() && dialog.isVisible()) ShowWindow(hwnd_, SW_SHOWNORMAL);
}

Win32View::~Win32View() {
    for (auto it = shared_.owners.begin(); it != shared_.owners.end();)
        it = it->second.first == this ? shared_.owners.erase(it) : std::next(it);
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        // Handing the activation back before the window goes keeps the
        // owner in front.
        if (dialog_.isTopLevel() && GetActiveWindow() == hwnd_) {
            if (HWND owner = GetWindow(hwnd_, GW_OWNER)) SetActiveWindow(owner);
        }
        DestroyWindow(hwnd_);
    }
}

HWND Win32View::handleOf(const Control& c) const {
    const auto it = handles_.find(&c);
    return it == handles_.end() ? nullptr : it->second;
}

Control* Win32View::controlOf(HWND h) const {
    const auto it = shared_.owners.find(h);
    if (it == shared_.owners.end() || it->second.first != this) return nullptr;
    return const_cast<Control*>(it->second.second);
}

RECT Win32View::toDevice(const Rect& r) const {
    return {shared_.toDevice(r.left), shared_.toDevice(r.top), shared_.toDevice(r.right),
            shared_.toDevice(r.bottom)};
}

HWND Win32View::makeControl(Control& c) {
    DWORD style = WS_CHILD;
    DWORD ex = 0;
    const wchar_t* cls = WC_STATICW;
    if (c.isVisible()) style |= WS_VISIBLE;
    if (!c.isEnabled()) style |= WS_DISABLED;
    if (c.hasStyle(style::kTabStop)) style |= WS_TABSTOP;
    if (c.hasStyle(style::kGroup)) style |= WS_GROUP;
    switch (c.kind()) {
        case ControlKind::Static:
            // Texts show as they are: an '&' of a language file is no mnemonic.
            style |= SS_LEFT | SS_NOPREFIX;
            if (c.hasStyle(style::kCenterVertically)) style |= SS_CENTERIMAGE;
            break;
        case ControlKind::Icon:
            style |= SS_ICON | SS_REALSIZEIMAGE;
            break;
        case ControlKind::GroupBox:
            cls = WC_BUTTONW;
            style |= BS_GROUPBOX;
            break;
        case ControlKind::PushButton:
            cls = WC_BUTTONW;
            style |= c.hasStyle(style::kDefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
            break;
        case ControlKind::CheckBox:
            // Not automatic: the dialog layer keeps the state and pushes it.
            cls = WC_BUTTONW;
            style |= BS_CHECKBOX;
            if (c.hasStyle(style::kPushLike)) style |= BS_PUSHLIKE;
            break;
        case ControlKind::RadioButton:
            // Automatic, so that the dialog manager's arrow keys click it; the
            // layer's state is pushed back after every click all the same.
            cls = WC_BUTTONW;
            style |= BS_AUTORADIOBUTTON;
            break;
        case ControlKind::Edit:
            cls = WC_EDITW;
            ex |= WS_EX_CLIENTEDGE;
            if (c.hasStyle(style::kMultiLine))
                style |= ES_MULTILINE | ES_AUTOVSCROLL;
            else
                style |= ES_AUTOHSCROLL;
            if (c.hasStyle(style::kVScroll)) style |= WS_VSCROLL;
            if (c.hasStyle(style::kReadOnly)) style |= ES_READONLY;
            break;
        case ControlKind::ComboBox:
            cls = WC_COMBOBOXW;
            style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL;
            break;
        case ControlKind::DropDownList:
            cls = WC_COMBOBOXW;
            style |= CBS_DROPDOWNLIST | WS_VSCROLL;
            break;
        case ControlKind::ListView:
            cls = WC_LISTVIEWW;
            ex |= WS_EX_CLIENTEDGE;
            style |= LVS_REPORT;
            if (c.hasStyle(style::kSingleSelection)) style |= LVS_SINGLESEL;
            if (c.hasStyle(style::kShowSelectionAlways)) style |= LVS_SHOWSELALWAYS;
            if (c.hasStyle(style::kNoSortHeader)) style |= LVS_NOSORTHEADER;
            break;
        case ControlKind::TabControl:
            // It hosts the pages: they must not be painted over.
            cls = WC_TABCONTROLW;
            style |= WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
            ex |= WS_EX_CONTROLPARENT;
            break;
        case ControlKind::ProgressBar:
            cls = PROGRESS_CLASSW;
            break;
        case ControlKind::TrackBar:
            cls = TRACKBAR_CLASSW;
            style |= TBS_AUTOTICKS |
                     (c.hasStyle(style::kVertical) ? TBS_VERT | TBS_RIGHT : TBS_HORZ | TBS_BOTTOM);
            break;
    }
    const RECT r = toDevice(c.rect());
    // Control ids are 16 bits in WM_COMMAND; the layer's ids all fit, and
    // routing goes by window handle anyway.
    HWND h = CreateWindowExW(ex, cls, L"", style, r.left, r.top, r.right - r.left, r.bottom - r.top,
                             hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id() & 0xFFFF)),
                             shared_.instance, nullptr);
    if (!h) return nullptr;
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(shared_.dialogFont), FALSE);
    if (c.kind() == ControlKind::Icon)
        SendMessageW(h, STM_SETICON, reinterpret_cast<WPARAM>(shared_.icon), 0);
    if (c.kind() == ControlKind::ListView)
        SendMessageW(h, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_DOUBLEBUFFER, LVS_EX_DOUBLEBUFFER);
    if (c.kind() == ControlKind::TrackBar) SendMessageW(h, TBM_SETTICFREQ, 1, 0);
    return h;
}

void Win32View::pushAll(Control& c) {
    pushGeometry(c);
    pushText(c);
    switch (c.kind()) {
        case ControlKind::CheckBox:
        case ControlKind::RadioButton:
            pushCheck(c);
            break;
        case ControlKind::ComboBox:
        case ControlKind::DropDownList:
        case ControlKind::TabControl:
            pushItems(c);
            break;
        case ControlKind::ListView:
            controlChanged(c, Change::ExtendedStyle, -1);
            pushColumns(c);
            break;
        case ControlKind::ProgressBar:
        case ControlKind::TrackBar:
            pushRange(c);
            break;
        default:
            break;
    }
}

void Win32View::pushGeometry(const Control& c) {
    HWND h = handleOf(c);
    if (!h) return;
    const RECT r = toDevice(c.rect());
    int height = r.bottom - r.top;
    if (c.kind() == ControlKind::ComboBox || c.kind() == ControlKind::DropDownList)
        height = std::max(height, shared_.toDevice(kDroppedListHeight));
    MoveWindow(h, r.left, r.top, r.right - r.left, height, TRUE);
}

void Win32View::pushText(const Control& c) {
    HWND h = handleOf(c);
    if (!h || c.kind() == ControlKind::Icon || c.kind() == ControlKind::ListView ||
        c.kind() == ControlKind::TabControl || c.kind() == ControlKind::ProgressBar ||
        c.kind() == ControlKind::TrackBar || c.kind() == ControlKind::DropDownList)
        return;
    if (windowText(h) == c.text()) return;
    SetWindowTextW(h, wide(c.text()));
    // An edit field without the focus shows its text from the start.
    if (c.kind() == ControlKind::ComboBox && GetFocus() != h)
        SendMessageW(h, CB_SETEDITSEL, 0, MAKELPARAM(0, 0));
}

void Win32View::pushCheck(const Control& c) {
    if (HWND h = handleOf(c))
        SendMessageW(h, BM_SETCHECK, c.check() ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32View::pushItems(const Control& c) {
    HWND h = handleOf(c);
    if (!h) return;
    if (c.kind() == ControlKind::TabControl) {
        SendMessageW(h, TCM_DELETEALLITEMS, 0, 0);
        for (int i = 0; i < c.itemCount(); ++i) {
            std::u16string text = c.itemText(i);
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = reinterpret_cast<wchar_t*>(text.data());
            SendMessageW(h, TCM_INSERTITEMW, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(&item));
        }
    } else {
        SendMessageW(h, CB_RESETCONTENT, 0, 0);
        for (int i = 0; i < c.itemCount(); ++i) {
            const std::u16string text = c.itemText(i);
            SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(text)));
        }
    }
    pushSelection(c);
}

void Win32View::pushSelection(const Control& c) {
    HWND h = handleOf(c);
    if (!h) return;
    if (c.kind() == ControlKind::TabControl) {
        if (c.selection() >= 0)
            SendMessageW(h, TCM_SETCURSEL, static_cast<WPARAM>(c.selection()), 0);
        return;
    }
    SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(c.selection()), 0);
    if (c.kind() == ControlKind::ComboBox) pushText(c);
}

void Win32View::pushColumns(const Control& c) {
    HWND h = handleOf(c);
    if (!h) return;
    SendMessageW(h, WM_SETREDRAW, FALSE, 0);
    while (SendMessageW(h, LVM_DELETECOLUMN, 0, 0)) {
    }
    for (int i = 0; i < c.columnCount(); ++i) {
        ListColumn col = c.column(i);
        LVCOLUMNW lv{};
        lv.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        lv.fmt = LVCFMT_LEFT;
        lv.cx = shared_.toDevice(col.width);
        lv.pszText = reinterpret_cast<wchar_t*>(col.header.data());
        lv.iSubItem = i;
        SendMessageW(h, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&lv));
    }
    SendMessageW(h, WM_SETREDRAW, TRUE, 0);
    pushRows(c);
}

void Win32View::pushRows(const Control& c) {
    HWND h = handleOf(c);
    if (!h) return;
    SendMessageW(h, WM_SETREDRAW, FALSE, 0);
    SendMessageW(h, LVM_DELETEALLITEMS, 0, 0);
    const int columns = std::max(c.columnCount(), 1);
    for (int r = 0; r < c.rowCount(); ++r) insertRow(h, c, r, columns);
    SendMessageW(h, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(h, nullptr, TRUE);
    pushRowStates(c);
    for (int r = 0; r < c.rowCount(); ++r) pushRowCheck(c, r);
}

void Win32View::pushAppendedRows(const Control& c, int first) {
    HWND h = handleOf(c);
    if (!h) return;
    const int count = static_cast<int>(SendMessageW(h, LVM_GETITEMCOUNT, 0, 0));
    const int top = static_cast<int>(SendMessageW(h, LVM_GETTOPINDEX, 0, 0));
    const int page = static_cast<int>(SendMessageW(h, LVM_GETCOUNTPERPAGE, 0, 0));
    const bool atEnd = top + page >= count;
    SendMessageW(h, WM_SETREDRAW, FALSE, 0);
    const int columns = std::max(c.columnCount(), 1);
    for (int r = std::min(first, count); r < c.rowCount(); ++r) {
        insertRow(h, c, r, columns);
        pushRowCheck(c, r);
    }
    SendMessageW(h, WM_SETREDRAW, TRUE, 0);
    // The list view scrolls only while it redraws.
    if (atEnd && c.rowCount() > 0)
        SendMessageW(h, LVM_ENSUREVISIBLE, static_cast<WPARAM>(c.rowCount() - 1), FALSE);
    InvalidateRect(h, nullptr, TRUE);
}

void Win32View::pushRowCheck(const Control& c, int row) {
    HWND h = handleOf(c);
    if (!h || !(c.extendedStyle() & list_style::kCheckBoxes)) return;
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(c.isRowChecked(row) ? 2 : 1);
    SendMessageW(h, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void Win32View::pushRowStates(const Control& c) {
    HWND h = handleOf(c);
    if (!h) return;
    for (int r = 0; r < c.rowCount(); ++r) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED;
        item.state = c.isRowSelected(r) ? LVIS_SELECTED : 0;
        SendMessageW(h, LVM_SETITEMSTATE, static_cast<WPARAM>(r), reinterpret_cast<LPARAM>(&item));
    }
}

void Win32View::pushRange(const Control& c) {
    HWND h = handleOf(c);
    if (!h) return;
    if (c.kind() == ControlKind::ProgressBar) {
        SendMessageW(h, PBM_SETRANGE32, static_cast<WPARAM>(c.rangeLow()), c.rangeHigh());
        SendMessageW(h, PBM_SETPOS, static_cast<WPARAM>(c.position()), 0);
    } else {
        SendMessageW(h, TBM_SETRANGEMIN, FALSE, c.rangeLow());
        SendMessageW(h, TBM_SETRANGEMAX, TRUE, c.rangeHigh());
        SendMessageW(h, TBM_SETPAGESIZE, 0, c.pageSize());
        SendMessageW(h, TBM_SETPOS, TRUE, c.position());
    }
}

void Win32View::controlChanged(Control& c, Change change, int index) {
    HWND h = handleOf(c);
    if (!h) return;
    PushGuard guard(pushing_);
    switch (change) {
        case Change::Text:
            pushText(c);
            break;
        case Change::Enabled:
            EnableWindow(h, c.isEnabled());
            break;
        case Change::Visible:
            ShowWindow(h, c.isVisible() ? SW_SHOWNA : SW_HIDE);
            break;
        case Change::Geometry:
            pushGeometry(c);
            canvases_.erase(h);  // redrawn by its page at the new size
            break;
        case Change::Check:
            pushCheck(c);
            break;
        case Change::Items:
            pushItems(c);
            break;
        case Change::Selection:
            pushSelection(c);
            break;
        case Change::Columns:
            pushColumns(c);
            break;
        case Change::Rows:
            pushRows(c);
            break;
        case Change::RowsAppended:
            pushAppendedRows(c, index);
            break;
        case Change::RowsRemoved: {
            const int count = static_cast<int>(SendMessageW(h, LVM_GETITEMCOUNT, 0, 0));
            const int top = static_cast<int>(SendMessageW(h, LVM_GETTOPINDEX, 0, 0));
            const int page = static_cast<int>(SendMessageW(h, LVM_GETCOUNTPERPAGE, 0, 0));
            const bool atEnd = top + page >= count;
            SendMessageW(h, WM_SETREDRAW, FALSE, 0);
            for (int i = 0; i < index && i < count; ++i) SendMessageW(h, LVM_DELETEITEM, 0, 0);
            SendMessageW(h, WM_SETREDRAW, TRUE, 0);
            // The rows in view stay in view, unless the list follows its end.
            // (The list view scrolls only while it redraws.)
            if (!atEnd && top - index >= 0)
                SendMessageW(h, LVM_ENSUREVISIBLE, static_cast<WPARAM>(top - index), FALSE);
            InvalidateRect(h, nullptr, TRUE);
            break;
        }
        case Change::Cell: {
            std::u16string text = c.cellText(index, c.changedColumn());
            LVITEMW item{};
            item.iSubItem = c.changedColumn();
            item.pszText = reinterpret_cast<wchar_t*>(text.data());
            SendMessageW(h, LVM_SETITEMTEXTW, static_cast<WPARAM>(index),
                         reinterpret_cast<LPARAM>(&item));
            break;
        }
        case Change::RowState:
            pushRowStates(c);
            break;
        case Change::RowCheck:
            pushRowCheck(c, index);
            break;
        case Change::RowHighlight:
            SendMessageW(h, LVM_REDRAWITEMS, static_cast<WPARAM>(index), index);
            break;
        case Change::SelectionMark:
            SendMessageW(h, LVM_SETSELECTIONMARK, 0, c.selectionMark());
            if (c.selectionMark() >= 0) {
                LVITEMW item{};
                item.stateMask = LVIS_FOCUSED;
                item.state = LVIS_FOCUSED;
                SendMessageW(h, LVM_SETITEMSTATE, static_cast<WPARAM>(c.selectionMark()),
                             reinterpret_cast<LPARAM>(&item));
            }
            break;
        case Change::EnsureVisible:
            SendMessageW(h, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);
            break;
        case Change::ExtendedStyle: {
            DWORD ex = 0;
            if (c.extendedStyle() & list_style::kFullRowSelect) ex |= LVS_EX_FULLROWSELECT;
            if (c.extendedStyle() & list_style::kGridLines) ex |= LVS_EX_GRIDLINES;
            if (c.extendedStyle() & list_style::kCheckBoxes) ex |= LVS_EX_CHECKBOXES;
            SendMessageW(h, LVM_SETEXTENDEDLISTVIEWSTYLE,
                         LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES, ex);
            for (int r = 0; r < c.rowCount(); ++r) pushRowCheck(c, r);
            break;
        }
        case Change::EditSelection: {
            const auto [start, end] = c.editSelection();
            if (c.kind() == ControlKind::ComboBox)
                SendMessageW(h, CB_SETEDITSEL, 0, MAKELPARAM(start, end));
            else
                SendMessageW(h, EM_SETSEL, static_cast<WPARAM>(start), end);
            break;
        }
        case Change::Range:
        case Change::Position:
            pushRange(c);
            break;
        case Change::Focus:
            SetFocus(h);
            break;
        case Change::TextColor:
            // WM_CTLCOLORSTATIC picks the colour up when the static repaints.
            InvalidateRect(h, nullptr, TRUE);
            break;
        case Change::Style:
            if (c.kind() == ControlKind::PushButton)
                SendMessageW(h, BM_SETSTYLE,
                             c.hasStyle(style::kDefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON,
                             TRUE);
            break;
    }
}

void Win32View::applyWindowGeometry() {
    if (!hwnd_) return;
    PushGuard guard(pushing_);
    RECT r = toDevice(dialog_.windowRect());
    if (dialog_.isTopLevel()) {
        // The layer's rectangle is the client area; the frame goes around it.
        AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
    }
    SetWindowPos(hwnd_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32View::applySystemMenu() {
    HMENU menu = GetSystemMenu(hwnd_, FALSE);
    if (!menu) return;
    if (baseMenuItems_ < 0) baseMenuItems_ = GetMenuItemCount(menu);
    while (GetMenuItemCount(menu) > baseMenuItems_)
        DeleteMenu(menu, static_cast<UINT>(baseMenuItems_), MF_BYPOSITION);
    for (const SystemMenuItem& item : dialog_.systemMenu()) {
        if (item.command == 0)
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        else
            AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(item.command), wide(item.text));
    }
}

void Win32View::windowChanged(WindowChange change) {
    if (!hwnd_) return;
    PushGuard guard(pushing_);
    switch (change) {
        case WindowChange::Caption:
            SetWindowTextW(hwnd_, wide(dialog_.caption()));
            break;
        case WindowChange::Geometry:
            applyWindowGeometry();
            break;
        case WindowChange::Visible:
            if (!dialog_.isModal() || IsWindowVisible(hwnd_))
                ShowWindow(hwnd_, dialog_.isVisible() ? SW_SHOWNA : SW_HIDE);
            break;
        case WindowChange::Icon:
            SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(shared_.icon));
            SendMessageW(hwnd_, WM_SETICON, ICON_SMALL,
                         reinterpret_cast<LPARAM>(shared_.smallIcon));
            break;
        case WindowChange::SystemMenu:
            applySystemMenu();
            break;
        case WindowChange::MinimumSize:
            break;  // asked for by WM_GETMINMAXINFO
        case WindowChange::Activate:
            if (!dialog_.isTopLevel()) break;
            ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
            SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            SetActiveWindow(hwnd_);
            break;
    }
}

void Win32View::invalidate() {
    if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
}

void Win32View::setTimer(int id, int periodMs) {
    if (hwnd_) SetTimer(hwnd_, static_cast<UINT_PTR>(id), static_cast<UINT>(periodMs), nullptr);
}

void Win32View::killTimer(int id) {
    if (hwnd_) KillTimer(hwnd_, static_cast<UINT_PTR>(id));
}

void Win32View::endModal() {
    ended_ = true;
    // Wakes the modal loop, which checks for the end after every message.
    if (hwnd_) PostMessageW(hwnd_, WM_NULL, 0, 0);
}

void Win32View::showModal() {
    if (!hwnd_) return;
    applyWindowGeometry();
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd_);
    if (Control* f = dialog_.focus()) {
        auto* view = static_cast<Win32View*>(f->owner().view());
        if (HWND h = view ? view->handleOf(*f) : nullptr) SetFocus(h);
    }
    UpdateWindow(hwnd_);
}

std::unique_ptr<DrawContext> Win32View::controlContext(Control& control) {
    HWND h = handleOf(control);
    if (!h || control.kind() != ControlKind::Static) {
        reportViolation("control " + std::to_string(control.id()) + " is not a static to draw on");
        return std::make_unique<GdiContext>(control.clientRect().size(), shared_.drawResources());
    }
    RECT client{};
    GetClientRect(h, &client);
    const Size device{client.right, client.bottom};
    std::shared_ptr<Surface>& canvas = canvases_[h];
    if (!canvas || canvas->size != Size{std::max(device.width, 1), std::max(device.height, 1)}) {
        const bool first = !canvas;
        canvas = std::make_shared<Surface>(device);
        const RECT all{0, 0, canvas->size.width, canvas->size.height};
        FillRect(canvas->dc, &all, GetSysColorBrush(COLOR_BTNFACE));
        if (first) SetWindowSubclass(h, canvasProc, 1, reinterpret_cast<DWORD_PTR>(this));
    }
    return std::make_unique<GdiContext>(canvas, h, shared_.scale(), shared_.drawResources());
}

bool Win32View::paintCanvas(HWND control) {
    const auto it = canvases_.find(control);
    if (it == canvases_.end()) return false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(control, &ps);
    Surface& s = *it->second;
    releaseSurface(s);
    BitBlt(dc, 0, 0, s.size.width, s.size.height, s.dc, 0, 0, SRCCOPY);
    EndPaint(control, &ps);
    return true;
}

Point Win32View::cursorPosition(const Control& control) const {
    HWND h = handleOf(control);
    POINT p{};
    if (!h || !GetCursorPos(&p)) return {};
    ScreenToClient(h, &p);
    return {shared_.fromDevice(p.x), shared_.fromDevice(p.y)};
}

std::optional<Rect> Win32View::tabItemRect(const Control& control, int index) const {
    HWND h = handleOf(control);
    RECT r{};
    if (!h ||
        !SendMessageW(h, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r)))
        return std::nullopt;
    return Rect{shared_.fromDevice(r.left), shared_.fromDevice(r.top), shared_.fromDevice(r.right),
                shared_.fromDevice(r.bottom)};
}

// --- messages

void Win32View::command(HWND from, int id, int code) {
    Control* c = controlOf(from);
    if (!c || pushing()) return;
    id = c->id();
    if (isButtonKind(c->kind())) {
        if (code != BN_CLICKED) return;
        dialog_.userClick(id);
        // The layer's state decides what the button shows: a radio button
        // stays checked when clicked again, a handler may undo a check.
        if (dialog_.exists() && dialog_.hasControl(id)) {
            PushGuard guard(pushing_);
            pushCheck(dialog_.control(id));
        }
        return;
    }
    switch (c->kind()) {
        case ControlKind::Edit:
            if (code == EN_CHANGE) dialog_.userType(id, windowText(from));
            break;
        case ControlKind::ComboBox:
        case ControlKind::DropDownList:
            if (code == CBN_SELCHANGE) {
                const auto index = static_cast<int>(SendMessageW(from, CB_GETCURSEL, 0, 0));
                if (index >= 0) dialog_.userSelectItem(id, index);
            } else if (code == CBN_EDITCHANGE) {
                dialog_.userType(id, windowText(from));
            }
            break;
        default:
            break;
    }
}

LRESULT Win32View::notify(const NMHDR& header) {
    Control* c = controlOf(header.hwndFrom);
    // Drawing asks whatever the layer is doing: highlighted rows get their
    // background.
    if (c && c->kind() == ControlKind::ListView &&
        header.code == static_cast<UINT>(NM_CUSTOMDRAW)) {
        auto& draw = const_cast<NMLVCUSTOMDRAW&>(reinterpret_cast<const NMLVCUSTOMDRAW&>(header));
        if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
        if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT &&
            c->isRowHighlighted(static_cast<int>(draw.nmcd.dwItemSpec))) {
            draw.clrTextBk = RGB(255, 236, 179);
            return CDRF_NEWFONT;
        }
        return CDRF_DODEFAULT;
    }
    if (!c || pushing()) return 0;
    const int id = c->id();
    if (c->kind() == ControlKind::TabControl) {
        if (header.code == TCN_SELCHANGE) {
            const auto index = static_cast<int>(SendMessageW(header.hwndFrom, TCM_GETCURSEL, 0, 0));
            if (index >= 0) dialog_.userSelectTab(id, index);
        } else if (header.code == static_cast<UINT>(NM_CLICK)) {
            TCHITTESTINFO hit{};
            GetCursorPos(&hit.pt);
            ScreenToClient(header.hwndFrom, &hit.pt);
            const auto index = static_cast<int>(
                SendMessageW(header.hwndFrom, TCM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
            if (index >= 0) dialog_.userClickTab(id, index);
        }
    } else if (c->kind() == ControlKind::ListView) {
        if (header.code == LVN_ITEMCHANGED) {
            const auto& lv = reinterpret_cast<const NMLISTVIEW&>(header);
            if ((lv.uChanged & LVIF_STATE) && (lv.uNewState & LVIS_SELECTED) &&
                !(lv.uOldState & LVIS_SELECTED) && lv.iItem >= 0)
                dialog_.userSelectRow(id, lv.iItem);
            // State image 2 is the ticked check box, 1 the empty one.
            if ((lv.uChanged & LVIF_STATE) && lv.iItem >= 0 &&
                ((lv.uNewState ^ lv.uOldState) & LVIS_STATEIMAGEMASK) &&
                (c->extendedStyle() & list_style::kCheckBoxes)) {
                dialog_.userCheckRow(
                    id, lv.iItem, (lv.uNewState & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2));
                // The layer's state decides: a handler may undo a check.
                if (dialog_.exists() && dialog_.hasControl(id)) {
                    PushGuard guard(pushing_);
                    pushRowCheck(dialog_.control(id), lv.iItem);
                }
            }
        } else if (header.code == static_cast<UINT>(NM_CLICK)) {
            const auto& item = reinterpret_cast<const NMITEMACTIVATE&>(header);
            dialog_.userClickRow(id, item.iItem < 0 ? -1 : item.iItem);
        }
    }
    return 0;
}

LRESULT Win32View::handle(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (lParam) {
                command(reinterpret_cast<HWND>(lParam), LOWORD(wParam), HIWORD(wParam));
                return 0;
            }
            break;
        case WM_NOTIFY:
            return notify(*reinterpret_cast<const NMHDR*>(lParam));
        case WM_HSCROLL:
        case WM_VSCROLL:
            if (Control* c = controlOf(reinterpret_cast<HWND>(lParam)); c && !pushing()) {
                const auto pos = static_cast<int>(
                    SendMessageW(reinterpret_cast<HWND>(lParam), TBM_GETPOS, 0, 0));
                dialog_.userSetPosition(c->id(), pos);
                return 0;
            }
            break;
        case WM_TIMER:
            dialog_.dispatchTimer(static_cast<int>(wParam));
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(h, &ps);
            RECT r{};
            GetClientRect(h, &r);
            {
                GdiContext context(dc, {shared_.fromDevice(r.right), shared_.fromDevice(r.bottom)},
                                   shared_.scale(), shared_.drawResources());
                dialog_.dispatchPaint(context);
            }
            EndPaint(h, &ps);
            return 0;
        }
        case WM_CTLCOLORSTATIC: {
            // The system's brush and colours first, then the control's own text colour.
            const LRESULT brush = DefWindowProcW(h, message, wParam, lParam);
            if (Control* c = controlOf(reinterpret_cast<HWND>(lParam)))
                if (const auto color = c->textColor())
                    SetTextColor(reinterpret_cast<HDC>(wParam), RGB(color->r, color->g, color->b));
            return brush;
        }
        case WM_CLOSE:
            dialog_.userClose();
            return 0;
        case WM_SYSCOMMAND: {
            const auto command = static_cast<int>(wParam & 0xFFF0);
            if (command == SC_CLOSE || command < 0xF000) {
                dialog_.userSystemCommand(static_cast<int>(wParam));
                return 0;
            }
            break;
        }
        case WM_SIZE:
            if (!pushing() && dialog_.isTopLevel() && dialog_.exists()) {
                const Size client{shared_.fromDevice(LOWORD(lParam)),
                                  shared_.fromDevice(HIWORD(lParam))};
                SizeState state = SizeState::Restored;
                if (wParam == SIZE_MINIMIZED) state = SizeState::Minimized;
                if (wParam == SIZE_MAXIMIZED) state = SizeState::Maximized;
                dialog_.userResize(state, client);
            }
            return 0;
        case WM_GETMINMAXINFO:
            if (dialog_.isTopLevel() && dialog_.minimumSize() != Size{}) {
                // The layer's minimum is of the client area; the frame goes around it.
                const Size m = dialog_.minimumSize();
                RECT r{0, 0, shared_.toDevice(m.width), shared_.toDevice(m.height)};
                AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(h, GWL_STYLE)), FALSE,
                                   static_cast<DWORD>(GetWindowLongPtrW(h, GWL_EXSTYLE)));
                auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
                info->ptMinTrackSize.x = r.right - r.left;
                info->ptMinTrackSize.y = r.bottom - r.top;
                return 0;
            }
            break;
        case WM_SETFOCUS:
            // Back to the control that had the focus in this window.
            if (Control* f = dialog_.focus()) {
                auto* view = static_cast<Win32View*>(f->owner().view());
                if (HWND to = view ? view->handleOf(*f) : nullptr) SetFocus(to);
            }
            return 0;
        default:
            break;
    }
    return DefWindowProcW(h, message, wParam, lParam);
}

}  // namespace ui::win32
