#include "pages/status/status_page.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "app/link_text.h"
#include "platform/clock.h"
#include "platform/serial.h"
#include "platform/text.h"
#include "resources/resources.h"
#include "ui/backend.h"

namespace pages {
namespace {

std::u16string decimal(long long value) {
    return platform::fromUtf8(std::to_string(value));
}

// True when the device is the system's own port of that name (Windows without
// a mapping), so that there is nothing to explain.
bool isSystemPort(const std::string& device, unsigned n) {
    const std::string name = "COM" + std::to_string(n);
    return device == name || device == "\\\\.\\" + name;
}

// Status items whose value is a word of terminal states: shown bit by bit too.
bool isBitWord(const data::StatusItem& item) {
    const std::u16string_view unit = item.unit.view();
    return unit == u"bits" || unit == u"bit" || unit == u"位";
}

std::u16string localTime(std::time_t at = std::time(nullptr)) {
    char text[16] = "--:--:--";
    // User interface thread only, so the shared buffer of localtime is safe.
    if (const std::tm* local = std::localtime(&at))
        std::strftime(text, sizeof text, "%H:%M:%S", local);
    return platform::fromUtf8(text);
}

// The local time of a platform::monotonicMicros() instant in the past.
std::u16string localTimeOfMonotonic(std::uint64_t micros) {
    const std::uint64_t now = platform::monotonicMicros();
    const auto age = std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::microseconds(now > micros ? now - micros : 0));
    return localTime(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() - age));
}

std::u16string formatted(const char* format, double a, double b = 0, double c = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return platform::fromUtf8(text);
}

std::u16string hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return platform::fromUtf8(text);
}

// "Rate 148.0/s, round trip 6.9 ms (p99 7.4 ms)"; a round trip of 0 means
// that no good answer came within the window.
std::u16string rateText(const drive::LinkHealthFigures& f, bool english) {
    if (!f.any) return english ? u"No transactions yet" : u"尚无通讯";
    std::u16string text = english ? u"Rate " : u"速率 ";
    text += formatted("%.1f", f.transactionsPerSecond);
    text += english ? u"/s, round trip " : u" 次/秒，往返 ";
    if (f.roundTripMeanMs > 0)
        text += formatted("%.1f ms (p99 %.1f ms)", f.roundTripMeanMs, f.roundTripP99Ms);
    else
        text += u"-";
    return text;
}

std::u16string countsText(const modbus::TransactionCounts& c, bool english) {
    const auto n = [](std::uint32_t v) { return platform::fromUtf8(std::to_string(v)); };
    if (english)
        return u"Since connect: time-outs " + n(c.timeouts) + u", bad checksums " +
               n(c.badChecksums) + u", exceptions " + n(c.exceptions) +
               u",\nwrong-station answers " + n(c.wrongStations) + u", other errors " +
               n(c.otherErrors) + u", retries " + n(c.retries);
    return u"连接以来：超时 " + n(c.timeouts) + u"，校验错误 " + n(c.badChecksums) +
           u"，异常应答 " + n(c.exceptions) + u"，\n站号错误 " + n(c.wrongStations) +
           u"，其他错误 " + n(c.otherErrors) + u"，重发 " + n(c.retries);
}

// What ended a failed attempt, in a few words.
std::u16string outcomeWords(const modbus::TransactionRecord& r, bool english) {
    using modbus::Outcome;
    switch (r.outcome) {
        case Outcome::ok:
        case Outcome::broadcastSent:
            return {};
        case Outcome::noAnswer:
            return english ? u"time-out (no answer)" : u"超时（无应答）";
        case Outcome::badChecksum:
            return english ? u"bad checksum" : u"校验错误";
        case Outcome::exception: {
            std::u16string text = (english ? u"exception " : u"异常应答 ") + hex2(r.exceptionCode);
            if (const char* name = drive::exceptionName(r.exceptionCode); english && *name)
                text += u" (" + platform::fromUtf8(name) + u")";
            return text;
        }
        case Outcome::wrongStation:
            return english ? u"answer from another station" : u"应答来自其他站号";
        case Outcome::malformed:
            return english ? u"malformed answer" : u"应答格式错误";
        case Outcome::mismatch:
            return english ? u"answer does not match the request" : u"应答与请求不符";
        case Outcome::portFailure:
            return english ? u"port failure" : u"串口故障";
        case Outcome::portUnavailable:
            return english ? u"port cannot be opened" : u"无法打开串口";
        case Outcome::channelUnavailable:
            return english ? u"port closed" : u"串口已关闭";
        case Outcome::connectionLost:
            return english ? u"connection lost" : u"连接中断";
        case Outcome::broadcastRead:
            return english ? u"read from station 0 refused" : u"站号 0 不能读";
    }
    return {};
}

}  // namespace

