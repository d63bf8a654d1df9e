#include "modbus/request.h"

#include <gtest/gtest.h>

#include <vector>

#include "modbus/result.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace modbus;

ModbusTransaction request(std::uint8_t fc, std::uint16_t start, std::uint16_t quantity) {
    ModbusTransaction tx;
    tx.stationByte = 7;
    tx.functionCode = fc;
    tx.startAddress = start;
    tx.quantity = quantity;
    return tx;
}

void respond(ModbusTransaction& tx, const Bytes& response) {
    tx.frame.fill(0xEE);  // stale bytes beyond the response must never count
    std::copy(response.begin(), response.end(), tx.frame.begin());
    tx.frameLength = static_cast<std::uint16_t>(response.size());
}

TEST(BuildRequest, RefusesWhatDoesNotFitOneRequest) {
    const std::vector<std::uint8_t> source(4096, 0);
    auto tx = request(kWriteMultipleRegisters, 0, 121);
    EXPECT_FALSE(buildWriteRequest(tx, source.data()));
    tx = request(kWriteMultipleCoils, 0, 1921);
    EXPECT_FALSE(buildWriteRequest(tx, source.data()));
    tx = request(kReadCoils, 0, 1);
    EXPECT_FALSE(buildWriteRequest(tx, source.data()));
    tx = request(kWriteMultipleRegisters, 0, 120);
    ASSERT_TRUE(buildWriteRequest(tx, source.data()));
    EXPECT_EQ(tx.frameLength, 247);
}

TEST(ValidateRead, FirstFailingCheckDecides) {
    Bytes out(4, 0x55);
    auto tx = request(kReadHoldingRegisters, 0, 2);
    // Another station wins over another function code.
    respond(tx, {8, 0x83, 2});
    EXPECT_EQ(validateReadResponse(tx, out.data()), kFramingError);
    respond(tx, {7, 0x83, 2});  // exception response
    EXPECT_EQ(validateReadResponse(tx, out.data()), kFunctionMismatch);
    respond(tx, {7, 3, 2, 0, 1});
    EXPECT_EQ(validateReadResponse(tx, out.data()), kValueMismatch);
    EXPECT_EQ(tx.responseByteCount, 2);
    // Byte count right but data missing: the stale frame area is not data.
    respond(tx, {7, 3, 4, 0x12});
    EXPECT_EQ(validateReadResponse(tx, out.data()), kFramingError);
    respond(tx, {7, 3});
    EXPECT_EQ(validateReadResponse(tx, out.data()), kFramingError);
    respond(tx, {});
    EXPECT_EQ(validateReadResponse(tx, out.data()), kFramingError);
    EXPECT_EQ(out, Bytes(4, 0x55));  // nothing copied on failure

    tx = request(kReadDiscreteInputs, 0, 10);
    respond(tx, {7, 2, 1, 0xFF});  // 10 inputs need 2 bytes
    EXPECT_EQ(validateReadResponse(tx, out.data()), kValueMismatch);
}

TEST(ValidateWrite, LaterFailureReplacesEarlier) {
    const std::uint8_t value[2] = {0x12, 0x34};
    auto tx = request(kWriteSingleRegister, 0x0100, 1);
    respond(tx, {9, 6, 0x01, 0x01, 0x12, 0x34});  // wrong station and address
    EXPECT_EQ(validateWriteResponse(tx, value), kAddressMismatch);
    respond(tx, {9, 6, 0x01, 0x00, 0x12, 0x34});
    EXPECT_EQ(validateWriteResponse(tx, value), kFramingError);
    respond(tx, {9, 5, 0x01, 0x01, 0x12, 0x35});  // everything wrong: the value decides
    EXPECT_EQ(validateWriteResponse(tx, value), kValueMismatch);

    tx = request(kWriteMultipleRegisters, 0x0100, 2);
    respond(tx, {7, 16, 0x01, 0x00, 0x00, 0x02});
    EXPECT_EQ(validateWriteResponse(tx, value), kSuccess);
    respond(tx, {7, 16, 0x01, 0x00, 0x00, 0x03});
    EXPECT_EQ(validateWriteResponse(tx, value), kValueMismatch);
}

TEST(ValidateWrite, ShortResponsesAreNotReadPastTheirEnd) {
    const std::uint8_t value[2] = {0xFF, 0x00};
    auto tx = request(kWriteSingleCoil, 0, 1);
    // Stale bytes beyond the frame would echo address 0 and FF 00.
    tx.frame.fill(0);
    tx.frame[4] = 0xFF;
    tx.frame[0] = 7;
    tx.frame[1] = 0x85;
    tx.frame[2] = 2;
    tx.frameLength = 3;  // exception response
    EXPECT_EQ(validateWriteResponse(tx, value), kFunctionMismatch);
    tx.frame[1] = 5;
    EXPECT_EQ(validateWriteResponse(tx, value), kFramingError);
    tx.frameLength = 1;
    EXPECT_EQ(validateWriteResponse(tx, value), kFramingError);
    tx.frameLength = 0;
    EXPECT_EQ(validateWriteResponse(tx, value), kFramingError);
}

}  // namespace
