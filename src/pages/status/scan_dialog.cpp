#include "pages/status/scan_dialog.h"

#include <string_view>

#include "platform/text.h"
#include "resources/resources.h"
#include "ui/backend.h"

namespace pages {
namespace {

std::u16string wide(std::string_view utf8) {
    return platform::fromUtf8(utf8);
}

std::u16string number(long long value) {
    return platform::fromUtf8(std::to_string(value));
}

std::string joined(const std::vector<std::string>& items) {
    std::string s;
    for (const std::string& item : items) s += (s.empty() ? "" : ", ") + item;
    return s;
}

}  // namespace

ScanDialog::ScanDialog(app::AppContext& context, std::vector<std::string> ports)
    : Dialog(resources::kScanDialog), context_(context), ports_(std::move(ports)) {
    runner_ = std::make_unique<drive::JobRunner>(
        [this](std::function<void()> task) { post(std::move(task)); });
}

ScanDialog::~ScanDialog() {
    // The job posts to this dialog: it ends before the dialog does.
    runner_.reset();
}

bool ScanDialog::onInitDialog() {
    setCaption(words(u"Scan for drives", u"扫描驱动器"));
    setText(kStartButton, words(u"Start", u"开始"));
    setText(ui::kIdOk, words(u"Use", u"使用"));
    setText(ui::kIdCancel, words(u"Close", u"关闭"));
    setText(kPorts, wide(joined(ports_)));
    setText(kBauds, u"4800,9600,19200,38400,57600,115200");
    setText(kParities, u"N,E,O");
    // The page offers stations 1 to 64; wider ranges can be typed.
    setText(kStations, u"1-64");
    setText(kTimeout, u"50");
    ui::Control& list = control(kResults);
    list.setExtendedStyle(ui::list_style::kFullRowSelect | ui::list_style::kGridLines);
    list.insertColumn(0, words(u"Port", u"端口"), 190);
    list.insertColumn(1, words(u"Baud rate", u"波特率"), 80);
    list.insertColumn(2, words(u"Parity", u"校验位"), 55);
    list.insertColumn(3, words(u"Station", u"站号"), 55);
    list.insertColumn(4, words(u"Register 0", u"寄存器 0"), 75);
    control(kProgress).setRange(0, 1000);
    setText(kState, ports_.empty() ? words(u"No serial port was found: enter the ports to scan.",
                                           u"未找到串口：请输入要扫描的端口。")
                                   : std::u16string());
    return true;
}

void ScanDialog::onCommand(int id) {
    if (id == kStartButton) {
        if (scanning_)
            stop();
        else
            start();
        return;
    }
    Dialog::onCommand(id);
}

void ScanDialog::start() {
    drive::ScanPlan plan;
    std::string problem;
    const auto refuse = [&] {
        ui::messageBox(wide(problem), words(u"Scan", u"扫描"), ui::MessageIcon::Exclamation);
    };
    const std::string timeoutText = platform::toUtf8(this->text(kTimeout));
    const auto ports = drive::parsePortList(platform::toUtf8(this->text(kPorts)), problem);
    if (!ports) return refuse();
    const auto bauds = drive::parseBaudRates(platform::toUtf8(this->text(kBauds)), problem);
    if (!bauds) return refuse();
    const auto parities = drive::parseParities(platform::toUtf8(this->text(kParities)), problem);
    if (!parities) return refuse();
    const auto stations =
        drive::parseStationRange(platform::toUtf8(this->text(kStations)), problem);
    if (!stations) return refuse();
    unsigned long timeout = 0;
    try {
        std::size_t used = 0;
        timeout = std::stoul(timeoutText, &used);
        if (used != timeoutText.size()) timeout = 0;
    } catch (const std::exception&) {
        timeout = 0;
    }
    if (timeout < 5 || timeout > 5000) {
        problem = "time-out \"" + timeoutText + "\" is not 5 to 5000 ms";
        return refuse();
    }
    plan.ports = *ports;
    plan.baudRates = *bauds;
    plan.parities = *parities;
    plan.firstStation = stations->first;
    plan.lastStation = stations->second;
    plan.timeoutMs = static_cast<std::uint16_t>(timeout);

    hits_.clear();
    control(kResults).deleteAllRows();
    control(kProgress).setPosition(0);
    auto report = std::make_shared<drive::ScanReport>();
    drive::Job job;
    job.name = "scan";
    job.body = [this, plan, report](drive::JobContext& context) {
        drive::ScanControl scan;
        scan.progress = [&context](std::size_t done, std::size_t total) {
            context.progress(done, total);
        };
        // A hit is copied into the task: the dialog shows it as it comes.
        scan.found = [this](const drive::ScanHit& hit) { post([this, hit] { addHit(hit); }); };
        scan.cancelled = [&context] { return context.cancelled(); };
        *report = drive::scanBus(plan, scan);
    };
    job.onProgress = [this](std::size_t done, std::size_t total) {
        if (total == 0) return;
        control(kProgress).setPosition(static_cast<int>(done * 1000 / total));
        setText(kState, words(u"Probing: ", u"正在探测：") + number(static_cast<long long>(done)) +
                            u" / " + number(static_cast<long long>(total)) + u", " +
                            number(static_cast<long long>(hits_.size())) +
                            words(u" found", u" 台已找到"));
    };
    job.onDone = [this, report] { finished(*report); };
    if (!runner_->start(std::move(job))) return;
    scanning_ = true;
    setText(kStartButton, words(u"Stop", u"停止"));
    for (int id : {kPorts, kBauds, kParities, kStations, kTimeout}) enable(id, false);
}

void ScanDialog::stop() {
    runner_->cancel();
    setText(kState, words(u"Stopping...", u"正在停止..."));
}

void ScanDialog::addHit(const drive::ScanHit& hit) {
    hits_.push_back(hit);
    ui::Control& list = control(kResults);
    const int row = list.insertRow(list.rowCount(), wide(hit.port));
    list.setCellText(row, 1, number(hit.baudRate));
    list.setCellText(row, 2,
                     std::u16string(1, static_cast<char16_t>(drive::parityLetter(hit.parity))));
    list.setCellText(row, 3, number(hit.station));
    list.setCellText(row, 4,
                     hit.register0 ? number(*hit.register0)
                                   : words(u"exception ", u"异常 ") + number(hit.exceptionCode));
    if (hits_.size() == 1) {
        list.setRowSelected(row, true);
        list.setSelectionMark(row);
    }
}

void ScanDialog::finished(const drive::ScanReport& report) {
    scanning_ = false;
    if (closing_) {
        endDialog(chosen_ ? ui::kIdOk : ui::kIdCancel);
        return;
    }
    setText(kStartButton, words(u"Start", u"开始"));
    for (int id : {kPorts, kBauds, kParities, kStations, kTimeout}) enable(id, true);
    if (!report.cancelled) control(kProgress).setPosition(1000);
    std::u16string state = number(static_cast<long long>(report.hits.size())) +
                           words(u" drive(s) found", u" 台驱动器已找到");
    if (report.cancelled) state = words(u"Stopped: ", u"已停止：") + state;
    // A port that could not be scanned is named, with the system's reason.
    for (const drive::ScanPortFailure& f : report.portFailures) state += u"; " + wide(f.reason);
    setText(kState, state);
}

void ScanDialog::onOk() {
    const int row = control(kResults).firstSelectedRow();
    if (row < 0 || row >= static_cast<int>(hits_.size())) {
        ui::messageBox(words(u"Choose a drive in the list first.", u"请先在列表中选择驱动器。"),
                       words(u"Scan", u"扫描"), ui::MessageIcon::Exclamation);
        return;
    }
    chosen_ = hits_[static_cast<std::size_t>(row)];
    if (scanning_) {
        closing_ = true;
        runner_->cancel();
        return;
    }
    endDialog(ui::kIdOk);
}

void ScanDialog::onCancel() {
    chosen_.reset();
    if (scanning_) {
        closing_ = true;
        stop();
        return;
    }
    endDialog(ui::kIdCancel);
}

}  // namespace pages