StatusPage::StatusPage(app::AppContext& context)
    : MainPage(resources::kStatusPage),
      context_(context),
      service_(context.session, context.language.statusItems()),
      ports_(*this, context,
             {kFirstBaudButton, kBaudRates, kStationList, kFirstPortButton, kPortCount}),
      jobs_(context) {}

// --- User interface thread

bool StatusPage::onInitDialog() {
    layout();
    setUpList();
    ui::Control& stations = control(kStationList);
    stations.clearItems();
    for (int station = 1; station <= kStationCount; ++station) stations.addItem(decimal(station));
    stations.setSelection(0);
    setRadioGroupIndex(kFirstBaudButton, baudChoice_);
    setRadioGroupIndex(kFirstPortButton, portChoice_);
    ports_.attach();
    showConnectionState();
    showPortDevices();
    for (int i = 0; i < kInputCount; ++i) showControl(kFirstInputBox + i, true);
    for (int id : kOutputBoxes) showControl(id, true);
    showIo(drive::Freshness::none);
    showAlarm(0);
    return true;
}

void StatusPage::setUpList() {
    ui::Control& list = control(kStatusList);
    list.setExtendedStyle(ui::list_style::kFullRowSelect | ui::list_style::kGridLines);
    // A word shown bit by bit needs a wider value column; the names give way.
    const data::StatusTable& items = context_.language.statusItems();
    const bool bits = std::any_of(items.begin(), items.end(), isBitWord);
    list.insertColumn(0, context_.uiText(11, u"参数名称"), bits ? 130 : 200);
    list.insertColumn(1, context_.uiText(12, u"当前值"), bits ? 175 : 105);
    list.insertColumn(2, context_.uiText(13, u"单位"), bits ? 75 : 74);
    int row = 0;
    for (const data::StatusItem& item : context_.language.statusItems()) {
        const int at = list.insertRow(row++, item.name.view());
        list.setCellText(at, 2, item.unit.view());
    }
}

void StatusPage::layout() {
    if (!exists()) return;
    move(context_.pageRect);
    const int w = clientRect().width();
    const int h = clientRect().height();
    // A page smaller than its layout squeezes controls to nothing rather than
    // giving them a negative size.
    const auto place = [this](int id, int x, int y, int width, int height) {
        control(id).move(ui::Rect::fromXywh(x, y, std::max(width, 0), std::max(height, 0)));
    };
    place(kConnectionGroup, 10, 10, 580, 140);
    ports_.place(600, 15, w - 610);
    place(kInfoText, 600, 71, w - 610, 94);
    place(kBaudGroup, 20, 35, 245, 105);
    place(kPortGroup, 275, 35, 155, 105);
    for (int i = 0; i < kPortCount; ++i) {
        const int y = 60 + 25 * (i / 2);
        place(kFirstBaudButton + i, i % 2 == 0 ? 30 : 150, y, 100, 20);
        place(kFirstPortButton + i, i % 2 == 0 ? 285 : 360, y, 60, 20);
    }
    place(kStationLabel, 435, 59, 100, 16);
    place(kStationList, 540, 55, 45, 18);
    // Room for either caption of the button.
    const int connectWidth =
        std::max({90, fitSizeFor(kConnectButton, context_.uiText(8, u"连接")).width,
                  fitSizeFor(kConnectButton, context_.uiText(9, u"断开")).width});
    place(kConnectButton, 510 - connectWidth / 2, 95, connectWidth, 36);
    // The status list and the alarm text take half of a wider page and share
    // its height; the I/O frame takes the rest.
    const int left = std::max(420, 420 + (w - 969) / 2);
    const int alarmHeight = std::max(80, (h - 170) / 3);
    const int statusHeight = h - 170 - alarmHeight - 15;
    place(kStatusGroup, 10, 170, left, statusHeight);
    place(kStatusList, 20, 200, left - 20, statusHeight - 40);
    place(kAlarmText, 10, h - alarmHeight - 5, left, alarmHeight);
    // The I/O frame takes what its rows of boxes need, four to a row; the
    // link group the rest of the height.
    const int ioLeft = left + 20;
    const auto boxesHeight = [](int boxes) { return 22 + 30 * ((boxes + 3) / 4 - 1) + 20 + 8; };
    const int inputsTop = 195;
    const int outputsTop = inputsTop + boxesHeight(kInputCount) + 5;
    const int ioBottom = outputsTop + boxesHeight(kOutputCount) + 8;
    place(kIoGroup, ioLeft, 170, w - ioLeft - 10, ioBottom - 170);
    place(kInputGroup, ioLeft + 10, inputsTop, w - ioLeft - 30, boxesHeight(kInputCount));
    place(kOutputGroup, ioLeft + 10, outputsTop, w - ioLeft - 30, boxesHeight(kOutputCount));
    const auto placeBox = [&](int id, int top, int i) {
        place(id, ioLeft + 20 + 125 * (i % 4), top + 22 + 30 * (i / 4), 120, 20);
    };
    for (int i = 0; i < kInputCount; ++i) placeBox(kFirstInputBox + i, inputsTop, i);
    for (int i = 0; i < kOutputCount; ++i)
        placeBox(kOutputBoxes[static_cast<std::size_t>(i)], outputsTop, i);
    applyTexts();
    placeLinkGroup(ioLeft, ioBottom + 7, w - ioLeft - 10, h - 10);
}

