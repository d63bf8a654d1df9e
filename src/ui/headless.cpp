#include "ui/headless.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace ui {
namespace {

constexpr Color kWindowColor{240, 240, 240};
constexpr Color kIconColor{0, 64, 128};

RecordingContext::Op makeOp(RecordingContext::Op::Kind kind, Rect rect, Point point, Color color) {
    RecordingContext::Op op;
    op.kind = kind;
    op.rect = rect;
    op.point = point;
    op.color = color;
    return op;
}

}  // namespace

// --- RecordingContext

RecordingContext::Surface::Surface(Size s, Color fill)
    : size{std::max(s.width, 0), std::max(s.height, 0)},
      pixels(static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height), fill) {}

RecordingContext::RecordingContext(Size size, Color fill)
    : surface_(std::make_shared<Surface>(size, fill)) {}

RecordingContext::RecordingContext(std::shared_ptr<Surface> surface)
    : surface_(std::move(surface)) {}

void RecordingContext::set(int x, int y, Color c) {
    if (x < 0 || y < 0 || x >= surface_->size.width || y >= surface_->size.height) return;
    surface_->pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(surface_->size.width) +
                     static_cast<std::size_t>(x)] = c;
}

std::optional<Color> RecordingContext::pixel(Point p) const {
    if (p.x < 0 || p.y < 0 || p.x >= surface_->size.width || p.y >= surface_->size.height)
        return std::nullopt;
    return surface_
        ->pixels[static_cast<std::size_t>(p.y) * static_cast<std::size_t>(surface_->size.width) +
                 static_cast<std::size_t>(p.x)];
}

void RecordingContext::fillRect(const Rect& rect, Color color) {
    surface_->ops.push_back(makeOp(Op::Kind::Fill, rect, Point{}, color));
    for (int y = std::max(rect.top, 0); y < std::min(rect.bottom, surface_->size.height); ++y)
        for (int x = std::max(rect.left, 0); x < std::min(rect.right, surface_->size.width); ++x)
            set(x, y, color);
}

void RecordingContext::setPen(PenStyle style, Color color, int width) {
    Op op = makeOp(Op::Kind::Pen, Rect{}, Point{}, color);
    op.pen = style;
    op.width = width;
    surface_->ops.push_back(op);
    penStyle_ = style;
    pen_ = color;
}

void RecordingContext::moveTo(Point p) {
    surface_->ops.push_back(makeOp(Op::Kind::MoveTo, Rect{}, p, Color{}));
    at_ = p;
}

