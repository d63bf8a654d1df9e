#pragma once
#include "ui/dialog.h"

namespace app {

// The language choice at start (template 136). A button sets the choice and
// ends the dialog as confirmed; any other way out (Escape, the close box)
// leaves the choice as it was when the dialog opened: 0, Chinese.
class LanguageDialog : public ui::Dialog {
  public:
    static constexpr int kChinese = 1099;
    static constexpr int kEnglish = 1100;
    static constexpr int kOther = 1101;  // hidden and disabled in the template

    enum Choice { Chinese = 0, English = 1, Other = 2 };

    LanguageDialog();
    int choice() const { return choice_; }

  protected:
    bool onInitDialog() override;
    void onCommand(int id) override;

  private:
    int choice_ = Chinese;
};

// The About box (template 100): icon, program name and version, OK.
class AboutDialog : public ui::Dialog {
  public:
    AboutDialog();
};

}  // namespace app