// Every line is sized for the longest text it may show (five-digit counts,
// the longest cause, a latency hint for a long device name), so that a
// window that fits now does not cut a text later. A page too short for the
// group lets it run out of the page, which the main window's minimum size
// then rules out.
void StatusPage::placeLinkGroup(int left, int top, int width, int bottom) {
    const bool english = context_.englishTexts;
    const auto place = [this](int id, int x, int y, int w, int h) {
        control(id).move(ui::Rect::fromXywh(x, y, std::max(w, 0), std::max(h, 0)));
    };
    const int x = left + 10;
    const int inner = width - 20;
    const int line = fitSizeFor(kLinkRate, u"Xg").height;

    const ui::Size button = fitSize(kBusMonitorButton);
    const int buttonWidth = std::max(100, button.width);
    const int buttonHeight = std::max(24, button.height);
    place(kBusMonitorButton, left + width - 10 - buttonWidth, top + 18, buttonWidth, buttonHeight);
    drive::LinkHealthFigures widest;
    widest.any = true;
    widest.transactionsPerSecond = 9999.9;
    widest.roundTripMeanMs = widest.roundTripP99Ms = 9999.9;
    const ui::Size rate = fitSizeFor(kLinkRate, rateText(widest, english));
    place(kLinkRate, x, top + 18 + (buttonHeight - line) / 2,
          std::max(inner - buttonWidth - 10, rate.width), rate.height);
    int y = top + 18 + buttonHeight + 4;

    modbus::TransactionCounts counts;
    counts.timeouts = counts.badChecksums = counts.exceptions = counts.wrongStations =
        counts.otherErrors = counts.retries = 99999;
    const ui::Size countsSize = fitSizeFor(kLinkCounts, countsText(counts, english));
    place(kLinkCounts, x, y, std::max(inner, countsSize.width), countsSize.height);
    y += countsSize.height + 4;
    // Two lines: the longest cause with its request wraps once.
    place(kLinkLastError, x, y, inner, 2 * line);
    y += 2 * line + 6;

    if (!latencyHint_) {
        drive::LatencyHint sample;
        sample.latencyMs = 255;
        sample.attributePath = "/sys/bus/usb-serial/devices/ttyUSB10/latency_timer";
        sample.command = "echo 1 | sudo tee " + sample.attributePath;
        setText(kLatencyHint, latencyHintText(sample));
        setText(kLatencyCommand, platform::fromUtf8(sample.command));
    }
    const int hintHeight = std::max(line, fitSize(kLatencyHint, inner).height);
    place(kLatencyHint, x, y, inner, hintHeight);
    y += hintHeight + 4;
    // A read-only edit, so that the command can be selected and copied.
    const ui::Size command = fitSize(kLatencyCommand);
    const int commandHeight = std::max(24, command.height);
    place(kLatencyCommand, x, y, std::max(inner, command.width), commandHeight);
    y += commandHeight + 8;
    place(kLinkGroup, left, top, width, std::max(bottom - top, y - top));
}

