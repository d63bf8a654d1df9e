#include "pages/scope/plot_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#include "ui/headless.h"

namespace {

using pages::PlotControl;
using Op = ui::RecordingContext::Op;
using Kind = Op::Kind;

constexpr ui::Color kRed{255, 0, 0};
constexpr ui::Color kGreen{0, 255, 0};
constexpr ui::Color kBlue{0, 0, 255};
constexpr ui::Color kWhite{255, 255, 255};
constexpr ui::Color kBlack{0, 0, 0};
constexpr int kHost = 1011;

// With the default host of 380 x 240 and labels on, the plot rectangle is
// (90, 20, 290, 200): 200 pixels wide, 180 high. With the range 0..180 a value
// v sits at y = 200 - v, and with N = 100 index i sits at x = 90 + 2i.
constexpr int L = 90, T = 20, R = 290, B = 200;

class Plot : public ::testing::Test {
  protected:
    ui::HeadlessBackend backend;
    ui::Dialog main{resources::kMainDialog};
    ui::Dialog page{resources::kScopePage};
    PlotControl plot;

    // Runs the body with the page up and the plot attached to a host of the
    // given client size (not attached when `attach` is false).
    void run(const std::function<void()>& body, ui::Size host = {380, 240}, bool attach = true) {
        backend.queueModalScript(resources::kMainDialog, [&](ui::Dialog&) {
            ASSERT_TRUE(page.create(main, 1064));
            page.control(kHost).move(ui::Rect::fromXywh(5, 5, host.width, host.height));
            if (attach) plot.attach(&page, kHost);
            body();
        });
        main.runModal();
    }

    // Channel 0 red on, 0..180, N = 100, 10 x 10 grid, 5 ms.
    void standard() {
        plot.setTimebase(5, 100, 10, 10);
        plot.setChannel(0, kRed, 1);
        plot.setRange(0, 0.0, 180.0);
    }

