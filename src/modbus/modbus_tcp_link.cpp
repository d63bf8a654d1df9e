// Modbus TCP: each request in an MBAP header (transaction id, protocol 0,
// length, unit id), answered in one with the same transaction id.

#include <memory>

#include "modbus/crc.h"
#include "modbus/network_link.h"

namespace modbus {

namespace {

constexpr std::size_t kHeaderSize = 7;  // MBAP header, unit id included
// Unit id and PDU: an RTU frame's station and PDU, at most 256 - 2 bytes.
constexpr std::size_t kMaxUnitAndPdu = 254;

class ModbusTcpLink final : public NetworkLink {
  public:
    explicit ModbusTcpLink(const NetworkPort& where) : NetworkLink(where) {}

  private:
    bool encode(const std::uint8_t* frame, std::size_t count,
                std::vector<std::uint8_t>& out) override {
        // Only RTU requests can be carried: their CRC is replaced by the
        // header (an ASCII request fails this check too).
        if (count < 4 || count - 2 > kMaxUnitAndPdu || modbusCrc16(frame, count) != 0) return false;
        // A new id for every request, retries included: an answer to an
        // earlier attempt is then told from this one's.
        ++transaction_;
        const std::size_t length = count - 2;  // unit id + PDU
        out.assign({static_cast<std::uint8_t>(transaction_ >> 8),
                    static_cast<std::uint8_t>(transaction_ & 0xFF), 0, 0,
                    static_cast<std::uint8_t>(length >> 8),
                    static_cast<std::uint8_t>(length & 0xFF)});
        out.insert(out.end(), frame, frame + length);
        awaiting_ = true;
        return true;
    }

    std::uint64_t deliver(std::uint64_t, bool) override {
        while (raw_.size() >= kHeaderSize) {
            const unsigned id = unsigned{raw_[0]} << 8 | raw_[1];
            const unsigned protocol = unsigned{raw_[2]} << 8 | raw_[3];
            const std::size_t length = std::size_t{raw_[4]} << 8 | raw_[5];
            if (protocol != 0 || length < 2 || length > kMaxUnitAndPdu) {
                // Nothing tells where the next header begins.
                breakStream("the gateway sent a malformed MBAP header");
                return 0;
            }
            if (raw_.size() < 6 + length) break;
            const auto begin = raw_.begin() + 6;
            const auto end = begin + static_cast<std::ptrdiff_t>(length);
            if (awaiting_ && id == transaction_) {
                // One answer per request: a repeat of it is dropped like any
                // other answer that nothing waits for.
                awaiting_ = false;
                ready_.insert(ready_.end(), begin, end);
                const std::uint16_t crc =
                    modbusCrc16(ready_.data() + ready_.size() - length, length);
                ready_.push_back(static_cast<std::uint8_t>(crc & 0xFF));
                ready_.push_back(static_cast<std::uint8_t>(crc >> 8));
            } else {
                drop(6 + length);
            }
            raw_.erase(raw_.begin(), end);
        }
        return 0;
    }

    std::uint16_t transaction_ = 0;
    bool awaiting_ = false;
};

}  // namespace

std::unique_ptr<NetworkLink> makeModbusTcpLink(const NetworkPort& where) {
    return std::make_unique<ModbusTcpLink>(where);
}

}  // namespace modbus
