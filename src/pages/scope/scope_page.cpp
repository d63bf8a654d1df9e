#include "pages/scope/scope_page.h"

#include <cstdio>
#include <string>
#include <utility>

#include "pages/scope/range_dialog.h"
#include "resources/resources.h"

namespace pages {
namespace {

constexpr ui::Color kWhite{255, 255, 255};

template <class... Args>
std::u16string format(const char* fmt, Args... args) {
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, fmt, args...);
    std::u16string out;
    for (int i = 0; i < n && i < static_cast<int>(sizeof buffer) - 1; ++i)
        out.push_back(static_cast<unsigned char>(buffer[i]));
    return out;
}

}  // namespace

ScopePage::ScopePage(app::AppContext& context)
    : MainPage(resources::kScopePage),
      context_(context),
      acquisition_(context.session, context.language.scopeQuantities()) {
    const data::ScopeTable& list = context_.language.scopeQuantities();
    for (int k = 0; k < kChannels; ++k) {
        if (!list.empty())
            channels_[static_cast<std::size_t>(k)] = {false, true, 0, list[0].address};
        publish(k);
    }
}

ScopePage::~ScopePage() = default;

void ScopePage::publish(int channel) {
    const Channel& c = channels_[static_cast<std::size_t>(channel)];
    acquisition_.setChannel(channel, c.enabled, c.hasRow ? c.row : -1);
}

std::u16string_view ScopePage::uiText(std::size_t entry, std::u16string_view fallback) const {
    return context_.uiText(entry, fallback);
}

// --- User interface thread

bool ScopePage::onInitDialog() {
    setCheck(kShowCoordinates, showCoordinates_);
    layout();
    for (int k = 0; k < kChannels; ++k) {
        swatches_[static_cast<std::size_t>(k)] =
            controlContext(kSwatch[static_cast<std::size_t>(k)]);
        plot_.setChannel(k, kColours[static_cast<std::size_t>(k)], 0);
    }

    ui::Control& points = control(kPointsSlider);
    points.setRange(1, 20);
    points.setPageSize(1);
    points.setPosition(points.rangeLow());
    ui::Control& gain = control(kGainSlider);
    gain.setRange(1, 10);
    gain.setPageSize(1);
    gain.setPosition(gain.rangeHigh());

    ui::Control& period = control(kPeriod);
    period.clearItems();
    for (int ms : kPeriodsMs)
        period.addItem(ms < 1000 ? format("%d ms", ms) : format("%.1f s", ms * 0.001));
    for (int id : {kXGrid, kYGrid}) {
        control(id).clearItems();
        for (int n : kGridCounts) control(id).addItem(format("%d", n));
    }
    const data::ScopeTable& list = context_.language.scopeQuantities();
    for (int id : kQuantity) {
        control(id).clearItems();
        for (const data::ScopeQuantity& q : list) control(id).addItem(q.name.view());
    }

    control(kXGrid).setSelection(2);
    control(kYGrid).setSelection(2);
    period.setSelection(0);
    for (int id : kQuantity) control(id).setSelection(0);
    if (!list.empty())
        for (int k = 0; k < kChannels; ++k) {
            Channel& c = channels_[static_cast<std::size_t>(k)];
            c.hasRow = true;
            c.row = 0;
            c.address = list[0].address;
            publish(k);
        }
    setText(kPointsValue, format("%d", points_));
    applyControls();
    return true;
}

