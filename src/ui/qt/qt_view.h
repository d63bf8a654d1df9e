#pragma once
#include <QDialog>
#include <QEventLoop>
#include <QPointer>
#include <QTabBar>
#include <QTimer>
#include <QWidget>
#include <map>
#include <unordered_map>

#include "ui/backend.h"
#include "ui/dialog.h"

namespace ui::qt {

class QtView;

// Where a widget belongs: its window's view and, for a control's widget, the control.
struct WidgetOwner {
    QtView* view = nullptr;
    const Control* control = nullptr;
};

// The widget registry of the backend, used to route focus and keys.
class WidgetRegistry {
  public:
    void add(QWidget* w, WidgetOwner owner) { owners_[w] = owner; }
    void removeView(const QtView* view);
    // The nearest registered widget at or above w.
    WidgetOwner find(QWidget* w) const;

  private:
    std::unordered_map<QWidget*, WidgetOwner> owners_;
};

// The window of a modal dialog.
class DialogWindow final : public QDialog {
  public:
    DialogWindow(QtView& view, QWidget* parent);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QtView& view_;
};

// The window of a page.
class PageWindow final : public QWidget {
  public:
    PageWindow(QtView& view, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QtView& view_;
};

// A tab control: a tab bar along the top of a framed area that hosts pages.
class TabHost final : public QWidget {
  public:
    TabHost(QtView& view, const Control& control, QWidget* parent);
    QTabBar* bar() const { return bar_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QTabBar* bar_;
};

class QtView final : public WindowView {
  public:
    QtView(WidgetRegistry& registry, Dialog& dialog);
    ~QtView() override;

    Dialog& dialog() const { return dialog_; }
    QWidget* window() const { return window_; }
    QWidget* widgetOf(const Control& control) const;
    bool pushing() const { return pushing_ > 0; }
    void runLoop();

    void controlChanged(Control& control, Change change, int index) override;
    void windowChanged(WindowChange change) override;
    void invalidate() override;
    void setTimer(int id, int periodMs) override;
    void killTimer(int id) override;
    void endModal() override;
    std::unique_ptr<DrawContext> controlContext(Control& control) override;
    Point cursorPosition(const Control& control) const override;
    std::optional<Rect> tabItemRect(const Control& control, int index) const override;

  private:
    QWidget* makeWidget(Control& c, QWidget* parent);
    void pushAll(Control& c);
    void pushGeometry(const Control& c, QWidget* w);
    void pushText(const Control& c, QWidget* w);
    void pushItems(const Control& c, QWidget* w);
    void pushSelection(const Control& c, QWidget* w);
    void pushColumns(const Control& c, QWidget* w);
    void pushRows(const Control& c, QWidget* w);
    void pushAppendedRows(const Control& c, QWidget* w, int first);
    void pushRowStates(const Control& c, QWidget* w);
    void pushRange(const Control& c, QWidget* w);
    void pushCheck(const Control& c, QWidget* w);
    void applyWindowGeometry();
    void clicked(const Control& c);

    WidgetRegistry& registry_;
    Dialog& dialog_;
    QPointer<QWidget> window_;
    std::unordered_map<const Control*, QPointer<QWidget>> widgets_;
    std::map<int, QPointer<QTimer>> timers_;
    QEventLoop* loop_ = nullptr;
    int pushing_ = 0;
};

}  // namespace ui::qt
