#include "pages/scope/scope_page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "data/png_image.h"
#include "drive/scope_export.h"
#include "pages/scope/range_dialog.h"
#include "platform/text.h"
#include "resources/resources.h"
#include "ui/backend.h"
#include "ui/layout.h"

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
    fillNewControls();
    loadSettings();
    setText(kPointsValue, format("%d", points_));
    applyControls();
    setupTrigger();
    // Again now that the lists hold their items: controls are sized to them.
    layout();
    return true;
}

void ScopePage::fillNewControls() {
    const auto fill = [this](int id, std::initializer_list<std::u16string_view> items, int sel) {
        control(id).clearItems();
        for (std::u16string_view item : items) control(id).addItem(item);
        control(id).setSelection(sel);
    };
    const auto w = [this](std::u16string_view en, std::u16string_view zh) {
        return context_.words(en, zh);
    };
    fill(kTriggerMode,
         {w(u"No trigger", u"无触发"), w(u"Auto", u"自动"), w(u"Normal", u"常规"),
          w(u"Single", u"单次")},
         0);
    fill(kTriggerChannel, {u"CH1", u"CH2", u"CH3"}, 0);
    fill(kTriggerEdge, {w(u"Rising", u"上升沿"), w(u"Falling", u"下降沿")}, 0);
    control(kZoom).clearItems();
    for (int z : kZooms) control(kZoom).addItem(format("x%d", z));
    control(kZoom).setSelection(0);
    for (int id : {kCursorA, kCursorB, kScroll}) {
        control(id).setRange(0, kSliderSteps);
        control(id).setPageSize(kSliderSteps / 20);
    }
    control(kCursorA).setPosition(kSliderSteps / 4);
    control(kCursorB).setPosition(kSliderSteps * 3 / 4);
    control(kScroll).setPosition(kSliderSteps);
    setText(kLevelLabel, w(u"Level", u"电平"));
    setText(kPreTriggerLabel, w(u"Pre %", u"预触发%"));
    setText(kArm, w(u"Arm", u"触发准备"));
    setText(kCursors, w(u"Cursors", u"游标"));
    setText(kFreeze, w(u"Freeze", u"冻结"));
    setText(kExportWhole, w(u"Whole recording", u"全部记录"));
}

void ScopePage::layout() {
    if (!exists()) return;
    move(context_.pageRect);
    showTexts();
    const int W = clientRect().width();
    const int H = clientRect().height();
    // The control column is as wide as its widest text needs (130 at least):
    // a label beside its choice, a quantity's name, a button's either caption.
    const int labelWidth =
        std::max(65, ui::widestFit(*this, {kPeriodLabel, kPointsLabel, kXGridLabel, kYGridLabel}));
    const int choiceWidth = std::max(65, ui::widestFit(*this, {kPeriod, kXGrid, kYGrid}));
    const int toggleWidth = std::max({45, fitSizeFor(kOnOff[0], uiText(111, u"开启")).width,
                                      fitSizeFor(kOnOff[0], uiText(112, u"关闭")).width});
    const int column = std::max({130, labelWidth + 4 + choiceWidth, toggleWidth + 45,
                                 ui::widestFit(*this, {kQuantity[0], kQuantity[1], kQuantity[2],
                                                       kShowCoordinates, kRange, kClear}),
                                 fitSizeFor(kPause, uiText(120, u"暂停")).width,
                                 fitSizeFor(kPause, uiText(121, u"继续")).width});
    const int x0 = W - column - 5;
    const int right = W - choiceWidth - 5;
    const auto place = [this](int id, int x, int y, int w, int h) {
        control(id).move(ui::Rect::fromXywh(x, y, w, h));
    };
    const int band = placeRows(x0 - 5, H - 5);
    place(kPlotHost, 5, 5, std::max(x0 - 10, 0), std::max(H - 15 - band, 0));
    place(kCursorX, x0, 5, column, 22);
    for (int k = 0; k < kChannels; ++k) {
        const auto i = static_cast<std::size_t>(k);
        place(kCursorY[i], x0, 5 + 24 * (k + 1), column, 22);
        place(kSwatch[i], x0, 106 + 60 * k, column - toggleWidth - 5, 25);
        place(kOnOff[i], W - toggleWidth - 5, 106 + 60 * k, toggleWidth, 25);
        place(kQuantity[i], x0, 136 + 60 * k, column, 20);
    }
    place(kPeriodLabel, x0, 295, labelWidth, 16);
    place(kPeriod, right, 291, choiceWidth, 20);
    place(kPointsLabel, x0, 321, labelWidth, 25);
    place(kPointsValue, right, 321, choiceWidth, 25);
    place(kPointsSlider, x0, 351, column, 40);
    place(kXGridLabel, x0, 407, labelWidth, 16);
    place(kXGrid, right, 403, choiceWidth, 20);
    place(kYGridLabel, x0, 437, labelWidth, 16);
    place(kYGrid, right, 433, choiceWidth, 20);
    place(kShowCoordinates, x0, 463, column, 20);
    // The three buttons share what is left below the control column.
    const int s = std::max((H - 5 - 485 - 3 * 36) / 4, 4);
    place(kRange, x0, 485 + s, column, 36);
    place(kClear, x0, 521 + 2 * s, column, 36);
    place(kPause, x0, 557 + 3 * s, column, 36);

    // A trial layout (the window's minimum size) needs no new plot images.
    if (!inLayoutTrial()) plot_.attach(this, kPlotHost);
    plot_.setShowLabels(showCoordinates_);
}

