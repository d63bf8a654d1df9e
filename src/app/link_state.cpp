#include "app/link_state.h"

namespace app {

void LinkState::reset() {
    constexpr auto r = std::memory_order_relaxed;
    connected.store(0, r);
    station.store(0, r);
    channel.store(modbus::kNoChannel, r);
    frameType.store(modbus::kFrameRtu, r);
    baudRate.store(115200, r);
    dataBits.store(8, r);
    stopBits.store(0, r);
    parity.store(0, r);
    retries.store(0, r);
    timeoutMs.store(0, r);
    faultCode.store(0, r);
}

bool linkHealthy(const LinkState& link) {
    return link.connected.load(std::memory_order_relaxed) != 0 &&
           link.faultCode.load(std::memory_order_relaxed) == 0;
}

}  // namespace app