    void moveCursor(ui::Point inHost) {
        backend.setCursorScreenPosition(page.control(kHost).screenOrigin() + inHost);
    }
};

// The moves and lines drawn with the solid pen of the colour, in order.
std::vector<Op> curveOps(const ui::RecordingContext& dc, ui::Color colour) {
    std::vector<Op> out;
    bool in = false;
    for (const Op& op : dc.ops()) {
        if (op.kind == Kind::Pen) {
            in = op.pen == ui::PenStyle::Solid && op.color == colour;
            continue;
        }
        if (in && (op.kind == Kind::MoveTo || op.kind == Kind::LineTo)) out.push_back(op);
    }
    return out;
}

std::vector<const Op*> texts(const ui::RecordingContext& dc) {
    std::vector<const Op*> out;
    for (const Op& op : dc.ops())
        if (op.kind == Kind::Text) out.push_back(&op);
    return out;
}

const Op* findText(const ui::RecordingContext& dc, std::u16string_view text, ui::Color colour) {
    for (const Op& op : dc.ops())
        if (op.kind == Kind::Text && op.text == text && op.color == colour) return &op;
    return nullptr;
}

int countPixels(const ui::RecordingContext::Surface& s, ui::Color c) {
    int n = 0;
    for (const ui::Color& p : s.pixels) n += p == c ? 1 : 0;
    return n;
}

TEST_F(Plot, UnboundOrWithoutTimebaseItStoresNothing) {
    run(
        [&] {
            EXPECT_FALSE(plot.bound());
            EXPECT_EQ(plot.setRange(0, 0.0, 10.0), 0);
            plot.setChannel(0, kRed, 1);
            plot.setTimebase(5, 100, 10, 10);
            plot.addSample(0, 1.0);
            EXPECT_EQ(plot.channel(0).count, 0);
            EXPECT_EQ(plot.channel(0).enabled, 0);
            double t = -1.0, v = -1.0;
            plot.getCursorValues(0, &t, &v);
            EXPECT_EQ(t, -1.0);
            plot.draw();
            EXPECT_EQ(backend.canvas(page, kHost), nullptr);
        },
        {380, 240}, false);

    PlotControl fresh;
    run([&] {
        fresh.attach(&page, kHost);
        EXPECT_TRUE(fresh.bound());
        fresh.addSample(0, 1.0);  // N = 0 before the first setTimebase
        EXPECT_EQ(fresh.channel(0).count, 0);
        fresh.setTimebase(5, 100, 10, 10);
        fresh.addSample(0, 1.0);
        fresh.addSample(3, 1.0);
        fresh.addSample(-1, 1.0);
        EXPECT_EQ(fresh.channel(0).count, 1);
        EXPECT_EQ(fresh.setRange(3, 0.0, 1.0), 0);
    });
}

TEST_F(Plot, TimebaseClampsAndRescalesOnlyWhenPeriodOrPointsChange) {
    run([&] {
        EXPECT_EQ(plot.setTimebase(2, 5, 10, 10), 1);
        EXPECT_EQ(plot.period(), 5);
        EXPECT_EQ(plot.points(), 10);
        EXPECT_EQ(plot.setTimebase(5000, 50000, 10, 10), 1);
        EXPECT_EQ(plot.period(), 3000);
        EXPECT_EQ(plot.points(), 20000);
        EXPECT_EQ(plot.setTimebase(3000, 20000, 10, 10), 0);

        plot.setTimebase(5, 100, 10, 10);
        plot.setRange(0, 0.0, 180.0);
        plot.addSample(0, 50.0);
        plot.addSample(0, 60.0);
        // A resize of the same host moves the plot rectangle without a rescale;
        // a grid-only change does not rescale either.
        page.control(kHost).move(ui::Rect::fromXywh(5, 5, 480, 240));
        plot.attach(&page, kHost);
        EXPECT_EQ(plot.plotRect(), (ui::Rect{90, 20, 390, 200}));
        EXPECT_EQ(plot.setTimebase(5, 100, 20, 5), 1);
        EXPECT_EQ(plot.xDivisions(), 20);
        EXPECT_EQ(plot.yDivisions(), 5);
        EXPECT_EQ(plot.pixels(0)[1], (ui::Point{92, 140}));
        EXPECT_EQ(plot.setTimebase(5, 100, 20, 5), 0);
        // A new period does.
        EXPECT_EQ(plot.setTimebase(10, 100, 20, 5), 1);
        EXPECT_EQ(plot.pixels(0)[1], (ui::Point{93, 140}));
    });
}

TEST_F(Plot, RangeMovesOnlyBeyondAThousandthAndRescales) {
    run([&] {
        standard();
        plot.addSample(0, 90.0);
        EXPECT_EQ(plot.pixels(0)[0], (ui::Point{L, 110}));
        EXPECT_EQ(plot.setRange(0, 0.0005, 180.0005), 0);
        EXPECT_EQ(plot.channel(0).min, 0.0);
        EXPECT_EQ(plot.channel(0).max, 180.0);
        EXPECT_EQ(plot.setRange(0, 0.0, 360.0), 1);
        EXPECT_EQ(plot.pixels(0)[0], (ui::Point{L, 155}));
    });
}

TEST_F(Plot, PositionsAndScrollingOnceFull) {
    run([&] {
        standard();
        EXPECT_EQ(plot.plotRect(), (ui::Rect{L, T, R, B}));
        for (int k = 0; k < 100; ++k) plot.addSample(0, k);
        auto px = plot.pixels(0);
        ASSERT_EQ(px.size(), 100u);
        for (int i = 0; i < 100; ++i) EXPECT_EQ(px[i], (ui::Point{L + 2 * i, B - i})) << i;

        // The 101st drops the oldest; the newest sits on the right edge and
        // every other x stays with its index.
        plot.addSample(0, 150.0);
        auto v = plot.values(0);
        px = plot.pixels(0);
        ASSERT_EQ(v.size(), 100u);
        EXPECT_EQ(v.front(), 1.0);
        EXPECT_EQ(v[98], 99.0);
        EXPECT_EQ(v.back(), 150.0);
        for (int i = 0; i < 99; ++i) EXPECT_EQ(px[i], (ui::Point{L + 2 * i, B - (i + 1)})) << i;
        EXPECT_EQ(px.back(), (ui::Point{R, 50}));
        // Values beyond the range land beyond the rectangle.
        plot.addSample(0, 200.0);
        plot.addSample(0, -10.0);
        px = plot.pixels(0);
        EXPECT_EQ(px[98].y, 0);
        EXPECT_EQ(px[99].y, 210);
    });
}

TEST_F(Plot, FewerPointsKeepTheNewestAndRescale) {
    run([&] {
        plot.setTimebase(5, 1000, 10, 10);
        plot.setRange(0, 0.0, 180.0);
        for (int k = 0; k < 1000; ++k) plot.addSample(0, k % 180);
        ASSERT_EQ(plot.channel(0).count, 1000);
        EXPECT_EQ(plot.pixels(0)[7].x, L + 1);  // 200 * 7 / 1000 = 1.4

        plot.setTimebase(5, 50, 10, 10);
        const auto v = plot.values(0);
        const auto px = plot.pixels(0);
        ASSERT_EQ(v.size(), 50u);
        for (int i = 0; i < 50; ++i) {
            EXPECT_EQ(v[i], (950 + i) % 180) << i;
            EXPECT_EQ(px[i], (ui::Point{L + 4 * i, B - (950 + i) % 180})) << i;
        }
        // More points again keep what is held.
        plot.setTimebase(5, 100, 10, 10);
        EXPECT_EQ(plot.channel(0).count, 50);
        EXPECT_EQ(plot.pixels(0)[49], (ui::Point{L + 98, B - (999 % 180)}));
    });
}

TEST_F(Plot, LabelsOffUseTenPixelMarginsAndDrawNoText) {
    run([&] {
        standard();
        for (int k = 0; k < 100; ++k) plot.addSample(0, k);
        plot.setShowLabels(0);
        EXPECT_FALSE(plot.labelsShown());
        EXPECT_EQ(plot.plotRect(), (ui::Rect{10, 10, 370, 230}));
        // x = 10 + 360 i / 100, y = 10 + (180 - v) * 220 / 180
        EXPECT_EQ(plot.pixels(0)[5], (ui::Point{28, 223}));
        EXPECT_EQ(plot.pixels(0)[90], (ui::Point{334, 120}));

        ui::RecordingContext dc({380, 240}, kBlack);
        plot.render(dc, ui::Point{370, 10});
        EXPECT_EQ(dc.count(Kind::Text), 0u);
        double t = 0, v = 0;
        plot.getCursorValues(0, &t, &v);
        EXPECT_DOUBLE_EQ(t, 0.5);
        EXPECT_DOUBLE_EQ(v, 180.0);

        plot.setShowLabels(1);
        EXPECT_EQ(plot.plotRect(), (ui::Rect{L, T, R, B}));
        EXPECT_EQ(plot.pixels(0)[5], (ui::Point{L + 10, B - 5}));
    });
}

TEST_F(Plot, TimeLabelsTheirTextsAndPlaces) {
    run([&] {
        standard();  // 5 ms x 100 points: half a second across
        ui::RecordingContext dc({380, 240}, kBlack);
        plot.render(dc, std::nullopt);
        const Op* unit = findText(dc, u"s", kBlack);
        ASSERT_NE(unit, nullptr);
        EXPECT_EQ(unit->point, (ui::Point{R, B + 20}));
        for (int i = 0; i <= 10; ++i) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%.2f", i * 0.05);
            const std::u16string text(buf, buf + std::strlen(buf));
            const Op* op = findText(dc, text, kBlack);
            ASSERT_NE(op, nullptr) << buf;
            EXPECT_EQ(op->point, (ui::Point{L + 20 * i - 12, B + 5})) << buf;
        }
        // Above ten divisions only the even ones carry a label.
        plot.setTimebase(5, 100, 20, 10);
        dc.clearOps();
        plot.render(dc, std::nullopt);
        int timeLabels = 0;
        for (const Op* op : texts(dc)) timeLabels += op->point.y == B + 5 ? 1 : 0;
        EXPECT_EQ(timeLabels, 11);
        const Op* second = findText(dc, u"0.05", kBlack);
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(second->point.x, L + 20 - 12);
        EXPECT_EQ(findText(dc, u"0.03", kBlack), nullptr);  // i = 1 is skipped
    });
}

