#include "modbus/frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/channel.h"
#include "modbus/crc.h"
#include "modbus/result.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class FrameCoding : public ::testing::Test {
  protected:
    void SetUp() override { channel.mode = modbus::kModeSerial; }

    void load(const Bytes& bytes) {
        auto& tx = channel.transaction;
        tx.frame.fill(0);
        std::copy(bytes.begin(), bytes.end(), tx.frame.begin());
        tx.frameLength = static_cast<std::uint16_t>(bytes.size());
    }
    Bytes frame() const {
        const auto& tx = channel.transaction;
        return Bytes(tx.frame.begin(), tx.frame.begin() + tx.frameLength);
    }

    modbus::ModbusChannel channel;
};

TEST_F(FrameCoding, RtuRequestGetsCrcLowByteFirst) {
    load({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A});
    channel.frameType = modbus::kFrameRtu;
    ASSERT_EQ(modbus::appendChecksum(channel), modbus::kSuccess);
    EXPECT_EQ(frame(), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
}

TEST_F(FrameCoding, AsciiRequestIsColonHexPairsLrcAndCrLf) {
    load({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A});
    channel.frameType = modbus::kFrameAscii;
    ASSERT_EQ(modbus::appendChecksum(channel), modbus::kSuccess);
    EXPECT_EQ(frame(), bytesOf(":01030000000AF2\r\n"));
    EXPECT_EQ(frame().size(), 17u);
    EXPECT_TRUE(modbus::endsWithCrLf(channel.transaction));
}

TEST_F(FrameCoding, ClosedChannelAndUnknownFrameTypeAreRefusedUnchanged) {
    const Bytes raw{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
    load(raw);
    channel.mode = modbus::kModeClosed;
    EXPECT_EQ(modbus::appendChecksum(channel), modbus::kChannelUnavailable);
    EXPECT_EQ(frame(), raw);
    channel.mode = modbus::kModeSerial;
    channel.frameType = 2;
    EXPECT_EQ(modbus::appendChecksum(channel), modbus::kValueMismatch);
    EXPECT_EQ(frame(), raw);
    load({0x01, 0x03, 0x02, 0x00, 0x05});
    EXPECT_EQ(modbus::checkResponse(channel), modbus::kFramingError);
}

TEST_F(FrameCoding, AsciiResponseDecodesEitherCaseAndChecksLrc) {
    channel.frameType = modbus::kFrameAscii;
    // 01 03 02 AB CD, LRC = -(0x01+0x03+0x02+0xAB+0xCD) = 0x82
    load(bytesOf(":010302ABCD82\r\n"));
    ASSERT_EQ(modbus::checkResponse(channel), modbus::kSuccess);
    EXPECT_EQ(frame(), (Bytes{0x01, 0x03, 0x02, 0xAB, 0xCD}));
    load(bytesOf(":010302abcd82\r\n"));
    ASSERT_EQ(modbus::checkResponse(channel), modbus::kSuccess);
    EXPECT_EQ(frame(), (Bytes{0x01, 0x03, 0x02, 0xAB, 0xCD}));
    load(bytesOf(":010302ABCD83\r\n"));
    EXPECT_EQ(modbus::checkResponse(channel), modbus::kChecksumError);
}

TEST_F(FrameCoding, MalformedAsciiResponsesAreFramingErrors) {
    channel.frameType = modbus::kFrameAscii;
    // Right LRC but an even length: framing, not checksum.
    load(bytesOf(":010302ABCD820\r\n"));
    EXPECT_EQ(modbus::checkResponse(channel), modbus::kFramingError);
    load(bytesOf("010302ABCD82\r\n!"));
    EXPECT_EQ(modbus::checkResponse(channel), modbus::kFramingError);
    load(bytesOf(":010302ABCD82\n\r"));
    EXPECT_EQ(modbus::checkResponse(channel), modbus::kFramingError);
    // No byte at all to hold an LRC.
    load(bytesOf(":\r\n"));
    EXPECT_EQ(modbus::checkResponse(channel), modbus::kFramingError);
    load({});
    EXPECT_EQ(modbus::checkResponse(channel), modbus::kFramingError);
    // A lone LRC over nothing is a valid empty frame.
    load(bytesOf(":00\r\n"));
    EXPECT_EQ(modbus::checkResponse(channel), modbus::kSuccess);
    EXPECT_EQ(channel.transaction.frameLength, 0);
}

TEST_F(FrameCoding, RtuResponseLengthLimitsAndChecksum) {
    channel.frameType = modbus::kFrameRtu;
    Bytes body(254, 0x5A);
    body[0] = 0x01;
    const std::uint16_t crc = modbus::modbusCrc16(body.data(), body.size());
    Bytes full = body;
    full.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    full.push_back(static_cast<std::uint8_t>(crc >> 8));
    load(full);  // exactly 256 bytes
    ASSERT_EQ(modbus::checkResponse(channel), modbus::kSuccess);
    EXPECT_EQ(channel.transaction.frameLength, 254);

    Bytes longer(255, 0x5A);
    const std::uint16_t crc2 = modbus::modbusCrc16(longer.data(), longer.size());
    longer.push_back(static_cast<std::uint8_t>(crc2 & 0xFF));
    longer.push_back(static_cast<std::uint8_t>(crc2 >> 8));
    load(longer);  // 257 bytes, checksum right
    EXPECT_EQ(modbus::checkResponse(channel), modbus::kFramingError);

    full[10] ^= 0x01;
    load(full);
    EXPECT_EQ(modbus::checkResponse(channel), modbus::kChecksumError);

    // Too short to hold a CRC: nothing is read outside the received bytes.
    load({0x01});
    EXPECT_EQ(modbus::checkResponse(channel), modbus::kFramingError);
    load({});
    EXPECT_EQ(modbus::checkResponse(channel), modbus::kFramingError);
    // The CRC of an empty block is FFFF: two bytes FF FF are a valid empty frame.
    load({0xFF, 0xFF});
    EXPECT_EQ(modbus::checkResponse(channel), modbus::kSuccess);
    EXPECT_EQ(channel.transaction.frameLength, 0);
}

TEST_F(FrameCoding, LongestRequestsFitTheFrameArea) {
    // A write of 120 registers is 247 raw bytes: 499 characters in ASCII.
    Bytes raw(247, 0xA5);
    load(raw);
    channel.frameType = modbus::kFrameAscii;
    ASSERT_EQ(modbus::appendChecksum(channel), modbus::kSuccess);
    EXPECT_EQ(channel.transaction.frameLength, 2 * 247 + 5);
    // Round trip through the receive side.
    ASSERT_EQ(modbus::checkResponse(channel), modbus::kSuccess);
    EXPECT_EQ(frame(), raw);
    // One that cannot fit is refused rather than written past the area.
    load(Bytes(254, 0x11));
    EXPECT_EQ(modbus::appendChecksum(channel), modbus::kValueMismatch);
}

TEST(Lrc, SumNegatedModulo256) {
    EXPECT_EQ(modbus::modbusLrc(nullptr, 0), 0);
    const std::uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
    EXPECT_EQ(modbus::modbusLrc(request, 6), 0xF2);
    const std::uint8_t carry[] = {0xFF, 0xFF, 0x02};  // sum 0x200
    EXPECT_EQ(modbus::modbusLrc(carry, 3), 0x00);
}

TEST(Hex, EveryByteRoundTripsInBothCases) {
    for (int v = 0; v < 256; ++v) {
        const auto pair = modbus::hexEncodeByte(static_cast<std::uint8_t>(v));
        ASSERT_TRUE((pair[0] >= '0' && pair[0] <= '9') || (pair[0] >= 'A' && pair[0] <= 'F'));
        ASSERT_TRUE((pair[1] >= '0' && pair[1] <= '9') || (pair[1] >= 'A' && pair[1] <= 'F'));
        ASSERT_EQ(modbus::hexDecodePair(pair[0], pair[1]), v);
        const auto lower = [](std::uint8_t c) {
            return static_cast<std::uint8_t>(c >= 'A' ? c + 32 : c);
        };
        ASSERT_EQ(modbus::hexDecodePair(lower(pair[0]), lower(pair[1])), v);
    }
    EXPECT_EQ(modbus::hexEncodeByte(0x3C), (std::array<std::uint8_t, 2>{'3', 'C'}));
}

TEST(LineTiming, CharacterLength) {
    EXPECT_EQ(modbus::characterLength(8, 0, 0), 9u);
    EXPECT_EQ(modbus::characterLength(8, 2, 0), 10u);
    EXPECT_EQ(modbus::characterLength(8, 0, 2), 10u);
    EXPECT_EQ(modbus::characterLength(7, 1, 3), 10u);
}

TEST(LineTiming, SerialTimeouts) {
    EXPECT_EQ(modbus::serialIntervalTimeoutMs(19200, 9), 1u);  // 1.9375 truncated
    EXPECT_EQ(modbus::serialIntervalTimeoutMs(9600, 9), 2u);
    EXPECT_EQ(modbus::serialIntervalTimeoutMs(4800, 9), 4u);
    EXPECT_EQ(modbus::serialIntervalTimeoutMs(2400, 11), 10u);  // 11*2000/2400+1 = 10.17
    for (std::uint32_t baud : {19201u, 38400u, 57600u, 115200u}) {
        const auto t = modbus::serialTimeouts(baud, 11);
        EXPECT_EQ(t.readIntervalMs, 1u);
        EXPECT_EQ(t.writeTotalMultiplierMs, 1u);
        EXPECT_EQ(t.readTotalMultiplierMs, 1u);
        EXPECT_EQ(t.readTotalConstantMs, 1u);
        EXPECT_EQ(t.writeTotalConstantMs, 1u);
    }
    const auto slow = modbus::serialTimeouts(4800, 9);
    EXPECT_EQ(slow.readIntervalMs, 4u);
    EXPECT_EQ(slow.writeTotalMultiplierMs, 4u);
}

TEST(LineTiming, InterCharacterGap) {
    EXPECT_EQ(modbus::interCharacterGapMicros(115200, 9), 2300u);
    EXPECT_EQ(modbus::interCharacterGapMicros(115200, 10), 2555u);
    EXPECT_EQ(modbus::interCharacterGapMicros(9600, 9), 24000u);
    EXPECT_EQ(modbus::interCharacterGapMicros(56000, 9), 13000u);
    EXPECT_EQ(modbus::interCharacterGapMicros(14400, 9), 20000u);
    EXPECT_EQ(modbus::interCharacterGapMicros(4800, 11), 58666u);
    // Not in the table: three and a half characters up to 19200, then 1800.
    EXPECT_EQ(modbus::interCharacterGapMicros(2400, 9), 13125u);
    EXPECT_EQ(modbus::interCharacterGapMicros(1200, 10), 29166u);
    EXPECT_EQ(modbus::interCharacterGapMicros(230400, 9), 1800u);
}

TEST(LineTiming, FrameSilenceIsThreeAndAHalfWholeCharacters) {
    // 8N1 is 10 bits on the wire: 3.5 x 10 / 19200 s = 1822.9 us, rounded up
    // so that the silence is never short.
    EXPECT_EQ(modbus::frameSilenceMicros(19200, 10), 1823u);
    EXPECT_EQ(modbus::frameSilenceMicros(9600, 11), 4011u);  // 8E1
    EXPECT_EQ(modbus::frameSilenceMicros(4800, 10), 7292u);
    // Fixed above 19200 bit/s.
    EXPECT_EQ(modbus::frameSilenceMicros(19201, 10), 1750u);
    EXPECT_EQ(modbus::frameSilenceMicros(115200, 11), 1750u);
}

TEST(RtuFrame, WholeFrameIsExactlyTheLengthItsHeaderGivesWithAGoodCrc) {
    auto framed = [](std::vector<std::uint8_t> bytes) {
        const std::uint16_t crc = modbus::modbusCrc16(bytes.data(), bytes.size());
        bytes.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
        return bytes;
    };
    const auto read = framed({1, 3, 4, 0, 10, 0, 20});
    EXPECT_TRUE(modbus::isWholeRtuFrame(read.data(), read.size()));
    // Cut short, or one byte more: not yet, or not one frame.
    EXPECT_FALSE(modbus::isWholeRtuFrame(read.data(), read.size() - 1));
    auto longer = read;
    longer.push_back(0);
    EXPECT_FALSE(modbus::isWholeRtuFrame(longer.data(), longer.size()));
    auto garbled = read;
    garbled[4] ^= 1;
    EXPECT_FALSE(modbus::isWholeRtuFrame(garbled.data(), garbled.size()));
    const auto exception = framed({1, 0x83, 2});
    EXPECT_TRUE(modbus::isWholeRtuFrame(exception.data(), exception.size()));
    const auto echo = framed({1, 6, 0, 22, 4, 210});
    EXPECT_TRUE(modbus::isWholeRtuFrame(echo.data(), echo.size()));
    // A function whose length nobody knows ends by silence only.
    const auto unknown = framed({1, 0x2B, 1, 2});
    EXPECT_FALSE(modbus::isWholeRtuFrame(unknown.data(), unknown.size()));
}

}  // namespace
