#include "pages/scope/plot_control.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "ui/backend.h"

namespace pages {
namespace {

constexpr ui::Color kBlack{0, 0, 0};
constexpr ui::Color kWhite{255, 255, 255};
// Pixel positions are computed in floating point, nudged by this and truncated.
constexpr double kRound = 0.00005;
// Coordinates far outside any plot rectangle stand for positions that do not
// fit an int (huge values, no vertical scale); they are never drawn to.
constexpr int kFar = 1 << 30;

// Truncation toward zero, saturated; NaN counts as above the plot.
int toPixel(double v) {
    if (std::isnan(v)) return -kFar;
    if (v <= -kFar) return -kFar;
    if (v >= kFar) return kFar;
    return static_cast<int>(v);
}

template <class... Args>
std::u16string format(const char* fmt, Args... args) {
    // Large enough for "%.1f" of any double.
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, fmt, args...);
    std::u16string out;
    if (n <= 0) return out;
    const auto len = std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1);
    out.reserve(len);
    for (std::size_t i = 0; i < len; ++i) out.push_back(static_cast<unsigned char>(buffer[i]));
    return out;
}

std::u16string valueLabel(double v) {
    if (v > 0.001) return format("+%.1f", v);
    if (std::fabs(v) >= 0.001) return format("%.1f", v);
    return u"0.0";
}

bool validChannel(int channel) {
    return channel >= 0 && channel < PlotControl::kChannels;
}

}  // namespace

PlotControl::PlotControl() {
    for (Channel& c : channels_) {
        c.values = std::make_unique<double[]>(kCapacity);
        c.times = std::make_unique<std::uint64_t[]>(kCapacity);
        c.traceStarts = std::make_unique<bool[]>(kCapacity);
    }
}

PlotControl::~PlotControl() = default;

void PlotControl::setMargins(bool labels) {
    if (labels)
        plot_ = {client_.left + kLabelMarginX, client_.top + kLabelMarginTop,
                 client_.right - kLabelMarginX, client_.bottom - kLabelMarginBottom};
    else
        plot_ = {client_.left + kPlainMargin, client_.top + kPlainMargin,
                 client_.right - kPlainMargin, client_.bottom - kPlainMargin};
}

PlotControl::Window PlotControl::windowLocked() const {
    Window w;
    w.span = static_cast<std::uint64_t>(period_) * 1000u * static_cast<std::uint64_t>(points_) *
             static_cast<std::uint64_t>(zoom_);
    if (view_) {
        w.start = *view_;
        return w;
    }
    // Live: the newest sample on the right edge once the recording is longer
    // than the window; until then the recording starts on the left edge.
    std::uint64_t newest = 0;
    for (const Channel& c : channels_)
        if (c.count > 0) newest = std::max(newest, c.times[c.slot(c.count - 1)]);
    w.start = newest > origin_ + w.span ? newest - w.span : origin_;
    return w;
}

