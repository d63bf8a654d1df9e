#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "drive/scope.h"

namespace drive {

enum class TriggerEdge : std::uint8_t { rising, falling };

// off: the plot rolls with the newest samples. automatic: waits for a crossing
// like normal, but rolls again when none came for a whole span. normal: shows
// the last capture and waits for the next. single: one capture, then stops
// until armed again.
enum class TriggerMode : std::uint8_t { off, automatic, normal, single };

enum class TriggerState : std::uint8_t {
    idle,       // mode off
    waiting,    // armed, no crossing yet
    capturing,  // crossed; the part after the trigger point is still coming
    triggered,  // a capture is complete (normal and automatic wait for the next meanwhile)
    rolling,    // automatic: no crossing for a whole span
    stopped,    // single: the capture is complete; arm() takes another
};

struct TriggerSettings {
    int channel = 0;
    TriggerEdge edge = TriggerEdge::rising;
    double level = 0.0;  // raw register units
    int preTriggerPercent = 50;
    TriggerMode mode = TriggerMode::off;
};

// One capture: the trigger instant and the window around it.
struct TriggerCapture {
    std::uint64_t triggerMicros = 0;
    std::uint64_t startMicros = 0;
    std::uint64_t endMicros = 0;
};

// The scope's trigger, fed with the samples in the order they were taken. The
// trigger point is the first sample of the trigger channel at or past the
// level after one before it (a rising edge goes from below the level to at or
// above it), so it lies within one sample of the real crossing. A new trace
// (clear, new period, resume) forgets the previous sample, so that a gap is
// never taken for an edge.
//
// Not thread-safe: the consumer of the samples (the user interface) owns it.
class ScopeTrigger {
  public:
    // Takes the settings and the span shown (nominal period x points), and arms.
    void setup(const TriggerSettings& settings, std::uint64_t spanMicros);
    const TriggerSettings& settings() const { return settings_; }
    std::uint64_t spanMicros() const { return span_; }
    // Waits for the next crossing; the last complete capture stays.
    void arm();
    // Forgets every capture and arms (a clear of the recording).
    void reset();
    // Marks a new trace: the next sample of each channel is not compared with
    // the one before it.
    void newTrace();

    void feed(const ScopeSample& sample);

    TriggerState state() const { return state_; }
    // The last complete capture, if any.
    const std::optional<TriggerCapture>& capture() const { return complete_; }
    // Complete captures since setup or reset.
    std::uint32_t captureCount() const { return count_; }

  private:
    void fire(std::uint64_t at);

    TriggerSettings settings_;
    std::uint64_t span_ = 0;
    TriggerState state_ = TriggerState::idle;
    std::optional<double> previous_;
    std::optional<std::uint64_t> armedAt_;
    std::optional<TriggerCapture> pending_;
    std::optional<TriggerCapture> complete_;
    std::uint32_t count_ = 0;
};

// The unit of a scope quantity, from the parenthesis that ends its name:
// "Torque command (0.1%)" counts 0.1 % per register unit, "Motor speed (rpm)"
// 1 rpm. A name without one gives factor 1 and no unit.
struct QuantityUnit {
    double factor = 1.0;
    std::u16string unit;
};
QuantityUnit quantityUnit(std::u16string_view name);

}  // namespace drive
