// The Win32 backend through the dialog layer, on real windows under Wine (or
// Windows): what the layer sets reaches the native controls, and what a user
// does to the native controls reaches the layer and its handlers.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>
#include <chrono>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "resources/resources.h"
#include "ui/dialog.h"
#include "ui/win32/win32_backend.h"

namespace {

using ui::win32::Win32Backend;

class Probe : public ui::Dialog {
  public:
    using Dialog::Dialog;
    std::vector<int> commands, selections, timers, systemCommands;

  protected:
    void onCommand(int id) override {
        commands.push_back(id);
        Dialog::onCommand(id);
    }
    void onSelectionChange(int id) override { selections.push_back(id); }
    void onTimer(int id) override { timers.push_back(id); }
    void onSystemCommand(int command) override {
        systemCommands.push_back(command);
        Dialog::onSystemCommand(command);
    }
};

HWND handle(const ui::Dialog& d, int id = 0) {
    return static_cast<HWND>(ui::win32::nativeHandle(d, id));
}

// A control's rectangle in its parent's client pixels.
ui::Rect nativeRect(HWND h) {
    RECT r{};
    GetWindowRect(h, &r);
    MapWindowPoints(nullptr, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right, r.bottom};
}

std::u16string nativeText(HWND h) {
    wchar_t buffer[512] = {};
    GetWindowTextW(h, buffer, 512);
    return reinterpret_cast<const char16_t*>(buffer);
}

std::u16string listCell(HWND list, int row, int column) {
    wchar_t buffer[256] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return reinterpret_cast<const char16_t*>(buffer);
}

// Runs the message loop until the condition holds or the time is up.
bool waitFor(const std::function<bool()>& done, int ms = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        ui::win32::processEvents(10);
    }
    return true;
}

class Win32BackendTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { backend_ = new Win32Backend; }
    static void TearDownTestSuite() {
        delete backend_;
        backend_ = nullptr;
    }
    void TearDown() override {
        backend_->setModalHook({});
        backend_->setSystemDialogHook({});
    }
    static Win32Backend* backend_;
};
Win32Backend* Win32BackendTest::backend_ = nullptr;

TEST_F(Win32BackendTest, ControlsStandAtTheirDialogUnitRectanglesWithTheirTexts) {
    Probe d(resources::kRangeDialog);
    ASSERT_TRUE(d.createModeless());
    const ui::DialogUnits u = d.units();
    // The units are those of the font the controls are drawn with.
    HDC dc = GetDC(handle(d));
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(handle(d, 1067), WM_GETFONT, 0, 0)));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(handle(d), dc);
    EXPECT_EQ(u.baseY, tm.tmHeight);

    RECT client{};
    GetClientRect(handle(d), &client);
    const resources::DialogTemplate& t = *d.dialogTemplate();
    EXPECT_EQ(client.right, u.toPixelsX(t.cx));
    EXPECT_EQ(client.bottom, u.toPixelsY(t.cy));
    for (const resources::ControlTemplate& c : t.controls) {
        SCOPED_TRACE(c.id);
        HWND h = handle(d, c.id);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(nativeRect(h), u.toPixels(c.rect));
        EXPECT_EQ(IsWindowVisible(h) != 0, (c.style & resources::style::kVisible) != 0);
        EXPECT_EQ((GetWindowLongW(h, GWL_STYLE) & WS_TABSTOP) != 0,
                  (c.style & resources::style::kTabStop) != 0);
    }
    EXPECT_EQ(nativeText(handle(d, 1067)), u"确认修改");
    EXPECT_EQ(nativeText(handle(d)), u"数据输入");

    d.setText(1067, u"Apply");
    EXPECT_EQ(nativeText(handle(d, 1067)), u"Apply");
    d.setCaption(u"Range");
    EXPECT_EQ(nativeText(handle(d)), u"Range");
    // Typing into the native edit reaches the layer.
    SetWindowTextW(handle(d, 1035), L"-12.5");
    EXPECT_EQ(d.text(1035), u"-12.5");
    d.enable(1067, false);
    EXPECT_FALSE(IsWindowEnabled(handle(d, 1067)));
    d.showControl(1034, true);
    EXPECT_TRUE(IsWindowVisible(handle(d, 1034)));
    d.control(1067).move(ui::Rect::fromXywh(7, 9, 100, 30));
    EXPECT_EQ(nativeRect(handle(d, 1067)), ui::Rect::fromXywh(7, 9, 100, 30));
    d.destroy();
    EXPECT_FALSE(IsWindow(handle(d)));
}

