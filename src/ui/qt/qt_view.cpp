#include "ui/qt/qt_view.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColor>
#include <QComboBox>
#include <QCursor>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyleOptionTabWidgetFrame>
#include <QTableWidget>
#include <QTextCursor>
#include <functional>
#include <string>

#include "ui/qt/qt_draw.h"

namespace ui::qt {
namespace {

QString toQ(std::u16string_view s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

// Multi-line edits keep Windows line ends in the model and Qt's in the widget.
QString editToQ(std::u16string_view s) {
    QString q = toQ(s);
    q.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return q;
}
std::u16string editFromQ(QString q) {
    q.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return q.toStdU16String();
}

QRect toQ(const Rect& r) {
    return QRect(r.left, r.top, r.width(), r.height());
}

struct PushGuard {
    explicit PushGuard(int& n) : n_(n) { ++n_; }
    ~PushGuard() { --n_; }
    PushGuard(const PushGuard&) = delete;
    PushGuard& operator=(const PushGuard&) = delete;
    int& n_;
};

class FunctionFilter final : public QObject {
  public:
    FunctionFilter(QObject* parent, std::function<bool(QEvent*)> fn)
        : QObject(parent), fn_(std::move(fn)) {}
    bool eventFilter(QObject*, QEvent* event) override { return fn_(event); }

  private:
    std::function<bool(QEvent*)> fn_;
};

class ClickTabBar final : public QTabBar {
  public:
    using QTabBar::QTabBar;
    std::function<void(int)> pressed;

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        QTabBar::mousePressEvent(event);
        const int index = tabAt(event->position().toPoint());
        if (index >= 0 && pressed) pressed(index);
    }
};

// A row's check box and highlight, as the layer's list keeps them.
void pushRowLook(const Control& c, QTableWidget* table, int row) {
    const bool checkable = (c.extendedStyle() & list_style::kCheckBoxes) != 0;
    const QBrush background = c.isRowHighlighted(row) ? QBrush(QColor(255, 236, 179)) : QBrush();
    for (int col = 0; col < table->columnCount(); ++col) {
        QTableWidgetItem* item = table->item(row, col);
        if (!item) continue;
        if (col == 0) {
            Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
            if (checkable) flags |= Qt::ItemIsUserCheckable;
            item->setFlags(flags);
            if (checkable)
                item->setCheckState(c.isRowChecked(row) ? Qt::Checked : Qt::Unchecked);
            else
                item->setData(Qt::CheckStateRole, QVariant());
        }
        item->setBackground(background);
    }
}

}  // namespace

// --- WidgetRegistry

void WidgetRegistry::removeView(const QtView* view) {
    std::erase_if(owners_, [view](const auto& entry) { return entry.second.view == view; });
}

WidgetOwner WidgetRegistry::find(QWidget* w) const {
    for (; w; w = w->parentWidget()) {
        const auto it = owners_.find(w);
        if (it != owners_.end()) return it->second;
        if (w->isWindow()) break;  // message boxes, popups: not ours
    }
    return {};
}

// --- windows

DialogWindow::DialogWindow(QtView& view, QWidget* parent) : QDialog(parent), view_(view) {}

void DialogWindow::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape reach the dialog layer through the key filter; a key
    // handed back to a control ends here unused instead of closing the window.
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void DialogWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    view_.dialog().userClose();
}

void DialogWindow::reject() {
    view_.dialog().userClose();
}

void DialogWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (view_.pushing() || isMinimized()) return;
    view_.dialog().userResize(isMaximized() ? SizeState::Maximized : SizeState::Restored,
                              {width(), height()});
}

void DialogWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || view_.pushing()) return;
    if (isMinimized())
        view_.dialog().userResize(SizeState::Minimized, {width(), height()});
    else
        view_.dialog().userResize(isMaximized() ? SizeState::Maximized : SizeState::Restored,
                                  {width(), height()});
}

void DialogWindow::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter p(this);
    QtDrawContext dc(p, {width(), height()});
    view_.dialog().dispatchPaint(dc);
}

PageWindow::PageWindow(QtView& view, QWidget* parent) : QWidget(parent), view_(view) {
    setAutoFillBackground(true);
}

void PageWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter p(this);
    QtDrawContext dc(p, {width(), height()});
    view_.dialog().dispatchPaint(dc);
}

