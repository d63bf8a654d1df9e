#include "data/language.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using data::LanguageData;
using data::LanguageDiagnostics;
using data::TextRef;
using data::TypeCode;

TextRef text(std::u16string_view v) { return TextRef(v); }

// ---- Section 0 -------------------------------------------------------------

TEST(UiTexts, EmptyFieldLeavesEntryAbsentButTakesItsNumber) {
    const LanguageData d = data::parseLanguageText(u"\uFEFF[<0>]\r\n#0 caption[]\r\n#1 [Status]\r\n#2 [Parameters]\r\n#END\r\n");
    const auto& ui = d.uiTexts();
    EXPECT_FALSE(ui[0].present());
    EXPECT_EQ(ui[1], text(u"Status"));
    EXPECT_EQ(ui[2], text(u"Parameters"));
    EXPECT_FALSE(ui[3].present());
    EXPECT_EQ(ui.text(0, u"default caption"), u"default caption");
    EXPECT_EQ(ui.text(1, u"x"), u"Status");
    EXPECT_FALSE(ui[150].present());
    EXPECT_FALSE(ui[100000].present());
    EXPECT_EQ(d.parameters().size(), 0u);
}

TEST(UiTexts, EscapedMarkerIsNotANewEntry) {
    const LanguageData d = data::parseLanguageText(u"[<0>]#label \\# not an entry [A]#[B]#END");
    EXPECT_EQ(d.uiTexts()[0], text(u"A"));
    EXPECT_EQ(d.uiTexts()[1], text(u"B"));
    EXPECT_FALSE(d.uiTexts()[2].present());
}

TEST(UiTexts, EscapeBackslashStaysInFieldText) {
    const LanguageData d = data::parseLanguageText(u"[<0>]#[a\\#b]#END");
    EXPECT_EQ(d.uiTexts()[0], text(u"a\\#b"));
}

TEST(UiTexts, AtMost150EntriesAndTheRestIsIgnored) {
    std::u16string t = u"[<0>]";
    for (int i = 0; i < 160; ++i) t += u"#[" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) + u"]";
    t += u"#END";
    LanguageDiagnostics diag;
    const LanguageData d = data::parseLanguageText(t, &diag);
    EXPECT_EQ(d.uiTexts()[149], text(std::u16string(1, static_cast<char16_t>(u'A' + 149 % 26))));
    EXPECT_EQ(diag.uiEntriesIgnored, 10u);
}

TEST(UiTexts, MissingBracketStopsTheSection) {
    LanguageDiagnostics diag;
    const LanguageData d = data::parseLanguageText(u"[<0>]#[A]#[B#[C]#END", &diag);
    EXPECT_EQ(d.uiTexts()[0], text(u"A"));
    // "[B#[C]": the field is "B#[C" (there is no escape for '[').
    EXPECT_EQ(d.uiTexts()[1], text(u"B#[C"));
    EXPECT_FALSE(d.uiTexts()[2].present());

    const LanguageData e = data::parseLanguageText(u"[<0>]#[A]#B#END", &diag);
    EXPECT_EQ(e.uiTexts()[0], text(u"A"));
    EXPECT_FALSE(e.uiTexts()[1].present());
    ASSERT_EQ(diag.sections.size(), 1u);
    EXPECT_TRUE(diag.sections[0].endedEarly);
}

TEST(UiTexts, FieldsDoNotReachPastTheSectionEnd) {
    const LanguageData d = data::parseLanguageText(u"[<0>]#[A]#[B#END [C]");
    EXPECT_EQ(d.uiTexts()[0], text(u"A"));
    EXPECT_FALSE(d.uiTexts()[1].present());
}

// ---- Section structure -------------------------------------------------------

TEST(Sections, SectionWithoutEndChangesNothingAndFollowingSectionsAreRead) {
    LanguageDiagnostics diag;
    const LanguageData d = data::parseLanguageText(
        u"[<0>]\r\n#[Lost]\r\n"
        u"[<5>]\r\n#[3][Overvoltage][Supply too high]\r\n#END\r\n",
        &diag);
    EXPECT_FALSE(d.uiTexts()[0].present());
    ASSERT_EQ(d.alarms().size(), 1u);
    EXPECT_EQ(d.alarms()[0].code, 3);
    ASSERT_EQ(diag.sections.size(), 2u);
    EXPECT_FALSE(diag.sections[0].hasEnd);
    EXPECT_TRUE(diag.sections[1].hasEnd);
}

