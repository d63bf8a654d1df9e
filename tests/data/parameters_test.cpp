#include "data/parameters.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <ostream>

#include "platform/text.h"

namespace {

using data::TypeCode;

std::uint32_t le(const std::array<std::uint8_t, 4>& b, std::size_t n) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < n; ++k) v |= static_cast<std::uint32_t>(b[k]) << (8 * k);
    return v;
}

constexpr auto kBogus = static_cast<TypeCode>('x');

TEST(TypeCodes, WordsSizesAndNames) {
    EXPECT_EQ(data::typeFromWord(u"INT16S"), TypeCode::Int16S);
    EXPECT_EQ(data::typeFromWord(u"int16u"), TypeCode::Int16U);
    EXPECT_EQ(data::typeFromWord(u"Int32s"), TypeCode::Int32S);
    EXPECT_EQ(data::typeFromWord(u"INT32U"), TypeCode::Int32U);
    EXPECT_EQ(data::typeFromWord(u"INT32"), TypeCode::Int16S);
    EXPECT_EQ(data::typeFromWord(u" INT32U"), TypeCode::Int16S);
    EXPECT_EQ(data::typeFromWord(u""), TypeCode::Int16S);
    EXPECT_EQ(static_cast<char>(TypeCode::Int16S), '#');
    EXPECT_EQ(static_cast<char>(TypeCode::Int16U), '$');
    EXPECT_EQ(static_cast<char>(TypeCode::Int32S), 'E');
    EXPECT_EQ(static_cast<char>(TypeCode::Int32U), 'F');
    EXPECT_EQ(data::typeSize(TypeCode::Int16U), 2u);
    EXPECT_EQ(data::typeSize(TypeCode::Int32S), 4u);
    EXPECT_EQ(data::typeSize(kBogus), 0u);
    EXPECT_EQ(data::typeName(TypeCode::Int32U), "INT32U");
    EXPECT_EQ(data::typeName(kBogus), "");
}

TEST(ParameterDefinition, InitialValues) {
    data::ParameterDefinition p;
    EXPECT_EQ(p.access, 0x80);
    EXPECT_FALSE(p.writable());
    EXPECT_EQ(p.typeCode, TypeCode::Int16S);
    EXPECT_EQ(p.address, 0);
    EXPECT_FALSE(p.name.present());
    EXPECT_EQ(p.driveValue.load(), 0u);
    EXPECT_EQ(p.fileValue.load(), 0u);
    EXPECT_EQ(p.minimum | p.maximum | p.factoryValue, 0u);
    EXPECT_EQ(p.registerCount(), 1u);
}

TEST(ValueToText, ByType) {
    EXPECT_EQ(data::valueToText(TypeCode::Int16U, 0xFFFF), u"65535");
    EXPECT_EQ(data::valueToText(TypeCode::Int16S, 0xFFFF), u"-1");
    EXPECT_EQ(data::valueToText(TypeCode::Int32U, 0xFFFFFFFF), u"-1");
    EXPECT_EQ(data::valueToText(TypeCode::Int32S, 0x80000000), u"-2147483648");
    // The high half of a 16-bit field is never read.
    EXPECT_EQ(data::valueToText(TypeCode::Int16S, 0x12348000), u"-32768");
    EXPECT_EQ(data::valueToText(TypeCode::Int16U, 0xABCD0001), u"1");
    EXPECT_EQ(data::valueToText(kBogus, 5), u"");
}

TEST(BytesToValue, CopiesTheTypesWidthLittleEndian) {
    const std::array<std::uint8_t, 4> src{0x34, 0x12, 0x78, 0x56};
    std::uint32_t field = 0xAAAA0000;
    EXPECT_EQ(data::bytesToValue(TypeCode::Int16S, field, src), 2u);
    EXPECT_EQ(field, 0xAAAA1234u);  // only the low half is replaced
    EXPECT_EQ(data::bytesToValue(TypeCode::Int32U, field, src), 4u);
    EXPECT_EQ(field, 0x56781234u);
    EXPECT_EQ(data::bytesToValue(kBogus, field, src), 0u);
    EXPECT_EQ(field, 0x56781234u);
    // A source too short copies nothing.
    EXPECT_EQ(data::bytesToValue(TypeCode::Int32S, field, std::span(src).first(3)), 0u);
    EXPECT_EQ(field, 0x56781234u);

    std::atomic<std::uint32_t> atomicField{0xFFFF0000};
    EXPECT_EQ(data::bytesToValue(TypeCode::Int16U, atomicField, src), 2u);
    EXPECT_EQ(atomicField.load(), 0xFFFF1234u);
}

