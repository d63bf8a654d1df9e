#include <gtest/gtest.h>

#include "recorder.h"
#include "ui/headless.h"

namespace {

using Kind = ui::RecordingContext::Op::Kind;
constexpr ui::Color kRed{255, 0, 0};
constexpr ui::Color kWhite{255, 255, 255};
constexpr ui::Color kBackground{64, 128, 128};

TEST(RecordingContext, FillsLinesAndDottedLines) {
    ui::HeadlessBackend backend;
    auto dc = ui::createMemoryContext({40, 30});
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(dc->size(), (ui::Size{40, 30}));
    EXPECT_EQ(dc->pixel({0, 0}), (ui::Color{0, 0, 0}));  // a new bitmap is black
    dc->fillRect({0, 0, 40, 30}, kBackground);
    dc->setPen(ui::PenStyle::Solid, kWhite);
    dc->moveTo({2, 2});
    dc->lineTo({12, 2});
    dc->lineTo({12, 12});
    EXPECT_EQ(dc->pixel({2, 2}), kWhite);
    EXPECT_EQ(dc->pixel({11, 2}), kWhite);
    EXPECT_EQ(dc->pixel({12, 2}), kWhite);  // the corner, start of the second line
    EXPECT_EQ(dc->pixel({12, 11}), kWhite);
    EXPECT_EQ(dc->pixel({12, 12}), kBackground);  // GDI leaves out the last point
    EXPECT_EQ(dc->pixel({5, 5}), kBackground);

    dc->setPen(ui::PenStyle::Dot, kWhite);
    dc->moveTo({0, 20});
    dc->lineTo({10, 20});
    int lit = 0;
    for (int x = 0; x < 10; ++x) lit += dc->pixel({x, 20}) == kWhite ? 1 : 0;
    EXPECT_EQ(lit, 5);
    EXPECT_NE(dc->pixel({0, 20}), dc->pixel({1, 20}));

    // A diagonal reaches both axes evenly.
    dc->setPen(ui::PenStyle::Solid, kRed);
    dc->moveTo({20, 0});
    dc->lineTo({30, 10});
    for (int i = 0; i < 10; ++i) EXPECT_EQ(dc->pixel({20 + i, i}), kRed) << i;
    // Clipped, never out of bounds.
    dc->moveTo({-50, -50});
    dc->lineTo({100, 100});
    dc->fillRect({-5, -5, 500, 2}, kRed);
    EXPECT_EQ(dc->pixel({39, 0}), kRed);
    EXPECT_EQ(dc->pixel({40, 0}), std::nullopt);
}

TEST(RecordingContext, OpaqueTextRecordsItsTextAndFillsItsExtent) {
    ui::RecordingContext dc({100, 40}, kBackground);
    EXPECT_EQ(dc.textExtent(u"+5.0"), (ui::Size{24, 12}));
    EXPECT_EQ(dc.textExtent(u"通讯"), (ui::Size{24, 12}));
    dc.setTextColor(kWhite);
    dc.setBackgroundColor(kRed);
    dc.textOut({3, 2}, u"-12");
    ASSERT_EQ(dc.count(Kind::Text), 1u);
    const auto& op = dc.ops().back();
    EXPECT_EQ(op.text, u"-12");
    EXPECT_EQ(op.point, (ui::Point{3, 2}));
    EXPECT_EQ(op.color, kWhite);
    EXPECT_EQ(op.rect, (ui::Rect{3, 2, 21, 14}));
    EXPECT_EQ(dc.pixel({3, 2}), kRed);
    EXPECT_EQ(dc.pixel({20, 13}), kRed);
    EXPECT_EQ(dc.pixel({21, 13}), kBackground);
}

// A window that draws off screen and copies the image to its plot host in one
// block, as the scope page's plot does.
class PlotHost : public ui::Dialog {
  public:
    PlotHost() : Dialog(resources::kScopePage) {}
    int paints = 0;
    void draw() {
        const ui::Rect client = control(1011).clientRect();
        auto memory = ui::createMemoryContext(client.size());
        memory->fillRect(client, kBackground);
        memory->setPen(ui::PenStyle::Solid, kWhite);
        memory->moveTo({10, 10});
        memory->lineTo({client.right - 10, 10});
        auto window = controlContext(1011);
        window->copyFrom(*memory, client, {0, 0});
    }

  protected:
    void onPaint(ui::DrawContext& dc) override {
        ++paints;
        dc.drawIcon({5, 5}, resources::kMainIcon);
        draw();
    }
};

TEST(RecordingContext, BlockCopyReachesTheControlCanvasAndStaysThere) {
    ui::HeadlessBackend backend;
    ui::Dialog main(resources::kMainDialog);
    PlotHost page;
    backend.queueModalScript(102, [&](ui::Dialog&) {
        ASSERT_TRUE(page.create(main, 1064));
        EXPECT_EQ(backend.canvas(page, 1011), nullptr);
        page.draw();
        auto canvas = backend.canvas(page, 1011);
        ASSERT_NE(canvas, nullptr);
        ui::RecordingContext view(canvas);
        EXPECT_EQ(view.size(), page.control(1011).clientRect().size());
        EXPECT_EQ(view.count(Kind::Copy), 1u);
        EXPECT_EQ(view.count(Kind::LineTo), 0u);  // drawn off screen, only copied
        EXPECT_EQ(view.pixel({20, 10}), kWhite);
        EXPECT_EQ(view.pixel({20, 11}), kBackground);

        // A paint request runs the handler with a context of the page's size.
        auto painted = backend.paint(page);
        EXPECT_EQ(page.paints, 1);
        EXPECT_EQ(painted->size, page.clientRect().size());
        ui::RecordingContext paintView(painted);
        EXPECT_EQ(paintView.count(Kind::Icon), 1u);
        EXPECT_EQ(backend.canvas(page, 1011)->ops.size(), 2u);

        // A resized host gets a fresh canvas of its new size, and a context
        // kept from before draws on it.
        auto kept = page.controlContext(1011);
        page.control(1011).move(ui::Rect::fromXywh(5, 5, 200, 100));
        page.draw();
        EXPECT_EQ(backend.canvas(page, 1011)->size, (ui::Size{200, 100}));
        EXPECT_EQ(backend.canvas(page, 1011)->ops.size(), 1u);
        kept->fillRect({0, 0, 5, 5}, kRed);
        EXPECT_EQ(kept->size(), (ui::Size{200, 100}));
        EXPECT_EQ(ui::RecordingContext(backend.canvas(page, 1011)).pixel({2, 2}), kRed);
    });
    main.runModal();
}

}  // namespace