TEST(Sections, LastSectionWithoutEndIsSkipped) {
    const LanguageData d = data::parseLanguageText(u"[<5>]#[1][a][b]");
    EXPECT_EQ(d.alarms().size(), 0u);
}

TEST(Sections, SectionWithoutAnyMarkerIsSkipped) {
    const LanguageData d = data::parseLanguageText(u"[<0>] nothing [<0>]#[A]#END");
    EXPECT_EQ(d.uiTexts()[0], text(u"A"));
}

TEST(Sections, UnknownNumbersAreSkipped) {
    LanguageDiagnostics diag;
    const LanguageData d = data::parseLanguageText(u"[<7>]#[x]#END[<-1>]#[y]#END[< 0 >]#[z]#END", &diag);
    EXPECT_EQ(d.uiTexts()[0], text(u"z"));
    ASSERT_EQ(diag.sections.size(), 3u);
    EXPECT_EQ(diag.sections[0].number, 7);
    EXPECT_FALSE(diag.sections[0].known);
    EXPECT_EQ(diag.sections[1].number, -1);
    EXPECT_TRUE(diag.sections[2].known);
}

TEST(Sections, TextOutsideSectionsIsIgnored) {
    const LanguageData d = data::parseLanguageText(u"#[junk] [x] #END [<0>]#[A]#END #[more] [<");
    EXPECT_EQ(d.uiTexts()[0], text(u"A"));
    EXPECT_FALSE(d.uiTexts()[1].present());
}

TEST(Sections, MalformedHeaders) {
    EXPECT_FALSE(data::parseLanguageText(u"[<0#[A]#END").uiTexts()[0].present());
    EXPECT_FALSE(data::parseLanguageText(u"[<").uiTexts()[0].present());
    EXPECT_FALSE(data::parseLanguageText(u"[<0>]").uiTexts()[0].present());
    EXPECT_FALSE(data::parseLanguageText(u"[<0>]#").uiTexts()[0].present());
    EXPECT_FALSE(data::parseLanguageText(u"[<0>]#[").uiTexts()[0].present());
    EXPECT_FALSE(data::parseLanguageText(u"[<0>]#[A").uiTexts()[0].present());
    EXPECT_FALSE(data::parseLanguageText(u"[<0>]#[A]#EN").uiTexts()[0].present());
    EXPECT_FALSE(data::parseLanguageText(u"").uiTexts()[0].present());
    // "#END" is matched in upper case only.
    EXPECT_FALSE(data::parseLanguageText(u"[<0>]#[A]#end").uiTexts()[0].present());
}

// ---- Sections 1 and 2 ---------------------------------------------------------

constexpr std::u16string_view kMacros =
    u"[<1>]\r\n"
    u"#ImmediateEffect=[Takes effect at once]\r\n"
    u"#Restart = [After a restart]\r\n"
    u"#END\r\n";

constexpr std::u16string_view kParameters =
    u"[<2>]\r\n"
    u"#[RW][INT32S][4096][P01.02][Speed][All][-5000][5000][0][rpm][%immediateeffect%][Speed limit]\r\n"
    u"#[rw][int16u][4098][P01.03][Gain][][0][65535][100][][%Nothing%][%RESTART%]\r\n"
    u"#[Rx][INT64][ 4099x][P01.04][Odd][A][-1][x][][u][%][%%]\r\n"
    u"#END\r\n";

