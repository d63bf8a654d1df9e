#include "pages/scope/range_dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "ui/headless.h"

namespace {

using pages::RangeDialog;

constexpr int kList = 1011;
constexpr int kMin = 1035;
constexpr int kMax = 1038;
constexpr int kApply = 1067;

class Range : public ::testing::Test {
  protected:
    Range() {
        ui::setApplicationTitle(u"伺服管理软件");
        const std::u16string_view names[] = {u"速度", u"位置", u"电流", u"未填"};
        const std::uint16_t sizes[] = {2, 4, 2, 0};
        const double ranges[][2] = {{-3000.7, 3000.2}, {-100, 100}, {0, 10}, {1, 2}};
        for (std::size_t i = 0; i < 4; ++i) {
            table[i].rowIndex = static_cast<std::int32_t>(i);
            table[i].name = data::TextRef(names[i]);
            table[i].size = sizes[i];
            table[i].minimum = ranges[i][0];
            table[i].maximum = ranges[i][1];
        }
    }
    int run(std::function<void(ui::Dialog&)> script, bool english = false) {
        backend.queueModalScript(resources::kRangeDialog, std::move(script));
        RangeDialog dialog(table, texts, english ? u"Channel ranges" : u"参数值范围设置", english);
        return dialog.runModal();
    }
    // Selects the row with a click, types both edits and presses 1067.
    static void apply(ui::Dialog& d, int row, std::u16string_view min, std::u16string_view max) {
        if (row >= 0) {
            EXPECT_TRUE(d.userClickRow(kList, row));
        }
        EXPECT_TRUE(d.userType(kMin, min));
        EXPECT_TRUE(d.userType(kMax, max));
        EXPECT_TRUE(d.userClick(kApply));
    }
    std::pair<double, double> range(std::size_t i) const {
        return {table[i].minimum, table[i].maximum};
    }

    ui::HeadlessBackend backend;
    data::ScopeTable table{4};
    data::UiTextTable texts;
};

TEST_F(Range, StartListsTheQuantitiesAndLaysOutTheDialog) {
    run([&](ui::Dialog& d) {
        EXPECT_EQ(d.caption(), u"参数值范围设置");
        const ui::Control& list = d.control(kList);
        ASSERT_EQ(list.columnCount(), 3);
        const std::u16string headers[] = {u"参数名称", u"最小值", u"最大值"};
        const int widths[] = {180, 100, 100};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(list.column(i).header, headers[i]);
            EXPECT_EQ(list.column(i).width, widths[i]);
        }
        EXPECT_EQ(list.extendedStyle(),
                  ui::list_style::kGridLines | ui::list_style::kFullRowSelect);
        ASSERT_EQ(list.rowCount(), 4);
        EXPECT_EQ(list.cellText(0, 0), u"速度");
        EXPECT_EQ(list.cellText(0, 1), u"-3000");  // truncated toward zero
        EXPECT_EQ(list.cellText(0, 2), u"3000");
        // No row chosen at start, and the list does not hold the focus (a
        // focused list may make its first row current).
        EXPECT_EQ(list.selectionMark(), -1);
        for (int r = 0; r < 4; ++r) EXPECT_FALSE(list.isRowSelected(r));
        EXPECT_EQ(d.focus()->id(), kMin);
        EXPECT_EQ(d.text(kMin) + d.text(kMax) + d.text(1033), u"000");
        EXPECT_EQ(d.text(kApply), u"确认修改");
        // Apply and Enter without a row change nothing and keep it open.
        EXPECT_TRUE(d.userClick(kApply));
        EXPECT_FALSE(d.userKey(ui::Key::Enter));
        EXPECT_FALSE(d.modalEnded());
        EXPECT_EQ(list.cellText(0, 1), u"-3000");

        const ui::Rect w = d.windowRect();
        const ui::Rect area = backend.workArea();
        EXPECT_EQ(w, ui::Rect::fromXywh(area.left + (area.width() - 426) / 2,
                                        area.top + (area.height() - 418) / 2, 426, 418));
        EXPECT_EQ(list.rect(), ui::Rect::fromXywh(10, 10, 401, 333));
        EXPECT_EQ(d.control(kApply).rect(), ui::Rect::fromXywh(10, 351, 180, 25));
        EXPECT_EQ(d.control(kMin).rect(), ui::Rect::fromXywh(192, 351, 100, 25));
        EXPECT_EQ(d.control(kMax).rect(), ui::Rect::fromXywh(292, 351, 100, 25));

        // A click fills the edits with the row's list texts, not the stored values.
        EXPECT_TRUE(d.userClickRow(kList, 0));
        EXPECT_EQ(d.text(kMin), u"-3000");
        EXPECT_EQ(d.text(kMax), u"3000");
        EXPECT_EQ(list.selectionMark(), 0);
        EXPECT_TRUE(list.isRowSelected(0));
        EXPECT_EQ(list.lastEnsuredVisible(), 0);
        EXPECT_EQ(d.focus()->id(), kList);
        d.userType(kMin, u"7");
        EXPECT_TRUE(d.userClickRow(kList, -1));  // below the rows: nothing
        EXPECT_EQ(d.text(kMin), u"7");
    });
}

