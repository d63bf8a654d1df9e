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
const std::u16string kNumberMessage = u"请键入一个数。";

class Range : public ::testing::Test {
  protected:
    Range() {
        ui::setApplicationTitle(u"伺服管理软件");
        set(0, u"速度", 2, -3000.7, 3000.2);
        set(1, u"位置", 4, -100.0, 100.0);
        set(2, u"电流", 2, 0.0, 10.0);
        set(3, u"未填", 0, 1.0, 2.0);
    }
    void set(std::size_t i, std::u16string_view name, std::uint16_t size, double min, double max) {
        data::ScopeQuantity& q = table[i];
        q.rowIndex = static_cast<std::int32_t>(i);
        q.name = data::TextRef(name);
        q.size = size;
        q.minimum = min;
        q.maximum = max;
    }
    // Runs the dialog with the script; returns its result.
    int run(std::function<void(ui::Dialog&)> script) {
        backend.queueModalScript(resources::kRangeDialog, std::move(script));
        RangeDialog dialog(table, texts, u"参数值范围设置");
        return dialog.runModal();
    }
    void expectRange(std::size_t i, double min, double max) {
        EXPECT_EQ(table[i].minimum, min) << i;
        EXPECT_EQ(table[i].maximum, max) << i;
    }
    static void enter(ui::Dialog& d, std::u16string_view min, std::u16string_view max) {
        EXPECT_TRUE(d.userType(kMin, min));
        EXPECT_TRUE(d.userType(kMax, max));
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
        EXPECT_EQ(list.column(0).header, u"参数名称");
        EXPECT_EQ(list.column(1).header, u"最小值");
        EXPECT_EQ(list.column(2).header, u"最大值");
        EXPECT_EQ(list.column(0).width, 180);
        EXPECT_EQ(list.column(1).width, 100);
        EXPECT_EQ(list.column(2).width, 100);
        EXPECT_EQ(list.extendedStyle(),
                  ui::list_style::kGridLines | ui::list_style::kFullRowSelect);
        ASSERT_EQ(list.rowCount(), 4);
        EXPECT_EQ(list.cellText(0, 0), u"速度");
        EXPECT_EQ(list.cellText(0, 1), u"-3000");  // truncated toward zero
        EXPECT_EQ(list.cellText(0, 2), u"3000");
        EXPECT_EQ(list.cellText(1, 1), u"-100");
        EXPECT_EQ(list.selectionMark(), -1);
        EXPECT_EQ(d.text(kMin), u"0");
        EXPECT_EQ(d.text(kMax), u"0");
        EXPECT_EQ(d.text(1033), u"0");
        EXPECT_EQ(d.text(kApply), u"确认修改");

        const ui::Rect w = d.windowRect();
        EXPECT_EQ(w.size(), (ui::Size{426, 418}));
        const ui::Rect area = backend.workArea();
        EXPECT_EQ(w.left, area.left + (area.width() - 426) / 2);
        EXPECT_EQ(w.top, area.top + (area.height() - 418) / 2);
        EXPECT_EQ(list.rect(), ui::Rect::fromXywh(10, 10, 401, 333));
        EXPECT_EQ(d.control(kApply).rect(), ui::Rect::fromXywh(10, 351, 180, 25));
        EXPECT_EQ(d.control(kMin).rect(), ui::Rect::fromXywh(192, 351, 100, 25));
        EXPECT_EQ(d.control(kMax).rect(), ui::Rect::fromXywh(292, 351, 100, 25));
        EXPECT_FALSE(d.control(1).isVisible());
        EXPECT_FALSE(d.control(1033).isVisible());
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
        d.userClickRow(kList, 0);
        enter(d, u"10", u"5");
        d.userClick(kApply);
    });
    pages::openRangeDialog(language);
    ASSERT_EQ(backend.messages().size(), 1u);
    EXPECT_EQ(backend.messages()[0].text, u"Min above max");
    EXPECT_EQ(backend.messages()[0].caption, u"Warning");
    EXPECT_EQ(backend.messages()[0].icon, ui::MessageIcon::None);
    EXPECT_EQ(language.scopeQuantities()[0].maximum, 3000.0);
    EXPECT_EQ(backend.modalRuns(), std::vector<int>{resources::kRangeDialog});
}