TEST(Parameters, ThePartsExampleEntry) {
    const LanguageData d = data::parseLanguageText(std::u16string(kMacros) + std::u16string(kParameters));
    ASSERT_EQ(d.parameters().size(), 3u);
    const data::ParameterDefinition& p = d.parameters()[0];
    EXPECT_EQ(p.access, data::kAccessWritable);
    EXPECT_TRUE(p.writable());
    EXPECT_EQ(p.typeCode, TypeCode::Int32S);
    EXPECT_EQ(p.address, 4096);
    EXPECT_EQ(p.numberText, text(u"P01.02"));
    EXPECT_EQ(p.name, text(u"Speed"));
    EXPECT_EQ(p.applicableMode, text(u"All"));
    EXPECT_EQ(p.minimum, static_cast<std::uint32_t>(-5000));
    EXPECT_EQ(p.maximum, 5000u);
    EXPECT_EQ(p.factoryValue, 0u);
    EXPECT_EQ(p.unit, text(u"rpm"));
    EXPECT_EQ(p.effectMode, text(u"Takes effect at once"));  // case ignored
    EXPECT_EQ(p.description, text(u"Speed limit"));
    EXPECT_EQ(p.driveValue.load(), 0u);
    EXPECT_EQ(p.fileValue.load(), 0u);
}

TEST(Parameters, LowerCaseAccessUndefinedMacroAndEmptyFields) {
    LanguageDiagnostics diag;
    const LanguageData d = data::parseLanguageText(std::u16string(kMacros) + std::u16string(kParameters), &diag);
    const data::ParameterDefinition& p = d.parameters()[1];
    EXPECT_EQ(p.access, data::kAccessWritable);
    EXPECT_EQ(p.typeCode, TypeCode::Int16U);
    EXPECT_EQ(p.maximum, 65535u);
    EXPECT_EQ(p.factoryValue, 100u);
    // An empty bracket pair is an empty text, not an absent one.
    EXPECT_TRUE(p.applicableMode.present());
    EXPECT_EQ(p.applicableMode.view(), u"");
    EXPECT_TRUE(p.unit.present());
    // Undefined macro: an empty text.
    EXPECT_TRUE(p.effectMode.present());
    EXPECT_EQ(p.effectMode.view(), u"");
    // The macro name ends at the space before '='.
    EXPECT_EQ(p.description, text(u"After a restart"));
    ASSERT_EQ(diag.unresolvedMacros.size(), 2u);
    EXPECT_EQ(diag.unresolvedMacros[0].name, u"Nothing");
    EXPECT_EQ(diag.unresolvedMacros[0].field, 10);
    EXPECT_FALSE(diag.unresolvedMacros[0].beforeMacroSection);
}

TEST(Parameters, FallbacksForUnrecognisedWords) {
    const LanguageData d = data::parseLanguageText(std::u16string(kMacros) + std::u16string(kParameters));
    const data::ParameterDefinition& p = d.parameters()[2];
    EXPECT_EQ(p.access, data::kAccessReadOnly);
    EXPECT_EQ(p.typeCode, TypeCode::Int16S);
    EXPECT_EQ(p.address, 4099);
    // 16-bit type: -1 stored as 16 bits in the low half.
    EXPECT_EQ(p.minimum, 0xFFFFu);
    EXPECT_EQ(p.maximum, 0u);
    EXPECT_EQ(p.factoryValue, 0u);
    // "%" alone is no reference; "%%" refers to the empty name, not defined.
    EXPECT_EQ(p.effectMode, text(u"%"));
    EXPECT_EQ(p.description, text(u""));
}

TEST(Parameters, Section2BeforeSection1ResolvesEveryMacroToEmpty) {
    LanguageDiagnostics diag;
    const LanguageData d = data::parseLanguageText(std::u16string(kParameters) + std::u16string(kMacros), &diag);
    ASSERT_EQ(d.parameters().size(), 3u);
    EXPECT_EQ(d.parameters()[0].effectMode, text(u""));
    EXPECT_EQ(d.parameters()[1].description, text(u""));
    ASSERT_FALSE(diag.unresolvedMacros.empty());
    EXPECT_TRUE(diag.unresolvedMacros[0].beforeMacroSection);
}

