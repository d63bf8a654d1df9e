#include "main/start_actions.h"

#include <cstdio>

#include "app/main_window.h"
#include "pages/parameters/compare_view.h"
#include "pages/parameters/parameter_page.h"
#include "pages/scope/scope_page.h"
#include "pages/status/status_page.h"
#include "resources/resources.h"

namespace servo_main {
namespace {

std::optional<long> number(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

ui::Dialog* pageOf(ui::Dialog& window, int templateId) {
    for (ui::Dialog* page : window.children())
        if (page->templateId() == templateId) return page;
    return nullptr;
}

// Runs the event loop until the condition holds, at most `ms` milliseconds.
void processUntil(const ScreenshotBackend& backend, const std::function<bool()>& done, int ms) {
    for (int waited = 0; waited < ms && !done(); waited += 50) backend.processEvents(50);
}

// The compare view over the parameter page's service, against the first
// drive model set when there is one, with two differing rows checked.
bool saveCompareView(ui::Dialog& mainWindow, const std::filesystem::path& file,
                     const ScreenshotBackend& backend) {
    auto* window = dynamic_cast<app::MainWindow*>(&mainWindow);
    auto* page = dynamic_cast<pages::ParameterPage*>(pageOf(mainWindow, resources::kParameterPage));
    if (!window || !page) return true;
    using pages::CompareView;
    CompareView view(window->context(), page->service());
    if (!view.createModeless()) return false;
    processUntil(
        backend, [&] { return !view.busy(); }, 5000);
    if (view.control(CompareView::kSourceCombo).itemCount() > CompareView::kFirstModelSource) {
        view.userSelectItem(CompareView::kSourceCombo, CompareView::kFirstModelSource);
        processUntil(
            backend, [&] { return !view.busy(); }, 5000);
    }
    int checked = 0;
    for (const drive::CompareRow& row : view.comparison().rows)
        if (row.differs && row.writable && checked < 2 &&
            view.userCheckRow(CompareView::kList, view.rowOf(row.index), true))
            ++checked;
    backend.processEvents(200);
    const bool saved = backend.saveWindow(view, file);
    view.destroy();
    return saved;
}

// The bus monitor over the running link, once its timer has taken in rows;
// it stays open until the main window closes.
bool saveBusMonitor(ui::Dialog& mainWindow, const std::filesystem::path& file,
                    const ScreenshotBackend& backend) {
    auto* window = dynamic_cast<app::MainWindow*>(&mainWindow);
    if (!window) return true;
    window->openBusMonitor();
    app::BusMonitorWindow* monitor = window->busMonitor();
    if (!monitor) return false;
    processUntil(
        backend, [&] { return monitor->control(app::BusMonitorWindow::kList).rowCount() >= 20; },
        3000);
    backend.processEvents(300);
    return backend.saveWindow(*monitor, file);
}

}  // namespace

std::optional<ConnectChoice> parseConnectChoice(std::string_view text, std::string& error) {
    ConnectChoice choice;
    const std::size_t first = text.find(':');
    const std::string_view port = text.substr(0, first);
    const auto n = port.size() > 3 && (port[0] == 'C' || port[0] == 'c') &&
                           (port[1] == 'O' || port[1] == 'o') && (port[2] == 'M' || port[2] == 'm')
                       ? number(port.substr(3))
                       : std::nullopt;
    if (!n || *n < 1 || *n > pages::StatusPage::kPortCount) {
        error = "port '" + std::string(port) + "' is not one of COM1 to COM6";
        return std::nullopt;
    }
    choice.port = static_cast<int>(*n);
    if (first == std::string_view::npos) return choice;
    const std::string_view rest = text.substr(first + 1);
    const std::size_t second = rest.find(':');
    const std::string_view baud = rest.substr(0, second);
    const auto rate = number(baud);
    bool offered = false;
    for (std::uint32_t b : pages::StatusPage::kBaudRates)
        offered = offered || (rate && *rate == static_cast<long>(b));
    if (!offered) {
        error = "baud rate '" + std::string(baud) +
                "' is not one of 4800, 9600, 19200, 38400, 57600, 115200";
        return std::nullopt;
    }
    choice.baud = static_cast<std::uint32_t>(*rate);
    if (second == std::string_view::npos) return choice;
    const std::string_view station = rest.substr(second + 1);
    const auto s = number(station);
    if (!s || *s < 1 || *s > pages::StatusPage::kStationCount) {
        error = "station '" + std::string(station) + "' is not one of 1 to 64";
        return std::nullopt;
    }
    choice.station = static_cast<int>(*s);
    return choice;
}

bool connectAtStart(ui::Dialog& mainWindow, const ConnectChoice& choice) {
    auto* window = dynamic_cast<app::MainWindow*>(&mainWindow);
    ui::Dialog* page = pageOf(mainWindow, resources::kStatusPage);
    if (!window || !page) return false;
    using pages::StatusPage;
    int baudIndex = 0;
    for (std::size_t i = 0; i < StatusPage::kBaudRates.size(); ++i)
        if (StatusPage::kBaudRates[i] == choice.baud) baudIndex = static_cast<int>(i);
    // The page reads its choices off these controls when Connect is pressed.
    page->userClick(StatusPage::kFirstBaudButton + baudIndex);
    page->userClick(StatusPage::kFirstPortButton + choice.port - 1);
    page->userSelectItem(StatusPage::kStationList, choice.station - 1);
    if (!window->context().session.connected()) page->userClick(StatusPage::kConnectButton);
    return window->context().session.connected();
}

bool takeScreenshots(ui::Dialog& mainWindow, const std::filesystem::path& dir,
                     const std::optional<ConnectChoice>& connect,
                     const ScreenshotBackend& backend) {
    static constexpr const char* kPageNames[] = {"status", "parameters", "scope"};
    bool ok = true;
    bool connected = false;
    if (connect) {
        connected = connectAtStart(mainWindow, *connect);
        if (!connected) {
            std::fprintf(stderr, "servo-tool: --connect: COM%d did not connect\n", connect->port);
            ok = false;
        }
        backend.processEvents(1000);
        // The scope records the first three quantities every 10 ms.
        if (ui::Dialog* scope = pageOf(mainWindow, resources::kScopePage)) {
            using pages::ScopePage;
            for (int k = 0; k < ScopePage::kChannels; ++k) {
                const auto i = static_cast<std::size_t>(k);
                scope->userSelectItem(ScopePage::kQuantity[i], k);
                scope->userClick(ScopePage::kOnOff[i]);
            }
            scope->userSelectItem(ScopePage::kPeriod, 1);
            // Normal trigger on the motor speed rising through 300 rpm, which
            // the demo drive's motion profile crosses in each of its cycles;
            // cursors shown.
            scope->userSelectItem(ScopePage::kTriggerMode, 2);
            scope->userType(ScopePage::kLevel, u"300");
            scope->userClick(ScopePage::kArm);
            scope->userClick(ScopePage::kCursors);
        }
    }
    const int tabs = mainWindow.control(app::MainWindow::kTabControl).itemCount();
    for (int i = 0; i < tabs && i < 3; ++i) {
        mainWindow.userClickTab(app::MainWindow::kTabControl, i);
        backend.processEvents(connect && i == 2 ? 2500 : 400);
        // The scope's picture shows a capture: the profile's next crossing
        // comes within one motion cycle (10 s).
        const auto* scope = dynamic_cast<const pages::ScopePage*>(
            connected && i == 2 ? pageOf(mainWindow, resources::kScopePage) : nullptr);
        for (int waited = 0; scope && waited < 12000; waited += 100) {
            const drive::TriggerState state = scope->trigger().state();
            if (state == drive::TriggerState::triggered) break;
            backend.processEvents(100);
        }
        const std::filesystem::path file = dir / (std::string(kPageNames[i]) + backend.extension);
        if (backend.saveWindow(mainWindow, file)) {
            std::printf("%s\n", file.string().c_str());
        } else {
            std::fprintf(stderr, "servo-tool: cannot write %s\n", file.string().c_str());
            ok = false;
        }
    }
    if (connect && connected) {
        const std::filesystem::path file = dir / ("compare" + backend.extension);
        if (saveCompareView(mainWindow, file, backend)) {
            std::printf("%s\n", file.string().c_str());
        } else {
            std::fprintf(stderr, "servo-tool: cannot write %s\n", file.string().c_str());
            ok = false;
        }
    }
    if (connect && connected) {
        const std::filesystem::path file = dir / ("monitor" + backend.extension);
        if (saveBusMonitor(mainWindow, file, backend)) {
            std::printf("%s\n", file.string().c_str());
        } else {
            std::fprintf(stderr, "servo-tool: cannot write %s\n", file.string().c_str());
            ok = false;
        }
    }
    std::fflush(stdout);
    mainWindow.userClose();
    return ok;
}

}  // namespace servo_main