TEST_F(Plot, ValueLabelsPerChannelFormatsAndPlaces) {
    run([&] {
        plot.setTimebase(5, 100, 10, 2);
        plot.setChannel(0, kRed, 1);
        plot.setChannel(1, kGreen, 0);  // labels whether enabled or not
        plot.setChannel(2, kBlue, 1);
        plot.setRange(0, -5.0, 5.0);
        plot.setRange(1, -0.0004, 0.0004);
        plot.setRange(2, 0.0, 0.002);
        ui::RecordingContext dc({380, 240}, kBlack);
        plot.render(dc, std::nullopt);

        // dy = 90: rows at 20 - 16, 110 - 16, 200 - 16.
        const Op* top = findText(dc, u"+5.0", kRed);
        ASSERT_NE(top, nullptr);
        EXPECT_EQ(top->point, (ui::Point{L - 32, 4}));
        const Op* zero = findText(dc, u"0.0", kRed);
        ASSERT_NE(zero, nullptr);
        EXPECT_EQ(zero->point, (ui::Point{L - 24, 94}));
        const Op* bottom = findText(dc, u"-5.0", kRed);
        ASSERT_NE(bottom, nullptr);
        EXPECT_EQ(bottom->point, (ui::Point{L - 32, 184}));

        // Below a thousandth in size: "0.0"; channel 1 sits mid-plot.
        int greens = 0;
        for (const Op* op : texts(dc)) {
            if (op->color != kGreen) continue;
            ++greens;
            EXPECT_EQ(op->text, u"0.0");
            EXPECT_EQ(op->point.x, L + 100 - 24);
        }
        EXPECT_EQ(greens, 3);

        // 0.002 -> "+0.0", 0.001 -> "0.0" through "%.1f", 0 -> "0.0"; right margin.
        std::vector<std::u16string> blue;
        for (const Op* op : texts(dc)) {
            if (op->color != kBlue) continue;
            blue.push_back(op->text);
            EXPECT_EQ(op->point.x, R + 5);
        }
        EXPECT_EQ(blue, (std::vector<std::u16string>{u"+0.0", u"0.0", u"0.0"}));
    });
}