TabHost::TabHost(QtView& view, const Control& control, QWidget* parent)
    : QWidget(parent), bar_(new ClickTabBar(this)) {
    auto* bar = static_cast<ClickTabBar*>(bar_);
    setFocusProxy(bar);
    bar->setDrawBase(false);
    bar->setExpanding(false);
    const int id = control.id();
    bar->pressed = [&view, id](int index) { view.dialog().userClickTab(id, index); };
    QObject::connect(bar, &QTabBar::currentChanged, this, [&view, id](int index) {
        if (!view.pushing() && index >= 0) view.dialog().userSelectTab(id, index);
    });
}

void TabHost::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int h = std::max(bar_->sizeHint().height(), fontMetrics().height() + 8);
    bar_->setGeometry(0, 0, width(), h);
}

void TabHost::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    const int top = bar_->geometry().bottom();
    frame.rect = QRect(0, top, width(), height() - top);
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &p, this);
}

// --- QtView

QtView::QtView(WidgetRegistry& registry, Dialog& dialog) : registry_(registry), dialog_(dialog) {
    PushGuard guard(pushing_);
    const resources::DialogTemplate& t = *dialog.dialogTemplate();
    QWidget* top = nullptr;
    if (dialog.isTopLevel()) {
        auto* w = new DialogWindow(*this, QApplication::activeModalWidget());
        Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
        if (t.style & resources::dialog_style::kSystemMenu) flags |= Qt::WindowSystemMenuHint;
        if (t.style & resources::dialog_style::kMinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
        if (t.style & resources::dialog_style::kResizable) flags |= Qt::WindowMaximizeButtonHint;
        w->setWindowFlags(flags);
        if (dialog.isModal()) w->setWindowModality(Qt::ApplicationModal);
        w->setSizeGripEnabled(false);
        top = w;
    } else {
        auto* parentView = static_cast<QtView*>(dialog.parent()->view());
        QWidget* host = parentView->widgetOf(dialog.parent()->control(dialog.hostId()));
        top = new PageWindow(*this, host);
    }
    window_ = top;
    top->setFont(dialogFont(t.fontName, dialog.units().baseY));
    registry_.add(top, {this, nullptr});
    for (const auto& c : dialog.controls()) {
        QWidget* w = makeWidget(*c, top);
        // The dialog layer decides the tab order; Qt's own Tab chain must not
        // stop where the template has no tab stop.
        if (!c->hasStyle(style::kTabStop) && w->focusPolicy() != Qt::NoFocus)
            w->setFocusPolicy(Qt::ClickFocus);
        widgets_[c.get()] = w;
        registry_.add(w, {this, c.get()});
        pushAll(*c);
    }
    // Group boxes stay beneath the controls they frame.
    for (const auto& c : dialog.controls())
        if (c->kind() == ControlKind::GroupBox) widgets_[c.get()]->lower();
    windowChanged(WindowChange::Caption);
    applyWindowGeometry();
    // A modal window shows when its loop starts.
    if (!dialog.isModal()) top->setVisible(dialog.isVisible());
}

QtView::~QtView() {
    registry_.removeView(this);
    if (loop_) loop_->exit(0);
    for (auto& [id, timer] : timers_)
        if (timer) timer->stop();
    delete window_.data();
}

QWidget* QtView::widgetOf(const Control& control) const {
    const auto it = widgets_.find(&control);
    return it == widgets_.end() ? nullptr : it->second.data();
}

QWidget* QtView::makeWidget(Control& c, QWidget* parent) {
    const int id = c.id();
    auto userClick = [this, &c] { clicked(c); };
    switch (c.kind()) {
        case ControlKind::Static: {
            auto* l = new CanvasLabel(parent);
            l->setTextFormat(Qt::PlainText);
            l->setWordWrap(true);
            l->setAlignment(Qt::AlignLeft | (c.hasStyle(style::kCenterVertically) ? Qt::AlignVCenter
                                                                                  : Qt::AlignTop));
            return l;
        }
        case ControlKind::Icon: {
            auto* l = new QLabel(parent);
            l->setPixmap(iconPixmap(c.image()));
            return l;
        }
        case ControlKind::GroupBox: {
            auto* g = new QGroupBox(parent);
            g->setAttribute(Qt::WA_TransparentForMouseEvents);
            return g;
        }
        case ControlKind::PushButton: {
            auto* b = new QPushButton(parent);
            b->setAutoDefault(false);
            b->setDefault(c.hasStyle(style::kDefaultButton));
            QObject::connect(b, &QAbstractButton::clicked, b, userClick);
            return b;
        }
        case ControlKind::CheckBox: {
            QAbstractButton* b = nullptr;
            if (c.hasStyle(style::kPushLike)) {
                auto* p = new QPushButton(parent);
                p->setAutoDefault(false);
                p->setCheckable(true);
                b = p;
            } else {
                b = new QCheckBox(parent);
            }
            QObject::connect(b, &QAbstractButton::clicked, b, userClick);
            return b;
        }
        case ControlKind::RadioButton: {
            auto* r = new QRadioButton(parent);
            r->setAutoExclusive(false);  // the dialog layer keeps the groups
            QObject::connect(r, &QAbstractButton::clicked, r, userClick);
            return r;
        }
        case ControlKind::Edit: {
            if (c.hasStyle(style::kMultiLine)) {
                auto* e = new QPlainTextEdit(parent);
                e->setReadOnly(c.hasStyle(style::kReadOnly));
                e->setVerticalScrollBarPolicy(c.hasStyle(style::kVScroll) ? Qt::ScrollBarAlwaysOn
                                                                          : Qt::ScrollBarAsNeeded);
                QObject::connect(e, &QPlainTextEdit::textChanged, e, [this, e, id] {
                    if (!pushing() && !e->isReadOnly())
                        dialog_.userType(id, editFromQ(e->toPlainText()));
                });
                return e;
            }
            auto* e = new QLineEdit(parent);
            e->setReadOnly(c.hasStyle(style::kReadOnly));
            QObject::connect(e, &QLineEdit::textEdited, e, [this, id](const QString& text) {
                if (!pushing()) dialog_.userType(id, text.toStdU16String());
            });
            return e;
        }
        case ControlKind::ComboBox:
        case ControlKind::DropDownList: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(c.kind() == ControlKind::ComboBox);
            combo->setInsertPolicy(QComboBox::NoInsert);
            QObject::connect(combo, &QComboBox::activated, combo, [this, id](int index) {
                if (!pushing()) dialog_.userSelectItem(id, index);
            });
            if (combo->isEditable()) {
                QObject::connect(combo, &QComboBox::editTextChanged, combo,
                                 [this, id](const QString& text) {
                                     if (!pushing()) dialog_.userType(id, text.toStdU16String());
                                 });
            }
            return combo;
        }
        case ControlKind::ListView: {
            auto* table = new QTableWidget(parent);
            table->setEditTriggers(QAbstractItemView::NoEditTriggers);
            table->verticalHeader()->hide();
            table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
            table->horizontalHeader()->setSectionsClickable(false);
            table->horizontalHeader()->setHighlightSections(false);
            table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            table->setSelectionMode(c.hasStyle(style::kSingleSelection)
                                        ? QAbstractItemView::SingleSelection
                                        : QAbstractItemView::ExtendedSelection);
            table->setSelectionBehavior(QAbstractItemView::SelectItems);
            table->setShowGrid(false);
            table->setWordWrap(false);
            // One tab stop: Tab leaves the list, arrows move inside it.
            table->setTabKeyNavigation(false);
            QObject::connect(table, &QTableWidget::currentCellChanged, table,
                             [this, id](int row, int, int, int) {
                                 if (!pushing() && row >= 0) dialog_.userSelectRow(id, row);
                             });
            QObject::connect(table, &QTableWidget::cellClicked, table, [this, id](int row, int) {
                if (!pushing()) dialog_.userClickRow(id, row);
            });
            QObject::connect(table, &QTableWidget::itemChanged, table,
                             [this, id, table](QTableWidgetItem* item) {
                                 if (pushing() || item->column() != 0 ||
                                     !(item->flags() & Qt::ItemIsUserCheckable))
                                     return;
                                 const int row = item->row();
                                 dialog_.userCheckRow(id, row, item->checkState() == Qt::Checked);
                                 // The layer's state decides: a handler may undo a check.
                                 if (dialog_.exists() && dialog_.hasControl(id)) {
                                     PushGuard guard(pushing_);
                                     pushRowLook(dialog_.control(id), table, row);
                                 }
                             });
            // A click below the rows still reports, with no row.
            table->viewport()->installEventFilter(
                new FunctionFilter(table, [this, table, id](QEvent* event) {
                    if (event->type() != QEvent::MouseButtonRelease || pushing()) return false;
                    const auto* me = static_cast<QMouseEvent*>(event);
                    if (!table->indexAt(me->position().toPoint()).isValid())
                        dialog_.userClickRow(id, -1);
                    return false;
                }));
            return table;
        }
        case ControlKind::TabControl:
            return new TabHost(*this, c, parent);
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(parent);
            bar->setTextVisible(false);
            return bar;
        }
        case ControlKind::TrackBar: {
            const bool vertical = c.hasStyle(style::kVertical);
            auto* slider = new QSlider(vertical ? Qt::Vertical : Qt::Horizontal, parent);
            slider->setTickPosition(vertical ? QSlider::TicksRight : QSlider::TicksBelow);
            slider->setTickInterval(1);
            QObject::connect(slider, &QSlider::valueChanged, slider, [this, id](int value) {
                if (!pushing()) dialog_.userSetPosition(id, value);
            });
            return slider;
        }
    }
    return new QWidget(parent);
}