void StatusPage::applyTexts() {
    const data::UiTextTable& texts = context_.uiTexts();
    const auto replace = [&](int id, std::size_t entry) {
        if (texts.present(entry)) setText(id, texts[entry].view());
    };
    replace(kConnectionGroup, 4);
    replace(kBaudGroup, 5);
    replace(kPortGroup, 6);
    replace(kStationLabel, 7);
    replace(kInputGroup, 17);
    replace(kOutputGroup, 43);
    replace(kStatusGroup, 10);
    replace(kIoGroup, 16);
    for (int i = 0; i < kInputCount; ++i)
        replace(kFirstInputBox + i, 18 + static_cast<std::size_t>(i));
    for (int i = 0; i < kOutputCount; ++i)
        replace(kOutputBoxes[static_cast<std::size_t>(i)], 44 + static_cast<std::size_t>(i));
    setText(kLinkGroup, say(u"Link", u"通讯链路"));
    setText(kBusMonitorButton, say(u"Bus monitor...", u"总线监视..."));
    showConnectionState();
    showPortDevices();
    showLinkHealth();
}

void StatusPage::showConnectionState() {
    const bool connected = context_.session.connected();
    setText(kConnectButton, connected ? context_.uiText(9, u"断开") : context_.uiText(8, u"连接"));
    for (int i = 0; i < kPortCount; ++i) {
        enable(kFirstBaudButton + i, !connected);
        enable(kFirstPortButton + i, !connected);
    }
    ports_.enable(!connected);
    enable(kStationList, !connected);
}

// The port buttons name COM1 to COM6 whatever the system calls its serial
// devices; 1096 says which device each one opens. Without UI 15 there is room
// for all six; otherwise the selected one follows the UI 15 text.
void StatusPage::showPortDevices() {
    const data::UiTextTable& texts = context_.uiTexts();
    std::u16string text(texts[15].view());
    std::array<std::string, kPortCount> devices;
    bool mapped = false;
    for (unsigned n = 1; n <= kPortCount; ++n) {
        devices[n - 1] = platform::comDevicePath(n);
        mapped = mapped || !isSystemPort(devices[n - 1], n);
    }
    const auto line = [&](int port) {
        return u"COM" + decimal(port + 1) + u": " +
               platform::fromUtf8(devices[static_cast<std::size_t>(port)]);
    };
    if (mapped && text.empty()) {
        for (int port = 0; port < kPortCount; ++port) {
            if (port > 0) text += u"\n";
            text += line(port);
        }
    } else if (mapped) {
        text += u"\n\n" + line(portChoice_);
    }
    if (this->text(kInfoText) != text) setText(kInfoText, text);
}

void StatusPage::onCommand(int id) {
    if (id == kConnectButton) {
        toggleConnection();
        return;
    }
    if (id == kBusMonitorButton) {
        if (context_.openBusMonitor) context_.openBusMonitor();
        return;
    }
    if (id == PortChooser::kScanButton) {
        ports_.scan();
        return;
    }
    if (id >= kFirstPortButton && id < kFirstPortButton + kPortCount) {
        portChoice_ = id - kFirstPortButton;
        ports_.useComButtons();
        showPortDevices();
        return;
    }
    for (int n = 0; n < kOutputCount; ++n) {
        if (id == kOutputBoxes[static_cast<std::size_t>(n)]) {
            writeOutput(n);
            return;
        }
    }
    if (id >= kFirstInputBox && id < kFirstInputBox + kInputCount) {
        // An indicator: it shows the drive's input, whatever is clicked.
        restoreBox(id, inputState(id - kFirstInputBox));
        return;
    }
    MainPage::onCommand(id);
}

void StatusPage::onListClick(int id, int row) {
    if (id != kStatusList || row < 0) return;
    ui::Control& list = control(kStatusList);
    list.setSelectionMark(row);
    list.ensureVisible(row);
    list.setRowSelected(row, true);
    setFocus(kStatusList);
}

void StatusPage::toggleConnection() {
    if (context_.session.connected())
        disconnect();
    else
        connect();
    showConnectionState();
    refreshStatus();
    if (context_.linkChanged) context_.linkChanged();
}

