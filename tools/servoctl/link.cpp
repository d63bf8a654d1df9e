#include "link.h"

#include <cctype>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "drive/result.h"
#include "modbus/master.h"
#include "modbus/request.h"
#include "modbus/result.h"
#include "output.h"

namespace servoctl {

namespace {

using json = nlohmann::ordered_json;

// The standard name of an exception code; "exception" for a code without one.
std::string exceptionName(std::uint8_t code) {
    const char* name = drive::exceptionName(code);
    return *name != '\0' ? name : "exception";
}

struct Failure {
    int exitCode;
    std::string message;
};

Failure describe(const modbus::RunReport& report, const modbus::ModbusChannel& channel) {
    using modbus::Outcome;
    const auto& t = channel.transaction;
    switch (report.outcome) {
        case Outcome::noAnswer:
            // The request may have arrived and been executed, its answer lost.
            if (report.write)
                return {kExitTimeout,
                        "time-out: the drive may have applied the write; read it back"};
            return {kExitTimeout, "time-out: no response from the drive (station " +
                                      std::to_string(report.station) + ", " +
                                      std::to_string(report.attempts) + " tries of " +
                                      std::to_string(report.responseTimeoutMs) + " ms)"};
        case Outcome::badChecksum:
            return {kExitChecksum, "bad checksum in the response"};
        case Outcome::exception: {
            char buf[96];
            std::snprintf(buf, sizeof buf, "exception response %02X (%s) to function %u",
                          report.exceptionCode, exceptionName(report.exceptionCode).c_str(),
                          report.functionCode);
            return {kExitException, buf};
        }
        case Outcome::wrongStation:
            return {kExitFraming, "wrong station: response from station " +
                                      std::to_string(t.frameLength >= 1 ? t.frame[0] : 0)};
        case Outcome::malformed:
            return {kExitFraming, "malformed response (framing error)"};
        case Outcome::mismatch:
            switch (report.result) {
                case modbus::kFunctionMismatch:
                    return {kExitException, "response with another function code"};
                case modbus::kAddressMismatch:
                    return {kExitInvalid, "the response echoes another start address"};
                case modbus::kValueMismatch:
                    return {kExitInvalid, "the response's byte count, quantity or value differs"};
                default:
                    break;
            }
            break;
        case Outcome::portFailure:
            return {kExitPort, "writing to the port failed"};
        case Outcome::connectionLost:
            return {kExitPort, "the connection to the gateway was lost"};
        case Outcome::channelUnavailable:
        case Outcome::portUnavailable:
            return {kExitPort, "channel unavailable"};
        default:
            break;
    }
    return {kExitInvalid, "master result " + std::to_string(report.result)};
}

bool inRange(long long v, long long lo, long long hi) {
    return v >= lo && v <= hi;
}

}  // namespace

unsigned comNumber(const std::string& port) {
    if (port.size() < 4 || port.size() > 6) return 0;
    if (std::toupper(static_cast<unsigned char>(port[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(port[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(port[2])) != 'M')
        return 0;
    unsigned n = 0;
    for (std::size_t i = 3; i < port.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(port[i]))) return 0;
        n = n * 10 + static_cast<unsigned>(port[i] - '0');
    }
    return n;
}

std::string linkOptionProblem(const LinkOptions& o) {
    if (o.station < 0 || o.station > 255) return "--station must be 0 to 255";
    if (o.timeoutMs > 65535) return "--timeout must be at most 65535 ms";
    if (o.retries > 255) return "--retries must be at most 255";
    return {};
}

int runLinkCommand(const LinkOptions& o, LinkCommand command, const std::vector<long long>& v) {
    // Arguments first: nothing is opened for a command that cannot run.
    auto usage = [](const std::string& what) {
        printError("usage", what);
        return kExitUsage;
    };
    if (const std::string problem = linkOptionProblem(o); !problem.empty()) return usage(problem);
    const bool isWrite = command == LinkCommand::WriteRegs || command == LinkCommand::WriteCoils;
    if (o.station == 0 && !isWrite)
        return usage(
            "station 0 is the broadcast address: no drive answers it, so nothing can be "
            "read");
    if (command != LinkCommand::Probe) {
        if (v.size() < 2) return usage(isWrite ? "expected ADDR VALUE..." : "expected ADDR COUNT");
        if (!inRange(v[0], 0, 65535)) return usage("ADDR must be 0 to 65535");
        if (!isWrite) {
            if (!inRange(v[1], 1, 65536 - v[0])) return usage("COUNT must be 1 to 65536 - ADDR");
            if (command == LinkCommand::ReadRegs && v[1] > 32767)
                return usage("COUNT must be at most 32767 registers");
        } else {
            if (static_cast<long long>(v.size() - 1) > 65536 - v[0])
                return usage("too many values for ADDR");
            for (std::size_t i = 1; i < v.size(); ++i) {
                if (command == LinkCommand::WriteCoils && !inRange(v[i], 0, 1))
                    return usage("coil values must be 0 or 1");
                if (command == LinkCommand::WriteRegs && !inRange(v[i], -32768, 65535))
                    return usage("register values must be -32768 to 65535");
            }
        }
    }

    modbus::ModbusMaster master;
    master.resetMaster();
    const unsigned com = comNumber(o.port);
    const std::uint8_t ch =
        com >= 1 && com <= modbus::kChannelCount ? static_cast<std::uint8_t>(com - 1) : 0;
    const std::uint8_t opened =
        com >= 1 && com <= modbus::kChannelCount
            ? master.openSerialChannel(ch, o.baud, 8, 0, o.parity)
            : master.openSerialChannelAt(ch, o.port, o.baud, 8, 0, o.parity);
    if (opened != modbus::kSuccess) {
        std::string why = master.portError(ch);
        if (why.empty())
            why =
                "cannot open " + master.portDevice(ch) + " (result " + std::to_string(opened) + ")";
        printError(o.port, why);
        return kExitPort;
    }
    const modbus::RequestTiming timing{static_cast<std::uint16_t>(o.timeoutMs),
                                       static_cast<std::uint8_t>(o.retries)};
    modbus::RunReport report;
    const std::uint8_t frame = o.ascii ? modbus::kFrameAscii : modbus::kFrameRtu;

    const std::uint16_t addr = command == LinkCommand::Probe ? 0 : static_cast<std::uint16_t>(v[0]);
    std::uint8_t result = modbus::kSuccess;
    std::vector<long long> out;  // values read, for output
    switch (command) {
        case LinkCommand::Probe:
        case LinkCommand::ReadRegs: {
            const std::size_t n =
                command == LinkCommand::Probe ? 1 : static_cast<std::size_t>(v[1]);
            std::vector<std::uint8_t> buf(2 * n);
            result = master.readItems(
                ch, o.station, addr, buf.data(), static_cast<std::uint32_t>(2 * n),
                modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, frame), timing,
                &report);
            if (result == modbus::kSuccess)
                for (std::size_t i = 0; i < n; ++i)
                    out.push_back(buf[2 * i] | (buf[2 * i + 1] << 8));
            break;
        }
        case LinkCommand::ReadCoils:
        case LinkCommand::ReadInputs: {
            const std::size_t n = static_cast<std::size_t>(v[1]);
            std::vector<std::uint8_t> buf(n / 8 + 1);
            const std::uint8_t table =
                command == LinkCommand::ReadCoils ? modbus::kTableOutput : modbus::kTableInput;
            result = master.readItems(
                ch, o.station, addr, buf.data(), static_cast<std::uint32_t>(n),
                modbus::makeSelector(modbus::kKindBits, table, frame), timing, &report);
            if (result == modbus::kSuccess)
                for (std::size_t i = 0; i < n; ++i) out.push_back((buf[i / 8] >> (i % 8)) & 1);
            break;
        }
        case LinkCommand::WriteRegs: {
            std::vector<std::uint8_t> buf;
            for (std::size_t i = 1; i < v.size(); ++i) {
                const auto r = static_cast<std::uint16_t>(v[i]);
                buf.push_back(static_cast<std::uint8_t>(r & 0xFF));
                buf.push_back(static_cast<std::uint8_t>(r >> 8));
            }
            result = master.writeItems(
                ch, o.station, addr, buf.data(), static_cast<std::uint32_t>(buf.size()),
                modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, frame), timing,
                &report);
            break;
        }
        case LinkCommand::WriteCoils: {
            const std::size_t n = v.size() - 1;
            std::vector<std::uint8_t> buf(n / 8 + 1);
            for (std::size_t i = 0; i < n; ++i)
                if (v[i + 1]) buf[i / 8] = static_cast<std::uint8_t>(buf[i / 8] | (1u << (i % 8)));
            result = master.writeItems(
                ch, o.station, addr, buf.data(), static_cast<std::uint32_t>(n),
                modbus::makeSelector(modbus::kKindBits, modbus::kTableOutput, frame), timing,
                &report);
            break;
        }
    }
    Failure failure =
        result == modbus::kSuccess ? Failure{kExitOk, ""} : describe(report, master.channel(ch));
    if (report.outcome == modbus::Outcome::connectionLost && !master.portError(ch).empty())
        failure.message += ": " + master.portError(ch);
    const bool broadcast =
        result == modbus::kSuccess && report.outcome == modbus::Outcome::broadcastSent;
    // The next servoctl may open the port at once: a late answer to a failed
    // attempt must not be left on its way to it.
    master.closeChannelWhenQuiet(ch);

    if (result != modbus::kSuccess) {
        if (o.json) {
            std::cout << json{{"ok", false}, {"result", result}, {"error", failure.message}}.dump()
                      << '\n';
        }
        printError(o.port, failure.message);
        return failure.exitCode;
    }
    if (o.json) {
        json j = {{"ok", true}, {"address", addr}};
        if (!isWrite)
            j["values"] = out;
        else
            j["written"] = v.size() - 1;
        if (broadcast) j["broadcast"] = true;
        std::cout << j.dump() << '\n';
    } else if (broadcast) {
        // Modbus broadcast: every station executes it and none answers.
        std::cout << "sent to all stations (broadcast, station 0): no answer is expected, so "
                     "nothing confirms that a drive applied it\n";
    } else if (command == LinkCommand::Probe) {
        std::cout << "drive answered: register 0 = " << out.at(0) << '\n';
    } else {
        for (long long x : out) std::cout << x << '\n';
    }
    return kExitOk;
}

}  // namespace servoctl
