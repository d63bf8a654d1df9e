#include "ui/backend.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "platform/text.h"

namespace ui {
namespace {

std::atomic<Backend*> g_backend{nullptr};
std::atomic<std::thread::id> g_uiThread{};
std::mutex g_handlerMutex;
ViolationHandler g_handler;
std::u16string g_title = u"伺服管理软件";
bool g_unattended = false;  // user interface thread only, as the services
int g_unattendedErrors = 0;

Backend* serviceBackend(const char* what) {
    if (!onUiThread()) reportViolation(std::string(what) + " called off the user interface thread");
    Backend* b = g_backend.load(std::memory_order_relaxed);
    if (!b) reportViolation(std::string(what) + " called with no user interface backend");
    return b;
}

}  // namespace

void setBackend(Backend* backend) {
    g_backend.store(backend, std::memory_order_relaxed);
    g_uiThread.store(backend ? std::this_thread::get_id() : std::thread::id{},
                     std::memory_order_relaxed);
}

Backend* currentBackend() {
    return g_backend.load(std::memory_order_relaxed);
}

bool onUiThread() {
    const std::thread::id ui = g_uiThread.load(std::memory_order_relaxed);
    return ui == std::thread::id{} || ui == std::this_thread::get_id();
}

void reportViolation(std::string_view message) {
    ViolationHandler handler;
    {
        std::lock_guard lock(g_handlerMutex);
        handler = g_handler;
    }
    if (handler) {
        handler(message);
        return;
    }
    std::fprintf(stderr, "ui: %.*s\n", static_cast<int>(message.size()), message.data());
    std::abort();
}

ViolationHandler setViolationHandler(ViolationHandler handler) {
    std::lock_guard lock(g_handlerMutex);
    std::swap(g_handler, handler);
    return handler;
}

void setUnattended(bool on) {
    g_unattended = on;
}

bool unattended() {
    return g_unattended;
}

int unattendedErrorCount() {
    return g_unattendedErrors;
}

int messageBox(std::u16string_view text, std::u16string_view caption, MessageIcon icon) {
    Backend* b = serviceBackend("messageBox");
    if (g_unattended) {
        const char* kind = icon == MessageIcon::Error         ? "error"
                           : icon == MessageIcon::Exclamation ? "warning"
                                                              : "message";
        if (icon == MessageIcon::Error) ++g_unattendedErrors;
        std::string line = platform::toUtf8(text);
        for (std::size_t at = 0; (at = line.find('\n', at)) != std::string::npos; at += 3)
            line.replace(at, 1, "\n  ");
        std::fprintf(stderr, "%s: %s: %s (answered OK)\n", kind, platform::toUtf8(caption).c_str(),
                     line.c_str());
        std::fflush(stderr);
        return kIdOk;
    }
    return b ? b->messageBox(text, caption, icon) : kIdOk;
}

bool askYesNo(std::u16string_view text, std::u16string_view caption) {
    Backend* b = serviceBackend("askYesNo");
    if (g_unattended) {
        std::fprintf(stderr, "question: %s: %s (answered No)\n", platform::toUtf8(caption).c_str(),
                     platform::toUtf8(text).c_str());
        std::fflush(stderr);
        return false;
    }
    return b ? b->askYesNo(text, caption) : false;
}

std::optional<std::u16string> openFileDialog(std::u16string_view filter) {
    Backend* b = serviceBackend("openFileDialog");
    if (!b || g_unattended) return std::nullopt;
    return b->fileDialog({false, std::u16string(filter), false});
}

std::optional<std::u16string> saveFileDialog(std::u16string_view filter) {
    Backend* b = serviceBackend("saveFileDialog");
    if (!b || g_unattended) return std::nullopt;
    return b->fileDialog({true, std::u16string(filter), true});
}

void post(std::function<void()> task) {
    Backend* b = g_backend.load(std::memory_order_relaxed);
    if (!b) {
        reportViolation("post called with no user interface backend");
        return;
    }
    b->post(std::move(task));
}

std::unique_ptr<DrawContext> createMemoryContext(Size size) {
    Backend* b = serviceBackend("createMemoryContext");
    return b ? b->createMemoryContext(size) : nullptr;
}

std::u16string applicationTitle() {
    return g_title;
}
void setApplicationTitle(std::u16string_view title) {
    g_title = title;
}

DialogUnits Backend::dialogUnits(const resources::DialogTemplate& t) const {
    return DialogUnits::forFont(t.fontPoints);
}

DialogUnits DialogUnits::forFont(int points) {
    DialogUnits u;
    u.baseY = (points * 96 + 36) / 72;
    u.baseX = u.baseY / 2;
    return u;
}

// MulDiv(units, base, 4 or 8): rounded to the nearest pixel, as MapDialogRect.
int DialogUnits::toPixelsX(int units) const {
    return static_cast<int>(std::lround(units * baseX / 4.0));
}
int DialogUnits::toPixelsY(int units) const {
    return static_cast<int>(std::lround(units * baseY / 8.0));
}

Rect DialogUnits::toPixels(const resources::UnitRect& r) const {
    return {toPixelsX(r.x), toPixelsY(r.y), toPixelsX(r.x + r.cx), toPixelsY(r.y + r.cy)};
}

std::vector<FileFilter> parseFileFilter(std::u16string_view filter) {
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    while (start <= filter.size()) {
        const std::size_t bar = filter.find(u'|', start);
        if (bar == std::u16string_view::npos) {
            parts.push_back(filter.substr(start));
            break;
        }
        parts.push_back(filter.substr(start, bar - start));
        start = bar + 1;
    }
    std::vector<FileFilter> out;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        // "||" ends the list, as the double null of the Win32 filter does.
        if (parts[i].empty() || parts[i + 1].empty()) break;
        FileFilter f{std::u16string(parts[i]), {}};
        std::u16string_view p = parts[i + 1];
        while (!p.empty()) {
            const std::size_t semi = p.find(u';');
            std::u16string_view one = p.substr(0, semi);
            if (!one.empty()) f.patterns.emplace_back(one);
            if (semi == std::u16string_view::npos) break;
            p.remove_prefix(semi + 1);
        }
        if (!f.patterns.empty()) out.push_back(std::move(f));
    }
    return out;
}

}  // namespace ui
