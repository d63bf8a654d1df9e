// servo-sim: a servo drive as a Modbus RTU slave on a pseudo-terminal or a
// serial device, for testing the service tool without hardware.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "control.h"
#include "control_server.h"
#include "drive_image.h"
#include "drive_layout.h"
#include "faults.h"
#include "platform/program_dir.h"
#include "request_log.h"
#include "rtu_slave.h"
#include "serial_line.h"
#include "stop_signal.h"
#include "tcp_server.h"

namespace {

constexpr const char* kUsage = R"(usage: servo-sim [options]
  --defs PATH            language file (default Language/DefineEn.cfg beside the executable)
  --link PATH            make a symbolic link to the new pseudo-terminal
  --device PATH          serve on this device instead of a new pseudo-terminal
  --tcp PORT             serve Modbus TCP on 127.0.0.1:PORT instead (0: a free port)
  --rtu-tcp PORT         serve RTU frames over TCP on 127.0.0.1:PORT instead (0: a free port)
  --station N            station number, 1-247 (default 1)
  --baud B               line speed (default 115200), sets the timing
  --strict               unmapped holding registers give exception 02 instead of 0
  --eeprom FILE          keep EEPROM contents in FILE (default: in memory only)
  --eeprom-ms MS         time to store all parameters (default 1500)
  --turnaround-us US     wait between request and response (default 1000)
  --alarm N              alarm code at start (default 0)
  --control PATH         also take control commands on a Unix socket
  --no-stdin             take no control commands on standard input
  --no-pace              write responses in one piece instead of at the line speed
  --seed N               seed of the model noise and the random faults (default 1)
  --ascii                Modbus ASCII framing instead of RTU
  --pattern              function 3 reads every register as its own address
 faults at start (all switchable at run time, see README.md):
  --noanswer PERCENT  --delay MS  --late PERCENT  --late-ms MS  --bad-crc  --wrong-station  --exception CODE
  --bad-crc-rate PERCENT  --wrong-station-rate PERCENT
  --truncate N  --garbage-before N  --garbage-after N  --gap MS  --gap-at N
  --reject-write N  --reject-code CODE
On start-up it prints one line "READY pty=PATH [link=PATH] station=N baud=B" (or
"READY device=PATH ...", "READY tcp=127.0.0.1:PORT ...", "READY rtu-tcp=127.0.0.1:PORT ...")
once it answers requests.
)";

sim::StopSignal* gStop = nullptr;

void onSignal(int) {
    if (gStop) gStop->request();
}

struct Options {
    std::string defs;
    std::string link;
    std::string device;
    std::string eeprom;
    std::string control;
    unsigned station = 1;
    unsigned baud = 115200;
    bool strict = false;
    unsigned eepromMs = 1500;
    unsigned turnaroundUs = 1000;
    std::int32_t alarm = 0;
    bool useStdin = true;
    bool pace = true;
    bool ascii = false;
    bool pattern = false;
    std::uint32_t seed = 1;
    int tcpPort = -1;     // Modbus TCP, when 0 or more
    int rtuTcpPort = -1;  // RTU over TCP, when 0 or more
};

[[noreturn]] void usageError(const std::string& message) {
    std::cerr << "servo-sim: " << message << "\n" << kUsage;
    std::exit(2);
}

std::int64_t parseNumber(const std::string& option, const std::string& text, std::int64_t lo,
                         std::int64_t hi) {
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || v < lo || v > hi)
        usageError(option + ": expected a number from " + std::to_string(lo) + " to " +
                   std::to_string(hi) + ", got \"" + text + "\"");
    return v;
}

