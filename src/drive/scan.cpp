#include "drive/scan.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <set>

#include "modbus/master.h"
#include "modbus/request.h"
#include "modbus/result.h"
#include "platform/clock.h"
#include "platform/serial.h"

namespace drive {
namespace {

constexpr std::uint8_t kChannel = 0;
constexpr std::uint32_t kRegisterSelector =
    modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, modbus::kFrameRtu);
constexpr std::uint32_t kProgramBaudRates[] = {4800, 9600, 19200, 38400, 57600, 115200};

// "COM3" (any case) names the program's mapped port; anything else is a device.
std::string deviceOf(const std::string& port) {
    if (port.size() < 4 || port.size() > 6) return port;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(port[i])) != "COM"[i]) return port;
    unsigned n = 0;
    for (std::size_t i = 3; i < port.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(port[i]))) return port;
        n = n * 10 + static_cast<unsigned>(port[i] - '0');
    }
    return n == 0 ? port : platform::comDevicePath(n);
}

struct ProbeResult {
    modbus::Outcome outcome = modbus::Outcome::noAnswer;
    std::uint16_t value = 0;
    std::uint8_t exceptionCode = 0;
    std::int32_t answerStation = -1;  // of a wrong-station answer
    bool dropped = false;             // bytes nobody asked for were dropped before the request
};

ProbeResult probe(modbus::ModbusMaster& master, std::int32_t station,
                  const modbus::RequestTiming& timing) {
    const std::uint64_t droppedBefore = master.discardedBytes(kChannel);
    std::uint8_t bytes[2] = {};
    modbus::RunReport report;
    master.readItems(kChannel, station, 0, bytes, 2, kRegisterSelector, timing, &report);
    ProbeResult p;
    p.outcome = report.outcome;
    p.exceptionCode = report.exceptionCode;
    p.value = static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
    // The run is over and this thread owns the master: its frame area holds
    // the answer that named another station.
    if (report.outcome == modbus::Outcome::wrongStation) {
        const modbus::ModbusTransaction& tx = master.channel(kChannel).transaction;
        if (tx.frameLength >= 1) p.answerStation = tx.frame[0];
    }
    p.dropped = master.discardedBytes(kChannel) != droppedBefore;
    return p;
}

bool answered(const ProbeResult& p) {
    return p.outcome == modbus::Outcome::ok || p.outcome == modbus::Outcome::exception;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> splitList(std::string_view text) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t comma = text.find(',');
        parts.push_back(trim(text.substr(0, comma)));
        if (comma == std::string_view::npos) return parts;
        text.remove_prefix(comma + 1);
    }
}

std::optional<long long> number(std::string_view s) {
    long long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
    return v;
}

}  // namespace

std::size_t ScanPlan::probeCount() const {
    if (lastStation < firstStation) return 0;
    return ports.size() * baudRates.size() * parities.size() *
           static_cast<std::size_t>(lastStation - firstStation + 1);
}