int ScopePage::placeRows(int width, int bottom) {
    // The controls under the plot flow left to right and wrap where `width`
    // ends, each group on a line of its own, so that every text fits in any
    // language; the band sits on `bottom`, and its height is returned.
    struct Item {
        int id;
        int w;  // at least; more when the text needs it
    };
    const std::initializer_list<Item> trigger{
        {kTriggerMode, 80}, {kTriggerChannel, 55}, {kTriggerEdge, 75},     {kLevelLabel, 45},
        {kLevel, 70},       {kLevelUnit, 55},      {kPreTriggerLabel, 60}, {kPreTrigger, 40},
        {kArm, 80},         {kTriggerState, 140}};
    const std::initializer_list<Item> cursors{
        {kCursors, 75}, {kCursorA, 110},  {kCursorB, 110},  {kFreeze, 70},      {kScroll, 110},
        {kZoom, 55},    {kExportCsv, 55}, {kExportPng, 55}, {kExportWhole, 130}};
    // The read-out and the hint take whole lines: their texts are long.
    const std::initializer_list<Item> readout{{kCursorReadout, width - 5}};
    const std::initializer_list<Item> hint{{kHint, width - 5}};

    std::vector<std::pair<int, ui::Rect>> placed;
    int y = 0;
    for (const auto& group : {trigger, cursors, readout, hint}) {
        int x = 5;
        int lineHeight = 0;
        for (const Item& i : group) {
            const ui::Control& c = control(i.id);
            const int w = std::min(std::max(i.w, fitSize(i.id).width), std::max(width - 5, 1));
            // A drop-down list's height is its closed height here; the others
            // as high as their text needs.
            const bool list = c.kind() == resources::ControlKind::DropDownList ||
                              c.kind() == resources::ControlKind::ComboBox;
            const int h = list ? 20 : std::max(20, fitSize(i.id, w).height);
            if (x > 5 && x + w > width) {
                y += lineHeight + 4;
                x = 5;
                lineHeight = 0;
            }
            placed.emplace_back(i.id, ui::Rect::fromXywh(x, y, w, h));
            lineHeight = std::max(lineHeight, h);
            x += w + 5;
        }
        y += lineHeight + 4;
    }
    const int top = bottom - y;
    for (auto& [id, r] : placed)
        control(id).move(ui::Rect::fromXywh(r.left, top + r.top, r.width(), r.height()));
    return y;
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
            startTraces();
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
    // The trigger's window follows the time base.
    const auto span = static_cast<std::uint64_t>(plot_.period()) * 1000u *
                      static_cast<std::uint64_t>(plot_.points());
    if (span != trigger_.spanMicros()) setupTrigger();
}