TEST_F(Plot, FrameGridAndBackground) {
    run([&] {
        plot.setTimebase(5, 100, 4, 3);
        ui::RecordingContext dc({380, 240}, kBlack);
        plot.render(dc, std::nullopt);
        EXPECT_EQ(dc.pixel({0, 0}), PlotControl::kBackground);
        EXPECT_EQ(dc.pixel({379, 239}), PlotControl::kBackground);

        std::vector<ui::Point> frame, grid;
        int pen = 0;
        for (const Op& op : dc.ops()) {
            if (op.kind == Kind::Pen) {
                pen = op.pen == ui::PenStyle::Solid ? 1 : 2;
                EXPECT_EQ(op.color, kWhite);
                EXPECT_EQ(op.width, 1);
            } else if (op.kind == Kind::MoveTo || op.kind == Kind::LineTo) {
                (pen == 1 ? frame : grid).push_back(op.point);
            }
        }
        EXPECT_EQ(frame, (std::vector<ui::Point>{{L, T}, {R, T}, {R, B}, {L, B}, {L, T}}));
        // dx = 50, dy = 60
        EXPECT_EQ(grid, (std::vector<ui::Point>{{140, T},
                                                {140, B},
                                                {190, T},
                                                {190, B},
                                                {240, T},
                                                {240, B},
                                                {L, 80},
                                                {R, 80},
                                                {L, 140},
                                                {R, 140}}));
    });
}

