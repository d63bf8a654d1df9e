#include "app/main_window.h"

#include <system_error>
#include <utility>

#include "app/dialogs.h"
#include "app/link_text.h"
#include "app/poll_loop.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "resources/resources.h"
#include "ui/backend.h"
#include "ui/layout.h"

namespace app {

MainWindow::MainWindow(AppContext& context, const PageFactory& pages, ThreadLauncher launcher)
    : Dialog(resources::kMainDialog),
      context_(context),
      pageSet_(pages ? pages(context) : PageSet{}),
      tabs_(*this, kTabControl),
      launcher_(std::move(launcher)) {
    context_.jobEnded = [this] { closeWhenIdle(); };
}

MainWindow::~MainWindow() {
    busMonitor_.reset();
    // The window normally joined the thread when it was destroyed; this covers
    // an object that goes while its window is still there.
    stopPollThread();
    context_.jobEnded = nullptr;
    context_.linkHealth = nullptr;
    context_.openBusMonitor = nullptr;
}

MainPage* MainWindow::page(int index) const {
    if (index < 0 || index >= static_cast<int>(tabPages_.size())) return nullptr;
    return tabPages_[static_cast<std::size_t>(index)];
}

bool MainWindow::onInitDialog() {
    const std::u16string_view about = resources::loadString(resources::kAboutMenuText);
    if (!about.empty()) {
        appendSystemMenuItem(0, u"");
        appendSystemMenuItem(kAboutCommand, about);
    }
    if (context_.transactions != nullptr)
        appendSystemMenuItem(kBusMonitorCommand,
                             context_.words(u"&Bus monitor...\tCtrl+M",
                                            resources::loadString(resources::kBusMonitorMenuText)));
    startMicros_ = platform::monotonicMicros();
    setIcon(resources::kMainIcon);
    move(ui::Rect::fromXywh(0, 0, 1000, 730));
    centerWindow();
    if (context_.uiTexts().present(0)) setCaption(context_.uiText(0, u""));
    context_.showNote = [this](std::u16string note) { showNote(std::move(note)); };
    context_.linkChanged = [this] { updateStatusLine(); };
    if (context_.transactions != nullptr) context_.openBusMonitor = [this] { openBusMonitor(); };
    buildPages();
    fitMinimumSize();
    // The thread starts once the pages exist, so that everything it may reach
    // through them is in place before it runs.
    startPollThread();
    if (context_.transactions != nullptr)
        linkHealth_ = std::make_unique<drive::LinkHealth>(*context_.transactions);
    context_.linkHealth = linkHealth_.get();
    setTimer(kRefreshTimer, kRefreshPeriodMs);
    initialised_ = true;
    updateStatusLine();
    return true;
}

void MainWindow::buildPages() {
    layout();
    const auto add = [this](MainPage* p, std::u16string_view title) {
        if (p && tabs_.addPage(title, *p, p->templateId())) tabPages_.push_back(p);
    };
    add(pageSet_.status.get(), context_.uiText(1, u"【驱动状态】"));
    add(pageSet_.parameters.get(), context_.uiText(2, u"【驱动参数】"));
    // The scope page has no built-in title: without one it has no tab.
    if (context_.uiTexts().present(3)) add(pageSet_.scope.get(), context_.uiText(3, u""));
    visiblePage_.store(0, std::memory_order_relaxed);
    // pageRect depends on tab item 0, which exists only once the tabs are in.
    tabs_.createPages([this] { layout(); });
    tabs_.selectPage(0);
}

void MainWindow::layout() {
    layoutFor(clientRect().size());
}

void MainWindow::layoutFor(ui::Size size) {
    const ui::Rect client{0, 0, size.width, size.height};
    control(kTabControl)
        .move(ui::Rect::fromXywh(client.left + 5, client.top + 5, client.width() - 10,
                                 client.height() - 26));
    control(kStatusLine)
        .move(ui::Rect::fromXywh(client.left + 5, client.bottom - 20, client.width() - 10, 18));
    const ui::Control& tabs = control(kTabControl);
    const ui::Rect tabClient = tabs.clientRect();
    const ui::Rect item = tabs.itemRect(0);
    context_.pageRect = {item.left, item.bottom + 1, tabClient.right - 3, tabClient.bottom - 1};
}

// The smallest client size at which every page, laid out by its own rules
// with its texts measured, keeps each control inside and apart from the
// others with its whole text shown; found by laying the window out at trial
// sizes. A text that no size lets fit leaves the largest trial size.
void MainWindow::fitMinimumSize() {
    const ui::Size now = clientRect().size();
    const auto fits = [this](ui::Size s) {
        layoutFor(s);
        layoutPages();
        if (!ui::findLayoutIssues(*this, {0, 0, s.width, s.height}).empty()) return false;
        for (MainPage* p : tabPages_)
            if (p->exists() && !p->isVisible() && !ui::findLayoutIssues(*p).empty()) return false;
        return true;
    };
    // The toolkit sees only the final layout.
    beginLayoutTrial();
    const ui::Size found = ui::smallestFittingSize(
        {kSmallestSize.width, kSmallestSize.height},
        {std::max(now.width, kLargestMinimum.width), std::max(now.height, kLargestMinimum.height)},
        fits);
    layoutFor(now);
    layoutPages();
    endLayoutTrial();
    setMinimumSize(found);
    const ui::Rect at = windowRect();
    if (now.width < found.width || now.height < found.height) {
        move(ui::Rect::fromXywh(at.left, at.top, std::max(now.width, found.width),
                                std::max(now.height, found.height)));
        centerWindow();
    }
    layout();
    layoutPages();
    tabs_.placePages();
}

void MainWindow::layoutPages() {
    for (MainPage* p : tabPages_)
        if (p->exists()) p->layoutPage();
}

void MainWindow::startPollThread() {
    {
        std::lock_guard lock(stopMutex_);
        stopRequested_.store(false, std::memory_order_release);
        pollDone_ = false;
    }
    pollEnded_ = false;
    std::function<void()> body = [this] {
        PollLoop(*this).run();
        {
            std::lock_guard lock(stopMutex_);
            pollDone_ = true;
        }
        stopSignal_.notify_all();
        // Dropped when the window has gone by then.
        post([this] { pollThreadEnded(); });
    };
    try {
        pollThread_ = launcher_ ? launcher_(std::move(body)) : std::thread(std::move(body));
    } catch (const std::system_error&) {
        pollThread_ = std::thread();
    }
    if (!pollThread_.joinable()) {
        {
            std::lock_guard lock(stopMutex_);
            pollDone_ = true;
        }
        pollEnded_ = true;
        ui::messageBox(u"Creat thread error!", u"Error");
    }
}

void MainWindow::requestStop() {
    {
        std::lock_guard lock(stopMutex_);
        stopRequested_.store(true, std::memory_order_release);
    }
    stopSignal_.notify_all();
}

void MainWindow::stopPollThread() {
    requestStop();
    // A poll inside a transaction (a time-out with retries lasts over a
    // second) ends first: the pages, tables and link it uses go only after.
    if (pollThread_.joinable()) pollThread_.join();
}

void MainWindow::pollThreadEnded() {
    pollEnded_ = true;
    closeWhenIdle();
}

bool MainWindow::waitUnlessStopped(std::chrono::milliseconds duration) {
    std::unique_lock lock(stopMutex_);
    return stopSignal_.wait_for(lock, duration, [this] { return stopRequested(); });
}

void MainWindow::setStatusText(std::u16string_view status) {
    // While the window waits for a job to close, the line says so.
    if (closePending_) return;
    if (text(kStatusLine) != status) setText(kStatusLine, status);
}

void MainWindow::updateStatusLine() {
    if (closePending_ || !exists()) return;
    // The session's atomic words, not its snapshot: a reopen on the poll
    // thread holds the snapshot's lock while the port closes.
    const drive::DriveSession& session = context_.session;
    const bool connected = session.connected();
    const std::uint64_t generation = session.generation();
    const LinkReport link = linkReport();
    std::u16string text;
    bool alarm = false;
    if (!note_.empty()) {
        text = note_;
    } else if (!connected) {
        text = context_.uiText(66, u"Not connected", u"通讯未连接");
    } else if (session.healthy() || (link.generation == generation && link.result.ok())) {
        MainPage* status = pageSet_.status.get();
        if (status && status->exists()) text = status->statusAlarm();
        alarm = !text.empty();
        if (!alarm) {
            text = context_.uiText(64, u"Link OK", u"通讯连接OK");
            if (const std::u16string health = linkHealthReadout(); !health.empty())
                text += u"   " + health;
        }
    } else if (link.generation != generation) {
        // Not probed yet: no reopen runs, so the snapshot is at hand.
        const std::u16string port = portName(session.snapshot());
        text = context_.words(u"Connecting to " + port + u": waiting for the drive...",
                              u"正在连接 " + port + u"，等待驱动器应答…");
    } else {
        text = context_.uiText(65, u"Communication fault", u"网络通讯异常");
        text += context_.words(u": ", u"：");
        text += linkCause(context_, link.result);
        if (link.reopening)
            text += context_.words(u" (opening the port again...)", u"（正在重新打开串口…）");
    }
    ui::Control& line = control(kStatusLine);
    line.setTextColor(alarm ? std::optional<ui::Color>(kAlarmColor) : std::nullopt);
    setStatusText(text);
}

void MainWindow::showNote(std::u16string note) {
    note_ = std::move(note);
    if (!exists()) return;
    // Restarted by each note, so the newest stays its full time.
    setTimer(kNoteTimer, kNoteMs);
    updateStatusLine();
}

void MainWindow::publishLink(LinkReport report) {
    {
        std::lock_guard lock(linkMutex_);
        link_ = std::move(report);
    }
    post([this] { updateStatusLine(); });
}

LinkReport MainWindow::linkReport() const {
    std::lock_guard lock(linkMutex_);
    return link_;
}

void MainWindow::postStatusText(std::u16string text) {
    post([this, text = std::move(text)] { setStatusText(text); });
}

std::optional<std::uint8_t> MainWindow::pollPage(int index) {
    MainPage* p = page(index);
    if (!p) return std::nullopt;
    return p->poll();
}

std::optional<std::uint8_t> MainWindow::watchPage(int index) {
    MainPage* p = page(index);
    if (!p) return std::nullopt;
    return p->watch();
}

void MainWindow::onSelectionChange(int id) {
    if (id != kTabControl) return;
    const int selected = control(kTabControl).selection();
    visiblePage_.store(selected, std::memory_order_relaxed);
    // A selection made with the keyboard shows its page too, so that the page
    // in view is always the one polled.
    tabs_.selectPage(selected);
}

void MainWindow::onTabClick(int id, int /*index*/) {
    if (id == kTabControl) tabs_.tabClicked();
}

void MainWindow::onTimer(int id) {
    if (id == kNoteTimer) {
        killTimer(kNoteTimer);
        note_.clear();
    } else if (MainPage* p = page(visiblePage())) {
        // Before the page, which shows the figures in detail.
        if (linkHealth_) linkHealth_->update(platform::monotonicMicros());
        p->refreshPage();
    }
    updateStatusLine();
}

std::u16string MainWindow::linkHealthReadout() const {
    return linkHealth_ ? drive::linkHealthSummary(linkHealth_->figures(), context_.englishTexts)
                       : std::u16string();
}

void MainWindow::onSize(ui::SizeState state, int /*width*/, int /*height*/) {
    if (state == ui::SizeState::Minimized || !initialised_) return;
    layout();
    layoutPages();
}

void MainWindow::onPaint(ui::DrawContext& dc) {
    if (!isMinimized()) return;
    const ui::Size client = dc.size();
    dc.drawIcon({(client.width - ui::kIconSize.width + 1) / 2,
                 (client.height - ui::kIconSize.height + 1) / 2},
                resources::kMainIcon);
}

void MainWindow::onSystemCommand(int command) {
    if ((command & ~0xF) == kAboutCommand) {
        AboutDialog about;
        about.runModal();
        return;
    }
    if ((command & ~0xF) == kBusMonitorCommand) {
        openBusMonitor();
        return;
    }
    Dialog::onSystemCommand(command);
}

void MainWindow::onClose() {
    if (closePending_) return;
    closePending_ = true;
    requestStop();
    {
        // The thread normally waits for its next pass and ends at once.
        std::unique_lock lock(stopMutex_);
        if (stopSignal_.wait_for(lock, std::chrono::milliseconds(kCloseWaitMs),
                                 [this] { return pollDone_; }))
            pollEnded_ = true;
    }
    std::u16string waiting;
    if (context_.jobsInFlight > 0)
        // The job is left to end: an EEPROM store or an import cut short
        // leaves the drive half-written.
        waiting = u"Closing: waiting for \"" + platform::fromUtf8(context_.jobs.current()) +
                  u"\" to finish...";
    else if (!pollEnded_)
        waiting = u"Closing: waiting for the drive's answer...";
    if (!waiting.empty() && text(kStatusLine) != waiting) setText(kStatusLine, waiting);
    closeWhenIdle();
}

void MainWindow::onCancel() {
    onClose();
}

void MainWindow::closeWhenIdle() {
    if (!closePending_ || !exists() || context_.jobsInFlight > 0 || !pollEnded_) return;
    // The runner turns idle right after it has handed the job's end over.
    context_.jobs.wait();
    endDialog(ui::kIdCancel);
}

void MainWindow::openBusMonitor() {
    if (context_.transactions == nullptr || !exists()) return;
    if (busMonitor_ && busMonitor_->exists()) {
        busMonitor_->bringBack();
        return;
    }
    if (!busMonitor_)
        busMonitor_ =
            std::make_unique<BusMonitorWindow>(context_, *context_.transactions, startMicros_);
    busMonitor_->createModeless();
}

BusMonitorWindow* MainWindow::busMonitor() const {
    return busMonitor_ && busMonitor_->exists() ? busMonitor_.get() : nullptr;
}

void MainWindow::onDestroy() {
    // The monitor goes first: it shows this window's notes and uses the
    // context's tables.
    if (busMonitor_) busMonitor_->destroy();
    stopPollThread();
    // Normally no job runs by now (closing waited for it); a window destroyed
    // another way still lets it end before the pages and services go.
    context_.jobs.wait();
    context_.showNote = nullptr;
    context_.linkChanged = nullptr;
    context_.linkHealth = nullptr;
    context_.openBusMonitor = nullptr;
}

ui::KeyAction MainWindow::preTranslateKey(ui::Key key) {
    // Neither Enter nor Escape closes the window; only the close box does.
    // Ctrl+M opens the bus monitor; the other keys move the focus and switch
    // pages.
    if (key == ui::Key::Enter || key == ui::Key::Escape) return ui::KeyAction::Swallow;
    if (key == ui::Key::ControlM) {
        openBusMonitor();
        return ui::KeyAction::Swallow;
    }
    return ui::KeyAction::Default;
}

}  // namespace app