void QtView::clicked(const Control& c) {
    const int id = c.id();
    dialog_.userClick(id);
    // Qt toggled the button itself; the dialog layer's state decides (a radio
    // button stays checked when clicked again, a handler may undo a check).
    if (Control* again =
            dialog_.exists() && dialog_.hasControl(id) ? &dialog_.control(id) : nullptr) {
        if (QWidget* w = widgetOf(*again)) {
            PushGuard guard(pushing_);
            pushCheck(*again, w);
        }
    }
}

void QtView::pushAll(Control& c) {
    QWidget* w = widgetOf(c);
    if (!w) return;
    pushGeometry(c, w);
    pushText(c, w);
    w->setEnabled(c.isEnabled());
    if (!c.isVisible()) w->setVisible(false);
    switch (c.kind()) {
        case ControlKind::CheckBox:
        case ControlKind::RadioButton:
            pushCheck(c, w);
            break;
        case ControlKind::ComboBox:
        case ControlKind::DropDownList:
        case ControlKind::TabControl:
            pushItems(c, w);
            break;
        case ControlKind::ListView:
            pushColumns(c, w);
            break;
        case ControlKind::ProgressBar:
        case ControlKind::TrackBar:
            pushRange(c, w);
            break;
        default:
            break;
    }
}

void QtView::pushGeometry(const Control& c, QWidget* w) {
    QRect r = toQ(c.rect());
    // A combo box's resource height includes its drop-down list.
    if (auto* combo = qobject_cast<QComboBox*>(w))
        r.setHeight(std::min(r.height(), combo->sizeHint().height()));
    w->setGeometry(r);
}

