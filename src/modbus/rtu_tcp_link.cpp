// RTU frames over a TCP stream, as a serial-to-Ethernet gateway passes them
// through: the bytes are the serial line's, CRC included.

#include <memory>

#include "modbus/frame.h"
#include "modbus/network_link.h"

namespace modbus {

namespace {

class RtuTcpLink final : public NetworkLink {
  public:
    explicit RtuTcpLink(const NetworkPort& where) : NetworkLink(where) {}

  private:
    bool encode(const std::uint8_t* frame, std::size_t count,
                std::vector<std::uint8_t>& out) override {
        out.assign(frame, frame + count);
        return true;
    }

    std::uint64_t deliver(std::uint64_t now, bool ending) override {
        if (raw_.empty()) {
            heldSince_ = 0;
            return 0;
        }
        const std::size_t length = rtuFrameLength(raw_.data(), raw_.size());
        // Held back only while the first bytes tell a length not reached yet
        // (or are too few to tell it); a frame of unknown kind goes on at once
        // and the master's silence rule ends it.
        const bool incomplete = length != 0 ? raw_.size() < length : raw_.size() < 3;
        if (incomplete && !ending) {
            if (heldSince_ == 0) heldSince_ = now;
            if (now - heldSince_ < kHoldMicros) return heldSince_ + kHoldMicros;
        }
        ready_.insert(ready_.end(), raw_.begin(), raw_.end());
        raw_.clear();
        heldSince_ = 0;
        return 0;
    }

    std::uint64_t heldSince_ = 0;
};

}  // namespace

std::unique_ptr<NetworkLink> makeRtuTcpLink(const NetworkPort& where) {
    return std::make_unique<RtuTcpLink>(where);
}

}  // namespace modbus