TEST(Parameters, EmptyAccessIsReadOnlyAndAddressWrapsTo16Bits) {
    const LanguageData d =
        data::parseLanguageText(u"[<2>]#[][INT32U][65537][][][][-1][4294967295][7][][][]#END");
    ASSERT_EQ(d.parameters().size(), 1u);
    EXPECT_EQ(d.parameters()[0].access, data::kAccessReadOnly);
    EXPECT_EQ(d.parameters()[0].address, 1);
    EXPECT_EQ(d.parameters()[0].minimum, 0xFFFFFFFFu);
    EXPECT_EQ(d.parameters()[0].maximum, 0xFFFFFFFFu);
    EXPECT_EQ(d.parameters()[0].factoryValue, 7u);
}

TEST(Parameters, FieldsAreTakenWhereverTheyStand) {
    const LanguageData d = data::parseLanguageText(
        u"[<2>]#first [RW][INT16S]\r\n junk [10] [a] [b]\r\n[c][1][2][3][d][e][f] tail #[R][INT16U][11][][][][][][][][][]#END");
    ASSERT_EQ(d.parameters().size(), 2u);
    EXPECT_EQ(d.parameters()[0].address, 10);
    EXPECT_EQ(d.parameters()[0].description, text(u"f"));
    EXPECT_EQ(d.parameters()[1].address, 11);
}

TEST(Parameters, MarkerInsideAFieldIsCountedAndLeavesARecordAtInitialValues) {
    LanguageDiagnostics diag;
    const LanguageData d = data::parseLanguageText(
        u"[<2>]#[RW][INT16U][5][P#1][n][m][0][9][1][u][e][d]#[RW][INT16U][6][P2][n][m][0][9][1][u][e][d]#END", &diag);
    ASSERT_EQ(d.parameters().size(), 3u);
    EXPECT_EQ(d.parameters()[0].numberText, text(u"P#1"));
    EXPECT_EQ(d.parameters()[1].address, 6);
    const data::ParameterDefinition& extra = d.parameters()[2];
    EXPECT_EQ(extra.access, 0x80);
    EXPECT_EQ(extra.typeCode, TypeCode::Int16S);
    EXPECT_EQ(extra.address, 0);
    EXPECT_FALSE(extra.name.present());
    ASSERT_EQ(diag.sections.size(), 1u);
    EXPECT_EQ(diag.sections[0].markers, 3u);
    EXPECT_EQ(diag.sections[0].entriesRead, 2u);
}

TEST(Parameters, ShortEntryTakesTheNextEntrysFields) {
    LanguageDiagnostics diag;
    const LanguageData d = data::parseLanguageText(
        u"[<2>]#[RW][INT16U][5]#[RW][INT16U][6][P2][n][m][0][9][1][u][e][d]#END", &diag);
    // Two markers; the first entry takes 12 fields across the second marker,
    // after which no marker is left: the second record keeps initial values.
    ASSERT_EQ(d.parameters().size(), 2u);
    EXPECT_EQ(d.parameters()[0].address, 5);
    EXPECT_EQ(d.parameters()[0].numberText, text(u"RW"));
    EXPECT_EQ(d.parameters()[0].description, text(u"1"));
    EXPECT_FALSE(d.parameters()[1].name.present());
    EXPECT_FALSE(diag.sections[0].endedEarly);
    EXPECT_EQ(diag.sections[0].entriesRead, 1u);
}

TEST(Parameters, TruncatedEntryEndsTheSection) {
    LanguageDiagnostics diag;
    const LanguageData d = data::parseLanguageText(
        u"[<2>]#[RW][INT16U][5]#[RW][INT16U][6]#END", &diag);
    // The first entry finds only 6 fields before "#END": the section ends with
    // the fields taken so far; the later record keeps its initial values.
    ASSERT_EQ(d.parameters().size(), 2u);
    EXPECT_EQ(d.parameters()[0].access, data::kAccessWritable);
    EXPECT_EQ(d.parameters()[0].address, 5);
    EXPECT_EQ(d.parameters()[0].applicableMode, text(u"6"));
    EXPECT_FALSE(d.parameters()[0].unit.present());
    EXPECT_EQ(d.parameters()[1].address, 0);
    EXPECT_TRUE(diag.sections[0].endedEarly);
    EXPECT_EQ(diag.sections[0].entriesRead, 0u);
}

