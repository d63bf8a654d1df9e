#include <gtest/gtest.h>

#include "recorder.h"
#include "ui/headless.h"

namespace {

using ui::ControlKind;
using ui_test::Recorder;

// Runs a modal dialog whose script is the test body, so that the window exists
// while the body runs.
template <typename Body>
void withDialog(ui::HeadlessBackend& backend, Recorder& d, Body body) {
    backend.queueModalScript(d.templateId(), [&](ui::Dialog&) {
        body();
        d.endDialog(ui::kIdOk);
    });
    ASSERT_EQ(d.runModal(), ui::kIdOk);
}

class Controls : public ::testing::Test {
  protected:
    ui::HeadlessBackend backend;
};

TEST_F(Controls, DialogFromTemplateHasEveryControlWithTextStyleAndPixelRect) {
    Recorder status(135);
    ui::Dialog host(102);
    backend.queueModalScript(102, [&](ui::Dialog&) {
        ASSERT_TRUE(status.create(host, 1064));
        const auto& t = *resources::findDialog(135);
        ASSERT_EQ(status.controls().size(), t.controls.size());
        const ui::DialogUnits u = status.units();
        for (std::size_t i = 0; i < t.controls.size(); ++i) {
            const ui::Control& c = *status.controls()[i];
            EXPECT_EQ(c.id(), t.controls[i].id);
            EXPECT_EQ(c.kind(), t.controls[i].kind);
            EXPECT_EQ(c.text(), t.controls[i].text);
            EXPECT_EQ(c.isVisible(), (t.controls[i].style & ui::style::kVisible) != 0);
            EXPECT_EQ(c.isEnabled(), (t.controls[i].style & ui::style::kEnabled) != 0);
            EXPECT_EQ(c.rect(), u.toPixels(t.controls[i].rect));
        }
        EXPECT_EQ(status.text(1077), u"端口选择");
        EXPECT_FALSE(status.control(1092).isVisible());
        // A page starts hidden at (0, 0) with its template size.
        EXPECT_FALSE(status.isVisible());
        EXPECT_EQ(status.windowRect().topLeft(), (ui::Point{0, 0}));
        EXPECT_EQ(status.clientRect().width(), u.toPixelsX(t.cx));
        EXPECT_TRUE(status.has("init"));
    });
    host.runModal();
    EXPECT_FALSE(status.exists());
    EXPECT_TRUE(status.has("destroy 135"));
}

TEST_F(Controls, RadioGroupsEndAtTheNextGroupStart) {
    Recorder page(135);
    ui::Dialog host(102);
    backend.queueModalScript(102, [&](ui::Dialog&) {
        ASSERT_TRUE(page.create(host, 1064));
        page.setRadioGroupIndex(1070, 5);
        page.setRadioGroupIndex(1078, 0);
        EXPECT_EQ(page.check(1075), 1);
        EXPECT_EQ(page.check(1078), 1);
        // A click checks its button and clears only its own group.
        page.show(true);
        ASSERT_TRUE(page.userClick(1073));
        EXPECT_EQ(page.check(1073), 1);
        EXPECT_EQ(page.check(1075), 0);
        EXPECT_EQ(page.check(1078), 1);
        EXPECT_EQ(page.radioGroupIndex(1070), 3);
        EXPECT_EQ(page.radioGroupIndex(1078), 0);
        EXPECT_TRUE(page.has("command 1073"));
        // Clicking the checked button keeps it checked.
        ASSERT_TRUE(page.userClick(1073));
        EXPECT_EQ(page.check(1073), 1);
        page.checkRadioButton(1078, 1083, 1081);
        EXPECT_EQ(page.checkedRadioButton(1078, 1083), 1081);
        EXPECT_EQ(page.radioGroupIndex(1078), 3);
        EXPECT_EQ(page.checkedRadioButton(1070, 1075), 1073);
        page.setRadioGroupIndex(1070, -1);
        EXPECT_EQ(page.radioGroupIndex(1070), -1);
        EXPECT_EQ(page.checkedRadioButton(1070, 1075), 0);
    });
    host.runModal();
}

TEST_F(Controls, HiddenRadioButtonsFormTheirOwnGroupBeforeTheProgressBar) {
    Recorder page(131);
    ui::Dialog host(102);
    backend.queueModalScript(102, [&](ui::Dialog&) {
        ASSERT_TRUE(page.create(host, 1064));
        page.setRadioGroupIndex(1095, 1);
        EXPECT_EQ(page.check(1096), 1);
        EXPECT_EQ(page.radioGroupIndex(1095), 1);
        // Hidden buttons cannot be clicked by a user.
        EXPECT_FALSE(page.userClick(1095));
        EXPECT_EQ(page.check(1095), 0);
        page.showControl(1095, true);
        EXPECT_TRUE(page.userClick(1095));
        EXPECT_EQ(page.radioGroupIndex(1095), 0);
    });
    host.runModal();
}

TEST_F(Controls, ListViewColumnsCellsAndSelection) {
    Recorder d(132);
    withDialog(backend, d, [&] {
        ui::Control& list = d.control(1011);
        list.setExtendedStyle(ui::list_style::kFullRowSelect | ui::list_style::kGridLines);
        EXPECT_EQ(list.extendedStyle(),
                  ui::list_style::kFullRowSelect | ui::list_style::kGridLines);
        EXPECT_EQ(list.insertColumn(0, u"参数名称", 180), 0);
        EXPECT_EQ(list.insertColumn(1, u"最小值", 100), 1);
        EXPECT_EQ(list.insertColumn(2, u"最大值", 100), 2);
        EXPECT_EQ(list.column(1).header, u"最小值");
        EXPECT_EQ(list.column(2).width, 100);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(list.insertRow(i, u"q" + std::u16string(1, char16_t(u'0' + i))), i);
            EXPECT_TRUE(list.setCellText(i, 1, u"-3000"));
            EXPECT_TRUE(list.setCellText(i, 2, u"3000"));
        }
        EXPECT_FALSE(list.setCellText(3, 0, u"x"));
        EXPECT_FALSE(list.setCellText(0, 3, u"x"));
        EXPECT_EQ(list.rowCount(), 3);
        EXPECT_EQ(list.cellText(1, 0), u"q1");
        EXPECT_EQ(list.cellText(2, 1), u"-3000");
        EXPECT_EQ(list.cellText(5, 1), u"");

        EXPECT_EQ(list.selectionMark(), -1);
        EXPECT_EQ(list.setSelectionMark(1), -1);
        EXPECT_EQ(list.selectionMark(), 1);
        EXPECT_EQ(list.firstSelectedRow(), -1);  // the mark does not select
        EXPECT_TRUE(list.setRowSelected(0, true));
        EXPECT_TRUE(list.setRowSelected(2, true));  // single selection: row 0 drops
        EXPECT_FALSE(list.isRowSelected(0));
        EXPECT_EQ(list.firstSelectedRow(), 2);
        EXPECT_TRUE(list.ensureVisible(2));
        EXPECT_EQ(list.lastEnsuredVisible(), 2);
        EXPECT_FALSE(list.ensureVisible(7));

        // The user's click selects, marks, focuses, then notifies.
        ASSERT_TRUE(d.userClickRow(1011, 0));
        EXPECT_TRUE(list.isRowSelected(0));
        EXPECT_FALSE(list.isRowSelected(2));
        EXPECT_EQ(list.selectionMark(), 0);
        EXPECT_TRUE(list.hasFocus());
        EXPECT_EQ(d.log.back(), "listclick 1011 0");
        // Below the rows: selection cleared, mark kept, row -1 reported.
        ASSERT_TRUE(d.userClickRow(1011, -1));
        EXPECT_EQ(list.firstSelectedRow(), -1);
        EXPECT_EQ(list.selectionMark(), 0);
        EXPECT_EQ(d.log.back(), "listclick 1011 -1");
        EXPECT_FALSE(d.userClickRow(1011, 3));

        // Inserting above the mark moves it with its row.
        list.insertRow(0, u"new");
        EXPECT_EQ(list.selectionMark(), 1);
        EXPECT_EQ(list.cellText(1, 0), u"q0");
        list.deleteAllRows();
        EXPECT_EQ(list.rowCount(), 0);
        EXPECT_EQ(list.selectionMark(), -1);
    });
}

