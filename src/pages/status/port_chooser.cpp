#include "pages/status/port_chooser.h"

#include <algorithm>
#include <cctype>

#include "pages/status/scan_dialog.h"
#include "platform/serial.h"
#include "platform/text.h"
#include "resources/resources.h"
#include "ui/backend.h"

namespace pages {

std::string networkPortProblem(std::string_view text) {
    const std::string whole(text);
    std::string_view rest;
    if (text.starts_with("tcp://"))
        rest = text.substr(6);
    else if (text.starts_with("rtu+tcp://"))
        rest = text.substr(10);
    else
        return "\"" + whole + "\" does not start with tcp:// or rtu+tcp://";
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return "\"" + whole + "\" has no HOST:PORT after the scheme";
    std::string_view host = rest.substr(0, colon);
    const std::string_view port = rest.substr(colon + 1);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']')
            return "\"" + whole + "\" has a broken [IPv6] host";
        host = host.substr(1, host.size() - 2);
        for (const char c : host)
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
                return "\"" + whole + "\" has a broken [IPv6] host";
    } else {
        for (const char c : host)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
                return "host \"" + std::string(host) + "\" is not a name or an address";
    }
    unsigned long number = 0;
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) ||
        (number = std::stoul(std::string(port))) == 0 || number > 65535)
        return "port \"" + std::string(port) + "\" is not 1 to 65535";
    return {};
}

// --- PortLister

PortLister::PortLister(ListFunction list, DeliverFunction deliver)
    : list_(std::move(list)), deliver_(std::move(deliver)), thread_([this] { run(); }) {}

PortLister::~PortLister() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void PortLister::request() {
    {
        std::lock_guard lock(mutex_);
        requested_ = true;
    }
    wake_.notify_all();
}

void PortLister::setList(ListFunction list) {
    {
        std::lock_guard lock(mutex_);
        list_ = std::move(list);
        requested_ = true;
    }
    wake_.notify_all();
}

void PortLister::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || requested_; });
        if (stop_) return;
        requested_ = false;
        const ListFunction list = list_;
        lock.unlock();
        std::vector<platform::SerialPortInfo> ports = list();
        deliver_(std::move(ports));
        lock.lock();
    }
}

// --- PortChooser

namespace {

constexpr std::uint8_t kParityCodes[] = {drive::kParityNone, drive::kParityEven, drive::kParityOdd};

}  // namespace

PortChooser::PortChooser(ui::Dialog& page, app::AppContext& context, PageControls controls,
                         PortLister::ListFunction list)
    : page_(page),
      context_(context),
      controls_(controls),
      lister_(std::move(list), [this](std::vector<platform::SerialPortInfo> ports) {
          // The task holds the list; it runs only while the page's window exists.
          page_.post([this, ports = std::move(ports)]() mutable { received(std::move(ports)); });
      }) {}

void PortChooser::attach() {
    ui::Control& parity = page_.control(kParityList);
    parity.clearItems();
    parity.addItem(context_.words(u"No parity", u"无校验"));
    parity.addItem(context_.words(u"Even parity", u"偶校验"));
    parity.addItem(context_.words(u"Odd parity", u"奇校验"));
    setParity(parity_);
    page_.setText(kScanButton, context_.words(u"Scan...", u"扫描..."));
    rebuild();
    lister_.request();
    page_.setTimer(kRefreshTimer, kRefreshMs);
}

void PortChooser::place(int left, int top, int width) {
    // The port list takes the whole first line (a port's description is
    // long); parity and Scan share the second, sized from their texts.
    const int scanWidth = std::max(90, page_.fitSize(kScanButton).width);
    const int parityWidth = std::max(95, page_.fitSize(kParityList).width);
    page_.control(kPortList).move(ui::Rect::fromXywh(left, top, std::max(width, 0), 300));
    page_.control(kParityList).move(ui::Rect::fromXywh(left, top + 28, parityWidth, 150));
    page_.control(kScanButton)
        .move(ui::Rect::fromXywh(left + width - scanWidth, top + 26, scanWidth, 24));
}

void PortChooser::enable(bool on) {
    // While connected the port is in use, by the link and not by a scan.
    for (int id : {kPortList, kParityList, kScanButton}) page_.enable(id, on);
}

void PortChooser::onTimer(int id) {
    if (id == kRefreshTimer) lister_.request();
}

void PortChooser::received(std::vector<platform::SerialPortInfo> ports) {
    ports_ = std::move(ports);
    listed_ = true;
    rebuild();
}

std::vector<std::string> PortChooser::listedDevices() const {
    std::vector<std::string> devices;
    for (const platform::SerialPortInfo& p : ports_) devices.push_back(p.device);
    return devices;
}

void PortChooser::rebuild() {
    entries_.clear();
    std::vector<std::u16string> texts;
    entries_.push_back({Kind::comButtons, {}});
    texts.emplace_back(context_.words(u"Port of the COM buttons", u"使用 COM 按钮的端口"));
    bool chosenShown = chosen_.empty();
    for (const platform::SerialPortInfo& p : ports_) {
        std::string line = p.device;
        if (!p.description.empty()) line += "  " + p.description;
        for (const std::string& com : p.comAliases) line += "  [" + com + "]";
        entries_.push_back({Kind::device, p.device});
        texts.push_back(platform::fromUtf8(line));
        chosenShown = chosenShown || p.device == chosen_;
    }
    for (const std::string& n : networks_) {
        entries_.push_back({Kind::network, n});
        texts.push_back(platform::fromUtf8(n));
        chosenShown = chosenShown || n == chosen_;
    }
    if (!chosenShown) {
        // Kept while its adapter is away: connecting then says what is wrong
        // instead of opening another port.
        entries_.push_back({Kind::device, chosen_});
        texts.push_back(
            platform::fromUtf8(chosen_) +
            std::u16string(listed_ ? context_.words(u"  (not listed)", u"  (未列出)") : u""));
    }
    entries_.push_back({Kind::askNetwork, {}});
    texts.emplace_back(context_.words(u"Network...", u"网络..."));

    ui::Control& list = page_.control(kPortList);
    bool same = list.itemCount() == static_cast<int>(texts.size());
    for (int i = 0; same && i < list.itemCount(); ++i)
        same = list.itemText(i) == texts[static_cast<std::size_t>(i)];
    if (!same) {
        list.clearItems();
        for (const std::u16string& t : texts) list.addItem(t);
    }
    int selected = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].kind != Kind::askNetwork && entries_[i].kind != Kind::comButtons &&
            entries_[i].device == chosen_)
            selected = static_cast<int>(i);
    if (list.selection() != selected) list.setSelection(selected);
}

