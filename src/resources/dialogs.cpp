#include <array>

#include "resources/resources.h"

namespace resources {
namespace {

using K = ControlKind;
namespace s = style;

constexpr std::uint32_t kButton = s::kNormal | s::kTabStop;
constexpr std::uint32_t kList =
    s::kNormal | s::kTabStop | s::kReportView | s::kSingleSelection | s::kShowSelectionAlways;
constexpr std::uint32_t kTextBox =
    s::kNormal | s::kTabStop | s::kMultiLine | s::kReadOnly | s::kVScroll;

// The pages place their controls in pixels at run time. Their resource rects
// mirror that layout for the nominal page of the 1000 x 730 main window
// (969 x 641 pixels); with the 9-point dialog font one dialog unit is 1.5 pixels
// both ways.
constexpr int kPageWidth = 969;
constexpr int kPageHeight = 641;
constexpr int toUnits(int pixels) {
    return (pixels * 2 + 1) / 3;
}
constexpr UnitRect px(int x, int y, int w, int h) {
    return {toUnits(x), toUnits(y), toUnits(w), toUnits(h)};
}

// 136: language choice.
constexpr std::array kLanguageControls{
    ControlTemplate{1099, K::PushButton, u"中文(Chinese)", kButton | s::kGroup, {15, 28, 70, 24}},
    ControlTemplate{1100, K::PushButton, u"英文(English)", kButton, {95, 28, 70, 24}},
    ControlTemplate{
        1101, K::PushButton, u"其它(Ohter)", s::kHidden | s::kTabStop, {175, 28, 70, 24}},
};

// 100: About box.
constexpr std::array kAboutControls{
    ControlTemplate{kStaticId, K::Icon, u"", s::kNormal, {11, 17, 20, 20}, kMainIcon},
    ControlTemplate{kStaticId, K::Static, u"伺服监控软件 1.0 版", s::kNormal, {40, 10, 130, 8}},
    ControlTemplate{
        kStaticId, K::Static, u"Modbus RTU 伺服驱动器服务工具", s::kNormal, {40, 25, 130, 8}},
    ControlTemplate{
        1, K::PushButton, u"确定", kButton | s::kGroup | s::kDefaultButton, {178, 7, 50, 14}},
};

// 102: main window.
constexpr std::array kMainControls{
    ControlTemplate{1064, K::TabControl, u"", s::kNormal | s::kTabStop, {5, 5, 260, 183}},
    ControlTemplate{1093, K::Static, u"", s::kNormal | s::kCenterVertically, {5, 193, 260, 12}},
};

// 135: communication and status page.
constexpr int kW = kPageWidth;
constexpr int kH = kPageHeight;
constexpr int kInputsY = 195;
constexpr int kOutputsY = 195 + 110 + 5;
constexpr int kLinkY = kOutputsY + 80 + 15;
constexpr UnitRect ioBox(int top, int i) {
    return px(460 + 125 * (i % 4), top + 22 + 30 * (i / 4), 120, 20);
}
constexpr std::uint32_t kIoBox = s::kEnabled | s::kTabStop;  // created hidden
constexpr std::array kStatusControls{
    ControlTemplate{1084, K::GroupBox, u"通讯管理", s::kNormal, px(10, 10, 580, 140)},
    ControlTemplate{1076, K::GroupBox, u"波特率选择", s::kNormal, px(20, 35, 245, 105)},
    ControlTemplate{1070, K::RadioButton, u"4800 bps", kButton | s::kGroup, px(30, 60, 100, 20)},
    ControlTemplate{1071, K::RadioButton, u"9600 bps", s::kNormal, px(150, 60, 100, 20)},
    ControlTemplate{1072, K::RadioButton, u"19200 bps", s::kNormal, px(30, 85, 100, 20)},
    ControlTemplate{1073, K::RadioButton, u"38400 bps", s::kNormal, px(150, 85, 100, 20)},
    ControlTemplate{1074, K::RadioButton, u"57600 bps", s::kNormal, px(30, 110, 100, 20)},
    ControlTemplate{1075, K::RadioButton, u"115200 bps", s::kNormal, px(150, 110, 100, 20)},
    ControlTemplate{1077, K::GroupBox, u"端口选择", s::kNormal | s::kGroup, px(275, 35, 155, 105)},
    ControlTemplate{1078, K::RadioButton, u"COM1", kButton | s::kGroup, px(285, 60, 60, 20)},
    ControlTemplate{1079, K::RadioButton, u"COM2", s::kNormal, px(360, 60, 60, 20)},
    ControlTemplate{1080, K::RadioButton, u"COM3", s::kNormal, px(285, 85, 60, 20)},
    ControlTemplate{1081, K::RadioButton, u"COM4", s::kNormal, px(360, 85, 60, 20)},
    ControlTemplate{1082, K::RadioButton, u"COM5", s::kNormal, px(285, 110, 60, 20)},
    ControlTemplate{1083, K::RadioButton, u"COM6", s::kNormal, px(360, 110, 60, 20)},
    ControlTemplate{1036, K::Static, u"站号", s::kNormal | s::kGroup, px(435, 59, 100, 16)},
    ControlTemplate{1037, K::DropDownList, u"", kButton | s::kVScroll, px(540, 55, 45, 200)},
    ControlTemplate{1065, K::PushButton, u"连接", kButton, px(465, 95, 90, 36)},
    // The ports that exist, the parity and the bus scan; placed at run time;
    // after Connect in the Tab order.
    ControlTemplate{1180, K::DropDownList, u"", kButton | s::kVScroll | s::kGroup,
                    px(600, 15, kW - 790, 300)},
    ControlTemplate{1181, K::DropDownList, u"", kButton | s::kVScroll, px(kW - 185, 15, 80, 150)},
    ControlTemplate{1182, K::PushButton, u"扫描...", kButton, px(kW - 100, 13, 90, 24)},
    ControlTemplate{1096, K::Static, u"", s::kNormal, px(600, 15, kW - 610, 135)},
    ControlTemplate{1069, K::GroupBox, u"系统状态", s::kNormal, px(10, 170, 420, 300)},
    ControlTemplate{1068, K::ListView, u"", kList, px(20, 200, 400, 260)},
    ControlTemplate{1103, K::Edit, u"", kTextBox, px(10, 480, 420, 155)},
    ControlTemplate{1097, K::GroupBox, u"IO状态", s::kNormal, px(440, 170, kW - 450, kLinkY - 177)},
    ControlTemplate{1090, K::GroupBox, u"输入检测", s::kNormal, px(450, kInputsY, kW - 470, 110)},
    ControlTemplate{1012, K::CheckBox, u"X0", kIoBox, ioBox(kInputsY, 0)},
    ControlTemplate{1013, K::CheckBox, u"X1", kIoBox, ioBox(kInputsY, 1)},
    ControlTemplate{1014, K::CheckBox, u"X2", kIoBox, ioBox(kInputsY, 2)},
    ControlTemplate{1015, K::CheckBox, u"X3", kIoBox, ioBox(kInputsY, 3)},
    ControlTemplate{1016, K::CheckBox, u"X4", kIoBox, ioBox(kInputsY, 4)},
    ControlTemplate{1017, K::CheckBox, u"X5", kIoBox, ioBox(kInputsY, 5)},
    ControlTemplate{1018, K::CheckBox, u"X6", kIoBox, ioBox(kInputsY, 6)},
    ControlTemplate{1019, K::CheckBox, u"X7", kIoBox, ioBox(kInputsY, 7)},
    ControlTemplate{1020, K::CheckBox, u"X8", kIoBox, ioBox(kInputsY, 8)},
    ControlTemplate{1021, K::CheckBox, u"X9", kIoBox, ioBox(kInputsY, 9)},
    ControlTemplate{1091, K::GroupBox, u"输出检测", s::kNormal, px(450, kOutputsY, kW - 470, 80)},
    ControlTemplate{1092, K::CheckBox, u"Y0", kIoBox, ioBox(kOutputsY, 0)},
    ControlTemplate{1093, K::CheckBox, u"Y1", kIoBox, ioBox(kOutputsY, 1)},
    ControlTemplate{1094, K::CheckBox, u"Y2", kIoBox, ioBox(kOutputsY, 2)},
    ControlTemplate{1095, K::CheckBox, u"Y3", kIoBox, ioBox(kOutputsY, 3)},
    ControlTemplate{1098, K::CheckBox, u"Y4", kIoBox, ioBox(kOutputsY, 4)},
    ControlTemplate{1099, K::CheckBox, u"Y5", kIoBox, ioBox(kOutputsY, 5)},
    ControlTemplate{1100, K::CheckBox, u"Y6", kIoBox, ioBox(kOutputsY, 6)},
    ControlTemplate{1101, K::CheckBox, u"Y7", kIoBox, ioBox(kOutputsY, 7)},
    // The link's health under the I/O frame; placed and named at run time.
    // The latency hint and its command show only for a slow USB adapter.
    ControlTemplate{1190, K::GroupBox, u"通讯链路", s::kNormal,
                    px(440, kLinkY, kW - 450, kH - kLinkY - 10)},
    ControlTemplate{1196, K::PushButton, u"总线监视...", kButton | s::kGroup,
                    px(kW - 130, kLinkY + 20, 110, 24)},
    ControlTemplate{1191, K::Static, u"", s::kNormal, px(450, kLinkY + 25, kW - 600, 16)},
    ControlTemplate{1192, K::Static, u"", s::kNormal, px(450, kLinkY + 50, kW - 470, 32)},
    ControlTemplate{1193, K::Static, u"", s::kNormal, px(450, kLinkY + 86, kW - 470, 32)},
    ControlTemplate{1194, K::Static, u"", s::kEnabled, px(450, kLinkY + 122, kW - 470, 32)},
    ControlTemplate{1195, K::Edit, u"", s::kEnabled | s::kTabStop | s::kReadOnly,
                    px(450, kLinkY + 158, kW - 470, 24)},
    // Connection settings that the page never shows.
    ControlTemplate{1000, K::DropDownList, u"", s::kHidden, px(600, 160, 80, 120)},
    ControlTemplate{1001, K::DropDownList, u"", s::kHidden, px(600, 185, 80, 120)},
    ControlTemplate{1022, K::DropDownList, u"", s::kHidden, px(600, 210, 80, 120)},
    ControlTemplate{1002, K::Edit, u"", s::kHidden, px(600, 235, 80, 20)},
    ControlTemplate{1008, K::Edit, u"", s::kHidden, px(600, 260, 80, 20)},
    ControlTemplate{1003, K::Static, u"串口号", s::kHidden, px(520, 160, 70, 16)},
    ControlTemplate{1004, K::Static, u"波特率", s::kHidden, px(520, 185, 70, 16)},
    ControlTemplate{1005, K::Static, u"通讯超时", s::kHidden, px(520, 235, 70, 16)},
    ControlTemplate{1006, K::Static, u"ms", s::kHidden, px(685, 235, 20, 16)},
    ControlTemplate{1007, K::Static, u"异常重发", s::kHidden, px(520, 260, 70, 16)},
    ControlTemplate{1009, K::Static, u"次", s::kHidden, px(685, 260, 20, 16)},
    ControlTemplate{1010, K::Static, u"校验位", s::kHidden, px(520, 210, 70, 16)},
};

// 131: parameter page.
constexpr std::array kParameterControls{
    ControlTemplate{1087, K::GroupBox, u"驱动参数管理", s::kNormal, px(5, 10, kW - 10, kH - 30)},
    ControlTemplate{1084, K::PushButton, u"备份文件", kButton | s::kGroup, px(15, 35, 130, 40)},
    ControlTemplate{1086, K::PushButton, u"加载文件", kButton, px(165, 35, 130, 40)},
    ControlTemplate{1085, K::PushButton, u"导入文件数据", kButton, px(315, 35, 130, 40)},
    ControlTemplate{1089, K::PushButton, u"恢复出厂值", kButton, px(465, 35, 130, 40)},
    ControlTemplate{1088, K::PushButton, u"固化驱动器参数", kButton, px(615, 35, 130, 40)},
    ControlTemplate{1100, K::DropDownList, u"", kButton | s::kVScroll, px(765, 45, 130, 300)},
    ControlTemplate{1102, K::PushButton, u"比较", kButton, px(905, 40, 55, 30)},
    ControlTemplate{1011, K::ListView, u"", kList, px(15, 85, 540, kH - 115)},
    ControlTemplate{1059, K::Static, u"参 数 说 明:", s::kNormal, px(565, 85, kW - 580, 25)},
    ControlTemplate{1063, K::Edit, u"", kTextBox, px(565, 110, kW - 580, kH - 205)},
    ControlTemplate{1054, K::Static, u"当前值：", s::kNormal, px(565, kH - 85, 90, 25)},
    ControlTemplate{1055, K::Static, u"", s::kNormal, px(655, kH - 85, 80, 25)},
    ControlTemplate{1056, K::Static, u"修改为：", s::kNormal, px(565, kH - 55, 90, 25)},
    ControlTemplate{1012, K::Edit, u"", kButton, px(655, kH - 55, 80, 25)},
    ControlTemplate{1057, K::PushButton, u"确认修改", kButton, px(755, kH - 55, 90, 25)},
    ControlTemplate{1095, K::RadioButton, u"写入内存", s::kEnabled | s::kTabStop | s::kGroup,
                    px(865, kH - 85, 100, 25)},
    ControlTemplate{1096, K::RadioButton, u"EEPROM", s::kEnabled, px(865, kH - 55, 100, 25)},
    ControlTemplate{1094, K::ProgressBar, u"", s::kNormal | s::kGroup, px(5, kH - 17, kW - 10, 12)},
};

// 130: oscilloscope page.
constexpr int kX0 = kW - 135;
constexpr int kS = (kH - 629) / 4;
constexpr std::uint32_t kToggle = kButton | s::kPushLike;
constexpr std::uint32_t kDropDown = kButton | s::kVScroll;
constexpr std::array kScopeControls{
    ControlTemplate{1011, K::Static, u"", s::kNormal, px(5, 5, kW - 145, kH - 10)},
    ControlTemplate{1085, K::Static, u"X:", s::kNormal, px(kX0, 5, 130, 28)},
    ControlTemplate{1086, K::Static, u"Y1:", s::kNormal, px(kX0, 35, 130, 28)},
    ControlTemplate{1087, K::Static, u"Y2:", s::kNormal, px(kX0, 65, 130, 28)},
    ControlTemplate{1088, K::Static, u"Y3:", s::kNormal, px(kX0, 95, 130, 28)},
    ControlTemplate{1038, K::Static, u"", s::kNormal, px(kX0, 130, 85, 25)},
    ControlTemplate{1012, K::CheckBox, u"关闭", kToggle | s::kGroup, px(kW - 49, 130, 45, 25)},
    ControlTemplate{1070, K::DropDownList, u"", kDropDown, px(kX0, 160, 130, 200)},
    ControlTemplate{1039, K::Static, u"", s::kNormal, px(kX0, 190, 85, 25)},
    ControlTemplate{1073, K::CheckBox, u"关闭", kToggle, px(kW - 49, 190, 45, 25)},
    ControlTemplate{1071, K::DropDownList, u"", kDropDown, px(kX0, 220, 130, 200)},
    ControlTemplate{1040, K::Static, u"", s::kNormal, px(kX0, 250, 85, 25)},
    ControlTemplate{1074, K::CheckBox, u"关闭", kToggle, px(kW - 49, 250, 45, 25)},
    ControlTemplate{1072, K::DropDownList, u"", kDropDown, px(kX0, 280, 130, 200)},
    ControlTemplate{1023, K::Static, u"采样周期", s::kNormal, px(kX0, 319, 65, 16)},
    ControlTemplate{1024, K::DropDownList, u"", kDropDown, px(kW - 69, 315, 65, 200)},
    ControlTemplate{1032, K::Static, u"采集点数", s::kNormal, px(kX0, 345, 65, 25)},
    ControlTemplate{1031, K::Static, u"", s::kNormal, px(kW - 69, 345, 65, 25)},
    ControlTemplate{1020, K::TrackBar, u"Slider1", kButton, px(kX0, 375, 130, 40)},
    ControlTemplate{1021, K::TrackBar, u"Slider1", s::kEnabled | s::kTabStop | s::kVertical,
                    px(kW - 30, 375, 25, 100)},
    ControlTemplate{1052, K::Static, u" XY增益", s::kHidden, px(kW - 90, 375, 55, 16)},
    ControlTemplate{1028, K::Static, u"X 网格数", s::kNormal, px(kX0, 431, 65, 16)},
    ControlTemplate{1027, K::DropDownList, u"", kDropDown, px(kW - 69, 427, 65, 150)},
    ControlTemplate{1030, K::Static, u"Y 网格数", s::kNormal, px(kX0, 461, 65, 16)},
    ControlTemplate{1029, K::DropDownList, u"", kDropDown, px(kW - 69, 457, 65, 150)},
    ControlTemplate{1013, K::CheckBox, u"显示坐标数据", kButton, px(kX0, 487, 130, 20)},
    ControlTemplate{1035, K::PushButton, u"设置参数范围", kButton, px(kX0, 509 + kS, 130, 40)},
    ControlTemplate{1053, K::PushButton, u"清屏", kButton, px(kX0, 549 + 2 * kS, 130, 40)},
    ControlTemplate{1051, K::PushButton, u"暂停", kButton, px(kX0, 589 + 3 * kS, 130, 40)},
    // Trigger, cursors, freeze and export, in rows under the plot; the page
    // places them and sets their texts.
    ControlTemplate{1201, K::DropDownList, u"", kDropDown | s::kGroup, px(5, 560, 70, 150)},
    ControlTemplate{1202, K::DropDownList, u"", kDropDown, px(80, 560, 55, 150)},
    ControlTemplate{1203, K::DropDownList, u"", kDropDown, px(140, 560, 70, 150)},
    ControlTemplate{1204, K::Static, u"", s::kNormal, px(215, 563, 40, 16)},
    ControlTemplate{1205, K::Edit, u"0", kButton, px(255, 560, 70, 20)},
    ControlTemplate{1206, K::Static, u"", s::kNormal, px(330, 563, 50, 16)},
    ControlTemplate{1207, K::Static, u"", s::kNormal, px(385, 563, 45, 16)},
    ControlTemplate{1208, K::Edit, u"50", kButton, px(430, 560, 40, 20)},
    ControlTemplate{1209, K::PushButton, u"", kButton, px(475, 560, 60, 20)},
    ControlTemplate{1210, K::Static, u"", s::kNormal, px(540, 563, 120, 16)},
    ControlTemplate{1211, K::CheckBox, u"", kButton, px(5, 586, 70, 20)},
    ControlTemplate{1212, K::TrackBar, u"", kButton, px(80, 586, 110, 20)},
    ControlTemplate{1213, K::TrackBar, u"", kButton, px(195, 586, 110, 20)},
    ControlTemplate{1214, K::CheckBox, u"", kButton, px(310, 586, 70, 20)},
    ControlTemplate{1215, K::TrackBar, u"", kButton, px(385, 586, 110, 20)},
    ControlTemplate{1216, K::DropDownList, u"", kDropDown, px(500, 586, 60, 150)},
    ControlTemplate{1217, K::PushButton, u"CSV", kButton, px(565, 586, 60, 20)},
    ControlTemplate{1218, K::PushButton, u"PNG", kButton, px(630, 586, 60, 20)},
    ControlTemplate{1219, K::CheckBox, u"", kButton, px(695, 586, 110, 20)},
    ControlTemplate{1220, K::Static, u"", s::kNormal, px(5, 612, 520, 16)},
    ControlTemplate{1221, K::Static, u"", s::kNormal, px(530, 612, 290, 16)},
};

// 132: channel range dialog; its layout in pixels is set again at start.
constexpr std::array kRangeControls{
    ControlTemplate{1011, K::ListView, u"", kList | s::kNoSortHeader | s::kGroup,
                    px(10, 10, 401, 333)},
    ControlTemplate{1067, K::PushButton, u"确认修改", kButton, px(10, 351, 180, 25)},
    ControlTemplate{1035, K::Edit, u"", kButton, px(192, 351, 100, 25)},
    ControlTemplate{1038, K::Edit, u"", kButton, px(292, 351, 100, 25)},
    ControlTemplate{1, K::PushButton, u"OK", s::kEnabled | s::kTabStop | s::kDefaultButton,
                    px(290, 390, 60, 20)},
    ControlTemplate{2, K::PushButton, u"Cancel", s::kEnabled | s::kTabStop, px(355, 390, 60, 20)},
    ControlTemplate{1033, K::Edit, u"", s::kEnabled, px(10, 390, 60, 20)},
    ControlTemplate{1034, K::Static, u"输入数据：", s::kHidden, px(75, 392, 60, 16)},
    ControlTemplate{1036, K::Static, u"最小值：", s::kHidden, px(140, 392, 60, 16)},
    ControlTemplate{1037, K::Static, u"最大值：", s::kHidden, px(205, 392, 60, 16)},
};

// 140: bus scan. The plan as texts, progress, and the drives found.
constexpr std::array kScanControls{
    ControlTemplate{kStaticId, K::Static, u"端口", s::kNormal, {7, 9, 50, 8}},
    ControlTemplate{1201, K::Edit, u"", kButton | s::kGroup, {60, 7, 243, 12}},
    ControlTemplate{kStaticId, K::Static, u"波特率", s::kNormal, {7, 25, 50, 8}},
    ControlTemplate{1202, K::Edit, u"", kButton, {60, 23, 243, 12}},
    ControlTemplate{kStaticId, K::Static, u"校验位", s::kNormal, {7, 41, 50, 8}},
    ControlTemplate{1203, K::Edit, u"", kButton, {60, 39, 60, 12}},
    ControlTemplate{kStaticId, K::Static, u"站号", s::kNormal, {130, 41, 30, 8}},
    ControlTemplate{1204, K::Edit, u"", kButton, {163, 39, 50, 12}},
    ControlTemplate{kStaticId, K::Static, u"超时(ms)", s::kNormal, {220, 41, 40, 8}},
    ControlTemplate{1205, K::Edit, u"", kButton, {263, 39, 40, 12}},
    ControlTemplate{1206, K::PushButton, u"开始", kButton, {7, 57, 60, 14}},
    ControlTemplate{1207, K::ProgressBar, u"", s::kNormal, {73, 59, 230, 10}},
    ControlTemplate{1208, K::Static, u"", s::kNormal, {7, 76, 296, 8}},
    ControlTemplate{1209, K::ListView, u"", kList | s::kNoSortHeader, {7, 88, 296, 110}},
    ControlTemplate{1, K::PushButton, u"使用", kButton | s::kDefaultButton, {188, 204, 55, 14}},
    ControlTemplate{2, K::PushButton, u"关闭", kButton, {248, 204, 55, 14}},
};

// 141: a network port (a Modbus gateway).
constexpr std::array kNetworkPortControls{
    ControlTemplate{1211, K::Static, u"", s::kNormal, {7, 7, 216, 18}},
    ControlTemplate{1212, K::Edit, u"", kButton | s::kGroup, {7, 28, 216, 12}},
    ControlTemplate{1, K::PushButton, u"确定", kButton | s::kDefaultButton, {113, 46, 52, 14}},
    ControlTemplate{2, K::PushButton, u"取消", kButton, {171, 46, 52, 14}},
};

// 142: the drive's parameters against a file, the factory values or a model
// set, with a check box per row and the checked write; 143 confirms it.
constexpr std::array kCompareControls{
    ControlTemplate{1210, K::Static, u"比较对象：", s::kNormal, px(10, 14, 70, 20)},
    ControlTemplate{1201, K::DropDownList, u"", kButton | s::kVScroll | s::kGroup,
                    px(85, 10, 260, 240)},
    ControlTemplate{1209, K::PushButton, u"读取并比较", kButton, px(355, 8, 130, 26)},
    ControlTemplate{1202, K::CheckBox, u"只显示差异", kButton, px(500, 10, 200, 22)},
    ControlTemplate{1203, K::ListView, u"", kList | s::kNoSortHeader, px(10, 42, 760, 330)},
    ControlTemplate{1204, K::Static, u"", s::kNormal, px(10, 378, 760, 20)},
    ControlTemplate{1208, K::ProgressBar, u"", s::kNormal, px(10, 400, 760, 12)},
    ControlTemplate{1207, K::Edit, u"", kTextBox, px(10, 418, 760, 100)},
    ControlTemplate{1205, K::PushButton, u"写入勾选参数", kButton, px(10, 526, 150, 26)},
    ControlTemplate{1206, K::PushButton, u"保存报告...", kButton, px(170, 526, 150, 26)},
    ControlTemplate{2, K::PushButton, u"关闭", kButton, px(640, 526, 130, 26)},
};
constexpr std::array kCompareConfirmControls{
    ControlTemplate{1001, K::Static, u"", s::kNormal, px(12, 12, 400, 60)},
    ControlTemplate{1, K::PushButton, u"写入", kButton | s::kGroup, px(212, 80, 95, 26)},
    ControlTemplate{2, K::PushButton, u"取消", kButton | s::kDefaultButton, px(317, 80, 95, 26)},
};

// 144: the bus monitor, a window of its own beside the main window; laid out
// at run time, the list taking what the window gives.
constexpr std::array kBusMonitorControls{
    ControlTemplate{1301, K::PushButton, u"暂停", kButton | s::kGroup, px(8, 8, 80, 26)},
    ControlTemplate{1302, K::PushButton, u"清除", kButton, px(96, 8, 80, 26)},
    ControlTemplate{1303, K::CheckBox, u"只显示错误", kButton, px(184, 10, 110, 22)},
    ControlTemplate{1304, K::Static, u"功能：", s::kNormal | s::kCenterVertically,
                    px(302, 8, 50, 26)},
    ControlTemplate{1305, K::DropDownList, u"", kButton | s::kVScroll, px(356, 8, 180, 240)},
    ControlTemplate{1306, K::PushButton, u"保存为文本...", kButton, px(544, 8, 110, 26)},
    ControlTemplate{1307, K::PushButton, u"保存为 CSV...", kButton, px(662, 8, 110, 26)},
    ControlTemplate{1308, K::Static, u"", s::kNormal | s::kCenterVertically, px(780, 8, 112, 26)},
    ControlTemplate{1309, K::ListView, u"", kList | s::kNoSortHeader, px(8, 42, 884, 450)},
};

constexpr std::uint32_t kModal = dialog_style::kSystemMenu | dialog_style::kVisible;
constexpr std::uint32_t kPage = dialog_style::kChild;
constexpr int kPageUnitsX = toUnits(kPageWidth);
constexpr int kPageUnitsY = toUnits(kPageHeight);

constexpr std::array kDialogs{
    DialogTemplate{kAboutDialog, u"关于软件", 235, 55, u"宋体", 9, kModal, kAboutControls},
    DialogTemplate{kMainDialog, u"伺服管理软件", 270, 209, u"新宋体", 9,
                   kModal | dialog_style::kMinimizeBox | dialog_style::kResizable, kMainControls},
    DialogTemplate{kScopePage, u"", kPageUnitsX, kPageUnitsY, u"宋体", 9, kPage, kScopeControls},
    DialogTemplate{kParameterPage, u"", kPageUnitsX, kPageUnitsY, u"新宋体", 9, kPage,
                   kParameterControls},
    DialogTemplate{kRangeDialog, u"数据输入", toUnits(426), toUnits(418), u"宋体", 9, kModal,
                   kRangeControls},
    DialogTemplate{kStatusPage, u"", kPageUnitsX, kPageUnitsY, u"新宋体", 9, kPage,
                   kStatusControls},
    DialogTemplate{kLanguageDialog, u"语种选择(Language selection)", 260, 80, u"宋体", 9, kModal,
                   kLanguageControls},
    DialogTemplate{kScanDialog, u"扫描驱动器", 310, 225, u"宋体", 9, kModal, kScanControls},
    DialogTemplate{kNetworkPortDialog, u"网络端口", 230, 67, u"宋体", 9, kModal,
                   kNetworkPortControls},
    DialogTemplate{kCompareDialog, u"参数比较", toUnits(780), toUnits(562), u"宋体", 9, kModal,
                   kCompareControls},
    DialogTemplate{kCompareConfirmDialog, u"写入参数", toUnits(424), toUnits(116), u"宋体", 9,
                   kModal, kCompareConfirmControls},
    DialogTemplate{kBusMonitorDialog, u"总线监视", toUnits(900), toUnits(500), u"宋体", 9,
                   kModal | dialog_style::kMinimizeBox | dialog_style::kResizable,
                   kBusMonitorControls},
};

}  // namespace

const DialogTemplate* findDialog(int id) {
    for (const DialogTemplate& d : kDialogs)
        if (d.id == id) return &d;
    return nullptr;
}

std::u16string_view loadString(int id) {
    switch (id) {
        case kAboutMenuText:
            return u"关于 软件(&A)...";
        case kSocketStartFailedText:
            return u"Windows 通信端口初始化失败。";
        case kBusMonitorMenuText:
            return u"总线监视(&M)...\tCtrl+M";
        default:
            return {};
    }
}

}  // namespace resources
