#include "data/settings_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "modbus/crc.h"
#include "platform/file_io.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using data::ScopeQuantity;

std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void fixCrc(std::vector<std::uint8_t>& b) {
    const std::uint16_t crc = modbus::modbusCrc16(b.data(), b.size() - 2);
    b[b.size() - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    b[b.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
}

data::ScopeTable scopeList(std::initializer_list<std::pair<double, double>> ranges) {
    data::ScopeTable t(ranges.size());
    std::size_t i = 0;
    for (auto [lo, hi] : ranges) {
        t[i].minimum = lo;
        t[i].maximum = hi;
        ++i;
    }
    return t;
}

TEST(SettingsImage, EmptyListGives14Bytes) {
    const auto image = data::settingsImage(1, {});
    ASSERT_EQ(image.size(), 14u);
    EXPECT_EQ(u32(image, 0), 14u);
    EXPECT_EQ(u32(image, 4), 1u);
    EXPECT_EQ(u32(image, 8), 0u);
    const std::uint16_t crc = modbus::modbusCrc16(image.data(), 12);
    EXPECT_EQ(image[12], crc & 0xFF);
    EXPECT_EQ(image[13], crc >> 8);

    std::uint32_t word = 5;
    EXPECT_EQ(data::applySettingsImage(image, word, {}), 1);
    EXPECT_EQ(word, 1u);
    auto one = scopeList({{0, 1}});
    word = 5;
    EXPECT_EQ(data::applySettingsImage(image, word, one), 0);
    EXPECT_EQ(word, 1u) << "the word is taken before the count check";
}

TEST(SettingsImage, LayoutAndRoundTrip) {
    const auto written = scopeList({{-3000.5, 3000.25}, {0, 65535}});
    const auto image = data::settingsImage(0xA5A5F00D, written);
    ASSERT_EQ(image.size(), 16u * 2 + 14);
    EXPECT_EQ(u32(image, 0), 46u);
    EXPECT_EQ(u32(image, 8), 2u);
    double d = 0;
    std::memcpy(&d, image.data() + 12, 8);
    EXPECT_EQ(d, -3000.5);
    std::memcpy(&d, image.data() + 20 + 16, 8);
    EXPECT_EQ(d, 65535.0);

    auto read = scopeList({{1, 2}, {3, 4}});
    std::uint32_t word = 1;
    ASSERT_EQ(data::applySettingsImage(image, word, read), 1);
    EXPECT_EQ(word, 0xA5A5F00Du);
    EXPECT_EQ(read[0].minimum, -3000.5);
    EXPECT_EQ(read[0].maximum, 3000.25);
    EXPECT_EQ(read[1].maximum, 65535.0);
}

TEST(SettingsImage, ChecksInOrderAndNothingChangesOnFailure) {
    const auto good = data::settingsImage(7, scopeList({{1, 2}}));
    auto scope = scopeList({{10, 20}});
    std::uint32_t word = 1;

    // Any changed byte: refused by the checksum, word untouched.
    for (std::size_t i = 0; i < good.size(); ++i) {
        auto bad = good;
        bad[i] ^= 0x01;
        EXPECT_EQ(data::applySettingsImage(bad, word, scope), 0) << "byte " << i;
    }
    // An appended byte: checksum (and length) no longer match.
    auto longer = good;
    longer.push_back(0);
    EXPECT_EQ(data::applySettingsImage(longer, word, scope), 0);
    // Good checksum, wrong length field.
    auto wrongLength = good;
    wrongLength[0] = 99;
    fixCrc(wrongLength);
    EXPECT_EQ(data::applySettingsImage(wrongLength, word, scope), 0);
    EXPECT_EQ(word, 1u);
    EXPECT_EQ(scope[0].minimum, 10.0);

    // Too short to hold anything.
    for (std::size_t n = 0; n < 14; ++n)
        EXPECT_EQ(data::applySettingsImage(std::span(good).first(n), word, scope), 0);
    EXPECT_EQ(word, 1u);
}

TEST(SettingsImage, CraftedCountWithGoodChecksumReadsNothingOutside) {
    // Length field = L and count = 1, but L holds no entry: refused after the
    // word is taken, without reading past the bytes.
    std::vector<std::uint8_t> b(14, 0);
    b[0] = 14;
    b[4] = 9;
    b[8] = 1;
    fixCrc(b);
    auto scope = scopeList({{10, 20}});
    std::uint32_t word = 1;
    EXPECT_EQ(data::applySettingsImage(b, word, scope), 0);
    EXPECT_EQ(word, 9u);
    EXPECT_EQ(scope[0].minimum, 10.0);
}

class SettingsFile : public datatest::TempDirTest {};

TEST_F(SettingsFile, SaveAndLoad) {
    const auto path = dir / "system.ini";
    auto scope = scopeList({{-1, 1}, {-2, 2}, {-3, 3}});
    std::uint32_t word = data::kInitialSettingsWord;
    EXPECT_EQ(data::loadSettingsFile(path, word, scope), 0);  // missing
    EXPECT_EQ(word, 1u);
    ASSERT_EQ(data::saveSettingsFile(path, 77, scope), 1);
    EXPECT_EQ(platform::readWholeFile(path), data::settingsImage(77, scope));
    EXPECT_EQ(filesInDir(), 1u);

    auto again = scopeList({{0, 0}, {0, 0}, {0, 0}});
    ASSERT_EQ(data::loadSettingsFile(path, word, again), 1);
    EXPECT_EQ(word, 77u);
    EXPECT_EQ(again[2].minimum, -3.0);

    // Another number of scope quantities: ranges discarded, word kept.
    auto other = scopeList({{5, 6}});
    word = 1;
    EXPECT_EQ(data::loadSettingsFile(path, word, other), 0);
    EXPECT_EQ(word, 77u);
    EXPECT_EQ(other[0].minimum, 5.0);
    // The next end overwrites it with the new list.
    ASSERT_EQ(data::saveSettingsFile(path, word, other), 1);
    EXPECT_EQ(data::loadSettingsFile(path, word, other), 1);
    EXPECT_EQ(platform::readWholeFile(path)->size(), 30u);

    datatest::writeFile(path, {});
    EXPECT_EQ(data::loadSettingsFile(path, word, other), 0);
}

TEST_F(SettingsFile, FailedWriteKeepsThePreviousFile) {
    const auto path = dir / "system.ini";
    const auto small = scopeList({{1, 2}});
    ASSERT_EQ(data::saveSettingsFile(path, 3, small), 1);
    const auto before = platform::readWholeFile(path);
    data::ScopeTable big(200);  // 3214 bytes, above the limit below
    EXPECT_EQ(datatest::runWithFileSizeLimit(256, [&] { return data::saveSettingsFile(path, 4, big); }), 0);
    EXPECT_EQ(platform::readWholeFile(path), before);
    EXPECT_EQ(filesInDir(), 1u) << "no temporary file is left behind";
}

TEST_F(SettingsFile, SaveIntoAMissingFolderFails) {
    EXPECT_EQ(data::saveSettingsFile(dir / "no" / "system.ini", 1, {}), 0);
}

// The end of a run writes system.ini only when its content changed, and keeps
// ranges that an unusable language file could not take. A marker written over
// the file after the start shows whether the end wrote it.
TEST_F(SettingsFile, EndOfRunWritesOnlyWhatChangedAndKeepsForeignRanges) {
    const auto path = dir / "system.ini";
    const std::vector<std::uint8_t> marker{'m'};
    auto three = scopeList({{-1, 1}, {-2, 2}, {-3, 3}});
    ASSERT_EQ(data::saveSettingsFile(path, 9, three), 1);
    const auto saved = platform::readWholeFile(path);

    // Read and applied, nothing changed: not written, even by an unusable file.
    for (const bool usable : {true, false}) {
        datatest::writeFile(path, *saved);
        std::uint32_t word = 1;
        auto scope = scopeList({{0, 0}, {0, 0}, {0, 0}});
        const data::SettingsAtStart start = data::readSettingsFile(path, word, scope);
        ASSERT_EQ(start.applied, 1);
        datatest::writeFile(path, marker);
        EXPECT_EQ(data::saveSettingsAtEnd(path, start, word, scope, usable).action,
                  data::SettingsSave::Unchanged);
        EXPECT_EQ(platform::readWholeFile(path), marker);
    }
    datatest::writeFile(path, *saved);

    // A language file without the scope list: the three ranges are kept.
    std::uint32_t word = 1;
    const data::SettingsAtStart start = data::readSettingsFile(path, word, {});
    EXPECT_EQ(start.applied, 0);
    EXPECT_EQ(data::saveSettingsAtEnd(path, start, word, {}, false).action,
              data::SettingsSave::Kept);
    EXPECT_EQ(platform::readWholeFile(path), saved);
    // A sound language file with another list replaces them, as it always did.
    EXPECT_EQ(data::saveSettingsAtEnd(path, start, word, {}, true).action,
              data::SettingsSave::Written);
    EXPECT_EQ(platform::readWholeFile(path)->size(), 14u);

    // Missing at start: written. A changed range: written.
    fs::remove(path);
    auto one = scopeList({{1, 2}});
    const data::SettingsAtStart none = data::readSettingsFile(path, word, one);
    EXPECT_EQ(none.file.status, platform::FileStatus::Missing);
    EXPECT_EQ(data::saveSettingsAtEnd(path, none, word, one, false).action,
              data::SettingsSave::Written);
    const data::SettingsAtStart again = data::readSettingsFile(path, word, one);
    one[0].maximum = 5;
    EXPECT_EQ(data::saveSettingsAtEnd(path, again, word, one, true).action,
              data::SettingsSave::Written);
    EXPECT_EQ(platform::readWholeFile(path), data::settingsImage(word, one));
}

}  // namespace