TEST_F(Range, LanguageTextsReplaceCaptionHeadersButtonAndWarning) {
    std::u16string file = u"[<0>]";
    for (int i = 0; i < 122; ++i) file += u"#[]";
    file += u"#[Range]#[Name]#[Min]#[Max]#[Apply]#[Warning]#[Min above max]#END";
    file += u"[<4>]#[INT32S][100][Speed][-3000.7][3000][x]#END";
    data::LanguageData language = data::parseLanguageText(file);
    ASSERT_EQ(language.scopeQuantities().size(), 1u);
    backend.queueModalScript(resources::kRangeDialog, [&](ui::Dialog& d) {
        EXPECT_EQ(d.caption(), u"Range");
        EXPECT_EQ(d.control(kList).column(0).header, u"Name");
        EXPECT_EQ(d.control(kList).column(2).header, u"Max");
        EXPECT_EQ(d.text(kApply), u"Apply");
        EXPECT_EQ(d.control(kList).cellText(0, 0), u"Speed");
        apply(d, 0, u"10", u"5");
    });
    pages::openRangeDialog(language, true);
    ASSERT_EQ(backend.messages().size(), 1u);
    EXPECT_EQ(backend.messages()[0].text, u"Min above max");
    EXPECT_EQ(backend.messages()[0].caption, u"Warning");
    EXPECT_EQ(language.scopeQuantities()[0].maximum, 3000.0);
}

TEST_F(Range, ApplyClampsBySizeAndRewritesTheRowButNotTheEdits) {
    run([&](ui::Dialog& d) {
        apply(d, 0, u"-50000", u"50000");
        EXPECT_EQ(d.control(kList).cellText(0, 1), u"-32767");
        EXPECT_EQ(d.control(kList).cellText(0, 2), u"32767");
        EXPECT_EQ(d.text(kMin) + u" " + d.text(kMax), u"-50000 50000");
        apply(d, 1, u"  -1.5e3", u"5e9\t");
        EXPECT_EQ(d.control(kList).cellText(1, 2), u"2147483647");
        apply(d, 2, u"10", u"10");  // equal ends are accepted
        apply(d, 3, u"1", u"2");    // a row of no known size holds only 0..0
    });
    EXPECT_TRUE(backend.messages().empty());
    EXPECT_EQ(range(0), std::pair(-32767.0, 32767.0));
    EXPECT_EQ(range(1), std::pair(-1500.0, 2147483647.0));
    EXPECT_EQ(range(2), std::pair(10.0, 10.0));
    EXPECT_EQ(range(3), std::pair(0.0, 0.0));

    // Both ends stay inside the bounds: a range wholly beyond them cannot
    // come out reversed.
    run([&](ui::Dialog& d) {
        apply(d, 2, u"40000", u"50000");
        apply(d, 0, u"-90000", u"-40000");
    });
    EXPECT_EQ(range(2), std::pair(32767.0, 32767.0));
    EXPECT_EQ(range(0), std::pair(-32767.0, -32767.0));
}