void StatusPage::connect() {
    if (const int baud = radioGroupIndex(kFirstBaudButton); baud >= 0) baudChoice_ = baud;
    if (const int port = radioGroupIndex(kFirstPortButton); port >= 0) portChoice_ = port;
    drive::LinkSettings settings;
    settings.channel = static_cast<std::uint8_t>(portChoice_);
    settings.baudRate = kBaudRates[static_cast<std::size_t>(baudChoice_)];
    settings.station = std::max(control(kStationList).selection(), 0) + 1;
    ports_.apply(settings);
    // Before the link opens: the poll thread may probe the new link at once,
    // and reset() passes over only the links that exist when it is called.
    if (context_.linkHealth) context_.linkHealth->reset();
    // The session publishes the link, timed and enabled, only once it is
    // open, with a fault flagged so that the poll loop probes first.
    const drive::Result r = context_.session.connect(settings);
    // Taken now: later the snapshot's lock may be held by a reopen.
    linkDevice_ = r ? context_.session.snapshot().device : std::string();
    checkLatency();
    if (!r)
        ui::messageBox(say(u"Initialize the serial port failed!", u"串口初始化失败！") + u"\nCOM" +
                           decimal(portChoice_ + 1) + u": " + app::linkCause(context_, r),
                       context_.uiText(67, u"Error", u"错误"), ui::MessageIcon::Error);
}

void StatusPage::disconnect() {
    // A job cut off by a closed link would leave the drive half-written.
    if (context_.jobs.busy()) {
        ui::messageBox(u"\"" + platform::fromUtf8(context_.jobs.current()) +
                           u"\" is still running. Disconnect when it has finished.",
                       context_.uiText(67, u"Error"), ui::MessageIcon::Exclamation);
        return;
    }
    // New requests are refused from here on; closing waits for the one in
    // progress, which ends within its time-out.
    context_.session.disconnect();
    linkDevice_.clear();
    checkLatency();
}

void StatusPage::refreshStatus() {
    if (!exists()) return;
    const bool connected = context_.session.connected();
    const drive::Freshness freshness = connected ? service_.freshness() : drive::Freshness::none;
    const std::u16string unknown(context_.uiText(14, u"未知"));
    const std::u16string stale = staleMark();
    ui::Control& list = control(kStatusList);
    const data::StatusTable& items = context_.language.statusItems();
    const int rows = std::min(list.rowCount(), static_cast<int>(items.size()));
    for (int row = 0; row < rows; ++row) {
        const data::StatusItem& item = items[static_cast<std::size_t>(row)];
        std::u16string text;
        if (!connected) {
            text = unknown;
        } else if (freshness != drive::Freshness::none) {
            // Nothing of an earlier connection shows on a new one.
            text = drive::statusValueText(item);
            if (isBitWord(item))
                text = withBits(text, item.value.load(std::memory_order_relaxed),
                                data::typeSize(item.typeCode) == 4 ? 32 : 16);
            if (freshness == drive::Freshness::stale) text += stale;
        }
        if (list.cellText(row, 1) != text) list.setCellText(row, 1, text);
    }
    showIo(freshness);
    takeAlarm();
    showAlarmText();
    showLinkHealth();
    if (++latencyTicks_ >= kLatencyRecheckTicks) checkLatency();
}

void StatusPage::setSystemRoot(std::filesystem::path root) {
    systemRoot_ = std::move(root);
    checkLatency();
}

void StatusPage::showLinkHealth() {
    if (!exists()) return;
    const bool english = context_.englishTexts;
    const drive::LinkHealthFigures none;
    const drive::LinkHealthFigures& f = context_.linkHealth ? context_.linkHealth->figures() : none;
    std::u16string last = say(u"Last error: ", u"最近错误：");
    last += f.lastError ? lastErrorText(*f.lastError) : say(u"none", u"无");
    const auto show = [this](int id, const std::u16string& text) {
        if (this->text(id) != text) setText(id, text);
    };
    show(kLinkRate, rateText(f, english));
    show(kLinkCounts, countsText(f.counts, english));
    show(kLinkLastError, last);
    // The hook may come after the page.
    const bool monitor = static_cast<bool>(context_.openBusMonitor);
    if (control(kBusMonitorButton).isEnabled() != monitor) enable(kBusMonitorButton, monitor);
}