void PortChooser::onSelectionChange(int id) {
    if (id == kParityList) {
        const int index = page_.control(kParityList).selection();
        if (index >= 0 && index < 3) parity_ = kParityCodes[index];
        return;
    }
    if (id != kPortList) return;
    const int index = page_.control(kPortList).selection();
    if (index < 0 || index >= static_cast<int>(entries_.size())) return;
    const Entry entry = entries_[static_cast<std::size_t>(index)];
    switch (entry.kind) {
        case Kind::comButtons:
            chosen_.clear();
            break;
        case Kind::device:
        case Kind::network:
            chosen_ = entry.device;
            break;
        case Kind::askNetwork:
            askNetwork();
            break;
    }
    rebuild();
}

void PortChooser::useComButtons() {
    chosen_.clear();
    rebuild();
}

namespace {

// Asks for a network port until it is usable or the user cancels.
class NetworkPortDialog : public ui::Dialog {
  public:
    static constexpr int kPrompt = 1211;
    static constexpr int kAddress = 1212;

    explicit NetworkPortDialog(app::AppContext& context)
        : Dialog(resources::kNetworkPortDialog), context_(context) {}
    std::string address;

  protected:
    bool onInitDialog() override {
        setCaption(context_.words(u"Network port", u"网络端口"));
        setText(kPrompt, context_.words(u"Modbus gateway: tcp://HOST:PORT or rtu+tcp://HOST:PORT",
                                        u"Modbus 网关：tcp://主机:端口 或 rtu+tcp://主机:端口"));
        setText(kAddress, u"tcp://");
        setText(ui::kIdOk, context_.words(u"OK", u"确定"));
        setText(ui::kIdCancel, context_.words(u"Cancel", u"取消"));
        setFocus(kAddress);
        return false;
    }
    void onOk() override {
        std::string text = platform::toUtf8(this->text(kAddress));
        text.erase(0, text.find_first_not_of(" \t"));
        text.erase(text.find_last_not_of(" \t") + 1);
        if (const std::string problem = networkPortProblem(text); !problem.empty()) {
            ui::messageBox(platform::fromUtf8(problem), caption(), ui::MessageIcon::Exclamation);
            return;
        }
        address = text;
        endDialog(ui::kIdOk);
    }

  private:
    app::AppContext& context_;
};

}  // namespace

void PortChooser::askNetwork() {
    NetworkPortDialog dialog(context_);
    if (dialog.runModal() != ui::kIdOk) return;
    if (std::find(networks_.begin(), networks_.end(), dialog.address) == networks_.end())
        networks_.push_back(dialog.address);
    chosen_ = dialog.address;
}

void PortChooser::setParity(std::uint8_t parity) {
    parity_ = parity;
    for (int i = 0; i < 3; ++i)
        if (kParityCodes[i] == parity) page_.control(kParityList).setSelection(i);
}

void PortChooser::apply(drive::LinkSettings& settings) const {
    if (!chosen_.empty()) settings.device = chosen_;
    settings.parity = parity_;
}

void PortChooser::choose(const drive::ScanHit& hit) {
    // "COMn" names the program's mapping, which a device override would skip.
    unsigned com = 0;
    if (hit.port.size() > 3 && hit.port.size() <= 6 && hit.port.compare(0, 3, "COM") == 0 &&
        std::all_of(hit.port.begin() + 3, hit.port.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        com = static_cast<unsigned>(std::stoul(hit.port.substr(3)));
    if (com >= 1 && com <= static_cast<unsigned>(controls_.portButtons)) {
        chosen_.clear();
        page_.setRadioGroupIndex(controls_.firstPortButton, static_cast<int>(com - 1));
    } else {
        chosen_ = com >= 1 ? platform::comDevicePath(com) : hit.port;
    }
    setParity(hit.parity);
    const auto& rates = controls_.baudRates;
    for (std::size_t i = 0; i < rates.size(); ++i)
        if (rates[i] == hit.baudRate)
            page_.setRadioGroupIndex(controls_.firstBaudButton, static_cast<int>(i));
    // The page lists stations from 1 by position; a drive above the list's
    // end extends it so that its station can be chosen.
    ui::Control& stations = page_.control(controls_.stationList);
    while (stations.itemCount() < hit.station)
        stations.addItem(platform::fromUtf8(std::to_string(stations.itemCount() + 1)));
    stations.setSelection(hit.station - 1);
    rebuild();
}

void PortChooser::scan() {
    std::vector<std::string> ports = listedDevices();
    // The port chosen here comes first, also when it is not listed.
    if (!chosen_.empty()) {
        std::erase(ports, chosen_);
        ports.insert(ports.begin(), chosen_);
    }
    ScanDialog dialog(context_, std::move(ports));
    if (dialog.runModal() == ui::kIdOk && dialog.chosen()) choose(*dialog.chosen());
}

}  // namespace pages
