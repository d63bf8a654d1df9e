// The scope page's acquisition cycle against servo-sim: which requests go on
// the line for which channels (the simulator's request log), the values taken
// from each response, failures, pause, and a poll thread sampling while the
// user changes the channels.
#include <atomic>
#include <cstdint>
#include <fstream>
#include <set>
#include <thread>

#include "scope_test_support.h"

namespace {

using namespace scopetest;
using pages::ScopePage;

// The page's list: 16-bit rows at 50, 100 to 120, a 32-bit row at 130, a
// 16-bit row at 132 and one at 150. The rows from 100 to 120 and from 130 to
// 132 are consecutive registers; 50 and 150 are not known to the drive.
std::vector<Row> pageRows() {
    std::vector<Row> rows{{50}};
    for (const Row& r : rowsFrom(100, 120)) rows.push_back(r);
    rows.push_back({130, true});
    rows.push_back({132});
    rows.push_back({150});
    return rows;
}

// The drive knows the same quantities but 50 and 150, and refuses reads of
// registers it does not know.
std::vector<Row> driveRows() {
    std::vector<Row> rows = rowsFrom(100, 120);
    rows.push_back({130, true});
    rows.push_back({132});
    return rows;
}

fs::path writeDriveDefs(const TempDir& dir) {
    const fs::path file = dir.path() / "Language" / "DefineEn.cfg";
    // The simulator wants one parameter at least.
    writeUtf16(file,
               u"[<2>]\r\n#[RW][INT16U][0][P00.00][Motor code][P S T][0][9999][0][-][][]\r\n"
               u"#END\r\n\r\n" +
                   languageText(driveRows()));
    return file;
}

class ScopeAcquire : public ::testing::Test {
  protected:
    void SetUp() override {
        sim.exportAsCom(1);
        // Each register holds its own address, so a value tells where it came from.
        for (int a = 100; a <= 120; ++a)
            sim.ok("set reg " + std::to_string(a) + " " + std::to_string(a));
        sim.ok("set reg 130 1");
        sim.ok("set reg 131 2");  // 2 * 65536 + 1
        sim.ok("set reg 132 132");
        host.connect();
        host.settle();
    }

    // One cycle; returns its code and the requests it made (CRC left out).
    std::pair<std::uint8_t, std::vector<std::string>> cycle() {
        sim.ok("log on");
        const std::uint8_t code = host.p().acquire();
        host.p().takeSamples();
        return {code, withoutCrc(loggedRequests(sim))};
    }

    void channels(int a1, int a2, int a3) {
        const int addresses[] = {a1, a2, a3};
        for (int k = 0; k < 3; ++k) {
            if (addresses[k] < 0) {
                if (host.p().check(ScopePage::kOnOff[static_cast<std::size_t>(k)]))
                    host.p().userClick(ScopePage::kOnOff[static_cast<std::size_t>(k)]);
                continue;
            }
            host.p().userSelectItem(ScopePage::kQuantity[static_cast<std::size_t>(k)],
                                    host.rowOf(addresses[k]));
            if (!host.p().check(ScopePage::kOnOff[static_cast<std::size_t>(k)]))
                host.p().userClick(ScopePage::kOnOff[static_cast<std::size_t>(k)]);
        }
        host.p().refresh();
    }

    std::vector<int> lastValues() {
        return {host.p().lastValue(0), host.p().lastValue(1), host.p().lastValue(2)};
    }

