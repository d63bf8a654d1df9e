#pragma once
// Layout by measurement: what a control needs to show its text in the font
// in use, and the checks that a dialog's controls fit, stay inside and do
// not overlap. Pages size their controls from fitSize() rather than from
// fixed widths, so that every language's texts fit.
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/geometry.h"

namespace ui {

class Control;
class Dialog;

// What a backend adds around a control's text, in pixels.
struct ControlChrome {
    Size button{16, 8};   // push buttons and push-like check boxes
    Size check{20, 2};    // check box or radio indicator with its gap
    Size edit{8, 8};      // single-line edit frame and margins
    Size combo{28, 8};    // combo box frame and drop-down arrow
    int groupTitle = 16;  // group box frame beside its title
    int header = 12;      // list column header padding
};

// One line of text in a font: its width and height in pixels.
using MeasureLine = std::function<Size(std::u16string_view)>;

// The lines of a text (split at line ends, "\r\n" or "\n") wrapped to
// `width` at spaces (anywhere inside a word longer than the width, and
// between wide characters); width 0 does not wrap.
std::vector<std::u16string> wrapText(std::u16string_view text, int width,
                                     const MeasureLine& measure);

// The size a control needs for all of its text by kind: a static its
// (wrapped) lines; buttons, check and radio buttons, single-line edits their
// text with the chrome; a combo box its widest item or text; a group box its
// title. Lists, tab controls, multi-line edits, bars and icons scroll or size
// themselves: {0, 0}. For a list, columnFits() checks the headers.
Size contentSize(const Control& c, int width, const MeasureLine& measure,
                 const ControlChrome& chrome, std::optional<std::u16string_view> text = {});
// Every column header of a list fits its column.
bool columnFits(const Control& list, const MeasureLine& measure, const ControlChrome& chrome);

// The rectangle that the control covers on screen: a combo box's resource
// height includes its list, which shows only when dropped down.
Rect shownRect(const Dialog& d, const Control& c);

struct LayoutIssue {
    enum class Kind { TextCut, Outside, Overlap };
    Kind kind;
    int id = 0;
    int other = 0;  // Overlap: the other control; Outside of a page: its host
    std::string message;
};

// The visible controls of the dialog and of its shown pages:
// - TextCut: a text does not fit its control (textFits);
// - Outside: a control not wholly inside `area` (the dialog's client area
//   when empty), a page not inside its host control's client area;
// - Overlap: two controls that intersect, where a group box may hold
//   controls wholly inside it.
std::vector<LayoutIssue> findLayoutIssues(const Dialog& d, Rect area = {});
// Only Outside and Overlap: what a window size decides.
std::vector<LayoutIssue> findPlacementIssues(const Dialog& d, Rect area = {});

// The smallest size between low and high (inclusive) for which fits() holds:
// the width searched at the high height, then the height at that width;
// fits() is taken as monotonic. `high` when nothing smaller fits.
Size smallestFittingSize(Size low, Size high, const std::function<bool(Size)>& fits);

// The widest fitSize of the controls (0 for none).
int widestFit(const Dialog& d, std::initializer_list<int> ids);

}  // namespace ui
