#include "ui/win32/win32_backend.h"

// clang-format off
// windows.h first: the other Windows headers need it.
#include "ui/win32/win32_draw.h"
#include "ui/win32/win32_view.h"
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <wincodec.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>

#include "platform/text.h"

namespace ui::win32 {
namespace {

constexpr wchar_t kPostClass[] = L"ServoToolPost";
constexpr UINT kPostedMessage = WM_APP + 1;        // posted tasks are waiting
constexpr UINT kSystemDialogMessage = WM_APP + 2;  // a system dialog became active
// The program icon's resource number (resources::kMainIcon).
constexpr int kIconResource = 128;

const wchar_t* wide(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}

Win32View* viewOf(const Dialog& dialog) {
    return dynamic_cast<Win32View*>(dialog.view());
}

LRESULT CALLBACK dialogProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* view = reinterpret_cast<Win32View*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (view && message != WM_NCCREATE && message != WM_NCDESTROY)
        return view->handle(h, message, wParam, lParam);
    return DefWindowProcW(h, message, wParam, lParam);
}

int CALLBACK fontExists(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool fontInstalled(const wchar_t* face) {
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &lf, fontExists, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, dc);
    return found;
}

// The CJK faces tried for Chinese texts, in order: the resources' own faces
// (NSimSun, SimSun), the faces of current Windows, then common free fonts.
constexpr const wchar_t* kChineseFaces[] = {
    L"新宋体",
    L"NSimSun",
    L"宋体",
    L"SimSun",
    L"Microsoft YaHei UI",
    L"Microsoft YaHei",
    L"WenQuanYi Micro Hei",
    L"WenQuanYi Zen Hei",
    L"Noto Sans CJK SC",
};

std::wstring chooseFace(bool chinese, BYTE& charset) {
    charset = DEFAULT_CHARSET;
    if (chinese) {
        for (const wchar_t* face : kChineseFaces) {
            if (fontInstalled(face)) {
                charset = GB2312_CHARSET;
                return face;
            }
        }
    }
    // The system's dialog font: the face of message boxes.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0) &&
        metrics.lfMessageFont.lfFaceName[0])
        return metrics.lfMessageFont.lfFaceName;
    return L"MS Shell Dlg 2";
}

HFONT makeFont(const std::wstring& face, BYTE charset, int pixelHeight) {
    LOGFONTW lf{};
    lf.lfHeight = -pixelHeight;
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = charset;
    lf.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
    return CreateFontIndirectW(&lf);
}

// The base units of a font as the dialog manager measures them: the average
// width of the 52 Latin letters, rounded, and the text height.
DialogUnits measure(HFONT font) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SIZE s{};
    static constexpr wchar_t letters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    GetTextExtentPoint32W(dc, letters, 52, &s);
    SelectObject(dc, old);
    DeleteDC(dc);
    DialogUnits u;
    u.baseX = std::max(1, static_cast<int>((s.cx / 26 + 1) / 2));
    u.baseY = std::max(1, static_cast<int>(tm.tmHeight));
    return u;
}

}  // namespace

struct Win32Backend::Impl {
    ViewShared shared;
    HWND postWindow = nullptr;
    std::mutex postMutex;
    std::deque<std::function<void()>> posted;
    std::function<void(Dialog&)> modalHook;
    std::function<void(void*)> systemDialogHook;
    HHOOK cbtHook = nullptr;
    bool chinese = true;
    std::wstring face;
    BYTE charset = DEFAULT_CHARSET;
    std::map<int, DialogUnits> units;  // by point size, at 96 DPI
    HWND lastFocus = nullptr;
    std::vector<HWND> modalWindows;  // innermost last

    void chooseFonts();
    void runPosted();
    bool preTranslate(MSG& msg);
    void dispatch(MSG& msg);
    void followFocus();
    HWND ownerWindow() const;
};

namespace {

Win32Backend::Impl* g_impl = nullptr;

LRESULT CALLBACK postProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kPostedMessage && g_impl) {
        g_impl->runPosted();
        return 0;
    }
    if (message == kSystemDialogMessage && g_impl && g_impl->systemDialogHook) {
        if (IsWindow(reinterpret_cast<HWND>(wParam)))
            g_impl->systemDialogHook(reinterpret_cast<void*>(wParam));
        return 0;
    }
    return DefWindowProcW(h, message, wParam, lParam);
}