ScanReport scanBus(const ScanPlan& plan, const ScanControl& control) {
    ScanReport report;
    const std::size_t total = plan.probeCount();
    if (total == 0) return report;
    const std::size_t stations = static_cast<std::size_t>(plan.lastStation - plan.firstStation + 1);
    std::size_t done = 0;
    const auto advance = [&](std::size_t n) {
        done += n;
        if (control.progress) control.progress(done, total);
    };
    const auto stop = [&] {
        if (control.cancelled && control.cancelled()) report.cancelled = true;
        return report.cancelled;
    };
    const auto hit = [&](const std::string& port, std::uint32_t baud, std::uint8_t parity,
                         std::int32_t station, const ProbeResult& p) {
        ScanHit h{port, baud, parity, station, std::nullopt, p.exceptionCode};
        if (p.outcome == modbus::Outcome::ok) h.register0 = p.value;
        report.hits.push_back(h);
        if (control.found) control.found(report.hits.back());
    };

    auto master = std::make_unique<modbus::ModbusMaster>();
    master->resetMaster();
    // Consecutive probes address different stations whenever the range holds
    // more than one: the last of a pass and the first of the next differ too.
    const modbus::RequestTiming quick{plan.timeoutMs, 0, plan.lastStation > plan.firstStation};
    // A second look gives a slow drive time, and keeps the guard silence.
    const modbus::RequestTiming second{
        static_cast<std::uint16_t>(std::clamp(plan.timeoutMs * 4, 100, 0xFFFF)), 1, false};

    for (const std::string& port : plan.ports) {
        const std::string device = deviceOf(port);
        bool usable = true;
        for (const std::uint32_t baud : plan.baudRates) {
            for (const std::uint8_t parity : plan.parities) {
                if (stop()) return report;
                if (!usable) {
                    advance(stations);
                    continue;
                }
                const std::uint8_t opened =
                    master->openSerialChannelAt(kChannel, device, baud, 8, 0, parity);
                if (opened != modbus::kSuccess) {
                    std::string why = master->portError(kChannel);
                    if (why.empty()) why = "cannot open " + device;
                    // A port that is missing or held elsewhere stays so for
                    // every setting; one that refuses a setting may take others.
                    usable = opened != modbus::kPortUnavailable;
                    if (!usable)
                        report.portFailures.push_back({port, why});
                    else
                        report.portFailures.push_back(
                            {port, std::to_string(baud) + " bit/s, parity " + parityLetter(parity) +
                                       ": " + why});
                    advance(stations);
                    continue;
                }
                std::set<std::int32_t> found;
                std::set<std::int32_t> suspects;
                // Stations asked lately, with the time of the request.
                std::vector<std::pair<std::int32_t, std::uint64_t>> recent;
                for (std::int32_t station = plan.firstStation; station <= plan.lastStation;
                     ++station) {
                    if (stop()) {
                        master->closeChannel(kChannel);
                        return report;
                    }
                    const std::uint64_t sentAt = platform::monotonicMicros();
                    const ProbeResult p = probe(*master, station, quick);
                    ++report.probes;
                    advance(1);
                    // Bytes dropped before this request: a late answer of a
                    // station asked lately, as late as a second look waits.
                    if (p.dropped)
                        for (const auto& [asked, at] : recent)
                            if (sentAt - at <= std::uint64_t{second.responseTimeoutMs} * 1000)
                                suspects.insert(asked);
                    std::erase_if(recent, [&](const auto& r) {
                        return sentAt - r.second > std::uint64_t{second.responseTimeoutMs} * 1000;
                    });
                    recent.emplace_back(station, sentAt);
                    if (answered(p)) {
                        found.insert(station);
                        hit(port, baud, parity, station, p);
                        continue;
                    }
                    if (p.outcome == modbus::Outcome::noAnswer) continue;
                    if (p.outcome == modbus::Outcome::portFailure ||
                        p.outcome == modbus::Outcome::channelUnavailable) {
                        report.portFailures.push_back({port, "the port failed while scanning: " +
                                                                 master->portError(kChannel)});
                        usable = false;
                        break;
                    }
                    // A late answer names the station it came from; a garbled
                    // one may have hidden this station's own answer.
                    if (p.answerStation >= plan.firstStation && p.answerStation <= plan.lastStation)
                        suspects.insert(p.answerStation);
                    suspects.insert(station);
                }
                // The pass's last stations were asked without a guard: an
                // answer of theirs as late as a second look waits may still
                // be on its way, and no later probe would see it.
                if (usable && !recent.empty() &&
                    master->awaitLateAnswers(kChannel, recent.back().second,
                                             std::uint64_t{second.responseTimeoutMs} * 1000) > 0)
                    for (const auto& asked : recent) suspects.insert(asked.first);
                for (const std::int32_t station : suspects) {
                    if (!usable || found.count(station) != 0) continue;
                    if (stop()) {
                        master->closeChannel(kChannel);
                        return report;
                    }
                    // A late answer of the last station of the pass may come
                    // back here: the same request to the same station, so its
                    // content is this probe's answer all the same.
                    const ProbeResult p = probe(*master, station, second);
                    ++report.probes;
                    if (answered(p)) {
                        found.insert(station);
                        hit(port, baud, parity, station, p);
                    }
                }
                master->closeChannel(kChannel);
            }
        }
    }
    return report;
}

