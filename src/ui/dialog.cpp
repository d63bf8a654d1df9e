#include "ui/dialog.h"

#include <algorithm>
#include <string>
#include <utility>

namespace ui {
namespace {

// Modal dialogs running on the user interface thread, innermost last.
std::vector<Dialog*>& modalStack() {
    static std::vector<Dialog*> stack;
    return stack;
}

bool isButton(ControlKind k) {
    return k == ControlKind::PushButton || k == ControlKind::CheckBox ||
           k == ControlKind::RadioButton;
}

}  // namespace

Dialog::Dialog(int templateId)
    : templateId_(templateId),
      template_(resources::findDialog(templateId)),
      token_(std::make_shared<Token>()) {
    token_->dialog = this;
    if (template_) caption_ = template_->caption;
}

Dialog::~Dialog() {
    // Handlers of a subclass cannot run here any more; the window just goes.
    destroyWindow(false);
}

DialogUnits Dialog::units() const {
    if (template_)
        if (const Backend* b = currentBackend()) return b->dialogUnits(*template_);
    return DialogUnits::forFont(template_ ? template_->fontPoints : 9);
}

bool Dialog::touch(const char* what) const {
    if (onUiThread()) return true;
    reportViolation(std::string(what) + " called off the user interface thread (dialog " +
                    std::to_string(templateId_) + ")");
    return false;
}

bool Dialog::build(Dialog* parent, int hostId, bool modal) {
    if (exists_) {
        reportViolation("dialog " + std::to_string(templateId_) + " created twice");
        return false;
    }
    if (!template_) {
        reportViolation("no dialog template " + std::to_string(templateId_));
        return false;
    }
    Backend* backend = currentBackend();
    if (!backend) {
        reportViolation("dialog " + std::to_string(templateId_) + " created with no backend");
        return false;
    }
    const DialogUnits u = units();
    controls_.clear();
    for (const resources::ControlTemplate& t : template_->controls)
        controls_.push_back(std::make_unique<Control>(*this, t, u.toPixels(t.rect)));
    caption_ = template_->caption;
    parent_ = parent;
    hostId_ = hostId;
    modal_ = modal;
    ended_ = false;
    result_ = -1;
    sizeState_ = SizeState::Restored;
    focus_ = nullptr;
    systemMenu_.clear();
    const Size size{u.toPixelsX(template_->cx), u.toPixelsY(template_->cy)};
    if (!parent) {
        Rect area = backend->workArea();
        if (!modalStack().empty()) area = modalStack().back()->windowRect();
        const int x = area.left + (area.width() - size.width) / 2;
        const int y = area.top + (area.height() - size.height) / 2;
        rect_ = Rect::fromXywh(x, y, size.width, size.height);
        visible_ = true;
    } else {
        rect_ = {0, 0, size.width, size.height};
        visible_ = (template_->style & resources::dialog_style::kVisible) != 0;
        parent->children_.push_back(this);
    }
    exists_ = true;
    token_->serial.fetch_add(1, std::memory_order_relaxed);
    view_ = backend->createView(*this);
    return true;
}

int Dialog::runModal() {
    if (!touch("Dialog::runModal") || !build(nullptr, 0, true)) return -1;
    modalStack().push_back(this);
    if (onInitDialog() && !focus_) {
        for (const auto& c : controls_) {
            if (c->hasStyle(style::kTabStop) && c->visible_ && c->enabled_) {
                focusControl(c.get(), false);
                break;
            }
        }
    }
    if (!ended_ && exists_) currentBackend()->runModalLoop(*this);
    std::erase(modalStack(), this);
    const int result = result_;
    destroyWindow(true);
    return result;
}

bool Dialog::create(Dialog& parent, int hostId) {
    if (!touch("Dialog::create")) return false;
    if (!parent.exists_ || !parent.find(hostId)) {
        reportViolation("dialog " + std::to_string(templateId_) + " created in a missing host " +
                        std::to_string(hostId));
        return false;
    }
    if (!build(&parent, hostId, false)) return false;
    onInitDialog();
    return true;
}

bool Dialog::createModeless() {
    if (!touch("Dialog::createModeless") || !build(nullptr, 0, false)) return false;
    onInitDialog();
    return true;
}

void Dialog::endDialog(int result) {
    if (!touch("Dialog::endDialog") || !exists_ || !modal_ || ended_) return;
    ended_ = true;
    result_ = result;
    if (view_) view_->endModal();
}

void Dialog::destroy() {
    if (!touch("Dialog::destroy")) return;
    if (modal_ && exists_) {
        reportViolation("a modal dialog ends through endDialog, not destroy");
        return;
    }
    destroyWindow(true);
}

void Dialog::destroyWindow(bool runHandlers) {
    if (!exists_) return;
    if (runHandlers) onDestroy();
    // Children go before this window's view, which owns their host.
    const std::vector<Dialog*> children = children_;
    for (Dialog* child : children) child->destroyWindow(runHandlers);
    children_.clear();
    Dialog& r = root();
    if (r.focus_ && &r.focus_->owner() == this) r.focus_ = nullptr;
    if (parent_) std::erase(parent_->children_, this);
    view_.reset();
    controls_.clear();
    movedControls_.clear();
    movedWindows_.clear();
    layoutTrial_ = false;
    focus_ = nullptr;
    parent_ = nullptr;
    exists_ = false;
    token_->serial.fetch_add(1, std::memory_order_relaxed);
}

Dialog& Dialog::root() {
    Dialog* d = this;
    while (d->parent_) d = d->parent_;
    return *d;
}

void Dialog::notifyWindow(WindowChange change) {
    if (change == WindowChange::Geometry && parent_ && root().layoutTrial_) {
        std::vector<Dialog*>& moved = root().movedWindows_;
        if (std::find(moved.begin(), moved.end(), this) == moved.end()) moved.push_back(this);
        return;
    }
    if (view_) view_->windowChanged(change);
}

void Dialog::notifyControl(Control& control, Change change, int index) {
    if (change == Change::Geometry && root().layoutTrial_) {
        std::vector<Control*>& moved = root().movedControls_;
        if (std::find(moved.begin(), moved.end(), &control) == moved.end())
            moved.push_back(&control);
        return;
    }
    if (view_) view_->controlChanged(control, change, index);
}

void Dialog::beginLayoutTrial() {
    if (touch("Dialog::beginLayoutTrial")) root().layoutTrial_ = true;
}

bool Dialog::inLayoutTrial() const {
    const Dialog* d = this;
    while (d->parent_) d = d->parent_;
    return d->layoutTrial_;
}

void Dialog::endLayoutTrial() {
    if (!touch("Dialog::endLayoutTrial")) return;
    Dialog& r = root();
    r.layoutTrial_ = false;
    // Windows first: a page's controls are placed inside it.
    const std::vector<Dialog*> windows = std::exchange(r.movedWindows_, {});
    for (Dialog* d : windows)
        if (d->exists_) d->notifyWindow(WindowChange::Geometry);
    // Controls live as long as their window; a trial creates and destroys none.
    const std::vector<Control*> controls = std::exchange(r.movedControls_, {});
    for (Control* c : controls) c->owner_->notifyControl(*c, Change::Geometry, -1);
}

void Dialog::setCaption(std::u16string_view caption) {
    if (!touch("Dialog::setCaption") || caption_ == caption) return;
    caption_ = caption;
    notifyWindow(WindowChange::Caption);
}

void Dialog::move(const Rect& rect) {
    if (!touch("Dialog::move") || !exists_ || rect == rect_) return;
    const bool resized = rect.size() != rect_.size();
    rect_ = rect;
    notifyWindow(WindowChange::Geometry);
    if (resized && sizeState_ != SizeState::Minimized)
        onSize(sizeState_, rect.width(), rect.height());
}

void Dialog::setMinimumSize(Size client) {
    if (!touch("Dialog::setMinimumSize") || minimumSize_ == client) return;
    minimumSize_ = client;
    notifyWindow(WindowChange::MinimumSize);
}

void Dialog::centerWindow() {
    if (!touch("Dialog::centerWindow") || !exists_) return;
    Rect area;
    if (parent_) {
        area = parent_->control(hostId_).clientRect();
    } else {
        area = currentBackend() ? currentBackend()->workArea() : Rect{};
        for (auto it = modalStack().rbegin(); it != modalStack().rend(); ++it) {
            if (*it != this) {
                area = (*it)->windowRect();
                break;
            }
        }
    }
    move(Rect::fromXywh(area.left + (area.width() - rect_.width()) / 2,
                        area.top + (area.height() - rect_.height()) / 2, rect_.width(),
                        rect_.height()));
}

void Dialog::show(bool on) {
    if (!touch("Dialog::show") || !exists_ || visible_ == on) return;
    visible_ = on;
    notifyWindow(WindowChange::Visible);
}

void Dialog::activate() {
    if (!touch("Dialog::activate") || !exists_ || parent_) return;
    visible_ = true;
    if (sizeState_ == SizeState::Minimized) sizeState_ = SizeState::Restored;
    notifyWindow(WindowChange::Activate);
}

Point Dialog::screenOrigin() const {
    if (parent_) return parent_->control(hostId_).screenOrigin() + rect_.topLeft();
    return rect_.topLeft();
}

void Dialog::setIcon(int iconId) {
    if (!touch("Dialog::setIcon") || icon_ == iconId) return;
    icon_ = iconId;
    notifyWindow(WindowChange::Icon);
}

void Dialog::appendSystemMenuItem(int command, std::u16string_view text) {
    if (!touch("Dialog::appendSystemMenuItem")) return;
    systemMenu_.push_back({command, command == 0 ? std::u16string() : std::u16string(text)});
    notifyWindow(WindowChange::SystemMenu);
}

void Dialog::setTimer(int id, int periodMs) {
    if (!touch("Dialog::setTimer") || !view_) return;
    view_->setTimer(id, std::max(periodMs, 10));
}

void Dialog::killTimer(int id) {
    if (!touch("Dialog::killTimer") || !view_) return;
    view_->killTimer(id);
}

std::unique_ptr<DrawContext> Dialog::controlContext(int id) {
    if (!touch("Dialog::controlContext") || !view_) return nullptr;
    Control* c = find(id);
    if (!c) {
        reportViolation("dialog " + std::to_string(templateId_) + " has no control " +
                        std::to_string(id));
        return nullptr;
    }
    return view_->controlContext(*c);
}

Point Dialog::cursorPosition(int controlId) const {
    if (!touch("Dialog::cursorPosition") || !view_) return {};
    return view_->cursorPosition(control(controlId));
}

void Dialog::invalidate() {
    if (touch("Dialog::invalidate") && view_) view_->invalidate();
}

void Dialog::post(std::function<void()> task) {
    const std::weak_ptr<Token> weak = token_;
    const unsigned serial = token_->serial.load(std::memory_order_relaxed);
    ui::post([weak, serial, task = std::move(task)] {
        const std::shared_ptr<Token> token = weak.lock();
        if (!token || token->serial.load(std::memory_order_relaxed) != serial) return;
        if (token->dialog->exists_) task();
    });
}

Control* Dialog::find(int id) const {
    for (const auto& c : controls_)
        if (c->id() == id) return c.get();
    return nullptr;
}

Control& Dialog::control(int id) {
    return const_cast<Control&>(static_cast<const Dialog*>(this)->control(id));
}

const Control& Dialog::control(int id) const {
    if (Control* c = find(id)) return *c;
    reportViolation("dialog " + std::to_string(templateId_) + " has no control " +
                    std::to_string(id) + (exists_ ? "" : " (no window)"));
    // Only reached when the violation handler returns (tests): a detached
    // stand-in absorbs the call.
    static Dialog* const limbo = new Dialog(0);
    static Control* const nothing = new Control(*limbo, resources::ControlTemplate{}, Rect{});
    return *nothing;
}

bool Dialog::hasControl(int id) const {
    return find(id) != nullptr;
}

std::size_t Dialog::indexOf(const Control& c) const {
    for (std::size_t i = 0; i < controls_.size(); ++i)
        if (controls_[i].get() == &c) return i;
    return controls_.size();
}

std::vector<Control*> Dialog::radioGroupOf(std::size_t index) const {
    std::size_t first = index;
    while (first > 0 && !controls_[first]->hasStyle(style::kGroup)) --first;
    std::vector<Control*> group;
    for (std::size_t i = first; i < controls_.size(); ++i) {
        if (i != first && controls_[i]->hasStyle(style::kGroup)) break;
        if (controls_[i]->kind() == ControlKind::RadioButton) group.push_back(controls_[i].get());
    }
    return group;
}

void Dialog::checkInGroup(Control& radio) {
    for (Control* c : radioGroupOf(indexOf(radio))) c->assignCheck(c == &radio ? 1 : 0);
}

void Dialog::checkRadioButton(int firstId, int lastId, int checkId) {
    if (!touch("Dialog::checkRadioButton")) return;
    for (const auto& c : controls_)
        if (c->kind() == ControlKind::RadioButton && c->id() >= firstId && c->id() <= lastId)
            c->assignCheck(c->id() == checkId ? 1 : 0);
}

int Dialog::checkedRadioButton(int firstId, int lastId) const {
    if (!touch("Dialog::checkedRadioButton")) return 0;
    for (const auto& c : controls_)
        if (c->kind() == ControlKind::RadioButton && c->id() >= firstId && c->id() <= lastId &&
            c->check_ != 0)
            return c->id();
    return 0;
}

int Dialog::radioGroupIndex(int firstId) const {
    const Control& first = control(firstId);
    if (!touch("Dialog::radioGroupIndex") || first.kind() != ControlKind::RadioButton) return -1;
    const std::vector<Control*> group = radioGroupOf(indexOf(first));
    for (std::size_t i = 0; i < group.size(); ++i)
        if (group[i]->check_ != 0) return static_cast<int>(i);
    return -1;
}

void Dialog::setRadioGroupIndex(int firstId, int index) {
    const Control& first = control(firstId);
    if (!touch("Dialog::setRadioGroupIndex") || first.kind() != ControlKind::RadioButton) return;
    const std::vector<Control*> group = radioGroupOf(indexOf(first));
    for (std::size_t i = 0; i < group.size(); ++i)
        group[i]->assignCheck(static_cast<int>(i) == index ? 1 : 0);
}

void Dialog::setDefaultButton(int id) {
    if (!touch("Dialog::setDefaultButton")) return;
    if (id != 0 && (!find(id) || find(id)->kind() != ControlKind::PushButton)) {
        reportViolation("dialog " + std::to_string(templateId_) + ": control " +
                        std::to_string(id) + " is no push button to be the default");
        return;
    }
    for (const auto& c : controls_)
        if (c->kind() == ControlKind::PushButton)
            c->setStyleFlags(style::kDefaultButton, c->id() == id);
}

int Dialog::defaultButton() const {
    for (const auto& c : controls_)
        if (c->kind() == ControlKind::PushButton && c->hasStyle(style::kDefaultButton))
            return c->id();
    return 0;
}

Size Dialog::fitSize(int id, int width) const {
    const Control& c = control(id);
    if (const Backend* b = currentBackend()) return b->contentSize(c, width);
    return {};
}

Size Dialog::fitSizeFor(int id, std::u16string_view text) const {
    const Control& c = control(id);
    if (const Backend* b = currentBackend()) return b->contentSize(c, 0, text);
    return {};
}

bool Dialog::textFits(int id) const {
    const Control& c = control(id);
    const Backend* b = currentBackend();
    if (!b) return true;
    if (c.kind() == ControlKind::ListView)
        return columnFits(
            c, [b, &c](std::u16string_view s) { return b->measureText(c, s); }, b->chrome());
    const Rect r = c.rect();
    const Size need = b->contentSize(c, r.width());
    // A combo box's rectangle includes its list: only the closed box counts.
    const bool combo = c.kind() == ControlKind::ComboBox || c.kind() == ControlKind::DropDownList;
    return need.width <= r.width() && (combo || need.height <= r.height());
}

Control* Dialog::focus() const {
    const Dialog* d = this;
    while (d->parent_) d = d->parent_;
    return d->focus_;
}

void Dialog::focusControl(Control* control, bool fromUser) {
    Dialog& r = root();
    if (r.focus_ == control) return;
    r.focus_ = control;
    if (!fromUser && control) control->notify(Change::Focus);
}

// --- user input

Control* Dialog::userControl(int id, const char* what) const {
    if (!touch(what) || !exists_) return nullptr;
    Control* c = find(id);
    if (!c || !c->visible_ || !c->enabled_) return nullptr;
    return c;
}

bool Dialog::userClick(int id) {
    Control* c = userControl(id, "Dialog::userClick");
    if (!c || !isButton(c->kind())) return false;
    focusControl(c, false);
    if (c->kind() == ControlKind::CheckBox) c->assignCheck(c->check_ != 0 ? 0 : 1);
    if (c->kind() == ControlKind::RadioButton) checkInGroup(*c);
    onCommand(id);
    return true;
}

bool Dialog::userType(int id, std::u16string_view text) {
    Control* c = userControl(id, "Dialog::userType");
    if (!c || (c->kind() != ControlKind::Edit && c->kind() != ControlKind::ComboBox)) return false;
    if (c->hasStyle(style::kReadOnly)) return false;
    c->assignText(std::u16string(text));
    return true;
}

bool Dialog::userSelectItem(int id, int index) {
    Control* c = userControl(id, "Dialog::userSelectItem");
    if (!c || (c->kind() != ControlKind::ComboBox && c->kind() != ControlKind::DropDownList))
        return false;
    if (index < 0 || index >= static_cast<int>(c->items_.size())) return false;
    c->setSelection(index);
    onSelectionChange(id);
    return true;
}

bool Dialog::userSelectTab(int id, int index) {
    Control* c = userControl(id, "Dialog::userSelectTab");
    if (!c || c->kind() != ControlKind::TabControl) return false;
    if (index < 0 || index >= static_cast<int>(c->items_.size())) return false;
    if (c->selection_ != index) {
        c->setSelection(index);
        onSelectionChange(id);
    }
    return true;
}

bool Dialog::userClickTab(int id, int index) {
    if (!userSelectTab(id, index)) return false;
    onTabClick(id, index);
    return true;
}

bool Dialog::userSelectRow(int id, int row) {
    Control* c = userControl(id, "Dialog::userSelectRow");
    if (!c || c->kind() != ControlKind::ListView) return false;
    if (row < 0 || row >= static_cast<int>(c->rows_.size())) return false;
    focusControl(c, false);
    c->setRowSelected(row, true);
    c->setSelectionMark(row);
    return true;
}

bool Dialog::userClickRow(int id, int row) {
    Control* c = userControl(id, "Dialog::userClickRow");
    if (!c || c->kind() != ControlKind::ListView) return false;
    if (row >= static_cast<int>(c->rows_.size())) return false;
    if (row < 0) {
        // A click below the rows clears the selection and leaves the mark.
        focusControl(c, false);
        for (int i = 0; i < static_cast<int>(c->rows_.size()); ++i) c->setRowSelected(i, false);
        row = -1;
    } else {
        userSelectRow(id, row);
    }
    onListClick(id, row);
    return true;
}

bool Dialog::userCheckRow(int id, int row, bool checked) {
    Control* c = userControl(id, "Dialog::userCheckRow");
    if (!c || c->kind() != ControlKind::ListView) return false;
    if ((c->extendedStyle_ & list_style::kCheckBoxes) == 0) return false;
    if (row < 0 || row >= static_cast<int>(c->rows_.size())) return false;
    if (c->isRowChecked(row) == checked) return true;
    c->setRowChecked(row, checked);
    onListCheck(id, row);
    return true;
}

bool Dialog::userSetPosition(int id, int position) {
    Control* c = userControl(id, "Dialog::userSetPosition");
    if (!c || c->kind() != ControlKind::TrackBar) return false;
    c->setPosition(position);
    return true;
}

bool Dialog::userFocus(int id) {
    Control* c = userControl(id, "Dialog::userFocus");
    if (!c) return false;
    focusControl(c, true);
    return true;
}

bool Dialog::userKey(Key key) {
    if (!touch("Dialog::userKey") || !exists_) return false;
    Dialog& r = root();
    Control* focused = r.focus_;
    const bool onButton = focused && focused->kind() == ControlKind::PushButton &&
                          focused->visible_ && focused->enabled_;
    for (Dialog* d = focused ? &focused->owner() : &r; d; d = d->parent_) {
        switch (d->preTranslateKey(key)) {
            case KeyAction::Swallow:
                return false;
            case KeyAction::Deliver:
                return true;
            case KeyAction::Default:
                break;
        }
        // A page presses its own focused or default button on Enter before
        // its parents are asked; it has no OK or Cancel of its own.
        if (d->parent_ && key == Key::Enter && focused && &focused->owner() == d) {
            if (onButton) {
                d->onCommand(focused->id());
                return false;
            }
            if (const int id = d->defaultButton(); id != 0 && d->usable(d->control(id))) {
                d->onCommand(id);
                return false;
            }
        }
    }
    if (key == Key::Enter || key == Key::Escape) return r.commandKey(key, focused);
    if (key == Key::ControlM) return false;
    return r.navigationKey(key, focused);
}

// The modal dialog's own handling of Enter and Escape, as IsDialogMessage does it.
bool Dialog::commandKey(Key key, Control* focused) {
    if (key == Key::Escape) {
        onCommand(kIdCancel);
        return false;
    }
    if (focused && focused->kind() == ControlKind::PushButton && focused->visible_ &&
        focused->enabled_) {
        focused->owner().onCommand(focused->id());
        return false;
    }
    for (const auto& c : controls_) {
        if (c->kind() == ControlKind::PushButton && c->hasStyle(style::kDefaultButton)) {
            if (c->enabled_) onCommand(c->id());
            return false;
        }
    }
    onCommand(kIdOk);
    return false;
}

bool Dialog::usable(const Control& c) const {
    if (!c.visible_ || !c.enabled_) return false;
    for (const Dialog* d = &c.owner(); d; d = d->parent_)
        if (!d->exists_ || !d->visible_) return false;
    return true;
}

void Dialog::tabOrder(std::vector<Control*>& out) {
    for (const auto& c : controls_) {
        out.push_back(c.get());
        for (Dialog* page : children_)
            if (page->hostId_ == c->id() && page->visible_) page->tabOrder(out);
    }
}

// A radio group is one stop: the checked button, else the first usable one,
// when any button of the group has the tab-stop style.
bool Dialog::isTabStop(Control& c) {
    if (!c.owner().usable(c)) return false;
    if (c.kind() != ControlKind::RadioButton) return c.hasStyle(style::kTabStop);
    Dialog& d = c.owner();
    const std::vector<Control*> group = d.radioGroupOf(d.indexOf(c));
    bool stops = false;
    Control* stop = nullptr;
    for (Control* r : group) {
        stops = stops || r->hasStyle(style::kTabStop);
        if (!d.usable(*r)) continue;
        if (r->check_ != 0) {
            stop = r;
            break;
        }
        if (!stop) stop = r;
    }
    return stops && stop == &c;
}

bool Dialog::navigationKey(Key key, Control* focused) {
    switch (key) {
        case Key::Tab:
        case Key::BackTab: {
            std::vector<Control*> order;
            tabOrder(order);
            const auto at = std::find(order.begin(), order.end(), focused);
            const int n = static_cast<int>(order.size());
            const int from = at == order.end() ? -1 : static_cast<int>(at - order.begin());
            const int step = key == Key::Tab ? 1 : -1;
            int i = from < 0 ? (step > 0 ? -1 : n) : from;
            for (int tries = 0; tries < n; ++tries) {
                i = (i + step + n) % n;
                Control* c = order[static_cast<std::size_t>(i)];
                if (c == focused) break;
                if (isTabStop(*c)) {
                    focusControl(c, false);
                    return false;
                }
            }
            return false;
        }
        case Key::NextPage:
        case Key::PreviousPage:
            switchPage(key == Key::NextPage ? 1 : -1);
            return false;
        default:
            break;
    }
    if (!focused || !usable(*focused)) return true;
    Dialog& owner = focused->owner();
    if (focused->kind() == ControlKind::RadioButton &&
        (key == Key::Up || key == Key::Down || key == Key::Left || key == Key::Right)) {
        std::vector<Control*> group = owner.radioGroupOf(owner.indexOf(*focused));
        std::erase_if(group, [&](Control* r) { return r != focused && !owner.usable(*r); });
        const auto at = std::find(group.begin(), group.end(), focused);
        if (at == group.end() || group.size() < 2) return false;
        const int n = static_cast<int>(group.size());
        const int step = key == Key::Down || key == Key::Right ? 1 : -1;
        Control* next = group[static_cast<std::size_t>((at - group.begin() + step + n) % n)];
        // An auto radio button is checked and clicked when the focus arrives.
        focusControl(next, false);
        owner.checkInGroup(*next);
        owner.onCommand(next->id());
        return false;
    }
    if (focused->kind() == ControlKind::ListView &&
        (key == Key::Up || key == Key::Down || key == Key::Home || key == Key::End)) {
        const int rows = focused->rowCount();
        if (rows == 0) return false;
        int current = focused->selectionMark_;
        if (current < 0) current = focused->firstSelectedRow();
        int row = 0;
        if (key == Key::Home) row = 0;
        if (key == Key::End) row = rows - 1;
        if (key == Key::Up) row = current < 0 ? 0 : std::max(current - 1, 0);
        if (key == Key::Down) row = current < 0 ? 0 : std::min(current + 1, rows - 1);
        owner.userSelectRow(focused->id(), row);
        focused->ensureVisible(row);
        return false;
    }
    return true;
}

void Dialog::switchPage(int step) {
    for (const auto& c : controls_) {
        if (c->kind() != ControlKind::TabControl || !usable(*c)) continue;
        const int n = c->itemCount();
        if (n < 2) return;
        const int from = std::max(c->selection(), 0);
        userSelectTab(c->id(), ((from + step) % n + n) % n);
        // A page just hidden cannot keep the focus.
        if (focus_ && !usable(*focus_)) focusControl(c.get(), false);
        return;
    }
}

void Dialog::userClose() {
    if (!touch("Dialog::userClose") || !exists_) return;
    onClose();
}

void Dialog::userSystemCommand(int command) {
    if (!touch("Dialog::userSystemCommand") || !exists_) return;
    onSystemCommand(command);
}

void Dialog::onSystemCommand(int command) {
    if ((command & 0xFFF0) == kSystemClose) onClose();
}

void Dialog::userResize(SizeState state, Size client) {
    if (!touch("Dialog::userResize") || !exists_) return;
    if (state == SizeState::Minimized) {
        if (sizeState_ == SizeState::Minimized) return;
        sizeState_ = state;
        onSize(state, 0, 0);
        return;
    }
    if (state == sizeState_ && client == rect_.size()) return;
    sizeState_ = state;
    rect_ = Rect::fromXywh(rect_.left, rect_.top, client.width, client.height);
    onSize(state, client.width, client.height);
}

void Dialog::onCommand(int id) {
    if (id == kIdOk) onOk();
    if (id == kIdCancel) onCancel();
}

void Dialog::dispatchTimer(int id) {
    if (touch("Dialog::dispatchTimer") && exists_) onTimer(id);
}

void Dialog::dispatchPaint(DrawContext& dc) {
    if (touch("Dialog::dispatchPaint") && exists_) onPaint(dc);
}

}  // namespace ui