std::u16string StatusPage::lastErrorText(const modbus::TransactionRecord& r) const {
    std::u16string text = localTimeOfMonotonic(r.timeMicros) + u" ";
    text += outcomeWords(r, context_.englishTexts);
    text += say(u" (station ", u"（站号 ") + decimal(r.station);
    text += say(u", function ", u"，功能码 ") + hex2(r.functionCode);
    text += say(u", address ", u"，地址 ") + decimal(r.address);
    if (r.retry()) text += say(u", retry ", u"，重发 ") + decimal(r.attempt - 1);
    text += say(u")", u"）");
    return text;
}

void StatusPage::checkLatency() {
    latencyTicks_ = 0;
    // Nothing for a network port, a Windows port or one whose timer cannot
    // be read: usbLatencyHint says nothing for them.
    std::optional<drive::LatencyHint> hint;
    if (!linkDevice_.empty() && context_.session.connected())
        hint = drive::usbLatencyHint(linkDevice_, systemRoot_);
    const bool changed = hint.has_value() != latencyHint_.has_value() ||
                         (hint && (hint->latencyMs != latencyHint_->latencyMs ||
                                   hint->command != latencyHint_->command));
    latencyHint_ = std::move(hint);
    if (changed) showLatencyHint();
}

void StatusPage::showLatencyHint() {
    if (!exists()) return;
    if (latencyHint_) {
        setText(kLatencyHint, latencyHintText(*latencyHint_));
        setText(kLatencyCommand, platform::fromUtf8(latencyHint_->command));
    }
    showControl(kLatencyHint, latencyHint_.has_value());
    showControl(kLatencyCommand, latencyHint_.has_value());
    // The texts that the hidden lines keep are the ones measured for room.
    if (!latencyHint_) layout();
}

std::u16string StatusPage::latencyHintText(const drive::LatencyHint& hint) const {
    const std::u16string name = platform::fromUtf8(
        std::filesystem::path(hint.attributePath).parent_path().filename().string());
    const std::u16string ms = decimal(hint.latencyMs);
    return say(u"The USB adapter " + name + u" holds every answer back for its latency timer of " +
                   ms +
                   u" ms. This command lowers it to 1 ms (until the adapter is plugged in "
                   u"again):",
               u"USB 串口适配器 " + name + u" 的延迟定时器为 " + ms +
                   u" ms，每个应答都因此推迟。以下命令将其降为 1 ms（重新插入适配器后恢复）：");
}

std::u16string StatusPage::say(std::u16string_view english, std::u16string_view chinese) const {
    return std::u16string(context_.words(english, chinese));
}

std::u16string StatusPage::staleMark() const {
    return std::u16string(say(u" (stale)", u"（旧值）"));
}

std::u16string StatusPage::withBits(std::u16string_view value, std::uint32_t word, int bits) {
    std::u16string text(value);
    text += u"  ";
    for (int bit = bits - 1; bit >= 0; --bit) {
        text += (word >> bit & 1u) != 0 ? u'1' : u'0';
        if (bit % 4 == 0 && bit > 0) text += u' ';
    }
    return text;
}

void StatusPage::showIo(drive::Freshness freshness) {
    const bool known = freshness != drive::Freshness::none;
    const bool live = freshness == drive::Freshness::live;
    // Greyed while stale or unknown: an old state is not the drive's.
    const auto show = [this, known, live](int id, int state) {
        state = known ? state : 0;
        if (check(id) != state) setCheck(id, state);
        if (control(id).isEnabled() != live) enable(id, live);
    };
    for (int i = 0; i < kInputCount; ++i) show(kFirstInputBox + i, inputState(i));
    for (int i = 0; i < kOutputCount; ++i)
        show(kOutputBoxes[static_cast<std::size_t>(i)], outputState(i));
}

void StatusPage::restoreBox(int id, int state) {
    if (exists() && check(id) != state) setCheck(id, state);
}

void StatusPage::takeAlarm() {
    const drive::AlarmNotice notice = service_.alarmNotice();
    if (notice.sequence == shownAlarmSequence_) return;
    shownAlarmSequence_ = notice.sequence;
    const AlarmWords words = alarmWords(notice.value);
    history_.push_back({localTime(), words.code, std::u16string(words.content)});
    if (history_.size() > kHistoryLimit) history_.pop_front();
    showAlarm(notice.value);
}

std::u16string StatusPage::statusAlarm() {
    takeAlarm();
    if (!context_.session.healthy() || service_.alarmFreshness() != drive::Freshness::live)
        return {};
    const std::int32_t value = service_.lastAlarm();
    if (value <= 0) return {};
    const AlarmWords words = alarmWords(value);
    return say(u"Alarm ", u"报警 ") + decimal(words.code) + say(u": ", u"：") +
           std::u16string(words.content);
}

