#include "app/poll_loop.h"

#include <chrono>
#include <cstdint>

#include "app/app_context.h"
#include "app/main_window.h"

namespace app {
namespace {

// Failures of the port itself rather than of the drive's answer: opening it
// again may help, probing it does not.
bool portGone(const drive::Result& r) {
    using drive::Error;
    return r.error == Error::portFailure || r.error == Error::portUnavailable ||
           r.error == Error::notConnected || r.error == Error::channelUnavailable;
}

}  // namespace

PollLoop::PollLoop(MainWindow& window) : window_(window), context_(window.context()) {}

int PollLoop::run() {
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    drive::DriveSession& session = context_.session;
    // The connection whose port is being opened again (0 = none).
    std::uint64_t reopenGeneration = 0;
    Clock::time_point lastWatch{};
    while (!window_.stopRequested()) {
        if (!session.connected()) {
            window_.waitUnlessStopped(milliseconds(kIdleSleepMs));
            continue;
        }
        // A result belongs to the connection it was made on: one that ends
        // after a disconnect or a new connect is dropped by noteFault.
        const std::uint64_t generation = session.generation();
        if (reopenGeneration == generation) {
            const drive::Result r = session.reopen(generation);
            if (r) {
                reopenGeneration = 0;  // the next pass probes the drive
                continue;
            }
            if (session.generation() == generation) publish(generation, r, true);
            window_.waitUnlessStopped(milliseconds(kReopenPeriodMs));
            continue;
        }
        const int page = window_.visiblePage();
        bool acquired = false;
        if (session.faultCode() != 0) {
            // The probe stores its own result as the fault code.
            const drive::Result r = session.probe();
            // A probe that fails because the user disconnected meanwhile is
            // no fault of the port.
            const bool stillOurs = session.connected() && session.generation() == generation;
            if (!r && portGone(r) && stillOurs) {
                reopenGeneration = generation;
                publish(generation, r, true);
                window_.waitUnlessStopped(milliseconds(kReopenPeriodMs));
                continue;
            }
            if (stillOurs) publish(generation, r, false);
        } else if (const auto result = window_.pollPage(page)) {
            session.noteFault(generation, *result);
            acquired = page == kScopePage;
        }
        if (page != kStatusPage && session.healthy() &&
            Clock::now() - lastWatch >= milliseconds(kWatchPeriodMs)) {
            lastWatch = Clock::now();
            if (const auto result = window_.watchPage(kStatusPage))
                session.noteFault(generation, *result);
        }
        // Only a scope acquisition goes on without a pause: it paces itself.
        // A probe does not, and a link that fails at once must not spin.
        if (!acquired) window_.waitUnlessStopped(milliseconds(kPollSleepMs));
    }
    return 0;
}

void PollLoop::publish(std::uint64_t generation, const drive::Result& result, bool reopening) {
    LinkReport report{generation, result, reopening};
    if (anyPublished_ && report == published_) return;
    anyPublished_ = true;
    published_ = report;
    window_.publishLink(std::move(report));
}

}  // namespace app
