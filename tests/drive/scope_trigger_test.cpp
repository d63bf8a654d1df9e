// The scope trigger on a step made in servo-sim, its modes on made-up
// samples, the quantity units, and the CSV export read back.
#include "drive/scope_trigger.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "drive/scope.h"
#include "drive/scope_export.h"
#include "drive_rig.h"
#include "platform/clock.h"

namespace {

using drive::ScopeSample;
using drive::ScopeTrigger;
using drive::TriggerEdge;
using drive::TriggerMode;
using drive::TriggerSettings;
using drive::TriggerState;

struct Recorded {
    std::vector<ScopeSample> samples;
    std::uint64_t stepUp = 0;    // just before the register went to the high level
    std::uint64_t stepDown = 0;  // just before it went back
};

// Channel 0 samples the first scope quantity while servo-sim holds its
// register at 0, then at 1000, then at 0 again.
Recorded recordSteps() {
    drivetest::Rig rig;
    drive::ScopeAcquisition scope(rig.session, rig.language.scopeQuantities());
    rig.connect();
    const std::string reg = std::to_string(rig.language.scopeQuantities()[0].address);
    scope.setSamplePeriodUs(5000);
    scope.setChannel(0, true, 0);
    Recorded r;
    const auto cycles = [&](int n) {
        for (int i = 0; i < n; ++i) EXPECT_TRUE(scope.acquire().ok());
    };
    rig.sim.ok("set reg " + reg + " 0");
    cycles(6);
    r.stepUp = platform::monotonicMicros();
    rig.sim.ok("set reg " + reg + " 1000");
    cycles(6);
    r.stepDown = platform::monotonicMicros();
    rig.sim.ok("set reg " + reg + " 0");
    cycles(6);
    scope.takeSamples([&](const ScopeSample& s) { r.samples.push_back(s); });
    return r;
}

// The first sample taken after `instant`.
std::size_t firstAfter(const std::vector<ScopeSample>& samples, std::uint64_t instant) {
    std::size_t i = 0;
    while (i < samples.size() && samples[i].timeMicros < instant) ++i;
    return i;
}

TEST(ScopeTrigger, TheTriggerPointIsTheFirstSampleAfterTheStepInEveryMode) {
    const Recorded r = recordSteps();
    ASSERT_EQ(r.samples.size(), 18u);
    const std::size_t up = firstAfter(r.samples, r.stepUp);
    const std::size_t down = firstAfter(r.samples, r.stepDown);
    ASSERT_GT(up, 0u);
    ASSERT_LT(down, r.samples.size());
    EXPECT_EQ(r.samples[up].value, 1000);
    EXPECT_EQ(r.samples[up - 1].value, 0);
    EXPECT_EQ(r.samples[down].value, 0);

    // Three samples' worth of span: every capture completes within the record.
    const std::uint64_t span = 3 * 5000;
    for (TriggerMode mode : {TriggerMode::automatic, TriggerMode::normal, TriggerMode::single})
        for (TriggerEdge edge : {TriggerEdge::rising, TriggerEdge::falling}) {
            SCOPED_TRACE(static_cast<int>(mode) * 10 + static_cast<int>(edge));
            ScopeTrigger trigger;
            trigger.setup({0, edge, 500.0, 25, mode}, span);
            for (const ScopeSample& s : r.samples) trigger.feed(s);
            ASSERT_TRUE(trigger.capture().has_value());
            const std::size_t at = edge == TriggerEdge::rising ? up : down;
            EXPECT_EQ(trigger.capture()->triggerMicros, r.samples[at].timeMicros);
            EXPECT_EQ(trigger.capture()->startMicros, r.samples[at].timeMicros - span / 4);
            EXPECT_EQ(trigger.capture()->endMicros - trigger.capture()->startMicros, span);
            EXPECT_EQ(trigger.captureCount(), 1u);
            // Automatic rolls again once a span passed without an edge.
            if (mode == TriggerMode::single)
                EXPECT_EQ(trigger.state(), TriggerState::stopped);
            else if (mode == TriggerMode::normal)
                EXPECT_EQ(trigger.state(), TriggerState::triggered);
            else
                EXPECT_NE(trigger.state(), TriggerState::waiting);
        }
}

std::vector<ScopeSample> steps(std::initializer_list<int> values, int channel = 0) {
    std::vector<ScopeSample> out;
    std::uint64_t t = 1000;
    for (int v : values) out.push_back({channel, v, t += 100});
    return out;
}

TEST(ScopeTrigger, ModesWaitStopRollAndRearm) {
    // Two rising edges, at the 3rd and the 9th sample.
    const auto samples = steps({0, 0, 9, 9, 9, 9, 0, 0, 9, 9, 9, 9, 9});
    const TriggerSettings base{0, TriggerEdge::rising, 5.0, 0, TriggerMode::normal};

    ScopeTrigger normal;
    normal.setup(base, 250);
    EXPECT_EQ(normal.state(), TriggerState::waiting);
    for (const auto& s : samples) normal.feed(s);
    EXPECT_EQ(normal.captureCount(), 2u);
    EXPECT_EQ(normal.capture()->triggerMicros, samples[8].timeMicros);

    TriggerSettings single = base;
    single.mode = TriggerMode::single;
    ScopeTrigger one;
    one.setup(single, 250);
    for (const auto& s : samples) one.feed(s);
    EXPECT_EQ(one.captureCount(), 1u);
    EXPECT_EQ(one.state(), TriggerState::stopped);
    EXPECT_EQ(one.capture()->triggerMicros, samples[2].timeMicros);
    // Armed again it waits for a new edge and keeps the capture meanwhile.
    one.arm();
    EXPECT_EQ(one.state(), TriggerState::waiting);
    EXPECT_TRUE(one.capture().has_value());

    // Automatic: rolls when no edge comes for a whole span; a level that is
    // never crossed never triggers.
    TriggerSettings never = base;
    never.mode = TriggerMode::automatic;
    never.level = 50.0;
    ScopeTrigger roll;
    roll.setup(never, 250);
    for (const auto& s : samples) roll.feed(s);
    EXPECT_EQ(roll.state(), TriggerState::rolling);
    EXPECT_FALSE(roll.capture().has_value());

    // Samples of other channels move time on but never trigger.
    ScopeTrigger other;
    other.setup(base, 250);
    for (const auto& s : steps({0, 9, 0, 9}, 1)) other.feed(s);
    EXPECT_EQ(other.state(), TriggerState::waiting);

    // A new trace between a low and a high sample is no edge.
    ScopeTrigger gap;
    gap.setup(base, 250);
    const auto two = steps({0, 9});
    gap.feed(two[0]);
    gap.newTrace();
    gap.feed(two[1]);
    EXPECT_EQ(gap.state(), TriggerState::waiting);
}

TEST(ScopeTrigger, QuantityUnitsComeFromTheNamesParenthesis) {
    const auto unit = [](std::u16string_view name) { return drive::quantityUnit(name); };
    EXPECT_DOUBLE_EQ(unit(u"Torque command (0.1%)").factor, 0.1);
    EXPECT_EQ(unit(u"Torque command (0.1%)").unit, u"%");
    EXPECT_EQ(unit(u"Phase U current (0.1 A)").unit, u"A");
    EXPECT_DOUBLE_EQ(unit(u"Motor speed (rpm)").factor, 1.0);
    EXPECT_EQ(unit(u"Motor speed (rpm)").unit, u"rpm");
    EXPECT_EQ(unit(u"Following error (cmd unit)").unit, u"cmd unit");
    EXPECT_EQ(unit(u"速度").unit, u"");
    EXPECT_DOUBLE_EQ(unit(u"x (0 V)").factor, 1.0);  // a zero size is no size
}

// Splits a CSV line (quoted cells with doubled quotes).
std::vector<std::string> cells(const std::string& line) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            out.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

TEST(ScopeExport, CsvReadBackGivesTheSamples) {
    std::vector<drive::CsvChannel> channels(2);
    channels[0].name = u"Torque, command (0.1%)";
    channels[0].unit = drive::quantityUnit(channels[0].name);
    channels[1].name = u"Motor \"speed\" (rpm)";
    channels[1].unit = drive::quantityUnit(channels[1].name);
    const std::uint64_t origin = 5'000'000;
    for (int i = 0; i < 50; ++i) {
        channels[0].samples.push_back({0, -3000 + 123 * i, origin + 6700u * i});
        // Every other instant shared, the others a moment later.
        channels[1].samples.push_back({1, 7 * i, origin + 6700u * i + (i % 2 ? 1234u : 0u)});
    }
    const std::string csv = drive::scopeCsv(channels, origin, 5, "2026-01-02 03:04:05.678");

    std::istringstream in(csv);
    std::string line;
    std::vector<std::vector<std::string>> rows;
    while (std::getline(in, line)) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r');
        line.pop_back();
        rows.push_back(cells(line));
    }
    ASSERT_GE(rows.size(), 6u);
    EXPECT_EQ(rows[1], (std::vector<std::string>{"start", "2026-01-02 03:04:05.678"}));
    EXPECT_EQ(rows[2], (std::vector<std::string>{"period_ms", "5"}));
    EXPECT_EQ(rows[3],
              (std::vector<std::string>{"channel", "1", "Torque, command (0.1%)", "%", "0.1"}));
    EXPECT_EQ(rows[4][2], "Motor \"speed\" (rpm)");
    EXPECT_EQ(rows[5].size(), 5u);
    EXPECT_EQ(rows[5][0], "time_ms");