std::optional<std::vector<std::uint32_t>> parseBaudRates(std::string_view text,
                                                         std::string& problem) {
    std::vector<std::uint32_t> rates;
    for (const std::string_view part : splitList(text)) {
        const std::optional<long long> v = number(part);
        const bool known =
            v && std::find(std::begin(kProgramBaudRates), std::end(kProgramBaudRates), *v) !=
                     std::end(kProgramBaudRates);
        if (!known) {
            problem = "baud rate \"" + std::string(part) +
                      "\" is not one of 4800, 9600, 19200, 38400, 57600, 115200";
            return std::nullopt;
        }
        const auto rate = static_cast<std::uint32_t>(*v);
        if (std::find(rates.begin(), rates.end(), rate) == rates.end()) rates.push_back(rate);
    }
    return rates;
}

std::optional<std::vector<std::uint8_t>> parseParities(std::string_view text,
                                                       std::string& problem) {
    std::vector<std::uint8_t> parities;
    for (const std::string_view part : splitList(text)) {
        std::uint8_t code = 0;
        const char c = part.size() == 1
                           ? static_cast<char>(std::toupper(static_cast<unsigned char>(part[0])))
                           : '\0';
        if (c == 'N')
            code = kParityNone;
        else if (c == 'E')
            code = kParityEven;
        else if (c == 'O')
            code = kParityOdd;
        else {
            problem = "parity \"" + std::string(part) + "\" is not N, E or O";
            return std::nullopt;
        }
        if (std::find(parities.begin(), parities.end(), code) == parities.end())
            parities.push_back(code);
    }
    return parities;
}

std::optional<std::pair<std::int32_t, std::int32_t>> parseStationRange(std::string_view text,
                                                                       std::string& problem) {
    text = trim(text);
    const std::size_t dash = text.find('-');
    const std::optional<long long> first = number(trim(text.substr(0, dash)));
    const std::optional<long long> last =
        dash == std::string_view::npos ? first : number(trim(text.substr(dash + 1)));
    if (!first || !last || *first < kLowestStation || *last > kHighestStation || *first > *last) {
        problem = "stations \"" + std::string(text) +
                  "\" are not a range within 1-247 (e.g. 1-247, 3-10 or 7)";
        return std::nullopt;
    }
    return std::pair{static_cast<std::int32_t>(*first), static_cast<std::int32_t>(*last)};
}

std::optional<std::vector<std::string>> parsePortList(std::string_view text, std::string& problem) {
    std::vector<std::string> ports;
    for (const std::string_view part : splitList(text))
        if (!part.empty() && std::find(ports.begin(), ports.end(), part) == ports.end())
            ports.emplace_back(part);
    if (ports.empty()) {
        problem = "no port to scan";
        return std::nullopt;
    }
    return ports;
}

char parityLetter(std::uint8_t parity) {
    switch (parity) {
        case kParityNone:
            return 'N';
        case kParityOdd:
            return 'O';
        case kParityEven:
            return 'E';
        default:
            return '?';
    }
}

std::string lineText(const ScanHit& hit) {
    return std::to_string(hit.baudRate) + " 8" + parityLetter(hit.parity) + "1";
}

std::string backupFileName(const ScanHit& hit) {
    std::string port = hit.port;
    // A device path by its last part; a network port ("tcp://HOST:PORT") whole,
    // so that its kind stays in the name.
    const std::size_t slash = port.find_last_of("/\\");
    if (port.find("://") == std::string::npos && slash != std::string::npos &&
        slash + 1 < port.size())
        port = port.substr(slash + 1);
    for (char& c : port) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '.' && c != '-' && c != '_') c = '_';
    }
    return port + "-st" + std::to_string(hit.station) + ".dat";
}

}  // namespace drive
