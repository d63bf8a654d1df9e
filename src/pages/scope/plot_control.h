#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "ui/dialog.h"
#include "ui/draw.h"
#include "ui/geometry.h"

namespace pages {

// The scope's strip chart: up to three channels over a common time axis, with
// a frame, a dotted grid, optional axis labels and a cursor read-out. It is not
// a window: it paints onto a control of a page (the host), rendering off screen
// and copying the image to the host in one block.
//
// Samples are kept in buffers allocated once (kCapacity per channel); a
// sample's pixel position is computed when it arrives and again only when the
// scale changes (range, points, margins, host size), so rendering only walks
// stored points.
//
// Threads: addSample may be called from any thread (the poll thread); every
// other member belongs to the user interface thread. One mutex per plot makes
// each operation on the channel buffers whole, so a render never sees a
// half-moved buffer and a count never passes the buffers' end. The page must
// stop calling addSample before the plot is destroyed.
class PlotControl {
  public:
    static constexpr int kChannels = 3;
    static constexpr int kCapacity = 20000;
    static constexpr int kMinPeriodMs = 5;
    static constexpr int kMaxPeriodMs = 3000;
    static constexpr int kMinPoints = 10;
    // Margins of the plot rectangle inside the host's client area.
    static constexpr int kLabelMarginX = 90;
    static constexpr int kLabelMarginTop = 20;
    static constexpr int kLabelMarginBottom = 40;
    static constexpr int kPlainMargin = 10;

    static constexpr ui::Color kBackground{64, 128, 128};

    PlotControl();
    ~PlotControl();
    PlotControl(const PlotControl&) = delete;
    PlotControl& operator=(const PlotControl&) = delete;

    // Binds the plot to control `hostId` of `page` and sizes the off-screen
    // image to it. A new host empties all channels; the same host again (a
    // resize) keeps the samples and does not rescale: the page calls
    // setShowLabels right after. A null page, or one whose window does not
    // exist, changes nothing.
    void attach(ui::Dialog* page, int hostId);
    // Margins for labels on (non-zero) or off, then rescales all channels.
    void setShowLabels(int on);
    // Clamps the period to 5..3000 ms and the points to 10..20000 and stores
    // them with the grid divisions. Returns 1 when anything changed, 0 when not;
    // rescales only when period or points changed.
    int setTimebase(int periodMs, int points, int xDivisions, int yDivisions);
    // Stores the channel's range and rescales it when min or max moved by more
    // than 0.001. Returns 1 then, else 0 (also before attach and for a channel
    // outside 0..2). max == min leaves the channel without a vertical scale:
    // its points count as outside the plot and no line is drawn for them.
    int setRange(int channel, double min, double max);
    // Colour and on/off state. Switching an enabled channel off draws at once;
    // switching it on again shows the samples it held.
    void setChannel(int channel, ui::Color colour, int enabled);
    // Appends a sample; a full channel drops its oldest and scrolls left.
    // Ignored before attach, before the first setTimebase and for channels
    // outside 0..2. Allocates nothing.
    void addSample(int channel, double value);
    // Empties all channels; values, ranges, colours and cursor values stay.
    void clear();
    // Renders off screen with the mouse position over the host and copies
    // the image to the host in one block. Nothing before attach.
    void draw();
    // Renders the client area into dc. `cursor` is the mouse position in the
    // host's client pixels; inside the plot rectangle it updates the cursor
    // read-out, otherwise (or without one) the read-out keeps its values.
    void render(ui::DrawContext& dc, std::optional<ui::Point> cursor);
    // The time (seconds) and the channel's value at the cursor, as of the last
    // render. Nothing before attach, for a channel outside 0..2 or a null out
    // argument.
    void getCursorValues(int channel, double* time, double* value) const;

    // --- State, for the page and tests (user interface thread).
    bool bound() const;
    ui::Rect clientRect() const;
    ui::Rect plotRect() const;
    int period() const;
    int points() const;
    int xDivisions() const;
    int yDivisions() const;
    bool labelsShown() const;
    struct ChannelState {
        ui::Color colour;
        int enabled = 0;
        int count = 0;
        double min = 0.0;
        double max = 0.0;
    };
    ChannelState channel(int channel) const;
    // The held samples, oldest first, and their pixel positions.
    std::vector<double> values(int channel) const;
    std::vector<ui::Point> pixels(int channel) const;

  private:
    struct Channel {
        ui::Color colour = kBackground;
        int enabled = 0;
        int count = 0;
        double min = 0.0;
        double max = 0.0;
        double cursorTime = 0.0;
        double cursorValue = 0.0;
        // Structure of arrays: a scroll moves values and y, while x stays
        // with its index.
        std::unique_ptr<double[]> values;
        std::unique_ptr<int[]> xs;
        std::unique_ptr<int[]> ys;
    };

    // The following run with mutex_ held.
    void setMargins(bool labels);
    void rescale(Channel& c);
    int pixelX(std::int64_t index) const;
    int pixelY(const Channel& c, double v) const;
    void renderLabels(ui::DrawContext& dc, double dx, double dy, int xDiv, int yDiv);
    void renderCursor(ui::Point cursor);
    void renderCurve(ui::DrawContext& dc, const Channel& c) const;

    mutable std::mutex mutex_;
    ui::Dialog* host_ = nullptr;
    int hostId_ = 0;
    std::unique_ptr<ui::DrawContext> window_;
    std::unique_ptr<ui::DrawContext> memory_;
    ui::Rect client_;
    ui::Rect plot_;
    int xDivisions_ = 1;
    int yDivisions_ = 1;
    int period_ = 0;
    int points_ = 0;
    int labels_ = 1;
    std::array<Channel, kChannels> channels_;
};

}  // namespace pages