// Watches for system dialogs (class #32770) becoming active on the user
// interface thread, for the test hook.
LRESULT CALLBACK cbtProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && g_impl && g_impl->systemDialogHook) {
        wchar_t name[16] = {};
        GetClassNameW(reinterpret_cast<HWND>(wParam), name, 16);
        if (lstrcmpW(name, L"#32770") == 0)
            PostMessageW(g_impl->postWindow, kSystemDialogMessage, wParam, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void Win32Backend::Impl::chooseFonts() {
    face = chooseFace(chinese, charset);
    if (shared.dialogFont) DeleteObject(shared.dialogFont);
    if (shared.drawFont) DeleteObject(shared.drawFont);
    // The resources' 9-point font; text drawn through contexts is scaled by
    // the contexts themselves, so its font stays at 96 DPI.
    shared.dialogFont = makeFont(face, charset, MulDiv(9, shared.dpi, 72));
    shared.drawFont = makeFont(face, charset, MulDiv(9, 96, 72));
    units.clear();
    shared.units = measure(shared.drawFont);
    units[9] = shared.units;
}

void Win32Backend::Impl::runPosted() {
    std::deque<std::function<void()>> tasks;
    {
        std::lock_guard lock(postMutex);
        tasks.swap(posted);
    }
    for (auto& task : tasks) task();
}

HWND Win32Backend::Impl::ownerWindow() const {
    return modalWindows.empty() ? nullptr : modalWindows.back();
}

// Enter and Escape go to the dialog layer, which decides what they do; what it
// hands back reaches the focused control as an ordinary key. So do Ctrl+Tab
// and Ctrl+PgDn (Ctrl+Shift+Tab, Ctrl+PgUp), which switch pages: the dialog
// manager has no such keys; and Ctrl+M, which windows may claim. Tab, the arrows of radio groups
// and lists and mnemonics are the dialog manager's and the controls' own.
bool Win32Backend::Impl::preTranslate(MSG& msg) {
    if (msg.message == WM_KEYDOWN && GetKeyState(VK_CONTROL) < 0 &&
        (msg.wParam == VK_TAB || msg.wParam == VK_NEXT || msg.wParam == VK_PRIOR)) {
        for (HWND h = msg.hwnd; h; h = GetParent(h)) {
            const auto it = shared.owners.find(h);
            if (it == shared.owners.end()) continue;
            const bool back =
                msg.wParam == VK_PRIOR || (msg.wParam == VK_TAB && GetKeyState(VK_SHIFT) < 0);
            it->second.first->dialog().root().userKey(back ? Key::PreviousPage : Key::NextPage);
            return true;
        }
        return false;
    }
    if (msg.message == WM_KEYDOWN && msg.wParam == 'M' && GetKeyState(VK_CONTROL) < 0 &&
        GetKeyState(VK_MENU) >= 0 && GetKeyState(VK_SHIFT) >= 0) {
        for (HWND h = msg.hwnd; h; h = GetParent(h)) {
            const auto it = shared.owners.find(h);
            if (it == shared.owners.end()) continue;
            it->second.first->dialog().root().userKey(Key::ControlM);
            return true;
        }
        return false;
    }
    if (msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)) {
        HWND target = msg.hwnd;
        // An open drop-down list takes its own Enter and Escape.
        for (HWND h = target; h; h = GetParent(h)) {
            wchar_t name[32] = {};
            GetClassNameW(h, name, 32);
            if (lstrcmpiW(name, WC_COMBOBOXW) == 0 && SendMessageW(h, CB_GETDROPPEDSTATE, 0, 0))
                return false;
        }
        std::pair<Win32View*, const Control*> owner{nullptr, nullptr};
        for (HWND h = target; h; h = GetParent(h)) {
            const auto it = shared.owners.find(h);
            if (it != shared.owners.end()) {
                owner = it->second;
                break;
            }
        }
        if (!owner.first) return false;
        Dialog& dialog = owner.first->dialog();
        if (owner.second) dialog.userFocus(owner.second->id());
        const Key key = msg.wParam == VK_RETURN ? Key::Enter : Key::Escape;
        if (dialog.root().userKey(key) && IsWindow(target)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return true;
    }
    if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) {
        HWND root = GetAncestor(msg.hwnd, GA_ROOT);
        if (root && shared.owners.count(root) && IsDialogMessageW(root, &msg)) return true;
    }
    return false;
}

void Win32Backend::Impl::followFocus() {
    HWND focus = GetFocus();
    if (focus == lastFocus) return;
    lastFocus = focus;
    for (HWND h = focus; h; h = GetParent(h)) {
        const auto it = shared.owners.find(h);
        if (it == shared.owners.end()) continue;
        if (it->second.second) it->second.first->dialog().userFocus(it->second.second->id());
        return;
    }
}

void Win32Backend::Impl::dispatch(MSG& msg) {
    if (!preTranslate(msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    followFocus();
}

Win32Backend::Win32Backend() : impl_(std::make_unique<Impl>()) {
    g_impl = impl_.get();
    Impl& d = *impl_;
    d.shared.instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES |
                                              ICC_TAB_CLASSES | ICC_PROGRESS_CLASS |
                                              ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    HDC screen = GetDC(nullptr);
    d.shared.dpi = std::max(GetDeviceCaps(screen, LOGPIXELSY), 96);
    ReleaseDC(nullptr, screen);
    d.shared.icon = static_cast<HICON>(LoadImageW(
        d.shared.instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    d.shared.smallIcon = static_cast<HICON>(LoadImageW(
        d.shared.instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    if (!d.shared.icon) {
        d.shared.icon = makeProgramIcon();
        d.shared.ownIcon = true;
    }
    if (!d.shared.smallIcon) d.shared.smallIcon = d.shared.icon;

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = dialogProc;
    wc.hInstance = d.shared.instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = d.shared.icon;
    wc.hIconSm = d.shared.smallIcon;
    wc.lpszClassName = kDialogClass;
    RegisterClassExW(&wc);
    WNDCLASSEXW pc{};
    pc.cbSize = sizeof(pc);
    pc.lpfnWndProc = postProc;
    pc.hInstance = d.shared.instance;
    pc.lpszClassName = kPostClass;
    RegisterClassExW(&pc);
    d.postWindow = CreateWindowExW(0, kPostClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   d.shared.instance, nullptr);
    d.chooseFonts();
    setBackend(this);
}

Win32Backend::~Win32Backend() {
    if (currentBackend() == this) setBackend(nullptr);
    Impl& d = *impl_;
    if (d.cbtHook) UnhookWindowsHookEx(d.cbtHook);
    if (d.postWindow) DestroyWindow(d.postWindow);
    if (d.shared.dialogFont) DeleteObject(d.shared.dialogFont);
    if (d.shared.drawFont) DeleteObject(d.shared.drawFont);
    if (d.shared.ownIcon) DestroyIcon(d.shared.icon);
    UnregisterClassW(kDialogClass, d.shared.instance);
    UnregisterClassW(kPostClass, d.shared.instance);
    g_impl = nullptr;
}

void Win32Backend::setChineseText(bool chinese) {
    if (impl_->chinese == chinese) return;
    impl_->chinese = chinese;
    impl_->chooseFonts();
}

bool Win32Backend::chineseText() const {
    return impl_->chinese;
}

std::u16string Win32Backend::dialogFontFace() const {
    return std::u16string(reinterpret_cast<const char16_t*>(impl_->face.c_str()));
}

Size Win32Backend::measureText(const Control& /*c*/, std::u16string_view text) const {
    const ViewShared& s = impl_->shared;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, s.dialogFont);
    SIZE size{};
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    if (!text.empty())
        GetTextExtentPoint32W(dc, reinterpret_cast<const wchar_t*>(text.data()),
                              static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    DeleteDC(dc);
    // Rounded up, so that a text that needs a fraction of a pixel more is not cut.
    const auto up = [&s](LONG v) { return (static_cast<int>(v) * 96 + s.dpi - 1) / s.dpi; };
    return {up(size.cx), up(tm.tmHeight)};
}

ControlChrome Win32Backend::chrome() const {
    const ViewShared& s = impl_->shared;
    const auto px = [&s](int metric) { return s.fromDevice(GetSystemMetrics(metric)); };
    ControlChrome c;
    c.button = {4 * px(SM_CXEDGE) + 8, 4 * px(SM_CYEDGE) + 4};
    c.check = {px(SM_CXMENUCHECK) + 6, 2};
    c.edit = {2 * px(SM_CXEDGE) + 6, 2 * px(SM_CYEDGE) + 4};
    c.combo = {px(SM_CXVSCROLL) + 2 * px(SM_CXEDGE) + 8, 2 * px(SM_CYEDGE) + 6};
    return c;
}

DialogUnits Win32Backend::dialogUnits(const resources::DialogTemplate& t) const {
    Impl& d = *impl_;
    const auto it = d.units.find(t.fontPoints);
    if (it != d.units.end()) return it->second;
    HFONT font = makeFont(d.face, d.charset, MulDiv(t.fontPoints, 96, 72));
    const DialogUnits u = measure(font);
    DeleteObject(font);
    d.units[t.fontPoints] = u;
    return u;
}

std::unique_ptr<WindowView> Win32Backend::createView(Dialog& dialog) {
    return std::make_unique<Win32View>(impl_->shared, dialog);
}

void Win32Backend::runModalLoop(Dialog& dialog) {
    Win32View* view = viewOf(dialog);
    if (!view || !view->window()) return;
    Impl& d = *impl_;
    HWND window = view->window();
    // The windows below a modal dialog take no input while it runs.
    HWND owner = GetWindow(window, GW_OWNER);
    const bool ownerEnabled = owner && IsWindowEnabled(owner);
    if (ownerEnabled) EnableWindow(owner, FALSE);
    d.modalWindows.push_back(window);
    view->showModal();
    if (d.modalHook) {
        auto hook = d.modalHook;
        dialog.post([hook, &dialog] { hook(dialog); });
    }
    MSG msg;
    while (!dialog.modalEnded() && dialog.exists()) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT belongs to the outermost loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got < 0) break;
        d.dispatch(msg);
    }
    std::erase(d.modalWindows, window);
    if (ownerEnabled) EnableWindow(owner, TRUE);
    if (IsWindow(window)) ShowWindow(window, SW_HIDE);
}

void Win32Backend::setModalHook(std::function<void(Dialog&)> hook) {
    impl_->modalHook = std::move(hook);
}

void Win32Backend::setSystemDialogHook(std::function<void(void*)> hook) {
    Impl& d = *impl_;
    d.systemDialogHook = std::move(hook);
    if (d.systemDialogHook && !d.cbtHook)
        d.cbtHook = SetWindowsHookExW(WH_CBT, cbtProc, nullptr, GetCurrentThreadId());
    if (!d.systemDialogHook && d.cbtHook) {
        UnhookWindowsHookEx(d.cbtHook);
        d.cbtHook = nullptr;
    }
}

int Win32Backend::messageBox(std::u16string_view text, std::u16string_view caption,
                             MessageIcon icon) {
    UINT flags = MB_OK;
    if (icon == MessageIcon::Error) flags |= MB_ICONERROR;
    if (icon == MessageIcon::Exclamation) flags |= MB_ICONEXCLAMATION;
    const std::u16string t(text);
    const std::u16string c(caption);
    MessageBoxW(impl_->ownerWindow(), wide(t), wide(c), flags);
    impl_->lastFocus = nullptr;
    impl_->followFocus();
    return kIdOk;
}

bool Win32Backend::askYesNo(std::u16string_view text, std::u16string_view caption) {
    const std::u16string t(text);
    const std::u16string c(caption);
    // No is the default button: Enter alone does not agree.
    const int answer = MessageBoxW(impl_->ownerWindow(), wide(t), wide(c),
                                   MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    impl_->lastFocus = nullptr;
    impl_->followFocus();
    return answer == IDYES;
}

std::optional<std::u16string> Win32Backend::fileDialog(const FileDialogRequest& request) {
    // "Text\0patterns\0...\0\0", patterns ';'-separated as the layer keeps them.
    std::u16string filter;
    std::u16string defaultExtension;
    for (const FileFilter& f : parseFileFilter(request.filter)) {
        filter += f.description;
        filter += u'\0';
        for (std::size_t i = 0; i < f.patterns.size(); ++i) {
            if (i) filter += u';';
            filter += f.patterns[i];
        }
        filter += u'\0';
        if (defaultExtension.empty() && f.patterns[0].rfind(u"*.", 0) == 0 &&
            f.patterns[0].find(u'*', 1) == std::u16string::npos)
            defaultExtension = f.patterns[0].substr(2);
    }
    filter += u'\0';
    std::vector<wchar_t> file(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = impl_->ownerWindow();
    ofn.lpstrFilter = wide(filter);
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrDefExt = defaultExtension.empty() ? nullptr : wide(defaultExtension);
    ofn.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (request.save && request.confirmOverwrite) ofn.Flags |= OFN_OVERWRITEPROMPT;
    if (!request.save) ofn.Flags |= OFN_FILEMUSTEXIST;
    const BOOL ok = request.save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    impl_->lastFocus = nullptr;
    impl_->followFocus();
    if (!ok) return std::nullopt;
    return std::u16string(reinterpret_cast<const char16_t*>(file.data()));
}

void Win32Backend::post(std::function<void()> task) {
    Impl& d = *impl_;
    bool wake = false;
    {
        std::lock_guard lock(d.postMutex);
        wake = d.posted.empty();
        d.posted.push_back(std::move(task));
    }
    // One message wakes the loop for every task queued until it runs, so that
    // a busy thread cannot fill the message queue.
    if (wake) PostMessageW(d.postWindow, kPostedMessage, 0, 0);
}

std::unique_ptr<DrawContext> Win32Backend::createMemoryContext(Size size) {
    return std::make_unique<GdiContext>(size, impl_->shared.drawResources());
}

Rect Win32Backend::workArea() const {
    RECT r{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0)) return Backend::workArea();
    const ViewShared& s = impl_->shared;
    return {s.fromDevice(r.left), s.fromDevice(r.top), s.fromDevice(r.right),
            s.fromDevice(r.bottom)};
}

// --- helpers

void processEvents(int ms) {
    Win32Backend::Impl* d = g_impl;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            if (d) {
                d->dispatch(msg);
            } else {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
    }
}

void* nativeHandle(const Dialog& dialog, int controlId) {
    Win32View* view = viewOf(dialog);
    if (!view) return nullptr;
    if (controlId == 0) return view->window();
    if (!dialog.hasControl(controlId)) return nullptr;
    return view->handleOf(dialog.control(controlId));
}

std::optional<Image> grabWindow(const Dialog& dialog) {
    Win32View* view = viewOf(dialog);
    if (!view || !view->window()) return std::nullopt;
    HWND window = view->window();
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT r{};
    GetClientRect(window, &r);
    if (r.right <= 0 || r.bottom <= 0) return std::nullopt;
    Surface copy({r.right, r.bottom});
    HDC dc = GetDC(window);
    BitBlt(copy.dc, 0, 0, r.right, r.bottom, dc, 0, 0, SRCCOPY);
    ReleaseDC(window, dc);
    GdiFlush();
    Image image;
    image.width = copy.size.width;
    image.height = copy.size.height;
    image.pixels.reserve(static_cast<std::size_t>(image.width) *
                         static_cast<std::size_t>(image.height));
    for (std::size_t i = 0; i < static_cast<std::size_t>(image.width) * image.height; ++i) {
        const std::uint32_t v = copy.bits[i];
        image.pixels.push_back({static_cast<std::uint8_t>(v >> 16),
                                static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
    }
    return image;
}

namespace {

// Rows of 24-bit BGR, top row first, each padded to 4 bytes.
std::vector<std::uint8_t> bgrRows(const Image& image, std::size_t& stride) {
    stride = (static_cast<std::size_t>(image.width) * 3 + 3) & ~std::size_t{3};
    std::vector<std::uint8_t> out(stride * static_cast<std::size_t>(image.height), 0);
    for (int y = 0; y < image.height; ++y) {
        std::uint8_t* row = out.data() + stride * static_cast<std::size_t>(y);
        for (int x = 0; x < image.width; ++x) {
            const Color c = image.at(x, y);
            row[x * 3] = c.b;
            row[x * 3 + 1] = c.g;
            row[x * 3 + 2] = c.r;
        }
    }
    return out;
}

bool writeBmp(const Image& image, const std::filesystem::path& path) {
    std::size_t stride = 0;
    const std::vector<std::uint8_t> rows = bgrRows(image, stride);
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = image.width;
    info.biHeight = -image.height;  // top-down
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(rows.size());
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = static_cast<DWORD>(file.bfOffBits + rows.size());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&info), sizeof(info));
    out.write(reinterpret_cast<const char*>(rows.data()),
              static_cast<std::streamsize>(rows.size()));
    out.close();
    return out.good();
}

template <typename T>
struct ComRelease {
    T* p = nullptr;
    ~ComRelease() {
        if (p) p->Release();
    }
};

bool writePng(const Image& image, const std::filesystem::path& path) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool ok = false;
    {
        ComRelease<IWICImagingFactory> factory;
        ComRelease<IWICStream> stream;
        ComRelease<IWICBitmapEncoder> encoder;
        ComRelease<IWICBitmapFrameEncode> frame;
        std::size_t stride = 0;
        std::vector<std::uint8_t> rows = bgrRows(image, stride);
        WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
        ok = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IWICImagingFactory,
                                        reinterpret_cast<void**>(&factory.p))) &&
             SUCCEEDED(factory.p->CreateStream(&stream.p)) &&
             SUCCEEDED(stream.p->InitializeFromFilename(path.wstring().c_str(), GENERIC_WRITE)) &&
             SUCCEEDED(factory.p->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder.p)) &&
             SUCCEEDED(encoder.p->Initialize(stream.p, WICBitmapEncoderNoCache)) &&
             SUCCEEDED(encoder.p->CreateNewFrame(&frame.p, nullptr)) &&
             SUCCEEDED(frame.p->Initialize(nullptr)) &&
             SUCCEEDED(frame.p->SetSize(static_cast<UINT>(image.width),
                                        static_cast<UINT>(image.height))) &&
             SUCCEEDED(frame.p->SetPixelFormat(&format)) &&
             IsEqualGUID(format, GUID_WICPixelFormat24bppBGR) &&
             SUCCEEDED(frame.p->WritePixels(static_cast<UINT>(image.height),
                                            static_cast<UINT>(stride),
                                            static_cast<UINT>(rows.size()), rows.data())) &&
             SUCCEEDED(frame.p->Commit()) && SUCCEEDED(encoder.p->Commit());
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return ok;
}

}  // namespace

bool saveImage(const Image& image, const std::filesystem::path& path) {
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    std::wstring ext = path.extension().wstring();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::towlower);
    if (ext == L".png") return writePng(image, path);
    return writeBmp(image, path);
}

bool saveWindowImage(const Dialog& dialog, const std::filesystem::path& path) {
    const std::optional<Image> image = grabWindow(dialog);
    return image && saveImage(*image, path);
}

std::optional<Image> loadBmp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    in.read(reinterpret_cast<char*>(&file), sizeof(file));
    in.read(reinterpret_cast<char*>(&info), sizeof(info));
    if (!in || file.bfType != 0x4D42 || info.biBitCount != 24 || info.biCompression != BI_RGB ||
        info.biWidth <= 0 || info.biHeight == 0)
        return std::nullopt;
    Image image;
    image.width = info.biWidth;
    image.height = info.biHeight < 0 ? -info.biHeight : info.biHeight;
    const std::size_t stride = (static_cast<std::size_t>(image.width) * 3 + 3) & ~std::size_t{3};
    std::vector<std::uint8_t> rows(stride * static_cast<std::size_t>(image.height));
    in.seekg(file.bfOffBits);
    in.read(reinterpret_cast<char*>(rows.data()), static_cast<std::streamsize>(rows.size()));
    if (!in) return std::nullopt;
    image.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y) {
        const int fileRow = info.biHeight < 0 ? y : image.height - 1 - y;
        const std::uint8_t* row = rows.data() + stride * static_cast<std::size_t>(fileRow);
        for (int x = 0; x < image.width; ++x)
            image.pixels[static_cast<std::size_t>(y) * image.width + x] = {
                row[x * 3 + 2], row[x * 3 + 1], row[x * 3]};
    }
    return image;
}

std::vector<std::string> commandLineArguments() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    if (!argv) return args;
    for (int i = 1; i < argc; ++i)
        args.push_back(
            platform::toUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(argv[i]),
                                                 std::char_traits<wchar_t>::length(argv[i]))));
    LocalFree(argv);
    return args;
}

}  // namespace ui::win32
