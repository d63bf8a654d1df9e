#include "pages/scope/range_dialog.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

#include "data/parameters.h"
#include "ui/backend.h"

namespace pages {
namespace {

constexpr std::size_t kEditChars = 31;

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}
bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

std::u16string widen(const char* text) {
    std::u16string out;
    for (; *text; ++text) out.push_back(static_cast<unsigned char>(*text));
    return out;
}

// "%.*g" at precision 15, as the dialog writes its members into its edits.
std::u16string formatMember(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*g", 15, v);
    return widen(buffer);
}

// "%d" of the value truncated toward zero. Ranges from the language file or
// the settings file may lie outside int: they show saturated.
std::u16string formatWhole(double v) {
    int whole = 0;
    if (std::isnan(v))
        whole = 0;
    else if (v >= 2147483647.0)
        whole = std::numeric_limits<int>::max();
    else if (v <= -2147483648.0)
        whole = std::numeric_limits<int>::min();
    else
        whole = static_cast<int>(v);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", whole);
    return widen(buffer);
}

struct Bounds {
    double low;
    double high;
};

Bounds boundsForSize(int size) {
    if (size == 2) return {-32767.0, 32767.0};
    if (size == 4) return {-2147483647.0, 2147483647.0};
    return {0.0, 0.0};
}

// Layout in pixels.
constexpr int kColumnWidths[3] = {180, 100, 100};
constexpr int kDialogHeight = 418;

}  // namespace

std::optional<double> parseEditNumber(std::u16string_view text) {
    text = text.substr(0, std::min(text.size(), kEditChars));
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    const std::size_t start = i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
    bool digits = false;
    while (i < text.size() && isDigit(text[i])) ++i, digits = true;
    if (i < text.size() && text[i] == u'.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) ++i, digits = true;
    }
    if (!digits) return std::nullopt;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-')) ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j])) ++j;
            i = j;
        }
    }
    const std::size_t end = i;
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i != text.size()) return std::nullopt;
    const double value = data::readReal(text.substr(start, end - start));
    if (value == 0.0 && text[start] != u'0') return std::nullopt;
    return value;
}

RangeDialog::RangeDialog(data::ScopeTable& quantities, const data::UiTextTable& texts,
                         std::u16string caption, bool english)
    : Dialog(resources::kRangeDialog),
      quantities_(quantities),
      texts_(texts),
      caption_(std::move(caption)),
      english_(english) {}

bool RangeDialog::onInitDialog() {
    writeEdits();
    if (!caption_.empty()) setCaption(caption_);

    ui::Control& list = control(kList);
    list.setExtendedStyle(ui::list_style::kGridLines | ui::list_style::kFullRowSelect);
    list.insertColumn(0, say(123, u"Quantity", u"参数名称"), kColumnWidths[0]);
    list.insertColumn(1, say(124, u"Minimum", u"最小值"), kColumnWidths[1]);
    list.insertColumn(2, say(125, u"Maximum", u"最大值"), kColumnWidths[2]);
    for (std::size_t j = 0; j < quantities_.size(); ++j) {
        const int row = static_cast<int>(j);
        list.insertRow(row, quantities_[j].name.view());
        showRow(row);
    }

    int columns = 0;
    for (int i = 0; i < list.columnCount(); ++i) columns += list.column(i).width;
    const ui::Rect at = windowRect();
    move(ui::Rect::fromXywh(at.left, at.top, columns + 46, kDialogHeight));
    centerWindow();
    list.move(ui::Rect::fromXywh(10, 10, columns + 21, 333));
    control(kApply).move(ui::Rect::fromXywh(10, 351, 180, 25));
    control(kMinimumEdit).move(ui::Rect::fromXywh(192, 351, 100, 25));
    control(kMaximumEdit).move(ui::Rect::fromXywh(292, 351, 100, 25));
    setText(kApply, say(126, u"Apply", u"确认修改"));
    // Not the list: a list that takes the focus makes its first row current
    // on some toolkits, which would pass for a choice the user never made.
    setFocus(kMinimumEdit);
    return false;
}