void ScopePage::startTraces() {
    newTrace_.fill(true);
}

drive::QuantityUnit ScopePage::unit(int channel) const {
    const Channel& c = channels_[static_cast<std::size_t>(channel)];
    const data::ScopeTable& list = context_.language.scopeQuantities();
    if (!c.hasRow || static_cast<std::size_t>(c.row) >= list.size()) return {};
    return drive::quantityUnit(list[static_cast<std::size_t>(c.row)].name.view());
}

void ScopePage::setupTrigger() {
    if (!exists()) return;
    drive::TriggerSettings t;
    t.mode = static_cast<drive::TriggerMode>(std::clamp(control(kTriggerMode).selection(), 0, 3));
    t.channel = std::clamp(control(kTriggerChannel).selection(), 0, kChannels - 1);
    t.edge = control(kTriggerEdge).selection() == 1 ? drive::TriggerEdge::falling
                                                    : drive::TriggerEdge::rising;
    const drive::QuantityUnit u = unit(t.channel);
    // The level is given in the quantity's unit; the trigger compares raw values.
    const std::string level = platform::toUtf8(text(kLevel));
    char* end = nullptr;
    const double value = std::strtod(level.c_str(), &end);
    if (end != level.c_str() && std::isfinite(value)) t.level = value / u.factor;
    const std::string pre = platform::toUtf8(text(kPreTrigger));
    t.preTriggerPercent = std::clamp(std::atoi(pre.c_str()), 0, 100);
    setText(kPreTrigger, format("%d", t.preTriggerPercent));
    setText(kLevelUnit, u.unit);
    trigger_.setup(t, static_cast<std::uint64_t>(std::max(plot_.period(), 1)) * 1000u *
                          static_cast<std::uint64_t>(std::max(plot_.points(), 1)));
    showTriggerState();
}

void ScopePage::showTriggerState() {
    std::u16string_view state;
    switch (trigger_.state()) {
        case drive::TriggerState::idle:
            break;
        case drive::TriggerState::waiting:
            state = context_.words(u"Waiting for trigger", u"等待触发");
            break;
        case drive::TriggerState::capturing:
        case drive::TriggerState::triggered:
            state = context_.words(u"Triggered", u"已触发");
            break;
        case drive::TriggerState::rolling:
            state = context_.words(u"Auto: no trigger", u"自动：未触发");
            break;
        case drive::TriggerState::stopped:
            state = context_.words(u"Stopped (single)", u"已停止（单次）");
            break;
    }
    if (text(kTriggerState) != state) setText(kTriggerState, state);
}

void ScopePage::updateView() {
    if (frozen_) {
        const int sel = control(kZoom).selection();
        plot_.setZoom(kZooms[static_cast<std::size_t>(
            std::clamp(sel, 0, static_cast<int>(kZooms.size()) - 1))]);
        const std::uint64_t span = plot_.window().span;
        const std::uint64_t oldest = plot_.oldestMicros();
        const std::uint64_t newest = plot_.newestMicros();
        const std::uint64_t last = newest > oldest + span ? newest - span : oldest;
        const auto pos =
            static_cast<std::uint64_t>(std::clamp(control(kScroll).position(), 0, kSliderSteps));
        plot_.setView(oldest + (last - oldest) * pos / kSliderSteps);
    } else {
        plot_.setZoom(1);
        const auto& capture = trigger_.capture();
        const bool shown = trigger_.settings().mode != drive::TriggerMode::off && capture &&
                           trigger_.state() != drive::TriggerState::rolling;
        plot_.setView(shown ? std::optional<std::uint64_t>(capture->startMicros) : std::nullopt);
    }
    plot_.setCursors(check(kCursors) != 0,
                     control(kCursorA).position() / static_cast<double>(kSliderSteps),
                     control(kCursorB).position() / static_cast<double>(kSliderSteps));
}

