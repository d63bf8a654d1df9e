#include "pages/parameters/parameter_page.h"

#include "resources/resources.h"

namespace pages {

ParameterPage::ParameterPage(app::AppContext& context)
    : MainPage(resources::kParameterPage), context_(context) {}

bool ParameterPage::onInitDialog() {
    layoutControls();
    return true;
}

std::uint8_t ParameterPage::readDriveValues() {
    return 0;
}

void ParameterPage::refreshView() {}

void ParameterPage::layoutControls() {
    move(context_.pageRect);
}

}  // namespace pages