void RangeDialog::showRow(int row) {
    const data::ScopeQuantity& q = quantities_[static_cast<std::size_t>(row)];
    ui::Control& list = control(kList);
    list.setCellText(row, 1, formatWhole(q.minimum));
    list.setCellText(row, 2, formatWhole(q.maximum));
}

void RangeDialog::writeEdits() {
    setText(kInputEdit, formatMember(input_));
    setText(kMaximumEdit, formatMember(maximum_));
    setText(kMinimumEdit, formatMember(minimum_));
}

bool RangeDialog::readEdits() {
    const std::pair<int, double*> edits[] = {
        {kInputEdit, &input_}, {kMaximumEdit, &maximum_}, {kMinimumEdit, &minimum_}};
    for (const auto& [id, member] : edits) {
        const std::optional<double> v = parseEditNumber(text(id));
        if (!v) {
            ui::messageBox(english_ ? u"Please enter a number." : u"请键入一个数。",
                           caption_.empty() ? say(122, u"Channel ranges", u"参数值范围设置")
                                            : std::u16string_view(caption_),
                           ui::MessageIcon::Exclamation);
            setFocus(id);
            control(id).setEditSelection(0, -1);
            return false;
        }
        *member = *v;
    }
    return true;
}

void RangeDialog::onCommand(int id) {
    if (id == kApply) {
        applyRange();
        return;
    }
    Dialog::onCommand(id);
}

void RangeDialog::onOk() {
    if (readEdits()) endDialog(ui::kIdOk);
}

ui::KeyAction RangeDialog::preTranslateKey(ui::Key key) {
    // Enter applies the edits and keeps the dialog open, wherever the focus
    // is but on OK and Cancel, which keep their meaning.
    if (key != ui::Key::Enter) return ui::KeyAction::Default;
    const ui::Control* focused = focus();
    if (focused && (focused->id() == ui::kIdOk || focused->id() == ui::kIdCancel))
        return ui::KeyAction::Default;
    applyRange();
    return ui::KeyAction::Swallow;
}

void RangeDialog::onListClick(int id, int row) {
    if (id == kList && row >= 0) fillEdits(row);
}

void RangeDialog::fillEdits(int row) {
    ui::Control& list = control(kList);
    if (row >= list.rowCount()) return;
    list.setSelectionMark(row);
    list.ensureVisible(row);
    list.setRowSelected(row, true);
    setFocus(kList);
    setText(kMinimumEdit, list.cellText(row, 1));
    setText(kMaximumEdit, list.cellText(row, 2));
}

void RangeDialog::applyRange() {
    const int sel = control(kList).selectionMark();
    if (sel < 0 || static_cast<std::size_t>(sel) >= quantities_.size()) return;
    if (!readEdits()) return;
    if (minimum_ > maximum_) {
        ui::messageBox(say(128, u"The minimum must not be greater than the maximum!",
                           u"设定的最小值不能大于最大值！"),
                       say(127, u"Warning", u"警告"), ui::MessageIcon::None);
        return;
    }
    // Both ends are kept inside the bounds of the quantity's size, so the
    // stored range stays ordered and fits its register type.
    data::ScopeQuantity& q = quantities_[static_cast<std::size_t>(sel)];
    const Bounds b = boundsForSize(q.size);
    minimum_ = std::clamp(minimum_, b.low, b.high);
    maximum_ = std::clamp(maximum_, b.low, b.high);
    q.minimum = minimum_;
    q.maximum = maximum_;
    showRow(sel);
}

void openRangeDialog(data::LanguageData& language, bool english) {
    RangeDialog dialog(language.scopeQuantities(), language.uiTexts(),
                       std::u16string(language.uiTexts().text(
                           122, english ? u"Channel ranges" : u"参数值范围设置")),
                       english);
    dialog.runModal();
}

}  // namespace pages
