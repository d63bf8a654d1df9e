// Large and pathological inputs: bounded memory, linear time, no overrun.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "data/language.h"
#include "data/model_sets.h"
#include "test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::u16string repeat(std::u16string_view piece, std::size_t times) {
    std::u16string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(LargeInput, ManyHeadersWithoutEndAreLinear) {
    const auto start = Clock::now();
    for (std::u16string_view piece : {u"[<x>]", u"[<1>]", u"[<1>]#", u"[<0>]#[", u"[<"}) {
        const auto d = data::parseLanguageText(repeat(piece, 200000));
        EXPECT_FALSE(d.uiTexts()[0].present());
    }
    EXPECT_LT(secondsSince(start), 10.0);
}

TEST(LargeInput, ManyMarkersAreCapped) {
    std::u16string t = u"[<3>]" + repeat(u"#", 100000) + u"[INT16S][1][a][][]#END";
    data::LanguageDiagnostics diag;
    const auto d = data::parseLanguageText(t, &diag);
    EXPECT_EQ(d.statusItems().size(), data::LanguageData::kMaxRecords);
    ASSERT_EQ(diag.sections.size(), 1u);
    EXPECT_TRUE(diag.sections[0].capped);
    EXPECT_EQ(diag.sections[0].markers, 100000u);
    // Only the first marker is followed by fields: entry 0 takes them all.
    EXPECT_EQ(d.statusItems()[0].address, 1);
}

TEST(LargeInput, ManyMacrosAndParameters) {
    const auto start = Clock::now();
    std::u16string t = u"[<1>]" + repeat(u"#m=[v]", 50000) + u"#END[<2>]" +
                       repeat(u"#[RW][INT16S][1][n][n][n][1][2][3][u][%M%][%nope%]", 20000) + u"#END";
    const auto d = data::parseLanguageText(t);
    ASSERT_EQ(d.parameters().size(), 20000u);
    EXPECT_EQ(d.parameters()[19999].effectMode, data::TextRef(u"v"));
    EXPECT_EQ(d.parameters()[19999].description, data::TextRef(u""));
    EXPECT_LT(secondsSince(start), 10.0);
}

TEST(LargeInput, LongUiTextSection) {
    const auto d = data::parseLanguageText(u"[<0>]" + repeat(u"#[abc]", 300000) + u"#END");
    EXPECT_EQ(d.uiTexts()[149], data::TextRef(u"abc"));
}

TEST(LargeInput, ModelFileWithManySetsAndParameters) {
    std::string text;
    for (int s = 0; s < 1000; ++s) {
        text += "##Model" + std::to_string(s) + ",\r\n";
        for (int i = 0; i < 150; ++i) text += "P" + std::to_string(i) + "," + std::to_string(s * 1000 + i) + "\r\n";
    }
    data::ModelDiagnostics diag;
    const auto sets = data::parseModelTable(datatest::bytesOf(text), 150, &diag);
    EXPECT_EQ(sets.count(), 70u);
    EXPECT_EQ(sets.value(69, 99), 69099);
    EXPECT_EQ(diag.setsIgnored, 930u);
    EXPECT_EQ(sets.values(0).size(), 100u);
}

}  // namespace