TEST_F(Controls, ListViewCheckBoxesAndHighlightsStayWithTheirRows) {
    Recorder d(132);
    withDialog(backend, d, [&] {
        ui::Control& list = d.control(1011);
        list.insertColumn(0, u"参数名称", 180);
        for (int i = 0; i < 3; ++i) list.insertRow(i, std::u16string(1, char16_t(u'a' + i)));
        // Without the style the user has no check box to tick.
        EXPECT_FALSE(d.userCheckRow(1011, 1, true));
        list.setExtendedStyle(ui::list_style::kCheckBoxes);

        // The program's own checks do not reach the handler; the user's do.
        EXPECT_TRUE(list.setRowChecked(0, true));
        EXPECT_FALSE(d.has("listcheck 1011 0"));
        ASSERT_TRUE(d.userCheckRow(1011, 2, true));
        EXPECT_EQ(d.log.back(), "listcheck 1011 2");
        const std::size_t entries = d.log.size();
        ASSERT_TRUE(d.userCheckRow(1011, 2, true));  // no change, no call
        EXPECT_EQ(d.log.size(), entries);
        EXPECT_FALSE(d.userCheckRow(1011, 3, true));
        EXPECT_FALSE(list.setRowChecked(-1, true));
        EXPECT_TRUE(list.setRowHighlighted(1, true));
        EXPECT_FALSE(list.setRowHighlighted(3, true));

        // A row inserted above moves the states with their rows and starts clear.
        list.insertRow(1, u"new");
        EXPECT_TRUE(list.isRowChecked(0));
        EXPECT_FALSE(list.isRowChecked(1));
        EXPECT_FALSE(list.isRowHighlighted(1));
        EXPECT_TRUE(list.isRowHighlighted(2));
        EXPECT_TRUE(list.isRowChecked(3));
        ASSERT_TRUE(d.userCheckRow(1011, 3, false));
        EXPECT_FALSE(list.isRowChecked(3));
        list.deleteAllRows();
        list.insertRow(0, u"again");
        EXPECT_FALSE(list.isRowChecked(0));
        EXPECT_FALSE(list.isRowHighlighted(0));
    });
}