void RecordingContext::lineTo(Point p) {
    surface_->ops.push_back(makeOp(Op::Kind::LineTo, Rect{}, p, pen_));
    // Bresenham from the current position up to, not including, p.
    int x = at_.x;
    int y = at_.y;
    const int dx = std::abs(p.x - x);
    const int dy = -std::abs(p.y - y);
    const int sx = x < p.x ? 1 : -1;
    const int sy = y < p.y ? 1 : -1;
    int err = dx + dy;
    for (int step = 0; !(x == p.x && y == p.y); ++step) {
        if (penStyle_ == PenStyle::Solid || step % 2 == 0) set(x, y, pen_);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
    at_ = p;
}

void RecordingContext::setTextColor(Color color) {
    surface_->ops.push_back(makeOp(Op::Kind::TextColor, Rect{}, Point{}, color));
    text_ = color;
}

void RecordingContext::setBackgroundColor(Color color) {
    surface_->ops.push_back(makeOp(Op::Kind::BackgroundColor, Rect{}, Point{}, color));
    background_ = color;
}

Size RecordingContext::textExtent(std::u16string_view text) const {
    int w = 0;
    for (char16_t c : text) w += c >= 0x2E80 ? 12 : 6;
    return {w, 12};
}

void RecordingContext::textOut(Point topLeft, std::u16string_view text) {
    const Size e = textExtent(text);
    const Rect box = Rect::fromXywh(topLeft.x, topLeft.y, e.width, e.height);
    for (int y = box.top; y < box.bottom; ++y)
        for (int x = box.left; x < box.right; ++x) set(x, y, background_);
    Op op = makeOp(Op::Kind::Text, box, topLeft, text_);
    op.text = text;
    surface_->ops.push_back(std::move(op));
}

void RecordingContext::drawIcon(Point p, int iconId) {
    Op op = makeOp(Op::Kind::Icon, Rect::fromXywh(p.x, p.y, kIconSize.width, kIconSize.height), p,
                   Color{});
    op.icon = iconId;
    surface_->ops.push_back(op);
    for (int y = 0; y < kIconSize.height; ++y)
        for (int x = 0; x < kIconSize.width; ++x) set(p.x + x, p.y + y, kIconColor);
}

void RecordingContext::copyFrom(const DrawContext& source, const Rect& from, Point to) {
    const auto* src = dynamic_cast<const RecordingContext*>(&source);
    if (!src) {
        reportViolation("copyFrom between contexts of different backends");
        return;
    }
    surface_->ops.push_back(makeOp(Op::Kind::Copy, from, to, Color{}));
    // Through a copy of the source rows, so that a copy within one surface works.
    const Surface& s = *src->surface_;
    const int x0 = std::max(from.left, 0);
    const int x1 = std::min(from.right, s.size.width);
    if (x0 >= x1) return;
    std::vector<Color> row;
    for (int y = std::max(from.top, 0); y < std::min(from.bottom, s.size.height); ++y) {
        const auto begin = s.pixels.begin() + static_cast<std::ptrdiff_t>(y) * s.size.width;
        row.assign(begin + x0, begin + x1);
        for (int x = x0; x < x1; ++x)
            set(to.x + x - from.left, to.y + y - from.top, row[static_cast<std::size_t>(x - x0)]);
    }
}

std::size_t RecordingContext::count(Op::Kind kind) const {
    return static_cast<std::size_t>(
        std::count_if(surface_->ops.begin(), surface_->ops.end(),
                      [kind](const Op& op) { return op.kind == kind; }));
}

// --- HeadlessView

class HeadlessView final : public WindowView {
  public:
    HeadlessView(HeadlessBackend& backend, Dialog& dialog) : backend_(backend), dialog_(dialog) {
        backend_.views_[&dialog_] = this;
    }
    ~HeadlessView() override {
        std::erase_if(backend_.timers_,
                      [this](const HeadlessBackend::Timer& t) { return t.dialog == &dialog_; });
        backend_.views_.erase(&dialog_);
    }

    void controlChanged(Control&, Change, int) override {}
    void windowChanged(WindowChange) override {}
    void invalidate() override {}
    void endModal() override {}

    void setTimer(int id, int periodMs) override {
        killTimer(id);
        backend_.timers_.push_back(
            {&dialog_, id, periodMs, backend_.now_ + periodMs, backend_.timerOrder_++});
    }
    void killTimer(int id) override {
        std::erase_if(backend_.timers_, [this, id](const HeadlessBackend::Timer& t) {
            return t.dialog == &dialog_ && t.id == id;
        });
    }

    std::unique_ptr<DrawContext> controlContext(Control& control) override {
        auto& surface = canvases_[&control];
        const Size size = control.clientRect().size();
        if (!surface) {
            surface = std::make_shared<RecordingContext::Surface>(size, kWindowColor);
        } else if (surface->size != size) {
            // Resized in place: contexts that a page keeps stay on the control.
            *surface = RecordingContext::Surface(size, kWindowColor);
        }
        return std::make_unique<RecordingContext>(surface);
    }

    Point cursorPosition(const Control& control) const override {
        return backend_.cursor_ - control.screenOrigin();
    }

    std::shared_ptr<RecordingContext::Surface> canvas(const Control* control) const {
        const auto it = canvases_.find(control);
        return it == canvases_.end() ? nullptr : it->second;
    }

  private:
    HeadlessBackend& backend_;
    Dialog& dialog_;
    std::map<const Control*, std::shared_ptr<RecordingContext::Surface>> canvases_;
};

// --- HeadlessBackend

HeadlessBackend::HeadlessBackend() {
    setBackend(this);
}

HeadlessBackend::~HeadlessBackend() {
    if (currentBackend() == this) setBackend(nullptr);
}

std::unique_ptr<WindowView> HeadlessBackend::createView(Dialog& dialog) {
    return std::make_unique<HeadlessView>(*this, dialog);
}

void HeadlessBackend::runModalLoop(Dialog& dialog) {
    const int id = dialog.templateId();
    modalRuns_.push_back(id);
    auto it = scripts_.find(id);
    if (it != scripts_.end() && !it->second.empty()) {
        ModalScript script = std::move(it->second.front());
        it->second.pop_front();
        script(dialog);
    }
    if (!dialog.modalEnded()) dialog.userClose();
    if (!dialog.modalEnded()) {
        reportViolation("modal dialog " + std::to_string(id) + " stayed open after its script");
        dialog.endDialog(kIdCancel);
    }
}

int HeadlessBackend::messageBox(std::u16string_view text, std::u16string_view caption,
                                MessageIcon icon) {
    messages_.push_back({std::u16string(text), std::u16string(caption), icon});
    return kIdOk;
}

bool HeadlessBackend::askYesNo(std::u16string_view text, std::u16string_view caption) {
    messages_.push_back({std::u16string(text), std::u16string(caption), MessageIcon::None, true});
    if (answers_.empty()) return false;
    const bool yes = answers_.front();
    answers_.pop_front();
    return yes;
}

void HeadlessBackend::queueFileAnswer(std::optional<std::u16string> answer) {
    fileAnswers_.push_back(std::move(answer));
}

std::optional<std::u16string> HeadlessBackend::fileDialog(const FileDialogRequest& request) {
    fileRequests_.push_back(request);
    if (fileAnswers_.empty()) return std::nullopt;
    std::optional<std::u16string> answer = std::move(fileAnswers_.front());
    fileAnswers_.pop_front();
    return answer;
}

void HeadlessBackend::queueModalScript(int templateId, ModalScript script) {
    scripts_[templateId].push_back(std::move(script));
}

void HeadlessBackend::post(std::function<void()> task) {
    std::lock_guard lock(postMutex_);
    posted_.push_back(std::move(task));
}

std::size_t HeadlessBackend::pendingPosted() const {
    std::lock_guard lock(postMutex_);
    return posted_.size();
}

std::size_t HeadlessBackend::pumpPosted() {
    if (!onUiThread()) {
        reportViolation("pumpPosted called off the user interface thread");
        return 0;
    }
    std::size_t ran = 0;
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(postMutex_);
            if (posted_.empty()) break;
            task = std::move(posted_.front());
            posted_.pop_front();
        }
        task();
        ++ran;
    }
    return ran;
}

