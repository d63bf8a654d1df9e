#include "data/model_sets.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

using datatest::bytesOf;

TEST(ModelSets, ThePartsExample) {
    const auto sets = data::parseModelTable(bytesOf("##DriveA,\r\nP00.00,12\r\nP00.01,-3\r\n"), 2);
    ASSERT_EQ(sets.count(), 1u);
    EXPECT_EQ(sets.name(0), "DriveA");
    EXPECT_EQ(sets.wideName(0), u"DriveA");
    EXPECT_EQ(sets.value(0, 0), 12);
    EXPECT_EQ(sets.value(0, 1), -3);
    EXPECT_EQ(sets.value(0, 2), 0);
    EXPECT_EQ(sets.values(0).size(), data::ModelValueSets::kMaxValues);
}

TEST(ModelSets, EmptyNameHeaderIsSkipped) {
    const auto sets = data::parseModelTable(
        bytesOf("##,Model,P-number,value\r\n##DriveA,x\r\nP0,1\r\nP1,2\r\n##DriveB,\r\nP0, +5\r\nP1,-6x\r\n"), 2);
    ASSERT_EQ(sets.count(), 2u);
    EXPECT_EQ(sets.name(0), "DriveA");
    EXPECT_EQ(sets.value(0, 0), 1);
    EXPECT_EQ(sets.value(0, 1), 2);
    EXPECT_EQ(sets.name(1), "DriveB");
    EXPECT_EQ(sets.value(1, 0), 5);
    EXPECT_EQ(sets.value(1, 1), -6);
}

TEST(ModelSets, LinesWithoutPAreSkippedAndTheTextBeforeTheCommaIsNotRead) {
    const auto sets = data::parseModelTable(bytesOf("##M,\n; comment\nP9.99,7\nwhatever\nPx,8\n"), 2);
    ASSERT_EQ(sets.count(), 1u);
    EXPECT_EQ(sets.value(0, 0), 7);
    EXPECT_EQ(sets.value(0, 1), 8);
}

TEST(ModelSets, MissingLineFeedEndsReadingAfterThisSet) {
    data::ModelDiagnostics diag;
    const auto sets = data::parseModelTable(bytesOf("##A,\nP0,1\nP1,2\n##B,\nP0,3\nP1,4"), 2, &diag);
    ASSERT_EQ(sets.count(), 2u);
    EXPECT_EQ(sets.value(1, 0), 3);
    EXPECT_EQ(sets.value(1, 1), 0);  // no line feed after it
    EXPECT_TRUE(diag.stoppedEarly);

    const auto more = data::parseModelTable(bytesOf("##A,\nP0,1\n##B,\nP0,2\n"), 3);
    // Set A takes "P0,1", then the 'P' of "P0,2" (the header holds no 'P'),
    // then finds no more 'P': reading stops after set A.
    ASSERT_EQ(more.count(), 1u);
    EXPECT_EQ(more.value(0, 0), 1);
    EXPECT_EQ(more.value(0, 1), 2);
}

TEST(ModelSets, NoHeaderOrNoComma) {
    EXPECT_EQ(data::parseModelTable(bytesOf("P0,1\n"), 1).count(), 0u);
    EXPECT_EQ(data::parseModelTable(bytesOf("##Name without comma"), 1).count(), 0u);
    EXPECT_EQ(data::parseModelTable(bytesOf("#"), 1).count(), 0u);
    EXPECT_EQ(data::parseModelTable({}, 1).count(), 0u);
}

TEST(ModelSets, ZeroParametersGiveNamedSetsWithoutValues) {
    const auto sets = data::parseModelTable(bytesOf("##A,\n##B,\n"), 0);
    ASSERT_EQ(sets.count(), 2u);
    EXPECT_EQ(sets.name(1), "B");
    EXPECT_EQ(sets.value(1, 0), 0);
}

TEST(ModelSets, MoreThan70SetsAreIgnored) {
    std::string text;
    for (int s = 0; s < 75; ++s) text += "##M" + std::to_string(s) + ",\nP0," + std::to_string(s) + "\n";
    data::ModelDiagnostics diag;
    const auto sets = data::parseModelTable(bytesOf(text), 1, &diag);
    ASSERT_EQ(sets.count(), 70u);
    EXPECT_EQ(sets.name(69), "M69");
    EXPECT_EQ(sets.value(69, 0), 69);
    EXPECT_EQ(sets.name(70), "");
    EXPECT_EQ(sets.value(70, 0), 0);
    EXPECT_TRUE(sets.values(70).empty());
    EXPECT_EQ(diag.setsIgnored, 5u);
}

TEST(ModelSets, ParametersBeyond100AreReadPastButNotStored) {
    std::string text = "##A,\n";
    for (int i = 0; i < 120; ++i) text += "P" + std::to_string(i) + "," + std::to_string(i + 1) + "\n";
    text += "##B,\n";
    for (int i = 0; i < 120; ++i) text += "P" + std::to_string(i) + "," + std::to_string(-i) + "\n";
    data::ModelDiagnostics diag;
    const auto sets = data::parseModelTable(bytesOf(text), 120, &diag);
    ASSERT_EQ(sets.count(), 2u);
    EXPECT_EQ(sets.value(0, 99), 100);
    EXPECT_EQ(sets.value(0, 100), 0);
    EXPECT_EQ(sets.value(1, 99), -99);
    EXPECT_EQ(diag.valuesIgnored, 40u);
}

TEST(ModelSets, NarrowNamesInGb18030) {
    // "伺服" in GB18030 (not valid UTF-8): shown converted to wide.
    const auto sets = data::parseModelTable(bytesOf("##\xCB\xC5\xB7\xFE,\nP0,1\n"), 1);
    ASSERT_EQ(sets.count(), 1u);
    EXPECT_EQ(sets.name(0), "\xCB\xC5\xB7\xFE");
    EXPECT_EQ(sets.wideName(0), u"\u4F3A\u670D");
}

class ModelFile : public datatest::TempDirTest {};

TEST_F(ModelFile, LoadResult) {
    data::ModelValueSets sets = data::parseModelTable(bytesOf("##Old,\nP0,9\n"), 1);
    EXPECT_EQ(data::loadModelTable(dir / "missing.csv", 1, sets), 0);
    EXPECT_EQ(sets.count(), 1u);
    datatest::writeFile(dir / "empty.csv", {});
    EXPECT_EQ(data::loadModelTable(dir / "empty.csv", 1, sets), 0);
    EXPECT_EQ(sets.name(0), "Old");
    // One byte, no sets: still loaded.
    datatest::writeFile(dir / "x.csv", {'x'});
    EXPECT_EQ(data::loadModelTable(dir / "x.csv", 1, sets), 1);
    EXPECT_EQ(sets.count(), 0u);
    datatest::writeFile(dir / "Servo.csv", bytesOf("##DriveA,\r\nP00.00,12\r\n"));
    EXPECT_EQ(data::loadModelTable(dir / "Servo.csv", 1, sets), 1);
    EXPECT_EQ(sets.value(0, 0), 12);
}

}  // namespace