void ScopePage::toggleFreeze() {
    const bool on = check(kFreeze) != 0;
    if (on == frozen_) return;
    if (on) {
        // The recording stands still while it is looked through: new samples
        // would push its oldest out.
        pausedBeforeFreeze_ = paused();
        acquisition_.setPaused(true);
        const std::uint64_t start = plot_.window().start;
        frozen_ = true;
        const std::uint64_t span = plot_.window().span;
        const std::uint64_t oldest = plot_.oldestMicros();
        const std::uint64_t newest = plot_.newestMicros();
        const std::uint64_t last = newest > oldest + span ? newest - span : oldest;
        const std::uint64_t at = std::clamp(start, oldest, last);
        control(kScroll).setPosition(
            last > oldest ? static_cast<int>((at - oldest) * kSliderSteps / (last - oldest))
                          : kSliderSteps);
    } else {
        frozen_ = false;
        acquisition_.setPaused(pausedBeforeFreeze_);
        discardSamples();
        startTraces();
    }
    setText(kPause, paused() ? uiText(121, u"继续") : uiText(120, u"暂停"));
    updateView();
}

std::u16string ScopePage::cursorReadout() const {
    if (!plot_.cursorsShown()) return {};
    const std::uint64_t origin = plot_.originMicros();
    const std::uint64_t a = plot_.cursorMicros(0);
    const std::uint64_t b = plot_.cursorMicros(1);
    const auto seconds = [origin](std::uint64_t t) {
        return t >= origin ? static_cast<double>(t - origin) * 1e-6
                           : -static_cast<double>(origin - t) * 1e-6;
    };
    std::u16string out = format("A %.4f s  B %.4f s  dt %.2f ms", seconds(a), seconds(b),
                                (seconds(b) - seconds(a)) * 1000.0);
    out[out.find(u'd')] = u'\u0394';
    for (int k = 0; k < kChannels; ++k) {
        if (!channels_[static_cast<std::size_t>(k)].enabled) continue;
        const auto va = plot_.valueAt(k, a);
        const auto vb = plot_.valueAt(k, b);
        if (!va || !vb) continue;
        const drive::QuantityUnit u = unit(k);
        out += format("  |  %d: %g / %g  ", k + 1, *va * u.factor, *vb * u.factor) + u"\u0394" +
               format("%g ", (*vb - *va) * u.factor) + u.unit;
    }
    return out;
}

std::u16string ScopePage::duplicateHint() const {
    for (int k = 1; k < kChannels; ++k) {
        const Channel& c = channels_[static_cast<std::size_t>(k)];
        if (!c.enabled || !c.hasRow) continue;
        for (int j = 0; j < k; ++j) {
            const Channel& lower = channels_[static_cast<std::size_t>(j)];
            if (!lower.hasRow || lower.address != c.address) continue;
            std::u16string hint(context_.words(u"Channel ", u"通道"));
            hint += format("%d", k + 1);
            hint += context_.words(u" shows nothing: channel ", u"无曲线：与通道");
            hint += format("%d", j + 1);
            hint += context_.words(u" has the same quantity", u"的量相同");
            return hint;
        }
    }
    return {};
}

