#include "data/layout_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace {

using data::LayoutIssue;

std::multiset<LayoutIssue> kinds(const std::vector<data::LayoutWarning>& warnings) {
    std::multiset<LayoutIssue> out;
    for (const auto& w : warnings) {
        out.insert(w.kind);
        EXPECT_FALSE(w.message.empty());
    }
    return out;
}

std::u16string statusSection(int items, const char16_t* lastType = u"INT16S") {
    std::u16string t = u"[<3>]\r\n";
    for (int i = 0; i < items; ++i)
        t += u"#[" + std::u16string(i + 1 == items ? lastType : u"INT16S") + u"][" +
             std::u16string(1, static_cast<char16_t>(u'0' + i)) + u"][s][][]\r\n";
    return t + u"#END\r\n";
}

TEST(LayoutCheck, AGoodFileHasNoWarnings) {
    data::LanguageDiagnostics diag;
    const auto d = data::parseLanguageText(
        u"[<1>]#M=[m]#END"
        u"[<2>]#[RW][INT16S][100][P0][a][][0][1][0][][%M%][]"
        u"#[RW][INT32S][101][P1][b][][0][1][0][][][]"
        u"#[R][INT16U][103][P2][c][][0][1][0][][][]#END" +
            statusSection(9) +
            u"[<4>]#[INT16S][10][a][0][1][]#[INT32S][11][b][0][1][]#[INT16U][13][c][0][1][]#END"
            u"[<5>]#[0][none][]#END",
        &diag);
    const auto warnings = data::checkLayout(d, &diag);
    for (const auto& w : warnings) ADD_FAILURE() << data::layoutIssueName(w.kind) << ": " << w.message;
}

TEST(LayoutCheck, ParameterOrderSpanAndCount) {
    std::u16string t = u"[<2>]";
    // 16-bit at 0, then 32-bit at 1 (fine), then a gap to 10.
    t += u"#[RW][INT16S][0][][][][][][][][][]#[RW][INT32S][1][][][][][][][][][]#[RW][INT16S][10][][][][][][][][][]";
    t += u"#[RW][INT16S][300][][][][][][][][][]#END";
    const auto w = kinds(data::checkLayout(data::parseLanguageText(t)));
    EXPECT_EQ(w.count(LayoutIssue::ParameterOrder), 2u);
    EXPECT_EQ(w.count(LayoutIssue::ParameterSpan), 1u);
    EXPECT_EQ(w.count(LayoutIssue::TooManyParameters), 0u);

    std::u16string many = u"[<2>]";
    for (int i = 0; i < 130; ++i) many += u"#[R][INT32U][" + std::u16string(u"0") + u"][][][][][][][][][]";
    many += u"#END";
    const auto warnings = data::checkLayout(data::parseLanguageText(many));
    const auto m = kinds(warnings);
    EXPECT_EQ(m.count(LayoutIssue::TooManyParameters), 1u);
    EXPECT_EQ(m.count(LayoutIssue::ParameterBytes), 1u);
    // 129 order warnings are listed as 20 and one summary.
    EXPECT_EQ(m.count(LayoutIssue::ParameterOrder), 21u);

    const auto high = kinds(data::checkLayout(data::parseLanguageText(u"[<2>]#[R][INT16S][65530][][][][][][][][][]#END")));
    EXPECT_EQ(high.count(LayoutIssue::ParameterSpan), 1u);
}

TEST(LayoutCheck, StatusItems) {
    const auto few = kinds(data::checkLayout(data::parseLanguageText(statusSection(8))));
    EXPECT_EQ(few.count(LayoutIssue::NoAlarmValue), 1u);
    const auto last32 = kinds(data::checkLayout(data::parseLanguageText(statusSection(9, u"INT32S"))));
    EXPECT_EQ(last32.count(LayoutIssue::StatusLast32Bit), 1u);
    EXPECT_EQ(last32.count(LayoutIssue::NoAlarmValue), 0u);
    const auto order = kinds(data::checkLayout(data::parseLanguageText(
        u"[<3>]#[INT16S][5][a][][]#[INT16S][2][b][0.0][]#[INT16S][6][c][][]#END")));
    EXPECT_EQ(order.count(LayoutIssue::StatusOrder), 1u);
    EXPECT_EQ(order.count(LayoutIssue::StatusDivisorZero), 1u);
}

TEST(LayoutCheck, ScopeRows) {
    const auto w = kinds(data::checkLayout(data::parseLanguageText(
        u"[<4>]#[INT32S][10][a][0][1][]#[INT16S][11][b][0][1][]#[INT16S][12][c#][0][1][]#END")));
    // Row 1 should be at 12; row 2 is at 12 after 11 (fine); row 3 is unfilled.
    EXPECT_EQ(w.count(LayoutIssue::ScopeRegisters), 3u);
}

TEST(LayoutCheck, ParserObservations) {
    data::LanguageDiagnostics diag;
    const auto d = data::parseLanguageText(
        u"[<2>]#[R][INT16S][0][][][][][][][][%Early%][]#END"
        u"[<1>]#Late=[x]#END"
        u"[<0>]#[no end]"
        u"[<9>]#[x]#END"
        u"[<5>]#[1][a#][b]#END"
        u"[<5>]#[1][a][b]#[2]#END",
        &diag);
    const auto w = kinds(data::checkLayout(d, &diag));
    EXPECT_EQ(w.count(LayoutIssue::UndefinedMacro), 1u);
    EXPECT_EQ(w.count(LayoutIssue::SectionWithoutEnd), 1u);
    EXPECT_EQ(w.count(LayoutIssue::UnknownSection), 1u);
    EXPECT_EQ(w.count(LayoutIssue::ExtraMarkers), 1u);
    EXPECT_EQ(w.count(LayoutIssue::DuplicateSection), 1u);
    EXPECT_EQ(w.count(LayoutIssue::SectionEndedEarly), 1u);
}

TEST(LayoutCheck, ModelNotes) {
    data::ModelDiagnostics models;
    models.setsIgnored = 2;
    models.valuesIgnored = 5;
    const auto w = kinds(data::checkLayout(data::LanguageData{}, nullptr, &models));
    EXPECT_EQ(w.count(LayoutIssue::ModelSetsIgnored), 2u);
}

TEST(LayoutCheck, NamesAreStableAndDistinct) {
    std::set<std::string_view> names;
    for (int k = 0; k <= static_cast<int>(LayoutIssue::ModelSetsIgnored); ++k) {
        const auto name = data::layoutIssueName(static_cast<LayoutIssue>(k));
        EXPECT_NE(name, "unknown");
        EXPECT_TRUE(names.insert(name).second) << name;
    }
    EXPECT_EQ(data::layoutIssueName(LayoutIssue::ParameterOrder), "parameter-order");
}

}  // namespace