TEST_F(Plot, CurveBreaksOutsideTheRangeAndResumesFromTheBorder) {
    run([&] {
        plot.setTimebase(5, 10, 10, 10);  // x = 90 + 20i
        plot.setChannel(0, kRed, 1);
        plot.setRange(0, 0.0, 180.0);
        for (double v : {500.0, 10.0, 180.0, 500.0, 30.0, -5.0, -6.0, 0.0, 40.0})
            plot.addSample(0, v);
        ui::RecordingContext dc({380, 240}, kBlack);
        plot.render(dc, std::nullopt);
        const auto ops = curveOps(dc, kRed);
        const std::vector<std::pair<Kind, ui::Point>> expected{
            {Kind::MoveTo, {90, T}},  // outside first point: only its border
            {Kind::LineTo, {110, 190}}, {Kind::LineTo, {130, T}},  // exactly max is inside
            {Kind::MoveTo, {150, T}},   {Kind::LineTo, {170, 170}}, {Kind::MoveTo, {190, B}},
            {Kind::MoveTo, {210, B}},   {Kind::LineTo, {230, B}},  // exactly min is inside
            {Kind::LineTo, {250, 160}},
        };
        ASSERT_EQ(ops.size(), expected.size());
        for (std::size_t i = 0; i < ops.size(); ++i) {
            EXPECT_EQ(ops[i].kind, expected[i].first) << i;
            EXPECT_EQ(ops[i].point, expected[i].second) << i;
        }
        // No pixel of the curve above the frame.
        for (int y = 0; y < T; ++y)
            for (int x = 0; x < 380; ++x) ASSERT_NE(dc.pixel({x, y}), kRed) << x << "," << y;
    });
}

TEST_F(Plot, EqualMinAndMaxDrawNoLineForThatChannel) {
    run([&] {
        standard();
        plot.setChannel(1, kGreen, 1);
        plot.setRange(0, 50.0, 50.0);
        plot.setRange(1, 0.0, 180.0);
        for (int k = 0; k < 20; ++k) {
            plot.addSample(0, 50.0 + k);
            plot.addSample(1, k);
        }
        ui::RecordingContext dc({380, 240}, kBlack);
        plot.render(dc, ui::Point{L + 10, T + 10});
        for (const Op& op : curveOps(dc, kRed)) EXPECT_EQ(op.kind, Kind::MoveTo);
        EXPECT_EQ(countPixels(*dc.surface(), kRed), 0);
        EXPECT_GT(countPixels(*dc.surface(), kGreen), 0);
        double t = 0, v = 0;
        plot.getCursorValues(0, &t, &v);
        EXPECT_EQ(v, 50.0);
        // The same channel before it ever got a range.
        PlotControl fresh;
        fresh.attach(&page, kHost);
        fresh.setTimebase(5, 100, 10, 10);
        fresh.setChannel(0, kRed, 1);
        for (int k = 0; k < 5; ++k) fresh.addSample(0, k);
        ui::RecordingContext dc2({380, 240}, kBlack);
        fresh.render(dc2, std::nullopt);
        EXPECT_EQ(countPixels(*dc2.surface(), kRed), 0);
    });
}

TEST_F(Plot, ValuesBeyondAnyPixelAreHeldButNotDrawnTo) {
    run([&] {
        standard();
        plot.addSample(0, 10.0);
        plot.addSample(0, 1e300);
        plot.addSample(0, -std::numeric_limits<double>::infinity());
        plot.addSample(0, std::numeric_limits<double>::quiet_NaN());
        plot.addSample(0, 20.0);
        const auto px = plot.pixels(0);
        EXPECT_LT(px[1].y, T);
        EXPECT_GT(px[2].y, B);
        EXPECT_LT(px[3].y, T);
        ui::RecordingContext dc({380, 240}, kBlack);
        plot.render(dc, std::nullopt);
        for (const Op& op : curveOps(dc, kRed)) {
            EXPECT_GE(op.point.y, T);
            EXPECT_LE(op.point.y, B);
        }
    });
}

