#include "servo_model.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>

namespace sim {

namespace {

constexpr double kStep = 0.001;        // s
constexpr double kSpeedLag = 0.015;    // s, speed loop time constant
constexpr double kThermalLag = 60.0;   // s
constexpr double kLoadLag = 1.0;       // s
constexpr double kMaxCatchUp = 20.0;   // s simulated at most per advance
constexpr double kAmbient = 32.0;      // degrees Celsius
constexpr double kBusNominal = 311.0;  // V, rectified 220 V mains

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool hasAny(const std::string& text, std::initializer_list<std::string_view> words) {
    return std::any_of(words.begin(), words.end(),
                       [&](std::string_view w) { return text.find(w) != std::string::npos; });
}

}  // namespace

Quantity classifyQuantity(std::string_view utf8Name) {
    const std::string n = lower(utf8Name);
    const bool speed = hasAny(n, {"speed", "velocity", "速度", "转速"});
    const bool position = hasAny(n, {"position", "pulse", "encoder", "位置", "脉冲", "编码器"});
    const bool command = hasAny(n, {"command", "cmd", "reference", "指令", "给定"});
    const bool analog =
        (n.size() > 2 && n[0] == 'a' && n[1] == 'i' && n[2] >= '0' && n[2] <= '9') ||
        hasAny(n, {"analog", "模拟"});
    if (hasAny(n, {"alarm", "fault", "报警", "故障"})) return Quantity::Alarm;
    if (analog)
        return n.find('1') != std::string::npos ? Quantity::AnalogInput1 : Quantity::AnalogInput2;
    if (hasAny(n, {"inertia", "惯量"})) return Quantity::InertiaRatio;
    if (hasAny(n, {"regen", "再生"})) return Quantity::RegenLoad;
    if (hasAny(n, {"following", "deviation", "偏差", "误差"}) ||
        (position && n.find("error") != std::string::npos))
        return Quantity::FollowingError;
    if (speed && command) return Quantity::SpeedCommand;
    if (position && command) return Quantity::PositionCommand;
    if (speed) return Quantity::SpeedFeedback;
    if (position) return Quantity::PositionFeedback;
    if (hasAny(n, {"torque", "转矩", "力矩"}))
        return command ? Quantity::TorqueCommand : Quantity::Torque;
    if (hasAny(n, {"phase u", "u phase", "u-phase", "u相"})) return Quantity::PhaseCurrentU;
    if (hasAny(n, {"phase v", "v phase", "v-phase", "v相"})) return Quantity::PhaseCurrentV;
    if (hasAny(n, {"current", "电流"})) return Quantity::Current;
    if (hasAny(n, {"voltage", "bus", "电压"})) return Quantity::BusVoltage;
    if (hasAny(n, {"temperature", "temp", "温度"})) return Quantity::Temperature;
    if (hasAny(n, {"load", "负载"})) return Quantity::LoadRate;
    if (hasAny(n, {"input", "输入"})) return Quantity::InputBits;
    if (hasAny(n, {"output", "输出"})) return Quantity::OutputBits;
    return Quantity::None;
}

double scaleFromName(std::string_view utf8Name) {
    for (std::size_t open = utf8Name.find('('); open != std::string_view::npos;
         open = utf8Name.find('(', open + 1)) {
        std::size_t i = open + 1;
        while (i < utf8Name.size() && utf8Name[i] == ' ') ++i;
        std::size_t j = i;
        while (j < utf8Name.size() &&
               ((utf8Name[j] >= '0' && utf8Name[j] <= '9') || utf8Name[j] == '.'))
            ++j;
        if (j == i) continue;
        const double unit = std::strtod(std::string(utf8Name.substr(i, j - i)).c_str(), nullptr);
        if (unit > 0.0) return 1.0 / unit;
    }
    return 1.0;
}

std::string_view quantityName(Quantity quantity) {
    static constexpr std::array<std::string_view, 21> names = {"none",
                                                               "alarm",
                                                               "speed",
                                                               "speed-command",
                                                               "position",
                                                               "position-command",
                                                               "following-error",
                                                               "torque",
                                                               "torque-command",
                                                               "current",
                                                               "phase-u-current",
                                                               "phase-v-current",
                                                               "bus-voltage",
                                                               "temperature",
                                                               "load-rate",
                                                               "regen-load",
                                                               "analog-input-1",
                                                               "analog-input-2",
                                                               "inertia-ratio",
                                                               "inputs",
                                                               "outputs"};
    auto i = static_cast<std::size_t>(quantity);
    return i < names.size() ? names[i] : "none";
}

bool wrapsAround(Quantity quantity) {
    return quantity == Quantity::PositionFeedback || quantity == Quantity::PositionCommand ||
           quantity == Quantity::InputBits || quantity == Quantity::OutputBits;
}

ServoModel::ServoModel(std::uint32_t seed) : random_(seed) {}

double ServoModel::profileSpeed(double seconds) {
    double t = std::fmod(seconds, kCyclePeriod);
    if (t < 0) t += kCyclePeriod;
    // A point-to-point move forward and back again (trapezoids of 8.3
    // revolutions), then two sine periods, with pauses in position: the axis
    // returns to its start every cycle.
    auto trapezoid = [](double s) {
        if (s < 0.25) return 1000.0 * s / 0.25;
        if (s < 0.5) return 1000.0;
        if (s < 0.75) return 1000.0 * (0.75 - s) / 0.25;
        return 0.0;
    };
    if (t < 2.0) return trapezoid(t);
    if (t < 4.0) return -trapezoid(t - 2.0);
    if (t < 8.0) return 600.0 * std::sin(2.0 * std::numbers::pi * (t - 4.0) / 2.0);
    return 0.0;
}

void ServoModel::advanceTo(double seconds) {
    if (seconds - time_ > kMaxCatchUp) time_ = seconds - kMaxCatchUp;
    while (time_ + kStep <= seconds) {
        time_ += kStep;
        command_ = enabled_ ? profileSpeed(time_) : 0.0;
        const double previous = speed_;
        speed_ += (command_ - speed_) * kStep / kSpeedLag;
        const double acceleration = (speed_ - previous) / kStep;  // rpm/s
        double friction = std::abs(speed_) > 1.0 ? std::copysign(3.0, speed_) : 0.0;
        torque_ = enabled_ ? acceleration / 100.0 + friction + 0.002 * speed_ : 0.0;
        positionCommand_ += command_ / 60.0 * kCountsPerRevolution * kStep;
        position_ += speed_ / 60.0 * kCountsPerRevolution * kStep;
        const double current = std::abs(torque_) / 100.0 * kRatedCurrent;
        const double heat = kAmbient + 25.0 * (current / kRatedCurrent) * (current / kRatedCurrent);
        temperature_ += (heat - temperature_) * kStep / kThermalLag;
        load_ += (std::abs(torque_) - load_) * kStep / kLoadLag;
        // Braking power against a resistor that takes 30 % of the rated power.
        const double braking = std::max(0.0, -torque_ * speed_) / (100.0 * 3000.0) * 100.0 / 0.3;
        regen_ += (braking - regen_) * kStep / kLoadLag;
    }
}

double ServoModel::noise(double sigma) {
    std::normal_distribution<double> d(0.0, sigma);
    return d(random_);
}

double ServoModel::value(Quantity quantity) {
    switch (quantity) {
        case Quantity::SpeedFeedback:
            return speed_ + (enabled_ ? noise(0.5) : 0.0);
        case Quantity::SpeedCommand:
            return command_;
        case Quantity::PositionFeedback:
            return position_;
        case Quantity::PositionCommand:
            return positionCommand_;
        case Quantity::FollowingError:
            return positionCommand_ - position_;
        case Quantity::Torque:
            return torque_ + (enabled_ ? noise(0.3) : 0.0);
        case Quantity::TorqueCommand:
            return torque_;
        case Quantity::Current:
            return std::max(
                0.0, std::abs(torque_) / 100.0 * kRatedCurrent + (enabled_ ? noise(0.02) : 0.0));
        case Quantity::PhaseCurrentU:
        case Quantity::PhaseCurrentV: {
            // Sinusoidal phase currents at the electrical angle of the rotor.
            const double angle =
                position_ / kCountsPerRevolution * kPolePairs * 2.0 * std::numbers::pi -
                (quantity == Quantity::PhaseCurrentV ? 2.0 * std::numbers::pi / 3.0 : 0.0);
            const double peak = std::numbers::sqrt2 * torque_ / 100.0 * kRatedCurrent;
            return peak * std::sin(angle) + (enabled_ ? noise(0.02) : 0.0);
        }
        case Quantity::RegenLoad:
            return regen_;
        case Quantity::AnalogInput1:
            return command_ / 600.0 + noise(0.005);
        case Quantity::AnalogInput2:
            return noise(0.005);
        case Quantity::InertiaRatio:
            return 250.0;
        case Quantity::BusVoltage: {
            // Braking (torque against the motion) feeds energy back into the bus.
            double regenerated = std::max(0.0, -torque_ * speed_) * 0.001;
            return kBusNominal + std::min(regenerated, 60.0) + noise(0.4);
        }
        case Quantity::Temperature:
            return temperature_;
        case Quantity::LoadRate:
            return load_;
        case Quantity::None:
        case Quantity::Alarm:
        case Quantity::InputBits:
        case Quantity::OutputBits:
            break;
    }
    return 0.0;
}

std::uint16_t ServoModel::inputBits(bool alarmActive) const {
    const double error = positionCommand_ - position_;
    const double turn = std::fmod(std::abs(position_), kCountsPerRevolution);
    const bool bits[10] = {
        !alarmActive,                                                     // X0 servo ready
        std::abs(speed_) < 10.0,                                          // X1 zero speed
        std::abs(command_) > 10.0 && std::abs(speed_ - command_) < 20.0,  // X2 speed reached
        command_ == 0.0 && std::abs(error) < 10.0,                        // X3 in position
        speed_ > 10.0,                                                    // X4 running forward
        speed_<-10.0,                                                     // X5 running reverse
               std::abs(torque_)> 25.0,                                   // X6 torque limit
        alarmActive,                                                      // X7 alarm output
        enabled_ && !alarmActive,                                         // X8 brake released
        turn < 500.0 || turn > kCountsPerRevolution - 500.0,              // X9 index window
    };
    std::uint16_t mask = 0;
    for (int i = 0; i < 10; ++i)
        if (bits[i]) mask = static_cast<std::uint16_t>(mask | (1u << i));
    return mask;
}

}  // namespace sim
