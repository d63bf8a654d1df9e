#include "rtu_slave.h"

#include <algorithm>

#include "modbus/crc.h"

namespace sim {

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

std::uint16_t word(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

void putWord(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

std::vector<std::uint8_t> exception(std::uint8_t function, ModbusError error) {
    return {static_cast<std::uint8_t>(function | 0x80), static_cast<std::uint8_t>(error)};
}

bool isWrite(std::uint8_t function) {
    return function == 5 || function == 6 || function == 15 || function == 16;
}

std::vector<std::uint8_t> packBits(std::uint8_t function, const std::vector<bool>& bits) {
    const auto count = static_cast<std::uint8_t>((bits.size() + 7) / 8);
    std::vector<std::uint8_t> out(2u + count, 0);
    out[0] = function;
    out[1] = count;
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (bits[i]) out[2 + i / 8] = static_cast<std::uint8_t>(out[2 + i / 8] | (1u << (i % 8)));
    return out;
}

}  // namespace

void appendCrc(std::vector<std::uint8_t>& frame) {
    std::uint16_t crc = modbus::modbusCrc16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

bool crcValid(std::span<const std::uint8_t> frame) {
    if (frame.size() < 3) return false;
    std::uint16_t crc = modbus::modbusCrc16(frame.data(), frame.size() - 2);
    return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

RtuSlave::RtuSlave(DriveImage& image, SlaveSettings& settings, FaultSettings& faults,
                   SlaveStats& stats, RequestLog& log, Waiter waiter, std::uint32_t seed)
    : image_(image),
      settings_(settings),
      faults_(faults),
      stats_(stats),
      log_(log),
      waiter_(std::move(waiter)),
      random_(seed) {}

bool RtuSlave::rejectsWrite(std::span<const std::uint8_t> frame) {
    const unsigned epoch = faults_.rejectEpoch.load(relaxed);
    const bool repeat =
        epoch == rejectedEpoch_ && !rejectedFrame_.empty() &&
        std::equal(frame.begin(), frame.end(), rejectedFrame_.begin(), rejectedFrame_.end());
    if (repeat || faults_.takeRejectedWrite()) {
        rejectedFrame_.assign(frame.begin(), frame.end());
        rejectedEpoch_ = epoch;
        return true;
    }
    rejectedFrame_.clear();
    return false;
}

std::optional<std::vector<std::uint8_t>> RtuSlave::handle(std::span<const std::uint8_t> frame,
                                                          FrameArrival arrival) {
    stats_.frames.fetch_add(1, relaxed);
    log_.record(frame, arrival);
    // Station, function code and CRC at least.
    if (frame.size() < 4 || !crcValid(frame)) {
        stats_.ignored.fetch_add(1, relaxed);
        return std::nullopt;
    }
    const std::uint8_t station = frame[0];
    const bool broadcast = station == 0;
    if (!broadcast && station != settings_.station.load(relaxed)) {
        stats_.ignored.fetch_add(1, relaxed);
        return std::nullopt;
    }
    const unsigned percent = faults_.noAnswerPercent.load(relaxed);
    if (percent != 0 && std::uniform_int_distribution<unsigned>(0, 99)(random_) < percent) {
        stats_.dropped.fetch_add(1, relaxed);
        return std::nullopt;
    }
    const auto pdu = frame.subspan(1, frame.size() - 3);
    const std::uint8_t function = pdu[0];

    std::vector<std::uint8_t> reply;
    const unsigned forced = faults_.exceptionCode.load(relaxed);
    if (forced != 0) {
        reply = {static_cast<std::uint8_t>(function | 0x80), static_cast<std::uint8_t>(forced)};
    } else if (isWrite(function) && rejectsWrite(frame)) {
        reply = {static_cast<std::uint8_t>(function | 0x80),
                 static_cast<std::uint8_t>(faults_.rejectCode.load(relaxed))};
    } else if (broadcast && !isWrite(function)) {
        return std::nullopt;
    } else {
        reply = execute(pdu);
        if (reply.empty()) return std::nullopt;  // stopping during a store
    }
    if (broadcast) return std::nullopt;

    if (reply[0] & 0x80) stats_.exceptions.fetch_add(1, relaxed);
    std::vector<std::uint8_t> response{station};
    response.insert(response.end(), reply.begin(), reply.end());
    appendCrc(response);
    stats_.answered.fetch_add(1, relaxed);
    return response;
}

std::vector<std::uint8_t> RtuSlave::eepromCommand(std::uint16_t value,
                                                  std::vector<std::uint8_t> echo) {
    const std::uint8_t function = echo[0];
    ModbusError error = ModbusError::None;
    if (value == DriveImage::kStoreAll) {
        // A real drive answers only when the whole EEPROM is written.
        if (!waiter_(std::chrono::milliseconds(settings_.eepromMs.load(relaxed)))) return {};
        error = image_.storeAll();
    } else if (value < image_.parameterCount()) {
        error = image_.storeParameter(value);
    } else {
        error = ModbusError::IllegalValue;
    }
    return error == ModbusError::None ? echo : exception(function, error);
}

std::vector<std::uint8_t> RtuSlave::execute(std::span<const std::uint8_t> pdu) {
    const std::uint8_t function = pdu[0];
    const auto data = pdu.subspan(1);
    switch (function) {
        case 1:
        case 2: {
            if (data.size() != 4) return exception(function, ModbusError::IllegalValue);
            const std::uint16_t start = word(data, 0);
            const std::uint16_t count = word(data, 2);
            if (count < 1 || count > 2000) return exception(function, ModbusError::IllegalValue);
            std::vector<bool> bits;
            ModbusError e = function == 1 ? image_.readCoils(start, count, bits)
                                          : image_.readInputs(start, count, bits);
            if (e != ModbusError::None) return exception(function, e);
            return packBits(function, bits);
        }
        case 3: {
            if (data.size() != 4) return exception(function, ModbusError::IllegalValue);
            const std::uint16_t start = word(data, 0);
            const std::uint16_t count = word(data, 2);
            if (count < 1 || count > 125) return exception(function, ModbusError::IllegalValue);
            std::vector<std::uint16_t> values;
            if (settings_.pattern.load(relaxed)) {
                for (unsigned i = 0; i < count; ++i)
                    values.push_back(static_cast<std::uint16_t>(start + i));
            } else {
                ModbusError e =
                    image_.readRegisters(start, count, settings_.strict.load(relaxed), values);
                if (e != ModbusError::None) return exception(function, e);
            }
            std::vector<std::uint8_t> out{function, static_cast<std::uint8_t>(count * 2)};
            for (std::uint16_t v : values) putWord(out, v);
            return out;
        }
        case 5: {
            if (data.size() != 4) return exception(function, ModbusError::IllegalValue);
            const std::uint16_t value = word(data, 2);
            if (value != 0xFF00 && value != 0x0000)
                return exception(function, ModbusError::IllegalValue);
            ModbusError e = image_.writeCoils(word(data, 0), {value == 0xFF00});
            if (e != ModbusError::None) return exception(function, e);
            return {pdu.begin(), pdu.end()};
        }
        case 6: {
            if (data.size() != 4) return exception(function, ModbusError::IllegalValue);
            const std::uint16_t address = word(data, 0);
            const std::uint16_t value = word(data, 2);
            std::vector<std::uint8_t> echo(pdu.begin(), pdu.end());
            if (address == DriveImage::kEepromCommandRegister) return eepromCommand(value, echo);
            const std::uint16_t values[1] = {value};
            ModbusError e = image_.writeRegisters(address, values);
            return e == ModbusError::None ? echo : exception(function, e);
        }
        case 15: {
            if (data.size() < 5) return exception(function, ModbusError::IllegalValue);
            const std::uint16_t start = word(data, 0);
            const std::uint16_t count = word(data, 2);
            const std::size_t bytes = data[4];
            if (count < 1 || count > 1968 || bytes != (count + 7u) / 8 || data.size() != 5 + bytes)
                return exception(function, ModbusError::IllegalValue);
            std::vector<bool> states(count);
            for (std::size_t i = 0; i < count; ++i) states[i] = (data[5 + i / 8] >> (i % 8)) & 1u;
            ModbusError e = image_.writeCoils(start, states);
            if (e != ModbusError::None) return exception(function, e);
            return {pdu.begin(), pdu.begin() + 5};
        }
        case 16: {
            if (data.size() < 5) return exception(function, ModbusError::IllegalValue);
            const std::uint16_t start = word(data, 0);
            const std::uint16_t count = word(data, 2);
            const std::size_t bytes = data[4];
            if (count < 1 || count > 123 || bytes != count * 2u || data.size() != 5 + bytes)
                return exception(function, ModbusError::IllegalValue);
            std::vector<std::uint8_t> echo(pdu.begin(), pdu.begin() + 5);
            if (static_cast<std::uint32_t>(start) + count > DriveImage::kEepromCommandRegister) {
                // The command register takes one command at a time.
                if (start == DriveImage::kEepromCommandRegister && count == 1)
                    return eepromCommand(word(data, 5), echo);
                return exception(function, ModbusError::IllegalAddress);
            }
            std::vector<std::uint16_t> values(count);
            for (std::size_t i = 0; i < count; ++i) values[i] = word(data, 5 + 2 * i);
            ModbusError e = image_.writeRegisters(start, values);
            return e == ModbusError::None ? echo : exception(function, e);
        }
        default:
            return exception(function, ModbusError::IllegalFunction);
    }
}

}  // namespace sim