TEST_F(Controls, RowsAppendedAndShedKeepTheirStatesAndTheSelection) {
    Recorder d(132);
    withDialog(backend, d, [&] {
        ui::Control& list = d.control(1011);
        list.insertColumn(0, u"a", 60);
        list.insertColumn(1, u"b", 60);
        // Extra cells are dropped, missing ones are empty.
        EXPECT_EQ(list.appendRows({{u"0", u"x", u"extra"}, {u"1"}, {u"2", u"z"}}), 0);
        EXPECT_EQ(list.appendRows({}), 3);
        ASSERT_EQ(list.rowCount(), 3);
        EXPECT_EQ(list.cellText(0, 1), u"x");
        EXPECT_EQ(list.cellText(1, 1), u"");
        EXPECT_EQ(list.cellText(0, 2), u"");
        list.setRowHighlighted(2, true);
        list.setRowSelected(2, true);
        list.setSelectionMark(2);
        EXPECT_EQ(list.appendRows({{u"3"}}), 3);
        EXPECT_FALSE(list.isRowHighlighted(3));

        list.deleteFirstRows(2);
        ASSERT_EQ(list.rowCount(), 2);
        EXPECT_EQ(list.cellText(0, 0), u"2");
        EXPECT_TRUE(list.isRowHighlighted(0));
        EXPECT_TRUE(list.isRowSelected(0));
        EXPECT_EQ(list.selectionMark(), 0);
        EXPECT_FALSE(list.isRowHighlighted(1));
        // The marked row itself shed: no mark left.
        list.deleteFirstRows(1);
        EXPECT_EQ(list.selectionMark(), -1);
        list.deleteFirstRows(5);
        EXPECT_EQ(list.rowCount(), 0);
    });
}