    TempDir dir;
    testsupport::SimProcess sim{{"--no-pace", "--strict", "--defs", writeDriveDefs(dir).string()}};
    Host host{languageText(pageRows())};
};

using Requests = std::vector<std::string>;

TEST_F(ScopeAcquire, ChannelsWithinTenRegistersShareOneRequest) {
    channels(100, 101, 102);
    auto [code, log] = cycle();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(log, (Requests{readRequest(100, 3)}));
    EXPECT_EQ(lastValues(), (std::vector<int>{100, 101, 102}));

    // 105 joins 100's group; 120 is too far and read alone, after it.
    channels(100, 105, 120);
    std::tie(code, log) = cycle();
    EXPECT_EQ(log, (Requests{readRequest(100, 6), readRequest(120, 1)}));
    EXPECT_EQ(lastValues(), (std::vector<int>{100, 105, 120}));

    // 100 is too far from 115, which groups with 120: the group first.
    channels(100, 115, 120);
    std::tie(code, log) = cycle();
    EXPECT_EQ(log, (Requests{readRequest(115, 6), readRequest(100, 1)}));
    EXPECT_EQ(lastValues(), (std::vector<int>{100, 115, 120}));

    // Eleven apart: two requests, the lower address first.
    channels(111, 100, -1);
    std::tie(code, log) = cycle();
    EXPECT_EQ(log, (Requests{readRequest(100, 1), readRequest(111, 1)}));
    EXPECT_EQ(lastValues(), (std::vector<int>{111, 100, 120}));

    // Every value reached the plot once per cycle it was read in. All held
    // samples, not the visible window: its span is real time, which a slow
    // build stretches.
    const auto held = [&](int channel) {
        std::vector<double> v;
        for (const auto& sample : host.p().plot().samples(channel, 0, UINT64_MAX))
            v.push_back(sample.value);
        return v;
    };
    EXPECT_EQ(held(0), (std::vector<double>{100, 100, 100, 111}));
    EXPECT_EQ(held(2), (std::vector<double>{102, 120, 120}));
}

TEST_F(ScopeAcquire, ThirtyTwoBitValuesTakeTwoRegistersLowWordFirst) {
    channels(130, -1, -1);
    auto [code, log] = cycle();
    EXPECT_EQ(log, (Requests{readRequest(130, 2)}));
    EXPECT_EQ(host.p().lastValue(0), 2 * 65536 + 1);
    // The swatch shows it at the next refresh.
    host.p().refresh();
    const auto swatch = host.backend.canvas(host.p(), ScopePage::kSwatch[0]);
    ASSERT_TRUE(swatch);
    EXPECT_EQ(swatch->ops.back().text, u"131073");

    // In a group its four bytes put the next value at offset 4.
    channels(130, 132, -1);
    std::tie(code, log) = cycle();
    EXPECT_EQ(log, (Requests{readRequest(130, 3)}));
    EXPECT_EQ(lastValues(), (std::vector<int>{2 * 65536 + 1, 132, 0}));

    // Signed: 0xFFFF reads -1 in 16 bits, 0xFFFF 0xFFFF -1 in 32 bits.
    sim.ok("set reg 132 65535");
    sim.ok("set reg 130 65535");
    sim.ok("set reg 131 65535");
    cycle();
    EXPECT_EQ(lastValues(), (std::vector<int>{-1, -1, 0}));
}

TEST_F(ScopeAcquire, ListRowsThatAreNotConsecutiveRegistersAreReadOneByOne) {
    // 120 and 130 are ten apart, but between their rows lies one 32-bit row:
    // a group read would place 130's value at 122.
    channels(120, 130, -1);
    auto [code, log] = cycle();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(log, (Requests{readRequest(120, 1), readRequest(130, 2)}));
    EXPECT_EQ(lastValues(), (std::vector<int>{120, 2 * 65536 + 1, 0}));
}

TEST_F(ScopeAcquire, AChannelAtTheRegisterOfALowerChannelIsNotRead) {
    // Channels 1 and 2 on the same quantity, channel 3 on 105: channel 2 is
    // left out of the group.
    channels(100, 100, 105);
    auto [code, log] = cycle();
    EXPECT_EQ(log, (Requests{readRequest(100, 6)}));
    EXPECT_EQ(host.p().plot().channel(1).count, 0);
    EXPECT_EQ(lastValues(), (std::vector<int>{100, 0, 105}));

    // The same with channel 1 off: its register still keeps channel 2 out.
    host.p().userClick(ScopePage::kOnOff[0]);
    host.p().refresh();
    std::tie(code, log) = cycle();
    EXPECT_EQ(log, (Requests{readRequest(105, 1)}));
    EXPECT_EQ(host.p().plot().channel(1).count, 0);
}

TEST_F(ScopeAcquire, TheCycleReturnsTheCodeOfItsLastRead) {
    host.connect(100, 0);
    // 50 is refused, 100 answers: the cycle succeeds, 50 gets no sample.
    channels(50, 100, -1);
    auto [code, log] = cycle();
    EXPECT_EQ(code, modbus::kAccessSuccess);
    EXPECT_EQ(log, (Requests{readRequest(50, 1), readRequest(100, 1)}));
    EXPECT_EQ(host.p().plot().channel(0).count, 0);
    EXPECT_EQ(host.p().lastValue(1), 100);

    // 150 is read last and refused.
    channels(100, 150, -1);
    std::tie(code, log) = cycle();
    EXPECT_EQ(code, modbus::kAccessFailed);
    EXPECT_EQ(host.p().plot().channel(0).count, 1);

    // A drive that does not answer at all.
    sim.ok("noanswer on");
    channels(100, -1, -1);
    std::tie(code, log) = cycle();
    EXPECT_EQ(code, modbus::kAccessNoResponse);
    EXPECT_EQ(host.p().plot().channel(0).count, 1);
}

TEST_F(ScopeAcquire, PausedCyclesReadNothingAndKeepTheCurves) {
    channels(100, -1, -1);
    cycle();
    host.p().userClick(ScopePage::kPause);
    EXPECT_TRUE(host.p().paused());
    auto [code, log] = cycle();
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(host.p().plot().channel(0).count, 1);

    host.p().userClick(ScopePage::kPause);
    std::tie(code, log) = cycle();
    EXPECT_EQ(log, (Requests{readRequest(100, 1)}));
    EXPECT_EQ(host.p().plot().channel(0).count, 2);

    // A sample taken before a clear does not come back after it.
    host.p().acquire();
    host.p().userClick(ScopePage::kClear);
    host.p().refresh();
    EXPECT_EQ(host.p().plot().channel(0).count, 0);
}

TEST_F(ScopeAcquire, APollThreadSamplesWhileTheUserChangesChannels) {
    // Every value read must be the register of a row the channel had: a cycle
    // that took one row's address with another row's size or offset would
    // show a neighbour's value.
    std::set<double> valid{2 * 65536 + 1, 132};
    for (int a = 100; a <= 120; ++a) valid.insert(a);
    channels(100, 101, 130);
    std::atomic<bool> stop{false};
    std::atomic<int> cycles{0};
    std::thread poll([&] {
        while (!stop.load()) {
            host.p().acquire();
            cycles.fetch_add(1);
        }
    });
    const int addresses[] = {100, 104, 110, 115, 120, 130, 132};
    for (int i = 0; i < 30; ++i) {
        const int k = i % 3;
        host.p().userSelectItem(ScopePage::kQuantity[static_cast<std::size_t>(k)],
                                host.rowOf(addresses[(i * 5 + k) % 7]));
        if (i % 7 == 3) host.p().userClick(ScopePage::kOnOff[static_cast<std::size_t>(k)]);
        if (i % 11 == 5) host.p().userClick(ScopePage::kClear);
        host.p().refresh();
        std::this_thread::sleep_for(10ms);
    }
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (cycles.load() < 50 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    stop.store(true);
    poll.join();
    host.p().takeSamples();
    EXPECT_GE(cycles.load(), 50);
    for (int k = 0; k < 3; ++k)
        for (double v : host.p().plot().values(k)) EXPECT_TRUE(valid.count(v)) << k << ": " << v;
}

// The CSV rows after the column line, split into cells.
std::vector<std::vector<std::string>> csvRows(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::vector<std::vector<std::string>> rows;
    bool data = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!data) {
            data = line.starts_with("time_ms");
            continue;
        }
        std::vector<std::string> cells(1);
        for (char c : line) {
            if (c == ',')
                cells.emplace_back();
            else
                cells.back().push_back(c);
        }
        rows.push_back(cells);
    }
    return rows;
}

