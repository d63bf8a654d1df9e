#include "modbus/request.h"

#include "modbus/result.h"

namespace modbus {

namespace {

void putWord(ModbusTransaction& tx, std::size_t at, std::uint16_t value) {
    tx.frame[at] = static_cast<std::uint8_t>(value >> 8);
    tx.frame[at + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

std::uint16_t getWord(const ModbusTransaction& tx, std::size_t at) {
    return static_cast<std::uint16_t>((tx.frame[at] << 8) | tx.frame[at + 1]);
}

std::size_t bitBytes(std::uint32_t bits) {
    return (bits + 7) / 8;
}

void putHeader(ModbusTransaction& tx) {
    tx.frame[0] = tx.stationByte;
    tx.frame[1] = tx.functionCode;
    putWord(tx, 2, tx.startAddress);
}

}  // namespace

std::uint8_t readFunctionCode(std::uint8_t kind, std::uint8_t table) {
    if (kind == kKindBits) return table == kTableInput ? kReadDiscreteInputs : kReadCoils;
    return table == kTableInput ? kReadInputRegisters : kReadHoldingRegisters;
}

std::uint8_t writeFunctionCode(std::uint8_t kind, std::uint32_t quantity) {
    if (kind == kKindBits) return quantity == 1 ? kWriteSingleCoil : kWriteMultipleCoils;
    return quantity == 1 ? kWriteSingleRegister : kWriteMultipleRegisters;
}

void buildReadRequest(ModbusTransaction& tx) {
    putHeader(tx);
    putWord(tx, 4, tx.quantity);
    tx.frameLength = 6;
}

bool buildWriteRequest(ModbusTransaction& tx, const std::uint8_t* source) {
    if (tx.functionCode == kWriteMultipleCoils && tx.quantity > kMaxBitsPerRequest) return false;
    if (tx.functionCode == kWriteMultipleRegisters && tx.quantity > kMaxRegistersPerRequest)
        return false;
    if (tx.functionCode != kWriteSingleCoil && tx.functionCode != kWriteSingleRegister &&
        tx.functionCode != kWriteMultipleCoils && tx.functionCode != kWriteMultipleRegisters)
        return false;
    putHeader(tx);
    switch (tx.functionCode) {
        case kWriteSingleCoil:
            tx.frame[4] = (source[0] & 1) != 0 ? 0xFF : 0x00;
            tx.frame[5] = 0x00;
            tx.frameLength = 6;
            break;
        case kWriteSingleRegister:
            tx.frame[4] = source[1];
            tx.frame[5] = source[0];
            tx.frameLength = 6;
            break;
        case kWriteMultipleCoils: {
            const std::size_t n = bitBytes(tx.quantity);
            putWord(tx, 4, tx.quantity);
            tx.frame[6] = static_cast<std::uint8_t>(n);
            for (std::size_t i = 0; i < n; ++i) tx.frame[7 + i] = source[i];
            tx.frameLength = static_cast<std::uint16_t>(7 + n);
            break;
        }
        case kWriteMultipleRegisters: {
            const std::size_t n = 2 * std::size_t{tx.quantity};
            putWord(tx, 4, tx.quantity);
            tx.frame[6] = static_cast<std::uint8_t>(n);
            for (std::size_t i = 0; i < n; i += 2) {
                tx.frame[7 + i] = source[i + 1];
                tx.frame[8 + i] = source[i];
            }
            tx.frameLength = static_cast<std::uint16_t>(7 + n);
            break;
        }
        default:
            return false;
    }
    return true;
}

std::uint8_t validateReadResponse(ModbusTransaction& tx, std::uint8_t* destination) {
    const std::size_t length = tx.frameLength;
    if (length < 1 || tx.frame[0] != tx.stationByte) return kFramingError;
    if (length < 2) return kFramingError;
    if (tx.frame[1] != tx.functionCode) return kFunctionMismatch;
    if (length < 3) return kFramingError;
    tx.responseByteCount = tx.frame[2];
    const std::size_t count = tx.responseByteCount;
    const bool bits = tx.functionCode == kReadCoils || tx.functionCode == kReadDiscreteInputs;
    const std::size_t expected = bits ? bitBytes(tx.quantity) : 2 * std::size_t{tx.quantity};
    if (count != expected) return kValueMismatch;
    // The byte count must be backed by bytes actually received.
    if (length < 3 + count) return kFramingError;
    if (destination == nullptr) return kSuccess;
    if (bits) {
        for (std::size_t i = 0; i < count; ++i) destination[i] = tx.frame[3 + i];
    } else {
        for (std::size_t i = 0; i + 1 < count; i += 2) {
            destination[i] = tx.frame[4 + i];
            destination[i + 1] = tx.frame[3 + i];
        }
    }
    return kSuccess;
}

std::uint8_t validateWriteResponse(const ModbusTransaction& tx, const std::uint8_t sentValue[2]) {
    const std::size_t length = tx.frameLength;
    if (length < 1) return kFramingError;
    std::uint8_t result = kSuccess;
    if (tx.frame[0] != tx.stationByte) result = kFramingError;
    if (length < 2) return kFramingError;
    if (tx.frame[1] != tx.functionCode) result = kFunctionMismatch;
    // An exception response ends here; any other short echo is malformed.
    if (length < 6) return result != kSuccess ? result : kFramingError;
    if (getWord(tx, 2) != tx.startAddress) result = kAddressMismatch;
    if (tx.functionCode == kWriteSingleCoil || tx.functionCode == kWriteSingleRegister) {
        if (tx.frame[4] != sentValue[0] || tx.frame[5] != sentValue[1]) result = kValueMismatch;
    } else if (getWord(tx, 4) != tx.quantity) {
        result = kValueMismatch;
    }
    return result;
}

}  // namespace modbus