// ---- Sections 3, 4, 5 ------------------------------------------------------------

TEST(StatusItems, FieldsAndDivisor) {
    const LanguageData d = data::parseLanguageText(
        u"[<3>]\r\n"
        u"#[INT16S][100][Speed][10.0][rpm]\r\n"
        u"#[int32u][101][Position][10][p]\r\n"
        u"#[word][103][Other][ 0.5 ][]\r\n"
        u"#END");
    ASSERT_EQ(d.statusItems().size(), 3u);
    const auto& s = d.statusItems();
    EXPECT_EQ(s[0].access, 0x80);
    EXPECT_EQ(s[0].typeCode, TypeCode::Int16S);
    EXPECT_EQ(s[0].address, 100);
    EXPECT_EQ(s[0].name, text(u"Speed"));
    EXPECT_EQ(s[0].hasDivisor, 1);
    EXPECT_FLOAT_EQ(s[0].divisor, 10.0f);
    EXPECT_EQ(s[0].unit, text(u"rpm"));
    EXPECT_EQ(s[1].typeCode, TypeCode::Int32U);
    EXPECT_EQ(s[1].hasDivisor, 0);
    EXPECT_EQ(s[1].divisor, 0.0f);
    EXPECT_EQ(s[2].typeCode, TypeCode::Int16S);
    EXPECT_FLOAT_EQ(s[2].divisor, 0.5f);
    EXPECT_EQ(s[2].value.load(), 0u);
}

TEST(StatusItems, HugeDivisorBecomesInfinityWithoutUndefinedBehaviour) {
    const LanguageData d = data::parseLanguageText(u"[<3>]#[INT16S][1][x][1e300.][u]#END");
    ASSERT_EQ(d.statusItems().size(), 1u);
    EXPECT_TRUE(std::isinf(d.statusItems()[0].divisor));
}

TEST(ScopeQuantities, SizesRangesAndRowIndex) {
    const LanguageData d = data::parseLanguageText(
        u"[<4>]\r\n"
        u"#[INT32U][200][Position][-100000][100000.5][ignored]\r\n"
        u"#[FLOAT][202][Other][-1.5][2][]\r\n"
        u"#[int16s][203][Speed][][][]\r\n"
        u"#END");
    const auto& q = d.scopeQuantities();
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0].size, 4);
    EXPECT_EQ(q[0].address, 200);
    EXPECT_EQ(q[0].name, text(u"Position"));
    EXPECT_DOUBLE_EQ(q[0].minimum, -100000.0);
    EXPECT_DOUBLE_EQ(q[0].maximum, 100000.5);
    EXPECT_EQ(q[1].size, 2);
    EXPECT_DOUBLE_EQ(q[1].minimum, -1.5);
    EXPECT_EQ(q[2].size, 2);
    EXPECT_EQ(q[2].maximum, 0.0);
    for (std::size_t i = 0; i < q.size(); ++i) EXPECT_EQ(q[i].rowIndex, static_cast<int>(i));
}

TEST(ScopeQuantities, UnfilledRowsKeepInitialValuesButTheirPosition) {
    const LanguageData d = data::parseLanguageText(u"[<4>]#[INT16S][1][a#b][0][1][]#END");
    const auto& q = d.scopeQuantities();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[1].size, 0);
    EXPECT_EQ(q[1].address, 0);
    EXPECT_FALSE(q[1].name.present());
    EXPECT_EQ(q[1].rowIndex, 1);
}

TEST(Alarms, CodeTruncatedTowardZero) {
    const LanguageData d = data::parseLanguageText(
        u"[<5>]#[0][No alarm][]#[12.7][Overcurrent][Short circuit]#[-3.9][x][y]#[abc][z][w]#END");
    const auto& a = d.alarms();
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(a[0].code, 0);
    EXPECT_EQ(a[0].cause, text(u""));
    EXPECT_EQ(a[1].code, 12);
    EXPECT_EQ(a[1].content, text(u"Overcurrent"));
    EXPECT_EQ(a[1].cause, text(u"Short circuit"));
    EXPECT_EQ(a[2].code, -3);
    EXPECT_EQ(a[3].code, 0);
    EXPECT_EQ(a.at(4), nullptr);
}

