// The dialog manager's keyboard (tab stops, radio groups, lists, page
// switching, default buttons) and the layout checks, on the headless
// backend's deterministic metrics: 6 x 12 pixels a narrow character.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recorder.h"
#include "ui/headless.h"
#include "ui/layout.h"

namespace {

using ui_test::Recorder;

constexpr int kTabs = 1064;

// The main window (102) with the status page (135) and the parameter page
// (131) on two tabs, the status page shown, as the program's shell sets them up.
class Keyboard : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(main.createModeless());
        ASSERT_TRUE(status.create(main, kTabs));
        ASSERT_TRUE(params.create(main, kTabs));
        main.control(kTabs).insertItem(0, u"Status");
        main.control(kTabs).insertItem(1, u"Parameters");
        main.control(kTabs).setSelection(0);
        status.show(true);
        main.setFocus(kTabs);
    }

    std::vector<int> tabs(int presses, ui::Key key = ui::Key::Tab) {
        std::vector<int> ids;
        for (int i = 0; i < presses; ++i) {
            EXPECT_FALSE(main.userKey(key));
            ids.push_back(main.focus() ? main.focus()->id() : 0);
        }
        return ids;
    }

    ui::HeadlessBackend backend;
    Recorder main{102};
    Recorder status{135};
    Recorder params{131};
};

TEST_F(Keyboard, TabVisitsEachStopOnceWithAListAndARadioGroupOneStopEach) {
    status.setRadioGroupIndex(1070, 2);  // 19200 bps checked
    auto& list = status.control(1068);
    for (int r = 0; r < 40; ++r) list.insertRow(r, u"row");
    // Baud group (its checked button), port group (none checked: its first),
    // station, Connect, the port list, parity and Scan, list, text box, Bus
    // monitor, then back to the tabs; the hidden I/O boxes, latency command
    // and page are skipped.
    const std::vector<int> forward{1072, 1078, 1037, 1065, 1180, 1181,
                                   1182, 1068, 1103, 1196, kTabs};
    EXPECT_EQ(tabs(11), forward);
    const std::vector<int> back{1196, 1103, 1068, 1182, 1181, 1180, 1065, 1037, 1078, 1072, kTabs};
    EXPECT_EQ(tabs(11, ui::Key::BackTab), back);
    // A disabled stop is passed over.
    status.enable(1065, false);
    EXPECT_EQ(tabs(4), (std::vector<int>{1072, 1078, 1037, 1180}));
    // Only the keyboard moved: nothing was clicked.
    EXPECT_FALSE(status.has("command 1072"));
}

TEST_F(Keyboard, ArrowsMoveTheCheckThroughARadioGroupAndWrap) {
    status.setRadioGroupIndex(1070, 0);
    status.setFocus(1070);
    EXPECT_FALSE(main.userKey(ui::Key::Down));
    EXPECT_EQ(main.focus()->id(), 1071);
    EXPECT_EQ(status.radioGroupIndex(1070), 1);
    EXPECT_TRUE(status.has("command 1071"));
    // A disabled button is skipped; Up from the first wraps to the last.
    status.enable(1072, false);
    EXPECT_FALSE(main.userKey(ui::Key::Right));
    EXPECT_EQ(main.focus()->id(), 1073);
    status.setFocus(1070);
    EXPECT_FALSE(main.userKey(ui::Key::Up));
    EXPECT_EQ(main.focus()->id(), 1075);
    EXPECT_EQ(status.checkedRadioButton(1070, 1075), 1075);
    // The port group is another group: the baud group's arrows never reach it.
    EXPECT_EQ(status.radioGroupIndex(1078), -1);
}

TEST_F(Keyboard, ListKeysSelectRowsAndOtherKeysGoToTheControl) {
    auto& list = status.control(1068);
    for (int r = 0; r < 5; ++r) list.insertRow(r, u"row");
    status.setFocus(1068);
    EXPECT_FALSE(main.userKey(ui::Key::End));
    EXPECT_EQ(list.selectionMark(), 4);
    EXPECT_TRUE(list.isRowSelected(4));
    EXPECT_EQ(list.lastEnsuredVisible(), 4);
    EXPECT_FALSE(main.userKey(ui::Key::Home));
    EXPECT_EQ(list.firstSelectedRow(), 0);
    EXPECT_FALSE(list.isRowSelected(4));
    EXPECT_FALSE(main.userKey(ui::Key::Up));  // stays on the first row
    EXPECT_EQ(list.selectionMark(), 0);
    EXPECT_FALSE(main.userKey(ui::Key::Down));
    EXPECT_EQ(list.selectionMark(), 1);
    // An arrow in an edit is the edit's own.
    params.show(true);
    params.setFocus(1012);
    EXPECT_TRUE(main.userKey(ui::Key::Left));
}

