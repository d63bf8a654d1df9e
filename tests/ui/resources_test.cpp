#include "resources/resources.h"

#include <gtest/gtest.h>

#include <set>

#include "ui/backend.h"

namespace {

using resources::ControlKind;
namespace style = resources::style;

const resources::ControlTemplate* findControl(const resources::DialogTemplate& d, int id) {
    for (const auto& c : d.controls)
        if (c.id == id) return &c;
    return nullptr;
}

TEST(Resources, EveryDialogExistsWithItsCaptionSizeAndFont) {
    struct Expect {
        int id;
        std::u16string_view caption;
        int cx, cy;
    };
    for (const Expect& e :
         {Expect{100, u"关于软件", 235, 55}, Expect{102, u"伺服管理软件", 270, 209},
          Expect{136, u"语种选择(Language selection)", 260, 80}}) {
        const auto* d = resources::findDialog(e.id);
        ASSERT_NE(d, nullptr) << e.id;
        EXPECT_EQ(d->caption, e.caption);
        EXPECT_EQ(d->cx, e.cx);
        EXPECT_EQ(d->cy, e.cy);
    }
    EXPECT_EQ(resources::findDialog(102)->fontName, u"新宋体");
    EXPECT_EQ(resources::findDialog(130)->fontName, u"宋体");
    EXPECT_EQ(resources::findDialog(132)->caption, u"数据输入");
    for (int page : {130, 131, 135}) {
        const auto* d = resources::findDialog(page);
        ASSERT_NE(d, nullptr);
        EXPECT_TRUE(d->style & resources::dialog_style::kChild) << page;
        EXPECT_TRUE(d->caption.empty()) << page;
    }
    EXPECT_EQ(resources::findDialog(101), nullptr);
}

TEST(Resources, ControlIdsAreUniqueAndRectsInsideTheirDialog) {
    for (int id : {100, 102, 130, 131, 132, 135, 136, 140, 141, 144}) {
        const auto* d = resources::findDialog(id);
        ASSERT_NE(d, nullptr);
        std::set<int> ids;
        for (const auto& c : d->controls) {
            if (c.id != resources::kStaticId) {
                EXPECT_TRUE(ids.insert(c.id).second) << id << ":" << c.id;
            }
            EXPECT_GT(c.rect.cx, 0) << id << ":" << c.id;
            EXPECT_GT(c.rect.cy, 0) << id << ":" << c.id;
            EXPECT_GE(c.rect.x, 0) << id << ":" << c.id;
            EXPECT_LE(c.rect.x + c.rect.cx, d->cx) << id << ":" << c.id;
        }
    }
}

TEST(Resources, LanguageDialogButtons) {
    const auto& d = *resources::findDialog(136);
    ASSERT_EQ(d.controls.size(), 3u);
    const auto* chinese = findControl(d, 1099);
    const auto* english = findControl(d, 1100);
    const auto* other = findControl(d, 1101);
    ASSERT_TRUE(chinese && english && other);
    EXPECT_EQ(chinese->text, u"中文(Chinese)");
    EXPECT_EQ(english->text, u"英文(English)");
    EXPECT_EQ(other->text, u"其它(Ohter)");
    for (const auto* c : {chinese, english, other}) EXPECT_EQ(c->kind, ControlKind::PushButton);
    EXPECT_TRUE((chinese->style & style::kNormal) == style::kNormal);
    EXPECT_EQ(other->style & (style::kVisible | style::kEnabled), 0u);
}

TEST(Resources, PageControlsCarryTheirTextsAndStyles) {
    const auto& status = *resources::findDialog(135);
    EXPECT_EQ(findControl(status, 1084)->text, u"通讯管理");
    EXPECT_EQ(findControl(status, 1065)->text, u"连接");
    EXPECT_EQ(findControl(status, 1037)->kind, ControlKind::DropDownList);
    EXPECT_EQ(findControl(status, 1005)->text, u"通讯超时");
    EXPECT_FALSE(findControl(status, 1005)->style & style::kVisible);
    const auto* alarm = findControl(status, 1103);
    EXPECT_EQ(alarm->kind, ControlKind::Edit);
    EXPECT_EQ(alarm->style & (style::kMultiLine | style::kReadOnly | style::kVScroll),
              style::kMultiLine | style::kReadOnly | style::kVScroll);
    const auto* list = findControl(status, 1068);
    EXPECT_EQ(list->kind, ControlKind::ListView);
    EXPECT_TRUE(list->style & style::kReportView);
    EXPECT_TRUE(list->style & style::kSingleSelection);
    EXPECT_TRUE(list->style & style::kShowSelectionAlways);
    for (int id = 1012; id <= 1021; ++id) {
        EXPECT_EQ(findControl(status, id)->kind, ControlKind::CheckBox);
        EXPECT_FALSE(findControl(status, id)->style & style::kVisible) << id;
    }
    EXPECT_EQ(findControl(status, 1101)->text, u"Y7");

    const auto& params = *resources::findDialog(131);
    EXPECT_EQ(findControl(params, 1059)->text, u"参 数 说 明:");
    EXPECT_EQ(findControl(params, 1088)->text, u"固化驱动器参数");
    EXPECT_EQ(findControl(params, 1094)->kind, ControlKind::ProgressBar);
    EXPECT_TRUE(findControl(params, 1095)->style & style::kGroup);
    EXPECT_FALSE(findControl(params, 1096)->style & style::kVisible);

    const auto& scope = *resources::findDialog(130);
    EXPECT_EQ(findControl(scope, 1052)->text, u" XY增益");
    EXPECT_TRUE(findControl(scope, 1012)->style & style::kPushLike);
    EXPECT_EQ(findControl(scope, 1012)->text, u"关闭");
    EXPECT_EQ(findControl(scope, 1070)->kind, ControlKind::DropDownList);
    EXPECT_EQ(findControl(scope, 1024)->kind, ControlKind::DropDownList);
    EXPECT_TRUE(findControl(scope, 1021)->style & style::kVertical);
    EXPECT_FALSE(findControl(scope, 1021)->style & style::kVisible);
    EXPECT_FALSE(findControl(scope, 1020)->style & style::kVertical);

    const auto& range = *resources::findDialog(132);
    EXPECT_TRUE(findControl(range, 1)->style & style::kDefaultButton);
    EXPECT_FALSE(findControl(range, 1)->style & style::kVisible);
    EXPECT_FALSE(findControl(range, 2)->style & style::kVisible);
    EXPECT_TRUE(findControl(range, 1011)->style & style::kNoSortHeader);
    EXPECT_EQ(findControl(range, 1036)->text, u"最小值：");

    const auto& about = *resources::findDialog(100);
    EXPECT_TRUE(findControl(about, 1)->style & style::kDefaultButton);
    EXPECT_EQ(findControl(about, 1)->text, u"确定");

    const auto& main = *resources::findDialog(102);
    EXPECT_EQ(findControl(main, 1064)->kind, ControlKind::TabControl);
    EXPECT_TRUE(findControl(main, 1093)->style & style::kCenterVertically);
}

TEST(Resources, StringTable) {
    EXPECT_EQ(resources::loadString(101), u"关于 软件(&A)...");
    EXPECT_EQ(resources::loadString(103), u"Windows 通信端口初始化失败。");
    EXPECT_TRUE(resources::loadString(102).empty());
}

TEST(DialogUnits, NinePointFontIsSixByTwelveAndRoundsLikeMapDialogRect) {
    const auto u = ui::DialogUnits::forFont(9);
    EXPECT_EQ(u.baseX, 6);
    EXPECT_EQ(u.baseY, 12);
    EXPECT_EQ(u.toPixelsX(260), 390);
    EXPECT_EQ(u.toPixelsY(80), 120);
    EXPECT_EQ(u.toPixelsX(1), 2);  // 1.5 rounds up
    EXPECT_EQ(u.toPixelsY(3), 5);  // 4.5 rounds up
    const ui::Rect r = u.toPixels({15, 28, 70, 24});
    EXPECT_EQ(r, (ui::Rect{23, 42, 128, 78}));
    const auto big = ui::DialogUnits::forFont(12);
    EXPECT_EQ(big.baseY, 16);
    EXPECT_EQ(big.baseX, 8);
}

}  // namespace
