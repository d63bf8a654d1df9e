#include "faults.h"

#include <algorithm>

#include "modbus/crc.h"

namespace sim {

void FaultSettings::clear() {
    noAnswerPercent.store(0, std::memory_order_relaxed);
    delayMs.store(0, std::memory_order_relaxed);
    latePercent.store(0, std::memory_order_relaxed);
    lateMs.store(0, std::memory_order_relaxed);
    badCrc.store(false, std::memory_order_relaxed);
    wrongStation.store(false, std::memory_order_relaxed);
    badCrcPercent.store(0, std::memory_order_relaxed);
    wrongStationPercent.store(0, std::memory_order_relaxed);
    exceptionCode.store(0, std::memory_order_relaxed);
    truncateBytes.store(0, std::memory_order_relaxed);
    garbageBefore.store(0, std::memory_order_relaxed);
    garbageAfter.store(0, std::memory_order_relaxed);
    gapMs.store(0, std::memory_order_relaxed);
    gapAt.store(-1, std::memory_order_relaxed);
    rejectCountdown.store(0, std::memory_order_relaxed);
    rejectEpoch.fetch_add(1, std::memory_order_relaxed);
}

bool FaultSettings::takeRejectedWrite() {
    unsigned n = rejectCountdown.load(std::memory_order_relaxed);
    while (n != 0) {
        if (rejectCountdown.compare_exchange_weak(n, n - 1, std::memory_order_relaxed))
            return n == 1;
    }
    return false;
}

std::vector<std::uint8_t> asciiFromRtu(const std::vector<std::uint8_t>& frame) {
    if (frame.size() < 3) return {};
    const std::size_t body = frame.size() - 2;
    unsigned sum = 0;
    for (std::size_t i = 0; i < body; ++i) sum += frame[i];
    auto lrc = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
    const std::uint16_t crc = modbus::modbusCrc16(frame.data(), body);
    if (frame[body] != (crc & 0xFF) || frame[body + 1] != (crc >> 8)) lrc ^= 0x5A;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::vector<std::uint8_t> out{':'};
    auto put = [&](std::uint8_t b) {
        out.push_back(static_cast<std::uint8_t>(kHex[b >> 4]));
        out.push_back(static_cast<std::uint8_t>(kHex[b & 0x0F]));
    };
    for (std::size_t i = 0; i < body; ++i) put(frame[i]);
    put(lrc);
    out.push_back('\r');
    out.push_back('\n');
    return out;
}

Transmission shapeResponse(std::vector<std::uint8_t> frame, const FaultSettings& faults,
                           std::mt19937& random, bool ascii) {
    constexpr auto relaxed = std::memory_order_relaxed;
    // Drawn only while a rate is set, so that a seed replays the same run.
    auto drawn = [&](const std::atomic<unsigned>& percent) {
        const unsigned p = percent.load(relaxed);
        return p != 0 && std::uniform_int_distribution<unsigned>(0, 99)(random) < p;
    };
    const bool otherStation =
        faults.wrongStation.load(relaxed) || drawn(faults.wrongStationPercent);
    const bool corrupt = faults.badCrc.load(relaxed) || drawn(faults.badCrcPercent);
    if (frame.size() >= 4 && (otherStation || corrupt)) {
        if (corrupt) faults.badCrcSent.fetch_add(1, relaxed);
        // Counted as another station's only when it is a valid frame.
        if (otherStation && !corrupt) faults.wrongStationSent.fetch_add(1, relaxed);
        if (otherStation) {
            // Another station's answer: a valid frame, just not ours.
            frame[0] = static_cast<std::uint8_t>(frame[0] == 247 ? 1 : frame[0] + 1);
            std::uint16_t crc = modbus::modbusCrc16(frame.data(), frame.size() - 2);
            frame[frame.size() - 2] = static_cast<std::uint8_t>(crc & 0xFF);
            frame[frame.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
        }
        if (corrupt) frame[frame.size() - 1] ^= 0x5A;
    }
    if (ascii) frame = asciiFromRtu(frame);
    const std::size_t cut = std::min<std::size_t>(faults.truncateBytes.load(relaxed), frame.size());
    frame.resize(frame.size() - cut);

    Transmission t;
    std::uniform_int_distribution<int> byte(0, 255);
    const unsigned before = faults.garbageBefore.load(relaxed);
    for (unsigned i = 0; i < before; ++i)
        t.bytes.push_back(static_cast<std::uint8_t>(byte(random)));
    const std::size_t frameStart = t.bytes.size();
    t.bytes.insert(t.bytes.end(), frame.begin(), frame.end());
    const unsigned after = faults.garbageAfter.load(relaxed);
    for (unsigned i = 0; i < after; ++i) t.bytes.push_back(static_cast<std::uint8_t>(byte(random)));

    const unsigned gapMs = faults.gapMs.load(relaxed);
    if (gapMs != 0 && !frame.empty()) {
        const int at = faults.gapAt.load(relaxed);
        std::size_t index = at < 0 ? frame.size() / 2 : static_cast<std::size_t>(at);
        index = std::clamp<std::size_t>(index, 1, std::max<std::size_t>(1, frame.size() - 1));
        t.gapAt = frameStart + index;
        t.gap = std::chrono::milliseconds(gapMs);
    }
    t.delay = std::chrono::milliseconds(faults.delayMs.load(relaxed));
    // Drawn only while the fault is on, so that a seed replays the same run.
    const unsigned latePercent = faults.latePercent.load(relaxed);
    if (latePercent != 0 && std::uniform_int_distribution<unsigned>(0, 99)(random) < latePercent)
        t.delay += std::chrono::milliseconds(faults.lateMs.load(relaxed));
    return t;
}

}  // namespace sim