TEST_F(Keyboard, CtrlTabSwitchesPagesBothWaysAndTakesTheFocusOffAHiddenPage) {
    EXPECT_FALSE(main.userKey(ui::Key::NextPage));
    EXPECT_EQ(main.control(kTabs).selection(), 1);
    EXPECT_TRUE(main.has("selchange 1064"));
    EXPECT_FALSE(main.userKey(ui::Key::NextPage));
    EXPECT_EQ(main.control(kTabs).selection(), 0);
    EXPECT_FALSE(main.userKey(ui::Key::PreviousPage));
    EXPECT_EQ(main.control(kTabs).selection(), 1);

    status.setFocus(1065);
    status.show(false);  // as the shell hides the page it leaves
    params.show(true);
    EXPECT_FALSE(main.userKey(ui::Key::PreviousPage));
    EXPECT_EQ(main.focus()->id(), kTabs);
}

TEST_F(Keyboard, EnterInAPagePressesItsDefaultButtonWhileItIsUsable) {
    params.show(true);
    params.setDefaultButton(1057);
    EXPECT_EQ(params.defaultButton(), 1057);
    EXPECT_TRUE(params.control(1057).hasStyle(ui::style::kDefaultButton));
    params.setFocus(1012);
    EXPECT_FALSE(main.userKey(ui::Key::Enter));
    EXPECT_TRUE(params.has("command 1057"));
    EXPECT_FALSE(main.has("command 1"));
    // Disabled, it is passed by: the window's own handling gets Enter.
    params.log.clear();
    params.enable(1057, false);
    main.userKey(ui::Key::Enter);
    EXPECT_FALSE(params.has("command 1057"));
    EXPECT_TRUE(main.has("command 1"));
    // Moving the default clears the old one.
    params.enable(1057, true);
    params.setDefaultButton(1084);
    EXPECT_FALSE(params.control(1057).hasStyle(ui::style::kDefaultButton));
    EXPECT_EQ(params.defaultButton(), 1084);
}

TEST(DefaultButton, OnlyAPushButtonCanBeTheDefault) {
    ui::HeadlessBackend backend;
    std::vector<std::string> violations;
    const auto previous =
        ui::setViolationHandler([&](std::string_view m) { violations.emplace_back(m); });
    Recorder range(132);
    backend.queueModalScript(132, [&](ui::Dialog& d) {
        d.setDefaultButton(1035);  // an edit
        EXPECT_EQ(violations.size(), 1u);
        EXPECT_EQ(d.defaultButton(), 1);
        // With Apply the default, Enter in an edit applies and keeps the dialog.
        d.setDefaultButton(1067);
        d.setFocus(1035);
        d.userKey(ui::Key::Enter);
        EXPECT_FALSE(d.modalEnded());
    });
    range.runModal();
    EXPECT_TRUE(range.has("command 1067"));
    EXPECT_FALSE(range.has("command 1"));
    ui::setViolationHandler(previous);
}

// --- Layout

ui::Size measure6x12(std::u16string_view s) {
    int w = 0;
    for (char16_t c : s) w += c >= 0x2E80 ? 12 : 6;
    return {w, 12};
}

TEST(Wrap, BreaksAtSpacesInsideLongWordsAndBetweenWideCharacters) {
    using V = std::vector<std::u16string>;
    EXPECT_EQ(ui::wrapText(u"Sample period", 65, measure6x12), (V{u"Sample", u"period"}));
    EXPECT_EQ(ui::wrapText(u"Sample period", 0, measure6x12), (V{u"Sample period"}));
    EXPECT_EQ(ui::wrapText(u"abcdefghij", 30, measure6x12), (V{u"abcde", u"fghij"}));
    EXPECT_EQ(ui::wrapText(u"参数说明文字", 36, measure6x12), (V{u"参数说", u"明文字"}));
    EXPECT_EQ(ui::wrapText(u"a\r\n\r\nb", 0, measure6x12), (V{u"a", u"", u"b"}));
}

