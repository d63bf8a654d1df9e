#pragma once
#include <cstdint>
#include <span>
#include <string_view>

// Dialog templates and the string table, named by resource number. The
// templates describe each dialog as its resource script would: caption, size
// in dialog units, font, and the controls in tab order with their texts,
// styles and rectangles. The dialog layer (src/ui) builds windows from them.
namespace resources {

// Dialog resources.
inline constexpr int kAboutDialog = 100;
inline constexpr int kMainDialog = 102;
inline constexpr int kScopePage = 130;
inline constexpr int kParameterPage = 131;
inline constexpr int kRangeDialog = 132;
inline constexpr int kStatusPage = 135;
inline constexpr int kLanguageDialog = 136;
inline constexpr int kScanDialog = 140;
inline constexpr int kNetworkPortDialog = 141;
inline constexpr int kCompareDialog = 142;
inline constexpr int kCompareConfirmDialog = 143;
inline constexpr int kBusMonitorDialog = 144;

// String table entries.
inline constexpr int kAboutMenuText = 101;
inline constexpr int kSocketStartFailedText = 103;
inline constexpr int kBusMonitorMenuText = 104;

// The program icon (window icon, About box).
inline constexpr int kMainIcon = 128;

// Id of statics that no code addresses.
inline constexpr int kStaticId = -1;

enum class ControlKind : std::uint8_t {
    Static,
    GroupBox,
    PushButton,
    CheckBox,     // auto check box; push-like with style::kPushLike
    RadioButton,  // auto radio button
    Edit,
    ComboBox,      // drop-down: an edit field with a list
    DropDownList,  // drop-down list: selection only
    ListView,
    TabControl,
    ProgressBar,
    TrackBar,  // horizontal unless style::kVertical
    Icon,      // static showing the icon resource in ControlTemplate::image
};

namespace style {
inline constexpr std::uint32_t kVisible = 1u << 0;
inline constexpr std::uint32_t kEnabled = 1u << 1;
inline constexpr std::uint32_t kGroup = 1u << 2;  // starts a group (radio buttons, tab order)
inline constexpr std::uint32_t kTabStop = 1u << 3;
inline constexpr std::uint32_t kMultiLine = 1u << 4;
inline constexpr std::uint32_t kReadOnly = 1u << 5;
inline constexpr std::uint32_t kVScroll = 1u << 6;
inline constexpr std::uint32_t kPushLike = 1u << 7;
inline constexpr std::uint32_t kDefaultButton = 1u << 8;
inline constexpr std::uint32_t kReportView = 1u << 9;
inline constexpr std::uint32_t kSingleSelection = 1u << 10;
inline constexpr std::uint32_t kShowSelectionAlways = 1u << 11;
inline constexpr std::uint32_t kNoSortHeader = 1u << 12;      // list headers are not buttons
inline constexpr std::uint32_t kVertical = 1u << 13;          // track bar orientation
inline constexpr std::uint32_t kCenterVertically = 1u << 14;  // static text

// The usual state of a control in a resource: shown and usable.
inline constexpr std::uint32_t kNormal = kVisible | kEnabled;
// Hidden and disabled at creation.
inline constexpr std::uint32_t kHidden = 0;
}  // namespace style

namespace dialog_style {
inline constexpr std::uint32_t kChild = 1u << 0;  // a page inside another window, no caption
inline constexpr std::uint32_t kSystemMenu = 1u << 1;
inline constexpr std::uint32_t kMinimizeBox = 1u << 2;
inline constexpr std::uint32_t kResizable = 1u << 3;
inline constexpr std::uint32_t kVisible = 1u << 4;
}  // namespace dialog_style

// A rectangle in dialog units, as a resource script writes it.
struct UnitRect {
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
};

struct ControlTemplate {
    int id = kStaticId;
    ControlKind kind = ControlKind::Static;
    std::u16string_view text;
    std::uint32_t style = style::kNormal;
    UnitRect rect;
    int image = 0;  // icon resource of an Icon control
};

struct DialogTemplate {
    int id = 0;
    std::u16string_view caption;
    int cx = 0;  // client size in dialog units
    int cy = 0;
    std::u16string_view fontName;
    int fontPoints = 9;
    std::uint32_t style = 0;
    std::span<const ControlTemplate> controls;  // in tab order
};

// The template of a dialog resource, or nullptr for an unknown number.
const DialogTemplate* findDialog(int id);

// A string table entry; empty for an unknown number.
std::u16string_view loadString(int id);

}  // namespace resources