void QtView::pushText(const Control& c, QWidget* w) {
    const QString text = toQ(c.text());
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (c.kind() != ControlKind::Icon && label->text() != text) label->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        if (group->title() != text) group->setTitle(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        if (button->text() != text) button->setText(text);
    } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
        if (line->text() != text) line->setText(text);
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
        const QString q = editToQ(c.text());
        if (plain->toPlainText() != q) plain->setPlainText(q);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (combo->isEditable() && combo->currentText() != text) {
            combo->setEditText(text);
            // Shown from its start, as an edit field without the focus is: Qt
            // leaves the cursor at the end, so a long text shows only its tail.
            if (combo->lineEdit() && !combo->hasFocus()) combo->lineEdit()->setCursorPosition(0);
        }
    }
}

void QtView::pushCheck(const Control& c, QWidget* w) {
    if (c.kind() != ControlKind::CheckBox && c.kind() != ControlKind::RadioButton) return;
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        const bool on = c.check() != 0;
        if (button->isChecked() != on) button->setChecked(on);
    }
}

void QtView::pushItems(const Control& c, QWidget* w) {
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        combo->clear();
        for (int i = 0; i < c.itemCount(); ++i) combo->addItem(toQ(c.itemText(i)));
    } else if (auto* host = dynamic_cast<TabHost*>(w)) {
        QTabBar* bar = host->bar();
        while (bar->count() > 0) bar->removeTab(bar->count() - 1);
        for (int i = 0; i < c.itemCount(); ++i) bar->addTab(toQ(c.itemText(i)));
        const int h = std::max(bar->sizeHint().height(), host->fontMetrics().height() + 8);
        bar->setGeometry(0, 0, host->width(), h);
    }
    pushSelection(c, w);
}

