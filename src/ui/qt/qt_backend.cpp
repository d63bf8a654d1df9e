#include "ui/qt/qt_backend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include "ui/qt/qt_draw.h"
#include "ui/qt/qt_view.h"

namespace ui::qt {
namespace {

QString toQ(std::u16string_view s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

class KeyFilter final : public QObject {
  public:
    explicit KeyFilter(WidgetRegistry& registry) : registry_(registry) {}

    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || delivering_) return false;
        const auto* ke = static_cast<QKeyEvent*>(event);
        Key key;
        switch (ke->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                key = Key::Enter;
                break;
            case Qt::Key_Escape:
                key = Key::Escape;
                break;
            default:
                return false;
        }
        auto* widget = qobject_cast<QWidget*>(object);
        const WidgetOwner owner = widget ? registry_.find(widget) : WidgetOwner{};
        if (!owner.view) return false;
        Dialog& dialog = owner.view->dialog();
        if (owner.control) dialog.userFocus(owner.control->id());
        QPointer<QWidget> target(widget);
        if (dialog.root().userKey(key) && target) {
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

bool sendKey(Dialog& dialog, Key key) {
    QtView* view = viewOf(dialog);
    if (!view) return false;
    QWidget* target = QApplication::focusWidget();
    if (!target) {
        Control* focused = dialog.focus();
        target = focused ? viewOf(focused->owner())->widgetOf(*focused) : view->window();
    }
    if (!target) return false;
    QKeyEvent press(QEvent::KeyPress, key == Key::Enter ? Qt::Key_Return : Qt::Key_Escape,
                    Qt::NoModifier);
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
