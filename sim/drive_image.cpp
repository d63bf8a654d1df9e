#include "drive_image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace sim {

namespace {

std::uint32_t clampRaw(double raw, ValueType type, bool wraps) {
    if (!std::isfinite(raw)) raw = 0.0;
    if (wraps) {
        // Counters keep their low bits, like a hardware counter register.
        double r = std::fmod(std::round(raw), 4294967296.0);
        if (r < 0) r += 4294967296.0;
        auto v = static_cast<std::uint32_t>(r);
        return isWide(type) ? v : (v & 0xFFFFu);
    }
    double lo = 0.0;
    double hi = 0.0;
    switch (type) {
        case ValueType::Int16S:
            lo = -32768.0, hi = 32767.0;
            break;
        case ValueType::Int16U:
            lo = 0.0, hi = 65535.0;
            break;
        case ValueType::Int32S:
            lo = -2147483648.0, hi = 2147483647.0;
            break;
        case ValueType::Int32U:
            lo = 0.0, hi = 4294967295.0;
            break;
    }
    double r = std::clamp(std::round(raw), lo, hi);
    if (r < 0) return static_cast<std::uint32_t>(static_cast<std::int64_t>(r));
    std::uint32_t v = static_cast<std::uint32_t>(r);
    return isWide(type) ? v : (v & 0xFFFFu);
}

std::uint16_t halfOf(std::uint32_t value, unsigned half) {
    return static_cast<std::uint16_t>(half ? value >> 16 : value & 0xFFFFu);
}

}  // namespace

DriveImage::DriveImage(DriveLayout layout, std::uint32_t seed)
    : layout_(std::move(layout)),
      slots_(65536),
      model_(seed),
      start_(std::chrono::steady_clock::now()) {
    for (std::size_t i = 0; i < layout_.parameters.size(); ++i) {
        const auto& p = layout_.parameters[i];
        values_.push_back(p.normalise(p.factory));
        const std::string what = "parameter " + p.number;
        for (unsigned h = 0; h < p.registers(); ++h)
            claim(static_cast<std::uint16_t>(p.address + h),
                  Slot{SlotKind::Parameter, static_cast<std::uint8_t>(h),
                       static_cast<std::uint32_t>(i)},
                  what);
    }
    auto claimQuantities = [&](const std::vector<QuantitySpec>& specs, SlotKind kind,
                               std::vector<Quantity>& quantities, const char* what) {
        for (std::size_t i = 0; i < specs.size(); ++i) {
            const auto& q = specs[i];
            quantities.push_back(classifyQuantity(q.name));
            for (unsigned h = 0; h < (isWide(q.type) ? 2u : 1u); ++h)
                claim(static_cast<std::uint16_t>(q.address + h),
                      Slot{kind, static_cast<std::uint8_t>(h), static_cast<std::uint32_t>(i)},
                      std::string(what) + " " + q.name);
        }
    };
    claimQuantities(layout_.status, SlotKind::Status, statusQuantity_, "status item");
    claimQuantities(layout_.scope, SlotKind::Scope, scopeQuantity_, "scope quantity");
    // The alarm code sits in status item 8 whatever its name says.
    if (statusQuantity_.size() > kAlarmItem) statusQuantity_[kAlarmItem] = Quantity::Alarm;
}

void DriveImage::claim(std::uint16_t address, Slot slot, const std::string& what) {
    Slot& current = slots_[address];
    if (current.kind == SlotKind::None) {
        current = slot;
        return;
    }
    // Status and scope lists commonly name the same register (the same
    // quantity); only a clash with a parameter is worth a warning.
    if (current.kind == SlotKind::Parameter || slot.kind == SlotKind::Parameter)
        warnings_.push_back("register " + std::to_string(address) + " of " + what +
                            " is already taken; the first definition wins");
}

std::vector<Quantity> DriveImage::statusQuantities() const {
    return statusQuantity_;
}
std::vector<Quantity> DriveImage::scopeQuantities() const {
    return scopeQuantity_;
}

void DriveImage::advanceModel() {
    model_.setEnabled(alarm_ == 0);
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
    model_.advanceTo(elapsed.count());
}

std::uint16_t DriveImage::inputMaskLocked() {
    std::uint16_t mask = model_.inputBits(alarm_ != 0);
    for (unsigned i = 0; i < kInputCount; ++i) {
        if (!forcedInputs_[i]) continue;
        if (*forcedInputs_[i])
            mask = static_cast<std::uint16_t>(mask | (1u << i));
        else
            mask = static_cast<std::uint16_t>(mask & ~(1u << i));
    }
    return mask;
}