void QtView::pushSelection(const Control& c, QWidget* w) {
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        combo->setCurrentIndex(c.selection());
        if (combo->isEditable()) {
            pushText(c, w);
            if (combo->lineEdit() && !combo->hasFocus()) combo->lineEdit()->setCursorPosition(0);
        }
    } else if (auto* host = dynamic_cast<TabHost*>(w)) {
        if (c.selection() >= 0) host->bar()->setCurrentIndex(c.selection());
    }
}

void QtView::pushColumns(const Control& c, QWidget* w) {
    auto* table = qobject_cast<QTableWidget*>(w);
    if (!table) return;
    table->setColumnCount(c.columnCount());
    for (int i = 0; i < c.columnCount(); ++i) {
        const ListColumn col = c.column(i);
        table->setHorizontalHeaderItem(i, new QTableWidgetItem(toQ(col.header)));
        table->setColumnWidth(i, col.width);
    }
    pushRows(c, w);
}

void QtView::pushRows(const Control& c, QWidget* w) {
    auto* table = qobject_cast<QTableWidget*>(w);
    if (!table) return;
    const int columns = std::max(c.columnCount(), 1);
    if (table->columnCount() < columns) table->setColumnCount(columns);
    table->setRowCount(c.rowCount());
    for (int r = 0; r < c.rowCount(); ++r) {
        for (int col = 0; col < columns; ++col) {
            auto* item = new QTableWidgetItem(toQ(c.cellText(r, col)));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            table->setItem(r, col, item);
        }
        pushRowLook(c, table, r);
    }
    pushRowStates(c, w);
}

void QtView::pushAppendedRows(const Control& c, QWidget* w, int first) {
    auto* table = qobject_cast<QTableWidget*>(w);
    if (!table) return;
    QScrollBar* bar = table->verticalScrollBar();
    const bool atEnd = table->rowCount() == 0 || bar->value() >= bar->maximum();
    const int columns = std::max(c.columnCount(), 1);
    if (table->columnCount() < columns) table->setColumnCount(columns);
    first = std::min(first, table->rowCount());
    table->setRowCount(c.rowCount());
    for (int r = first; r < c.rowCount(); ++r) {
        for (int col = 0; col < columns; ++col) {
            auto* item = new QTableWidgetItem(toQ(c.cellText(r, col)));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            table->setItem(r, col, item);
        }
        pushRowLook(c, table, r);
    }
    if (atEnd) table->scrollToBottom();
}

