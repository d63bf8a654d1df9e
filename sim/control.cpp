#include "control.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

std::vector<std::string_view> split(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
        if (j > i) words.push_back(line.substr(i, j - i));
        i = j;
    }
    return words;
}

// A decimal (optionally negative) or 0x-prefixed hexadecimal integer.
std::optional<std::int64_t> number(std::string_view text) {
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() ||
        value > 0xFFFFFFFFull)
        return std::nullopt;
    return negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
}

std::optional<std::int64_t> numberIn(std::string_view text, std::int64_t lo, std::int64_t hi) {
    auto v = number(text);
    if (!v || *v < lo || *v > hi) return std::nullopt;
    return v;
}

std::optional<bool> onOff(std::string_view text) {
    if (text == "on" || text == "1") return true;
    if (text == "off" || text == "0") return false;
    return std::nullopt;
}

std::string err(std::string_view why) {
    return "ERR " + std::string(why);
}

const char* const kHelp =
    "OK commands: ping | status | stats | station N | strict on|off | eeprom-ms N | "
    "turnaround-us N | pattern on|off | alarm [N] | noanswer on|off|PERCENT | delay MS|off | "
    "late PERCENT MS|off | badcrc on|off|PERCENT | "
    "wrongstation on|off|PERCENT | exception CODE|off | truncate N|off | garbage before|after "
    "N|off | "
    "gap MS [AT]|off | rejectwrite N [CODE]|off | faults off | set reg ADDR VALUE | get reg ADDR | "
    "set param INDEX VALUE | get param INDEX | get eeprom INDEX | set coil N 0|1 | get coil N | "
    "set input N 0|1 | get input N | release reg ADDR|input N|all | log on|off|clear|dump|timing | "
    "quit";

}  // namespace

