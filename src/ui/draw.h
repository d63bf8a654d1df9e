#pragma once
#include <optional>
#include <span>
#include <string_view>

#include "ui/geometry.h"

namespace ui {

enum class PenStyle { Solid, Dot };

// A one-pixel-wide vertical run of pixels, rows top to bottom both included.
struct PixelRun {
    int x = 0;
    int top = 0;
    int bottom = 0;
};

// A GDI-like drawing context: a memory context with its own bitmap, a control's
// window area, or the area being painted. Coordinates are the target's client
// pixels. Drawing outside the target is clipped.
class DrawContext {
  public:
    virtual ~DrawContext() = default;

    virtual Size size() const = 0;

    virtual void fillRect(const Rect& rect, Color color) = 0;
    // The same pixels as a fillRect per run, in one call: a context that
    // holds its pixels sets them directly (dense curves are thousands of runs).
    virtual void fillRuns(std::span<const PixelRun> runs, Color color) {
        for (const PixelRun& r : runs) fillRect({r.x, r.top, r.x + 1, r.bottom + 1}, color);
    }

    // Pen of the following lines; width is in pixels (the plot uses 1).
    virtual void setPen(PenStyle style, Color color, int width = 1) = 0;
    virtual void moveTo(Point p) = 0;
    // A line from the current position to p, which becomes the current position.
    virtual void lineTo(Point p) = 0;

    // Text is drawn opaque: its extent is filled with the background colour first.
    virtual void setTextColor(Color color) = 0;
    virtual void setBackgroundColor(Color color) = 0;
    virtual void textOut(Point topLeft, std::u16string_view text) = 0;
    virtual Size textExtent(std::u16string_view text) const = 0;

    // An icon resource with its top-left corner at p.
    virtual void drawIcon(Point p, int iconId) = 0;

    // Block copy of source's area `from` to `to` in this context (SRCCOPY).
    // The source must come from the same backend.
    virtual void copyFrom(const DrawContext& source, const Rect& from, Point to) = 0;

    // The pixel at p, or nothing outside the target or where the target keeps none.
    virtual std::optional<Color> pixel(Point p) const = 0;
};

// Size of an icon resource in pixels.
inline constexpr Size kIconSize{32, 32};

}  // namespace ui