void ScopePage::layout() {
    if (!exists()) return;
    move(context_.pageRect);
    const int W = clientRect().width();
    const int H = clientRect().height();
    const int x0 = W - 135;
    const int right = W - 69;
    const auto place = [this](int id, int x, int y, int w, int h) {
        control(id).move(ui::Rect::fromXywh(x, y, w, h));
    };
    place(kPlotHost, 5, 5, W - 145, H - 10);
    place(kCursorX, x0, 5, 130, 28);
    for (int k = 0; k < kChannels; ++k) {
        const auto i = static_cast<std::size_t>(k);
        place(kCursorY[i], x0, 5 + 30 * (k + 1), 130, 28);
        place(kSwatch[i], x0, 130 + 60 * k, 85, 25);
        place(kOnOff[i], W - 49, 130 + 60 * k, 45, 25);
        place(kQuantity[i], x0, 160 + 60 * k, 130, 20);
    }
    place(kPeriodLabel, x0, 319, 65, 16);
    place(kPeriod, right, 315, 65, 20);
    place(kPointsLabel, x0, 345, 65, 25);
    place(kPointsValue, right, 345, 65, 25);
    place(kPointsSlider, x0, 375, 130, 40);
    place(kXGridLabel, x0, 431, 65, 16);
    place(kXGrid, right, 427, 65, 20);
    place(kYGridLabel, x0, 461, 65, 16);
    place(kYGrid, right, 457, 65, 20);
    place(kShowCoordinates, x0, 487, 130, 20);
    // The three buttons share what is left below the control column.
    const int s = (H - 629) / 4;
    place(kRange, x0, 509 + s, 130, 40);
    place(kClear, x0, 549 + 2 * s, 130, 40);
    place(kPause, x0, 589 + 3 * s, 130, 40);

    plot_.attach(this, kPlotHost);
    plot_.setShowLabels(showCoordinates_);
    showTexts();
}

void ScopePage::showTexts() {
    for (int k = 0; k < kChannels; ++k) {
        const bool on = channels_[static_cast<std::size_t>(k)].enabled;
        setText(kOnOff[static_cast<std::size_t>(k)],
                on ? uiText(111, u"开启") : uiText(112, u"关闭"));
    }
    // Without an entry the template's text stays.
    const std::pair<int, std::size_t> labels[] = {
        {kPeriodLabel, 113},     {kPointsLabel, 114}, {kXGridLabel, 115}, {kYGridLabel, 116},
        {kShowCoordinates, 117}, {kRange, 118},       {kClear, 119}};
    for (const auto& [id, entry] : labels)
        if (context_.uiTexts().present(entry)) setText(id, uiText(entry, u""));
    setText(kPause, paused() ? uiText(121, u"继续") : uiText(120, u"暂停"));
}

void ScopePage::applyControls() {
    if (!exists()) return;
    for (int k = 0; k < kChannels; ++k) {
        Channel& c = channels_[static_cast<std::size_t>(k)];
        const bool on = check(kOnOff[static_cast<std::size_t>(k)]) != 0;
        if (c.enabled != on) {
            c.enabled = on;
            publish(k);
        }
    }

    // One channel's range change per call: each change rescales the plot, so
    // they are spread over the refreshes.
    const data::ScopeTable& list = context_.language.scopeQuantities();
    int changed = 0;
    for (int k = 0; k < kChannels && changed == 0; ++k) {
        const int sel = control(kQuantity[static_cast<std::size_t>(k)]).selection();
        if (sel >= 0 && static_cast<std::size_t>(sel) < list.size()) {
            const data::ScopeQuantity& q = list[static_cast<std::size_t>(sel)];
            changed = plot_.setRange(k, q.minimum, q.maximum);
        }
    }

    points_ = 50 * control(kPointsSlider).position();
    if (points_ != pointsShown_) {
        pointsShown_ = points_;
        setText(kPointsValue, format("%d", points_));
    }
    const int periodIndex = control(kPeriod).selection();
    if (periodIndex >= 0 && periodIndex < static_cast<int>(kPeriodsMs.size())) {
        const int period = kPeriodsMs[static_cast<std::size_t>(periodIndex)];
        if (period != periodTaken_) {
            periodTaken_ = period;
            acquisition_.setSamplePeriodUs(period * 1000);
        }
    }
    const auto grid = [this](int id) {
        const int sel = control(id).selection();
        return sel >= 0 && sel < static_cast<int>(kGridCounts.size())
                   ? kGridCounts[static_cast<std::size_t>(sel)]
                   : kGridCounts[2];
    };
    const int xDivisions = grid(kXGrid);
    const int yDivisions = grid(kYGrid);

    // The time base follows at the next call.
    if (changed == 1) return;
    plot_.setTimebase(periodTaken_ > 0 ? periodTaken_ : kPeriodsMs[0], points_, xDivisions,
                      yDivisions);
}