std::uint32_t DriveImage::sampleQuantity(SlotKind kind, std::uint32_t index) {
    const bool status = kind == SlotKind::Status;
    const QuantitySpec& entry = status ? layout_.status[index] : layout_.scope[index];
    const Quantity quantity = status ? statusQuantity_[index] : scopeQuantity_[index];
    std::uint32_t raw = 0;
    switch (quantity) {
        case Quantity::Alarm:
            raw = static_cast<std::uint32_t>(alarm_);
            break;
        case Quantity::InputBits:
            raw = inputMaskLocked();
            break;
        case Quantity::OutputBits:
            for (unsigned i = 0; i < kCoilCount; ++i)
                if (coils_[i]) raw |= 1u << i;
            break;
        default:
            return clampRaw(model_.value(quantity) * entry.scale, entry.type,
                            wrapsAround(quantity));
    }
    return isWide(entry.type) ? raw : (raw & 0xFFFFu);
}

std::uint16_t DriveImage::readLocked(std::uint16_t address) {
    const Slot& slot = slots_[address];
    if (slot.kind == SlotKind::Parameter) return halfOf(values_[slot.index], slot.half);
    if (auto it = overrides_.find(address); it != overrides_.end()) return it->second;
    if (slot.kind == SlotKind::None) return 0;
    return halfOf(sampleQuantity(slot.kind, slot.index), slot.half);
}

ModbusError DriveImage::readRegisters(std::uint16_t start, std::uint16_t count, bool strict,
                                      std::vector<std::uint16_t>& out) {
    std::lock_guard lock(mutex_);
    out.clear();
    const std::uint32_t end = static_cast<std::uint32_t>(start) + count;
    if (end > 65536u) return ModbusError::IllegalAddress;
    if (strict) {
        for (std::uint32_t a = start; a < end; ++a)
            if (slots_[a].kind == SlotKind::None && a != kEepromCommandRegister &&
                !overrides_.contains(static_cast<std::uint16_t>(a)))
                return ModbusError::IllegalAddress;
    }
    advanceModel();
    // One sample per quantity per request, so that the halves of a 32-bit
    // quantity belong together.
    std::map<std::pair<SlotKind, std::uint32_t>, std::uint32_t> samples;
    for (std::uint32_t a = start; a < end; ++a) {
        const auto address = static_cast<std::uint16_t>(a);
        const Slot& slot = slots_[a];
        const bool modelled = slot.kind == SlotKind::Status || slot.kind == SlotKind::Scope;
        if (!modelled || overrides_.contains(address)) {
            out.push_back(readLocked(address));
            continue;
        }
        auto key = std::make_pair(slot.kind, slot.index);
        auto it = samples.find(key);
        if (it == samples.end())
            it = samples.emplace(key, sampleQuantity(slot.kind, slot.index)).first;
        out.push_back(halfOf(it->second, slot.half));
    }
    return ModbusError::None;
}

ModbusError DriveImage::writeRegisters(std::uint16_t start, std::span<const std::uint16_t> values) {
    std::lock_guard lock(mutex_);
    if (static_cast<std::uint32_t>(start) + values.size() > 65536u)
        return ModbusError::IllegalAddress;
    // Collect the new value of every parameter touched, then check, then apply.
    std::map<std::uint32_t, std::uint32_t> pending;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Slot& slot = slots_[start + i];
        if (slot.kind != SlotKind::Parameter || !layout_.parameters[slot.index].writable)
            return ModbusError::IllegalAddress;
        auto [it, fresh] = pending.try_emplace(slot.index, values_[slot.index]);
        std::uint32_t v = it->second;
        if (slot.half == 0)
            v = (v & 0xFFFF0000u) | values[i];
        else
            v = (v & 0x0000FFFFu) | (static_cast<std::uint32_t>(values[i]) << 16);
        it->second = v;
    }
    for (const auto& [index, value] : pending) {
        const auto& p = layout_.parameters[index];
        if (!p.inRange(p.normalise(value))) return ModbusError::IllegalValue;
    }
    for (const auto& [index, value] : pending)
        values_[index] = layout_.parameters[index].normalise(value);
    return ModbusError::None;
}

ModbusError DriveImage::readInputs(std::uint16_t start, std::uint16_t count,
                                   std::vector<bool>& out) {
    std::lock_guard lock(mutex_);
    out.clear();
    if (static_cast<std::uint32_t>(start) + count > kInputCount) return ModbusError::IllegalAddress;
    advanceModel();
    const std::uint16_t mask = inputMaskLocked();
    for (unsigned i = start; i < start + count; ++i) out.push_back(((mask >> i) & 1u) != 0);
    return ModbusError::None;
}

ModbusError DriveImage::readCoils(std::uint16_t start, std::uint16_t count,
                                  std::vector<bool>& out) {
    std::lock_guard lock(mutex_);
    out.clear();
    if (static_cast<std::uint32_t>(start) + count > kCoilCount) return ModbusError::IllegalAddress;
    for (unsigned i = start; i < start + count; ++i) out.push_back(coils_[i]);
    return ModbusError::None;
}