std::string Controller::execute(std::string_view line) {
    const auto w = split(line);
    if (w.empty()) return err("empty command");
    const std::string_view cmd = w[0];
    const std::size_t n = w.size();

    auto setUnsigned = [&](std::atomic<unsigned>& target, std::int64_t lo, std::int64_t hi,
                           bool offAllowed) -> std::string {
        if (n != 2) return err("usage: " + std::string(cmd) + " VALUE");
        if (offAllowed && w[1] == "off") {
            target.store(0, relaxed);
            return "OK " + std::string(cmd) + " off";
        }
        auto v = numberIn(w[1], lo, hi);
        if (!v) return err("bad value " + std::string(w[1]));
        target.store(static_cast<unsigned>(*v), relaxed);
        return "OK " + std::string(cmd) + " " + std::to_string(*v);
    };
    auto setFlag = [&](std::atomic<bool>& target) -> std::string {
        std::optional<bool> v = n == 2 ? onOff(w[1]) : std::nullopt;
        if (!v) return err("usage: " + std::string(cmd) + " on|off");
        target.store(*v, relaxed);
        return "OK " + std::string(cmd) + (*v ? " on" : " off");
    };

    if (cmd == "ping") return "OK pong";
    if (cmd == "help") return kHelp;
    if (cmd == "quit") {
        quit_ = true;
        return "OK bye";
    }
    if (cmd == "status") {
        return "OK station=" + std::to_string(settings_.station.load(relaxed)) +
               " strict=" + (settings_.strict.load(relaxed) ? "on" : "off") +
               " eeprom-ms=" + std::to_string(settings_.eepromMs.load(relaxed)) +
               " alarm=" + std::to_string(image_.alarm()) +
               " parameters=" + std::to_string(image_.parameterCount());
    }
    if (cmd == "stats") {
        return "OK frames=" + std::to_string(stats_.frames.load(relaxed)) +
               " ignored=" + std::to_string(stats_.ignored.load(relaxed)) +
               " dropped=" + std::to_string(stats_.dropped.load(relaxed)) +
               " answered=" + std::to_string(stats_.answered.load(relaxed)) +
               " exceptions=" + std::to_string(stats_.exceptions.load(relaxed)) +
               " badcrc=" + std::to_string(faults_.badCrcSent.load(relaxed)) +
               " wrongstation=" + std::to_string(faults_.wrongStationSent.load(relaxed));
    }
    if (cmd == "station") return setUnsigned(settings_.station, 1, 247, false);
    if (cmd == "strict") return setFlag(settings_.strict);
    if (cmd == "pattern") return setFlag(settings_.pattern);
    if (cmd == "eeprom-ms") return setUnsigned(settings_.eepromMs, 0, 600000, false);
    if (cmd == "turnaround-us") return setUnsigned(settings_.turnaroundUs, 0, 10'000'000, false);
    if (cmd == "alarm") {
        if (n == 1) return "OK " + std::to_string(image_.alarm());
        auto v = n == 2 ? numberIn(w[1], INT32_MIN, INT32_MAX) : std::nullopt;
        if (!v) return err("usage: alarm [CODE]");
        image_.setAlarm(static_cast<std::int32_t>(*v));
        return "OK alarm " + std::to_string(*v);
    }
    if (cmd == "noanswer") {
        if (n == 2 && onOff(w[1])) {
            faults_.noAnswerPercent.store(*onOff(w[1]) ? 100 : 0, relaxed);
            return "OK noanswer " + std::to_string(faults_.noAnswerPercent.load(relaxed)) + "%";
        }
        std::string_view p = n == 2 ? w[1] : std::string_view{};
        if (!p.empty() && p.back() == '%') p.remove_suffix(1);
        auto v = numberIn(p, 0, 100);
        if (!v) return err("usage: noanswer on|off|PERCENT");
        faults_.noAnswerPercent.store(static_cast<unsigned>(*v), relaxed);
        return "OK noanswer " + std::to_string(*v) + "%";
    }
    if (cmd == "delay") return setUnsigned(faults_.delayMs, 0, 600000, true);
    if (cmd == "late") {
        if (n == 2 && w[1] == "off") {
            faults_.latePercent.store(0, relaxed);
            return "OK late off";
        }
        auto percent = n == 3 ? numberIn(w[1], 0, 100) : std::nullopt;
        auto ms = n == 3 ? numberIn(w[2], 0, 600000) : std::nullopt;
        if (!percent || !ms) return err("usage: late PERCENT MS|off");
        faults_.lateMs.store(static_cast<unsigned>(*ms), relaxed);
        faults_.latePercent.store(static_cast<unsigned>(*percent), relaxed);
        return "OK late " + std::to_string(*percent) + "% " + std::to_string(*ms) + " ms";
    }
    if (cmd == "badcrc" || cmd == "wrongstation") {
        // on|off, or a percentage of the answers.
        auto& flag = cmd == "badcrc" ? faults_.badCrc : faults_.wrongStation;
        auto& rate = cmd == "badcrc" ? faults_.badCrcPercent : faults_.wrongStationPercent;
        if (n == 2 && w[1] != "on" && w[1] != "off" && w[1] != "1" && w[1] != "0") {
            auto v = numberIn(w[1], 0, 100);
            if (!v) return err("usage: " + std::string(cmd) + " on|off|PERCENT");
            flag.store(false, relaxed);
            rate.store(static_cast<unsigned>(*v), relaxed);
            return "OK " + std::string(cmd) + " " + std::to_string(*v) + "%";
        }
        rate.store(0, relaxed);
        return setFlag(flag);
    }
    if (cmd == "exception") return setUnsigned(faults_.exceptionCode, 1, 255, true);
    if (cmd == "truncate") return setUnsigned(faults_.truncateBytes, 1, 300, true);
    if (cmd == "garbage") {
        if (n != 3 || (w[1] != "before" && w[1] != "after"))
            return err("usage: garbage before|after N|off");
        auto& target = w[1] == "before" ? faults_.garbageBefore : faults_.garbageAfter;
        std::optional<std::int64_t> v = w[2] == "off" ? 0 : numberIn(w[2], 0, 256);
        if (!v) return err("bad count " + std::string(w[2]));
        target.store(static_cast<unsigned>(*v), relaxed);
        return "OK garbage " + std::string(w[1]) + " " + std::to_string(*v);
    }
    if (cmd == "gap") {
        if (n == 2 && w[1] == "off") {
            faults_.gapMs.store(0, relaxed);
            return "OK gap off";
        }
        auto ms = n >= 2 && n <= 3 ? numberIn(w[1], 0, 600000) : std::nullopt;
        auto at = n == 3 ? numberIn(w[2], 1, 300) : std::optional<std::int64_t>(-1);
        if (!ms || !at) return err("usage: gap MS [AT]|off");
        faults_.gapAt.store(static_cast<int>(*at), relaxed);
        faults_.gapMs.store(static_cast<unsigned>(*ms), relaxed);
        return "OK gap " + std::to_string(*ms) +
               (*at < 0 ? " middle" : " at " + std::to_string(*at));
    }
    if (cmd == "rejectwrite") {
        if (n == 2 && w[1] == "off") {
            faults_.rejectCountdown.store(0, relaxed);
            faults_.rejectEpoch.fetch_add(1, relaxed);
            return "OK rejectwrite off";
        }
        auto nth = n >= 2 && n <= 3 ? numberIn(w[1], 1, 1'000'000) : std::nullopt;
        auto code = n == 3 ? numberIn(w[2], 1, 255) : std::optional<std::int64_t>(4);
        if (!nth || !code) return err("usage: rejectwrite N [CODE]|off");
        faults_.rejectCode.store(static_cast<unsigned>(*code), relaxed);
        faults_.rejectCountdown.store(static_cast<unsigned>(*nth), relaxed);
        faults_.rejectEpoch.fetch_add(1, relaxed);
        return "OK rejectwrite " + std::to_string(*nth) + " code " + std::to_string(*code);
    }
    if (cmd == "faults") {
        if (n != 2 || w[1] != "off") return err("usage: faults off");
        faults_.clear();
        return "OK faults off";
    }
    if (cmd == "log") {
        if (n != 2) return err("usage: log on|off|clear|dump|timing");
        if (w[1] == "on") {
            log_.clear();
            log_.enable(true);
            return "OK log on";
        }
        if (w[1] == "off") {
            log_.enable(false);
            return "OK log off";
        }
        if (w[1] == "clear") {
            log_.clear();
            return "OK log clear";
        }
        if (w[1] == "dump") {
            auto frames = log_.frames();
            std::string out = "OK " + std::to_string(frames.size());
            for (const auto& f : frames) out += " " + f;
            return out;
        }
        if (w[1] == "timing") {
            auto arrivals = log_.arrivals();
            std::string out = "OK " + std::to_string(arrivals.size());
            for (const auto& a : arrivals)
                out +=
                    " " + std::to_string(a.firstByteMicros) + ":" + std::to_string(a.silenceMicros);
            return out;
        }
        return err("usage: log on|off|clear|dump|timing");
    }
    if (cmd == "set" || cmd == "get" || cmd == "release") {
        const std::string_view what = n >= 2 ? w[1] : std::string_view{};
        if (cmd == "release") {
            if (n == 2 && what == "all") {
                image_.releaseAll();
                return "OK release all";
            }
            if (n == 3 && what == "reg") {
                auto a = numberIn(w[2], 0, 65535);
                if (!a) return err("bad register " + std::string(w[2]));
                image_.releaseRegister(static_cast<std::uint16_t>(*a));
                return "OK release reg " + std::to_string(*a);
            }
            if (n == 3 && what == "input") {
                auto i = numberIn(w[2], 0, DriveImage::kInputCount - 1);
                if (!i) return err("bad input " + std::string(w[2]));
                image_.forceInput(static_cast<unsigned>(*i), std::nullopt);
                return "OK release input " + std::to_string(*i);
            }
            return err("usage: release reg ADDR|input N|all");
        }
        const bool set = cmd == "set";
        if (n != (set ? 4u : 3u))
            return err("usage: " + std::string(cmd) + " reg|param|coil|input ...");
        if (what == "reg") {
            auto a = numberIn(w[2], 0, 65535);
            if (!a) return err("bad register " + std::string(w[2]));
            auto address = static_cast<std::uint16_t>(*a);
            if (!set) return "OK " + std::to_string(image_.registerValue(address));
            auto v = numberIn(w[3], -32768, 65535);
            if (!v) return err("bad register value " + std::string(w[3]));
            image_.setRegister(address, static_cast<std::uint16_t>(*v & 0xFFFF));
            return "OK reg " + std::to_string(*a) + " " + std::to_string(*v & 0xFFFF);
        }
        if (what == "param" || what == "eeprom") {
            auto i = numberIn(w[2], 0, 65535);
            if (!i || static_cast<std::size_t>(*i) >= image_.parameterCount())
                return err("no parameter " + std::string(w[2]));
            const auto index = static_cast<std::size_t>(*i);
            const ParameterSpec& entry = image_.layout().parameters[index];
            auto show = [&](std::uint32_t raw) {
                if (entry.type == ValueType::Int16S)
                    return std::to_string(static_cast<std::int16_t>(raw));
                if (entry.type == ValueType::Int32S)
                    return std::to_string(static_cast<std::int32_t>(raw));
                return std::to_string(raw);
            };
            if (what == "eeprom") {
                if (set) return err("the EEPROM is written by the EEPROM command register");
                return "OK " + show(*image_.storedValue(index));
            }
            if (!set) return "OK " + show(*image_.parameter(index));
            auto v = numberIn(w[3], INT32_MIN, UINT32_MAX);
            if (!v) return err("bad value " + std::string(w[3]));
            image_.setParameter(index, static_cast<std::uint32_t>(*v));
            return "OK param " + std::to_string(index) + " " + show(*image_.parameter(index));
        }
        if (what == "coil" || what == "input") {
            const bool isCoil = what == "coil";
            const unsigned count = isCoil ? DriveImage::kCoilCount : DriveImage::kInputCount;
            auto i = numberIn(w[2], 0, count - 1);
            if (!i) return err("no " + std::string(what) + " " + std::string(w[2]));
            const auto index = static_cast<unsigned>(*i);
            if (!set) {
                auto v = isCoil ? image_.coil(index) : image_.input(index);
                return std::string("OK ") + (*v ? "1" : "0");
            }
            auto v = onOff(w[3]);
            if (!v) return err("bad state " + std::string(w[3]) + " (0 or 1)");
            if (isCoil)
                image_.setCoil(index, *v);
            else
                image_.forceInput(index, *v);
            return "OK " + std::string(what) + " " + std::to_string(index) + (*v ? " 1" : " 0");
        }
        return err("unknown item " + std::string(what));
    }
    return err("unknown command " + std::string(cmd) + " (try help)");
}

}  // namespace sim
