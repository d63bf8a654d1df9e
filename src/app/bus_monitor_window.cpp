#include "app/bus_monitor_window.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "platform/file_io.h"
#include "platform/text.h"
#include "resources/resources.h"
#include "ui/backend.h"
#include "ui/layout.h"

namespace app {
namespace {

constexpr int kMargin = 8;
constexpr int kGap = 8;
constexpr int kRowHeight = 26;
// The list never gets smaller than this: a few rows stay readable.
constexpr ui::Size kSmallestList{300, 120};
constexpr ui::Size kLargestMinimum{900, 500};

constexpr std::u16string_view kTextFilter = u"(*.txt)|*.txt|*(*.*)|*.*||";
constexpr std::u16string_view kCsvFilter = u"(*.csv)|*.csv|*(*.*)|*.*||";

std::u16string number(std::size_t n) {
    return platform::fromUtf8(std::to_string(n));
}

}  // namespace

BusMonitorWindow::BusMonitorWindow(const AppContext& context, const modbus::TransactionLog& log,
                                   std::uint64_t startMicros)
    : Dialog(resources::kBusMonitorDialog),
      context_(context),
      log_(log),
      startMicros_(startMicros) {}

BusMonitorWindow::~BusMonitorWindow() {
    // The model refers to the log and the tables: it goes with the window.
    destroy();
}

bool BusMonitorWindow::onInitDialog() {
    setCaption(words(u"Bus monitor", u"总线监视"));
    setText(kPauseButton, words(u"Pause", u"暂停"));
    setText(kClearButton, words(u"Clear", u"清除"));
    setText(kErrorsOnly, words(u"Errors only", u"只显示错误"));
    setText(kFunctionLabel, words(u"Function:", u"功能："));
    setText(kSaveText, words(u"Save as text...", u"保存为文本..."));
    setText(kSaveCsv, words(u"Save as CSV...", u"保存为 CSV..."));
    ui::Control& combo = control(kFunctionCombo);
    combo.clearItems();
    combo.addItem(words(u"All functions", u"全部功能"));
    for (std::uint8_t code : kFunctions)
        combo.addItem(drive::functionText(code, context_.englishTexts));
    combo.setSelection(0);
    setIcon(resources::kMainIcon);
    setColumns();

    closing_ = false;
    shown_.clear();
    monitor_ = std::make_unique<drive::BusMonitor>(log_, context_.language, context_.englishTexts,
                                                   startMicros_);
    // What the log holds already: the traffic that led the user here.
    monitor_->includeHeld();
    fitMinimumSize();
    refresh();
    setTimer(kRefreshTimer, kRefreshPeriodMs);
    return true;
}

void BusMonitorWindow::setColumns() {
    ui::Control& list = control(kList);
    list.setExtendedStyle(ui::list_style::kGridLines | ui::list_style::kFullRowSelect);
    struct Column {
        std::u16string_view english, chinese;
        int width;
    };
    const Column columns[] = {
        {u"Time s", u"时间 s", 70},       {u"Direction", u"方向", 60}, {u"Station", u"站号", 50},
        {u"Function", u"功能", 130},      {u"Address", u"地址", 220},  {u"Values", u"数值", 150},
        {u"Round trip", u"往返时间", 80}, {u"Error", u"错误", 150},
    };
    const ui::Backend* backend = ui::currentBackend();
    const int padding = backend ? backend->chrome().header : 12;
    int index = 0;
    for (const Column& c : columns) {
        const std::u16string header = words(c.english, c.chinese);
        // A header is never cut, whatever the language.
        const int need = backend ? backend->measureText(list, header).width + padding + 4 : 0;
        list.insertColumn(index++, header, std::max(c.width, need));
    }
}

void BusMonitorWindow::bringBack() {
    if (!exists()) return;
    closing_ = false;
    activate();
}

void BusMonitorWindow::onCancel() {
    // The close box and Escape. The window goes after the toolkit's handler
    // has returned, not from inside it.
    closing_ = true;
    show(false);
    post([this] {
        if (closing_) destroy();
    });
}

void BusMonitorWindow::onDestroy() {
    monitor_.reset();
    shown_.clear();
}

void BusMonitorWindow::onCommand(int id) {
    switch (id) {
        case kPauseButton: {
            if (!monitor_) return;
            const bool pause = !monitor_->paused();
            // Taken in up to the moment of the press, so that what is shown
            // is what was on the line until then.
            if (pause) refresh();
            monitor_->setPaused(pause);
            setText(kPauseButton, pause ? words(u"Resume", u"继续") : words(u"Pause", u"暂停"));
            if (!pause) refresh();
            return;
        }
        case kClearButton:
            if (!monitor_) return;
            monitor_->clear();
            shown_.clear();
            control(kList).deleteAllRows();
            showCount();
            return;
        case kErrorsOnly:
            applyFilter();
            return;
        case kSaveText:
            save(false);
            return;
        case kSaveCsv:
            save(true);
            return;
        default:
            Dialog::onCommand(id);
    }
}

void BusMonitorWindow::onSelectionChange(int id) {
    if (id == kFunctionCombo) applyFilter();
}

void BusMonitorWindow::onTimer(int id) {
    if (id == kRefreshTimer) refresh();
}

void BusMonitorWindow::applyFilter() {
    if (!monitor_) return;
    drive::MonitorFilter filter;
    filter.errorsOnly = check(kErrorsOnly) != 0;
    const int item = control(kFunctionCombo).selection();
    if (item >= 1 && item <= static_cast<int>(std::size(kFunctions)))
        filter.functionCode = kFunctions[item - 1];
    monitor_->setFilter(filter);
    fillList(true);
}

void BusMonitorWindow::refresh() {
    if (!monitor_) return;
    // Nothing new (or paused): the list is left alone.
    if (monitor_->update() == 0 && !shown_.empty()) return;
    fillList(false);
}

// Brings the list in line with the model's visible rows: the rows the model
// no longer holds leave the top, the new ones join the end; only a new
// filter rebuilds the whole list.
void BusMonitorWindow::fillList(bool rebuild) {
    if (!monitor_ || !exists()) return;
    ui::Control& list = control(kList);
    const std::vector<const drive::MonitorRow*> rows = monitor_->visibleRows();
    if (rebuild) {
        list.deleteAllRows();
        shown_.clear();
    }
    const std::uint64_t oldest = rows.empty() ? UINT64_MAX : rows.front()->sequence;
    std::size_t gone = 0;
    while (gone < shown_.size() && shown_[gone] < oldest) ++gone;
    if (gone > 0) {
        list.deleteFirstRows(static_cast<int>(gone));
        shown_.erase(shown_.begin(), shown_.begin() + static_cast<std::ptrdiff_t>(gone));
    }
    const auto fresh =
        shown_.empty() ? rows.begin()
                       : std::partition_point(rows.begin(), rows.end(),
                                              [last = shown_.back()](const drive::MonitorRow* r) {
                                                  return r->sequence <= last;
                                              });
    if (fresh != rows.end()) {
        std::vector<std::vector<std::u16string>> cells;
        cells.reserve(static_cast<std::size_t>(rows.end() - fresh));
        for (auto it = fresh; it != rows.end(); ++it) {
            const drive::MonitorRow& r = **it;
            cells.push_back({r.time, r.direction, r.station, r.function, r.address, r.values,
                             r.roundTrip, r.error});
            shown_.push_back(r.sequence);
        }
        const int first = list.appendRows(std::move(cells));
        int row = first;
        for (auto it = fresh; it != rows.end(); ++it, ++row)
            if ((*it)->failed) list.setRowHighlighted(row, true);
    }
    showCount();
}

void BusMonitorWindow::showCount() {
    if (!monitor_ || !exists()) return;
    const std::u16string shown = number(shown_.size());
    const std::u16string held = number(monitor_->held());
    const std::u16string text =
        words(shown + u" shown / " + held + u" held", u"显示 " + shown + u" / 保存 " + held);
    if (this->text(kCount) != text) setText(kCount, text);
}

void BusMonitorWindow::save(bool csv) {
    if (!monitor_) return;
    const std::optional<std::u16string> path = ui::saveFileDialog(csv ? kCsvFilter : kTextFilter);
    if (!path) return;
    const std::string content = csv ? monitor_->asCsv() : monitor_->asText();
    const std::filesystem::path file(*path);
    const platform::FileOutcome outcome = platform::writeFileReplacing(
        file, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(content.data()),
                                            content.size()));
    if (!outcome.ok()) {
        ui::messageBox(platform::fromUtf8(platform::describeFileFailure("write", file, outcome)),
                       words(u"Bus monitor", u"总线监视"), ui::MessageIcon::Error);
        return;
    }
    if (context_.showNote)
        context_.showNote(words(u"Bus monitor saved to ", u"总线监视已保存到 ") + *path);
}