TEST_F(Win32BackendTest, CommonControlsVersion6FromTheManifest) {
    // The module that the program's own calls into the common controls reach.
    HMODULE comctl = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&InitCommonControlsEx)), &comctl));
    using GetVersion = HRESULT(CALLBACK*)(DLLVERSIONINFO*);
    auto get = reinterpret_cast<GetVersion>(
        reinterpret_cast<void*>(GetProcAddress(comctl, "DllGetVersion")));
    ASSERT_NE(get, nullptr);
    DLLVERSIONINFO info{};
    info.cbSize = sizeof(info);
    ASSERT_EQ(get(&info), S_OK);
    // Windows reports 6; Wine's version 6 build reports 5 but is loaded from
    // the side-by-side assembly of version 6.
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(comctl, path, MAX_PATH);
    std::wstring file(path);
    std::transform(file.begin(), file.end(), file.begin(), ::towlower);
    EXPECT_TRUE(info.dwMajorVersion == 6 ||
                (file.find(L"microsoft.windows.common-controls") != std::wstring::npos &&
                 file.find(L"_6.0.") != std::wstring::npos))
        << info.dwMajorVersion << " " << std::string(file.begin(), file.end());
}

TEST_F(Win32BackendTest, TabMovesTheFocusAlongTheTabStopsAndTheLayerFollows) {
    Probe d(resources::kRangeDialog);
    ASSERT_TRUE(d.createModeless());
    SetFocus(handle(d, 1067));
    ui::win32::processEvents();
    ASSERT_EQ(d.focus(), &d.control(1067));
    // The visible tab stops in order, round to the first: the template
    // leaves OK, Cancel and 1033 hidden.
    for (int next : {1035, 1038, 1011, 1067}) {
        PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
        ASSERT_TRUE(waitFor([&] { return GetFocus() == handle(d, next); }, 2000)) << next;
        EXPECT_EQ(d.focus(), &d.control(next));
    }
}

TEST_F(Win32BackendTest, ListRowsCellsAndTheUsersSelection) {
    Probe d(resources::kStatusPage);
    ASSERT_TRUE(d.createModeless());
    HWND list = handle(d, 1068);
    ui::Control& c = d.control(1068);
    c.setExtendedStyle(ui::list_style::kFullRowSelect | ui::list_style::kGridLines);
    EXPECT_EQ(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) &
                  (LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES),
              LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    c.insertColumn(0, u"名称", 120);
    c.insertColumn(1, u"值", 60);
    for (int r = 0; r < 4; ++r) c.insertRow(r, u"行" + std::u16string(1, u'0' + r));
    c.setCellText(2, 1, u"42");
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 4);
    EXPECT_EQ(listCell(list, 3, 0), u"行3");
    EXPECT_EQ(listCell(list, 2, 1), u"42");
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    EXPECT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 2);

    c.setRowSelected(1, true);
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMSTATE, 1, LVIS_SELECTED), LVIS_SELECTED);
    // The user selects row 3 natively: a single-selection list gives up row 1.
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, 3, reinterpret_cast<LPARAM>(&state));
    EXPECT_TRUE(c.isRowSelected(3));
    EXPECT_FALSE(c.isRowSelected(1));
    EXPECT_EQ(c.selectionMark(), 3);

    c.deleteAllRows();
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);
}

