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
// a frame, a dotted grid, optional axis labels, a mouse read-out and two
// cursors. It is not a window: it paints onto a control of a page (the host),
// rendering off screen and copying the image to the host in one block.
//
// Each channel keeps its last kCapacity samples with the instants they were
// taken, in a ring allocated once. The time axis comes from those instants:
// the window shown spans period x points; live it ends at the newest sample,
// or it starts where setView puts it (freeze, trigger captures). A sample that
// starts a new trace (after a clear, a new period or a pause) is not joined to
// the one before it. Pixel positions are worked out at each render, one pass
// over the samples in the window that draws each pixel column once.
//
// Threads: addSample may be called from any thread; every other member
// belongs to the user interface thread. One mutex per plot makes each
// operation on the channel buffers whole.
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
    // Appends a sample taken at `timeMicros` (monotonic, never earlier than
    // the channel's last); a full channel drops its oldest. Ignored before
    // attach, before the first setTimebase and for channels outside 0..2.
    // Allocates nothing.
    void addSample(int channel, double value, std::uint64_t timeMicros, bool newTrace = false);
    // As above, one nominal period after the channel's last sample.
    void addSample(int channel, double value);
    // Empties all channels; values, ranges, colours and cursor values stay.
    void clear();

    // --- The window shown.
    // Fixes the window's start (freeze, a trigger capture); nothing follows
    // the newest sample.
    void setView(std::optional<std::uint64_t> startMicros);
    std::optional<std::uint64_t> view() const;
    // Widens the window to `factor` times period x points (1 to 64).
    void setZoom(int factor);
    int zoom() const;
    struct Window {
        std::uint64_t start = 0;
        std::uint64_t span = 0;
    };
    Window window() const;
    // The oldest and newest instants held (0, 0 when empty), and the first
    // instant since the last clear: time 0 of the labels and the export.
    std::uint64_t oldestMicros() const;
    std::uint64_t newestMicros() const;
    std::uint64_t originMicros() const;

    // --- Cursors A and B, at fractions 0..1 of the window.
    void setCursors(bool shown, double a, double b);
    bool cursorsShown() const;
    // The instant of a cursor (0 = A, 1 = B).
    std::uint64_t cursorMicros(int cursor) const;
    // The channel's value at an instant: its last sample at or before it,
    // nothing before its first.
    std::optional<double> valueAt(int channel, std::uint64_t timeMicros) const;
    // The held samples of a channel between two instants (inclusive), in order.
    struct Sample {
        std::uint64_t timeMicros = 0;
        double value = 0.0;
    };
    std::vector<Sample> samples(int channel, std::uint64_t from, std::uint64_t to) const;
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
    // The samples in the window, oldest first, and their pixel positions.
    std::vector<double> values(int channel) const;
    std::vector<ui::Point> pixels(int channel) const;

  private:
    struct Channel {
        ui::Color colour = kBackground;
        int enabled = 0;
        int count = 0;
        int head = 0;  // ring index of the oldest sample
        double min = 0.0;
        double max = 0.0;
        double cursorTime = 0.0;
        double cursorValue = 0.0;
        std::unique_ptr<double[]> values;
        std::unique_ptr<std::uint64_t[]> times;
        std::unique_ptr<bool[]> traceStarts;
        int slot(int i) const { return (head + i) % kCapacity; }
    };

    // The following run with mutex_ held.
    void setMargins(bool labels);
    Window windowLocked() const;
    // Seconds from the first sample since the clear to the window's start.
    double windowOffsetSeconds() const;
    // The first sample at or after t (count when none).
    int lowerBound(const Channel& c, std::uint64_t t) const;
    // Pixel positions in a window: time and value scaled by one multiplication each.
    struct Scale {
        int left = 0;
        std::uint64_t start = 0;
        double x = 0.0;
        bool flat = false;
        int top = 0;
        double max = 0.0;
        double y = 0.0;
        int px(std::uint64_t t) const;
        int py(double v) const;
        // The first instant from `from` on whose x is at least `column`.
        std::uint64_t firstAt(int column, std::uint64_t from) const;
    };
    Scale scale(const Channel& c, const Window& w) const;
    int pixelX(const Window& w, std::uint64_t t) const;
    void renderLabels(ui::DrawContext& dc, double dx, double dy, int xDiv, int yDiv);
    void renderCursor(ui::Point cursor);
    void renderCurve(ui::DrawContext& dc, const Channel& c, const Window& w);
    void renderCursors(ui::DrawContext& dc, const Window& w) const;

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
    std::optional<std::uint64_t> view_;
    int zoom_ = 1;
    bool hasOrigin_ = false;
    std::uint64_t origin_ = 0;
    bool cursorsShown_ = false;
    std::array<double, 2> cursorAt_{0.25, 0.75};
    std::array<Channel, kChannels> channels_;
    // The curve's pixel runs of one render, kept for the next.
    std::vector<ui::PixelRun> runs_;
};

}  // namespace pages
