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
        c.xs = std::make_unique<int[]>(kCapacity);
        c.ys = std::make_unique<int[]>(kCapacity);
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

int PlotControl::pixelX(std::int64_t index) const {
    if (points_ <= 0) return plot_.left;
    const std::int64_t span = static_cast<std::int64_t>(plot_.right - plot_.left) * index;
    return toPixel(plot_.left + static_cast<double>(span) / points_ + kRound);
}

int PlotControl::pixelY(const Channel& c, double v) const {
    // Without a vertical scale every point lies outside the plot.
    if (c.max == c.min) return -kFar;
    return toPixel(plot_.top + (c.max - v) * (plot_.bottom - plot_.top) / (c.max - c.min) + kRound);
}

void PlotControl::rescale(Channel& c) {
    if (c.count > points_) {
        const int drop = c.count - points_;
        std::memmove(c.values.get(), c.values.get() + drop,
                     static_cast<std::size_t>(points_) * sizeof(double));
        c.count = points_;
    }
    for (int i = 0; i < c.count; ++i) {
        c.xs[i] = pixelX(i);
        c.ys[i] = pixelY(c, c.values[i]);
    }
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
    if (newHost)
        for (Channel& c : channels_) c.count = 0;
}

void PlotControl::setShowLabels(int on) {
    std::lock_guard lock(mutex_);
    setMargins(on != 0);
    for (Channel& c : channels_) rescale(c);
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
    for (Channel& c : channels_) rescale(c);
    return 1;
}

int PlotControl::setRange(int channel, double min, double max) {
    std::lock_guard lock(mutex_);
    if (!host_ || !validChannel(channel)) return 0;
    Channel& c = channels_[static_cast<std::size_t>(channel)];
    if (std::fabs(c.min - min) <= 0.001 && std::fabs(c.max - max) <= 0.001) return 0;
    c.min = min;
    c.max = max;
    rescale(c);
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

void PlotControl::addSample(int channel, double value) {
    std::lock_guard lock(mutex_);
    if (!host_ || !validChannel(channel) || points_ == 0) return;
    Channel& c = channels_[static_cast<std::size_t>(channel)];
    const int n = c.count;
    const int x = pixelX(n);
    const int y = pixelY(c, value);
    if (n < points_) {
        c.values[n] = value;
        c.xs[n] = x;
        c.ys[n] = y;
        c.count = n + 1;
        return;
    }
    // Full: values and y move down one place; every x stays where it is, and
    // the newest point lands on the right edge.
    std::memmove(c.values.get(), c.values.get() + 1,
                 static_cast<std::size_t>(n - 1) * sizeof(double));
    std::memmove(c.ys.get(), c.ys.get() + 1, static_cast<std::size_t>(n - 1) * sizeof(int));
    c.values[n - 1] = value;
    c.xs[n - 1] = x;
    c.ys[n - 1] = y;
}

void PlotControl::clear() {
    std::lock_guard lock(mutex_);
    for (Channel& c : channels_) c.count = 0;
}

void PlotControl::draw() {
    if (!host_ || !host_->exists() || !host_->hasControl(hostId_) || !memory_ || !window_) return;
    render(*memory_, host_->cursorPosition(hostId_));
    window_->copyFrom(*memory_, ui::Rect{0, 0, client_.width(), client_.height()}, {0, 0});
}

void PlotControl::render(ui::DrawContext& dc, std::optional<ui::Point> cursor) {
    std::lock_guard lock(mutex_);
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
        renderCurve(dc, c);
    }
}

void PlotControl::renderLabels(ui::DrawContext& dc, double dx, double dy, int xDiv, int yDiv) {
    const int L = plot_.left, T = plot_.top, R = plot_.right, B = plot_.bottom;
    const double msPerDivision = static_cast<double>(period_) * points_ / xDiv;

    dc.setTextColor(kBlack);
    dc.textOut({R, B + 20}, u"s");
    for (int i = 0; i <= xDiv; ++i) {
        if (xDiv > 10 && i % 2 != 0) continue;
        const std::u16string text = format("%.2f", i * msPerDivision * 0.001);
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
        R > L ? (cursor.x - L) * static_cast<double>(period_) * points_ * 0.001 / (R - L) : 0.0;
    for (Channel& c : channels_) {
        c.cursorTime = time;
        c.cursorValue = B > T ? c.max - (cursor.y - T) * (c.max - c.min) / (B - T) : c.max;
    }
}

void PlotControl::renderCurve(ui::DrawContext& dc, const Channel& c) const {
    const int T = plot_.top, B = plot_.bottom;
    // An outside point is only moved to on its border, so a stretch outside the
    // range leaves a gap that the next inside point closes from that border.
    //
    // With more points than pixel columns, consecutive inside points that share
    // a column are drawn as one vertical run over their extent (the pixels the
    // segments between them would set), filled rather than stroked since fills
    // cost the toolkits far less; the next column is joined from the last of
    // them.
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
        dc.fillRect({col.x, col.low, col.x + 1, col.high + 1}, c.colour);
        dc.moveTo({col.x, col.last});
    };
    for (int j = 0; j < c.count; ++j) {
        const int x = c.xs[j];
        const int y = c.ys[j];
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
    return {c.values.get(), c.values.get() + c.count};
}

std::vector<ui::Point> PlotControl::pixels(int channel) const {
    std::lock_guard lock(mutex_);
    if (!validChannel(channel)) return {};
    const Channel& c = channels_[static_cast<std::size_t>(channel)];
    std::vector<ui::Point> out(static_cast<std::size_t>(c.count));
    for (int i = 0; i < c.count; ++i) out[static_cast<std::size_t>(i)] = {c.xs[i], c.ys[i]};
    return out;
}

}  // namespace pages