void BusMonitorWindow::onSize(ui::SizeState state, int width, int height) {
    if (state == ui::SizeState::Minimized || !monitor_) return;
    layout({width, height});
}

// Left to right in rows as wide as the window allows, the function label
// beside its list; the list takes what is left below.
void BusMonitorWindow::layout(ui::Size client) {
    const int pauseWidth = std::max({80, fitSizeFor(kPauseButton, words(u"Pause", u"暂停")).width,
                                     fitSizeFor(kPauseButton, words(u"Resume", u"继续")).width});
    const int countWidth =
        fitSizeFor(kCount, words(u"10000 shown / 10000 held", u"显示 10000 / 保存 10000")).width;
    const int labelWidth = fitSize(kFunctionLabel).width;
    const int comboWidth = std::max(160, fitSize(kFunctionCombo).width);
    struct Item {
        int id;
        int width;
        int height;
    };
    const std::vector<std::vector<Item>> groups = {
        {{kPauseButton, pauseWidth, kRowHeight}},
        {{kClearButton, std::max(80, fitSize(kClearButton).width), kRowHeight}},
        {{kErrorsOnly, fitSize(kErrorsOnly).width, kRowHeight - 4}},
        {{kFunctionLabel, labelWidth, kRowHeight}, {kFunctionCombo, comboWidth, 240}},
        {{kSaveText, std::max(110, fitSize(kSaveText).width), kRowHeight}},
        {{kSaveCsv, std::max(110, fitSize(kSaveCsv).width), kRowHeight}},
        {{kCount, countWidth, kRowHeight}},
    };
    int x = kMargin;
    int y = kMargin;
    for (const auto& group : groups) {
        int width = -kGap / 2;
        for (const Item& i : group) width += i.width + kGap / 2;
        if (x > kMargin && x + width > client.width - kMargin) {
            x = kMargin;
            y += kRowHeight + 6;
        }
        for (const Item& i : group) {
            const int top = y + (i.height < kRowHeight ? (kRowHeight - i.height) / 2 : 0);
            control(i.id).move(ui::Rect::fromXywh(x, top, i.width, i.height));
            x += i.width + kGap / 2;
        }
        x += kGap / 2;
    }
    const int top = y + kRowHeight + kGap;
    control(kList).move(ui::Rect::fromXywh(kMargin, top, client.width - 2 * kMargin,
                                           std::max(1, client.height - top - kMargin)));
}

// The smallest client size at which every control shows its whole text,
// inside the window and apart from the others, with a list of readable
// size; found by laying the window out at trial sizes.
void BusMonitorWindow::fitMinimumSize() {
    const ui::Size now = clientRect().size();
    const auto fits = [this](ui::Size s) {
        layout(s);
        const ui::Rect list = control(kList).rect();
        return list.width() >= kSmallestList.width && list.height() >= kSmallestList.height &&
               ui::findLayoutIssues(*this, {0, 0, s.width, s.height}).empty();
    };
    beginLayoutTrial();
    const ui::Size found = ui::smallestFittingSize(
        {kSmallestList.width, kSmallestList.height},
        {std::max(now.width, kLargestMinimum.width), std::max(now.height, kLargestMinimum.height)},
        fits);
    layout(now);
    endLayoutTrial();
    setMinimumSize(found);
    if (now.width < found.width || now.height < found.height) {
        const ui::Rect at = windowRect();
        move(ui::Rect::fromXywh(at.left, at.top, std::max(now.width, found.width),
                                std::max(now.height, found.height)));
        centerWindow();
    }
    layout(clientRect().size());
}

}  // namespace app