TEST_F(Win32BackendTest, ListCheckBoxesBothWays) {
    Probe d(resources::kStatusPage);
    ASSERT_TRUE(d.createModeless());
    HWND list = handle(d, 1068);
    ui::Control& c = d.control(1068);
    c.insertColumn(0, u"名称", 120);
    for (int r = 0; r < 3; ++r) c.insertRow(r, u"行" + std::u16string(1, u'0' + r));
    c.setRowChecked(1, true);
    c.setExtendedStyle(ui::list_style::kCheckBoxes);
    EXPECT_EQ(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES,
              LVS_EX_CHECKBOXES);
    const auto nativeChecked = [&](int row) {
        return (SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row),
                             LVIS_STATEIMAGEMASK) &
                LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
    };
    EXPECT_TRUE(nativeChecked(1));
    EXPECT_FALSE(nativeChecked(0));
    // The user ticks row 2 natively; the layer follows.
    LVITEMW state{};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(2);
    SendMessageW(list, LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&state));
    EXPECT_TRUE(c.isRowChecked(2));
    c.setRowChecked(1, false);
    EXPECT_FALSE(nativeChecked(1));
    c.setRowHighlighted(0, true);
    EXPECT_TRUE(c.isRowHighlighted(0));
}

TEST_F(Win32BackendTest, ComboSelectionBothWays) {
    Probe d(resources::kStatusPage);
    ASSERT_TRUE(d.createModeless());
    HWND combo = handle(d, 1037);
    ui::Control& c = d.control(1037);
    for (const char16_t* s : {u"1", u"2", u"3", u"4"}) c.addItem(s);
    c.setSelection(2);
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
    EXPECT_TRUE(d.selections.empty());
    // The arrow key moves a closed drop-down list's selection and notifies.
    SendMessageW(combo, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(c.selection(), 3);
    EXPECT_EQ(d.selections, std::vector<int>{1037});
    // The field of a combo box shows its text; the list stays out of the rectangle.
    RECT field{};
    GetClientRect(combo, &field);
    EXPECT_LT(field.bottom, 40);
}

TEST_F(Win32BackendTest, RadioGroupsAndCheckBoxesFollowTheLayer) {
    Probe d(resources::kStatusPage);
    ASSERT_TRUE(d.createModeless());
    const auto checked = [&](int id) {
        return SendMessageW(handle(d, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    };
    d.setRadioGroupIndex(1070, 5);
    d.setRadioGroupIndex(1078, 0);
    EXPECT_TRUE(checked(1075));
    // A click on another rate moves the rate group's check, not the port group's.
    SendMessageW(handle(d, 1071), BM_CLICK, 0, 0);
    EXPECT_EQ(d.radioGroupIndex(1070), 1);
    EXPECT_TRUE(checked(1071));
    EXPECT_FALSE(checked(1075));
    EXPECT_TRUE(checked(1078));
    EXPECT_EQ(d.commands, std::vector<int>{1071});
    // The dialog manager's arrow key moves within the group and clicks.
    SetFocus(handle(d, 1071));
    PostMessageW(handle(d, 1071), WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_TRUE(waitFor([&] { return d.radioGroupIndex(1070) == 2; }, 2000));
    EXPECT_TRUE(checked(1072));
    EXPECT_FALSE(checked(1071));

    Probe scope(resources::kScopePage);
    ASSERT_TRUE(scope.createModeless());
    HWND box = handle(scope, 1013);
    SendMessageW(box, BM_CLICK, 0, 0);
    EXPECT_EQ(scope.check(1013), 1);
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
    SendMessageW(box, BM_CLICK, 0, 0);
    EXPECT_EQ(scope.check(1013), 0);
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    scope.setCheck(1012, 1);  // push-like
    EXPECT_EQ(SendMessageW(handle(scope, 1012), BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST_F(Win32BackendTest, TabControlItemsSelectionAndItemRectangles) {
    Probe d(resources::kMainDialog);
    ASSERT_TRUE(d.createModeless());
    HWND tabs = handle(d, 1064);
    ui::Control& c = d.control(1064);
    for (const char16_t* s : {u"【驱动状态】", u"【驱动参数】", u"【示波器】"}) c.addItem(s);
    c.setSelection(1);
    EXPECT_EQ(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 1);
    RECT item{};
    SendMessageW(tabs, TCM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(c.itemRect(2), (ui::Rect{item.left, item.top, item.right, item.bottom}));
    SendMessageW(tabs, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(c.selection(), 2);
    EXPECT_EQ(d.selections, std::vector<int>{1064});
}

TEST_F(Win32BackendTest, CtrlTabSwitchesPagesAndTheMinimumSizeHolds) {
    Probe d(resources::kMainDialog);
    ASSERT_TRUE(d.createModeless());
    ui::Control& c = d.control(1064);
    for (const char16_t* s : {u"【驱动状态】", u"【驱动参数】", u"【示波器】"}) c.addItem(s);
    c.setSelection(0);
    d.setFocus(1064);
    ui::win32::processEvents();
    // Ctrl held down, as the keyboard state that GetKeyState reads.
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    PostMessageW(handle(d, 1064), WM_KEYDOWN, VK_TAB, 0);
    EXPECT_TRUE(waitFor([&] { return c.selection() == 1; }, 2000));
    PostMessageW(handle(d, 1064), WM_KEYDOWN, VK_PRIOR, 0);
    EXPECT_TRUE(waitFor([&] { return c.selection() == 0; }, 2000));
    PostMessageW(handle(d, 1064), WM_KEYDOWN, VK_PRIOR, 0);
    EXPECT_TRUE(waitFor([&] { return c.selection() == 2; }, 2000)) << "wraps";
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(d.selections.size(), 3u);

    // The layer's minimum is of the client area: the frame comes on top.
    d.setMinimumSize({600, 400});
    MINMAXINFO info{};
    SendMessageW(handle(d), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_GT(info.ptMinTrackSize.x, 600);
    EXPECT_GT(info.ptMinTrackSize.y, 400);

    // Texts are measured in the dialog font: a longer text is wider.
    d.setText(1093, u"Write");
    const ui::Size shortText = d.fitSize(1093);
    d.setText(1093, u"Write to EEPROM");
    const ui::Size longText = d.fitSize(1093);
    EXPECT_GE(shortText.height, 10);
    EXPECT_GT(longText.width, 2 * shortText.width);
    d.destroy();
}

TEST_F(Win32BackendTest, SystemMenuEntriesReachTheHandler) {
    Probe d(resources::kMainDialog);
    ASSERT_TRUE(d.createModeless());
    d.appendSystemMenuItem(0, u"");
    d.appendSystemMenuItem(16, u"关于 软件(&A)...");
    HMENU menu = GetSystemMenu(handle(d), FALSE);
    wchar_t text[64] = {};
    ASSERT_GT(GetMenuStringW(menu, 16, text, 64, MF_BYCOMMAND), 0);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(text)), u"关于 软件(&A)...");
    SendMessageW(handle(d), WM_SYSCOMMAND, 16, 0);
    EXPECT_EQ(d.systemCommands, std::vector<int>{16});
}

TEST_F(Win32BackendTest, WindowTimersFire) {
    Probe d(resources::kAboutDialog);
    ASSERT_TRUE(d.createModeless());
    d.setTimer(7, 20);
    ASSERT_TRUE(waitFor([&] { return d.timers.size() >= 3; }));
    d.killTimer(7);
    EXPECT_EQ(d.timers, std::vector<int>(d.timers.size(), 7));
}

TEST_F(Win32BackendTest, PostedTasksRunOnTheUserInterfaceThreadInOrder) {
    const std::thread::id ui = std::this_thread::get_id();
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::thread worker([&] {
        // More tasks than one message each could carry past a full queue.
        for (int i = 0; i < 20000; ++i)
            ui::post([&, i] {
                order.push_back(i);
                threads.push_back(std::this_thread::get_id());
            });
    });
    worker.join();
    ASSERT_TRUE(waitFor([&] { return order.size() == 20000; }));
    for (int i = 0; i < 20000; ++i) ASSERT_EQ(order[static_cast<std::size_t>(i)], i);
    for (const auto& t : threads) ASSERT_EQ(t, ui);

    // A dialog's task is dropped when its window has gone by then.
    Probe d(resources::kAboutDialog);
    ASSERT_TRUE(d.createModeless());
    bool ran = false;
    bool marker = false;
    d.post([&] { ran = true; });
    d.destroy();
    ui::post([&] { marker = true; });
    ASSERT_TRUE(waitFor([&] { return marker; }));
    EXPECT_FALSE(ran);
}

// Every static text of a window, joined by new lines.
std::u16string staticTexts(HWND window) {
    std::u16string all;
    EnumChildWindows(
        window,
        [](HWND h, LPARAM p) -> BOOL {
            wchar_t name[16] = {};
            GetClassNameW(h, name, 16);
            if (lstrcmpiW(name, L"Static") == 0)
                *reinterpret_cast<std::u16string*>(p) += nativeText(h) + u"\n";
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

TEST_F(Win32BackendTest, MessageBoxAnsweredThroughTheHook) {
    std::vector<std::u16string> seen;
    backend_->setSystemDialogHook([&](void* window) {
        HWND box = static_cast<HWND>(window);
        seen.push_back(nativeText(box) + u"|" + staticTexts(box));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(ui::messageBox(u"Initialize the serial port failed!", u"伺服管理软件",
                             ui::MessageIcon::Error),
              ui::kIdOk);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].rfind(u"伺服管理软件|", 0), 0u);
    EXPECT_NE(seen[0].find(u"Initialize the serial port failed!"), std::u16string::npos);
}

TEST_F(Win32BackendTest, FileDialogsAnsweredThroughTheHookWithTheOverwritePrompt) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::filesystem::path dir =
        std::filesystem::path(temp) / ("servo-win32-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path existing = dir / "existing.dat";
    { std::ofstream(existing) << "x"; }

    std::wstring typed;
    int fileDialogs = 0;
    int prompts = 0;
    backend_->setSystemDialogHook([&](void* window) {
        HWND w = static_cast<HWND>(window);
        HWND name = GetDlgItem(w, 0x47C);  // the file name box
        if (!name) name = GetDlgItem(w, 0x480);
        if (name) {
            ++fileDialogs;
            SetWindowTextW(name, typed.c_str());
            PostMessageW(w, WM_COMMAND, IDOK, 0);
        } else {
            ++prompts;  // "replace the existing file?"
            PostMessageW(w, WM_COMMAND, IDYES, 0);
        }
    });
    // A new name takes the filter's extension.
    typed = (dir / "backup").wstring();
    std::optional<std::u16string> chosen = ui::saveFileDialog(u"参数文件(*.dat)|*.dat||");
    ASSERT_TRUE(chosen);
    EXPECT_EQ(std::filesystem::path(std::wstring(chosen->begin(), chosen->end())),
              dir / "backup.dat");
    EXPECT_EQ(prompts, 0);
    typed = existing.wstring();
    chosen = ui::saveFileDialog(u"参数文件(*.dat)|*.dat||");
    ASSERT_TRUE(chosen);
    EXPECT_EQ(prompts, 1);
    chosen = ui::openFileDialog(u"参数文件(*.dat)|*.dat|*(*.*)|*.*||");
    ASSERT_TRUE(chosen);
    EXPECT_EQ(std::filesystem::path(std::wstring(chosen->begin(), chosen->end())), existing);
    EXPECT_EQ(fileDialogs, 3);
    std::filesystem::remove_all(dir);
}

TEST_F(Win32BackendTest, EnterAndEscapeInAModalDialogGoThroughTheLayer) {
    // Escape on the focused edit is Cancel; Enter is the default button (OK).
    for (const auto& [key, result] :
         {std::pair{VK_ESCAPE, ui::kIdCancel}, {VK_RETURN, ui::kIdOk}}) {
        backend_->setModalHook([key = key](ui::Dialog& d) {
            SetFocus(handle(d, 1035));
            PostMessageW(GetFocus(), WM_KEYDOWN, static_cast<WPARAM>(key), 0);
        });
        Probe d(resources::kRangeDialog);
        EXPECT_EQ(d.runModal(), result);
    }
}

TEST_F(Win32BackendTest, GdiDrawingContext) {
    constexpr ui::Color kBlue{0, 0, 255};
    constexpr ui::Color kWhite{255, 255, 255};
    auto dc = ui::createMemoryContext({40, 20});
    EXPECT_EQ(dc->pixel({0, 0}), (ui::Color{0, 0, 0}));  // a new bitmap is black
    dc->fillRect({0, 0, 40, 20}, {255, 255, 255});
    dc->setPen(ui::PenStyle::Solid, {255, 0, 0}, 1);
    dc->moveTo({2, 3});
    dc->lineTo({12, 3});
    dc->lineTo({12, 8});
    EXPECT_EQ(dc->pixel({2, 3}), (ui::Color{255, 0, 0}));
    EXPECT_EQ(dc->pixel({12, 7}), (ui::Color{255, 0, 0}));
    EXPECT_EQ(dc->pixel({12, 8}), (ui::Color{255, 255, 255}));  // the end point stays out
    dc->setPen(ui::PenStyle::Dot, {0, 0, 255}, 1);
    dc->moveTo({0, 15});
    dc->lineTo({10, 15});
    for (int x = 0; x < 10; ++x) EXPECT_EQ(dc->pixel({x, 15}), x % 2 == 0 ? kBlue : kWhite) << x;
    dc->setBackgroundColor({0, 128, 0});
    dc->setTextColor({255, 255, 0});
    const ui::Size e = dc->textExtent(u"X");
    EXPECT_GT(e.width, 0);
    dc->textOut({20, 0}, u"X");
    EXPECT_EQ(dc->pixel({20, 0}), (ui::Color{0, 128, 0}));  // opaque: the box is filled
    // A block copy within one bitmap, overlapping.
    dc->copyFrom(*dc, {0, 0, 20, 10}, {1, 0});
    EXPECT_EQ(dc->pixel({3, 3}), (ui::Color{255, 0, 0}));
    EXPECT_EQ(dc->pixel({13, 7}), (ui::Color{255, 0, 0}));

    // A control's drawing stays on the window until drawn again.
    Probe page(resources::kScopePage);
    ASSERT_TRUE(page.createModeless());
    auto canvas = page.controlContext(1038);
    auto block = ui::createMemoryContext({20, 10});
    block->fillRect({0, 0, 20, 10}, {10, 200, 30});
    canvas->copyFrom(*block, {0, 0, 20, 10}, {0, 0});
    InvalidateRect(handle(page), nullptr, TRUE);
    const std::optional<ui::win32::Image> shot = ui::win32::grabWindow(page);
    ASSERT_TRUE(shot);
    const ui::Rect r = page.control(1038).rect();
    EXPECT_EQ(shot->at(r.left + 5, r.top + 5), (ui::Color{10, 200, 30}));

    // Contexts on one control keep their own pen whichever goes first.
    auto second = page.controlContext(1038);
    second->setPen(ui::PenStyle::Solid, {200, 0, 0}, 1);
    canvas.reset();
    second->moveTo({0, 1});
    second->lineTo({10, 1});
    const std::optional<ui::win32::Image> again = ui::win32::grabWindow(page);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->at(r.left + 3, r.top + 1), (ui::Color{200, 0, 0}));
}

TEST_F(Win32BackendTest, ChineseTextsHaveAFontWithTheirGlyphs) {
    backend_->setChineseText(true);
    const std::u16string face = backend_->dialogFontFace();
    ASSERT_FALSE(face.empty());
    HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                             reinterpret_cast<const wchar_t*>(face.c_str()));
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    const wchar_t text[] = L"驱动状态参数示波器通讯管理波特率选择连接断开";
    WORD glyphs[64] = {};
    const int n = static_cast<int>(wcslen(text));
    GetGlyphIndicesW(dc, text, n, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    DeleteObject(font);
    DeleteDC(dc);
    for (int i = 0; i < n; ++i) EXPECT_NE(glyphs[i], 0xFFFF) << "character " << i;
}

TEST_F(Win32BackendTest, ScreenshotsAreWrittenAndReadBack) {
    Probe d(resources::kAboutDialog);
    ASSERT_TRUE(d.createModeless());
    const std::optional<ui::win32::Image> shot = ui::win32::grabWindow(d);
    ASSERT_TRUE(shot);
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("servo-shot-" + std::to_string(GetCurrentProcessId()) + ".bmp");
    ASSERT_TRUE(ui::win32::saveImage(*shot, file));
    const std::optional<ui::win32::Image> back = ui::win32::loadBmp(file);
    std::filesystem::remove(file);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width, shot->width);
    EXPECT_EQ(back->pixels, shot->pixels);
    // The About box's icon is there, in the program icon's blue.
    const ui::Rect icon = ui::DialogUnits(d.units()).toPixels({11, 17, 20, 20});
    EXPECT_EQ(shot->at(icon.left + 2, icon.top + 2), (ui::Color{0, 64, 128}));
}

}  // namespace