TEST_F(Range, ClickOnARowFillsTheEditsWithItsListTexts) {
    run([&](ui::Dialog& d) {
        EXPECT_TRUE(d.userClickRow(kList, 0));
        EXPECT_EQ(d.text(kMin), u"-3000");
        EXPECT_EQ(d.text(kMax), u"3000");
        const ui::Control& list = d.control(kList);
        EXPECT_EQ(list.selectionMark(), 0);
        EXPECT_TRUE(list.isRowSelected(0));
        EXPECT_EQ(list.lastEnsuredVisible(), 0);
        ASSERT_NE(d.focus(), nullptr);
        EXPECT_EQ(d.focus()->id(), kList);
        // A click below the rows leaves the edits alone.
        d.userType(kMin, u"7");
        EXPECT_TRUE(d.userClickRow(kList, -1));
        EXPECT_EQ(d.text(kMin), u"7");
    });
}

TEST_F(Range, ApplyClampsBySizeAndRewritesTheRowButNotTheEdits) {
    run([&](ui::Dialog& d) {
        d.userClickRow(kList, 0);
        enter(d, u"-50000", u"50000");
        d.userClick(kApply);
        EXPECT_EQ(d.control(kList).cellText(0, 1), u"-32767");
        EXPECT_EQ(d.control(kList).cellText(0, 2), u"32767");
        EXPECT_EQ(d.text(kMin), u"-50000");
        EXPECT_EQ(d.text(kMax), u"50000");

        d.userClickRow(kList, 1);
        enter(d, u"  -1.5e3", u"5e9\t");
        d.userClick(kApply);
        EXPECT_EQ(d.control(kList).cellText(1, 1), u"-1500");
        EXPECT_EQ(d.control(kList).cellText(1, 2), u"2147483647");

        // Equal ends are accepted.
        d.userClickRow(kList, 2);
        enter(d, u"10", u"10");
        d.userClick(kApply);
        // A row of no known size only holds 0..0.
        d.userClickRow(kList, 3);
        enter(d, u"1", u"2");
        d.userClick(kApply);
    });
    EXPECT_TRUE(backend.messages().empty());
    expectRange(0, -32767.0, 32767.0);
    expectRange(1, -1500.0, 2147483647.0);
    expectRange(2, 10.0, 10.0);
    expectRange(3, 0.0, 0.0);
}

// Both ends stay inside the size's bounds, so a range wholly beyond them
// cannot come out reversed.
TEST_F(Range, ARangeBeyondTheBoundsStaysOrdered) {
    run([&](ui::Dialog& d) {
        d.userClickRow(kList, 2);
        enter(d, u"40000", u"50000");
        d.userClick(kApply);
        d.userClickRow(kList, 0);
        enter(d, u"-90000", u"-40000");
        d.userClick(kApply);
    });
    expectRange(2, 32767.0, 32767.0);
    expectRange(0, -32767.0, -32767.0);
}

TEST_F(Range, MinimumAboveMaximumIsRefusedWithAPlainWarning) {
    run([&](ui::Dialog& d) {
        d.userClickRow(kList, 2);
        enter(d, u"10", u"5");
        d.userClick(kApply);
        EXPECT_EQ(d.control(kList).cellText(2, 2), u"10");
    });
    ASSERT_EQ(backend.messages().size(), 1u);
    EXPECT_EQ(backend.messages()[0].text, u"设定的最小值不能大于最大值！");
    EXPECT_EQ(backend.messages()[0].caption, u"警告");
    EXPECT_EQ(backend.messages()[0].icon, ui::MessageIcon::None);
    expectRange(2, 0.0, 10.0);
}

