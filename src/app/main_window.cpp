#include "app/main_window.h"

#include <chrono>
#include <system_error>
#include <utility>

#include "app/dialogs.h"
#include "app/poll_loop.h"
#include "resources/resources.h"
#include "ui/backend.h"

namespace app {

MainWindow::MainWindow(AppContext& context, const PageFactory& pages, ThreadLauncher launcher)
    : Dialog(resources::kMainDialog),
      context_(context),
      pageSet_(pages ? pages(context) : PageSet{}),
      tabs_(*this, kTabControl),
      launcher_(std::move(launcher)) {}

MainWindow::~MainWindow() {
    // The window normally joined the thread when it was destroyed; this covers
    // an object that goes while its window is still there.
    stopPollThread();
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
    setIcon(resources::kMainIcon);
    move(ui::Rect::fromXywh(0, 0, 1000, 730));
    centerWindow();
    if (context_.uiTexts().present(0)) setCaption(context_.uiText(0, u""));
    buildPages();
    // The thread starts once the pages exist, so that everything it may reach
    // through them is in place before it runs.
    startPollThread();
    setTimer(kRefreshTimer, kRefreshPeriodMs);
    initialised_ = true;
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
    const ui::Rect client = clientRect();
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

void MainWindow::layoutPages() {
    for (MainPage* p : tabPages_)
        if (p->exists()) p->layoutPage();
}

void MainWindow::startPollThread() {
    stopRequested_.store(0, std::memory_order_relaxed);
    std::function<void()> body = [this] { PollLoop(*this).run(); };
    try {
        pollThread_ = launcher_ ? launcher_(std::move(body)) : std::thread(std::move(body));
    } catch (const std::system_error&) {
        pollThread_ = std::thread();
    }
    if (!pollThread_.joinable()) ui::messageBox(u"Creat thread error!", u"Error");
}

void MainWindow::stopPollThread() {
    stopRequested_.store(1, std::memory_order_relaxed);
    if (pollThread_.joinable()) pollThread_.join();
}

void MainWindow::setStatusText(std::u16string_view status) {
    if (text(kStatusLine) != status) setText(kStatusLine, status);
}

void MainWindow::postStatusText(std::u16string text) {
    post([this, text = std::move(text)] { setStatusText(text); });
}

std::optional<std::uint8_t> MainWindow::pollPage(int index) {
    MainPage* p = page(index);
    if (!p) return std::nullopt;
    return p->poll();
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

void MainWindow::onTimer(int /*id*/) {
    if (MainPage* p = page(visiblePage())) p->refreshPage();
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
    Dialog::onSystemCommand(command);
}

void MainWindow::onDestroy() {
    stopRequested_.store(1, std::memory_order_relaxed);
    std::this_thread::sleep_for(std::chrono::milliseconds(kStopWaitMs));
    // A poll inside a transaction (a time-out with retries lasts over a
    // second) may still run after the wait: the pages, tables and link it uses
    // go only after it has ended.
    stopPollThread();
}

ui::KeyAction MainWindow::preTranslateKey(ui::Key /*key*/) {
    // Neither Enter nor Escape closes the window; only the close box does.
    return ui::KeyAction::Swallow;
}

}  // namespace app