TEST_F(ScopeAcquire, ASingleTriggerHoldsTheStepForCursorsFreezeAndExport) {
    channels(100, -1, -1);
    ScopePage& p = host.p();
    ASSERT_TRUE(p.userSelectItem(ScopePage::kTriggerMode, 3));  // single
    ASSERT_TRUE(p.userType(ScopePage::kLevel, u"500"));
    ASSERT_TRUE(p.userType(ScopePage::kPreTrigger, u"20"));
    ASSERT_TRUE(p.userClick(ScopePage::kArm));
    p.refresh();
    EXPECT_EQ(p.text(ScopePage::kTriggerState), u"Waiting for trigger");
    sim.ok("set reg 100 0");
    for (int i = 0; i < 4; ++i) cycle();
    sim.ok("set reg 100 1000");
    // 50 points of 5 ms: the capture ends 200 ms after the trigger point.
    for (int i = 0; i < 200 && p.trigger().state() != drive::TriggerState::stopped; ++i) cycle();
    p.refresh();
    EXPECT_EQ(p.text(ScopePage::kTriggerState), u"Stopped (single)");
    ASSERT_TRUE(p.trigger().capture().has_value());
    const drive::TriggerCapture capture = *p.trigger().capture();

    // The trigger point is the first sample at the new level.
    const auto held = p.plot().samples(0, 0, UINT64_MAX);
    const auto first =
        std::find_if(held.begin(), held.end(), [](const auto& s) { return s.value == 1000.0; });
    ASSERT_NE(first, held.begin());
    ASSERT_NE(first, held.end());
    EXPECT_EQ(capture.triggerMicros, first->timeMicros);
    EXPECT_EQ(std::prev(first)->value, 0.0);
    EXPECT_EQ(p.plot().window().start, capture.startMicros);
    EXPECT_EQ(capture.triggerMicros - capture.startMicros, 50'000u);

    // Cursors on the window's ends read 0 before the step and 1000 after.
    ASSERT_TRUE(p.userClick(ScopePage::kCursors));
    ASSERT_TRUE(p.userSetPosition(ScopePage::kCursorA, 160));  // 10 ms before
    ASSERT_TRUE(p.userSetPosition(ScopePage::kCursorB, 1000));
    p.refresh();
    const std::u16string readout = p.text(ScopePage::kCursorReadout);
    EXPECT_NE(readout.find(u"\u0394t"), std::u16string::npos) << platform::toUtf8(readout);
    EXPECT_NE(readout.find(u"1: 0 / 1000  \u0394"
                           u"1000"),
              std::u16string::npos)
        << platform::toUtf8(readout);

    // The window's samples and the whole recording, read back from CSV.
    TempDir out;
    ASSERT_TRUE(p.exportCsv(out.path() / "window.csv", false).ok());
    ASSERT_TRUE(p.exportCsv(out.path() / "all.csv", true).ok());
    const auto window = p.plot().samples(0, capture.startMicros, capture.endMicros);
    const auto rows = csvRows(out.path() / "window.csv");
    ASSERT_EQ(rows.size(), window.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 3u);
        EXPECT_EQ(std::stod(rows[i][1]), window[i].value) << i;
        const double ms =
            static_cast<double>(window[i].timeMicros - p.plot().originMicros()) / 1000;
        EXPECT_NEAR(std::stod(rows[i][0]), ms, 0.0005) << i;
    }
    EXPECT_EQ(csvRows(out.path() / "all.csv").size(), held.size());

    // The picture is the plot's size.
    ASSERT_TRUE(p.exportPng(out.path() / "plot.png").ok());
    std::ifstream png(out.path() / "plot.png", std::ios::binary);
    std::vector<unsigned char> head(24);
    png.read(reinterpret_cast<char*>(head.data()), 24);
    EXPECT_EQ(head[1], 'P');
    const auto be32 = [&](int at) {
        return head[at] << 24 | head[at + 1] << 16 | head[at + 2] << 8 | head[at + 3];
    };
    EXPECT_EQ(be32(16), p.plot().clientRect().width());
    EXPECT_EQ(be32(20), p.plot().clientRect().height());

    // Freeze: the acquisition stands still; the scroll bar walks the whole
    // recording and the zoom widens the window.
    ASSERT_TRUE(p.userClick(ScopePage::kFreeze));
    EXPECT_TRUE(p.paused());
    ASSERT_TRUE(p.userSetPosition(ScopePage::kScroll, 0));
    ASSERT_TRUE(p.userSelectItem(ScopePage::kZoom, 1));
    p.refresh();
    EXPECT_EQ(p.plot().window().start, p.plot().oldestMicros());
    EXPECT_EQ(p.plot().window().span, 2u * 250'000u);
    bool read = true;
    p.acquisition().acquire(&read);
    EXPECT_FALSE(read);
    ASSERT_TRUE(p.userClick(ScopePage::kFreeze));
    EXPECT_FALSE(p.paused());
}

}  // namespace