TEST_F(Range, AnEditThatIsNoNumberIsRefusedAndSelected) {
    const std::u16string refused[] = {u"abc", u"", u"-0"};
    for (const std::u16string& entry : refused) {
        backend.clearMessages();
        run([&](ui::Dialog& d) {
            d.userClickRow(kList, 2);
            enter(d, entry, u"20");
            d.userClick(kApply);
            ASSERT_NE(d.focus(), nullptr);
            EXPECT_EQ(d.focus()->id(), kMin);
            EXPECT_EQ(d.control(kMin).editSelection(),
                      (std::pair<int, int>{0, static_cast<int>(entry.size())}));
        });
        ASSERT_EQ(backend.messages().size(), 1u) << std::string(entry.begin(), entry.end());
        EXPECT_EQ(backend.messages()[0].text, kNumberMessage);
        EXPECT_EQ(backend.messages()[0].caption, u"伺服管理软件");
        EXPECT_EQ(backend.messages()[0].icon, ui::MessageIcon::Exclamation);
        expectRange(2, 0.0, 10.0);
    }
    // The maximum is read first: with both broken, its edit gets the focus.
    backend.clearMessages();
    run([&](ui::Dialog& d) {
        d.userClickRow(kList, 2);
        enter(d, u"x", u"y");
        d.userClick(kApply);
        EXPECT_EQ(d.focus()->id(), kMax);
    });
    EXPECT_EQ(backend.messages().size(), 1u);
}

TEST_F(Range, ApplyWithoutASelectedRowDoesNothing) {
    run([&](ui::Dialog& d) {
        enter(d, u"abc", u"5");
        d.userClick(kApply);
        enter(d, u"1", u"5");
        d.userClick(kApply);
        // Keyboard selection counts as a selection.
        d.userSelectRow(kList, 1);
        d.userClick(kApply);
    });
    EXPECT_TRUE(backend.messages().empty());
    expectRange(0, -3000.7, 3000.2);
    expectRange(1, 1.0, 5.0);
}

TEST_F(Range, ClosingKeepsAppliedChangesAndAppliesNothingElse) {
    EXPECT_EQ(run([&](ui::Dialog& d) {
                  d.userClickRow(kList, 2);
                  enter(d, u"1", u"2");
                  d.userClick(kApply);
                  d.userClickRow(kList, 1);
                  enter(d, u"-5", u"5");
                  d.userKey(ui::Key::Escape);
              }),
              ui::kIdCancel);
    expectRange(2, 1.0, 2.0);
    expectRange(1, -100.0, 100.0);

    // Enter reads the edits: a broken one keeps the dialog open.
    EXPECT_EQ(run([&](ui::Dialog& d) {
                  d.userClickRow(kList, 1);
                  enter(d, u"-5", u"five");
                  d.setFocus(kMin);
                  d.userKey(ui::Key::Enter);
                  EXPECT_FALSE(d.modalEnded());
                  EXPECT_EQ(d.focus()->id(), kMax);
                  d.userType(kMax, u"5");
                  d.userKey(ui::Key::Enter);
                  EXPECT_TRUE(d.modalEnded());
              }),
              ui::kIdOk);
    EXPECT_EQ(backend.messages().size(), 1u);
    expectRange(1, -100.0, 100.0);
}

TEST(RangeNumberRule, AcceptsDecimalNumbersWithBlanksOnly) {
    struct Case {
        std::u16string_view text;
        std::optional<double> value;
    };
    const Case cases[] = {
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
        {u"1\n", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pages::parseEditNumber(c.text), c.value)
            << std::string(c.text.begin(), c.text.end());

    // Only the first 31 characters count.
    const std::u16string ignored = u"1" + std::u16string(30, u' ') + u"x";
    EXPECT_EQ(pages::parseEditNumber(ignored), 1.0);
    const std::u16string counted = u"1" + std::u16string(29, u' ') + u"x";
    EXPECT_EQ(pages::parseEditNumber(counted), std::nullopt);
    EXPECT_EQ(pages::parseEditNumber(u"1e999"), std::numeric_limits<double>::infinity());
}

}  // namespace