void QtView::pushRowStates(const Control& c, QWidget* w) {
    auto* table = qobject_cast<QTableWidget*>(w);
    if (!table) return;
    QItemSelection selection;
    const int lastColumn = std::max(table->columnCount() - 1, 0);
    for (int r = 0; r < c.rowCount(); ++r)
        if (c.isRowSelected(r))
            selection.select(table->model()->index(r, 0), table->model()->index(r, lastColumn));
    table->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void QtView::pushRange(const Control& c, QWidget* w) {
    if (auto* bar = qobject_cast<QProgressBar*>(w)) {
        bar->setRange(c.rangeLow(), c.rangeHigh());
        bar->setValue(c.position());
    } else if (auto* slider = qobject_cast<QSlider*>(w)) {
        slider->setRange(c.rangeLow(), c.rangeHigh());
        slider->setPageStep(c.pageSize());
        slider->setValue(c.position());
    }
}

void QtView::controlChanged(Control& c, Change change, int index) {
    QWidget* w = widgetOf(c);
    if (!w) return;
    PushGuard guard(pushing_);
    switch (change) {
        case Change::Text:
            pushText(c, w);
            break;
        case Change::Enabled:
            w->setEnabled(c.isEnabled());
            break;
        case Change::Visible:
            w->setVisible(c.isVisible());
            break;
        case Change::Geometry:
            pushGeometry(c, w);
            break;
        case Change::Check:
            pushCheck(c, w);
            break;
        case Change::Items:
            pushItems(c, w);
            break;
        case Change::Selection:
            pushSelection(c, w);
            break;
        case Change::Columns:
            pushColumns(c, w);
            break;
        case Change::Rows:
            pushRows(c, w);
            break;
        case Change::RowsAppended:
            pushAppendedRows(c, w, index);
            break;
        case Change::RowsRemoved:
            if (auto* table = qobject_cast<QTableWidget*>(w)) {
                QScrollBar* bar = table->verticalScrollBar();
                const bool atEnd = bar->value() >= bar->maximum();
                const int before = bar->value();
                table->model()->removeRows(0, std::min(index, table->rowCount()));
                // The rows in view stay in view: the scroll position moves up
                // with them, unless the list follows its end.
                if (!atEnd) {
                    const int step = table->verticalScrollMode() == QAbstractItemView::ScrollPerItem
                                         ? 1
                                         : table->verticalHeader()->defaultSectionSize();
                    bar->setValue(std::max(0, before - index * step));
                }
            }
            break;
        case Change::Cell:
            if (auto* table = qobject_cast<QTableWidget*>(w)) {
                if (QTableWidgetItem* item = table->item(index, c.changedColumn()))
                    item->setText(toQ(c.cellText(index, c.changedColumn())));
            }
            break;
        case Change::RowState:
            pushRowStates(c, w);
            break;
        case Change::RowCheck:
        case Change::RowHighlight:
            if (auto* table = qobject_cast<QTableWidget*>(w); table && index < table->rowCount())
                pushRowLook(c, table, index);
            break;
        case Change::SelectionMark:
            if (auto* table = qobject_cast<QTableWidget*>(w); table && c.selectionMark() >= 0)
                table->selectionModel()->setCurrentIndex(
                    table->model()->index(c.selectionMark(), 0), QItemSelectionModel::NoUpdate);
            break;
        case Change::EnsureVisible:
            if (auto* table = qobject_cast<QTableWidget*>(w))
                table->scrollTo(table->model()->index(index, 0));
            break;
        case Change::ExtendedStyle:
            if (auto* table = qobject_cast<QTableWidget*>(w)) {
                table->setShowGrid((c.extendedStyle() & list_style::kGridLines) != 0);
                table->setSelectionBehavior((c.extendedStyle() & list_style::kFullRowSelect)
                                                ? QAbstractItemView::SelectRows
                                                : QAbstractItemView::SelectItems);
                for (int r = 0; r < table->rowCount(); ++r) pushRowLook(c, table, r);
            }
            break;
        case Change::EditSelection: {
            const auto [start, end] = c.editSelection();
            if (auto* line = qobject_cast<QLineEdit*>(w)) {
                line->setSelection(start, end - start);
            } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
                QTextCursor cursor = plain->textCursor();
                cursor.setPosition(start);
                cursor.setPosition(end, QTextCursor::KeepAnchor);
                plain->setTextCursor(cursor);
            } else if (auto* combo = qobject_cast<QComboBox*>(w); combo && combo->lineEdit()) {
                combo->lineEdit()->setSelection(start, end - start);
            }
            break;
        }
        case Change::Range:
        case Change::Position:
            pushRange(c, w);
            break;
        case Change::Focus:
            w->setFocus(Qt::OtherFocusReason);
            break;
        case Change::TextColor: {
            // An empty palette inherits every colour: the system's text colour.
            QPalette palette;
            if (const auto color = c.textColor())
                palette.setColor(QPalette::WindowText, QColor(color->r, color->g, color->b));
            w->setPalette(palette);
            break;
        }
        case Change::Style:
            if (auto* b = qobject_cast<QPushButton*>(w); b && c.kind() == ControlKind::PushButton)
                b->setDefault(c.hasStyle(style::kDefaultButton));
            break;
    }
}

void QtView::applyWindowGeometry() {
    if (!window_) return;
    PushGuard guard(pushing_);
    const Rect r = dialog_.windowRect();
    const resources::DialogTemplate& t = *dialog_.dialogTemplate();
    if (dialog_.isTopLevel() && !(t.style & resources::dialog_style::kResizable)) {
        window_->setFixedSize(r.width(), r.height());
        window_->move(r.left, r.top);
    } else {
        window_->setGeometry(toQ(r));
    }
}

