#include "ui/qt/qt_draw.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPixmap>

#include "ui/backend.h"

namespace ui::qt {
namespace {

QColor toQ(Color c) {
    return QColor(c.r, c.g, c.b);
}
QString toQ(std::u16string_view s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

QFont dialogFont(std::u16string_view face, int pixelHeight) {
    QFont f;
    QStringList families;
    if (!face.empty()) families << toQ(face);
    // The faces of the resources are Windows fonts; these stand in for them.
    families << QStringLiteral("NSimSun") << QStringLiteral("SimSun")
             << QStringLiteral("WenQuanYi Zen Hei") << QStringLiteral("WenQuanYi Micro Hei")
             << QStringLiteral("Noto Sans CJK SC") << QStringLiteral("DejaVu Sans");
    f.setFamilies(families);
    f.setPixelSize(pixelHeight);
    return f;
}

QPixmap iconPixmap(int /*iconId*/) {
    // The program has one icon: a drive-blue square with a white waveform.
    QPixmap pm(kIconSize.width, kIconSize.height);
    pm.fill(QColor(0, 64, 128));
    QPainter p(&pm);
    p.setPen(QPen(Qt::white, 3));
    const QPoint wave[] = {{4, 22}, {10, 8}, {16, 22}, {22, 8}, {28, 22}};
    p.drawPolyline(wave, 5);
    return pm;
}

QImage& CanvasLabel::canvas() {
    if (canvas_.size() != size()) {
        // The image covers the label: painting it must not repaint the parent,
        // whose paint handler may well be what draws here.
        setAttribute(Qt::WA_OpaquePaintEvent);
        canvas_ = QImage(size(), QImage::Format_RGB32);
        canvas_.fill(palette().color(QPalette::Window));
    }
    return canvas_;
}

void CanvasLabel::paintEvent(QPaintEvent* event) {
    if (canvas_.isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter p(this);
    p.drawImage(QPoint(0, 0), canvas_);
}

QtDrawContext::QtDrawContext(Size size)
    : own_(std::make_unique<QImage>(std::max(size.width, 1), std::max(size.height, 1),
                                    QImage::Format_RGB32)),
      font_(dialogFont(u"", 12)) {
    own_->fill(Qt::black);  // a new bitmap is black
    pen_ = QPen(Qt::black, 1);
}

QtDrawContext::QtDrawContext(CanvasLabel* label) : label_(label), font_(dialogFont(u"", 12)) {
    pen_ = QPen(Qt::black, 1);
}

QtDrawContext::QtDrawContext(QPainter& painter, Size size)
    : external_(&painter), externalSize_(size), font_(dialogFont(u"", 12)) {
    pen_ = QPen(Qt::black, 1);
}

QtDrawContext::~QtDrawContext() {
    flush();
}

QImage* QtDrawContext::image() const {
    if (own_) return own_.get();
    if (label_) return &label_->canvas();
    return nullptr;
}

QPainter* QtDrawContext::begin() {
    if (external_) return external_;
    if (painter_) return painter_.get();
    QImage* img = image();
    if (!img) return nullptr;
    painter_ = std::make_unique<QPainter>(img);
    painter_->setRenderHint(QPainter::Antialiasing, false);
    return painter_.get();
}

// A memory context keeps its painter until it is read; a window context draws
// each call through to its label at once, since pages keep such contexts.
void QtDrawContext::done() {
    if (!label_) return;
    painter_.reset();
    label_->update();
}

void QtDrawContext::flush() const {
    painter_.reset();
}

Size QtDrawContext::size() const {
    if (external_) return externalSize_;
    const QImage* img = image();
    return img ? Size{img->width(), img->height()} : Size{};
}

void QtDrawContext::fillRect(const Rect& rect, Color color) {
    if (QPainter* p = begin())
        p->fillRect(rect.left, rect.top, rect.width(), rect.height(), toQ(color));
    done();
}

void QtDrawContext::fillRuns(std::span<const PixelRun> runs, Color color) {
    QImage* img = external_ ? nullptr : image();
    if (!img || img->format() != QImage::Format_RGB32) {
        DrawContext::fillRuns(runs, color);
        return;
    }
    // Straight into the image: a painter per run costs a hundred times more.
    flush();
    const QRgb rgb = qRgb(color.r, color.g, color.b);
    const int w = img->width(), h = img->height();
    uchar* bits = img->bits();
    const qsizetype stride = img->bytesPerLine();
    for (const PixelRun& r : runs) {
        if (r.x < 0 || r.x >= w) continue;
        const int top = std::max(r.top, 0), bottom = std::min(r.bottom, h - 1);
        for (int y = top; y <= bottom; ++y) reinterpret_cast<QRgb*>(bits + y * stride)[r.x] = rgb;
    }
    done();
}

void QtDrawContext::setPen(PenStyle style, Color color, int width) {
    pen_ =
        QPen(toQ(color), std::max(width, 1), style == PenStyle::Dot ? Qt::DotLine : Qt::SolidLine);
    pen_.setCosmetic(true);
}

void QtDrawContext::moveTo(Point p) {
    at_ = QPoint(p.x, p.y);
}

void QtDrawContext::lineTo(Point p) {
    const QPoint to(p.x, p.y);
    if (QPainter* painter = begin()) {
        painter->setPen(pen_);
        painter->drawLine(at_, to);
    }
    at_ = to;
    done();
}

void QtDrawContext::setTextColor(Color color) {
    text_ = toQ(color);
}
void QtDrawContext::setBackgroundColor(Color color) {
    background_ = toQ(color);
}

Size QtDrawContext::textExtent(std::u16string_view text) const {
    const QFontMetrics fm(font_);
    return {fm.horizontalAdvance(toQ(text)), fm.height()};
}

void QtDrawContext::textOut(Point topLeft, std::u16string_view text) {
    if (QPainter* p = begin()) {
        const QFontMetrics fm(font_);
        const QString s = toQ(text);
        p->fillRect(topLeft.x, topLeft.y, fm.horizontalAdvance(s), fm.height(), background_);
        p->setFont(font_);
        p->setPen(text_);
        p->drawText(QPoint(topLeft.x, topLeft.y + fm.ascent()), s);
    }
    done();
}

void QtDrawContext::drawIcon(Point p, int iconId) {
    if (QPainter* painter = begin()) painter->drawPixmap(p.x, p.y, iconPixmap(iconId));
    done();
}

void QtDrawContext::copyFrom(const DrawContext& source, const Rect& from, Point to) {
    const auto* src = dynamic_cast<const QtDrawContext*>(&source);
    const QImage* img = src ? src->image() : nullptr;
    if (!img) {
        reportViolation("copyFrom needs an image context of the same backend as its source");
        return;
    }
    src->flush();
    const QRect area(from.left, from.top, from.width(), from.height());
    // Copying within one image goes through a copy of the area.
    const QImage block = src == this ? img->copy(area) : QImage();
    if (QPainter* p = begin()) {
        if (src == this)
            p->drawImage(QPoint(to.x, to.y), block);
        else
            p->drawImage(QPoint(to.x, to.y), *img, area);
    }
    done();
}

std::optional<Color> QtDrawContext::pixel(Point p) const {
    const QImage* img = image();
    if (!img || !img->valid(p.x, p.y)) return std::nullopt;
    flush();
    const QColor c = img->pixelColor(p.x, p.y);
    return Color{static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
                 static_cast<std::uint8_t>(c.blue())};
}

}  // namespace ui::qt
