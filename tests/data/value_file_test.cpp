#include "data/value_file.h"

#include <gtest/gtest.h>

#include "modbus/crc.h"
#include "platform/file_io.h"
#include "test_support.h"

namespace {

using data::ParameterTable;
using data::TypeCode;

ParameterTable table(std::initializer_list<std::pair<TypeCode, std::uint32_t>> values) {
    ParameterTable t(values.size());
    std::size_t i = 0;
    for (auto [type, v] : values) {
        t[i].typeCode = type;
        t[i].driveValue.store(v);
        ++i;
    }
    return t;
}

TEST(ValueImage, EmptyTableGives10Bytes) {
    const auto image = data::valueImage({});
    ASSERT_EQ(image.size(), 10u);
    const std::vector<std::uint8_t> head{10, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), image.begin()));
    const std::uint16_t crc = modbus::modbusCrc16(image.data(), 8);
    EXPECT_EQ(image[8], crc & 0xFF);
    EXPECT_EQ(image[9], crc >> 8);
    EXPECT_EQ(data::applyValueImage(image, {}), 1);
}

TEST(ValueImage, RoundTripForEveryType) {
    auto t = table({{TypeCode::Int16S, 0xFFFF}, {TypeCode::Int16U, 0x8000}, {TypeCode::Int32S, 0x80000000u},
                    {TypeCode::Int32U, 0xFFFFFFFFu}});
    const auto image = data::valueImage(t);
    ASSERT_EQ(image.size(), 4u * 4 + 10);
    EXPECT_EQ(image[8], 0xFF);
    EXPECT_EQ(image[9], 0xFF);
    EXPECT_EQ(image[10], 0);
    ASSERT_EQ(data::applyValueImage(image, t), 1);
    for (auto& p : t) EXPECT_EQ(p.fileValue.load(), p.driveValue.load());
}

TEST(ValueImage, AnyChangedOrAppendedByteIsRefused) {
    auto t = table({{TypeCode::Int16S, 1}, {TypeCode::Int32S, 2}});
    const auto good = data::valueImage(t);
    for (std::size_t i = 0; i < good.size(); ++i) {
        for (std::uint8_t flip : {0x01, 0x80, 0xFF}) {
            auto bad = good;
            bad[i] ^= flip;
            EXPECT_EQ(data::applyValueImage(bad, t), 0) << "byte " << i;
        }
    }
    auto longer = good;
    longer.push_back(0);
    EXPECT_EQ(data::applyValueImage(longer, t), 0);
    for (std::size_t n = 0; n < good.size(); ++n) EXPECT_EQ(data::applyValueImage(std::span(good).first(n), t), 0);
    for (auto& p : t) EXPECT_EQ(p.fileValue.load(), 0u);
}

TEST(ValueImage, OtherTableLengthIsRefusedEvenWithAGoodChecksum) {
    ParameterTable forty(40);
    for (std::size_t i = 0; i < 40; ++i) forty[i].driveValue.store(static_cast<std::uint32_t>(i));
    const auto image = data::valueImage(forty);
    ParameterTable fortyOne(41);
    EXPECT_EQ(data::applyValueImage(image, fortyOne), 0);
    for (auto& p : fortyOne) EXPECT_EQ(p.fileValue.load(), 0u);
    EXPECT_EQ(data::applyValueImage(image, forty), 1);
    EXPECT_EQ(forty[39].fileValue.load(), 39u);
}

TEST(ValueImage, CraftedCountWithGoodChecksumReadsNothingOutside) {
    std::vector<std::uint8_t> b{10, 0, 0, 0, 3, 0, 0, 0, 0, 0};
    const std::uint16_t crc = modbus::modbusCrc16(b.data(), 8);
    b[8] = static_cast<std::uint8_t>(crc & 0xFF);
    b[9] = static_cast<std::uint8_t>(crc >> 8);
    ParameterTable three(3);
    EXPECT_EQ(data::applyValueImage(b, three), 0);
}

