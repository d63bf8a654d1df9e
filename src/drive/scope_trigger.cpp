#include "drive/scope_trigger.h"

#include <algorithm>
#include <cmath>

namespace drive {

void ScopeTrigger::setup(const TriggerSettings& settings, std::uint64_t spanMicros) {
    settings_ = settings;
    settings_.preTriggerPercent = std::clamp(settings.preTriggerPercent, 0, 100);
    span_ = spanMicros;
    reset();
}

void ScopeTrigger::reset() {
    complete_.reset();
    count_ = 0;
    arm();
}

void ScopeTrigger::arm() {
    pending_.reset();
    previous_.reset();
    armedAt_.reset();
    state_ = settings_.mode == TriggerMode::off ? TriggerState::idle : TriggerState::waiting;
}

void ScopeTrigger::newTrace() {
    previous_.reset();
}

void ScopeTrigger::fire(std::uint64_t at) {
    const std::uint64_t before =
        span_ * static_cast<std::uint64_t>(settings_.preTriggerPercent) / 100;
    TriggerCapture c;
    c.triggerMicros = at;
    c.startMicros = at > before ? at - before : 0;
    c.endMicros = c.startMicros + span_;
    pending_ = c;
    state_ = TriggerState::capturing;
}

void ScopeTrigger::feed(const ScopeSample& sample) {
    if (settings_.mode == TriggerMode::off || state_ == TriggerState::stopped) return;
    const std::uint64_t t = sample.timeMicros;
    if (!armedAt_) armedAt_ = t;

    // Any channel's sample moves time on; a capture completes with the first
    // sample at or past its end.
    if (pending_ && t >= pending_->endMicros) {
        complete_ = pending_;
        pending_.reset();
        ++count_;
        if (settings_.mode == TriggerMode::single) {
            state_ = TriggerState::stopped;
            return;
        }
        state_ = TriggerState::triggered;
        armedAt_ = t;
        previous_.reset();
    }
    if (sample.channel != settings_.channel) return;

    const double v = static_cast<double>(sample.value);
    if (!pending_ && previous_) {
        const double p = *previous_;
        const double level = settings_.level;
        const bool crossed = settings_.edge == TriggerEdge::rising ? p < level && v >= level
                                                                   : p > level && v <= level;
        if (crossed) fire(t);
    }
    previous_ = v;

    if (settings_.mode == TriggerMode::automatic && !pending_ && t - *armedAt_ > span_)
        state_ = TriggerState::rolling;
}

QuantityUnit quantityUnit(std::u16string_view name) {
    QuantityUnit u;
    while (!name.empty() && name.back() == u' ') name.remove_suffix(1);
    if (name.empty() || name.back() != u')') return u;
    const std::size_t open = name.rfind(u'(');
    if (open == std::u16string_view::npos) return u;
    std::u16string_view inner = name.substr(open + 1, name.size() - open - 2);
    // A leading decimal number is the size of one register unit.
    std::string number;
    std::size_t i = 0;
    while (i < inner.size() && ((inner[i] >= u'0' && inner[i] <= u'9') || inner[i] == u'.'))
        number.push_back(static_cast<char>(inner[i++]));
    if (!number.empty() && number != ".") {
        const double f = std::strtod(number.c_str(), nullptr);
        if (std::isfinite(f) && f > 0.0) {
            u.factor = f;
            inner.remove_prefix(i);
        }
    }
    while (!inner.empty() && inner.front() == u' ') inner.remove_prefix(1);
    u.unit = std::u16string(inner);
    return u;
}

}  // namespace drive
