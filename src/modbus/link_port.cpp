#include "modbus/link_port.h"

namespace modbus {

bool LinkPort::open(const std::string& device, std::uint32_t connectTimeoutMs) {
    close();
    path_ = device;
    error_.clear();
    if (!isNetworkPortText(device)) return serial_.open(device);
    const NetworkPortParse parsed = parseNetworkPort(device);
    if (!parsed.ok()) {
        error_ = "cannot open " + device + ": " + parsed.cause;
        return false;
    }
    path_ = parsed.port.text();
    connectTimeoutMs_ = connectTimeoutMs;
    network_ = NetworkLink::create(parsed.port);
    if (network_->connect(connectTimeoutMs)) return true;
    error_ = network_->lastError();
    network_.reset();
    return false;
}

bool LinkPort::configure(const platform::SerialLineSettings& settings) {
    return network_ != nullptr || serial_.configure(settings);
}

bool LinkPort::setTimeouts(const platform::SerialTimeouts& timeouts) {
    return network_ != nullptr || serial_.setTimeouts(timeouts);
}

bool LinkPort::purge() {
    if (network_ == nullptr) return serial_.purge();
    network_->purge();
    return true;
}

void LinkPort::close() {
    network_.reset();
    serial_.close();
}

bool LinkPort::isOpen() const {
    return network_ != nullptr || serial_.isOpen();
}

std::size_t LinkPort::bytesWaiting() {
    return network_ != nullptr ? network_->bytesWaiting() : serial_.bytesWaiting();
}

std::size_t LinkPort::read(std::uint8_t* buffer, std::size_t capacity) {
    return network_ != nullptr ? network_->read(buffer, capacity) : serial_.read(buffer, capacity);
}

bool LinkPort::write(const std::uint8_t* data, std::size_t count) {
    return network_ != nullptr ? network_->write(data, count) : serial_.write(data, count);
}

bool LinkPort::waitReadable(std::uint64_t timeoutMicros) {
    return network_ != nullptr ? network_->waitReadable(timeoutMicros)
                               : serial_.waitReadable(timeoutMicros);
}

bool LinkPort::connectionLost() const {
    return network_ != nullptr && (network_->ended() || !network_->isOpen());
}

bool LinkPort::reconnect() {
    return network_ != nullptr && network_->connect(connectTimeoutMs_);
}

const std::string& LinkPort::lastError() const {
    if (!error_.empty()) return error_;
    return network_ != nullptr ? network_->lastError() : serial_.lastError();
}

}  // namespace modbus
