#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "resources/resources.h"
#include "ui/geometry.h"

namespace ui {

class Dialog;
using resources::ControlKind;
namespace style = resources::style;

// List view extended styles.
namespace list_style {
inline constexpr std::uint32_t kFullRowSelect = 1u << 0;
inline constexpr std::uint32_t kGridLines = 1u << 1;
// A check box in front of each row, which the user ticks (Dialog::userCheckRow).
inline constexpr std::uint32_t kCheckBoxes = 1u << 2;
}  // namespace list_style

// What changed in a control, for the backend that shows it. `index` in
// WindowView::controlChanged names the row, column, item or tab where it matters.
enum class Change : std::uint8_t {
    Text,
    Enabled,
    Visible,
    Geometry,
    Check,
    Items,      // combo items or tab items (all of them)
    Selection,  // combo or tab selection
    Columns,    // list columns (all of them)
    Rows,       // list rows (all of them)
    Cell,       // one list cell: index = row, see Control::changedColumn()
    RowState,   // selected state of one row (index), or of all rows (index -1)
    SelectionMark,
    EnsureVisible,  // index = row to scroll into view
    RowCheck,       // check box of one row (index)
    RowHighlight,   // highlight of one row (index)
    ExtendedStyle,
    EditSelection,
    Range,  // progress or track bar range or page size
    Position,
    Focus,
    TextColor,
    Style,  // style flags (the default button)
    // Rows added at the end (index = the first new row) or taken from the
    // start (index = how many): one change however many rows, so that a long
    // list that grows and sheds rows costs only what changed.
    RowsAppended,
    RowsRemoved,
};

struct ListColumn {
    std::u16string header;
    int width = 0;
};

// The state of one control of a dialog, kept by the dialog layer itself so that
// every backend shows the same thing and page logic can be tested without one.
// All operations belong to the user interface thread. An operation that does not
// fit the control's kind is a programming error, reported like a thread error.
class Control {
  public:
    Control(Dialog& owner, const resources::ControlTemplate& t, const Rect& pixels);
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    int id() const { return id_; }
    ControlKind kind() const { return kind_; }
    std::uint32_t style() const { return style_; }
    bool hasStyle(std::uint32_t flags) const { return (style_ & flags) == flags; }
    int image() const { return image_; }
    Dialog& owner() const { return *owner_; }

    // Window state. The rect is in the owner dialog's client pixels.
    const std::u16string& text() const;
    void setText(std::u16string_view text);
    bool isEnabled() const;
    void enable(bool on);
    bool isVisible() const;
    void show(bool on);
    Rect rect() const;
    Rect clientRect() const;
    void move(const Rect& rect);
    // The control's top-left corner in screen pixels.
    Point screenOrigin() const;
    void setFocus();
    bool hasFocus() const;
    // Static texts: the colour of the text; nothing for the system's colour.
    void setTextColor(std::optional<Color> color);
    std::optional<Color> textColor() const { return textColor_; }

    // Buttons: 0 clear, 1 checked. Setting a radio button does not touch the
    // others of its group; the dialog's radio operations do.
    int check() const;
    void setCheck(int state);

    // Combo boxes and tab controls share the item list and its selection.
    int addItem(std::u16string_view text);
    int insertItem(int index, std::u16string_view text);
    void clearItems();
    int itemCount() const;
    std::u16string itemText(int index) const;
    int selection() const;
    // Selects the item, or none for -1 or an index out of range. Sends no
    // notification. Returns what the toolkit call does: a combo box the new
    // selection (-1 for none, as CB_SETCURSEL), a tab control the previous one.
    int setSelection(int index);
    // Tab controls: an item's rectangle in the control's client pixels.
    Rect itemRect(int index) const;

    // List view in report view.
    int insertColumn(int index, std::u16string_view header, int width);
    int columnCount() const;
    ListColumn column(int index) const;
    int insertRow(int index, std::u16string_view firstCell);
    // Appends rows of cells (extra cells beyond the columns are dropped) and
    // returns the index of the first. A list whose last row was in view keeps
    // its last row in view; one scrolled elsewhere stays where it is.
    int appendRows(std::vector<std::vector<std::u16string>> rows);
    // Deletes the first `count` rows (all of them when there are fewer); the
    // rows that stay keep their place on screen where the toolkit can.
    void deleteFirstRows(int count);
    void deleteAllRows();
    int rowCount() const;
    bool setCellText(int row, int column, std::u16string_view text);
    std::u16string cellText(int row, int column) const;
    int selectionMark() const;
    int setSelectionMark(int row);  // returns the previous mark
    bool ensureVisible(int row);
    int lastEnsuredVisible() const;  // row of the last ensureVisible, -1 before any
    bool setRowSelected(int row, bool selected);
    bool isRowSelected(int row) const;
    int firstSelectedRow() const;  // -1 when none
    // The row's check box (shown with list_style::kCheckBoxes); kept with the
    // row, cleared for a new row.
    bool setRowChecked(int row, bool checked);
    bool isRowChecked(int row) const;
    // A row drawn on a highlight background (e.g. a value that differs).
    bool setRowHighlighted(int row, bool on);
    bool isRowHighlighted(int row) const;
    void setExtendedStyle(std::uint32_t styles);
    std::uint32_t extendedStyle() const;
    int changedColumn() const { return changedColumn_; }

    // Edits: selection as character positions; end -1 means the text's end.
    void setEditSelection(int start, int end);
    std::pair<int, int> editSelection() const;

    // Progress bars and track bars. The position is kept inside the range.
    void setRange(int low, int high);
    int rangeLow() const;
    int rangeHigh() const;
    void setPageSize(int size);
    int pageSize() const;
    void setPosition(int position);
    int position() const;

    // Used by the dialog for the user's input: the state changes as a user's
    // action would change it, without the kind check or notifications to handlers.
    void assignText(std::u16string text);
    void assignCheck(int state);
    // Sets or clears style flags, as BM_SETSTYLE; notifies Change::Style.
    void setStyleFlags(std::uint32_t flags, bool on);

  private:
    friend class Dialog;
    bool touch(const char* what) const;
    bool expect(bool kindMatches, const char* what) const;
    bool isList() const;
    bool hasItems() const;
    void notify(Change change, int index = -1);
    int clampPosition(int p) const;

    Dialog* owner_;
    int id_;
    ControlKind kind_;
    std::uint32_t style_;
    int image_;
    std::u16string text_;
    bool visible_;
    bool enabled_;
    Rect rect_;
    int check_ = 0;
    std::vector<std::u16string> items_;
    int selection_ = -1;
    std::vector<ListColumn> columns_;
    std::vector<std::vector<std::u16string>> rows_;
    std::vector<bool> rowSelected_;
    std::vector<bool> rowChecked_;
    std::vector<bool> rowHighlighted_;
    int selectionMark_ = -1;
    int ensured_ = -1;
    std::uint32_t extendedStyle_ = 0;
    int changedColumn_ = -1;
    int editStart_ = 0;
    int editEnd_ = 0;
    int low_ = 0;
    int high_ = 100;
    int pageSize_ = 1;
    int position_ = 0;
    std::optional<Color> textColor_;
};

}  // namespace ui
