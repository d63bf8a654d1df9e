#include "ui/qt/qt_backend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTableWidget>
#include <QTimer>
#include <unordered_map>

#include "platform/text.h"
#include "ui/qt/qt_draw.h"
#include "ui/qt/qt_view.h"

namespace ui::qt {
namespace {

QString toQ(std::u16string_view s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

// The dialog layer's name of a key press, when it has one.
std::optional<Key> layerKey(const QKeyEvent& ke) {
    const Qt::KeyboardModifiers mods = ke.modifiers() & ~Qt::KeypadModifier;
    const bool ctrl = (mods & Qt::ControlModifier) != 0;
    const bool plain = mods == Qt::NoModifier;
    switch (ke.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return Key::Enter;
        case Qt::Key_Escape:
            return Key::Escape;
        case Qt::Key_Tab:
            if (ctrl) return (mods & Qt::ShiftModifier) ? Key::PreviousPage : Key::NextPage;
            return (mods & Qt::ShiftModifier) ? Key::BackTab : Key::Tab;
        case Qt::Key_Backtab:  // Shift+Tab arrives as this
            return ctrl ? Key::PreviousPage : Key::BackTab;
        case Qt::Key_PageDown:
            if (ctrl) return Key::NextPage;
            return std::nullopt;
        case Qt::Key_PageUp:
            if (ctrl) return Key::PreviousPage;
            return std::nullopt;
        case Qt::Key_Up:
            return plain ? std::optional(Key::Up) : std::nullopt;
        case Qt::Key_Down:
            return plain ? std::optional(Key::Down) : std::nullopt;
        case Qt::Key_Left:
            return plain ? std::optional(Key::Left) : std::nullopt;
        case Qt::Key_Right:
            return plain ? std::optional(Key::Right) : std::nullopt;
        case Qt::Key_Home:
            return plain ? std::optional(Key::Home) : std::nullopt;
        case Qt::Key_End:
            return plain ? std::optional(Key::End) : std::nullopt;
        case Qt::Key_M:
            return mods == Qt::ControlModifier ? std::optional(Key::ControlM) : std::nullopt;
        default:
            return std::nullopt;
    }
}

class KeyFilter final : public QObject {
  public:
    explicit KeyFilter(WidgetRegistry& registry) : registry_(registry) {}

    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || delivering_) return false;
        const auto* ke = static_cast<QKeyEvent*>(event);
        const std::optional<Key> key = layerKey(*ke);
        if (!key) return false;
        auto* widget = qobject_cast<QWidget*>(object);
        const WidgetOwner owner = widget ? registry_.find(widget) : WidgetOwner{};
        if (!owner.view) return false;
        // Arrows and Home/End are the dialog manager's only in radio groups
        // and lists; elsewhere (edits, combo boxes) they stay the widget's.
        const ControlKind kind = owner.control ? owner.control->kind() : ControlKind::Static;
        switch (*key) {
            case Key::Up:
            case Key::Down:
                if (kind != ControlKind::RadioButton && kind != ControlKind::ListView) return false;
                break;
            case Key::Left:
            case Key::Right:
                if (kind != ControlKind::RadioButton) return false;
                break;
            case Key::Home:
            case Key::End:
                if (kind != ControlKind::ListView) return false;
                break;
            default:
                break;
        }
        Dialog& dialog = owner.view->dialog();
        if (owner.control) dialog.userFocus(owner.control->id());
        QPointer<QWidget> target(widget);
        if (dialog.root().userKey(*key) && target) {
            // Handed back as an ordinary key, past this filter.
            delivering_ = true;
            QKeyEvent copy(ke->type(), ke->key(), ke->modifiers(), ke->text());
            QCoreApplication::sendEvent(target, &copy);
            delivering_ = false;
        }
        return true;
    }

  private:
    WidgetRegistry& registry_;
    bool delivering_ = false;
};

int g_argc = 1;
char g_name[] = "servo-tool";
char* g_argv[] = {g_name, nullptr};

QtView* viewOf(const Dialog& dialog) {
    return dynamic_cast<QtView*>(dialog.view());
}

Image toImage(const QImage& source) {
    const QImage img = source.convertToFormat(QImage::Format_RGB32);
    Image out;
    out.width = img.width();
    out.height = img.height();
    out.pixels.reserve(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
    for (int y = 0; y < img.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x)
            out.pixels.push_back({static_cast<std::uint8_t>(qRed(line[x])),
                                  static_cast<std::uint8_t>(qGreen(line[x])),
                                  static_cast<std::uint8_t>(qBlue(line[x]))});
    }
    return out;
}

}  // namespace

