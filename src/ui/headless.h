#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ui/backend.h"
#include "ui/dialog.h"
#include "ui/draw.h"

namespace ui {

// A drawing context that records every call and keeps a simple raster:
// fills, one-pixel lines (the end point excluded, as GDI draws them; dotted
// pens set every other pixel) and text backgrounds. Glyphs are not drawn; text
// extents are 6 x 12 pixels per character, 12 x 12 for wide (CJK) characters.
class RecordingContext final : public DrawContext {
  public:
    struct Op {
        enum class Kind { Fill, Pen, MoveTo, LineTo, TextColor, BackgroundColor, Text, Icon, Copy };
        Kind kind = Kind::Fill;
        Rect rect;    // Fill, Text (its extent), Copy (source area)
        Point point;  // MoveTo, LineTo, Text, Icon, Copy (destination)
        Color color;  // Fill, Pen, TextColor, BackgroundColor
        PenStyle pen = PenStyle::Solid;
        int width = 1;
        std::u16string text;
        int icon = 0;
    };
    // The surface that contexts on one target share.
    struct Surface {
        Size size;
        std::vector<Color> pixels;
        std::vector<Op> ops;
        Surface(Size s, Color fill);
    };

    RecordingContext(Size size, Color fill);
    explicit RecordingContext(std::shared_ptr<Surface> surface);

    Size size() const override { return surface_->size; }
    void fillRect(const Rect& rect, Color color) override;
    void setPen(PenStyle style, Color color, int width) override;
    void moveTo(Point p) override;
    void lineTo(Point p) override;
    void setTextColor(Color color) override;
    void setBackgroundColor(Color color) override;
    void textOut(Point topLeft, std::u16string_view text) override;
    Size textExtent(std::u16string_view text) const override;
    void drawIcon(Point p, int iconId) override;
    void copyFrom(const DrawContext& source, const Rect& from, Point to) override;
    std::optional<Color> pixel(Point p) const override;

    const std::vector<Op>& ops() const { return surface_->ops; }
    std::size_t count(Op::Kind kind) const;
    void clearOps() { surface_->ops.clear(); }
    const std::shared_ptr<Surface>& surface() const { return surface_; }

  private:
    void set(int x, int y, Color c);
    std::shared_ptr<Surface> surface_;
    PenStyle penStyle_ = PenStyle::Solid;
    Color pen_{0, 0, 0};
    Color text_{0, 0, 0};
    Color background_{255, 255, 255};
    Point at_;
};

// The in-memory backend for tests. Constructing it installs it and makes the
// calling thread the user interface thread; destroying it uninstalls it.
// Nothing happens by itself: tests script modal dialogs and file dialogs,
// advance the timer clock and pump posted tasks.
class HeadlessBackend final : public Backend {
  public:
    HeadlessBackend();
    ~HeadlessBackend() override;
    HeadlessBackend(const HeadlessBackend&) = delete;
    HeadlessBackend& operator=(const HeadlessBackend&) = delete;

    // Backend.
    std::unique_ptr<WindowView> createView(Dialog& dialog) override;
    void runModalLoop(Dialog& dialog) override;
    int messageBox(std::u16string_view text, std::u16string_view caption,
                   MessageIcon icon) override;
    std::optional<std::u16string> fileDialog(const FileDialogRequest& request) override;
    bool askYesNo(std::u16string_view text, std::u16string_view caption) override;
    void post(std::function<void()> task) override;
    std::unique_ptr<DrawContext> createMemoryContext(Size size) override;

    // Message boxes shown so far.
    struct Message {
        std::u16string text;
        std::u16string caption;
        MessageIcon icon;
        bool question = false;  // askYesNo
    };
    const std::vector<Message>& messages() const { return messages_; }
    void clearMessages() { messages_.clear(); }

    // Questions (askYesNo) answer in the order queued; one with no answer
    // left is answered No. Each is recorded in messages() as a question.
    void queueAnswer(bool yes) { answers_.push_back(yes); }
    std::size_t pendingAnswers() const { return answers_.size(); }

    // File dialogs answer in the order queued: a path, or nothing for Cancel.
    // A dialog with no answer left is cancelled.
    void queueFileAnswer(std::optional<std::u16string> answer);
    const std::vector<FileDialogRequest>& fileRequests() const { return fileRequests_; }

    // Modal dialogs: the next run of a template calls its next queued script
    // once the dialog is initialised. The script acts as the user (userClick,
    // userKey, ...). A dialog still open when its script returns, or that has
    // no script, is closed with its close box; if that leaves it open too, the
    // run is a usage error and ends with kIdCancel.
    using ModalScript = std::function<void(Dialog&)>;
    void queueModalScript(int templateId, ModalScript script);
    // Template ids of the modal dialogs opened so far, in order.
    const std::vector<int>& modalRuns() const { return modalRuns_; }

    // Timers run on a clock of their own, started at 0 and moved only here.
    // Every timer due up to now + ms fires, in order of due time.
    void advance(int ms);
    std::int64_t now() const { return now_; }
    std::optional<int> timerPeriod(const Dialog& dialog, int id) const;
    std::size_t timerCount() const { return timers_.size(); }

    // Runs the posted tasks, including those that they post; returns how many.
    std::size_t pumpPosted();
    std::size_t pendingPosted() const;

    // Sends a paint request to the window; returns what it drew.
    std::shared_ptr<RecordingContext::Surface> paint(Dialog& dialog);
    // What was drawn on a control through Dialog::controlContext, or nullptr.
    std::shared_ptr<RecordingContext::Surface> canvas(const Dialog& dialog, int controlId) const;

    // The mouse position in screen pixels.
    void setCursorScreenPosition(Point p) { cursor_ = p; }
    Point cursorScreenPosition() const { return cursor_; }

  private:
    friend class HeadlessView;
    struct Timer {
        Dialog* dialog;
        int id;
        int period;
        std::int64_t due;
        std::uint64_t order;
    };

    std::vector<Message> messages_;
    std::deque<bool> answers_;
    std::deque<std::optional<std::u16string>> fileAnswers_;
    std::vector<FileDialogRequest> fileRequests_;
    std::map<int, std::deque<ModalScript>> scripts_;
    std::vector<int> modalRuns_;
    std::vector<Timer> timers_;
    std::int64_t now_ = 0;
    std::uint64_t timerOrder_ = 0;
    mutable std::mutex postMutex_;
    std::deque<std::function<void()>> posted_;
    Point cursor_;
    std::map<const Dialog*, class HeadlessView*> views_;
};

}  // namespace ui
