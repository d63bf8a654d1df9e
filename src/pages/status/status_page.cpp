#include "pages/status/status_page.h"

#include <algorithm>
#include <array>
#include <string>

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

}  // namespace

StatusPage::StatusPage(app::AppContext& context)
    : MainPage(resources::kStatusPage),
      context_(context),
      service_(context.session, context.language.statusItems()),
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
    showConnectionState();
    showPortDevices();
    showAlarm(0);
    return true;
}

void StatusPage::setUpList() {
    ui::Control& list = control(kStatusList);
    list.setExtendedStyle(ui::list_style::kFullRowSelect | ui::list_style::kGridLines);
    list.insertColumn(0, context_.uiText(11, u"参数名称"), 200);
    list.insertColumn(1, context_.uiText(12, u"当前值"), 105);
    list.insertColumn(2, context_.uiText(13, u"单位"), 74);
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
    place(kInfoText, 600, 15, w - 610, 135);
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
    if (id >= kFirstPortButton && id < kFirstPortButton + kPortCount) {
        portChoice_ = id - kFirstPortButton;
        showPortDevices();
        return;
    }
    for (int n = 0; n < kOutputCount; ++n) {
        if (id == kOutputBoxes[static_cast<std::size_t>(n)]) {
            writeOutput(n);
            return;
        }
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
}

void StatusPage::connect() {
    if (const int baud = radioGroupIndex(kFirstBaudButton); baud >= 0) baudChoice_ = baud;
    if (const int port = radioGroupIndex(kFirstPortButton); port >= 0) portChoice_ = port;
    drive::LinkSettings settings;
    settings.channel = static_cast<std::uint8_t>(portChoice_);
    settings.baudRate = kBaudRates[static_cast<std::size_t>(baudChoice_)];
    settings.station = std::max(control(kStationList).selection(), 0) + 1;
    // The session publishes the link, timed and enabled, only once it is
    // open, with a fault flagged so that the poll loop probes first.
    if (!context_.session.connect(settings))
        ui::messageBox(u"Initialize the serial port failed!", ui::applicationTitle(),
                       ui::MessageIcon::Error);
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
    const std::u16string unknown(context_.uiText(14, u"未知"));
    ui::Control& list = control(kStatusList);
    const data::StatusTable& items = context_.language.statusItems();
    const int rows = std::min(list.rowCount(), static_cast<int>(items.size()));
    for (int row = 0; row < rows; ++row) {
        const std::u16string text =
            connected ? drive::statusValueText(items[static_cast<std::size_t>(row)]) : unknown;
        if (list.cellText(row, 1) != text) list.setCellText(row, 1, text);
    }
    const auto showState = [this](int id, int state) {
        if (check(id) != state) setCheck(id, state);
    };
    for (int i = 0; i < kInputCount; ++i) showState(kFirstInputBox + i, inputState(i));
    for (int i = 0; i < kOutputCount; ++i)
        showState(kOutputBoxes[static_cast<std::size_t>(i)], outputState(i));

    const drive::AlarmNotice notice = service_.alarmNotice();
    if (notice.sequence != shownAlarmSequence_) {
        shownAlarmSequence_ = notice.sequence;
        showAlarm(notice.value);
    }
}

void StatusPage::showAlarm(std::int32_t value) {
    if (!exists()) return;
    const data::AlarmTable& alarms = context_.language.alarms();
    std::int32_t code = value;
    std::u16string_view content;
    std::u16string_view cause;
    if (const data::AlarmEntry* entry =
            value >= 0 ? alarms.at(static_cast<std::size_t>(value)) : nullptr) {
        code = entry->code;
        content = entry->content.view();
        cause = entry->cause.view();
    } else {
        // A value the table does not know: its code, marked unknown.
        content = context_.uiText(14, u"未知");
    }
    std::u16string text;
    text += context_.uiText(129, u" 报警代码：");
    text += decimal(code);
    text += u"\r\n";
    text += context_.uiText(130, u" 报警内容：");
    text += content;
    text += u"\r\n";
    text += context_.uiText(131, u" 报警原因：");
    text += cause;
    text += u"\r\n";
    setText(kAlarmText, text);
}

void StatusPage::writeOutput(int output) {
    if (output < 0 || output >= kOutputCount || !exists()) return;
    const bool on = check(kOutputBoxes[static_cast<std::size_t>(output)]) != 0;
    // A written state shows from then on; a refused one (or one not sent
    // because another job runs) is put back by the next refresh from the
    // state last read.
    drive::Job job;
    job.name = "output write";
    job.body = [this, output, on](drive::JobContext&) { service_.writeOutput(output, on); };
    jobs_.start(std::move(job));
}

void StatusPage::onDestroy() {
    jobs_.waitForEnd();
}

// --- Poll thread

std::uint8_t StatusPage::pollStatus() {
    return service_.poll().accessCode();
}

}  // namespace pages
