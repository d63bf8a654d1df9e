#pragma once
#include <atomic>
#include <cstdint>

#include "modbus/channel.h"

namespace app {

// The one shared record of the drive link. The connection page writes it on
// connect and disconnect; the poll loop and every page read it. Each field is
// a word of its own, read and written whole with relaxed loads and stores: a
// reader may see a field change in the middle of what it does, never half a
// value.
struct LinkState {
    std::atomic<std::int32_t> connected{0};                 // 1 while a serial link is open
    std::atomic<std::int32_t> station{0};                   // 1 to 64 while connected
    std::atomic<std::uint8_t> channel{modbus::kNoChannel};  // 0 to 5 = COM1 to COM6
    std::atomic<std::uint8_t> frameType{modbus::kFrameRtu};
    std::atomic<std::uint32_t> baudRate{115200};
    std::atomic<std::uint8_t> dataBits{8};
    std::atomic<std::uint8_t> stopBits{0};  // 0 = one stop bit
    std::atomic<std::uint8_t> parity{0};    // 0 = none
    // The link's normal timing, to which operations that need a longer
    // time-out restore the channel.
    std::atomic<std::uint8_t> retries{0};
    std::atomic<std::uint16_t> timeoutMs{0};
    // 0 when the poll loop's last exchange succeeded, else its access result
    // code; a fresh connection starts at 3 so that the loop probes first.
    std::atomic<std::uint8_t> faultCode{0};

    // Every field back to its start value.
    void reset();
};

// True when the drive may be used: connected and no fault flagged.
bool linkHealthy(const LinkState& link);

}  // namespace app
