#include "modbus/crc.h"

#include <gtest/gtest.h>

namespace {

std::uint16_t bitwiseCrc(const std::uint8_t* p, std::size_t n) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

TEST(Crc16, CheckValueEmptyBlockAndKnownFrame) {
    const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(modbus::modbusCrc16(digits, 9), 0x4B37);
    EXPECT_EQ(modbus::modbusCrc16(nullptr, 0), 0xFFFF);
    // 01 03 00 00 00 0A goes on the line followed by C5 CD.
    const std::uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
    const std::uint16_t crc = modbus::modbusCrc16(request, 6);
    EXPECT_EQ(crc & 0xFF, 0xC5);
    EXPECT_EQ(crc >> 8, 0xCD);
}

TEST(Crc16, TablesAgreeWithTheBitwiseDefinitionForEveryByte) {
    for (int a = 0; a < 256; ++a) {
        const std::uint8_t block[] = {static_cast<std::uint8_t>(a), 0x5A,
                                      static_cast<std::uint8_t>(255 - a)};
        ASSERT_EQ(modbus::modbusCrc16(block, 3), bitwiseCrc(block, 3)) << a;
    }
}

}  // namespace