TEST_F(Controls, ComboItemsSelectionAndUserChoice) {
    Recorder page(130);
    ui::Dialog host(102);
    backend.queueModalScript(102, [&](ui::Dialog&) {
        ASSERT_TRUE(page.create(host, 1064));
        page.show(true);
        ui::Control& period = page.control(1024);
        for (auto t : {u"5 ms", u"10 ms", u"1.0 s"}) period.addItem(t);
        EXPECT_EQ(period.itemCount(), 3);
        EXPECT_EQ(period.selection(), -1);
        EXPECT_EQ(period.setSelection(2), 2);
        EXPECT_EQ(period.itemText(2), u"1.0 s");
        EXPECT_EQ(period.setSelection(3), -1);
        EXPECT_EQ(period.selection(), -1);
        EXPECT_EQ(period.insertItem(0, u"1 ms"), 0);
        EXPECT_EQ(period.itemText(1), u"5 ms");
        period.setSelection(1);
        period.insertItem(0, u"0 ms");
        EXPECT_EQ(period.selection(), 2);          // follows its item
        EXPECT_FALSE(page.has("selchange 1024"));  // programmatic changes do not notify

        ASSERT_TRUE(page.userSelectItem(1024, 0));
        EXPECT_EQ(period.selection(), 0);
        EXPECT_EQ(page.log.back(), "selchange 1024");
        EXPECT_FALSE(page.userSelectItem(1024, 9));

        // The scope's quantity lists take a choice among their items, no text.
        ui::Control& quantity = page.control(1070);
        quantity.addItem(u"速度");
        quantity.addItem(u"转矩");
        quantity.setSelection(1);
        EXPECT_EQ(quantity.selection(), 1);
        EXPECT_FALSE(page.userType(1070, u"扭矩"));
        quantity.clearItems();
        EXPECT_EQ(quantity.itemCount(), 0);
        EXPECT_EQ(quantity.selection(), -1);
    });
    host.runModal();
}

TEST_F(Controls, TrackBarAndProgressBarKeepThePositionInRange) {
    Recorder page(130);
    ui::Dialog host(102);
    backend.queueModalScript(102, [&](ui::Dialog&) {
        ASSERT_TRUE(page.create(host, 1064));
        page.show(true);
        ui::Control& slider = page.control(1020);
        slider.setRange(1, 20);
        slider.setPageSize(1);
        slider.setPosition(slider.rangeLow());
        EXPECT_EQ(slider.position(), 1);
        EXPECT_EQ(slider.pageSize(), 1);
        slider.setPosition(25);
        EXPECT_EQ(slider.position(), 20);
        slider.setPosition(-4);
        EXPECT_EQ(slider.position(), 1);
        ASSERT_TRUE(page.userSetPosition(1020, 7));
        EXPECT_EQ(slider.position(), 7);
        slider.setRange(1, 5);  // narrowing pulls the position in
        EXPECT_EQ(slider.position(), 5);
        // The hidden vertical slider still keeps its state.
        ui::Control& gain = page.control(1021);
        gain.setRange(1, 10);
        gain.setPosition(gain.rangeHigh());
        EXPECT_EQ(gain.position(), 10);
        EXPECT_FALSE(page.userSetPosition(1021, 3));
    });
    host.runModal();

    Recorder params(131);
    ui::Dialog host2(102);
    backend.queueModalScript(102, [&](ui::Dialog&) {
        ASSERT_TRUE(params.create(host2, 1064));
        ui::Control& bar = params.control(1094);
        bar.setRange(0, 100);
        bar.setPosition(40);
        EXPECT_EQ(bar.position(), 40);
        bar.setPosition(140);
        EXPECT_EQ(bar.position(), 100);
    });
    host2.runModal();
}

