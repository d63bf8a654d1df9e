#include "app/poll_loop.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <thread>

#include "app/app_context.h"
#include "app/main_window.h"

namespace app {
namespace {

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

PollLoop::PollLoop(MainWindow& window) : window_(window), context_(window.context()) {}

int PollLoop::run() {
    constexpr auto r = std::memory_order_relaxed;
    LinkState& link = context_.link;
    while (!window_.stopRequested()) {
        if (link.connected.load(r) == 0) {
            showStatus(66, u"通讯未连接");
            sleepMs(kIdleSleepMs);
            continue;
        }
        const int page = window_.visiblePage();
        bool acquired = false;
        if (link.faultCode.load(r) != 0) {
            // The probe: one holding register at address 0; the value is not used.
            std::array<std::uint8_t, 4> scratch{};
            const std::uint8_t result = context_.drive.readRegisters(0, scratch.data(), 2);
            link.faultCode.store(result, r);
            if (result != 0)
                showStatus(65, u"网络通讯异常");
            else
                showStatus(64, u"通讯连接OK");
        } else if (const auto result = window_.pollPage(page)) {
            link.faultCode.store(*result, r);
            acquired = page == kScopePage;
        }
        // Only a scope acquisition goes on without a pause: it paces itself.
        // A probe does not, and a link that fails at once must not spin.
        if (!acquired) sleepMs(kPollSleepMs);
    }
    return 0;
}

void PollLoop::showStatus(std::size_t entry, std::u16string_view fallback) {
    const std::u16string_view text = context_.uiText(entry, fallback);
    if (anyShown_ && shown_ == text) return;
    anyShown_ = true;
    shown_ = text;
    window_.postStatusText(shown_);
}

}  // namespace app