ModbusError DriveImage::writeCoils(std::uint16_t start, const std::vector<bool>& states) {
    std::lock_guard lock(mutex_);
    if (static_cast<std::uint32_t>(start) + states.size() > kCoilCount)
        return ModbusError::IllegalAddress;
    for (std::size_t i = 0; i < states.size(); ++i) coils_[start + i] = states[i];
    return ModbusError::None;
}

bool DriveImage::attachEeprom(const std::filesystem::path& path, std::string& error) {
    // A store must not fail for want of the folder long after start-up.
    const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        error = "no folder " + folder.string() + " for the EEPROM file";
        return false;
    }
    auto stored = readEepromFile(path, error);
    if (!stored) return false;
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < layout_.parameters.size(); ++i) {
        const auto& p = layout_.parameters[i];
        auto it = stored->find(p.address);
        if (it != stored->end()) values_[i] = p.normalise(it->second);
    }
    eeprom_ = std::move(*stored);
    eepromPath_ = path;
    return true;
}

ModbusError DriveImage::storeLocked(const std::vector<std::size_t>& indices) {
    EepromValues next = eeprom_;
    // An EEPROM image holds every parameter: the ones never stored keep their
    // factory values.
    for (std::size_t i = 0; i < layout_.parameters.size(); ++i)
        next.try_emplace(layout_.parameters[i].address, layout_.parameters[i].factory);
    for (std::size_t i : indices) next[layout_.parameters[i].address] = values_[i];
    if (eepromPath_) {
        std::string error;
        if (!writeEepromFile(*eepromPath_, next, error)) {
            // The master sees exception 04; the person running the simulator
            // learns why.
            std::fprintf(stderr, "servo-sim: EEPROM store failed: %s\n", error.c_str());
            return ModbusError::DeviceFailure;
        }
    }
    eeprom_ = std::move(next);
    return ModbusError::None;
}

ModbusError DriveImage::storeParameter(std::size_t index) {
    std::lock_guard lock(mutex_);
    if (index >= layout_.parameters.size()) return ModbusError::IllegalValue;
    return storeLocked({index});
}

ModbusError DriveImage::storeAll() {
    std::lock_guard lock(mutex_);
    std::vector<std::size_t> all(layout_.parameters.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    return storeLocked(all);
}

std::optional<std::uint32_t> DriveImage::storedValue(std::size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= layout_.parameters.size()) return std::nullopt;
    const auto& p = layout_.parameters[index];
    auto it = eeprom_.find(p.address);
    return it != eeprom_.end() ? p.normalise(it->second) : p.factory;
}

void DriveImage::setAlarm(std::int32_t code) {
    std::lock_guard lock(mutex_);
    alarm_ = code;
}

std::int32_t DriveImage::alarm() const {
    std::lock_guard lock(mutex_);
    return alarm_;
}

void DriveImage::setRegister(std::uint16_t address, std::uint16_t value) {
    std::lock_guard lock(mutex_);
    const Slot& slot = slots_[address];
    if (slot.kind == SlotKind::Parameter) {
        std::uint32_t& v = values_[slot.index];
        v = slot.half ? (v & 0xFFFFu) | (static_cast<std::uint32_t>(value) << 16)
                      : (v & 0xFFFF0000u) | value;
        v = layout_.parameters[slot.index].normalise(v);
        return;
    }
    overrides_[address] = value;
}

std::uint16_t DriveImage::registerValue(std::uint16_t address) {
    std::lock_guard lock(mutex_);
    advanceModel();
    return readLocked(address);
}

void DriveImage::releaseRegister(std::uint16_t address) {
    std::lock_guard lock(mutex_);
    overrides_.erase(address);
}

bool DriveImage::setParameter(std::size_t index, std::uint32_t value) {
    std::lock_guard lock(mutex_);
    if (index >= values_.size()) return false;
    values_[index] = layout_.parameters[index].normalise(value);
    return true;
}

std::optional<std::uint32_t> DriveImage::parameter(std::size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= values_.size()) return std::nullopt;
    return values_[index];
}

bool DriveImage::setCoil(unsigned index, bool on) {
    std::lock_guard lock(mutex_);
    if (index >= kCoilCount) return false;
    coils_[index] = on;
    return true;
}

std::optional<bool> DriveImage::coil(unsigned index) const {
    std::lock_guard lock(mutex_);
    if (index >= kCoilCount) return std::nullopt;
    return coils_[index];
}

bool DriveImage::forceInput(unsigned index, std::optional<bool> state) {
    std::lock_guard lock(mutex_);
    if (index >= kInputCount) return false;
    forcedInputs_[index] = state;
    return true;
}

std::optional<bool> DriveImage::input(unsigned index) {
    std::lock_guard lock(mutex_);
    if (index >= kInputCount) return std::nullopt;
    advanceModel();
    return ((inputMaskLocked() >> index) & 1u) != 0;
}

void DriveImage::releaseAll() {
    std::lock_guard lock(mutex_);
    overrides_.clear();
    forcedInputs_ = {};
}

}  // namespace sim
