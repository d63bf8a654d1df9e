#pragma once
// Internal to the Win32 backend: includes windows.h.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <memory>
#include <vector>

#include "ui/draw.h"

namespace ui::win32 {

// A 32-bit top-down DIB section selected into a memory DC: the bitmap of a
// memory context and the backing store of a control that pages draw on.
struct Surface {
    explicit Surface(Size size);
    ~Surface();
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    Size size;
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    std::uint32_t* bits = nullptr;  // 0x00RRGGBB, row by row
    // The context whose pen, font, colours and scale the DC holds now: pages
    // keep several contexts on one control, each with its own state.
    const void* user = nullptr;
};

// Drops whatever context state the surface's DC holds, for a plain copy of
// its bits in device pixels.
void releaseSurface(Surface& surface);

// The objects that every context draws with: the text font and the icon.
struct DrawResources {
    HFONT font = nullptr;
    HICON icon = nullptr;
};

// A drawing context on GDI: a memory context (its own surface), a control's
// canvas (the control's backing surface; the control repaints from it), or a
// paint DC lent for one WM_PAINT. `scale` maps the layer's 96-DPI pixels to
// device pixels of window targets; memory contexts are never scaled.
//
// Lines are collected and drawn by one PolyPolyline, which is what makes a
// full scope render cheap: lineTo extends the current polyline, moveTo starts
// the next, and a one-pixel-wide fill in the colour of a solid one-pixel pen
// joins them as a vertical segment (the same pixels: a segment leaves out its
// end point as the fill's bottom edge does). Anything else that draws or
// reads draws the collected lines first, so the order of what shows is kept.
class GdiContext final : public DrawContext {
  public:
    GdiContext(Size size, const DrawResources& res);  // memory
    GdiContext(std::shared_ptr<Surface> canvas, HWND control, double scale,
               const DrawResources& res);                                        // canvas
    GdiContext(HDC paintDc, Size size, double scale, const DrawResources& res);  // paint
    ~GdiContext() override;
    GdiContext(const GdiContext&) = delete;
    GdiContext& operator=(const GdiContext&) = delete;

    Size size() const override;
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

    HDC dc() const { return dc_; }

  private:
    // Puts this context's state into the DC when another context had it.
    void use() const;
    // Leaves the DC with no world transform (device pixels).
    void release() const;
    void flush() const;
    void drawn();  // a canvas repaints its control

    void fillSolid(const RECT& r, COLORREF color);

    std::shared_ptr<Surface> surface_;
    HWND control_ = nullptr;
    HDC dc_ = nullptr;
    Size size_;  // in the layer's pixels
    double scale_ = 1.0;
    DrawResources res_;
    HPEN pen_ = nullptr;
    int savedDc_ = 0;               // a paint DC's state before this context
    mutable bool applied_ = false;  // a paint DC has this context's state
    COLORREF text_ = RGB(0, 0, 0);
    COLORREF background_ = RGB(255, 255, 255);
    COLORREF penColor_ = RGB(0, 0, 0);
    bool penIsHairline_ = true;  // solid, one pixel wide
    HBRUSH brush_ = nullptr;     // the last fill colour's
    COLORREF brushColor_ = 0;
    POINT at_{0, 0};             // the current position
    mutable bool open_ = false;  // a polyline is being extended by lineTo
    // Polylines not drawn yet: their points, and the number of points of each.
    mutable std::vector<POINT> points_;
    mutable std::vector<DWORD> counts_;
};

// Draws the program icon at p, 32 x 32 pixels: the icon resource when the
// executable has one, else the same picture drawn with GDI.
void drawProgramIcon(HDC dc, Point p, HICON icon);
// The program icon as an HICON made in memory, for executables without the
// resource (tests).
HICON makeProgramIcon();

inline COLORREF toColorRef(Color c) {
    return RGB(c.r, c.g, c.b);
}

}  // namespace ui::win32