TEST_F(Controls, TabControlItemsRectsAndUserSelection) {
    Recorder main(102);
    withDialog(backend, main, [&] {
        ui::Control& tabs = main.control(1064);
        EXPECT_EQ(tabs.insertItem(0, u"【驱动状态】"), 0);
        EXPECT_EQ(tabs.selection(), 0);  // the first tab selects itself
        tabs.insertItem(1, u"【驱动参数】");
        tabs.insertItem(2, u"Scope");
        EXPECT_EQ(tabs.itemCount(), 3);
        const ui::Rect r0 = tabs.itemRect(0);
        const ui::Rect r1 = tabs.itemRect(1);
        EXPECT_GT(r0.width(), 0);
        EXPECT_GT(r0.bottom, r0.top);
        EXPECT_GE(r1.left, r0.right);
        EXPECT_EQ(r1.bottom, r0.bottom);
        EXPECT_EQ(tabs.itemRect(3), ui::Rect{});
        EXPECT_EQ(tabs.setSelection(2), 0);  // returns the previous selection
        EXPECT_EQ(tabs.selection(), 2);
        main.log.clear();
        ASSERT_TRUE(main.userClickTab(1064, 1));
        ASSERT_EQ(main.log.size(), 2u);
        EXPECT_EQ(main.log[0], "selchange 1064");
        EXPECT_EQ(main.log[1], "tabclick 1064 1");
        // Clicking the selected tab changes nothing but still reports the press.
        ASSERT_TRUE(main.userClickTab(1064, 1));
        EXPECT_EQ(main.log.back(), "tabclick 1064 1");
        EXPECT_EQ(main.log.size(), 3u);
        EXPECT_FALSE(main.userSelectTab(1064, 3));
    });
}

TEST_F(Controls, EditSelectionTypingAndFocus) {
    Recorder d(132);
    withDialog(backend, d, [&] {
        // The first visible, enabled tab stop has the focus after initialisation.
        ASSERT_NE(d.focus(), nullptr);
        EXPECT_EQ(d.focus()->id(), 1011);
        ui::Control& edit = d.control(1035);
        ASSERT_TRUE(d.userType(1035, u"-50000"));
        EXPECT_EQ(edit.text(), u"-50000");
        d.setFocus(1035);
        edit.setEditSelection(0, -1);
        EXPECT_EQ(edit.editSelection(), (std::pair<int, int>{0, 6}));
        edit.setEditSelection(4, 2);
        EXPECT_EQ(edit.editSelection(), (std::pair<int, int>{2, 4}));
        EXPECT_TRUE(edit.hasFocus());
        // Hidden edits and statics take no typing.
        EXPECT_FALSE(d.userType(1033, u"1"));
        EXPECT_FALSE(d.userType(1036, u"1"));
    });
}

TEST_F(Controls, AStaticTextTakesATextColourAndOnlyAStatic) {
    std::vector<std::string> errors;
    auto previous = ui::setViolationHandler([&](std::string_view m) { errors.emplace_back(m); });
    Recorder d(102);
    withDialog(backend, d, [&] {
        ui::Control& line = d.control(1093);  // the main window's status line
        EXPECT_EQ(line.textColor(), std::nullopt);
        line.setTextColor(ui::rgb(200, 0, 0));
        EXPECT_EQ(line.textColor(), ui::rgb(200, 0, 0));
        line.setTextColor(std::nullopt);
        EXPECT_EQ(line.textColor(), std::nullopt);
        d.control(1064).setTextColor(ui::rgb(1, 2, 3));  // a tab control
        EXPECT_EQ(d.control(1064).textColor(), std::nullopt);
    });
    ui::setViolationHandler(previous);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("setTextColor on a tab control"), std::string::npos) << errors[0];
}

TEST_F(Controls, WrongKindAndUnknownIdAreReported) {
    std::vector<std::string> errors;
    auto previous = ui::setViolationHandler([&](std::string_view m) { errors.emplace_back(m); });
    Recorder d(136);
    withDialog(backend, d, [&] {
        d.control(1099).setRange(0, 5);
        EXPECT_EQ(d.control(1099).rowCount(), 0);
        d.setText(4242, u"x");
    });
    ui::setViolationHandler(previous);
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_NE(errors[0].find("setRange on a push button"), std::string::npos) << errors[0];
    EXPECT_NE(errors[2].find("no control 4242"), std::string::npos) << errors[2];
}

}  // namespace