void ScopePage::takeSamples() {
    acquisition_.takeSamples([this](const drive::ScopeSample& sample) {
        plot_.addSample(sample.channel, static_cast<double>(sample.value));
    });
}

void ScopePage::discardSamples() {
    acquisition_.discardSamples();
}

void ScopePage::refresh() {
    if (!exists()) return;
    takeSamples();
    applyControls();
    plot_.draw();

    double x = 0.0;
    for (int k = 0; k < kChannels; ++k) {
        double y = 0.0;
        plot_.getCursorValues(k, &x, &y);
        setText(kCursorY[static_cast<std::size_t>(k)], format("Y%d: %.2f", k + 1, y));
    }
    setText(kCursorX, format("X: %.2f", x));

    for (int k = 0; k < kChannels; ++k) {
        const auto i = static_cast<std::size_t>(k);
        ui::DrawContext* dc = swatches_[i].get();
        if (!dc) continue;
        const ui::Size size = dc->size();
        dc->fillRect({0, 0, size.width, size.height}, kColours[i]);
        dc->setBackgroundColor(kColours[i]);
        dc->setTextColor(kWhite);
        dc->textOut({3, 2}, format("%d", lastValue(k)));
    }
}

void ScopePage::onPaint(ui::DrawContext& /*dc*/) {
    refresh();
}

void ScopePage::onCommand(int id) {
    for (int k = 0; k < kChannels; ++k)
        if (id == kOnOff[static_cast<std::size_t>(k)]) return toggleChannel(k);
    switch (id) {
        case kPause:
            return togglePause();
        case kClear:
            // Samples taken before the click go too.
            discardSamples();
            return plot_.clear();
        case kShowCoordinates:
            return showCoordinates();
        case kRange:
            openRangeDialog(context_.language, context_.englishTexts);
            return;
        default:
            Dialog::onCommand(id);
    }
}

void ScopePage::onSelectionChange(int id) {
    for (int k = 0; k < kChannels; ++k)
        if (id == kQuantity[static_cast<std::size_t>(k)]) selectQuantity(k);
}

void ScopePage::toggleChannel(int channel) {
    const int id = kOnOff[static_cast<std::size_t>(channel)];
    if (check(id)) {
        if (context_.language.scopeQuantities().empty()) {
            setCheck(id, 0);
            return;
        }
        if (!context_.session.healthy()) {
            setCheck(id, 0);
            app::linkUsable(context_);  // the refusal message
            return;
        }
        setText(id, uiText(111, u"开启"));
    } else {
        setText(id, uiText(112, u"关闭"));
    }
    // The poll thread takes the channel at the next applyControls.
    plot_.setChannel(channel, kColours[static_cast<std::size_t>(channel)], check(id));
}

void ScopePage::selectQuantity(int channel) {
    const auto k = static_cast<std::size_t>(channel);
    const data::ScopeTable& list = context_.language.scopeQuantities();
    const int sel = control(kQuantity[k]).selection();
    if (sel < 0 || static_cast<std::size_t>(sel) >= list.size()) return;
    const data::ScopeQuantity& q = list[static_cast<std::size_t>(sel)];
    // A row at the register already sampled is not taken over; its range
    // still follows the selection at the next applyControls.
    if (channels_[k].hasRow && q.address == channels_[k].address) return;
    channels_[k].hasRow = true;
    channels_[k].row = sel;
    channels_[k].address = q.address;
    publish(channel);
}

void ScopePage::togglePause() {
    const bool nowPaused = !paused();
    acquisition_.setPaused(nowPaused);
    setText(kPause, nowPaused ? uiText(121, u"继续") : uiText(120, u"暂停"));
}

void ScopePage::showCoordinates() {
    showCoordinates_ = check(kShowCoordinates) != 0 ? 1 : 0;
    plot_.setShowLabels(showCoordinates_);
}

void ScopePage::onDestroy() {
    // Any acquisition from now on reads nothing.
    for (int k = 0; k < kChannels; ++k) {
        channels_[static_cast<std::size_t>(k)].enabled = false;
        publish(k);
    }
    for (auto& dc : swatches_) dc.reset();
}

// --- Poll thread

std::uint8_t ScopePage::acquire() {
    return acquisition_.acquire().accessCode();
}

}  // namespace pages
