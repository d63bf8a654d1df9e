// The bus scan on an empty line: stations 1-64 at one baud rate, 30 ms
// time-out, no retries (target: at most 2.5 s). Beside it the same 64 probes
// through the master with the guard silence after every unanswered one, as
// any other request pays it.
#include <benchmark/benchmark.h>

#include <chrono>

#include "drive/scan.h"
#include "modbus/master.h"
#include "modbus/request.h"
#include "support/line_relay.h"

namespace {

constexpr std::uint16_t kTimeoutMs = 30;

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_ScanEmptyLine(benchmark::State& state) {
    testsupport::PtyEnd line;  // nobody answers
    drive::ScanPlan plan;
    plan.ports = {line.path};
    plan.baudRates = {115200};
    plan.parities = {drive::kParityNone};
    plan.firstStation = 1;
    plan.lastStation = 64;
    plan.timeoutMs = kTimeoutMs;
    double last = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const drive::ScanReport report = drive::scanBus(plan);
        last = seconds(start);
        state.SetIterationTime(last);
        if (!report.hits.empty() || report.probes != 64) state.SkipWithError("not an empty line");
    }
    state.counters["scan_s"] = last;
}
BENCHMARK(BM_ScanEmptyLine)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ProbesWithGuard(benchmark::State& state) {
    testsupport::PtyEnd line;
    modbus::ModbusMaster master;
    master.resetMaster();
    if (master.openSerialChannelAt(0, line.path, 115200, 8, 0, 0) != modbus::kSuccess) {
        state.SkipWithError("cannot open the line");
        return;
    }
    const auto selector =
        modbus::makeSelector(modbus::kKindRegisters, modbus::kTableOutput, modbus::kFrameRtu);
    double last = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (std::int32_t station = 1; station <= 64; ++station) {
            std::uint8_t bytes[2];
            master.readItems(0, station, 0, bytes, 2, selector,
                             modbus::RequestTiming{kTimeoutMs, 0});
        }
        last = seconds(start);
        state.SetIterationTime(last);
    }
    state.counters["scan_s"] = last;
}
BENCHMARK(BM_ProbesWithGuard)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
