#include "ui/control.h"

#include <algorithm>
#include <string>

#include "ui/backend.h"
#include "ui/dialog.h"

namespace ui {
namespace {

const char* kindName(ControlKind k) {
    switch (k) {
        case ControlKind::Static:
            return "static";
        case ControlKind::GroupBox:
            return "group box";
        case ControlKind::PushButton:
            return "push button";
        case ControlKind::CheckBox:
            return "check box";
        case ControlKind::RadioButton:
            return "radio button";
        case ControlKind::Edit:
            return "edit";
        case ControlKind::ComboBox:
            return "combo box";
        case ControlKind::DropDownList:
            return "drop-down list";
        case ControlKind::ListView:
            return "list view";
        case ControlKind::TabControl:
            return "tab control";
        case ControlKind::ProgressBar:
            return "progress bar";
        case ControlKind::TrackBar:
            return "track bar";
        case ControlKind::Icon:
            return "icon";
    }
    return "control";
}

// Tab item metrics of the layer itself: 12-pixel text, 6 pixels per narrow
// character, 12 per wide one, items 20 pixels high from y = 2.
int textWidth(const std::u16string& s) {
    int w = 0;
    for (char16_t c : s) w += c >= 0x2E80 ? 12 : 6;
    return w;
}

}  // namespace

Control::Control(Dialog& owner, const resources::ControlTemplate& t, const Rect& pixels)
    : owner_(&owner),
      id_(t.id),
      kind_(t.kind),
      style_(t.style),
      image_(t.image),
      text_(t.text),
      visible_((t.style & style::kVisible) != 0),
      enabled_((t.style & style::kEnabled) != 0),
      rect_(pixels) {}

bool Control::touch(const char* what) const {
    return owner_->touch(what);
}

bool Control::expect(bool kindMatches, const char* what) const {
    if (!touch(what)) return false;
    if (kindMatches) return true;
    reportViolation("control " + std::to_string(id_) + ": " + what + " on a " + kindName(kind_));
    return false;
}

bool Control::isList() const {
    return kind_ == ControlKind::ListView;
}
bool Control::hasItems() const {
    return kind_ == ControlKind::ComboBox || kind_ == ControlKind::DropDownList ||
           kind_ == ControlKind::TabControl;
}

void Control::notify(Change change, int index) {
    owner_->notifyControl(*this, change, index);
}

const std::u16string& Control::text() const {
    touch("Control::text");
    return text_;
}

void Control::setText(std::u16string_view text) {
    if (!touch("Control::setText") || text_ == text) return;
    text_ = text;
    notify(Change::Text);
}

void Control::assignText(std::u16string text) {
    if (text_ == text) return;
    text_ = std::move(text);
    notify(Change::Text);
}

bool Control::isEnabled() const {
    touch("Control::isEnabled");
    return enabled_;
}

void Control::enable(bool on) {
    if (!touch("Control::enable") || enabled_ == on) return;
    enabled_ = on;
    notify(Change::Enabled);
}

bool Control::isVisible() const {
    touch("Control::isVisible");
    return visible_;
}

void Control::show(bool on) {
    if (!touch("Control::show") || visible_ == on) return;
    visible_ = on;
    notify(Change::Visible);
}

Rect Control::rect() const {
    touch("Control::rect");
    return rect_;
}

Rect Control::clientRect() const {
    touch("Control::clientRect");
    return {0, 0, rect_.width(), rect_.height()};
}

void Control::move(const Rect& rect) {
    if (!touch("Control::move") || rect_ == rect) return;
    rect_ = rect;
    notify(Change::Geometry);
}

Point Control::screenOrigin() const {
    return owner_->screenOrigin() + rect_.topLeft();
}

void Control::setFocus() {
    if (!touch("Control::setFocus")) return;
    owner_->focusControl(this, false);
}

bool Control::hasFocus() const {
    return owner_->focus() == this;
}

void Control::setTextColor(std::optional<Color> color) {
    if (!expect(kind_ == ControlKind::Static, "setTextColor") || textColor_ == color) return;
    textColor_ = color;
    notify(Change::TextColor);
}

int Control::check() const {
    expect(kind_ == ControlKind::CheckBox || kind_ == ControlKind::RadioButton, "check");
    return check_;
}

void Control::setCheck(int state) {
    if (!expect(kind_ == ControlKind::CheckBox || kind_ == ControlKind::RadioButton, "setCheck"))
        return;
    assignCheck(state);
}

void Control::assignCheck(int state) {
    state = state != 0 ? 1 : 0;
    if (check_ == state) return;
    check_ = state;
    notify(Change::Check);
}

void Control::setStyleFlags(std::uint32_t flags, bool on) {
    if (!touch("setStyleFlags")) return;
    const std::uint32_t next = on ? (style_ | flags) : (style_ & ~flags);
    if (next == style_) return;
    style_ = next;
    notify(Change::Style);
}

int Control::addItem(std::u16string_view text) {
    return insertItem(static_cast<int>(items_.size()), text);
}

int Control::insertItem(int index, std::u16string_view text) {
    if (!expect(hasItems(), "insertItem")) return -1;
    if (index < 0 || index > static_cast<int>(items_.size()))
        index = static_cast<int>(items_.size());
    items_.insert(items_.begin() + index, std::u16string(text));
    if (selection_ >= index) ++selection_;
    // A tab control selects its first item by itself.
    if (kind_ == ControlKind::TabControl && selection_ < 0) selection_ = 0;
    notify(Change::Items);
    return index;
}

void Control::clearItems() {
    if (!expect(hasItems(), "clearItems")) return;
    items_.clear();
    selection_ = -1;
    if (kind_ == ControlKind::ComboBox) text_.clear();
    notify(Change::Items);
}

int Control::itemCount() const {
    if (!expect(hasItems(), "itemCount")) return 0;
    return static_cast<int>(items_.size());
}

std::u16string Control::itemText(int index) const {
    if (!expect(hasItems(), "itemText")) return {};
    if (index < 0 || index >= static_cast<int>(items_.size())) return {};
    return items_[static_cast<std::size_t>(index)];
}

int Control::selection() const {
    if (!expect(hasItems(), "selection")) return -1;
    return selection_;
}

int Control::setSelection(int index) {
    if (!expect(hasItems(), "setSelection")) return -1;
    const int previous = selection_;
    const bool valid = index >= 0 && index < static_cast<int>(items_.size());
    selection_ = valid ? index : -1;
    if (kind_ == ControlKind::ComboBox)
        text_ = valid ? items_[static_cast<std::size_t>(index)] : std::u16string();
    if (selection_ != previous || kind_ == ControlKind::ComboBox) notify(Change::Selection);
    if (kind_ == ControlKind::TabControl) return previous;
    return selection_;
}

Rect Control::itemRect(int index) const {
    if (!expect(kind_ == ControlKind::TabControl, "itemRect")) return {};
    if (index < 0 || index >= static_cast<int>(items_.size())) return {};
    if (WindowView* v = owner_->view())
        if (auto r = v->tabItemRect(*this, index)) return *r;
    int left = 2;
    for (int i = 0; i < index; ++i) left += textWidth(items_[static_cast<std::size_t>(i)]) + 18;
    return {left, 2, left + textWidth(items_[static_cast<std::size_t>(index)]) + 18, 22};
}

int Control::insertColumn(int index, std::u16string_view header, int width) {
    if (!expect(isList(), "insertColumn")) return -1;
    if (index < 0 || index > static_cast<int>(columns_.size()))
        index = static_cast<int>(columns_.size());
    columns_.insert(columns_.begin() + index, ListColumn{std::u16string(header), width});
    for (auto& row : rows_) {
        if (static_cast<int>(row.size()) >= index)
            row.insert(row.begin() + index, std::u16string());
    }
    notify(Change::Columns);
    return index;
}

int Control::columnCount() const {
    if (!expect(isList(), "columnCount")) return 0;
    return static_cast<int>(columns_.size());
}

ListColumn Control::column(int index) const {
    if (!expect(isList(), "column")) return {};
    if (index < 0 || index >= static_cast<int>(columns_.size())) return {};
    return columns_[static_cast<std::size_t>(index)];
}

int Control::insertRow(int index, std::u16string_view firstCell) {
    if (!expect(isList(), "insertRow")) return -1;
    if (index < 0 || index > static_cast<int>(rows_.size())) index = static_cast<int>(rows_.size());
    std::vector<std::u16string> row(std::max<std::size_t>(columns_.size(), 1));
    row[0] = firstCell;
    rows_.insert(rows_.begin() + index, std::move(row));
    rowSelected_.insert(rowSelected_.begin() + index, false);
    rowChecked_.insert(rowChecked_.begin() + index, false);
    rowHighlighted_.insert(rowHighlighted_.begin() + index, false);
    if (selectionMark_ >= index) ++selectionMark_;
    notify(Change::Rows);
    return index;
}

int Control::appendRows(std::vector<std::vector<std::u16string>> rows) {
    if (!expect(isList(), "appendRows")) return -1;
    const int first = static_cast<int>(rows_.size());
    if (rows.empty()) return first;
    const std::size_t width = std::max<std::size_t>(columns_.size(), 1);
    for (auto& row : rows) {
        row.resize(width);
        rows_.push_back(std::move(row));
    }
    rowSelected_.resize(rows_.size(), false);
    rowChecked_.resize(rows_.size(), false);
    rowHighlighted_.resize(rows_.size(), false);
    notify(Change::RowsAppended, first);
    return first;
}

void Control::deleteFirstRows(int count) {
    if (!expect(isList(), "deleteFirstRows")) return;
    count = std::min(count, static_cast<int>(rows_.size()));
    if (count <= 0) return;
    rows_.erase(rows_.begin(), rows_.begin() + count);
    rowSelected_.erase(rowSelected_.begin(), rowSelected_.begin() + count);
    rowChecked_.erase(rowChecked_.begin(), rowChecked_.begin() + count);
    rowHighlighted_.erase(rowHighlighted_.begin(), rowHighlighted_.begin() + count);
    selectionMark_ = selectionMark_ >= count ? selectionMark_ - count : -1;
    ensured_ = ensured_ >= count ? ensured_ - count : -1;
    notify(Change::RowsRemoved, count);
}

void Control::deleteAllRows() {
    if (!expect(isList(), "deleteAllRows")) return;
    rows_.clear();
    rowSelected_.clear();
    rowChecked_.clear();
    rowHighlighted_.clear();
    selectionMark_ = -1;
    ensured_ = -1;
    notify(Change::Rows);
}

int Control::rowCount() const {
    if (!expect(isList(), "rowCount")) return 0;
    return static_cast<int>(rows_.size());
}

bool Control::setCellText(int row, int column, std::u16string_view text) {
    if (!expect(isList(), "setCellText")) return false;
    if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0) return false;
    if (column >= std::max(static_cast<int>(columns_.size()), 1)) return false;
    auto& cells = rows_[static_cast<std::size_t>(row)];
    if (static_cast<int>(cells.size()) <= column)
        cells.resize(static_cast<std::size_t>(column) + 1);
    auto& cell = cells[static_cast<std::size_t>(column)];
    if (cell == text) return true;
    cell = text;
    changedColumn_ = column;
    notify(Change::Cell, row);
    return true;
}

