#include "app/poll_loop.h"

#include <chrono>
#include <cstdint>

#include "app/app_context.h"
#include "app/main_window.h"

namespace app {

PollLoop::PollLoop(MainWindow& window) : window_(window), context_(window.context()) {}

int PollLoop::run() {
    using std::chrono::milliseconds;
    drive::DriveSession& session = context_.session;
    while (!window_.stopRequested()) {
        if (!session.connected()) {
            showStatus(66, u"通讯未连接");
            window_.waitUnlessStopped(milliseconds(kIdleSleepMs));
            continue;
        }
        // A result belongs to the connection it was made on: one that ends
        // after a disconnect or a new connect is dropped by noteFault.
        const std::uint64_t generation = session.generation();
        const int page = window_.visiblePage();
        bool acquired = false;
        if (session.faultCode() != 0) {
            // The probe stores its own result as the fault code.
            if (session.probe())
                showStatus(64, u"通讯连接OK");
            else
                showStatus(65, u"网络通讯异常");
        } else if (const auto result = window_.pollPage(page)) {
            session.noteFault(generation, *result);
            acquired = page == kScopePage;
        }
        // Only a scope acquisition goes on without a pause: it paces itself.
        // A probe does not, and a link that fails at once must not spin.
        if (!acquired) window_.waitUnlessStopped(milliseconds(kPollSleepMs));
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