TEST(ValueBytes, ReverseCopy) {
    std::array<std::uint8_t, 4> dst{9, 9, 9, 9};
    EXPECT_EQ(data::valueBytes(TypeCode::Int16U, 0xABCD1234, dst), 2u);
    EXPECT_EQ(dst, (std::array<std::uint8_t, 4>{0x34, 0x12, 9, 9}));
    EXPECT_EQ(data::valueBytes(TypeCode::Int32S, 0xABCD1234, dst), 4u);
    EXPECT_EQ(dst, (std::array<std::uint8_t, 4>{0x34, 0x12, 0xCD, 0xAB}));
    EXPECT_EQ(data::valueBytes(kBogus, 1, dst), 0u);
    EXPECT_EQ(data::valueBytes(TypeCode::Int32S, 1, std::span(dst).first(2)), 0u);
}

struct TextCase {
    TypeCode type;
    std::uint32_t minimum;
    std::uint32_t maximum;
    std::u16string text;
    std::size_t bytes;
    std::uint32_t value;
};

// Readable test names: the type, the text and the range.
void PrintTo(const TextCase& c, std::ostream* os) {
    *os << data::typeName(c.type) << " \"" << platform::toUtf8(c.text) << "\" in [" << c.minimum
        << ", " << c.maximum << "]";
}

class TextToValue : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextToValue, ConvertsAndClamps) {
    const TextCase& c = GetParam();
    std::array<std::uint8_t, 4> out{0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(data::textToValue(c.type, c.minimum, c.maximum, c.text, out), c.bytes);
    if (c.bytes) {
        EXPECT_EQ(le(out, c.bytes), c.value);
        for (std::size_t k = c.bytes; k < 4; ++k)
            EXPECT_EQ(out[k], 0xEE) << "wrote past the type's width";
    } else {
        EXPECT_EQ(out, (std::array<std::uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEE}));
    }
}

constexpr std::uint32_t neg(std::uint32_t v) {
    return 0u - v;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextToValue,
    ::testing::Values(
        // The documented examples.
        TextCase{TypeCode::Int16U, 0, 100, u"250", 2, 100},
        TextCase{TypeCode::Int16U, 0, 100, u"-5", 0, 0},
        TextCase{TypeCode::Int32U, 0, 100, u"-0", 0, 0},
        TextCase{TypeCode::Int32S, neg(5000), 5000, u"-9000", 4, neg(5000)},
        // Within range, white space, plus sign, trailing junk.
        TextCase{TypeCode::Int32S, neg(5000), 5000, u"  +123rpm", 4, 123},
        TextCase{TypeCode::Int16S, 0xFFFFFF00u, 100, u"\t-7", 2, 0xFFF9},
        // Only the first character is tested for '-': " -5" is read as -5,
        // which as INT16U is 65531 and is clamped to the maximum.
        TextCase{TypeCode::Int16U, 0, 100, u" -5", 2, 100},
        // No digits give 0, then the clamp applies.
        TextCase{TypeCode::Int16S, 0, 10, u"abc", 2, 0},
        TextCase{TypeCode::Int16S, 3, 10, u"", 2, 3},
        // A minimum above the maximum yields the maximum.
        TextCase{TypeCode::Int32S, 10, 5, u"7", 4, 5},
        TextCase{TypeCode::Int32S, 10, 5, u"1", 4, 5},
        // 16-bit: the low 16 bits of the number and of the bounds count.
        TextCase{TypeCode::Int16S, 0xFFFF8000u, 0x00007FFFu, u"40000", 2, 40000},
        TextCase{TypeCode::Int16U, 0x12340000u, 0xABCDFFFFu, u"65537", 2, 1},
        TextCase{TypeCode::Int16S, 0xFFFFu /* -1 */, 0x0005u, u"-3", 2, 0xFFFF},
        // Digits accumulate modulo 2^32.
        TextCase{TypeCode::Int32U, 0, 0xFFFFFFFFu, u"4294967297", 4, 1},
        TextCase{TypeCode::Int32S, 0x80000000u, 0x7FFFFFFFu, u"2147483648", 4, 0x80000000u},
        TextCase{TypeCode::Int32U, 0, 0xFFFFFFFFu, u"4294967295", 4, 0xFFFFFFFFu},
        // At most 19 narrow bytes are read: the 20th digit is cut off.
        TextCase{TypeCode::Int32U, 0, 0xFFFFFFFFu, u"00000000000000000012345", 4, 1},
        TextCase{TypeCode::Int32U, 0, 0xFFFFFFFFu, u"0000000000000000009", 4, 9},
        // Non-ASCII text is not a digit.
        TextCase{TypeCode::Int32U, 0, 0xFFFFFFFFu, u"  \u4E2D1", 4, 0},
        // Full-width digits are not digits either.
        TextCase{TypeCode::Int32U, 7, 0xFFFFFFFFu, u"\uFF11", 4, 7},
        // Another type code writes nothing.
        TextCase{kBogus, 0, 100, u"5", 0, 0}));

