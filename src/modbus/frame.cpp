#include "modbus/frame.h"

#include <algorithm>

#include "modbus/crc.h"
#include "modbus/result.h"

namespace modbus {

namespace {

constexpr std::uint8_t kColon = 0x3A;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;

std::uint8_t nibbleChar(unsigned nibble) {
    return static_cast<std::uint8_t>(nibble < 10 ? '0' + nibble : 'A' + (nibble - 10));
}

std::uint8_t charNibble(std::uint8_t c) {
    return static_cast<std::uint8_t>((c < 0x3A ? c - 0x30 : c - 0x37) & 0x0F);
}

std::uint8_t unframeAscii(ModbusTransaction& tx) {
    const std::size_t length = tx.frameLength;
    if (length < 3 || tx.frame[0] != kColon || length % 2 == 0 || tx.frame[length - 2] != kCr ||
        tx.frame[length - 1] != kLf)
        return kFramingError;
    // A second ':' or an inner CR LF: more than one frame in one receive, of
    // which one may answer an earlier request.
    for (std::size_t i = 1; i + 2 < length; ++i) {
        if (tx.frame[i] == kColon || tx.frame[i] == kCr || tx.frame[i] == kLf) return kFramingError;
    }
    // Decoding in place is safe: the write index trails the read index.
    const std::size_t decoded = (length - 3) / 2;
    for (std::size_t i = 0; i < decoded; ++i)
        tx.frame[i] = hexDecodePair(tx.frame[1 + 2 * i], tx.frame[2 + 2 * i]);
    // Without a single decoded byte there is no LRC to check.
    if (decoded == 0) return kFramingError;
    if (modbusLrc(tx.frame.data(), decoded - 1) != tx.frame[decoded - 1]) return kChecksumError;
    tx.frameLength = static_cast<std::uint16_t>(decoded - 1);
    return kSuccess;
}

std::uint8_t unframeRtu(ModbusTransaction& tx) {
    const std::size_t length = tx.frameLength;
    // A frame without room for its CRC is malformed, not a checksum failure.
    if (length > kMaxRtuFrame || length < 2) return kFramingError;
    const std::uint16_t crc = modbusCrc16(tx.frame.data(), length - 2);
    const std::uint16_t received =
        static_cast<std::uint16_t>(tx.frame[length - 2] | (tx.frame[length - 1] << 8));
    if (crc != received) {
        // Two answers back to back without the silence that would end the
        // first (a late one followed by this request's): the first frame, cut
        // at the length its header gives, is whole and bytes are left over.
        const std::size_t first = rtuFrameLength(tx.frame.data(), length);
        if (first >= 4 && first < length &&
            modbusCrc16(tx.frame.data(), first - 2) ==
                static_cast<std::uint16_t>(tx.frame[first - 2] | (tx.frame[first - 1] << 8)))
            return kFramingError;
        return kChecksumError;
    }
    tx.frameLength = static_cast<std::uint16_t>(length - 2);
    return kSuccess;
}

}  // namespace

std::size_t rtuFrameLength(const std::uint8_t* bytes, std::size_t count) {
    if (count < 2) return 0;
    const std::uint8_t function = bytes[1];
    if ((function & 0x80) != 0) return 5;
    switch (function) {
        case 1:
        case 2:
        case 3:
        case 4:
            return count < 3 ? 0 : 5 + std::size_t{bytes[2]};
        case 5:
        case 6:
        case 15:
        case 16:
            return 8;
        default:
            return 0;
    }
}

bool isWholeRtuFrame(const std::uint8_t* bytes, std::size_t count) {
    if (count < 4 || count != rtuFrameLength(bytes, count)) return false;
    return modbusCrc16(bytes, count - 2) ==
           static_cast<std::uint16_t>(bytes[count - 2] | (bytes[count - 1] << 8));
}

std::uint8_t modbusLrc(const std::uint8_t* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

std::array<std::uint8_t, 2> hexEncodeByte(std::uint8_t value) {
    return {nibbleChar(value >> 4), nibbleChar(value & 0x0F)};
}

std::uint8_t hexDecodePair(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::uint8_t>((charNibble(high) << 4) | charNibble(low));
}

std::uint8_t frameRequest(ModbusTransaction& tx, std::uint8_t frameType) {
    const std::size_t n = std::min<std::size_t>(tx.frameLength, kFrameAreaSize);
    if (frameType == kFrameRtu) {
        if (n + 2 > kFrameAreaSize) return kValueMismatch;
        const std::uint16_t crc = modbusCrc16(tx.frame.data(), n);
        tx.frame[n] = static_cast<std::uint8_t>(crc & 0xFF);
        tx.frame[n + 1] = static_cast<std::uint8_t>(crc >> 8);
        tx.frameLength = static_cast<std::uint16_t>(n + 2);
        return kSuccess;
    }
    if (frameType == kFrameAscii) {
        if (2 * n + 5 > kFrameAreaSize) return kValueMismatch;
        std::array<std::uint8_t, kFrameAreaSize> raw{};
        std::copy_n(tx.frame.begin(), n, raw.begin());
        const std::uint8_t lrc = modbusLrc(raw.data(), n);
        std::size_t out = 0;
        tx.frame[out++] = kColon;
        for (std::size_t i = 0; i <= n; ++i) {
            const auto pair = hexEncodeByte(i < n ? raw[i] : lrc);
            tx.frame[out++] = pair[0];
            tx.frame[out++] = pair[1];
        }
        tx.frame[out++] = kCr;
        tx.frame[out++] = kLf;
        tx.frameLength = static_cast<std::uint16_t>(out);
        return kSuccess;
    }
    return kValueMismatch;
}

std::uint8_t unframeResponse(ModbusTransaction& tx, std::uint8_t frameType) {
    if (tx.frameLength > kFrameAreaSize) return kFramingError;
    if (frameType == kFrameAscii) return unframeAscii(tx);
    if (frameType == kFrameRtu) return unframeRtu(tx);
    return kFramingError;
}

std::uint8_t appendChecksum(ModbusChannel& channel) {
    if (channel.mode.load(std::memory_order_relaxed) != kModeSerial) return kChannelUnavailable;
    return frameRequest(channel.transaction, channel.frameType);
}

std::uint8_t checkResponse(ModbusChannel& channel) {
    return unframeResponse(channel.transaction, channel.frameType);
}

bool endsWithCrLf(const ModbusTransaction& tx) {
    const std::size_t n = tx.frameLength;
    return n >= 2 && n <= kFrameAreaSize && tx.frame[n - 2] == kCr && tx.frame[n - 1] == kLf;
}

}  // namespace modbus