    // Back to samples: every one is there once, at its time, with its value.
    std::vector<std::vector<ScopeSample>> back(2);
    for (std::size_t r = 6; r < rows.size(); ++r) {
        ASSERT_EQ(rows[r].size(), 5u);
        const double ms = std::stod(rows[r][0]);
        const std::uint64_t t = origin + static_cast<std::uint64_t>(std::llround(ms * 1000.0));
        for (int k = 0; k < 2; ++k) {
            const std::string& raw = rows[r][static_cast<std::size_t>(1 + 2 * k)];
            const std::string& scaled = rows[r][static_cast<std::size_t>(2 + 2 * k)];
            ASSERT_EQ(raw.empty(), scaled.empty());
            if (raw.empty()) continue;
            const int v = std::stoi(raw);
            EXPECT_NEAR(std::stod(scaled), v * channels[static_cast<std::size_t>(k)].unit.factor,
                        1e-9);
            back[static_cast<std::size_t>(k)].push_back({k, v, t});
        }
    }
    for (int k = 0; k < 2; ++k) {
        const auto& want = channels[static_cast<std::size_t>(k)].samples;
        const auto& got = back[static_cast<std::size_t>(k)];
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].value, want[i].value);
            EXPECT_EQ(got[i].timeMicros, want[i].timeMicros);
        }
    }
}

}  // namespace