TEST(TextToValue, INT16SFortyThousandWrapsNegativeAndClampsToMinimum) {
    std::array<std::uint8_t, 4> out{};
    // 40000 as INT16S is -25536, below the minimum -100.
    ASSERT_EQ(data::textToValue(TypeCode::Int16S, neg(100), 100, u"40000", out), 2u);
    EXPECT_EQ(le(out, 2), static_cast<std::uint16_t>(-100));
    EXPECT_EQ(data::textToValue(TypeCode::Int32S, 0, 1, u"1", std::span(out).first(3)), 0u);
}

TEST(CheckRange, ByTypeAndWidth) {
    EXPECT_EQ(data::checkRange(TypeCode::Int16S, 0xFFFF, 0, 10), -1);
    EXPECT_EQ(data::checkRange(TypeCode::Int16S, 5, 0, 10), 0);
    EXPECT_EQ(data::checkRange(TypeCode::Int16S, 0xFFFF, 0xFFFE, 0), 0);
    EXPECT_EQ(data::checkRange(TypeCode::Int16U, 0xFFFF, 0, 10), -2);
    EXPECT_EQ(data::checkRange(TypeCode::Int16U, 0x0001FFFF, 0, 0xFFFF), 0);  // high half ignored
    EXPECT_EQ(data::checkRange(TypeCode::Int16U, 10, 0, 10), 0);              // both ends included
    EXPECT_EQ(data::checkRange(TypeCode::Int32S, neg(1), 0, 10), -3);
    EXPECT_EQ(data::checkRange(TypeCode::Int32S, neg(1), neg(5), 10), 0);
    EXPECT_EQ(data::checkRange(TypeCode::Int32U, neg(1), 0, 10), -4);
    EXPECT_EQ(data::checkRange(TypeCode::Int32U, neg(1), 0, 0xFFFFFFFF), 0);
    EXPECT_EQ(data::checkRange(kBogus, 100, 0, 1), 0);
}

TEST(NumberReaders, Decimal) {
    EXPECT_EQ(data::readDecimal(u"  -12abc"), neg(12));
    EXPECT_EQ(data::readDecimal(u"+7"), 7u);
    EXPECT_EQ(data::readDecimal(u"- 7"), 0u);
    EXPECT_EQ(data::readDecimal(u""), 0u);
    EXPECT_EQ(data::readDecimal(u"4294967296"), 0u);
    EXPECT_EQ(data::readDecimal(std::string_view("\r\n 3100")), 3100u);
    // Reads only the view, not what follows it.
    const std::u16string_view digits = u"12345";
    EXPECT_EQ(data::readDecimal(digits.substr(0, 2)), 12u);
}

TEST(NumberReaders, RealAndTruncated) {
    EXPECT_DOUBLE_EQ(data::readReal(u"10.0"), 10.0);
    EXPECT_DOUBLE_EQ(data::readReal(u" -2.5e2x"), -250.0);
    EXPECT_DOUBLE_EQ(data::readReal(u".5"), 0.5);
    EXPECT_DOUBLE_EQ(data::readReal(u"5."), 5.0);
    EXPECT_DOUBLE_EQ(data::readReal(u"3e"), 3.0);
    EXPECT_DOUBLE_EQ(data::readReal(u"."), 0.0);
    EXPECT_DOUBLE_EQ(data::readReal(u"abc"), 0.0);
    EXPECT_TRUE(std::isinf(data::readReal(u"1e999")));
    EXPECT_DOUBLE_EQ(data::readReal(u"1e-999"), 0.0);
    EXPECT_EQ(data::readTruncatedInt(u"12.7"), 12);
    EXPECT_EQ(data::readTruncatedInt(u"-12.7"), -12);
    EXPECT_EQ(data::readTruncatedInt(u"1e20"), 2147483647);
    EXPECT_EQ(data::readTruncatedInt(u"-1e20"), -2147483647 - 1);
    EXPECT_EQ(data::readTruncatedInt(u""), 0);
}

}  // namespace
