#include "scan_commands.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "drive/scan.h"
#include "drive_commands.h"
#include "output.h"
#include "platform/port_list.h"
#include "terminal.h"

namespace servoctl {
namespace {

using json = nlohmann::ordered_json;

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onScanInterrupt(int) {
    interrupted.store(true);
}

std::optional<drive::ScanPlan> makePlan(const ScanArgs& a) {
    drive::ScanPlan plan;
    std::string problem;
    const auto usage = [&] {
        printError("usage", problem);
        return std::nullopt;
    };
    if (a.ports.empty()) {
        for (const platform::SerialPortInfo& p : platform::listSerialPorts())
            plan.ports.push_back(p.device);
        if (plan.ports.empty()) {
            problem = "no serial port found on this machine; name them with --ports";
            return usage();
        }
    } else if (auto ports = drive::parsePortList(a.ports, problem)) {
        plan.ports = std::move(*ports);
    } else {
        return usage();
    }
    auto bauds = drive::parseBaudRates(a.bauds, problem);
    if (!bauds) return usage();
    auto parities = drive::parseParities(a.parities, problem);
    if (!parities) return usage();
    const auto stations = drive::parseStationRange(a.stations, problem);
    if (!stations) return usage();
    if (a.timeoutMs == 0 || a.timeoutMs > 65535) {
        problem = "--timeout must be 1 to 65535 ms";
        return usage();
    }
    plan.baudRates = std::move(*bauds);
    plan.parities = std::move(*parities);
    plan.firstStation = stations->first;
    plan.lastStation = stations->second;
    plan.timeoutMs = static_cast<std::uint16_t>(a.timeoutMs);
    return plan;
}

// Runs the plan with a progress line on a terminal; Ctrl-C ends it early with
// what was found.
drive::ScanReport scan(const drive::ScanPlan& plan) {
    const bool showProgress = standardErrorIsTerminal();
    std::size_t width = 0;
    drive::ScanControl control;
    control.progress = [&](std::size_t done, std::size_t total) {
        if (!showProgress || (done % 16 != 0 && done != total)) return;
        const std::string line =
            "scan: " + std::to_string(done) + " of " + std::to_string(total) + " probes";
        width = std::max(width, line.size());
        std::cerr << '\r' << line << std::flush;
    };
    control.found = [&](const drive::ScanHit& h) {
        if (!showProgress) return;
        std::cerr << '\r' << std::string(width, ' ') << '\r' << "found station " << h.station
                  << " on " << h.port << " at " << drive::lineText(h) << '\n';
    };
    control.cancelled = [] { return interrupted.load(); };
    interrupted.store(false);
    const auto previousHandler = std::signal(SIGINT, onScanInterrupt);
    drive::ScanReport report = drive::scanBus(plan, control);
    std::signal(SIGINT, previousHandler == SIG_ERR ? SIG_DFL : previousHandler);
    if (showProgress && width > 0) std::cerr << '\r' << std::string(width, ' ') << '\r';
    for (const drive::ScanPortFailure& f : report.portFailures) printError(f.port, f.reason);
    if (report.cancelled) std::cerr << "servoctl: scan: stopped by Ctrl-C\n";
    return report;
}

json hitJson(const drive::ScanHit& h) {
    json j{{"port", h.port},
           {"baud", h.baudRate},
           {"parity", std::string(1, drive::parityLetter(h.parity))},
           {"station", h.station}};
    j["register0"] = h.register0 ? json(*h.register0) : json(nullptr);
    if (!h.register0) j["exception"] = h.exceptionCode;
    return j;
}

std::string register0Text(const drive::ScanHit& h) {
    return h.register0 ? std::to_string(*h.register0)
                       : "(exception " + std::to_string(h.exceptionCode) + ")";
}

}  // namespace

int runScan(const ScanArgs& a, bool asJson) {
    const std::optional<drive::ScanPlan> plan = makePlan(a);
    if (!plan) return kExitUsage;
    const drive::ScanReport report = scan(*plan);
    if (asJson) {
        json drives = json::array();
        for (const drive::ScanHit& h : report.hits) drives.push_back(hitJson(h));
        json failures = json::array();
        for (const drive::ScanPortFailure& f : report.portFailures)
            failures.push_back({{"port", f.port}, {"reason", f.reason}});
        std::cout << json{{"ok", !report.hits.empty()},
                          {"drives", drives},
                          {"port_failures", failures},
                          {"probes", report.probes},
                          {"interrupted", report.cancelled}}
                         .dump(2)
                  << '\n';
    } else {
        for (const drive::ScanHit& h : report.hits)
            std::cout << h.port << "  " << h.baudRate << "  " << drive::parityLetter(h.parity)
                      << "  station " << h.station << "  register 0 = " << register0Text(h) << '\n';
        if (report.hits.empty()) std::cerr << "servoctl: scan: no drive answered\n";
    }
    return report.hits.empty() ? kExitInvalid : kExitOk;
}

int runBackupAll(const ScanArgs& a, bool asJson) {
    std::error_code ec;
    if (!std::filesystem::is_directory(a.dir, ec)) {
        printError(a.dir, "is not a folder");
        return kExitUsage;
    }
    const std::optional<drive::ScanPlan> plan = makePlan(a);
    if (!plan) return kExitUsage;
    const drive::ScanReport report = scan(*plan);
    if (report.cancelled) return kExitInvalid;
    json results = json::array();
    std::size_t saved = 0;
    std::vector<std::string> names;
    for (const drive::ScanHit& h : report.hits) {
        // The same port and station at a second line setting (only a line
        // that carries no speed, as a gateway, can answer so) gets its own file.
        std::string name = drive::backupFileName(h);
        if (std::find(names.begin(), names.end(), name) != names.end())
            name.insert(name.size() - 4,
                        "-" + std::to_string(h.baudRate) + drive::parityLetter(h.parity));
        names.push_back(name);
        const std::filesystem::path file = std::filesystem::path(a.dir) / name;
        json entry = hitJson(h);
        entry["file"] = file.string();
        std::string failure;
        std::size_t parameters = 0;
        if (!a.force && std::filesystem::exists(file, ec)) {
            failure = "exists; --force replaces it";
        } else {
            LinkOptions link;
            link.port = h.port;
            link.baud = h.baudRate;
            link.parity = h.parity;
            link.station = h.station;
            DriveArgs args;
            args.defs = a.defs;
            args.file = file.string();
            if (const drive::Result r = backupDrive(link, args, parameters); !r)
                failure = r.cause();
        }
        entry["ok"] = failure.empty();
        if (failure.empty()) {
            ++saved;
            entry["parameters"] = parameters;
            if (!asJson)
                std::cout << "backup " << file.string() << ": " << parameters
                          << " parameters of station " << h.station << " on " << h.port << " ("
                          << drive::lineText(h) << ")\n";
        } else {
            entry["error"] = failure;
            printError(file.string(), failure);
        }
        results.push_back(std::move(entry));
    }
    const bool ok = !report.hits.empty() && saved == report.hits.size();
    if (asJson)
        std::cout << json{{"ok", ok}, {"drives", results}, {"backed_up", saved}}.dump(2) << '\n';
    else if (report.hits.empty())
        std::cerr << "servoctl: backup-all: no drive answered, nothing written\n";
    else
        std::cout << "backup-all: " << saved << " of " << report.hits.size()
                  << " drives backed up\n";
    return ok ? kExitOk : kExitInvalid;
}

}  // namespace servoctl