TEST(Sections, EmptySectionGivesEmptyTable) {
    const LanguageData d = data::parseLanguageText(u"[<3>]\r\n#END\r\n[<5>]#END");
    EXPECT_EQ(d.statusItems().size(), 0u);
    EXPECT_EQ(d.alarms().size(), 0u);
}

TEST(Sections, DuplicateSectionReplacesTheTable) {
    LanguageDiagnostics diag;
    const LanguageData d = data::parseLanguageText(u"[<5>]#[1][a][b]#END[<5>]#[2][c][d]#[3][e][f]#END", &diag);
    ASSERT_EQ(d.alarms().size(), 2u);
    EXPECT_EQ(d.alarms()[0].code, 2);
    ASSERT_EQ(diag.sections.size(), 2u);
    EXPECT_TRUE(diag.sections[1].duplicate);
}

// ---- Whole file ----------------------------------------------------------------

TEST(LanguageBytes, TextIsFirstHalfOfAnOddByteCount) {
    std::vector<std::uint8_t> bytes = datatest::utf16le(u"[<0>]#[AB]#END");
    bytes.push_back('#');  // odd byte: ignored
    const LanguageData d = data::parseLanguageBytes(bytes);
    EXPECT_EQ(d.text().size(), 14u);
    EXPECT_EQ(d.uiTexts()[0], text(u"AB"));

    // Cut in the middle of "#END": the section has no end.
    bytes.resize(2 * 12 + 1);
    EXPECT_FALSE(data::parseLanguageBytes(bytes).uiTexts()[0].present());
    EXPECT_EQ(data::parseLanguageBytes(std::span<const std::uint8_t>()).text().size(), 0u);
}

TEST(LanguageData, MovingKeepsTextReferencesValid) {
    LanguageData a = data::parseLanguageText(u"[<0>]#[Hi]#END[<5>]#[1][c][d]#END");
    const char16_t* where = a.uiTexts()[0].view().data();
    LanguageData b = std::move(a);
    EXPECT_EQ(b.uiTexts()[0].view().data(), where);
    EXPECT_EQ(b.uiTexts()[0], text(u"Hi"));
    EXPECT_EQ(b.alarms()[0].content, text(u"c"));
    EXPECT_FALSE(a.uiTexts()[0].present());  // NOLINT(bugprone-use-after-move): defined empty
    EXPECT_EQ(a.alarms().size(), 0u);        // NOLINT(bugprone-use-after-move)
}

class LanguageFile : public datatest::TempDirTest {};

TEST_F(LanguageFile, LoadsAnExistingFileWhateverItsContent) {
    const auto path = dir / "Define.cfg";
    datatest::writeFile(path, datatest::utf16le(u"\uFEFF[<0>]#[\u4F3A\u670D]#END"));
    LanguageData d;
    EXPECT_EQ(data::loadLanguageFile(path, d), 1);
    EXPECT_EQ(d.uiTexts()[0], text(u"\u4F3A\u670D"));

    datatest::writeFile(path, {'x'});  // one byte: no characters, but loaded
    EXPECT_EQ(data::loadLanguageFile(path, d), 1);
    EXPECT_FALSE(d.uiTexts()[0].present());
}

TEST_F(LanguageFile, MissingOrEmptyFileChangesNothing) {
    LanguageData d = data::parseLanguageText(u"[<0>]#[Keep]#END");
    EXPECT_EQ(data::loadLanguageFile(dir / "none.cfg", d), 0);
    EXPECT_EQ(d.uiTexts()[0], text(u"Keep"));
    datatest::writeFile(dir / "empty.cfg", {});
    EXPECT_EQ(data::loadLanguageFile(dir / "empty.cfg", d), 0);
    EXPECT_EQ(d.uiTexts()[0], text(u"Keep"));
}

// ---- What is wrong with a file ------------------------------------------