void QtView::windowChanged(WindowChange change) {
    if (!window_) return;
    PushGuard guard(pushing_);
    switch (change) {
        case WindowChange::Caption:
            window_->setWindowTitle(toQ(dialog_.caption()));
            break;
        case WindowChange::Geometry:
            applyWindowGeometry();
            break;
        case WindowChange::MinimumSize:
            if (dialog_.isTopLevel()) {
                const Size m = dialog_.minimumSize();
                window_->setMinimumSize(m.width, m.height);
            }
            break;
        case WindowChange::Visible:
            if (!dialog_.isModal() || loop_) window_->setVisible(dialog_.isVisible());
            break;
        case WindowChange::Icon:
            window_->setWindowIcon(QIcon(iconPixmap(dialog_.icon())));
            break;
        case WindowChange::SystemMenu: {
            // Qt has no system menu of its own: the entries form the window's
            // context menu.
            for (QAction* a : window_->actions()) {
                window_->removeAction(a);
                delete a;
            }
            for (const SystemMenuItem& item : dialog_.systemMenu()) {
                auto* a = new QAction(toQ(item.text), window_);
                if (item.command == 0) {
                    a->setSeparator(true);
                } else {
                    const int command = item.command;
                    QObject::connect(a, &QAction::triggered, window_,
                                     [this, command] { dialog_.userSystemCommand(command); });
                }
                window_->addAction(a);
            }
            window_->setContextMenuPolicy(Qt::ActionsContextMenu);
            break;
        }
        case WindowChange::Activate:
            if (!dialog_.isTopLevel()) break;
            if (window_->isMinimized()) window_->showNormal();
            window_->show();
            window_->raise();
            window_->activateWindow();
            break;
    }
}

void QtView::invalidate() {
    if (window_) window_->update();
}

void QtView::setTimer(int id, int periodMs) {
    QPointer<QTimer>& timer = timers_[id];
    if (!timer) {
        timer = new QTimer(window_);
        QObject::connect(timer, &QTimer::timeout, window_,
                         [this, id] { dialog_.dispatchTimer(id); });
    }
    timer->start(periodMs);
}

void QtView::killTimer(int id) {
    const auto it = timers_.find(id);
    if (it == timers_.end()) return;
    delete it->second.data();
    timers_.erase(it);
}

void QtView::endModal() {
    if (loop_) loop_->exit(0);
}

void QtView::runLoop() {
    if (!window_ || dialog_.modalEnded()) return;
    applyWindowGeometry();
    window_->show();
    if (QGuiApplication::platformName() != QStringLiteral("offscreen")) window_->raise();
    window_->activateWindow();
    if (Control* f = dialog_.focus())
        if (QWidget* w = widgetOf(*f)) w->setFocus(Qt::OtherFocusReason);
    if (!dialog_.modalEnded()) {
        QEventLoop loop;
        loop_ = &loop;
        loop.exec(QEventLoop::DialogExec);
        loop_ = nullptr;
    }
    if (window_) window_->hide();
}

std::unique_ptr<DrawContext> QtView::controlContext(Control& control) {
    if (auto* label = dynamic_cast<CanvasLabel*>(widgetOf(control)))
        return std::make_unique<QtDrawContext>(label);
    reportViolation("control " + std::to_string(control.id()) + " is not a static to draw on");
    return std::make_unique<QtDrawContext>(control.clientRect().size());
}

Point QtView::cursorPosition(const Control& control) const {
    QWidget* w = widgetOf(control);
    if (!w) return {};
    const QPoint p = w->mapFromGlobal(QCursor::pos());
    return {p.x(), p.y()};
}

std::optional<Rect> QtView::tabItemRect(const Control& control, int index) const {
    auto* host = dynamic_cast<TabHost*>(widgetOf(control));
    if (!host || index < 0 || index >= host->bar()->count()) return std::nullopt;
    const QRect r = host->bar()->tabRect(index).translated(host->bar()->pos());
    return Rect::fromXywh(r.x(), r.y(), r.width(), r.height());
}

}  // namespace ui::qt