std::unique_ptr<DrawContext> HeadlessBackend::createMemoryContext(Size size) {
    // A new bitmap is black, as a GDI compatible bitmap is.
    return std::make_unique<RecordingContext>(size, Color{0, 0, 0});
}

void HeadlessBackend::advance(int ms) {
    const std::int64_t until = now_ + ms;
    for (;;) {
        auto next = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->due > until) continue;
            if (next == timers_.end() || it->due < next->due ||
                (it->due == next->due && it->order < next->order))
                next = it;
        }
        if (next == timers_.end()) break;
        now_ = next->due;
        next->due += next->period;
        Dialog* dialog = next->dialog;
        const int id = next->id;
        dialog->dispatchTimer(id);  // may change the timers
    }
    now_ = until;
}

std::optional<int> HeadlessBackend::timerPeriod(const Dialog& dialog, int id) const {
    for (const Timer& t : timers_)
        if (t.dialog == &dialog && t.id == id) return t.period;
    return std::nullopt;
}

std::shared_ptr<RecordingContext::Surface> HeadlessBackend::paint(Dialog& dialog) {
    auto surface =
        std::make_shared<RecordingContext::Surface>(dialog.clientRect().size(), kWindowColor);
    RecordingContext dc(surface);
    dialog.dispatchPaint(dc);
    return surface;
}

std::shared_ptr<RecordingContext::Surface> HeadlessBackend::canvas(const Dialog& dialog,
                                                                   int controlId) const {
    const auto it = views_.find(&dialog);
    if (it == views_.end() || !dialog.hasControl(controlId)) return nullptr;
    return it->second->canvas(&dialog.control(controlId));
}

}  // namespace ui