platform::FileOutcome ScopePage::exportCsv(const std::filesystem::path& path, bool whole) const {
    const PlotControl::Window w = plot_.window();
    const std::uint64_t from = whole ? 0 : w.start;
    const std::uint64_t to = whole ? UINT64_MAX : w.start + w.span;
    const data::ScopeTable& list = context_.language.scopeQuantities();
    std::vector<drive::CsvChannel> channels;
    for (int k = 0; k < kChannels; ++k) {
        const Channel& c = channels_[static_cast<std::size_t>(k)];
        const std::vector<PlotControl::Sample> held = plot_.samples(k, from, to);
        if (!c.hasRow || static_cast<std::size_t>(c.row) >= list.size() || held.empty()) continue;
        drive::CsvChannel out;
        out.name = std::u16string(list[static_cast<std::size_t>(c.row)].name.view());
        out.unit = unit(k);
        for (const PlotControl::Sample& s : held)
            out.samples.push_back({k, static_cast<std::int32_t>(s.value), s.timeMicros});
        channels.push_back(std::move(out));
    }
    const std::uint64_t origin = plot_.originMicros();
    const std::string csv =
        drive::scopeCsv(channels, origin, plot_.period(), drive::wallClockText(origin));
    return platform::writeFileReplacing(
        path, std::span(reinterpret_cast<const std::uint8_t*>(csv.data()), csv.size()));
}

platform::FileOutcome ScopePage::exportPng(const std::filesystem::path& path) {
    const ui::Size size = plot_.clientRect().size();
    auto memory = ui::createMemoryContext(size);
    if (!memory) return {platform::FileStatus::Failed, "no drawing context"};
    plot_.render(*memory, std::nullopt);
    data::RgbImage image{size.width, size.height, {}};
    image.rgb.reserve(static_cast<std::size_t>(size.width) * size.height * 3);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) {
            const ui::Color c = memory->pixel({x, y}).value_or(ui::Color{0, 0, 0});
            image.rgb.insert(image.rgb.end(), {c.r, c.g, c.b});
        }
    const std::vector<std::uint8_t> png = data::encodePng(image);
    if (png.empty()) return {platform::FileStatus::Failed, "empty image"};
    return platform::writeFileReplacing(path, png);
}

void ScopePage::exportTo(bool png) {
    std::optional<std::u16string> chosen =
        ui::saveFileDialog(png ? u"PNG (*.png)|*.png||" : u"CSV (*.csv)|*.csv||");
    if (!chosen) return;
    const std::filesystem::path path(*chosen);
    const platform::FileOutcome r =
        png ? exportPng(path) : exportCsv(path, check(kExportWhole) != 0);
    if (!r.ok()) {
        ui::messageBox(platform::fromUtf8(platform::describeFileFailure("write", path, r)),
                       uiText(67, u"Error"), ui::MessageIcon::Error);
        return;
    }
    if (context_.showNote)
        context_.showNote(std::u16string(context_.words(u"Saved ", u"已保存 ")) + *chosen);
}

// scope.ini: "key=value" lines, UTF-8.
std::string ScopePage::settingsText() const {
    const auto sel = [this](int id) { return control(id).selection(); };
    std::string out = "period_ms=" + std::to_string(periodTaken_) + "\n";
    out += "points=" + std::to_string(points_) + "\n";
    const auto grid = [&](int id) {
        const int i = sel(id);
        return i >= 0 && i < static_cast<int>(kGridCounts.size())
                   ? kGridCounts[static_cast<std::size_t>(i)]
                   : 0;
    };
    out += "x_grid=" + std::to_string(grid(kXGrid)) + "\n";
    out += "y_grid=" + std::to_string(grid(kYGrid)) + "\n";
    for (int k = 0; k < kChannels; ++k) {
        const Channel& c = channels_[static_cast<std::size_t>(k)];
        out +=
            "quantity" + std::to_string(k + 1) + "=" + std::to_string(c.hasRow ? c.row : -1) + "\n";
    }
    return out;
}

