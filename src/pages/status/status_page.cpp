#include "pages/status/status_page.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <memory>
#include <string>

#include "app/link_text.h"
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

std::u16string localTime() {
    const std::time_t now = std::time(nullptr);
    char text[16] = "--:--:--";
    // User interface thread only, so the shared buffer of localtime is safe.
    if (const std::tm* local = std::localtime(&now))
        std::strftime(text, sizeof text, "%H:%M:%S", local);
    return platform::fromUtf8(text);
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
    const int ioLeft = left + 20;
    place(kIoGroup, ioLeft, 170, w - ioLeft - 10, h - 180);
    const int ioHeight = (h - 240) / 2;
    const int inputsTop = 200;
    const int outputsTop = 200 + ioHeight + 20;
    place(kInputGroup, ioLeft + 10, inputsTop, w - ioLeft - 30, ioHeight);
    place(kOutputGroup, ioLeft + 10, outputsTop, w - ioLeft - 30, ioHeight);
    const auto placeBox = [&](int id, int top, int i) {
        place(id, ioLeft + 20 + 125 * (i % 4), top + 25 + 30 * (i / 4), 120, 20);
    };
    for (int i = 0; i < kInputCount; ++i) placeBox(kFirstInputBox + i, inputsTop, i);
    for (int i = 0; i < kOutputCount; ++i)
        placeBox(kOutputBoxes[static_cast<std::size_t>(i)], outputsTop, i);
    applyTexts();
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
    showConnectionState();
    showPortDevices();
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
    // The session publishes the link, timed and enabled, only once it is
    // open, with a fault flagged so that the poll loop probes first.
    const drive::Result r = context_.session.connect(settings);
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
