#include "ui/win32/win32_draw.h"

#include <algorithm>
#include <cmath>

#include "ui/backend.h"

namespace ui::win32 {
namespace {

const wchar_t* wide(std::u16string_view s) {
    return reinterpret_cast<const wchar_t*>(s.data());
}

}  // namespace

// --- Surface

Surface::Surface(Size s) : size{std::max(s.width, 1), std::max(s.height, 1)} {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = size.width;
    info.bmiHeader.biHeight = -size.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* raw = nullptr;
    // A new DIB section is zeroed: black, as a compatible bitmap starts.
    bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &raw, nullptr, 0);
    dc = CreateCompatibleDC(nullptr);
    bits = static_cast<std::uint32_t*>(raw);
    if (dc && bitmap) previous = SelectObject(dc, bitmap);
}

Surface::~Surface() {
    if (dc && previous) SelectObject(dc, previous);
    if (bitmap) DeleteObject(bitmap);
    if (dc) DeleteDC(dc);
}

void releaseSurface(Surface& surface) {
    ModifyWorldTransform(surface.dc, nullptr, MWT_IDENTITY);
    surface.user = nullptr;
}

// --- GdiContext

GdiContext::GdiContext(Size size, const DrawResources& res)
    : surface_(std::make_shared<Surface>(size)), size_(size), res_(res) {
    dc_ = surface_->dc;
    pen_ = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
}

GdiContext::GdiContext(std::shared_ptr<Surface> canvas, HWND control, double scale,
                       const DrawResources& res)
    : surface_(std::move(canvas)), control_(control), scale_(scale), res_(res) {
    dc_ = surface_->dc;
    size_ = {static_cast<int>(std::lround(surface_->size.width / scale)),
             static_cast<int>(std::lround(surface_->size.height / scale))};
    pen_ = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
}

GdiContext::GdiContext(HDC paintDc, Size size, double scale, const DrawResources& res)
    : dc_(paintDc), size_(size), scale_(scale), res_(res) {
    pen_ = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    savedDc_ = SaveDC(dc_);
}

void GdiContext::use() const {
    if (surface_) {
        if (surface_->user == this) return;
        surface_->user = this;
    } else {
        if (applied_) return;
        applied_ = true;
    }
    XFORM x{};
    x.eM11 = static_cast<FLOAT>(scale_);
    x.eM22 = static_cast<FLOAT>(scale_);
    SetGraphicsMode(dc_, GM_ADVANCED);
    SetWorldTransform(dc_, &x);
    if (res_.font) SelectObject(dc_, res_.font);
    SelectObject(dc_, pen_);
    SetTextColor(dc_, text_);
    SetBkColor(dc_, background_);
    // Dotted pens leave their gaps alone; text sets its own opaque box.
    SetBkMode(dc_, TRANSPARENT);
    SetTextAlign(dc_, TA_LEFT | TA_TOP | TA_NOUPDATECP);
}

GdiContext::~GdiContext() {
    flush();
    if (surface_ && surface_->user == this) {
        // The pen goes with this context: the DC must not keep it selected.
        SelectObject(dc_, GetStockObject(BLACK_PEN));
        surface_->user = nullptr;
    }
    if (savedDc_) RestoreDC(dc_, savedDc_);
    if (pen_) DeleteObject(pen_);
    if (brush_) DeleteObject(brush_);
}

void GdiContext::flush() const {
    if (counts_.empty()) return;
    use();
    PolyPolyline(dc_, points_.data(), counts_.data(), static_cast<DWORD>(counts_.size()));
    points_.clear();
    counts_.clear();
    // The next lineTo starts a polyline of its own.
    open_ = false;
}

void GdiContext::drawn() {
    if (!control_) return;
    // A control's canvas shows each call at once: pages keep such contexts.
    flush();
    InvalidateRect(control_, nullptr, FALSE);
}

Size GdiContext::size() const {
    return size_;
}

void GdiContext::fillSolid(const RECT& r, COLORREF color) {
    if (!brush_ || brushColor_ != color) {
        HBRUSH brush = CreateSolidBrush(color);
        if (brush_) DeleteObject(brush_);
        brush_ = brush;
        brushColor_ = color;
    }
    FillRect(dc_, &r, brush_);
}

void GdiContext::fillRect(const Rect& rect, Color color) {
    if (rect.right <= rect.left || rect.bottom <= rect.top) return;
    const COLORREF c = toColorRef(color);
    if (rect.width() == 1 && penIsHairline_ && c == penColor_) {
        points_.push_back({rect.left, rect.top});
        points_.push_back({rect.left, rect.bottom});
        counts_.push_back(2);
        open_ = false;
        drawn();
        return;
    }
    flush();
    use();
    fillSolid({rect.left, rect.top, rect.right, rect.bottom}, c);
    drawn();
}

void GdiContext::setPen(PenStyle style, Color color, int width) {
    flush();
    HPEN pen = nullptr;
    if (style == PenStyle::Dot) {
        // Every other pixel, as the layer's dotted pen is defined.
        LOGBRUSH brush{BS_SOLID, toColorRef(color), 0};
        pen = ExtCreatePen(PS_COSMETIC | PS_ALTERNATE, 1, &brush, 0, nullptr);
    }
    if (!pen) pen = CreatePen(PS_SOLID, std::max(width, 1), toColorRef(color));
    use();
    SelectObject(dc_, pen);
    if (pen_) DeleteObject(pen_);
    pen_ = pen;
    penColor_ = toColorRef(color);
    penIsHairline_ = style == PenStyle::Solid && width <= 1;
}

void GdiContext::moveTo(Point p) {
    // A dotted line starts its pattern afresh, as its own call does.
    if (!penIsHairline_) flush();
    at_ = {p.x, p.y};
    open_ = false;
}