StatusPage::AlarmWords StatusPage::alarmWords(std::int32_t value) const {
    const data::AlarmTable& alarms = context_.language.alarms();
    if (const data::AlarmEntry* entry =
            value >= 0 ? alarms.at(static_cast<std::size_t>(value)) : nullptr)
        return {entry->code, entry->content.view(), entry->cause.view()};
    // A value the table does not know: its code, marked unknown.
    return {value, context_.uiText(14, u"未知"), {}};
}

void StatusPage::showAlarm(std::int32_t value) {
    const AlarmWords words = alarmWords(value);
    std::u16string text;
    text += context_.uiText(129, u" 报警代码：");
    text += decimal(words.code);
    text += u"\r\n";
    text += context_.uiText(130, u" 报警内容：");
    text += words.content;
    text += u"\r\n";
    text += context_.uiText(131, u" 报警原因：");
    text += words.cause;
    text += u"\r\n";
    alarmBlock_ = std::move(text);
    showAlarmText();
}

void StatusPage::showAlarmText() {
    if (!exists()) return;
    const bool connected = context_.session.connected();
    const drive::Freshness freshness =
        connected ? service_.alarmFreshness() : drive::Freshness::none;
    std::u16string text;
    // Before the first read of a connection its alarm is unknown; the last
    // one of the previous connection does not stand for it.
    if (!connected || freshness != drive::Freshness::none) text = alarmBlock_;
    if (freshness == drive::Freshness::stale)
        text += say(u" (stale: read before the communication fault)\r\n",
                    u"（旧值：通讯异常前读取）\r\n");
    if (!history_.empty()) {
        text += say(u"\r\nAlarm history:\r\n", u"\r\n报警记录：\r\n");
        // Newest first, so that the latest change is in view.
        for (auto at = history_.rbegin(); at != history_.rend(); ++at)
            text += at->time + u"  " + decimal(at->code) + u"  " + at->text + u"\r\n";
    }
    if (this->text(kAlarmText) != text) setText(kAlarmText, text);
}

void StatusPage::writeOutput(int output) {
    if (output < 0 || output >= kOutputCount || !exists()) return;
    const int box = kOutputBoxes[static_cast<std::size_t>(output)];
    const bool on = check(box) != 0;
    if (!app::linkUsable(context_)) {
        restoreBox(box, outputState(output));
        return;
    }
    // An output may start a brake, a contactor or the machine itself: the
    // first write of a connection is confirmed.
    const std::uint64_t generation = context_.session.generation();
    if (outputsConfirmed_ != generation) {
        const std::u16string name = text(box);
        const std::u16string state = on ? say(u"ON", u"接通") : say(u"OFF", u"断开");
        const std::u16string question =
            say(u"Switch output ", u"将输出 ") + name + say(u" ", u" 切换为") + state +
            say(u" on the drive now?\n\nThe drive acts on it at once. Further output "
                u"writes on this connection are not asked again.",
                u"？\n\n驱动器将立即执行。本次连接中之后的输出写入不再询问。");
        if (!ui::askYesNo(question, say(u"Write output", u"写输出"))) {
            restoreBox(box, outputState(output));
            return;
        }
        outputsConfirmed_ = generation;
    }
    // A written state shows from then on; a refused one is reported and put
    // back from the state last read.
    auto result = std::make_shared<drive::Result>();
    drive::Job job;
    job.name = "output write";
    job.body = [this, output, on, result](drive::JobContext&) {
        *result = service_.writeOutput(output, on);
    };
    job.onDone = [this, output, box, result] {
        restoreBox(box, outputState(output));
        if (*result) return;
        ui::messageBox(say(u"Writing output ", u"写输出 ") + text(box) +
                           say(u" failed: ", u" 失败：") + app::linkCause(context_, *result),
                       context_.uiText(67, u"Error", u"错误"), ui::MessageIcon::Error);
    };
    if (!jobs_.start(std::move(job))) restoreBox(box, outputState(output));
}

void StatusPage::onDestroy() {
    jobs_.waitForEnd();
}

// --- Poll thread

std::uint8_t StatusPage::pollStatus() {
    return service_.poll().accessCode();
}

}  // namespace pages
