#include "drive/status.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/text.h"

namespace drive {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

}  // namespace

StatusBlock statusBlock(std::span<const data::StatusItem> items) {
    if (items.empty()) return {};
    // Lowest and highest register over all items, not just the first and the
    // last, so that a file out of register order cannot place an item outside
    // the block; a 32-bit item takes its high word too.
    std::uint32_t first = 0xFFFF;
    std::uint32_t end = 0;
    for (const data::StatusItem& item : items) {
        first = std::min<std::uint32_t>(first, item.address);
        end = std::max<std::uint32_t>(
            end, item.address + (data::typeSize(item.typeCode) == 4 ? 2u : 1u));
    }
    end = std::min<std::uint32_t>(end, 0x10000);
    return {static_cast<std::uint16_t>(first), (end - first) * 2};
}

std::u16string statusValueText(const data::StatusItem& item) {
    const std::uint32_t value = item.value.load(kRelaxed);
    // A divisor of 0 would show "inf"; such an item shows its plain value.
    if (item.hasDivisor == 0 || item.divisor == 0.0f || !std::isfinite(item.divisor))
        return data::valueToText(item.typeCode, value);
    // The value read as its type says, so that an unsigned 16-bit value above
    // 32767 and a 32-bit value keep their magnitude when divided.
    double raw = 0.0;
    switch (item.typeCode) {
        case data::TypeCode::Int16U:
            raw = static_cast<std::uint16_t>(value);
            break;
        case data::TypeCode::Int32S:
            raw = static_cast<std::int32_t>(value);
            break;
        case data::TypeCode::Int32U:
            raw = value;
            break;
        default:
            raw = static_cast<std::int16_t>(value);
            break;
    }
    // Room for any double in fixed notation.
    std::array<char, 400> text{};
    std::snprintf(text.data(), text.size(), "%.3f", raw / static_cast<double>(item.divisor));
    return platform::fromUtf8(text.data());
}

StatusService::StatusService(DriveSession& session, data::StatusTable& items)
    : session_(session), items_(items) {}

int StatusService::inputState(int index) const {
    if (index < 0 || index >= kInputCount) return 0;
    return inputs_[static_cast<std::size_t>(index)].load(kRelaxed);
}

int StatusService::outputState(int index) const {
    if (index < 0 || index >= kOutputCount) return 0;
    return outputs_[static_cast<std::size_t>(index)].load(kRelaxed);
}

AlarmNotice StatusService::alarmNotice() const {
    const std::uint64_t word = alarmNotice_.load(std::memory_order_acquire);
    return {static_cast<std::uint32_t>(word >> 32),
            static_cast<std::int32_t>(static_cast<std::uint32_t>(word))};
}

Freshness StatusService::judge(std::uint64_t generation, std::uint64_t epoch) const {
    if (generation == 0 || !session_.connected() || generation != session_.generation())
        return Freshness::none;
    return session_.healthy() && epoch == session_.epoch() ? Freshness::live : Freshness::stale;
}

Freshness StatusService::freshness() const {
    const std::uint64_t epoch = readEpoch_.load(std::memory_order_acquire);
    return judge(readGeneration_.load(std::memory_order_acquire), epoch);
}

Freshness StatusService::alarmFreshness() const {
    const std::uint64_t epoch = alarmEpoch_.load(std::memory_order_acquire);
    return judge(alarmGeneration_.load(std::memory_order_acquire), epoch);
}

void StatusService::noteAlarm(std::uint64_t generation) {
    const auto alarm = static_cast<std::int32_t>(items_[kAlarmItem].value.load(kRelaxed));
    // The first read of a connection is news even when the value is the
    // one the previous connection ended with.
    const bool first = alarmGeneration_.load(kRelaxed) != generation;
    if (first || alarm != lastAlarm_.load(kRelaxed)) {
        lastAlarm_.store(alarm, std::memory_order_release);
        const std::uint64_t sequence = (alarmNotice_.load(kRelaxed) >> 32) + 1;
        alarmNotice_.store((sequence << 32) | static_cast<std::uint32_t>(alarm),
                           std::memory_order_release);
    }
}

Result StatusService::pollAlarm() {
    if (items_.size() <= kAlarmItem) return {};
    const std::uint64_t generation = session_.generation();
    const std::uint64_t epoch = session_.epoch();
    data::StatusItem& item = items_[kAlarmItem];
    std::array<std::uint8_t, 4> bytes{};
    const std::size_t size = data::typeSize(item.typeCode) == 4 ? 4 : 2;
    const Result r = session_.readRegisters(item.address, std::span(bytes).first(size));
    if (!r) return r;
    data::bytesToValue(item.typeCode, item.value, std::span<const std::uint8_t>(bytes));
    noteAlarm(generation);
    alarmGeneration_.store(generation, std::memory_order_release);
    alarmEpoch_.store(epoch, std::memory_order_release);
    return r;
}

Result StatusService::poll() {
    // Taken before the first request: a fault or reconnect during the poll
    // leaves what it read stale.
    const std::uint64_t generation = session_.generation();
    const std::uint64_t epoch = session_.epoch();
    const StatusBlock block = statusBlock(items_.span());
    if (block.byteCount > 0) {
        std::vector<std::uint8_t> bytes(block.byteCount);
        for (std::uint32_t offset = 0; offset < block.byteCount; offset += kPieceBytes) {
            const std::uint32_t size = std::min(kPieceBytes, block.byteCount - offset);
            const auto address = static_cast<std::uint16_t>(block.firstAddress + offset / 2);
            const Result r = session_.readRegisters(
                address, std::span<std::uint8_t>(bytes).subspan(offset, size));
            if (!r) return r;
        }
        const std::span<const std::uint8_t> image(bytes);
        for (data::StatusItem& item : items_) {
            const std::size_t offset = (item.address - block.firstAddress) * std::size_t{2};
            data::bytesToValue(item.typeCode, item.value, image.subspan(offset));
        }
    }

    std::array<std::uint8_t, kInputCount> inputs{};
    Result r = session_.readInputs(0, inputs);
    if (!r) return r;
    for (std::size_t i = 0; i < inputs.size(); ++i) inputs_[i].store(inputs[i], kRelaxed);

    std::array<std::uint8_t, kOutputCount> outputs{};
    r = session_.readCoils(0, outputs);
    if (r)
        for (std::size_t i = 0; i < outputs.size(); ++i) outputs_[i].store(outputs[i], kRelaxed);

    // Without a ninth status item there is no alarm value, and the last one
    // stays; only a change (or a new connection) makes a new notice.
    if (items_.size() > kAlarmItem) {
        noteAlarm(generation);
        alarmGeneration_.store(generation, std::memory_order_release);
        alarmEpoch_.store(epoch, std::memory_order_release);
    }
    if (r) {
        readGeneration_.store(generation, std::memory_order_release);
        readEpoch_.store(epoch, std::memory_order_release);
    }
    return r;
}

Result StatusService::writeOutput(int output, bool on) {
    if (output < 0 || output >= kOutputCount)
        return Result::failure(Error::badValue, "no output Y" + std::to_string(output));
    const auto n = static_cast<std::size_t>(output);
    const std::array<std::uint8_t, 1> state{static_cast<std::uint8_t>(on ? 1 : 0)};
    Result r = session_.writeCoils(static_cast<std::uint16_t>(output), state);
    // A refused state is put back by the next poll from the state last read.
    if (r) outputs_[n].store(state[0], kRelaxed);
    return r;
}

}  // namespace drive
