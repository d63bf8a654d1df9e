#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "drive/scope.h"
#include "drive/scope_trigger.h"

namespace drive {

// One channel of a recording to export: its quantity and its samples in
// time order (the samples' channel field is not used).
struct CsvChannel {
    std::u16string name;
    QuantityUnit unit;
    std::vector<ScopeSample> samples;
};

// The recording as CSV text (UTF-8, CRLF line ends): a header of key lines,
//   recording,servo-tool scope
//   start,<startText>            (the wall-clock instant of time 0)
//   period_ms,<periodMs>
//   channel,<n>,<name>,<unit>,<units per register unit>
// then the column line and one row per sampling instant:
//   time_ms,<name> raw,<name> [<unit>],...
// Time is in milliseconds since originMicros with microsecond digits; a channel
// that has no sample at a row's instant leaves its two cells empty. Names are
// quoted as CSV needs.
std::string scopeCsv(std::span<const CsvChannel> channels, std::uint64_t originMicros, int periodMs,
                     const std::string& startText);

// "YYYY-MM-DD hh:mm:ss.mmm" local time of the monotonic instant `micros`, with
// the clocks read now.
std::string wallClockText(std::uint64_t micros);

}  // namespace drive
