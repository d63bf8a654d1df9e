#include "drive/scope_export.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <limits>

#include "platform/clock.h"
#include "platform/text.h"

namespace drive {
namespace {

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string number(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.10g", v);
    return buffer;
}

}  // namespace

std::string scopeCsv(std::span<const CsvChannel> channels, std::uint64_t originMicros, int periodMs,
                     const std::string& startText) {
    std::string out = "recording,servo-tool scope\r\nstart," + csvField(startText) +
                      "\r\nperiod_ms," + std::to_string(periodMs) + "\r\n";
    std::vector<std::string> names;
    for (std::size_t k = 0; k < channels.size(); ++k) {
        const CsvChannel& c = channels[k];
        names.push_back(platform::toUtf8(c.name));
        out += "channel," + std::to_string(k + 1) + "," + csvField(names.back()) + "," +
               csvField(platform::toUtf8(c.unit.unit)) + "," + number(c.unit.factor) + "\r\n";
    }
    out += "time_ms";
    for (std::size_t k = 0; k < channels.size(); ++k) {
        const std::string unit = platform::toUtf8(channels[k].unit.unit);
        out += "," + csvField(names[k] + " raw") + "," + csvField(names[k] + " [" + unit + "]");
    }
    out += "\r\n";

    // Merge by instant: channels read in one request share a row.
    std::vector<std::size_t> at(channels.size(), 0);
    for (;;) {
        std::uint64_t t = std::numeric_limits<std::uint64_t>::max();
        for (std::size_t k = 0; k < channels.size(); ++k)
            if (at[k] < channels[k].samples.size())
                t = std::min(t, channels[k].samples[at[k]].timeMicros);
        if (t == std::numeric_limits<std::uint64_t>::max()) break;
        char time[48];
        const std::int64_t rel = static_cast<std::int64_t>(t - originMicros);
        std::snprintf(time, sizeof time, "%s%" PRId64 ".%03d", rel < 0 ? "-" : "",
                      (rel < 0 ? -rel : rel) / 1000,
                      static_cast<int>((rel < 0 ? -rel : rel) % 1000));
        out += time;
        for (std::size_t k = 0; k < channels.size(); ++k) {
            const CsvChannel& c = channels[k];
            if (at[k] < c.samples.size() && c.samples[at[k]].timeMicros == t) {
                const std::int32_t v = c.samples[at[k]++].value;
                out += "," + std::to_string(v) + "," + number(v * c.unit.factor);
            } else {
                out += ",,";
            }
        }
        out += "\r\n";
    }
    return out;
}

std::string wallClockText(std::uint64_t micros) {
    const auto now = std::chrono::system_clock::now();
    const std::uint64_t mono = platform::monotonicMicros();
    const auto then = now - std::chrono::microseconds(mono >= micros ? mono - micros : 0);
    const std::time_t seconds = std::chrono::system_clock::to_time_t(then);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(then.time_since_epoch()).count() %
        1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms));
    return buffer;
}

}  // namespace drive