std::u16string Control::cellText(int row, int column) const {
    if (!expect(isList(), "cellText")) return {};
    if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0) return {};
    const auto& cells = rows_[static_cast<std::size_t>(row)];
    if (column >= static_cast<int>(cells.size())) return {};
    return cells[static_cast<std::size_t>(column)];
}

int Control::selectionMark() const {
    if (!expect(isList(), "selectionMark")) return -1;
    return selectionMark_;
}

int Control::setSelectionMark(int row) {
    if (!expect(isList(), "setSelectionMark")) return -1;
    const int previous = selectionMark_;
    selectionMark_ = row >= 0 && row < static_cast<int>(rows_.size()) ? row : -1;
    if (selectionMark_ != previous) notify(Change::SelectionMark);
    return previous;
}

bool Control::ensureVisible(int row) {
    if (!expect(isList(), "ensureVisible")) return false;
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    ensured_ = row;
    notify(Change::EnsureVisible, row);
    return true;
}

int Control::lastEnsuredVisible() const {
    if (!expect(isList(), "lastEnsuredVisible")) return -1;
    return ensured_;
}

bool Control::setRowSelected(int row, bool selected) {
    if (!expect(isList(), "setRowSelected")) return false;
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    bool changed = false;
    if (selected && hasStyle(style::kSingleSelection)) {
        for (std::size_t i = 0; i < rowSelected_.size(); ++i) {
            if (static_cast<int>(i) != row && rowSelected_[i]) {
                rowSelected_[i] = false;
                changed = true;
            }
        }
    }
    if (rowSelected_[static_cast<std::size_t>(row)] != selected) {
        rowSelected_[static_cast<std::size_t>(row)] = selected;
        changed = true;
    }
    if (changed) notify(Change::RowState, -1);
    return true;
}