TEST_F(Plot, CursorReadOutThroughTheHost) {
    run([&] {
        standard();
        plot.setRange(1, -100.0, 100.0);
        moveCursor({R, T});
        plot.draw();
        double t = 0, v0 = 0, v1 = 0;
        plot.getCursorValues(0, &t, &v0);
        EXPECT_DOUBLE_EQ(t, 0.5);  // the whole span: 5 ms x 100
        EXPECT_DOUBLE_EQ(v0, 180.0);
        plot.getCursorValues(1, &t, &v1);
        EXPECT_DOUBLE_EQ(t, 0.5);
        EXPECT_DOUBLE_EQ(v1, 100.0);

        moveCursor({L + 50, B});
        plot.draw();
        plot.getCursorValues(0, &t, &v0);
        plot.getCursorValues(1, &t, &v1);
        EXPECT_DOUBLE_EQ(t, 0.125);
        EXPECT_DOUBLE_EQ(v0, 0.0);
        EXPECT_DOUBLE_EQ(v1, -100.0);

        // Outside the plot rectangle the read-out keeps its values.
        moveCursor({L - 1, T + 90});
        plot.draw();
        plot.getCursorValues(1, &t, &v1);
        EXPECT_DOUBLE_EQ(t, 0.125);
        EXPECT_DOUBLE_EQ(v1, -100.0);

        moveCursor({L, T + 90});
        plot.draw();
        plot.getCursorValues(1, &t, &v1);
        EXPECT_DOUBLE_EQ(t, 0.0);
        EXPECT_DOUBLE_EQ(v1, 0.0);

        double untouched = 7.0;
        plot.getCursorValues(1, &untouched, nullptr);
        plot.getCursorValues(3, &untouched, &untouched);
        EXPECT_EQ(untouched, 7.0);
    });
}

TEST_F(Plot, DrawCopiesOneBlockToTheHost) {
    run([&] {
        standard();
        for (int k = 0; k < 100; ++k) plot.addSample(0, 90.0);
        plot.draw();
        auto canvas = backend.canvas(page, kHost);
        ASSERT_NE(canvas, nullptr);
        ui::RecordingContext view(canvas);
        EXPECT_EQ(view.size(), (ui::Size{380, 240}));
        EXPECT_EQ(view.ops().size(), 1u);
        EXPECT_EQ(view.count(Kind::Copy), 1u);
        EXPECT_EQ(view.ops()[0].rect, (ui::Rect{0, 0, 380, 240}));
        EXPECT_EQ(view.pixel({L + 50, B - 90}), kRed);
        EXPECT_EQ(view.pixel({L + 50, B - 91}), PlotControl::kBackground);
    });
}

TEST_F(Plot, SwitchingAChannelOffRedrawsAtOnceAndOnShowsItsSamplesAgain) {
    run([&] {
        standard();
        for (int k = 0; k < 100; ++k) plot.addSample(0, 90.0);
        plot.draw();
        const int red = countPixels(*backend.canvas(page, kHost), kRed);
        EXPECT_GT(red, 0);

        plot.setChannel(0, kRed, 0);
        EXPECT_EQ(countPixels(*backend.canvas(page, kHost), kRed), 0);
        EXPECT_EQ(backend.canvas(page, kHost)->ops.size(), 2u);
        // Switching on waits for the next draw, and brings the samples back.
        plot.setChannel(0, kRed, 1);
        EXPECT_EQ(backend.canvas(page, kHost)->ops.size(), 2u);
        plot.draw();
        EXPECT_EQ(countPixels(*backend.canvas(page, kHost), kRed), red);
        // A new colour takes effect without a draw of its own.
        plot.setChannel(0, kGreen, 1);
        EXPECT_EQ(plot.channel(0).colour, kGreen);
        EXPECT_EQ(backend.canvas(page, kHost)->ops.size(), 3u);
    });
}