TEST_F(Range, RefusedEntriesChangeNothing) {
    run([&](ui::Dialog& d) {
        apply(d, 2, u"10", u"5");
        EXPECT_EQ(d.control(kList).cellText(2, 2), u"10");
    });
    ASSERT_EQ(backend.messages().size(), 1u);
    EXPECT_EQ(backend.messages()[0].text, u"设定的最小值不能大于最大值！");
    EXPECT_EQ(backend.messages()[0].caption, u"警告");
    EXPECT_EQ(backend.messages()[0].icon, ui::MessageIcon::None);

    for (const std::u16string entry : {u"abc", u"", u"-0"}) {
        backend.clearMessages();
        run([&](ui::Dialog& d) {
            apply(d, 2, entry, u"20");
            EXPECT_EQ(d.focus()->id(), kMin);
            EXPECT_EQ(d.control(kMin).editSelection(),
                      (std::pair<int, int>{0, static_cast<int>(entry.size())}));
        });
        ASSERT_EQ(backend.messages().size(), 1u);
        EXPECT_EQ(backend.messages()[0].text, u"请键入一个数。");
        EXPECT_EQ(backend.messages()[0].caption, u"参数值范围设置");
        EXPECT_EQ(backend.messages()[0].icon, ui::MessageIcon::Exclamation);
    }
    // In the English UI, English under an English caption.
    backend.clearMessages();
    run([&](ui::Dialog& d) { apply(d, 2, u"abc", u"20"); }, true);
    ASSERT_EQ(backend.messages().size(), 1u);
    EXPECT_EQ(backend.messages()[0].text, u"Please enter a number.");
    EXPECT_EQ(backend.messages()[0].caption, u"Channel ranges");
    // The maximum is read first; and without a selected row nothing is read.
    run([&](ui::Dialog& d) {
        apply(d, 2, u"x", u"y");
        EXPECT_EQ(d.focus()->id(), kMax);
    });
    backend.clearMessages();
    run([&](ui::Dialog& d) { apply(d, -1, u"abc", u"5"); });
    EXPECT_TRUE(backend.messages().empty());
    EXPECT_EQ(range(2), std::pair(0.0, 10.0));

    // A row selected by keyboard counts.
    run([&](ui::Dialog& d) {
        d.userSelectRow(kList, 1);
        apply(d, -1, u"1", u"5");
    });
    EXPECT_EQ(range(1), std::pair(1.0, 5.0));
}

TEST_F(Range, ClosingKeepsAppliedChangesAndAppliesNothingElse) {
    EXPECT_EQ(run([&](ui::Dialog& d) {
                  apply(d, 2, u"1", u"2");
                  d.userClickRow(kList, 1);
                  d.userType(kMin, u"-5");
                  d.userKey(ui::Key::Escape);
              }),
              ui::kIdCancel);
    EXPECT_EQ(range(2), std::pair(1.0, 2.0));
    EXPECT_EQ(range(1), std::pair(-100.0, 100.0));

    // Enter applies and keeps the dialog open; a broken edit is refused.
    EXPECT_EQ(run([&](ui::Dialog& d) {
                  d.userClickRow(kList, 1);
                  d.userType(kMax, u"five");
                  d.setFocus(kMin);
                  EXPECT_FALSE(d.userKey(ui::Key::Enter));
                  EXPECT_EQ(backend.messages().size(), 1u);
                  d.userType(kMin, u"-5");
                  d.userType(kMax, u"5");
                  d.setFocus(kMax);
                  EXPECT_FALSE(d.userKey(ui::Key::Enter));
                  EXPECT_FALSE(d.modalEnded());
                  EXPECT_EQ(d.control(kList).cellText(1, 1), u"-5");
                  // On OK, Enter is OK.
                  d.setFocus(ui::kIdOk);
                  d.userKey(ui::Key::Enter);
                  EXPECT_TRUE(d.modalEnded());
              }),
              ui::kIdOk);
    EXPECT_EQ(backend.messages().size(), 1u);
    EXPECT_EQ(range(1), std::pair(-5.0, 5.0));
}

TEST(RangeNumberRule, AcceptsDecimalNumbersWithBlanksOnly) {
    const std::pair<std::u16string_view, std::optional<double>> cases[] = {
        {u"1.5e3", 1500.0},
        {u" \t-12.25 \t", -12.25},
        {u"+7", 7.0},
        {u"5.", 5.0},
        {u".5", 0.5},
        {u"2E-2", 0.02},
        {u"0", 0.0},
        {u"  00.000", 0.0},
        {u"0e7", 0.0},
        // A zero must start with the digit 0.
        {u"-0", std::nullopt},
        {u"+0", std::nullopt},
        {u".0", std::nullopt},
        {u"1e-400", std::nullopt},
        // Not decimal numbers, or more than blanks after them.
        {u"", std::nullopt},
        {u"   ", std::nullopt},
        {u".", std::nullopt},
        {u"-", std::nullopt},
        {u"1e", std::nullopt},
        {u"1e+", std::nullopt},
        {u"1 2", std::nullopt},
        {u"12abc", std::nullopt},
        {u"0x10", std::nullopt},
        {u"inf", std::nullopt},
        {u"nan", std::nullopt},
        {u"1,5", std::nullopt},
        {u"1\n", std::nullopt}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(pages::parseEditNumber(text), value) << std::string(text.begin(), text.end());
    // Only the first 31 characters count.
    EXPECT_EQ(pages::parseEditNumber(u"1" + std::u16string(30, u' ') + u"x"), 1.0);
    EXPECT_EQ(pages::parseEditNumber(u"1" + std::u16string(29, u' ') + u"x"), std::nullopt);
    EXPECT_EQ(pages::parseEditNumber(u"1e999"), std::numeric_limits<double>::infinity());
}

}  // namespace