bool Control::isRowSelected(int row) const {
    if (!expect(isList(), "isRowSelected")) return false;
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    return rowSelected_[static_cast<std::size_t>(row)];
}

int Control::firstSelectedRow() const {
    if (!expect(isList(), "firstSelectedRow")) return -1;
    for (std::size_t i = 0; i < rowSelected_.size(); ++i)
        if (rowSelected_[i]) return static_cast<int>(i);
    return -1;
}

bool Control::setRowChecked(int row, bool checked) {
    if (!expect(isList(), "setRowChecked")) return false;
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    if (rowChecked_[static_cast<std::size_t>(row)] != checked) {
        rowChecked_[static_cast<std::size_t>(row)] = checked;
        notify(Change::RowCheck, row);
    }
    return true;
}

bool Control::isRowChecked(int row) const {
    if (!expect(isList(), "isRowChecked")) return false;
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    return rowChecked_[static_cast<std::size_t>(row)];
}

bool Control::setRowHighlighted(int row, bool on) {
    if (!expect(isList(), "setRowHighlighted")) return false;
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    if (rowHighlighted_[static_cast<std::size_t>(row)] != on) {
        rowHighlighted_[static_cast<std::size_t>(row)] = on;
        notify(Change::RowHighlight, row);
    }
    return true;
}

