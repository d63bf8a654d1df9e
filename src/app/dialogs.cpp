#include "app/dialogs.h"

#include "resources/resources.h"

namespace app {

LanguageDialog::LanguageDialog() : Dialog(resources::kLanguageDialog) {}

bool LanguageDialog::onInitDialog() {
    choice_ = Chinese;
    return true;
}

void LanguageDialog::onCommand(int id) {
    if (id >= kChinese && id <= kOther) {
        choice_ = id - kChinese;
        endDialog(ui::kIdOk);
        return;
    }
    Dialog::onCommand(id);
}

AboutDialog::AboutDialog() : Dialog(resources::kAboutDialog) {}

}  // namespace app
