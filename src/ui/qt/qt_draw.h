#pragma once
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "ui/draw.h"

namespace ui::qt {

// A label whose area can carry an image drawn through a drawing context; it
// shows the image instead of its text once something was drawn.
class CanvasLabel;

// The dialog font: the template's face with CJK fallbacks, at the pixel height
// of the dialog units' base.
QFont dialogFont(std::u16string_view face, int pixelHeight);
QPixmap iconPixmap(int iconId);

// A drawing context on a QImage: an image of its own (memory context), the
// canvas of a label (window context), or a painter during a paint event.
class QtDrawContext final : public DrawContext {
  public:
    explicit QtDrawContext(Size size);            // memory: owns its image
    explicit QtDrawContext(CanvasLabel* label);   // a label's canvas
    QtDrawContext(QPainter& painter, Size size);  // a paint event
    ~QtDrawContext() override;

    Size size() const override;
    void fillRect(const Rect& rect, Color color) override;
    void fillRuns(std::span<const PixelRun> runs, Color color) override;
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

  private:
    QImage* image() const;
    QPainter* begin();
    void done();  // ends a canvas painter and asks the label to repaint
    void flush() const;

    std::unique_ptr<QImage> own_;
    QPointer<CanvasLabel> label_;
    QPainter* external_ = nullptr;
    Size externalSize_;
    mutable std::unique_ptr<QPainter> painter_;
    QPen pen_;
    QColor text_{0, 0, 0};
    QColor background_{255, 255, 255};
    QFont font_;
    QPoint at_;
};

class CanvasLabel final : public QLabel {
  public:
    using QLabel::QLabel;
    // The canvas, resized (and cleared) to the label's size when that changed.
    QImage& canvas();
    bool hasCanvas() const { return !canvas_.isNull(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage canvas_;
};

}  // namespace ui::qt