// Each refusal names its check; none of them changes a field.
TEST(ValueImage, ARefusalNamesTheCheckThatFailed) {
    auto t = table({{TypeCode::Int16S, 1}, {TypeCode::Int32S, 2}});
    t[1].numberText = data::TextRef(u"P01.12");
    const auto good = data::valueImage(t);
    const auto checkOf = [&](std::span<const std::uint8_t> bytes) {
        return data::readValueImage(bytes, t).check;
    };
    EXPECT_EQ(checkOf(std::span(good).first(9)), data::ValueFileCheck::tooShort);
    auto damaged = good;
    damaged[9] ^= 1;  // a value byte
    EXPECT_EQ(checkOf(damaged), data::ValueFileCheck::checksum);

    // A good checksum over a wrong length field, then over a wrong count.
    const auto resealed = [](std::vector<std::uint8_t> b) {
        b.resize(b.size() - 2);
        const std::uint16_t crc = modbus::modbusCrc16(b.data(), b.size());
        b.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        b.push_back(static_cast<std::uint8_t>(crc >> 8));
        return b;
    };
    auto length = good;
    length[0] = 99;
    const data::ValueFileResult lengthResult = data::readValueImage(resealed(length), t);
    EXPECT_EQ(lengthResult.check, data::ValueFileCheck::length);
    EXPECT_EQ(data::describeValueFileCheck(lengthResult, t),
              "its length field says 99 bytes, the file has 18");
    ParameterTable three(3);
    const data::ValueFileResult countResult = data::readValueImage(good, three);
    EXPECT_EQ(countResult.check, data::ValueFileCheck::count);
    EXPECT_EQ(data::describeValueFileCheck(countResult, three),
              "it holds 2 parameters, this table has 3");
    for (auto& p : t) EXPECT_EQ(p.fileValue.load(), 0u);
    EXPECT_EQ(checkOf(good), data::ValueFileCheck::ok);
    EXPECT_EQ(t[1].fileValue.load(), 2u);
}

TEST(ValueImage, TheRangeCheckNamesTheWritableParameterOutsideItsRange) {
    auto t = table({{TypeCode::Int16S, 0xFFFF}, {TypeCode::Int16U, 9}});
    t[1].numberText = data::TextRef(u"P00.07");
    t[1].unit = data::TextRef(u"ohm");
    t[1].minimum = 10;
    t[1].maximum = 5000;
    const auto image = data::valueImage(t);
    // Read-only, the second value is not checked; off, nothing is.
    EXPECT_TRUE(data::readValueImage(image, t, data::RangeCheck::on).ok());
    t[1].access = data::kAccessWritable;
    EXPECT_TRUE(data::readValueImage(image, t, data::RangeCheck::off).ok());
    for (auto& p : t) p.fileValue.store(0);
    const data::ValueFileResult r = data::readValueImage(image, t, data::RangeCheck::on);
    EXPECT_EQ(r.check, data::ValueFileCheck::outOfRange);
    EXPECT_EQ(r.parameter, 1u);
    EXPECT_EQ(data::describeValueFileCheck(r, t),
              "P00.07 = 9 is outside its range 10 to 5000 ohm");
    for (auto& p : t) EXPECT_EQ(p.fileValue.load(), 0u);
}

class ValueFile : public datatest::TempDirTest {};

TEST_F(ValueFile, SaveAndLoad) {
    auto t = table({{TypeCode::Int16U, 100}, {TypeCode::Int32S, 0xFFFFEC78u}});
    const auto path = dir / "backup.dat";
    EXPECT_EQ(data::loadValueFile(path, t), 0);
    ASSERT_EQ(data::saveValueFile(path, t), 1);
    EXPECT_EQ(platform::readWholeFile(path), data::valueImage(t));
    ASSERT_EQ(data::loadValueFile(path, t), 1);
    EXPECT_EQ(t[1].fileValue.load(), 0xFFFFEC78u);
    EXPECT_EQ(filesInDir(), 1u);
    EXPECT_EQ(data::saveValueFile(dir / "no" / "x.dat", t), 0);
    // Unreadable files and failed writes keep the OS reason.
    const data::ValueFileResult missing = data::readValueFile(dir / "none.dat", t);
    EXPECT_EQ(missing.check, data::ValueFileCheck::unreadable);
    EXPECT_FALSE(missing.file.reason.empty());
    EXPECT_EQ(data::describeValueFileCheck(missing, t), missing.file.reason);
    EXPECT_FALSE(data::writeValueFile(dir / "no" / "x.dat", t).reason.empty());
    datatest::writeFile(path, {});
    EXPECT_EQ(data::loadValueFile(path, t), 0);
}

TEST_F(ValueFile, FailedWriteKeepsThePreviousFile) {
    const auto path = dir / "backup.dat";
    auto small = table({{TypeCode::Int16U, 1}});
    ASSERT_EQ(data::saveValueFile(path, small), 1);
    const auto before = platform::readWholeFile(path);
    ParameterTable big(500);  // 2010 bytes
    EXPECT_EQ(datatest::runWithFileSizeLimit(512, [&] { return data::saveValueFile(path, big); }), 0);
    EXPECT_EQ(platform::readWholeFile(path), before);
    EXPECT_EQ(filesInDir(), 1u);
    // The old file still loads.
    EXPECT_EQ(data::loadValueFile(path, small), 1);
}

}  // namespace
