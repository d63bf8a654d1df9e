// The scope page's controls on the headless backend: initialisation and
// layout, the channel switches and their link check, quantity selection, the
// range rule of applyControls, the read-outs and swatches, and destruction.
#include <fstream>

#include "scope_test_support.h"
#include "ui/layout.h"

namespace {

using namespace scopetest;
using pages::ScopePage;
using Kind = ui::RecordingContext::Op::Kind;

constexpr char16_t kRefusal[] = u"通信未连接或通讯异常，请确认驱动器通信连接正常后再试！";

// Rows at 100 (-1000..1000), 101 (-50..50) and 100 again (0..10).
std::u16string threeRows(const std::vector<std::pair<int, std::u16string>>& ui = {}) {
    return languageText({{100, false, -1000, 1000}, {101, false, -50, 50}, {100, false, 0, 10}},
                        ui);
}

struct Range {
    double min, max;
    friend bool operator==(const Range&, const Range&) = default;
};
Range plotRange(const ScopePage& page, int channel) {
    const auto c = page.plot().channel(channel);
    return {c.min, c.max};
}

TEST(ScopePage, InitialisationFillsTheControlsAndBringsTheSettingsOverSeveralRefreshes) {
    Host host(threeRows());
    ScopePage& p = host.p();
    EXPECT_EQ(p.text(ScopePage::kPointsValue), u"50");
    EXPECT_EQ(p.samplePeriodUs(), 5000);
    const ui::Control& period = p.control(ScopePage::kPeriod);
    ASSERT_EQ(period.itemCount(), 10);
    EXPECT_EQ(period.itemText(0), u"5 ms");
    EXPECT_EQ(period.itemText(8), u"800 ms");
    EXPECT_EQ(period.itemText(9), u"1.0 s");
    EXPECT_EQ(period.selection(), 0);
    for (int id : {ScopePage::kXGrid, ScopePage::kYGrid}) {
        ASSERT_EQ(p.control(id).itemCount(), 5);
        EXPECT_EQ(p.control(id).itemText(4), u"25");
        EXPECT_EQ(p.control(id).selection(), 2);
    }
    for (int k = 0; k < 3; ++k) {
        const ui::Control& q = p.control(ScopePage::kQuantity[static_cast<std::size_t>(k)]);
        ASSERT_EQ(q.itemCount(), 3);
        EXPECT_EQ(q.itemText(1), u"Q101");
        EXPECT_EQ(q.selection(), 0);
        EXPECT_EQ(p.channelRow(k), 0);
        EXPECT_EQ(p.text(ScopePage::kOnOff[static_cast<std::size_t>(k)]), u"关闭");
    }
    EXPECT_EQ(p.text(ScopePage::kPause), u"暂停");
    EXPECT_EQ(p.text(ScopePage::kPeriodLabel), u"采样周期");

    // One range per call: channel 1 at initialisation, channels 2 and 3 at
    // the next two refreshes, the time base at the third.
    EXPECT_EQ(plotRange(p, 0), (Range{-1000, 1000}));
    EXPECT_EQ(plotRange(p, 1), (Range{0, 0}));
    p.refresh();
    EXPECT_EQ(plotRange(p, 1), (Range{-1000, 1000}));
    EXPECT_EQ(plotRange(p, 2), (Range{0, 0}));
    p.refresh();
    EXPECT_EQ(plotRange(p, 2), (Range{-1000, 1000}));
    EXPECT_EQ(p.plot().points(), 0);
    p.refresh();
    EXPECT_EQ(p.plot().points(), 50);
    EXPECT_EQ(p.plot().period(), 5);
    EXPECT_EQ(p.plot().xDivisions(), 10);
    EXPECT_EQ(p.plot().yDivisions(), 10);
}

TEST(ScopePage, TheControlColumnFollowsThePageSize) {
    Host host(threeRows());
    ScopePage& p = host.p();
    // 983 x 660: the control column, as wide as its widest text and 130 at
    // least, ends 5 pixels from the right edge; the plot takes the rest. The
    // buttons share the spare height below the column.
    const ui::Rect column = p.control(ScopePage::kQuantity[2]).rect();
    EXPECT_GE(column.width(), 130);
    EXPECT_EQ(column.right, 983 - 5);
    // The trigger, cursor and export controls flow in lines under the plot.
    const ui::Rect plot = p.control(ScopePage::kPlotHost).rect();
    EXPECT_EQ(plot.left, 5);
    EXPECT_EQ(plot.top, 5);
    EXPECT_EQ(plot.width(), column.left - 10);
    EXPECT_EQ(plot.bottom + 5, p.control(ScopePage::kTriggerMode).rect().top);
    EXPECT_LE(p.control(ScopePage::kHint).rect().bottom, 655);
    EXPECT_GT(plot.height(), 450);
    EXPECT_EQ(p.control(ScopePage::kOnOff[2]).rect().right, column.right);
    EXPECT_EQ(p.control(ScopePage::kPeriod).rect().right, column.right);
    EXPECT_EQ(p.control(ScopePage::kPause).rect().right, column.right);
    EXPECT_LE(p.control(ScopePage::kPause).rect().bottom, 655);
    EXPECT_GT(p.control(ScopePage::kPause).rect().top,
              p.control(ScopePage::kClear).rect().bottom + 4);
    for (const ui::LayoutIssue& issue : ui::findLayoutIssues(p)) ADD_FAILURE() << issue.message;
    const int pauseTop = p.control(ScopePage::kPause).rect().top;

    // A larger window: the plot grows and keeps its samples.
    host.settle();
    p.plot().addSample(0, 5.0);
    host.context.pageRect = {2, 25, 1185, 785};
    p.layout();
    // 200 pixels wider, 100 higher: the band under the plot can only need
    // fewer lines.
    EXPECT_EQ(p.control(ScopePage::kPlotHost).rect().width(), column.left - 10 + 200);
    EXPECT_GE(p.control(ScopePage::kPlotHost).rect().height(), plot.height() + 100);
    EXPECT_EQ(p.plot().clientRect().width(), column.left - 10 + 200);
    EXPECT_GT(p.control(ScopePage::kPause).rect().top, pauseTop + 50);
    EXPECT_LE(p.control(ScopePage::kPause).rect().bottom, 755);
    EXPECT_EQ(p.plot().channel(0).count, 1);
}

TEST(ScopePage, AChannelIsSwitchedOnOnlyOnAHealthyLink) {
    Host host(threeRows());
    ScopePage& p = host.p();
    const int button = ScopePage::kOnOff[0];
    p.userClick(button);
    ASSERT_EQ(host.backend.messages().size(), 1u);
    EXPECT_EQ(host.backend.messages()[0].text, kRefusal);
    EXPECT_EQ(host.backend.messages()[0].caption, u"Error");
    EXPECT_EQ(host.backend.messages()[0].icon, ui::MessageIcon::Error);
    EXPECT_EQ(p.check(button), 0);
    EXPECT_EQ(p.text(button), u"关闭");

    // Connected, but the poll loop has not probed yet.
    host.pretendConnected();
    host.session.noteFault(host.session.generation(), drive::kFaultProbe);
    p.userClick(button);
    EXPECT_EQ(host.backend.messages().size(), 2u);
    EXPECT_EQ(p.check(button), 0);

    host.pretendConnected();
    p.userClick(button);
    EXPECT_EQ(host.backend.messages().size(), 2u);
    EXPECT_EQ(p.text(button), u"开启");
    EXPECT_EQ(p.plot().channel(0).enabled, 1);
    EXPECT_FALSE(p.channelEnabled(0)) << "the poll thread takes it at the next refresh";
    p.refresh();
    EXPECT_TRUE(p.channelEnabled(0));

    p.userClick(button);
    EXPECT_EQ(p.text(button), u"关闭");
    EXPECT_EQ(p.plot().channel(0).enabled, 0);
    p.refresh();
    EXPECT_FALSE(p.channelEnabled(0));
}

TEST(ScopePage, WithoutScopeQuantitiesTheChannelsStayOffSilently) {
    Host host(languageText({}));
    ScopePage& p = host.p();
    host.pretendConnected();
    EXPECT_EQ(p.control(ScopePage::kQuantity[0]).itemCount(), 0);
    p.userClick(ScopePage::kOnOff[1]);
    EXPECT_EQ(p.check(ScopePage::kOnOff[1]), 0);
    EXPECT_TRUE(host.backend.messages().empty());
    EXPECT_EQ(p.channelRow(1), -1);
    host.settle();
    EXPECT_EQ(p.acquire(), 0);
}

TEST(ScopePage, LanguageTextsReplaceTheBuiltInOnes) {
    Host host(threeRows(
        {{111, u"On"}, {112, u"Off"}, {113, u"Period"}, {120, u"Pause"}, {121, u"Continue"}}));
    ScopePage& p = host.p();
    EXPECT_EQ(p.text(ScopePage::kOnOff[0]), u"Off");
    EXPECT_EQ(p.text(ScopePage::kPeriodLabel), u"Period");
    EXPECT_EQ(p.text(ScopePage::kPointsLabel), u"采集点数") << "no entry 114: the template's";
    EXPECT_EQ(p.text(ScopePage::kPause), u"Pause");
    p.userClick(ScopePage::kPause);
    EXPECT_TRUE(p.paused());
    EXPECT_EQ(p.text(ScopePage::kPause), u"Continue");
    p.userClick(ScopePage::kPause);
    EXPECT_FALSE(p.paused());
    EXPECT_EQ(p.text(ScopePage::kPause), u"Pause");
    host.pretendConnected();
    p.userClick(ScopePage::kOnOff[0]);
    EXPECT_EQ(p.text(ScopePage::kOnOff[0]), u"On");
}

TEST(ScopePage, ARowAtTheSampledRegisterIsNotTakenOverButItsRangeIs) {
    Host host(threeRows());
    ScopePage& p = host.p();
    host.settle();
    p.userSelectItem(ScopePage::kQuantity[0], 2);
    EXPECT_EQ(p.channelRow(0), 0);
    p.refresh();
    EXPECT_EQ(plotRange(p, 0), (Range{0, 10}));
    p.userSelectItem(ScopePage::kQuantity[0], 1);
    EXPECT_EQ(p.channelRow(0), 1);
}

TEST(ScopePage, RangesChangedInTheDialogReachThePlotOneChannelPerRefresh) {
    Host host(threeRows());
    ScopePage& p = host.p();
    // Channel 3 on a row that the dialog leaves alone.
    p.userSelectItem(ScopePage::kQuantity[1], 1);
    p.userSelectItem(ScopePage::kQuantity[2], 2);
    host.settle();
    ASSERT_EQ(plotRange(p, 1), (Range{-50, 50}));
    p.userSetPosition(ScopePage::kPointsSlider, 2);

    host.backend.queueModalScript(resources::kRangeDialog, [](ui::Dialog& d) {
        d.userClickRow(1011, 0);
        d.userType(1035, u"-200");
        d.userType(1038, u"300");
        d.userClick(1067);
        d.userClickRow(1011, 1);
        d.userType(1035, u"-20");
        d.userType(1038, u"30");
        d.userClick(1067);
        d.userKey(ui::Key::Escape);
    });
    p.userClick(ScopePage::kRange);
    ASSERT_EQ(host.backend.modalRuns(), std::vector<int>{resources::kRangeDialog});
    EXPECT_EQ(host.language.scopeQuantities()[1].minimum, -20);

    p.refresh();
    EXPECT_EQ(plotRange(p, 0), (Range{-200, 300}));
    EXPECT_EQ(plotRange(p, 1), (Range{-50, 50}));
    EXPECT_EQ(p.plot().points(), 50);
    EXPECT_EQ(p.text(ScopePage::kPointsValue), u"100") << "the read-out does not wait";
    p.refresh();
    EXPECT_EQ(plotRange(p, 1), (Range{-20, 30}));
    EXPECT_EQ(p.plot().points(), 50);
    p.refresh();
    EXPECT_EQ(p.plot().points(), 100);
}

TEST(ScopePage, RefreshShowsTheCursorReadOutsAndTheValueSwatches) {
    Host host(threeRows());
    ScopePage& p = host.p();
    host.settle();
    // Without labels the plot rectangle lies 10 pixels inside the host's
    // client area; 50 points of 5 ms span 0.25 s.
    const ui::Point host0 = p.control(ScopePage::kPlotHost).screenOrigin();
    const int plotWidth = p.control(ScopePage::kPlotHost).clientRect().width();
    host.backend.setCursorScreenPosition(host0 + ui::Point{plotWidth - 10, 10});
    p.refresh();
    EXPECT_EQ(p.text(ScopePage::kCursorX), u"X: 0.25");
    EXPECT_EQ(p.text(ScopePage::kCursorY[0]), u"Y1: 1000.00");
    EXPECT_EQ(p.text(ScopePage::kCursorY[2]), u"Y3: 1000.00");
    // A paint of the page refreshes it too.
    const int plotHeight = p.control(ScopePage::kPlotHost).clientRect().height();
    host.backend.setCursorScreenPosition(host0 + ui::Point{10, plotHeight - 10});
    host.backend.paint(p);
    EXPECT_EQ(p.text(ScopePage::kCursorX), u"X: 0.00");
    EXPECT_EQ(p.text(ScopePage::kCursorY[1]), u"Y2: -1000.00");

    for (int k = 0; k < 3; ++k) {
        const auto canvas = host.backend.canvas(p, ScopePage::kSwatch[static_cast<std::size_t>(k)]);
        ASSERT_TRUE(canvas);
        const ui::RecordingContext dc(canvas);
        const ui::Color colour = ScopePage::kColours[static_cast<std::size_t>(k)];
        EXPECT_EQ(dc.pixel({80, 22}), colour);
        const auto& ops = dc.ops();
        const auto text = std::find_if(ops.rbegin(), ops.rend(),
                                       [](const auto& op) { return op.kind == Kind::Text; });
        ASSERT_NE(text, ops.rend());
        EXPECT_EQ(text->text, u"0");
        EXPECT_EQ(text->point, (ui::Point{3, 2}));
        EXPECT_EQ(dc.pixel({4, 3}), colour) << "the text sits on the channel colour";
    }
}

TEST(ScopePage, AChannelWhoseMaxEqualsItsMinDrawsNoLine) {
    Host host(threeRows());
    ScopePage& p = host.p();
    host.pretendConnected();
    p.userClick(ScopePage::kOnOff[0]);
    host.settle();
    const auto redPixels = [&] {
        for (double v : {-500.0, 0.0, 500.0, 250.0}) p.plot().addSample(0, v);
        p.refresh();
        const ui::RecordingContext dc(host.backend.canvas(p, ScopePage::kPlotHost));
        int n = 0;
        for (int y = 0; y < dc.size().height; ++y)
            for (int x = 0; x < dc.size().width; ++x)
                n += dc.pixel({x, y}) == ScopePage::kColours[0];
        return n;
    };
    EXPECT_GT(redPixels(), 0);
    // The range dialog accepts equal bounds.
    host.language.scopeQuantities()[0].minimum = 0;
    host.language.scopeQuantities()[0].maximum = 0;
    p.plot().clear();
    EXPECT_EQ(redPixels(), 0);
}

TEST(ScopePage, CoordinatesClearAndDestruction) {
    Host host(threeRows());
    ScopePage& p = host.p();
    host.settle();
    EXPECT_FALSE(p.plot().labelsShown());
    p.userClick(ScopePage::kShowCoordinates);
    EXPECT_TRUE(p.plot().labelsShown());
    EXPECT_EQ(p.plot().plotRect().left, 90);

    p.plot().addSample(0, 1.0);
    p.plot().addSample(2, 1.0);
    p.userClick(ScopePage::kClear);
    EXPECT_EQ(p.plot().channel(0).count, 0);
    EXPECT_EQ(p.plot().channel(2).count, 0);

    host.pretendConnected();
    p.userClick(ScopePage::kOnOff[0]);
    p.refresh();
    ASSERT_TRUE(p.channelEnabled(0));
    host.main.destroy();
    EXPECT_FALSE(p.channelEnabled(0));
    // A read would fail for want of a link: nothing is read.
    EXPECT_EQ(p.acquire(), 0);
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ScopePage, PeriodPointsGridAndQuantitiesAreKeptInScopeIni) {
    TempDir dir;
    const fs::path ini = dir.path() / "scope.ini";
    {
        Host host(threeRows(), ini);
        ScopePage& p = host.p();
        host.settle();
        ASSERT_TRUE(p.userSelectItem(ScopePage::kPeriod, 3));  // 50 ms
        ASSERT_TRUE(p.userSetPosition(ScopePage::kPointsSlider, 4));
        ASSERT_TRUE(p.userSelectItem(ScopePage::kXGrid, 1));
        ASSERT_TRUE(p.userSelectItem(ScopePage::kQuantity[1], 1));
        host.settle();
    }
    EXPECT_EQ(fileText(ini),
              "period_ms=50\npoints=200\nx_grid=5\ny_grid=10\nquantity1=0\nquantity2=1\n"
              "quantity3=0\n");

    // The next start takes them; an end without a change leaves the file alone.
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(ini, old);
    {
        Host host(threeRows(), ini);
        ScopePage& p = host.p();
        host.settle();
        EXPECT_EQ(p.control(ScopePage::kPeriod).selection(), 3);
        EXPECT_EQ(p.samplePeriodUs(), 50000);
        EXPECT_EQ(p.plot().points(), 200);
        EXPECT_EQ(p.plot().xDivisions(), 5);
        EXPECT_EQ(p.control(ScopePage::kQuantity[1]).selection(), 1);
        EXPECT_EQ(p.channelRow(1), 1);
    }
    EXPECT_EQ(fs::last_write_time(ini), old);

    // Values that the page does not offer are passed over.
    {
        std::ofstream(ini, std::ios::binary) << "period_ms=7\npoints=123\nquantity2=9\nx_grid=\n";
        Host host(threeRows(), ini);
        host.settle();
        EXPECT_EQ(host.p().samplePeriodUs(), 5000);
        EXPECT_EQ(host.p().plot().points(), 50);
        EXPECT_EQ(host.p().channelRow(1), 0);
    }
}

TEST(ScopePage, AChannelOnAnotherChannelsRegisterIsNamedInAHint) {
    Host host(threeRows());
    ScopePage& p = host.p();
    host.pretendConnected();
    host.settle();
    // Every channel starts on row 0: the third, once on, is not read.
    ASSERT_TRUE(p.userClick(ScopePage::kOnOff[2]));
    p.refresh();
    EXPECT_EQ(p.text(ScopePage::kHint),
              u"Channel 3 shows nothing: channel 1 has the same quantity");
    ASSERT_TRUE(p.userSelectItem(ScopePage::kQuantity[2], 1));
    p.refresh();
    EXPECT_EQ(p.text(ScopePage::kHint), u"");
    // Another row at the same register counts as the same quantity.
    ASSERT_TRUE(p.userSelectItem(ScopePage::kQuantity[2], 2));
    p.refresh();
    EXPECT_NE(p.text(ScopePage::kHint), u"");
    // The quantity lists take no free text.
    EXPECT_FALSE(p.userType(ScopePage::kQuantity[0], u"Q999"));
}

}  // namespace