TEST_F(Plot, ClearEmptiesEveryChannelAndKeepsTheRest) {
    run([&] {
        standard();
        plot.setRange(2, -1.0, 1.0);
        for (int k = 0; k < 30; ++k) {
            plot.addSample(0, k);
            plot.addSample(2, 0.5);
        }
        plot.render(*std::make_unique<ui::RecordingContext>(ui::Size{380, 240}, kBlack),
                    ui::Point{R, T});
        plot.clear();
        EXPECT_EQ(plot.channel(0).count, 0);
        EXPECT_EQ(plot.channel(2).count, 0);
        EXPECT_EQ(plot.channel(0).max, 180.0);
        EXPECT_EQ(plot.channel(0).colour, kRed);
        double t = 0, v = 0;
        plot.getCursorValues(2, &t, &v);
        EXPECT_DOUBLE_EQ(v, 1.0);
        plot.addSample(0, 7.0);
        EXPECT_EQ(plot.pixels(0), (std::vector<ui::Point>{{L, B - 7}}));
    });
}

TEST_F(Plot, ReattachKeepsSamplesForTheSameHostAndEmptiesForAnother) {
    ui::Dialog other{resources::kScopePage};
    run([&] {
        standard();
        for (int k = 0; k < 10; ++k) plot.addSample(0, k);
        page.control(kHost).move(ui::Rect::fromXywh(5, 5, 480, 300));
        plot.attach(&page, kHost);
        EXPECT_EQ(plot.clientRect(), (ui::Rect{0, 0, 480, 300}));
        EXPECT_EQ(plot.channel(0).count, 10);
        EXPECT_EQ(plot.pixels(0)[3], (ui::Point{L + 6, B - 3}));  // not rescaled yet
        plot.setShowLabels(1);
        // (90, 20, 390, 260): x = 90 + 3i, y = 20 + (180 - v) * 240 / 180
        EXPECT_EQ(plot.pixels(0)[3], (ui::Point{L + 9, 256}));
        plot.draw();
        EXPECT_EQ(backend.canvas(page, kHost)->size, (ui::Size{480, 300}));

        ASSERT_TRUE(other.create(main, 1064));
        plot.attach(&other, kHost);
        EXPECT_EQ(plot.channel(0).count, 0);
        plot.attach(nullptr, kHost);
        EXPECT_TRUE(plot.bound());
    });
}

// The poll thread appends while the user interface thread draws, rescales and
// reads. Every reader must see whole samples in order: each channel's values
// are consecutive sample numbers, never a half-moved buffer.
TEST_F(Plot, SamplesFromAnotherThreadWhileRendering) {
    run([&] {
        plot.setTimebase(5, 2000, 10, 10);
        for (int ch = 0; ch < 3; ++ch) {
            plot.setChannel(ch, kRed, 1);
            plot.setRange(ch, 0.0, 50000.0);
        }
        constexpr int kSamples = 40000;
        std::atomic<bool> done{false};
        std::thread poll([&] {
            for (int k = 0; k < kSamples; ++k)
                for (int ch = 0; ch < 3; ++ch) plot.addSample(ch, k);
            done.store(true, std::memory_order_relaxed);
        });
        int rounds = 0;
        bool ordered = true;
        while (!done.load(std::memory_order_relaxed) || rounds < 3) {
            plot.draw();
            plot.setRange(rounds % 3, 0.0, rounds % 2 ? 60000.0 : 50000.0);
            plot.setTimebase(5, rounds % 2 ? 1000 : 2000, 10, 10);
            for (int ch = 0; ch < 3; ++ch) {
                const auto v = plot.values(ch);
                for (std::size_t i = 1; i < v.size(); ++i)
                    if (v[i] != v[i - 1] + 1) ordered = false;
            }
            ++rounds;
        }
        poll.join();
        EXPECT_TRUE(ordered);
        plot.setTimebase(5, 1000, 10, 10);
        for (int ch = 0; ch < 3; ++ch) {
            const auto v = plot.values(ch);
            ASSERT_EQ(static_cast<int>(v.size()), plot.points());
            EXPECT_EQ(v.back(), kSamples - 1);
        }
    });
}

}  // namespace