bool Control::isRowHighlighted(int row) const {
    if (!expect(isList(), "isRowHighlighted")) return false;
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    return rowHighlighted_[static_cast<std::size_t>(row)];
}

void Control::setExtendedStyle(std::uint32_t styles) {
    if (!expect(isList(), "setExtendedStyle") || extendedStyle_ == styles) return;
    extendedStyle_ = styles;
    notify(Change::ExtendedStyle);
}

std::uint32_t Control::extendedStyle() const {
    if (!expect(isList(), "extendedStyle")) return 0;
    return extendedStyle_;
}

void Control::setEditSelection(int start, int end) {
    if (!expect(kind_ == ControlKind::Edit || kind_ == ControlKind::ComboBox, "setEditSelection"))
        return;
    const int length = static_cast<int>(text_.size());
    if (end < 0 || end > length) end = length;
    start = std::clamp(start, 0, length);
    editStart_ = std::min(start, end);
    editEnd_ = std::max(start, end);
    notify(Change::EditSelection);
}

std::pair<int, int> Control::editSelection() const {
    if (!expect(kind_ == ControlKind::Edit || kind_ == ControlKind::ComboBox, "editSelection"))
        return {0, 0};
    const int length = static_cast<int>(text_.size());
    return {std::min(editStart_, length), std::min(editEnd_, length)};
}

namespace {
bool isRanged(ControlKind k) {
    return k == ControlKind::ProgressBar || k == ControlKind::TrackBar;
}
}  // namespace

int Control::clampPosition(int p) const {
    return std::clamp(p, low_, std::max(low_, high_));
}

void Control::setRange(int low, int high) {
    if (!expect(isRanged(kind_), "setRange")) return;
    low_ = low;
    high_ = high;
    position_ = clampPosition(position_);
    notify(Change::Range);
}

int Control::rangeLow() const {
    if (!expect(isRanged(kind_), "rangeLow")) return 0;
    return low_;
}

int Control::rangeHigh() const {
    if (!expect(isRanged(kind_), "rangeHigh")) return 0;
    return high_;
}

void Control::setPageSize(int size) {
    if (!expect(kind_ == ControlKind::TrackBar, "setPageSize")) return;
    pageSize_ = size;
    notify(Change::Range);
}

int Control::pageSize() const {
    if (!expect(kind_ == ControlKind::TrackBar, "pageSize")) return 0;
    return pageSize_;
}

void Control::setPosition(int position) {
    if (!expect(isRanged(kind_), "setPosition")) return;
    position = clampPosition(position);
    if (position == position_) return;
    position_ = position;
    notify(Change::Position);
}

int Control::position() const {
    if (!expect(isRanged(kind_), "position")) return 0;
    return position_;
}

}  // namespace ui