class Layout : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(page.createModeless()); }
    void place(int id, int x, int y, int w, int h) {
        page.control(id).move(ui::Rect::fromXywh(x, y, w, h));
    }
    int count(ui::LayoutIssue::Kind kind, int id) const {
        int n = 0;
        for (const auto& issue : ui::findLayoutIssues(page))
            if (issue.kind == kind && (issue.id == id || issue.other == id)) ++n;
        return n;
    }
    ui::HeadlessBackend backend;
    Recorder page{131};
};

TEST_F(Layout, TextsAreMeasuredWithTheFontAndWrapped) {
    page.setText(1088, u"Write to EEPROM");
    EXPECT_EQ(page.fitSize(1088), (ui::Size{15 * 6 + 16, 12 + 8}));
    place(1088, 615, 35, 100, 40);
    EXPECT_FALSE(page.textFits(1088));
    EXPECT_EQ(count(ui::LayoutIssue::Kind::TextCut, 1088), 1);
    place(1088, 615, 35, 106, 40);
    EXPECT_TRUE(page.textFits(1088));

    // A static wraps: two lines need two line heights.
    page.setText(1054, u"Sample period");
    place(1054, 565, 556, 65, 16);
    EXPECT_EQ(page.fitSize(1054, 65), (ui::Size{36, 24}));
    EXPECT_FALSE(page.textFits(1054));
    place(1054, 565, 556, 65, 24);
    EXPECT_TRUE(page.textFits(1054));

    // A drop-down list needs its widest item; its list's height does not count.
    auto& combo = page.control(1100);
    combo.addItem(u"short");
    combo.addItem(u"a much longer model");
    EXPECT_EQ(page.fitSize(1100).width, 19 * 6 + 28);
    place(1100, 765, 45, 19 * 6 + 28, 300);
    EXPECT_TRUE(page.textFits(1100));
    EXPECT_EQ(ui::shownRect(page, combo).height(), 20);

    // A list's headers must fit their columns.
    auto& list = page.control(1011);
    list.insertColumn(0, u"Drive value", 78);
    EXPECT_TRUE(page.textFits(1011));
    list.insertColumn(1, u"File value", 60);
    EXPECT_FALSE(page.textFits(1011));
    EXPECT_EQ(ui::widestFit(page, {1088, 1100}), 19 * 6 + 28);
}

TEST_F(Layout, OverlapsAndControlsOutsideTheWindowAreFound) {
    page.move(ui::Rect::fromXywh(0, 0, 969, 641));
    place(1086, 100, 35, 130, 40);  // onto the backup button at 15..145
    EXPECT_EQ(count(ui::LayoutIssue::Kind::Overlap, 1084), 1);
    place(1086, 165, 35, 130, 40);
    EXPECT_EQ(count(ui::LayoutIssue::Kind::Overlap, 1084), 0);

    // A control across the group box's edge overlaps it; inside, it is framed.
    place(1057, 900, 600, 90, 25);
    EXPECT_GE(count(ui::LayoutIssue::Kind::Overlap, 1087), 1);
    EXPECT_EQ(count(ui::LayoutIssue::Kind::Outside, 1057), 1);
    // Hidden controls take no room.
    page.showControl(1057, false);
    EXPECT_EQ(count(ui::LayoutIssue::Kind::Outside, 1057), 0);
    EXPECT_EQ(count(ui::LayoutIssue::Kind::Overlap, 1057), 0);
}

TEST(SmallestFittingSize, FindsTheCornerOfAMonotonicArea) {
    const auto fits = [](ui::Size s) {
        return s.width >= 613 && s.height >= 4 * 100 + s.width / 10;
    };
    const ui::Size found = ui::smallestFittingSize({100, 100}, {2000, 2000}, fits);
    EXPECT_EQ(found, (ui::Size{613, 461}));
    // Nothing fits: the largest size stays.
    EXPECT_EQ(ui::smallestFittingSize({100, 100}, {500, 500}, fits), (ui::Size{500, 500}));
}

}  // namespace
