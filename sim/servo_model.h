#pragma once
// A small servo axis: the speed follows a repeating command profile through a
// first-order lag, the position integrates the speed, torque and current follow
// the acceleration and friction with some noise, the bus voltage rises while
// braking and the temperature follows the current slowly. An active alarm
// disables the axis: the command drops to 0 and the motor runs down.
#include <cstdint>
#include <random>
#include <string_view>

namespace sim {

// The quantities that the model can deliver at a status or scope register.
enum class Quantity : std::uint8_t {
    None,  // not recognised: reads 0
    Alarm,
    SpeedFeedback,     // rpm
    SpeedCommand,      // rpm
    PositionFeedback,  // encoder counts, wrapping
    PositionCommand,   // command counts, wrapping
    FollowingError,    // counts
    Torque,            // % of rated torque
    TorqueCommand,     // % of rated torque, without noise
    Current,           // A, RMS
    PhaseCurrentU,     // A, instantaneous
    PhaseCurrentV,     // A, instantaneous
    BusVoltage,        // V
    Temperature,       // degrees Celsius
    LoadRate,          // % (slow average of the torque)
    RegenLoad,         // % (slow average of the braking power)
    AnalogInput1,      // V, the speed reference: 10 V = 6000 rpm
    AnalogInput2,      // V, unconnected: noise around 0
    InertiaRatio,      // %, a fixed identification result
    InputBits,         // the discrete inputs as a bit mask
    OutputBits,        // the coils as a bit mask
};

// Picks the quantity from a status item's or scope quantity's name by keyword
// (English or Chinese, case ignored); see sim/README.md for the rule.
Quantity classifyQuantity(std::string_view utf8Name);
// The register unit a name states in parentheses, as register counts per
// physical unit: "Output torque (0.1%)" gives 10; no such unit gives 1.
double scaleFromName(std::string_view utf8Name);
std::string_view quantityName(Quantity quantity);
// Whether the quantity is a counter that wraps at the register width rather
// than saturating.
bool wrapsAround(Quantity quantity);

class ServoModel {
  public:
    static constexpr double kCountsPerRevolution = 10000.0;
    static constexpr double kRatedCurrent = 2.8;  // A RMS at 100 % torque
    static constexpr int kPolePairs = 5;
    static constexpr double kCyclePeriod = 10.0;  // s

    explicit ServoModel(std::uint32_t seed = 1);

    // Speed command of the profile at a time in the cycle (rpm).
    static double profileSpeed(double seconds);

    // Runs the model forward to a time in seconds (from the model's start) in
    // fixed steps; earlier times change nothing.
    void advanceTo(double seconds);
    void setEnabled(bool enabled) { enabled_ = enabled; }
    bool enabled() const { return enabled_; }

    // The physical value of a quantity now; noisy quantities get fresh noise.
    // Alarm, InputBits and OutputBits belong to the drive image and give 0.
    double value(Quantity quantity);

    // Discrete inputs X0..X9 in bits 0..9 (see sim/README.md).
    std::uint16_t inputBits(bool alarmActive) const;

  private:
    double noise(double sigma);

    std::mt19937 random_;
    bool enabled_ = true;
    double time_ = 0.0;
    double command_ = 0.0;          // rpm
    double speed_ = 0.0;            // rpm
    double torque_ = 0.0;           // %
    double positionCommand_ = 0.0;  // counts
    double position_ = 0.0;         // counts
    double temperature_ = 32.0;
    double load_ = 0.0;
    double regen_ = 0.0;
};

}  // namespace sim