void GdiContext::lineTo(Point p) {
    if (!open_) {
        points_.push_back(at_);
        counts_.push_back(1);
        open_ = true;
    }
    at_ = {p.x, p.y};
    points_.push_back(at_);
    ++counts_.back();
    drawn();
}

void GdiContext::setTextColor(Color color) {
    use();
    text_ = toColorRef(color);
    SetTextColor(dc_, text_);
}

void GdiContext::setBackgroundColor(Color color) {
    use();
    background_ = toColorRef(color);
    SetBkColor(dc_, background_);
}

Size GdiContext::textExtent(std::u16string_view text) const {
    use();
    SIZE s{};
    GetTextExtentPoint32W(dc_, wide(text), static_cast<int>(text.size()), &s);
    return {s.cx, s.cy};
}

void GdiContext::textOut(Point topLeft, std::u16string_view text) {
    flush();
    const Size e = textExtent(text);
    const RECT box{topLeft.x, topLeft.y, topLeft.x + e.width, topLeft.y + e.height};
    ExtTextOutW(dc_, topLeft.x, topLeft.y, ETO_OPAQUE, &box, wide(text),
                static_cast<UINT>(text.size()), nullptr);
    drawn();
}

void GdiContext::drawIcon(Point p, int /*iconId*/) {
    flush();
    use();
    drawProgramIcon(dc_, p, res_.icon);
    drawn();
}

void GdiContext::copyFrom(const DrawContext& source, const Rect& from, Point to) {
    const auto* src = dynamic_cast<const GdiContext*>(&source);
    if (!src || !src->surface_) {
        reportViolation("copyFrom needs a memory or control context of the same backend");
        return;
    }
    src->flush();
    flush();
    // In device pixels on both sides: a DC's world transform would apply to
    // the source area as well. Each context puts its own state back on its
    // next call.
    const auto device = [](int v, double scale) {
        return static_cast<int>(std::lround(v * scale));
    };
    src->release();
    release();
    const int w = device(from.width(), scale_);
    const int h = device(from.height(), scale_);
    const int sw = device(from.width(), src->scale_);
    const int sh = device(from.height(), src->scale_);
    // Same-surface copies overlap safely: BitBlt handles the direction.
    if (w == sw && h == sh) {
        BitBlt(dc_, device(to.x, scale_), device(to.y, scale_), w, h, src->dc_,
               device(from.left, src->scale_), device(from.top, src->scale_), SRCCOPY);
    } else {
        SetStretchBltMode(dc_, COLORONCOLOR);
        StretchBlt(dc_, device(to.x, scale_), device(to.y, scale_), w, h, src->dc_,
                   device(from.left, src->scale_), device(from.top, src->scale_), sw, sh, SRCCOPY);
    }
    drawn();
}

void GdiContext::release() const {
    ModifyWorldTransform(dc_, nullptr, MWT_IDENTITY);
    if (surface_) {
        if (surface_->user == this) surface_->user = nullptr;
    } else {
        applied_ = false;
    }
}

std::optional<Color> GdiContext::pixel(Point p) const {
    if (p.x < 0 || p.y < 0 || p.x >= size_.width || p.y >= size_.height) return std::nullopt;
    flush();
    GdiFlush();
    const int x = static_cast<int>(p.x * scale_);
    const int y = static_cast<int>(p.y * scale_);
    if (surface_ && surface_->bits) {
        if (x >= surface_->size.width || y >= surface_->size.height) return std::nullopt;
        const std::uint32_t v = surface_->bits[static_cast<std::size_t>(y) *
                                                   static_cast<std::size_t>(surface_->size.width) +
                                               static_cast<std::size_t>(x)];
        return Color{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                     static_cast<std::uint8_t>(v)};
    }
    use();
    const COLORREF c = GetPixel(dc_, p.x, p.y);
    if (c == CLR_INVALID) return std::nullopt;
    return Color{GetRValue(c), GetGValue(c), GetBValue(c)};
}

// --- the program icon

void drawProgramIcon(HDC dc, Point p, HICON icon) {
    if (icon &&
        DrawIconEx(dc, p.x, p.y, icon, kIconSize.width, kIconSize.height, 0, nullptr, DI_NORMAL))
        return;
    // A drive-blue square with a white waveform.
    const RECT r{p.x, p.y, p.x + kIconSize.width, p.y + kIconSize.height};
    const COLORREF old = SetBkColor(dc, RGB(0, 64, 128));
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    SetBkColor(dc, old);
    HPEN pen = CreatePen(PS_SOLID, 3, RGB(255, 255, 255));
    HGDIOBJ before = SelectObject(dc, pen);
    const POINT wave[] = {{p.x + 4, p.y + 22},
                          {p.x + 10, p.y + 8},
                          {p.x + 16, p.y + 22},
                          {p.x + 22, p.y + 8},
                          {p.x + 28, p.y + 22}};
    Polyline(dc, wave, 5);
    SelectObject(dc, before);
    DeleteObject(pen);
}

HICON makeProgramIcon() {
    Surface colour({kIconSize.width, kIconSize.height});
    drawProgramIcon(colour.dc, {0, 0}, nullptr);
    GdiFlush();
    // Every pixel opaque.
    HBITMAP mask = CreateBitmap(kIconSize.width, kIconSize.height, 1, 1, nullptr);
    HDC maskDc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(maskDc, mask);
    PatBlt(maskDc, 0, 0, kIconSize.width, kIconSize.height, BLACKNESS);
    SelectObject(maskDc, old);
    DeleteDC(maskDc);
    SelectObject(colour.dc, colour.previous);
    colour.previous = nullptr;
    ICONINFO info{TRUE, 0, 0, mask, colour.bitmap};
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    return icon;
}

}  // namespace ui::win32