int PlotControl::lowerBound(const Channel& c, std::uint64_t t) const {
    int lo = 0, hi = c.count;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (c.times[c.slot(mid)] < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

PlotControl::Scale PlotControl::scale(const Channel& c, const Window& w) const {
    Scale k;
    k.left = plot_.left;
    k.start = w.start;
    k.x =
        w.span ? static_cast<double>(plot_.right - plot_.left) / static_cast<double>(w.span) : 0.0;
    // Without a vertical scale every point lies outside the plot.
    k.flat = c.max == c.min;
    k.top = plot_.top;
    k.max = c.max;
    k.y = k.flat ? 0.0 : (plot_.bottom - plot_.top) / (c.max - c.min);
    return k;
}

// The nudge before truncation is far larger than the rounding of the one
// multiplication, so a point on a pixel's edge stays on it.
int PlotControl::Scale::px(std::uint64_t t) const {
    return toPixel(left + static_cast<double>(static_cast<std::int64_t>(t - start)) * x + kRound);
}

int PlotControl::Scale::py(double v) const {
    return flat ? -kFar : toPixel(top + (max - v) * y + kRound);
}

std::uint64_t PlotControl::Scale::firstAt(int column, std::uint64_t from) const {
    if (x <= 0.0) return UINT64_MAX;
    // An estimate from the inverse, then moved to the exact first instant at
    // which px reaches the column (px never decreases with t).
    const double guess = static_cast<double>(start) + (column - left - kRound) / x;
    if (guess >= 1.8e19) return UINT64_MAX;
    std::uint64_t t = guess > static_cast<double>(from) ? static_cast<std::uint64_t>(guess) : from;
    while (px(t) < column) ++t;
    while (t > from && px(t - 1) >= column) --t;
    return t;
}

int PlotControl::pixelX(const Window& w, std::uint64_t t) const {
    return scale(channels_[0], w).px(t);
}

void PlotControl::attach(ui::Dialog* page, int hostId) {
    if (!page || !page->exists() || !page->hasControl(hostId)) return;
    const ui::Control& host = page->control(hostId);
    const ui::Rect client = host.clientRect();
    const bool newHost = page != host_ || hostId != hostId_;
    // Contexts are made outside the lock: only this thread uses them.
    auto window = page->controlContext(hostId);
    auto memory = ui::createMemoryContext(client.size());
    if (!window || !memory) return;
    window_ = std::move(window);
    memory_ = std::move(memory);
    std::lock_guard lock(mutex_);
    host_ = page;
    hostId_ = hostId;
    client_ = client;
    setMargins(true);
    if (newHost) {
        for (Channel& c : channels_) c.count = 0;
        hasOrigin_ = false;
        origin_ = 0;
    }
}

void PlotControl::setShowLabels(int on) {
    std::lock_guard lock(mutex_);
    setMargins(on != 0);
    labels_ = on;
}

int PlotControl::setTimebase(int periodMs, int points, int xDivisions, int yDivisions) {
    periodMs = std::clamp(periodMs, kMinPeriodMs, kMaxPeriodMs);
    points = std::clamp(points, kMinPoints, kCapacity);
    std::lock_guard lock(mutex_);
    if (periodMs == period_ && points == points_) {
        if (xDivisions == xDivisions_ && yDivisions == yDivisions_) return 0;
        xDivisions_ = xDivisions;
        yDivisions_ = yDivisions;
        return 1;
    }
    period_ = periodMs;
    points_ = points;
    xDivisions_ = xDivisions;
    yDivisions_ = yDivisions;
    return 1;
}

int PlotControl::setRange(int channel, double min, double max) {
    std::lock_guard lock(mutex_);
    if (!host_ || !validChannel(channel)) return 0;
    Channel& c = channels_[static_cast<std::size_t>(channel)];
    if (std::fabs(c.min - min) <= 0.001 && std::fabs(c.max - max) <= 0.001) return 0;
    c.min = min;
    c.max = max;
    return 1;
}

void PlotControl::setChannel(int channel, ui::Color colour, int enabled) {
    bool redraw = false;
    {
        std::lock_guard lock(mutex_);
        if (!host_ || !validChannel(channel)) return;
        Channel& c = channels_[static_cast<std::size_t>(channel)];
        c.colour = colour;
        redraw = c.enabled != 0 && enabled == 0;
        c.enabled = enabled;
    }
    // The curve vanishes now rather than at the page's next refresh.
    if (redraw) draw();
}

void PlotControl::addSample(int channel, double value, std::uint64_t timeMicros, bool newTrace) {
    std::lock_guard lock(mutex_);
    if (!host_ || !validChannel(channel) || points_ == 0) return;
    Channel& c = channels_[static_cast<std::size_t>(channel)];
    if (!hasOrigin_) {
        hasOrigin_ = true;
        origin_ = timeMicros;
    }
    // Time never runs backwards within a channel: the window search relies on it.
    if (c.count > 0) timeMicros = std::max(timeMicros, c.times[c.slot(c.count - 1)]);
    int at = 0;
    if (c.count < kCapacity) {
        at = c.slot(c.count++);
    } else {
        at = c.head;
        c.head = (c.head + 1) % kCapacity;
    }
    c.values[at] = value;
    c.times[at] = timeMicros;
    c.traceStarts[at] = newTrace;
}

void PlotControl::addSample(int channel, double value) {
    std::uint64_t t = 0;
    {
        std::lock_guard lock(mutex_);
        if (!validChannel(channel)) return;
        const Channel& c = channels_[static_cast<std::size_t>(channel)];
        if (c.count > 0)
            t = c.times[c.slot(c.count - 1)] + static_cast<std::uint64_t>(period_) * 1000u;
    }
    addSample(channel, value, t, false);
}

void PlotControl::clear() {
    std::lock_guard lock(mutex_);
    for (Channel& c : channels_) {
        c.count = 0;
        c.head = 0;
    }
    hasOrigin_ = false;
    origin_ = 0;
}

void PlotControl::setView(std::optional<std::uint64_t> startMicros) {
    std::lock_guard lock(mutex_);
    view_ = startMicros;
}

std::optional<std::uint64_t> PlotControl::view() const {
    std::lock_guard lock(mutex_);
    return view_;
}

void PlotControl::setZoom(int factor) {
    std::lock_guard lock(mutex_);
    zoom_ = std::clamp(factor, 1, 64);
}

int PlotControl::zoom() const {
    std::lock_guard lock(mutex_);
    return zoom_;
}

PlotControl::Window PlotControl::window() const {
    std::lock_guard lock(mutex_);
    return windowLocked();
}

std::uint64_t PlotControl::oldestMicros() const {
    std::lock_guard lock(mutex_);
    std::uint64_t t = 0;
    bool any = false;
    for (const Channel& c : channels_)
        if (c.count > 0) {
            t = any ? std::min(t, c.times[c.head]) : c.times[c.head];
            any = true;
        }
    return t;
}

std::uint64_t PlotControl::newestMicros() const {
    std::lock_guard lock(mutex_);
    std::uint64_t t = 0;
    for (const Channel& c : channels_)
        if (c.count > 0) t = std::max(t, c.times[c.slot(c.count - 1)]);
    return t;
}

std::uint64_t PlotControl::originMicros() const {
    std::lock_guard lock(mutex_);
    return origin_;
}

void PlotControl::setCursors(bool shown, double a, double b) {
    std::lock_guard lock(mutex_);
    cursorsShown_ = shown;
    cursorAt_ = {std::clamp(a, 0.0, 1.0), std::clamp(b, 0.0, 1.0)};
}

bool PlotControl::cursorsShown() const {
    std::lock_guard lock(mutex_);
    return cursorsShown_;
}

std::uint64_t PlotControl::cursorMicros(int cursor) const {
    std::lock_guard lock(mutex_);
    const Window w = windowLocked();
    const double f = cursorAt_[cursor == 0 ? 0 : 1];
    return w.start + static_cast<std::uint64_t>(std::llround(f * static_cast<double>(w.span)));
}

std::optional<double> PlotControl::valueAt(int channel, std::uint64_t timeMicros) const {
    std::lock_guard lock(mutex_);
    if (!validChannel(channel)) return std::nullopt;
    const Channel& c = channels_[static_cast<std::size_t>(channel)];
    int i = lowerBound(c, timeMicros);
    if (i < c.count && c.times[c.slot(i)] == timeMicros) return c.values[c.slot(i)];
    if (i == 0) return std::nullopt;
    return c.values[c.slot(i - 1)];
}

std::vector<PlotControl::Sample> PlotControl::samples(int channel, std::uint64_t from,
                                                      std::uint64_t to) const {
    std::lock_guard lock(mutex_);
    std::vector<Sample> out;
    if (!validChannel(channel)) return out;
    const Channel& c = channels_[static_cast<std::size_t>(channel)];
    for (int i = lowerBound(c, from); i < c.count && c.times[c.slot(i)] <= to; ++i)
        out.push_back({c.times[c.slot(i)], c.values[c.slot(i)]});
    return out;
}

void PlotControl::draw() {
    if (!host_ || !host_->exists() || !host_->hasControl(hostId_) || !memory_ || !window_) return;
    render(*memory_, host_->cursorPosition(hostId_));
    window_->copyFrom(*memory_, ui::Rect{0, 0, client_.width(), client_.height()}, {0, 0});
}

void PlotControl::render(ui::DrawContext& dc, std::optional<ui::Point> cursor) {
    std::lock_guard lock(mutex_);
    const Window w = windowLocked();
    // Grid arithmetic needs at least one division; the page never asks for less.
    const int xDiv = std::max(xDivisions_, 1);
    const int yDiv = std::max(yDivisions_, 1);
    const double dx = static_cast<double>(plot_.right - plot_.left) / xDiv;
    const double dy = static_cast<double>(plot_.bottom - plot_.top) / yDiv;

    dc.setBackgroundColor(kBackground);
    dc.fillRect(client_, kBackground);
    if (labels_) renderLabels(dc, dx, dy, xDiv, yDiv);
    if (cursor) renderCursor(*cursor);

    const int L = plot_.left, T = plot_.top, R = plot_.right, B = plot_.bottom;
    dc.setPen(ui::PenStyle::Solid, kWhite, 1);
    dc.moveTo({L, T});
    dc.lineTo({R, T});
    dc.lineTo({R, B});
    dc.lineTo({L, B});
    dc.lineTo({L, T});

    dc.setPen(ui::PenStyle::Dot, kWhite, 1);
    for (int j = 1; j < xDiv; ++j) {
        const int x = toPixel(L + j * dx);
        dc.moveTo({x, T});
        dc.lineTo({x, B});
    }
    for (int i = 1; i < yDiv; ++i) {
        const int y = toPixel(T + i * dy);
        dc.moveTo({L, y});
        dc.lineTo({R, y});
    }

    for (const Channel& c : channels_) {
        if (!c.enabled) continue;
        dc.setPen(ui::PenStyle::Solid, c.colour, 1);
        renderCurve(dc, c, w);
    }
    if (cursorsShown_) renderCursors(dc, w);
}

double PlotControl::windowOffsetSeconds() const {
    const Window w = windowLocked();
    return w.start > origin_ ? static_cast<double>(w.start - origin_) * 1e-6 : 0.0;
}

void PlotControl::renderLabels(ui::DrawContext& dc, double dx, double dy, int xDiv, int yDiv) {
    const int L = plot_.left, T = plot_.top, R = plot_.right, B = plot_.bottom;
    const double msPerDivision = static_cast<double>(period_) * points_ * zoom_ / xDiv;
    const double offset = windowOffsetSeconds();

    dc.setTextColor(kBlack);
    dc.textOut({R, B + 20}, u"s");
    for (int i = 0; i <= xDiv; ++i) {
        if (xDiv > 10 && i % 2 != 0) continue;
        const std::u16string text = format("%.2f", offset + i * msPerDivision * 0.001);
        const int len = static_cast<int>(text.size());
        dc.textOut({toPixel(L + i * dx - 3 * len), B + 5}, text);
    }

    for (int ch = 0; ch < kChannels; ++ch) {
        const Channel& c = channels_[static_cast<std::size_t>(ch)];
        const double step = (c.max - c.min) / yDiv;
        dc.setTextColor(c.colour);
        for (int u = 0; u <= yDiv; ++u) {
            const std::u16string text = valueLabel(c.max - u * step);
            const int len = static_cast<int>(text.size());
            const int y = toPixel(T + u * dy - 16);
            int x = R + 5;
            if (ch == 0) x = L - 8 * len;
            if (ch == 1) x = L + (R - L) / 2 - 8 * len;
            dc.textOut({x, y}, text);
        }
    }
}

void PlotControl::renderCursor(ui::Point cursor) {
    const int L = plot_.left, T = plot_.top, R = plot_.right, B = plot_.bottom;
    if (cursor.x < L || cursor.x > R || cursor.y < T || cursor.y > B) return;
    // A plot squeezed to a line has no span to divide: the read-out starts there.
    const double time =
        windowOffsetSeconds() +
        (R > L ? (cursor.x - L) * static_cast<double>(period_) * points_ * zoom_ * 0.001 / (R - L)
               : 0.0);
    for (Channel& c : channels_) {
        c.cursorTime = time;
        c.cursorValue = B > T ? c.max - (cursor.y - T) * (c.max - c.min) / (B - T) : c.max;
    }
}

void PlotControl::renderCursors(ui::DrawContext& dc, const Window& w) const {
    static constexpr std::array<ui::Color, 2> kCursorColours{ui::Color{255, 255, 0},
                                                             ui::Color{255, 0, 255}};
    for (std::size_t k = 0; k < 2; ++k) {
        const auto t = w.start + static_cast<std::uint64_t>(
                                     std::llround(cursorAt_[k] * static_cast<double>(w.span)));
        const int x = std::clamp(pixelX(w, t), plot_.left, plot_.right);
        dc.setPen(ui::PenStyle::Dot, kCursorColours[k], 1);
        dc.moveTo({x, plot_.top});
        dc.lineTo({x, plot_.bottom + 1});
    }
}

namespace {

// Draws a curve's pixels by columns: each run of touching pixels in one column
// becomes one filled rectangle, however many segments and samples made it.
// Lines between neighbouring columns are rasterised here exactly as the
// drawing contexts' line does (Bresenham, the end point left to the next
// segment); longer lines go to the context.
class ColumnPainter {
  public:
    ColumnPainter(ui::DrawContext& dc, ui::Color colour, std::vector<ui::PixelRun>& runs)
        : dc_(dc), colour_(colour), runs_(runs) {
        runs_.clear();
    }
    // The runs go to the context in one call; they share the colour of the
    // lines drawn meanwhile, so the order does not show.
    ~ColumnPainter() {
        flush();
        dc_.fillRuns(runs_, colour_);
    }

    void moveTo(ui::Point p) { at_ = p; }
    void lineTo(ui::Point p) {
        const int dx = p.x - at_.x;
        if (dx == 0) {
            // Vertical: from the start up to, not including, the end.
            if (p.y > at_.y) span(at_.x, at_.y, p.y - 1);
            if (p.y < at_.y) span(at_.x, p.y + 1, at_.y);
        } else if (dx == 1) {
            neighbour(p);
        } else {
            if (!drawnTo_ || *drawnTo_ != at_) dc_.moveTo(at_);
            dc_.lineTo(p);
            drawnTo_ = p;
        }
        at_ = p;
    }
    // A vertical run of set pixels, both ends included.
    void span(int x, int low, int high) {
        if (open_ && x == x_ && low <= high_ + 1 && high >= low_ - 1) {
            low_ = std::min(low_, low);
            high_ = std::max(high_, high);
            return;
        }
        flush();
        open_ = true;
        x_ = x;
        low_ = low;
        high_ = high;
    }
    void flush() {
        if (!open_) return;
        open_ = false;
        runs_.push_back({x_, low_, high_});
    }

  private:
    // Bresenham's steps for a line one column to the right, in closed form:
    // with D = |dy| the first column takes the start and the next m = (D - 1) / 2
    // pixels; the x step comes with a y step unless the line is flat.
    void neighbour(ui::Point p) {
        const int d = std::abs(p.y - at_.y);
        const int sy = p.y > at_.y ? 1 : -1;
        const int m = d > 0 ? (d - 1) / 2 : 0;
        const int firstEnd = at_.y + sy * m;
        span(at_.x, std::min(at_.y, firstEnd), std::max(at_.y, firstEnd));
        const int next = firstEnd + (d > 0 ? sy : 0);
        if (next != p.y) {
            const int lastSet = p.y - sy;
            span(p.x, std::min(next, lastSet), std::max(next, lastSet));
        }
    }

    ui::DrawContext& dc_;
    ui::Color colour_;
    std::vector<ui::PixelRun>& runs_;
    ui::Point at_;
    std::optional<ui::Point> drawnTo_;  // the context's own position, when known
    bool open_ = false;
    int x_ = 0;
    int low_ = 0;
    int high_ = 0;
};

}  // namespace

void PlotControl::renderCurve(ui::DrawContext& dc, const Channel& c, const Window& w) {
    const int T = plot_.top, B = plot_.bottom;
    // An outside point is only moved to on its border, so a stretch outside the
    // range leaves a gap that the next inside point closes from that border.
    // A sample that starts a trace is moved to, not joined.
    //
    // Consecutive inside points that share a column are one vertical run over
    // their extent (the pixels the segments between them would set); the next
    // column is joined from the last of them.
    ColumnPainter painter(dc, c.colour, runs_);
    struct Column {
        bool open = false;
        int x = 0;
        int low = 0;
        int high = 0;
        int last = 0;
    } col;
    const auto close = [&] {
        if (!col.open) return;
        col.open = false;
        if (col.low == col.high) return;
        painter.span(col.x, col.low, col.high);
        painter.moveTo({col.x, col.last});
    };
    const std::uint64_t end = w.start + w.span;
    const Scale k = scale(c, w);
    bool first = true;
    // Samples come in time order, so x only changes where a column starts:
    // it is worked out again only at the first instant of the next column.
    int x = 0;
    std::uint64_t nextColumn = 0;
    const int from = lowerBound(c, w.start);
    // Ring index kept by hand: a modulo per sample costs more than the rest.
    int at = from < c.count ? c.slot(from) : 0;
    for (int j = from; j < c.count; ++j, at = at + 1 == kCapacity ? 0 : at + 1) {
        const std::uint64_t t = c.times[at];
        if (t > end) break;
        if (t >= nextColumn) {
            x = k.px(t);
            nextColumn = k.firstAt(x + 1, t);
        }
        const int y = k.py(c.values[at]);
        const bool join = !first && !c.traceStarts[at];
        first = false;
        if (y < T || y > B) {
            close();
            painter.moveTo({x, y < T ? T : B});
            continue;
        }
        if (join && col.open && x == col.x) {
            col.low = std::min(col.low, y);
            col.high = std::max(col.high, y);
            col.last = y;
            continue;
        }
        close();
        if (join)
            painter.lineTo({x, y});
        else
            painter.moveTo({x, y});
        col = {true, x, y, y, y};
    }
    close();
}

void PlotControl::getCursorValues(int channel, double* time, double* value) const {
    if (!time || !value) return;
    std::lock_guard lock(mutex_);
    if (!host_ || !validChannel(channel)) return;
    const Channel& c = channels_[static_cast<std::size_t>(channel)];
    *time = c.cursorTime;
    *value = c.cursorValue;
}

bool PlotControl::bound() const {
    std::lock_guard lock(mutex_);
    return host_ != nullptr;
}
ui::Rect PlotControl::clientRect() const {
    std::lock_guard lock(mutex_);
    return client_;
}
ui::Rect PlotControl::plotRect() const {
    std::lock_guard lock(mutex_);
    return plot_;
}
int PlotControl::period() const {
    std::lock_guard lock(mutex_);
    return period_;
}
int PlotControl::points() const {
    std::lock_guard lock(mutex_);
    return points_;
}
int PlotControl::xDivisions() const {
    std::lock_guard lock(mutex_);
    return xDivisions_;
}
int PlotControl::yDivisions() const {
    std::lock_guard lock(mutex_);
    return yDivisions_;
}
bool PlotControl::labelsShown() const {
    std::lock_guard lock(mutex_);
    return labels_ != 0;
}

PlotControl::ChannelState PlotControl::channel(int channel) const {
    std::lock_guard lock(mutex_);
    if (!validChannel(channel)) return {};
    const Channel& c = channels_[static_cast<std::size_t>(channel)];
    return {c.colour, c.enabled, c.count, c.min, c.max};
}

std::vector<double> PlotControl::values(int channel) const {
    std::lock_guard lock(mutex_);
    if (!validChannel(channel)) return {};
    const Channel& c = channels_[static_cast<std::size_t>(channel)];
    const Window w = windowLocked();
    std::vector<double> out;
    for (int j = lowerBound(c, w.start); j < c.count && c.times[c.slot(j)] <= w.start + w.span; ++j)
        out.push_back(c.values[c.slot(j)]);
    return out;
}

std::vector<ui::Point> PlotControl::pixels(int channel) const {
    std::lock_guard lock(mutex_);
    if (!validChannel(channel)) return {};
    const Channel& c = channels_[static_cast<std::size_t>(channel)];
    const Window w = windowLocked();
    const Scale k = scale(c, w);
    std::vector<ui::Point> out;
    for (int j = lowerBound(c, w.start); j < c.count && c.times[c.slot(j)] <= w.start + w.span; ++j)
        out.push_back({k.px(c.times[c.slot(j)]), k.py(c.values[c.slot(j)])});
    return out;
}

}  // namespace pages