void ScopePage::loadSettings() {
    if (context_.scopeSettingsFile.empty()) return;
    const platform::FileContent file = platform::readFile(context_.scopeSettingsFile);
    if (!file.outcome.ok()) return;
    settingsRead_.assign(file.bytes.begin(), file.bytes.end());
    std::istringstream in(settingsRead_);
    std::string line;
    const data::ScopeTable& list = context_.language.scopeQuantities();
    const auto indexOf = [](const auto& values, int v) {
        const auto at = std::find(values.begin(), values.end(), v);
        return at == values.end() ? -1 : static_cast<int>(at - values.begin());
    };
    // Unknown keys and values out of range are passed over: the defaults stay.
    while (std::getline(in, line)) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        char* end = nullptr;
        const long value = std::strtol(line.c_str() + eq + 1, &end, 10);
        if (end == line.c_str() + eq + 1) continue;
        const int v = static_cast<int>(std::clamp(value, -1L, 1000000L));
        if (key == "period_ms" && indexOf(kPeriodsMs, v) >= 0)
            control(kPeriod).setSelection(indexOf(kPeriodsMs, v));
        else if (key == "points" && v % 50 == 0 && v >= 50 && v <= 1000)
            control(kPointsSlider).setPosition(v / 50);
        else if (key == "x_grid" && indexOf(kGridCounts, v) >= 0)
            control(kXGrid).setSelection(indexOf(kGridCounts, v));
        else if (key == "y_grid" && indexOf(kGridCounts, v) >= 0)
            control(kYGrid).setSelection(indexOf(kGridCounts, v));
        else if (key.size() == 9 && key.starts_with("quantity") && key[8] >= '1' && key[8] <= '3' &&
                 v >= 0 && static_cast<std::size_t>(v) < list.size()) {
            const int k = key[8] - '1';
            control(kQuantity[static_cast<std::size_t>(k)]).setSelection(v);
            selectQuantity(k);
        }
    }
}

void ScopePage::saveSettings() {
    if (context_.scopeSettingsFile.empty() || periodTaken_ < 0) return;
    const std::string now = settingsText();
    if (now == settingsRead_) return;
    // Replaced whole or not at all; a failure leaves the previous file and
    // only costs the next start these choices.
    if (platform::writeFileReplacing(
            context_.scopeSettingsFile,
            std::span(reinterpret_cast<const std::uint8_t*>(now.data()), now.size()))
            .ok())
        settingsRead_ = now;
}

void ScopePage::takeSamples() {
    acquisition_.takeSamples([this](const drive::ScopeSample& sample) {
        if (sample.channel < 0 || sample.channel >= kChannels) return;
        bool& first = newTrace_[static_cast<std::size_t>(sample.channel)];
        if (first && sample.channel == trigger_.settings().channel) trigger_.newTrace();
        plot_.addSample(sample.channel, static_cast<double>(sample.value), sample.timeMicros,
                        first);
        first = false;
        trigger_.feed(sample);
    });
}

void ScopePage::discardSamples() {
    acquisition_.discardSamples();
}

void ScopePage::refresh() {
    if (!exists()) return;
    takeSamples();
    applyControls();
    updateView();
    plot_.draw();
    showTriggerState();
    const std::u16string readout = cursorReadout();
    if (text(kCursorReadout) != readout) setText(kCursorReadout, readout);
    const std::u16string hint = duplicateHint();
    if (text(kHint) != hint) setText(kHint, hint);

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
            startTraces();
            trigger_.reset();
            return plot_.clear();
        case kArm:
            return setupTrigger();
        case kFreeze:
            return toggleFreeze();
        case kExportCsv:
            return exportTo(false);
        case kExportPng:
            return exportTo(true);
        case kCursors:
            return updateView();
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
    if (id == kTriggerMode || id == kTriggerChannel || id == kTriggerEdge) setupTrigger();
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
    if (frozen_) return;  // the freeze holds the acquisition until it ends
    const bool nowPaused = !paused();
    acquisition_.setPaused(nowPaused);
    if (!nowPaused) startTraces();
    setText(kPause, nowPaused ? uiText(121, u"继续") : uiText(120, u"暂停"));
}

void ScopePage::showCoordinates() {
    showCoordinates_ = check(kShowCoordinates) != 0 ? 1 : 0;
    plot_.setShowLabels(showCoordinates_);
}

void ScopePage::onDestroy() {
    saveSettings();
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
