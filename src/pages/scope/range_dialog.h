#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "data/language.h"
#include "ui/dialog.h"

namespace pages {

// The standard number rule of the dialog's edits: at most the first 31
// characters count; leading blanks and tabs, a decimal number (optional sign,
// digits with an optional point, optional exponent), then only blanks and
// tabs. A zero value is accepted only when the number starts with the digit 0
// (so "-0" and ".0" are refused). Nothing when the text breaks the rule.
std::optional<double> parseEditNumber(std::u16string_view text);

// The channel range dialog (template 132): lists every scope quantity with its
// range and writes a new minimum and maximum into the selected quantity's row
// at each press of "确认修改" or Enter. No row is selected at start, and without
// one Apply does nothing. Closing applies nothing; the changes it made stay.
// Runs modally on the user interface thread.
class RangeDialog : public ui::Dialog {
  public:
    static constexpr int kList = 1011;
    static constexpr int kMinimumEdit = 1035;
    static constexpr int kMaximumEdit = 1038;
    static constexpr int kInputEdit = 1033;  // hidden, holds 0
    static constexpr int kApply = 1067;

    // `caption` replaces the template's title when not empty. The quantities
    // and texts must outlive the dialog. The texts that the language file
    // lacks come in English or, with `english` false, in Chinese.
    RangeDialog(data::ScopeTable& quantities, const data::UiTextTable& texts,
                std::u16string caption, bool english = false);

    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }

  protected:
    bool onInitDialog() override;
    void onCommand(int id) override;
    void onOk() override;
    void onListClick(int id, int row) override;
    ui::KeyAction preTranslateKey(ui::Key key) override;

  private:
    void fillEdits(int row);
    void applyRange();
    // Reads the edits 1033, 1038, 1035 into the members by the number rule;
    // at the first broken rule shows the number message, focuses and selects
    // that edit and returns false.
    bool readEdits();
    void writeEdits();
    void showRow(int row);
    std::u16string_view say(std::size_t entry, std::u16string_view english,
                            std::u16string_view chinese) const {
        return texts_.text(entry, english_ ? english : chinese);
    }

    data::ScopeTable& quantities_;
    const data::UiTextTable& texts_;
    std::u16string caption_;
    bool english_ = false;
    double minimum_ = 0.0;
    double maximum_ = 0.0;
    double input_ = 0.0;
};

// The scope page's "设置参数范围": runs the range dialog over the language's
// scope quantities with the caption UI 122, and ignores its result. `english`:
// the language chosen at start (AppContext::englishTexts).
void openRangeDialog(data::LanguageData& language, bool english);

}  // namespace pages