constexpr std::u16string_view kSmallFamily =
    u"[<0>]\r\n#[\u4F3A\u670D]\r\n#END\r\n"
    u"[<2>]\r\n#[RW][INT16S][4096][P01.02][Speed][All][-50][50][0][rpm][][]\r\n#END\r\n"
    u"[<4>]\r\n#[INT16S][12][Current][-10][10][]\r\n#END\r\n";

std::vector<std::uint8_t> utf16be(std::u16string_view text) {
    std::vector<std::uint8_t> out = datatest::utf16le(text);
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
    return out;
}

data::LanguageProblem problemOf(const std::vector<std::uint8_t>& bytes) {
    LanguageDiagnostics diag;
    const LanguageData d = data::parseLanguageBytes(bytes, &diag);
    return data::diagnoseLanguage(bytes, d, diag).problem;
}

// The encodings that an editor may save a language file in, and damaged
// copies: each named, none taken for a sound file.
TEST(LanguageProblems, EncodingsAndDamageAreNamed) {
    using P = data::LanguageProblem;
    const std::u16string family(kSmallFamily);
    const std::string narrow =
        "[<0>]\r\n#[Servo]\r\n#END\r\n[<2>]\r\n#[RW][INT16S][1][P][N][A]"
        "[0][1][0][u][][]\r\n#END\r\n";
    EXPECT_EQ(problemOf(datatest::utf16le(family)), P::None);
    EXPECT_EQ(problemOf(datatest::utf16le(u"\uFEFF" + family)), P::None);
    EXPECT_EQ(problemOf(datatest::bytesOf(narrow)), P::Utf8);
    EXPECT_EQ(problemOf(datatest::bytesOf("\xEF\xBB\xBF" + narrow)), P::Utf8);
    EXPECT_EQ(problemOf(datatest::bytesOf("\xCB\xC5\xB7\xFE" + narrow)), P::EightBit);  // GBK
    EXPECT_EQ(problemOf(utf16be(family)), P::Utf16BigEndian);
    EXPECT_EQ(problemOf(utf16be(u"\uFEFF" + family)), P::Utf16BigEndian);
    EXPECT_EQ(problemOf(datatest::bytesOf("\x13\x9A\x00\xFFrandom\x80\x7F")), P::Damaged);
    EXPECT_EQ(problemOf(datatest::utf16le(u"[<0>]\r\n#[\u4F3A\u670D]\r\n#END\r\n")),
              P::NoParameterTable);

    // Cut in half, inside the parameter section; cut later, inside the scope
    // section, where the parameters are whole but the scope list is not.
    const auto whole = datatest::utf16le(family);
    for (const auto& [cutAt, section] :
         {std::pair{family.find(u"Speed"), 2}, std::pair{family.find(u"Current"), 4}}) {
        const std::vector<std::uint8_t> cut(whole.begin(),
                                            whole.begin() + static_cast<long>(2 * cutAt + 1));
        LanguageDiagnostics diag;
        const LanguageData d = data::parseLanguageBytes(cut, &diag);
        const data::LanguageLoad load = data::diagnoseLanguage(cut, d, diag);
        EXPECT_EQ(load.problem, P::Damaged) << section;
        EXPECT_EQ(load.cutSection, section);
    }
}

TEST_F(LanguageFile, LoadNamesTheProblem) {
    using P = data::LanguageProblem;
    LanguageData d = data::parseLanguageText(u"[<0>]#[Keep]#END");
    EXPECT_EQ(data::loadLanguage(dir / "none.cfg", d).problem, P::Missing);
    datatest::writeFile(dir / "empty.cfg", {});
    EXPECT_EQ(data::loadLanguage(dir / "empty.cfg", d).problem, P::Empty);
    datatest::writeFile(dir / "utf8.cfg", datatest::bytesOf("[<0>]#[x]#END"));
    const data::LanguageLoad utf8 = data::loadLanguage(dir / "utf8.cfg", d);
    EXPECT_EQ(utf8.problem, P::Utf8);
    EXPECT_TRUE(utf8.loaded()) << "loaded as the program always did, but not usable";
    EXPECT_FALSE(utf8.usable());
}

}  // namespace