struct QtBackend::Impl {
    std::unique_ptr<QApplication> app;
    WidgetRegistry registry;
    std::unique_ptr<QObject> receiver;  // context of posted tasks and of the focus hook
    std::unique_ptr<KeyFilter> keys;
    std::function<void(Dialog&)> modalHook;
    // Text sizes by font, wrap width and text: layouts measure the same
    // texts over and over (a minimum-size search lays the pages out ~20 times).
    std::unordered_map<std::u16string, Size> measured;

    Size measure(const QFont& font, std::u16string_view text, int wrapWidth) {
        std::u16string key = font.key().toStdU16String();
        key += u'\x1f';
        key += platform::fromUtf8(std::to_string(wrapWidth));
        key += u'\x1f';
        key += text;
        if (const auto it = measured.find(key); it != measured.end()) return it->second;
        const QFontMetrics fm(font);
        Size s;
        if (wrapWidth < 0) {
            s = {fm.horizontalAdvance(toQ(text)), fm.height()};
        } else {
            // As a label shows it: at word boundaries within the width (0: no wrap).
            const QString q = toQ(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            const QRect r = wrapWidth > 0
                                ? fm.boundingRect(QRect(0, 0, wrapWidth, 1 << 20),
                                                  Qt::TextWordWrap | Qt::AlignLeft, q)
                                : fm.boundingRect(QRect(0, 0, 1 << 20, 1 << 20), Qt::AlignLeft, q);
            s = {r.width(), r.height()};
        }
        if (measured.size() > 4096) measured.clear();
        measured.emplace(std::move(key), s);
        return s;
    }
};

QtBackend::QtBackend() : impl_(std::make_unique<Impl>()) {
    if (!QCoreApplication::instance()) impl_->app = std::make_unique<QApplication>(g_argc, g_argv);
    impl_->receiver = std::make_unique<QObject>();
    impl_->keys = std::make_unique<KeyFilter>(impl_->registry);
    qApp->installEventFilter(impl_->keys.get());
    // The layer's focus follows the toolkit's, so that Enter and Escape are
    // judged where the user's focus is.
    QObject::connect(qApp, &QApplication::focusChanged, impl_->receiver.get(),
                     [this](QWidget*, QWidget* now) {
                         const WidgetOwner owner = now ? impl_->registry.find(now) : WidgetOwner{};
                         if (owner.view && owner.control)
                             owner.view->dialog().userFocus(owner.control->id());
                     });
    setBackend(this);
}

QtBackend::~QtBackend() {
    if (currentBackend() == this) setBackend(nullptr);
    qApp->removeEventFilter(impl_->keys.get());
    impl_->receiver.reset();
    impl_->keys.reset();
    impl_->app.reset();
}

std::unique_ptr<WindowView> QtBackend::createView(Dialog& dialog) {
    return std::make_unique<QtView>(impl_->registry, dialog);
}

void QtBackend::runModalLoop(Dialog& dialog) {
    QtView* view = viewOf(dialog);
    if (!view) return;
    // Unattended, a dialog that the hook leaves open is closed with its close
    // box, its default answer, instead of waiting for a user.
    if (impl_->modalHook || unattended()) {
        auto hook = impl_->modalHook;
        QTimer::singleShot(0, view->window(), [hook, &dialog] {
            if (hook) hook(dialog);
            if (unattended() && !dialog.modalEnded()) dialog.userClose();
        });
    }
    view->runLoop();
}

void QtBackend::setModalHook(std::function<void(Dialog&)> hook) {
    impl_->modalHook = std::move(hook);
}

int QtBackend::messageBox(std::u16string_view text, std::u16string_view caption, MessageIcon icon) {
    QMessageBox::Icon q = QMessageBox::NoIcon;
    if (icon == MessageIcon::Error) q = QMessageBox::Critical;
    if (icon == MessageIcon::Exclamation) q = QMessageBox::Warning;
    QMessageBox box(q, toQ(caption), toQ(text), QMessageBox::Ok, QApplication::activeModalWidget());
    box.exec();
    return kIdOk;
}

bool QtBackend::askYesNo(std::u16string_view text, std::u16string_view caption) {
    QMessageBox box(QMessageBox::Question, toQ(caption), toQ(text),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeModalWidget());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<std::u16string> QtBackend::fileDialog(const FileDialogRequest& request) {
    QFileDialog dialog(QApplication::activeModalWidget());
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    const QString filters = toQ(toNameFilters(request.filter));
    if (!filters.isEmpty()) dialog.setNameFilter(filters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdU16String();
}

void QtBackend::post(std::function<void()> task) {
    QMetaObject::invokeMethod(
        impl_->receiver.get(), [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

std::unique_ptr<DrawContext> QtBackend::createMemoryContext(Size size) {
    return std::make_unique<QtDrawContext>(size);
}

Rect QtBackend::workArea() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return Backend::workArea();
    const QRect r = screen->availableGeometry();
    return Rect::fromXywh(r.x(), r.y(), r.width(), r.height());
}

namespace {

// The font that the control's widget draws with, else the dialog font.
QFont controlFont(const Control& c) {
    if (const QtView* view = viewOf(c.owner()))
        if (const QWidget* w = view->widgetOf(c)) return w->font();
    const resources::DialogTemplate* t = c.owner().dialogTemplate();
    return dialogFont(t ? t->fontName : u"", c.owner().units().baseY);
}

}  // namespace

Size QtBackend::measureText(const Control& c, std::u16string_view text) const {
    return impl_->measure(controlFont(c), text, -1);
}

ControlChrome QtBackend::chrome() const {
    const QStyle* s = QApplication::style();
    ControlChrome chrome;
    const int frame = 2 * s->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const int margin = s->pixelMetric(QStyle::PM_ButtonMargin);
    chrome.button = {margin + frame + 4, margin + frame};
    chrome.check = {s->pixelMetric(QStyle::PM_IndicatorWidth) +
                        s->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) + 2,
                    2};
    // QLineEdit: its frame, its 2-pixel text margins and the cursor.
    chrome.edit = {frame + 6, frame + 2};
    chrome.combo = {2 * s->pixelMetric(QStyle::PM_ComboBoxFrameWidth) +
                        s->pixelMetric(QStyle::PM_ScrollBarExtent) + 8,
                    frame + 4};
    return chrome;
}

Size QtBackend::contentSize(const Control& c, int width,
                            std::optional<std::u16string_view> other) const {
    const QFont font = controlFont(c);
    const std::u16string_view own = other ? *other : std::u16string_view(c.text());
    if (c.kind() == ControlKind::Static)
        return own.empty() ? Size{} : impl_->measure(font, own, width);
    const QtView* view = viewOf(c.owner());
    QWidget* w = view ? view->widgetOf(c) : nullptr;
    if (w && (c.kind() == ControlKind::ComboBox || c.kind() == ControlKind::DropDownList)) {
        // What QComboBox asks its style for, from the widest item.
        auto* combo = qobject_cast<QComboBox*>(w);
        int textWidth = c.kind() == ControlKind::ComboBox ? impl_->measure(font, own, -1).width : 0;
        for (int i = 0; i < c.itemCount(); ++i)
            textWidth = std::max(textWidth, impl_->measure(font, c.itemText(i), -1).width);
        QStyleOptionComboBox opt;
        opt.initFrom(combo);
        opt.editable = combo->isEditable();
        const QSize need = combo->style()->sizeFromContents(
            QStyle::CT_ComboBox, &opt, QSize(textWidth, QFontMetrics(font).height()), combo);
        return {need.width(), need.height()};
    }
    return ui::contentSize(
        c, width, [&](std::u16string_view s) { return impl_->measure(font, s, -1); }, chrome(),
        other);
}

std::optional<Image> grabWindow(const Dialog& dialog) {
    QtView* view = viewOf(dialog);
    if (!view || !view->window()) return std::nullopt;
    return toImage(view->window()->grab().toImage());
}

bool saveWindowPng(const Dialog& dialog, const std::filesystem::path& path) {
    QtView* view = viewOf(dialog);
    if (!view || !view->window()) return false;
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    return view->window()->grab().save(QString::fromStdString(path.string()), "PNG");
}

std::optional<Image> loadPng(const std::filesystem::path& path) {
    QImage img;
    if (!img.load(QString::fromStdString(path.string()), "PNG")) return std::nullopt;
    return toImage(img);
}

bool canRenderText(std::u16string_view text) {
    const QFontMetrics fm(dialogFont(u"新宋体", 12));
    const QString s = toQ(text);
    for (const char32_t c : s.toUcs4())
        if (!fm.inFontUcs4(c)) return false;
    return true;
}

std::u16string toNameFilters(std::u16string_view mfcFilter) {
    std::u16string out;
    for (const FileFilter& f : parseFileFilter(mfcFilter)) {
        if (!out.empty()) out += u";;";
        // Qt reads the patterns from the last parentheses of each entry.
        out += f.description + u" (";
        for (std::size_t i = 0; i < f.patterns.size(); ++i) {
            if (i) out += u' ';
            out += f.patterns[i];
        }
        out += u')';
    }
    return out;
}

bool clickWidget(Dialog& dialog, int controlId) {
    QtView* view = viewOf(dialog);
    if (!view || !dialog.hasControl(controlId)) return false;
    auto* button = qobject_cast<QAbstractButton*>(view->widgetOf(dialog.control(controlId)));
    if (!button) return false;
    button->click();
    return true;
}

bool toggleRowCheck(Dialog& dialog, int controlId, int row) {
    QtView* view = viewOf(dialog);
    if (!view || !dialog.hasControl(controlId)) return false;
    auto* table = qobject_cast<QTableWidget*>(view->widgetOf(dialog.control(controlId)));
    QTableWidgetItem* item = table ? table->item(row, 0) : nullptr;
    if (!item || !(item->flags() & Qt::ItemIsUserCheckable)) return false;
    item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    return true;
}

bool scrollListTo(Dialog& dialog, int controlId, int row) {
    QtView* view = viewOf(dialog);
    if (!view || !dialog.hasControl(controlId)) return false;
    auto* table = qobject_cast<QTableWidget*>(view->widgetOf(dialog.control(controlId)));
    if (!table || row < 0 || row >= table->rowCount()) return false;
    table->scrollTo(table->model()->index(row, 0), QAbstractItemView::PositionAtTop);
    return true;
}

std::optional<std::pair<int, int>> shownRows(const Dialog& dialog, int controlId) {
    QtView* view = viewOf(dialog);
    if (!view || !dialog.hasControl(controlId)) return std::nullopt;
    auto* table = qobject_cast<QTableWidget*>(view->widgetOf(dialog.control(controlId)));
    if (!table || table->rowCount() == 0) return std::nullopt;
    const int height = table->viewport()->height();
    const int first = table->rowAt(0);
    int last = table->rowAt(height - 1);
    if (last < 0) last = table->rowCount() - 1;
    return std::pair{first, last};
}

namespace {

std::pair<int, Qt::KeyboardModifiers> qtKey(Key key) {
    switch (key) {
        case Key::Enter:
            return {Qt::Key_Return, Qt::NoModifier};
        case Key::Escape:
            return {Qt::Key_Escape, Qt::NoModifier};
        case Key::Tab:
            return {Qt::Key_Tab, Qt::NoModifier};
        case Key::BackTab:
            return {Qt::Key_Backtab, Qt::ShiftModifier};
        case Key::Up:
            return {Qt::Key_Up, Qt::NoModifier};
        case Key::Down:
            return {Qt::Key_Down, Qt::NoModifier};
        case Key::Left:
            return {Qt::Key_Left, Qt::NoModifier};
        case Key::Right:
            return {Qt::Key_Right, Qt::NoModifier};
        case Key::Home:
            return {Qt::Key_Home, Qt::NoModifier};
        case Key::End:
            return {Qt::Key_End, Qt::NoModifier};
        case Key::NextPage:
            return {Qt::Key_Tab, Qt::ControlModifier};
        case Key::PreviousPage:
            return {Qt::Key_PageUp, Qt::ControlModifier};
        case Key::ControlM:
            return {Qt::Key_M, Qt::ControlModifier};
    }
    return {Qt::Key_unknown, Qt::NoModifier};
}

}  // namespace

bool sendKey(Dialog& dialog, Key key) {
    QtView* view = viewOf(dialog);
    if (!view) return false;
    QWidget* target = QApplication::focusWidget();
    if (!target) {
        Control* focused = dialog.focus();
        target = focused ? viewOf(focused->owner())->widgetOf(*focused) : view->window();
    }
    if (!target) return false;
    const auto [code, modifiers] = qtKey(key);
    QKeyEvent press(QEvent::KeyPress, code, modifiers);
    QCoreApplication::sendEvent(target, &press);
    return true;
}

void processEvents(int ms) {
    if (ms <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace ui::qt
