#include "pages/scope/scope_page.h"

#include <chrono>
#include <thread>

#include "resources/resources.h"

namespace pages {

ScopePage::ScopePage(app::AppContext& context)
    : MainPage(resources::kScopePage), context_(context) {}

bool ScopePage::onInitDialog() {
    layout();
    return true;
}

std::uint8_t ScopePage::acquire() {
    // The poll loop does not pause after an acquisition: it must pace itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return 0;
}

void ScopePage::refresh() {}

void ScopePage::layout() {
    move(context_.pageRect);
}

}  // namespace pages
