// Fuzzes the master's receive path: a received frame is unframed (RTU CRC or
// ASCII LRC) and validated against a request, as after an exchange.
//
// Input: flags, station, quantity (2), start address (2), value (2), then the
// received bytes. Flags bit 0: ASCII instead of RTU; bit 1: frame the bytes
// with a correct checksum first, so that validation is reached; bits 2-4: the
// function code of the request (1, 2, 3, 4, 5, 6, 15, 16).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "modbus/crc.h"
#include "modbus/frame.h"
#include "modbus/request.h"
#include "modbus/result.h"

namespace {

using namespace modbus;

constexpr std::uint8_t kCodes[8] = {1, 2, 3, 4, 5, 6, 15, 16};

void require(bool condition) {
    if (!condition) __builtin_trap();
}

std::vector<std::uint8_t> withChecksum(const std::uint8_t* data, std::size_t size, bool ascii) {
    std::vector<std::uint8_t> out;
    if (ascii) {
        out.push_back(':');
        for (std::size_t i = 0; i < size; ++i) {
            const auto pair = hexEncodeByte(data[i]);
            out.insert(out.end(), pair.begin(), pair.end());
        }
        const auto lrc = hexEncodeByte(modbusLrc(data, size));
        out.insert(out.end(), lrc.begin(), lrc.end());
        out.push_back('\r');
        out.push_back('\n');
    } else {
        out.assign(data, data + size);
        const std::uint16_t crc = modbusCrc16(data, size);
        out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        out.push_back(static_cast<std::uint8_t>(crc >> 8));
    }
    return out;
}

ModbusTransaction makeRequest(const std::uint8_t* header) {
    ModbusTransaction tx;
    tx.functionCode = kCodes[(header[0] >> 2) & 7];
    tx.stationByte = header[1];
    const unsigned raw = static_cast<unsigned>(header[2] << 8 | header[3]);
    switch (tx.functionCode) {
        case kReadCoils:
        case kReadDiscreteInputs:
        case kWriteMultipleCoils:
            tx.quantity = static_cast<std::uint16_t>(1 + raw % 1920);
            break;
        case kReadHoldingRegisters:
        case kReadInputRegisters:
        case kWriteMultipleRegisters:
            tx.quantity = static_cast<std::uint16_t>(1 + raw % 120);
            break;
        default:
            tx.quantity = 1;
            break;
    }
    tx.startAddress = static_cast<std::uint16_t>(header[4] << 8 | header[5]);
    return tx;
}

// A request built and framed must come back unchanged through the receive
// side: the two directions of the framing agree.
void checkRoundTrip(ModbusTransaction tx, std::uint8_t frameType, const std::uint8_t* value) {
    std::vector<std::uint8_t> source(240, 0);
    source[0] = value[0];
    source[1] = value[1];
    const bool isRead = tx.functionCode <= kReadInputRegisters;
    if (isRead)
        buildReadRequest(tx);
    else
        require(buildWriteRequest(tx, source.data()));
    const std::vector<std::uint8_t> raw(tx.frame.begin(), tx.frame.begin() + tx.frameLength);
    require(frameRequest(tx, frameType) == kSuccess);
    require(unframeResponse(tx, frameType) == kSuccess);
    require(std::vector<std::uint8_t>(tx.frame.begin(), tx.frame.begin() + tx.frameLength) == raw);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kHeader = 8;
    if (size < kHeader) return 0;
    const bool ascii = (data[0] & 1) != 0;
    const bool fixChecksum = (data[0] & 2) != 0;
    const std::uint8_t frameType = ascii ? kFrameAscii : kFrameRtu;
    const std::uint8_t* value = data + 6;
    const std::uint8_t* body = data + kHeader;
    const std::size_t bodySize = size - kHeader;

    ModbusTransaction tx = makeRequest(data);
    checkRoundTrip(tx, frameType, value);

    const std::vector<std::uint8_t> received =
        fixChecksum ? withChecksum(body, bodySize, ascii)
                    : std::vector<std::uint8_t>(body, body + bodySize);
    // The receive loop refuses more bytes than the frame area holds.
    if (received.size() > kFrameAreaSize) return 0;
    std::copy(received.begin(), received.end(), tx.frame.begin());
    tx.frameLength = static_cast<std::uint16_t>(received.size());

    const bool complete = endsWithCrLf(tx);
    const std::uint8_t unframed = unframeResponse(tx, frameType);
    require(unframed == kSuccess || unframed == kChecksumError || unframed == kFramingError);
    if (fixChecksum && (ascii || received.size() <= kMaxRtuFrame)) require(unframed == kSuccess);
    if (unframed != kSuccess) return 0;
    require(!ascii || complete);
    require(tx.frameLength < received.size());

    const bool bits = tx.functionCode == kReadCoils || tx.functionCode == kReadDiscreteInputs;
    if (tx.functionCode <= kReadInputRegisters) {
        const std::size_t expected = bits ? (tx.quantity + 7u) / 8u : 2u * tx.quantity;
        std::vector<std::uint8_t> destination(expected);  // exactly the run: ASan sees overruns
        const std::uint8_t r = validateReadResponse(tx, destination.data());
        require(r == kSuccess || r == kFunctionMismatch || r == kValueMismatch ||
                r == kFramingError);
        if (r == kSuccess) require(tx.responseByteCount == expected);
    } else {
        const std::uint8_t r = validateWriteResponse(tx, value);
        require(r == kSuccess || r == kFunctionMismatch || r == kAddressMismatch ||
                r == kValueMismatch || r == kFramingError);
        if (r == kSuccess) require(tx.frameLength >= 6);
    }
    return 0;
}
