#include "pages/status/status_page.h"

#include "resources/resources.h"

namespace pages {

StatusPage::StatusPage(app::AppContext& context)
    : MainPage(resources::kStatusPage), context_(context) {}

bool StatusPage::onInitDialog() {
    layout();
    return true;
}

std::uint8_t StatusPage::pollStatus() {
    return 0;
}

void StatusPage::refreshStatus() {}

void StatusPage::layout() {
    move(context_.pageRect);
}

}  // namespace pages