Options parseOptions(int argc, char** argv, sim::FaultSettings& faults) {
    Options o;
    constexpr auto relaxed = std::memory_order_relaxed;
    auto u = [](std::atomic<unsigned>& a) {
        return [&a](unsigned v) { a.store(v, std::memory_order_relaxed); };
    };
    struct Numeric {
        std::int64_t lo, hi;
        std::function<void(std::int64_t)> set;
    };
    std::map<std::string, std::function<void(const std::string&)>> text = {
        {"--defs", [&](const std::string& v) { o.defs = v; }},
        {"--link", [&](const std::string& v) { o.link = v; }},
        {"--device", [&](const std::string& v) { o.device = v; }},
        {"--eeprom", [&](const std::string& v) { o.eeprom = v; }},
        {"--control", [&](const std::string& v) { o.control = v; }},
    };
    std::map<std::string, Numeric> numeric = {
        {"--station", {1, 247, [&](std::int64_t v) { o.station = static_cast<unsigned>(v); }}},
        {"--tcp", {0, 65535, [&](std::int64_t v) { o.tcpPort = static_cast<int>(v); }}},
        {"--rtu-tcp", {0, 65535, [&](std::int64_t v) { o.rtuTcpPort = static_cast<int>(v); }}},
        {"--baud", {300, 4'000'000, [&](std::int64_t v) { o.baud = static_cast<unsigned>(v); }}},
        {"--eeprom-ms",
         {0, 600'000, [&](std::int64_t v) { o.eepromMs = static_cast<unsigned>(v); }}},
        {"--turnaround-us",
         {0, 10'000'000, [&](std::int64_t v) { o.turnaroundUs = static_cast<unsigned>(v); }}},
        {"--alarm",
         {INT32_MIN, INT32_MAX, [&](std::int64_t v) { o.alarm = static_cast<std::int32_t>(v); }}},
        {"--seed",
         {0, UINT32_MAX, [&](std::int64_t v) { o.seed = static_cast<std::uint32_t>(v); }}},
        {"--noanswer",
         {0, 100, [&](std::int64_t v) { u(faults.noAnswerPercent)(static_cast<unsigned>(v)); }}},
        {"--bad-crc-rate",
         {0, 100, [&](std::int64_t v) { u(faults.badCrcPercent)(static_cast<unsigned>(v)); }}},
        {"--wrong-station-rate",
         {0, 100,
          [&](std::int64_t v) { u(faults.wrongStationPercent)(static_cast<unsigned>(v)); }}},
        {"--delay",
         {0, 600'000, [&](std::int64_t v) { u(faults.delayMs)(static_cast<unsigned>(v)); }}},
        {"--late",
         {0, 100, [&](std::int64_t v) { u(faults.latePercent)(static_cast<unsigned>(v)); }}},
        {"--late-ms",
         {0, 600'000, [&](std::int64_t v) { u(faults.lateMs)(static_cast<unsigned>(v)); }}},
        {"--exception",
         {1, 255, [&](std::int64_t v) { u(faults.exceptionCode)(static_cast<unsigned>(v)); }}},
        {"--truncate",
         {1, 300, [&](std::int64_t v) { u(faults.truncateBytes)(static_cast<unsigned>(v)); }}},
        {"--garbage-before",
         {0, 256, [&](std::int64_t v) { u(faults.garbageBefore)(static_cast<unsigned>(v)); }}},
        {"--garbage-after",
         {0, 256, [&](std::int64_t v) { u(faults.garbageAfter)(static_cast<unsigned>(v)); }}},
        {"--gap", {0, 600'000, [&](std::int64_t v) { u(faults.gapMs)(static_cast<unsigned>(v)); }}},
        {"--gap-at",
         {1, 300, [&](std::int64_t v) { faults.gapAt.store(static_cast<int>(v), relaxed); }}},
        {"--reject-write",
         {1, 1'000'000,
          [&](std::int64_t v) { u(faults.rejectCountdown)(static_cast<unsigned>(v)); }}},
        {"--reject-code",
         {1, 255, [&](std::int64_t v) { u(faults.rejectCode)(static_cast<unsigned>(v)); }}},
    };
    std::map<std::string, std::function<void()>> flags = {
        {"--strict", [&] { o.strict = true; }},
        {"--no-stdin", [&] { o.useStdin = false; }},
        {"--no-pace", [&] { o.pace = false; }},
        {"--ascii", [&] { o.ascii = true; }},
        {"--pattern", [&] { o.pattern = true; }},
        {"--bad-crc", [&] { faults.badCrc.store(true, relaxed); }},
        {"--wrong-station", [&] { faults.wrongStation.store(true, relaxed); }},
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        }
        std::optional<std::string> value;
        if (auto eq = arg.find('='); eq != std::string::npos && arg.starts_with("--")) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        if (auto f = flags.find(arg); f != flags.end()) {
            if (value) usageError(arg + " takes no value");
            f->second();
            continue;
        }
        auto t = text.find(arg);
        auto n = numeric.find(arg);
        if (t == text.end() && n == numeric.end()) usageError("unknown option " + arg);
        if (!value) {
            if (i + 1 >= argc) usageError(arg + " needs a value");
            value = argv[++i];
        }
        if (t != text.end()) {
            if (value->empty()) usageError(arg + " needs a value");
            t->second(*value);
        } else {
            n->second.set(parseNumber(arg, *value, n->second.lo, n->second.hi));
        }
    }
    if (!o.device.empty() && !o.link.empty())
        usageError("--link applies to a new pseudo-terminal, not to --device");
    if (o.tcpPort >= 0 && o.rtuTcpPort >= 0) usageError("--tcp and --rtu-tcp exclude each other");
    if ((o.tcpPort >= 0 || o.rtuTcpPort >= 0) && (!o.device.empty() || !o.link.empty()))
        usageError("--tcp and --rtu-tcp serve instead of a serial line: no --device or --link");
    if (o.tcpPort >= 0 && o.ascii) usageError("Modbus TCP has no ASCII framing");
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    sim::FaultSettings faults;
    const Options options = parseOptions(argc, argv, faults);

    std::filesystem::path defs = options.defs.empty()
                                     ? platform::programFile("Language/DefineEn.cfg")
                                     : std::filesystem::path(options.defs);
    std::string error;
    auto layout = sim::loadDriveLayout(defs, error);
    if (!layout) {
        std::cerr << "servo-sim: " << error << "\n";
        return 1;
    }
    sim::DriveImage image(std::move(*layout), options.seed);
    for (const auto& w : image.warnings()) std::cerr << "servo-sim: warning: " << w << "\n";
    if (!options.eeprom.empty() && !image.attachEeprom(options.eeprom, error)) {
        std::cerr << "servo-sim: EEPROM file refused, nothing changed: " << error << "\n";
        return 1;
    }
    image.setAlarm(options.alarm);

    sim::SlaveSettings settings;
    settings.station = options.station;
    settings.strict = options.strict;
    settings.eepromMs = options.eepromMs;
    settings.turnaroundUs = options.turnaroundUs;
    settings.pattern = options.pattern;
    sim::SlaveStats stats;
    sim::RequestLog log;
    sim::StopSignal stop;

    gStop = &stop;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // Started in the background of a terminal, reading standard input must not
    // stop the simulator: the read fails instead and ends that channel.
    signal(SIGTTIN, SIG_IGN);

    const bool network = options.tcpPort >= 0 || options.rtuTcpPort >= 0;
    std::unique_ptr<sim::TcpListener> listener;
    std::unique_ptr<sim::SerialPort> port;
    if (network)
        listener = sim::TcpListener::open(
            static_cast<std::uint16_t>(std::max(options.tcpPort, options.rtuTcpPort)), error);
    else
        port = options.device.empty()
                   ? sim::SerialPort::openPty(options.baud, options.link, error)
                   : sim::SerialPort::openDevice(options.device, options.baud, error);
    if (!port && !listener) {
        std::cerr << "servo-sim: " << error << "\n";
        return 1;
    }
    sim::Controller controller(image, settings, faults, stats, log);
    sim::ControlServer server(controller, stop, options.useStdin);
    if (!options.control.empty() && !server.listen(options.control, error)) {
        std::cerr << "servo-sim: " << error << "\n";
        return 1;
    }

    const auto& l = image.layout();
    std::cerr << "servo-sim: " << defs.string() << ": " << l.parameters.size() << " parameters, "
              << l.status.size() << " status items, " << l.scope.size() << " scope quantities\n";

    sim::RtuSlave slave(
        image, settings, faults, stats, log,
        [&stop](std::chrono::milliseconds ms) { return stop.sleepFor(ms); }, options.seed);
    sim::LineOptions lineOptions{options.baud, options.pace, options.ascii};
    std::thread line([&] {
        if (options.tcpPort >= 0)
            sim::serveModbusTcp(*listener, slave, faults, settings, stop);
        else if (listener)
            sim::serveRtuTcp(*listener, lineOptions, slave, faults, settings, stop);
        else
            sim::runLine(*port, lineOptions, slave, faults, settings, stop);
    });

    std::string ready = "READY ";
    if (listener) {
        ready += std::string(options.tcpPort >= 0 ? "tcp=" : "rtu-tcp=") +
                 "127.0.0.1:" + std::to_string(listener->port());
    } else {
        ready += std::string(port->isPty() ? "pty=" : "device=") + port->path();
        if (!port->link().empty()) ready += " link=" + port->link();
    }
    if (!options.control.empty()) ready += " control=" + options.control;
    ready += " station=" + std::to_string(options.station) +
             " baud=" + std::to_string(options.baud) + (options.ascii ? " ascii" : "") + "\n";
    [[maybe_unused]] ssize_t written = ::write(STDOUT_FILENO, ready.data(), ready.size());

    server.run();
    stop.request();
    line.join();
    gStop = nullptr;
    return 0;
}
