#include "pages/scope/scope_page.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "pages/scope/range_dialog.h"
#include "resources/resources.h"

namespace pages {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr ui::Color kWhite{255, 255, 255};

// Bounds of how early the sleep before the final spin wakes (see waitOut).
constexpr std::chrono::microseconds kMinSpin{300};
constexpr std::chrono::microseconds kMaxSpin{2000};
// The longest single sleep of a wait.
constexpr std::chrono::milliseconds kWaitSlice{20};

template <class... Args>
std::u16string format(const char* fmt, Args... args) {
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, fmt, args...);
    std::u16string out;
    for (int i = 0; i < n && i < static_cast<int>(sizeof buffer) - 1; ++i)
        out.push_back(static_cast<unsigned char>(buffer[i]));
    return out;
}

// Register data in memory: 16-bit little-endian words in address order.
std::int32_t decode(const std::uint8_t* at, int size) {
    const auto word = [at](int i) {
        return static_cast<std::uint16_t>(at[2 * i] | (at[2 * i + 1] << 8));
    };
    if (size == 2) return static_cast<std::int16_t>(word(0));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(word(1)) << 16 | word(0));
}

}  // namespace

std::uint64_t ScopePage::ChannelWord::pack() const {
    return std::uint64_t{address} | std::uint64_t{row} << 16 |
           std::uint64_t{enabled ? 1u : 0u} << 32 | std::uint64_t{hasRow ? 1u : 0u} << 33;
}

ScopePage::ChannelWord ScopePage::ChannelWord::unpack(std::uint64_t word) {
    ChannelWord c;
    c.address = static_cast<std::uint16_t>(word & 0xFFFF);
    c.row = static_cast<std::uint16_t>(word >> 16 & 0xFFFF);
    c.enabled = (word >> 32 & 1) != 0;
    c.hasRow = (word >> 33 & 1) != 0;
    return c;
}

ScopePage::ScopePage(app::AppContext& context)
    : MainPage(resources::kScopePage), context_(context) {
    const data::ScopeTable& list = context_.language.scopeQuantities();
    for (int k = 0; k < kChannels; ++k) {
        if (!list.empty()) channels_[k] = {false, true, 0, list[0].address};
        publish(k);
    }
}

ScopePage::~ScopePage() = default;

int ScopePage::lastValue(int channel) const {
    if (channel < 0 || channel >= kChannels) return 0;
    return lastValue_[static_cast<std::size_t>(channel)].load(kRelaxed);
}

bool ScopePage::channelEnabled(int channel) const {
    if (channel < 0 || channel >= kChannels) return false;
    return ChannelWord::unpack(published_[static_cast<std::size_t>(channel)].load(kRelaxed))
        .enabled;
}

int ScopePage::channelRow(int channel) const {
    if (channel < 0 || channel >= kChannels) return -1;
    const ChannelWord c =
        ChannelWord::unpack(published_[static_cast<std::size_t>(channel)].load(kRelaxed));
    return c.hasRow ? c.row : -1;
}

void ScopePage::publish(int channel) {
    const auto k = static_cast<std::size_t>(channel);
    published_[k].store(channels_[k].pack(), kRelaxed);
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
            ChannelWord& c = channels_[static_cast<std::size_t>(k)];
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
        ChannelWord& c = channels_[static_cast<std::size_t>(k)];
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
            samplePeriodUs_.store(period * 1000, kRelaxed);
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
    // Acquire pairs with the producer's release: the entries up to the head
    // are written.
    std::uint32_t tail = queueTail_.load(kRelaxed);
    const std::uint32_t head = queueHead_.load(std::memory_order_acquire);
    for (; tail != head; ++tail) {
        const Sample& s = queue_[tail % kQueueSize];
        plot_.addSample(s.channel, static_cast<double>(s.value));
    }
    queueTail_.store(tail, std::memory_order_release);
}

