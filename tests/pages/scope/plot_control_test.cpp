#include "pages/scope/plot_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "ui/headless.h"

namespace {

using pages::PlotControl;
using Op = ui::RecordingContext::Op;
using Kind = Op::Kind;
using P = ui::Point;

constexpr ui::Color kRed{255, 0, 0};
constexpr ui::Color kGreen{0, 255, 0};
constexpr ui::Color kBlue{0, 0, 255};
constexpr ui::Color kWhite{255, 255, 255};
constexpr ui::Color kBlack{0, 0, 0};
constexpr int kHost = 1011;
// A 380 x 240 host with labels: plot rectangle (90, 20, 290, 200). With the
// range 0..180 a value v sits at y = 200 - v; with N = 100 index i at x = 90 + 2i.
constexpr int L = 90, T = 20, R = 290, B = 200;

class Plot : public ::testing::Test {
  protected:
    ui::HeadlessBackend backend;
    ui::Dialog main{resources::kMainDialog};
    ui::Dialog page{resources::kScopePage};
    PlotControl plot;

    // The body runs with the page up and the plot attached to its host.
    void run(const std::function<void()>& body, bool attach = true) {
        backend.queueModalScript(resources::kMainDialog, [&](ui::Dialog&) {
            ASSERT_TRUE(page.create(main, 1064));
            page.control(kHost).move(ui::Rect::fromXywh(5, 5, 380, 240));
            if (attach) plot.attach(&page, kHost);
            body();
        });
        main.runModal();
    }
    // Channel 0 red and on, range 0..180, N = 100, 10 x 10 grid, 5 ms.
    void standard(int points = 100) {
        plot.setTimebase(5, points, 10, 10);
        plot.setChannel(0, kRed, 1);
        plot.setRange(0, 0.0, 180.0);
    }
    ui::RecordingContext render(std::optional<P> cursor = std::nullopt) {
        ui::RecordingContext dc({380, 240}, kBlack);
        plot.render(dc, cursor);
        return dc;
    }
    void moveCursor(P inHost) {
        backend.setCursorScreenPosition(page.control(kHost).screenOrigin() + inHost);
    }
    std::pair<double, double> cursor(int channel) {
        double t = 0.0, v = 0.0;
        plot.getCursorValues(channel, &t, &v);
        return {t, v};
    }
};

// Moves and lines drawn with the solid pen of the colour, in order.
std::vector<std::pair<Kind, P>> curve(const ui::RecordingContext& dc, ui::Color colour) {
    std::vector<std::pair<Kind, P>> out;
    bool in = false;
    for (const Op& op : dc.ops()) {
        if (op.kind == Kind::Pen) in = op.pen == ui::PenStyle::Solid && op.color == colour;
        if (in && (op.kind == Kind::MoveTo || op.kind == Kind::LineTo))
            out.emplace_back(op.kind, op.point);
    }
    return out;
}

// Where the text was drawn in the colour; (-1, -1) when it was not.
P text(const ui::RecordingContext& dc, std::u16string_view s, ui::Color colour) {
    for (const Op& op : dc.ops())
        if (op.kind == Kind::Text && op.text == s && op.color == colour) return op.point;
    return {-1, -1};
}

int countPixels(const ui::RecordingContext::Surface& s, ui::Color c, int maxX = 1 << 20) {
    int n = 0;
    for (int y = 0; y < s.size.height; ++y)
        for (int x = 0; x < std::min(maxX, s.size.width); ++x)
            n += s.pixels[static_cast<std::size_t>(y * s.size.width + x)] == c ? 1 : 0;
    return n;
}

TEST_F(Plot, UnboundOrWithoutTimebaseItDoesNothing) {
    run(
        [&] {
            EXPECT_EQ(plot.setRange(0, 0.0, 10.0), 0);
            plot.setChannel(0, kRed, 1);
            plot.setTimebase(5, 100, 10, 10);
            plot.addSample(0, 1.0);
            EXPECT_EQ(plot.channel(0).count, 0);
            EXPECT_EQ(plot.channel(0).enabled, 0);
            plot.draw();
            EXPECT_EQ(backend.canvas(page, kHost), nullptr);
        },
        false);
    PlotControl fresh;
    run([&] {
        fresh.attach(&page, kHost);
        fresh.addSample(0, 1.0);  // N = 0 before the first setTimebase
        EXPECT_EQ(fresh.channel(0).count, 0);
        fresh.setTimebase(5, 100, 10, 10);
        fresh.addSample(0, 1.0);
        fresh.addSample(3, 1.0);
        EXPECT_EQ(fresh.channel(0).count, 1);
        EXPECT_EQ(fresh.setRange(3, 0.0, 1.0), 0);
    });
}

TEST_F(Plot, TimebaseAndRangeClampCompareAndRescale) {
    run([&] {
        EXPECT_EQ(plot.setTimebase(2, 5, 10, 10), 1);
        EXPECT_EQ(std::pair(plot.period(), plot.points()), std::pair(5, 10));
        EXPECT_EQ(plot.setTimebase(5000, 50000, 10, 10), 1);
        EXPECT_EQ(std::pair(plot.period(), plot.points()), std::pair(3000, 20000));
        EXPECT_EQ(plot.setTimebase(3000, 20000, 10, 10), 0);

        standard();
        plot.addSample(0, 90.0);
        plot.addSample(0, 60.0);
        EXPECT_EQ(plot.setRange(0, 0.0005, 180.0005), 0);
        EXPECT_EQ(plot.channel(0).max, 180.0);
        // Positions follow the plot rectangle at once: x = 90 + 300i / 100.
        page.control(kHost).move(ui::Rect::fromXywh(5, 5, 480, 240));
        plot.attach(&page, kHost);
        EXPECT_EQ(plot.plotRect(), (ui::Rect{90, 20, 390, 200}));
        EXPECT_EQ(plot.setTimebase(5, 100, 20, 5), 1);
        EXPECT_EQ(std::pair(plot.xDivisions(), plot.yDivisions()), std::pair(20, 5));
        EXPECT_EQ(plot.pixels(0)[1], (P{93, 140}));
        // A new period widens the window; the samples keep their instants
        // (the second 5 ms after the first): 90 + 300 * 5 / 1000.
        EXPECT_EQ(plot.setTimebase(10, 100, 20, 5), 1);
        EXPECT_EQ(plot.pixels(0)[1], (P{91, 140}));
        EXPECT_EQ(plot.setRange(0, 0.0, 360.0), 1);
        EXPECT_EQ(plot.pixels(0)[0], (P{90, 155}));
    });
}

TEST_F(Plot, PositionsScrollingAndFewerPoints) {
    run([&] {
        standard();
        for (int k = 0; k < 100; ++k) plot.addSample(0, k);
        auto px = plot.pixels(0);
        ASSERT_EQ(px.size(), 100u);
        for (int i = 0; i < 100; ++i) EXPECT_EQ(px[i], (P{L + 2 * i, B - i})) << i;
        // The window spans 100 periods: the 101st sample lands on the right
        // edge, and from then on the newest stays there while the rest scroll.
        plot.addSample(0, 150.0);
        EXPECT_EQ(plot.pixels(0).back(), (P{R, 50}));
        plot.addSample(0, 200.0);  // beyond the range, beyond the rectangle
        plot.addSample(0, -10.0);
        auto v = plot.values(0);
        px = plot.pixels(0);
        ASSERT_EQ(v.size(), 101u);
        EXPECT_EQ(std::pair(v.front(), v.back()), std::pair(2.0, -10.0));
        for (int i = 0; i < 98; ++i) EXPECT_EQ(px[i], (P{L + 2 * i, B - (i + 2)})) << i;
        EXPECT_EQ(px[99].y, 0);
        EXPECT_EQ(px[100], (P{R, 210}));
        // The recording keeps every sample for scrolling back.
        EXPECT_EQ(plot.channel(0).count, 103);

        plot.setTimebase(5, 1000, 10, 10);
        plot.clear();
        for (int k = 0; k < 1000; ++k) plot.addSample(0, k % 180);
        EXPECT_EQ(plot.pixels(0)[7].x, L + 1);  // 200 * 7 / 1000 = 1.4
        plot.setTimebase(5, 50, 10, 10);
        v = plot.values(0);
        px = plot.pixels(0);
        ASSERT_EQ(v.size(), 51u);
        for (int i = 0; i <= 50; ++i) {
            EXPECT_EQ(v[i], (949 + i) % 180) << i;
            EXPECT_EQ(px[i], (P{L + 4 * i, B - (949 + i) % 180})) << i;
        }
    });
}

TEST_F(Plot, LabelsOffUseTenPixelMarginsAndDrawNoText) {
    run([&] {
        standard();
        for (int k = 0; k < 100; ++k) plot.addSample(0, k);
        plot.setShowLabels(0);
        EXPECT_EQ(plot.plotRect(), (ui::Rect{10, 10, 370, 230}));
        // x = 10 + 360i / 100, y = 10 + (180 - v) * 220 / 180
        EXPECT_EQ(plot.pixels(0)[5], (P{28, 223}));
        EXPECT_EQ(plot.pixels(0)[90], (P{334, 120}));
        EXPECT_EQ(render(P{370, 10}).count(Kind::Text), 0u);
        EXPECT_EQ(cursor(0), std::pair(0.5, 180.0));
        plot.setShowLabels(1);
        EXPECT_EQ(plot.pixels(0)[5], (P{L + 10, B - 5}));
    });
}

TEST_F(Plot, LabelTextsAndPlaces) {
    run([&] {
        plot.setTimebase(5, 100, 10, 2);  // half a second across
        plot.setChannel(0, kRed, 1);
        plot.setChannel(1, kGreen, 0);  // labelled whether enabled or not
        plot.setChannel(2, kBlue, 1);
        plot.setRange(0, -5.0, 5.0);
        plot.setRange(1, -0.0004, 0.0004);
        plot.setRange(2, 0.0, 0.002);
        auto dc = render();
        EXPECT_EQ(text(dc, u"s", kBlack), (P{R, B + 20}));
        for (int i = 0; i <= 10; ++i) {
            char s[8];
            std::snprintf(s, sizeof s, "%.2f", i * 0.05);
            EXPECT_EQ(text(dc, std::u16string(s, s + 4), kBlack), (P{L + 20 * i - 12, B + 5})) << s;
        }
        // Value rows at T + u * 90 - 16; channel 0 left of the plot, 1 in its
        // middle, 2 right of it. Below a thousandth in size reads "0.0".
        EXPECT_EQ(text(dc, u"+5.0", kRed), (P{L - 32, 4}));
        EXPECT_EQ(text(dc, u"0.0", kRed), (P{L - 24, 94}));
        EXPECT_EQ(text(dc, u"-5.0", kRed), (P{L - 32, 184}));
        std::vector<std::u16string> green, blue;
        for (const Op& op : dc.ops()) {
            if (op.kind != Kind::Text) continue;
            if (op.color == kGreen) {
                green.push_back(op.text);
                EXPECT_EQ(op.point.x, L + 100 - 24);
            }
            if (op.color == kBlue) {
                blue.push_back(op.text);
                EXPECT_EQ(op.point.x, R + 5);
            }
        }
        EXPECT_EQ(green, (std::vector<std::u16string>(3, u"0.0")));
        // 0.002 through "+%.1f", 0.001 through "%.1f".
        EXPECT_EQ(blue, (std::vector<std::u16string>{u"+0.0", u"0.0", u"0.0"}));

        // Above ten divisions only the even ones carry a time label.
        plot.setTimebase(5, 100, 20, 2);
        dc = render();
        int timeLabels = 0;
        for (const Op& op : dc.ops()) timeLabels += op.kind == Kind::Text && op.point.y == B + 5;
        EXPECT_EQ(timeLabels, 11);
        EXPECT_EQ(text(dc, u"0.05", kBlack), (P{L + 20 - 12, B + 5}));
    });
}

TEST_F(Plot, BackgroundFrameAndGrid) {
    run([&] {
        plot.setTimebase(5, 100, 4, 3);  // dx = 50, dy = 60
        const auto dc = render();
        EXPECT_EQ(dc.pixel({0, 0}), PlotControl::kBackground);
        std::vector<P> frame, grid;
        bool dotted = false;
        for (const Op& op : dc.ops()) {
            if (op.kind == Kind::Pen) {
                dotted = op.pen == ui::PenStyle::Dot;
                EXPECT_EQ(op.color, kWhite);
            } else if (op.kind == Kind::MoveTo || op.kind == Kind::LineTo) {
                (dotted ? grid : frame).push_back(op.point);
            }
        }
        EXPECT_EQ(frame, (std::vector<P>{{L, T}, {R, T}, {R, B}, {L, B}, {L, T}}));
        EXPECT_EQ(grid, (std::vector<P>{{140, T},
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
        standard(10);  // x = 90 + 20i
        for (double v : {500.0, 10.0, 180.0, 500.0, 30.0, -5.0, -6.0, 0.0, 40.0})
            plot.addSample(0, v);
        const auto dc = render();
        const auto M = Kind::MoveTo, D = Kind::LineTo;
        EXPECT_EQ(curve(dc, kRed), (std::vector<std::pair<Kind, P>>{
                                       {M, {90, T}},  // an outside first point: its border
                                       {D, {110, 190}},
                                       {D, {130, T}},  // exactly max is inside
                                       {M, {150, T}},
                                       {D, {170, 170}},
                                       {M, {210, B}},  // a move moved on from is not sent
                                       {D, {230, B}},  // exactly min is inside
                                       {D, {250, 160}},
                                   }));
        for (int x = 0; x < 380; ++x) ASSERT_NE(dc.pixel({x, T - 1}), kRed) << x;
    });
}

// More points than pixel columns: each column is drawn once, over the pixels
// the segments between its points would set.
TEST_F(Plot, DenseCurveSetsTheSamePixelsWithFewerOperations) {
    run([&] {
        standard(1000);
        std::uint32_t seed = 12345;
        for (int k = 0; k < 1000; ++k) {
            seed = seed * 1103515245u + 12345u;
            plot.addSample(0, 60.0 + 60.0 * std::sin(k * 0.05) + (seed >> 16) % 40);
        }
        const auto dc = render();
        ui::RecordingContext reference({380, 240}, kBlack);
        const auto px = plot.pixels(0);
        reference.setPen(ui::PenStyle::Solid, kRed, 1);
        reference.moveTo(px[0]);
        for (std::size_t i = 1; i < px.size(); ++i) reference.lineTo(px[i]);
        // The last column may keep its final pixel, which a line leaves out.
        for (int y = T; y <= B; ++y)
            for (int x = L; x < px.back().x; ++x)
                ASSERT_EQ(dc.pixel({x, y}) == kRed, reference.pixel({x, y}) == kRed)
                    << x << "," << y;
        EXPECT_GT(countPixels(*dc.surface(), kRed), 2000);
        EXPECT_LE(curve(dc, kRed).size(), 2u * 200u);  // a line and a move per column
    });
}

TEST_F(Plot, NoScaleOrNoPixelDrawsNoLine) {
    run([&] {
        standard();
        plot.setChannel(1, kGreen, 1);
        plot.setRange(1, 50.0, 50.0);
        for (int k = 0; k < 20; ++k) {
            plot.addSample(0, 10.0 * k);
            plot.addSample(1, 50.0 + k);
        }
        plot.addSample(0, 1e300);
        plot.addSample(0, -std::numeric_limits<double>::infinity());
        plot.addSample(0, std::numeric_limits<double>::quiet_NaN());
        plot.addSample(0, 20.0);
        const auto dc = render(P{L + 10, T + 10});
        for (const auto& [kind, p] : curve(dc, kGreen)) EXPECT_EQ(kind, Kind::MoveTo);
        EXPECT_EQ(countPixels(*dc.surface(), kGreen), 0);
        EXPECT_EQ(cursor(1).second, 50.0);
        const auto px = plot.pixels(0);
        EXPECT_LT(px[20].y, T);
        EXPECT_GT(px[21].y, B);
        EXPECT_LT(px[22].y, T);
        for (const auto& [kind, p] : curve(dc, kRed)) EXPECT_TRUE(p.y >= T && p.y <= B);
        EXPECT_GT(countPixels(*dc.surface(), kRed), 0);
    });
}

TEST_F(Plot, CursorReadOutThroughTheHost) {
    run([&] {
        standard();
        plot.setRange(1, -100.0, 100.0);
        moveCursor({R, T});
        plot.draw();
        EXPECT_EQ(cursor(0), std::pair(0.5, 180.0));  // the whole span: 5 ms x 100
        EXPECT_EQ(cursor(1), std::pair(0.5, 100.0));
        moveCursor({L + 50, B});
        plot.draw();
        EXPECT_EQ(cursor(0), std::pair(0.125, 0.0));
        EXPECT_EQ(cursor(1), std::pair(0.125, -100.0));
        moveCursor({L - 1, T + 90});  // outside: the read-out stays
        plot.draw();
        EXPECT_EQ(cursor(1), std::pair(0.125, -100.0));
        moveCursor({L, T + 90});
        plot.draw();
        EXPECT_EQ(cursor(1), std::pair(0.0, 0.0));
        double untouched = 7.0;
        plot.getCursorValues(1, &untouched, nullptr);
        plot.getCursorValues(3, &untouched, &untouched);
        EXPECT_EQ(untouched, 7.0);
    });
}

TEST_F(Plot, DrawCopiesOneBlockAndSwitchingOffRedrawsAtOnce) {
    run([&] {
        standard();
        for (int k = 0; k < 100; ++k) plot.addSample(0, 90.0);
        plot.draw();
        auto canvas = [&] { return backend.canvas(page, kHost); };
        ASSERT_NE(canvas(), nullptr);
        ASSERT_EQ(canvas()->ops.size(), 1u);
        EXPECT_EQ(canvas()->ops[0].kind, Kind::Copy);
        EXPECT_EQ(canvas()->ops[0].rect, (ui::Rect{0, 0, 380, 240}));
        EXPECT_EQ(ui::RecordingContext(canvas()).pixel({L + 50, B - 90}), kRed);
        const int red = countPixels(*canvas(), kRed);

        plot.setChannel(0, kRed, 0);
        EXPECT_EQ(canvas()->ops.size(), 2u);
        EXPECT_EQ(countPixels(*canvas(), kRed), 0);
        // Switching on waits for the next draw and shows the old samples.
        plot.setChannel(0, kRed, 1);
        EXPECT_EQ(canvas()->ops.size(), 2u);
        plot.draw();
        EXPECT_EQ(countPixels(*canvas(), kRed), red);
    });
}

TEST_F(Plot, ClearAndReattach) {
    ui::Dialog other{resources::kScopePage};
    run([&] {
        standard();
        for (int k = 0; k < 10; ++k) plot.addSample(0, k);
        render(P{R, T});
        plot.clear();
        EXPECT_EQ(plot.channel(0).count, 0);
        EXPECT_EQ(plot.channel(0).max, 180.0);
        EXPECT_EQ(cursor(0).second, 180.0);
        for (int k = 0; k < 10; ++k) plot.addSample(0, k);
        EXPECT_EQ(plot.pixels(0)[0], (P{L, B}));

        // The same host resized keeps the samples, placed in the new
        // rectangle (90, 20, 390, 260): y = 20 + (180 - v) * 240 / 180.
        page.control(kHost).move(ui::Rect::fromXywh(5, 5, 480, 300));
        plot.attach(&page, kHost);
        EXPECT_EQ(plot.pixels(0)[3], (P{L + 9, 256}));
        plot.draw();
        EXPECT_EQ(backend.canvas(page, kHost)->size, (ui::Size{480, 300}));
        // Another host starts empty.
        ASSERT_TRUE(other.create(main, 1064));
        plot.attach(&other, kHost);
        EXPECT_EQ(plot.channel(0).count, 0);
    });
}

// The poll thread appends while the user interface thread draws, rescales and
// reads. Every reader must see whole samples in order: each channel holds
// consecutive sample numbers, never a half-moved buffer.
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
        bool ordered = true;
        for (int round = 0; !done.load(std::memory_order_relaxed) || round < 3; ++round) {
            plot.draw();
            plot.setRange(round % 3, 0.0, round % 2 ? 60000.0 : 50000.0);
            plot.setTimebase(5, round % 2 ? 1000 : 2000, 10, 10);
            for (int ch = 0; ch < 3; ++ch) {
                const auto v = plot.values(ch);
                for (std::size_t i = 1; i < v.size(); ++i) ordered &= v[i] == v[i - 1] + 1;
            }
        }
        poll.join();
        EXPECT_TRUE(ordered);
        plot.setTimebase(5, 1000, 10, 10);
        for (int ch = 0; ch < 3; ++ch) {
            const auto v = plot.values(ch);
            ASSERT_EQ(v.size(), 1001u);  // the window holds both of its ends
            EXPECT_EQ(v.back(), kSamples - 1);
        }
    });
}

// The drawing of curves before the column pass: lines and runs sent one by one
// to the context. The column pass must set exactly its pixels.
void referenceCurve(ui::DrawContext& dc, const std::vector<P>& px, ui::Color colour) {
    struct {
        bool open = false;
        int x = 0, low = 0, high = 0, last = 0;
    } col;
    const auto close = [&] {
        if (!col.open) return;
        col.open = false;
        if (col.low == col.high) return;
        dc.fillRect({col.x, col.low, col.x + 1, col.high + 1}, colour);
        dc.moveTo({col.x, col.last});
    };
    dc.setPen(ui::PenStyle::Solid, colour, 1);
    for (std::size_t j = 0; j < px.size(); ++j) {
        const auto [x, y] = px[j];
        if (y < T || y > B) {
            close();
            dc.moveTo({x, y < T ? T : B});
            continue;
        }
        if (col.open && x == col.x) {
            col.low = std::min(col.low, y);
            col.high = std::max(col.high, y);
            col.last = y;
            continue;
        }
        close();
        if (j == 0)
            dc.moveTo({x, y});
        else
            dc.lineTo({x, y});
        col = {true, x, y, y, y};
    }
    close();
}

TEST_F(Plot, TheColumnPassSetsThePixelsOfTheLineByLineDrawing) {
    run([&] {
        // Dense and sparse stretches, steep and flat, leaving the range both ways.
        for (int points : {20000, 3000, 150, 60}) {
            SCOPED_TRACE(points);
            standard(points);
            plot.clear();
            std::uint32_t seed = 99u + static_cast<std::uint32_t>(points);
            for (int k = 0; k < points; ++k) {
                seed = seed * 1103515245u + 12345u;
                const double wave = 90.0 + 110.0 * std::sin(k * 0.013) * std::cos(k * 0.0011);
                plot.addSample(0, wave + static_cast<double>((seed >> 16) % 60) - 30.0);
            }
            const auto dc = render();
            ui::RecordingContext reference({380, 240}, kBlack);
            referenceCurve(reference, plot.pixels(0), kRed);
            int red = 0;
            for (int y = 0; y < 240; ++y)
                for (int x = L; x <= R; ++x) {
                    const bool want = reference.pixel({x, y}) == kRed;
                    ASSERT_EQ(dc.pixel({x, y}) == kRed, want) << x << "," << y;
                    red += want ? 1 : 0;
                }
            EXPECT_GT(red, 150);
        }
    });
}

TEST_F(Plot, TheTimeAxisFollowsTheInstantsAndTracesAreNotJoined) {
    run([&] {
        standard(10);  // 10 x 5 ms: x = 90 + 20 per 5 ms
        // Samples 6.5 ms apart sit 26 pixels apart, not 20.
        plot.addSample(0, 100.0, 1'000'000);
        plot.addSample(0, 100.0, 1'006'500);
        plot.addSample(0, 100.0, 1'013'000);
        EXPECT_EQ(plot.pixels(0), (std::vector<P>{{L, 100}, {L + 26, 100}, {L + 52, 100}}));
        // A pause of 20 ms, then a new trace: a gap, no line over it.
        plot.addSample(0, 40.0, 1'033'000, true);
        plot.addSample(0, 40.0, 1'038'000);
        const auto dc = render();
        for (int x = L + 53; x < L + 132; ++x) {
            ASSERT_NE(dc.pixel({x, 100}), kRed) << x;
            ASSERT_NE(dc.pixel({x, 160}), kRed) << x;
        }
        EXPECT_EQ(dc.pixel({L + 140, 160}), kRed);
        EXPECT_EQ(plot.originMicros(), 1'000'000u);

        // Live, the newest sample sits on the right edge once the recording is
        // longer than the window; the labels count from the first sample.
        plot.addSample(0, 40.0, 1'080'000);
        EXPECT_EQ(plot.window().start, 1'030'000u);
        EXPECT_EQ(plot.pixels(0).back(), (P{R, 160}));
        EXPECT_NE(text(render(), u"0.03", kBlack), (P{-1, -1}));

        // Frozen at another start and zoomed out, nothing follows new samples.
        plot.setView(1'000'000);
        plot.setZoom(2);
        plot.addSample(0, 40.0, 1'200'000);
        EXPECT_EQ(plot.window().start, 1'000'000u);
        EXPECT_EQ(plot.window().span, 100'000u);
        EXPECT_EQ(plot.values(0).size(), 6u);
        EXPECT_EQ(plot.oldestMicros(), 1'000'000u);
        EXPECT_EQ(plot.newestMicros(), 1'200'000u);
        EXPECT_EQ(plot.samples(0, 1'006'500, 1'033'000).size(), 3u);
    });
}

TEST_F(Plot, CursorsMarkInstantsAndReadTheValuesThere) {
    run([&] {
        standard(10);
        for (int k = 0; k < 10; ++k) plot.addSample(0, 10.0 * k, 5000u * static_cast<unsigned>(k));
        plot.setView(0);
        EXPECT_EQ(plot.valueAt(0, 0), 0.0);
        EXPECT_EQ(plot.valueAt(0, 12'000), 20.0);  // the last sample at or before
        EXPECT_EQ(plot.valueAt(0, 99'000), 90.0);
        EXPECT_FALSE(plot.valueAt(1, 12'000).has_value());

        plot.setCursors(true, 0.25, 1.5);  // B clamped to the right edge
        EXPECT_EQ(plot.cursorMicros(0), 12'500u);
        EXPECT_EQ(plot.cursorMicros(1), 50'000u);
        const auto dc = render();
        EXPECT_EQ(dc.pixel({L + 50, T + 10}), (ui::Color{255, 255, 0}));
        EXPECT_EQ(dc.pixel({R, T + 10}), (ui::Color{255, 0, 255}));
        plot.setCursors(false, 0.25, 0.5);
        EXPECT_NE(render().pixel({L + 50, T + 10}), (ui::Color{255, 255, 0}));
    });
}

}  // namespace