void ScopePage::discardSamples() {
    queueTail_.store(queueHead_.load(std::memory_order_acquire), std::memory_order_release);
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
            openRangeDialog(context_.language);
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
        if (!app::linkHealthy(context_.link)) {
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
    channels_[k].row = static_cast<std::uint16_t>(sel);
    channels_[k].address = q.address;
    publish(channel);
}

void ScopePage::togglePause() {
    const bool nowPaused = !paused();
    paused_.store(nowPaused ? 1 : 0, kRelaxed);
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

int ScopePage::rowSize(int row) const {
    // Only 4 means 32 bits; anything else is read and decoded as 16 bits.
    return context_.language.scopeQuantities()[static_cast<std::size_t>(row)].size == 4 ? 4 : 2;
}

void ScopePage::deliver(const Slot& slot, const std::uint8_t* at) {
    const std::int32_t value = decode(at, rowSize(slot.row));
    lastValue_[static_cast<std::size_t>(slot.channel)].store(value, kRelaxed);
    // Release pairs with takeSamples' acquire: the entry is written before
    // the head passes it.
    const std::uint32_t head = queueHead_.load(kRelaxed);
    if (head - queueTail_.load(std::memory_order_acquire) >= kQueueSize) return;
    queue_[head % kQueueSize] = {slot.channel, value};
    queueHead_.store(head + 1, std::memory_order_release);
}

std::uint8_t ScopePage::readAlone(const Slot& slot) {
    const int size = rowSize(slot.row);
    const std::uint8_t code = context_.drive.readRegisters(slot.address, buffer_.data(),
                                                           static_cast<std::uint32_t>(size));
    if (code == 0) deliver(slot, buffer_.data());
    return code;
}

std::uint8_t ScopePage::readGroup(const Slot* slots, int count) {
    // The group's bytes and each value's offset come from the list rows
    // between the first and the last slot, which the group form expects to be
    // consecutive registers in ascending order. Where the rows say otherwise
    // (a byte count that does not fit the buffer, or an offset that is not
    // the register's place in the read) the slots are read one by one, so
    // that no channel shows another register's value.
    const data::ScopeTable& list = context_.language.scopeQuantities();
    const Slot& first = slots[0];
    const auto bytesBetween = [&list](int from, int to) {
        int bytes = 0;
        for (int r = from; r < to && bytes <= kBufferBytes; ++r)
            bytes += list[static_cast<std::size_t>(r)].size;
        return bytes;
    };
    const int byteCount =
        first.row <= slots[count - 1].row ? bytesBetween(first.row, slots[count - 1].row + 1) : 0;
    std::array<int, kChannels> offsets{};
    bool fits = byteCount > 0 && byteCount <= kBufferBytes;
    for (int i = 0; i < count && fits; ++i) {
        const Slot& s = slots[i];
        const int offset = s.row > first.row ? bytesBetween(first.row, s.row) : 0;
        offsets[static_cast<std::size_t>(i)] = offset;
        fits = offset == 2 * (s.address - first.address) && offset + rowSize(s.row) <= byteCount;
    }
    if (!fits) {
        std::uint8_t code = 0;
        for (int i = 0; i < count; ++i) code = readAlone(slots[i]);
        return code;
    }
    const std::uint8_t code = context_.drive.readRegisters(first.address, buffer_.data(),
                                                           static_cast<std::uint32_t>(byteCount));
    if (code == 0)
        for (int i = 0; i < count; ++i)
            deliver(slots[i], buffer_.data() + offsets[static_cast<std::size_t>(i)]);
    return code;
}

void ScopePage::waitOut(std::chrono::steady_clock::time_point start) {
    using Clock = std::chrono::steady_clock;
    // Sleep until shortly before the deadline, then spin the rest: the period
    // is met to the microsecond without holding a core for all of it. The
    // margin follows how late recent sleeps woke up. Long waits sleep in
    // slices, so that a new period takes effect within one.
    for (;;) {
        const auto deadline = start + std::chrono::microseconds(samplePeriodUs());
        const auto margin =
            std::clamp(2 * lateness_ + std::chrono::microseconds(200), kMinSpin, kMaxSpin);
        const auto wake = deadline - margin;
        const auto now = Clock::now();
        if (now >= wake) break;
        if (wake - now > kWaitSlice) {
            std::this_thread::sleep_for(kWaitSlice);
            continue;
        }
        std::this_thread::sleep_until(wake);
        const auto late =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - wake);
        lateness_ = std::max(late, lateness_ * 7 / 8);
        break;
    }
    const auto deadline = start + std::chrono::microseconds(samplePeriodUs());
    while (Clock::now() < deadline) {
    }
}

std::uint8_t ScopePage::acquire() {
    const auto idle = [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(kIdleWaitMs));
        return std::uint8_t{0};
    };
    if (paused()) return idle();

    // Each channel's row and address come from one word; a channel at the
    // register of a lower channel (on or off) is not read.
    std::array<ChannelWord, kChannels> c;
    for (int k = 0; k < kChannels; ++k)
        c[static_cast<std::size_t>(k)] =
            ChannelWord::unpack(published_[static_cast<std::size_t>(k)].load(kRelaxed));
    std::array<Slot, kChannels> slots;
    int count = 0;
    for (int k = 0; k < kChannels; ++k) {
        const ChannelWord& ch = c[static_cast<std::size_t>(k)];
        if (!ch.enabled || !ch.hasRow) continue;
        bool shared = false;
        for (int lower = 0; lower < k; ++lower)
            shared = shared || c[static_cast<std::size_t>(lower)].address == ch.address;
        if (!shared) slots[static_cast<std::size_t>(count++)] = {k, ch.row, ch.address};
    }
    if (count == 0) return idle();

    const auto start = std::chrono::steady_clock::now();
    // Ascending addresses (distinct: shared registers were left out).
    for (int i = 0; i < count; ++i)
        for (int j = i + 1; j < count; ++j)
            if (slots[static_cast<std::size_t>(j)].address <
                slots[static_cast<std::size_t>(i)].address)
                std::swap(slots[static_cast<std::size_t>(i)], slots[static_cast<std::size_t>(j)]);
    const auto near = [](const Slot& a, const Slot& b) {
        return b.address - a.address <= kGroupSpan;
    };
    std::uint8_t code = 0;
    if (count == 1) {
        code = readAlone(slots[0]);
    } else if (count == 2) {
        if (near(slots[0], slots[1])) {
            code = readGroup(slots.data(), 2);
        } else {
            readAlone(slots[0]);
            code = readAlone(slots[1]);
        }
    } else {
        const bool near1 = near(slots[0], slots[1]);
        const bool near2 = near(slots[1], slots[2]);
        if (near1 && near2) {
            code = readGroup(slots.data(), 3);
        } else if (!near1 && !near2) {
            readAlone(slots[0]);
            readAlone(slots[1]);
            code = readAlone(slots[2]);
        } else if (!near1) {
            readGroup(slots.data() + 1, 2);
            code = readAlone(slots[0]);
        } else {
            readGroup(slots.data(), 2);
            code = readAlone(slots[2]);
        }
    }
    if (code != 0) return code;
    waitOut(start);
    return 0;
}

}  // namespace pages
