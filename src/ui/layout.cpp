#include "ui/layout.h"

#include <algorithm>
#include <string>

#include "platform/text.h"
#include "ui/dialog.h"

namespace ui {
namespace {

bool isWide(char16_t c) {
    return c >= 0x2E80;
}

bool isGroupBox(const Control& c) {
    return c.kind() == ControlKind::GroupBox;
}

bool inside(const Rect& inner, const Rect& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

bool intersects(const Rect& a, const Rect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool empty(const Rect& r) {
    return r.width() <= 0 || r.height() <= 0;
}

std::string describe(const Dialog& d, const Control& c) {
    std::string s =
        "dialog " + std::to_string(d.templateId()) + " control " + std::to_string(c.id());
    if (!c.text().empty()) s += " \"" + platform::toUtf8(c.text()) + "\"";
    return s;
}

std::string describe(const Rect& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + " " +
           std::to_string(r.width()) + "x" + std::to_string(r.height()) + ")";
}

void collect(const Dialog& d, Rect area, bool texts, std::vector<LayoutIssue>& out) {
    if (empty(area)) area = d.clientRect();
    std::vector<const Control*> shown;
    std::vector<Rect> rects;
    for (const auto& c : d.controls()) {
        if (!c->isVisible()) continue;
        shown.push_back(c.get());
        rects.push_back(shownRect(d, *c));
    }
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const Control* c = shown[i];
        const Rect& r = rects[i];
        if (texts && !d.textFits(c->id())) {
            const Size need = d.fitSize(c->id(), c->rect().width());
            out.push_back({LayoutIssue::Kind::TextCut, c->id(), 0,
                           describe(d, *c) + ": text needs " + std::to_string(need.width) + "x" +
                               std::to_string(need.height) + ", has " + describe(c->rect())});
        }
        if (!inside(r, area))
            out.push_back({LayoutIssue::Kind::Outside, c->id(), 0,
                           describe(d, *c) + " " + describe(r) + " outside " + describe(area)});
    }
    for (std::size_t i = 0; i < shown.size(); ++i) {
        for (std::size_t j = i + 1; j < shown.size(); ++j) {
            const Control& a = *shown[i];
            const Control& b = *shown[j];
            const Rect& ra = rects[i];
            const Rect& rb = rects[j];
            if (empty(ra) || empty(rb) || !intersects(ra, rb)) continue;
            // A group box frames what lies wholly inside it.
            if (isGroupBox(a) && inside(rb, ra)) continue;
            if (isGroupBox(b) && inside(ra, rb)) continue;
            out.push_back({LayoutIssue::Kind::Overlap, a.id(), b.id(),
                           describe(d, a) + " " + describe(ra) + " overlaps " + describe(d, b) +
                               " " + describe(rb)});
        }
    }
    for (const Dialog* page : d.children()) {
        if (!page->isVisible()) continue;
        const Rect host = d.control(page->hostId()).clientRect();
        if (!inside(page->windowRect(), host))
            out.push_back({LayoutIssue::Kind::Outside, page->templateId(), page->hostId(),
                           "page " + std::to_string(page->templateId()) + " " +
                               describe(page->windowRect()) + " outside its host " +
                               describe(host)});
        collect(*page, {}, texts, out);
    }
}

}  // namespace

std::vector<std::u16string> wrapText(std::u16string_view text, int width,
                                     const MeasureLine& measure) {
    std::vector<std::u16string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(u'\n', start);
        if (end == std::u16string_view::npos) end = text.size();
        std::u16string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
        if (width <= 0 || measure(line).width <= width) {
            lines.emplace_back(line);
        } else {
            // Greedy: the longest head that fits, broken after a space or
            // before a wide character where possible.
            while (!line.empty()) {
                std::size_t fit = 0;
                std::size_t lastBreak = 0;
                for (std::size_t n = 1; n <= line.size(); ++n) {
                    if (measure(line.substr(0, n)).width > width) break;
                    fit = n;
                    if (line[n - 1] == u' ' || isWide(line[n - 1]) ||
                        (n < line.size() && isWide(line[n])))
                        lastBreak = n;
                }
                std::size_t take = fit == line.size() ? fit : (lastBreak ? lastBreak : fit);
                if (take == 0) take = 1;  // a character wider than the line
                std::u16string_view head = line.substr(0, take);
                while (!head.empty() && head.back() == u' ') head.remove_suffix(1);
                lines.emplace_back(head);
                line.remove_prefix(take);
                while (!line.empty() && line.front() == u' ') line.remove_prefix(1);
            }
        }
        if (end == text.size()) break;
        start = end + 1;
    }
    return lines;
}

Size contentSize(const Control& c, int width, const MeasureLine& measure,
                 const ControlChrome& chrome, std::optional<std::u16string_view> other) {
    const auto oneLine = [&](std::u16string_view s) {
        Size sz = measure(s);
        if (sz.height == 0) sz.height = measure(u"X").height;
        return sz;
    };
    const std::u16string_view text = other ? *other : std::u16string_view(c.text());
    switch (c.kind()) {
        case ControlKind::Static: {
            if (text.empty()) return {};
            const std::vector<std::u16string> lines = wrapText(text, width, measure);
            Size s{0, 0};
            for (const std::u16string& line : lines) {
                const Size l = oneLine(line);
                s.width = std::max(s.width, l.width);
                s.height += l.height;
            }
            return s;
        }
        case ControlKind::PushButton: {
            const Size t = oneLine(text);
            return {t.width + chrome.button.width, t.height + chrome.button.height};
        }
        case ControlKind::CheckBox:
        case ControlKind::RadioButton: {
            const Size t = oneLine(text);
            if (c.hasStyle(style::kPushLike))
                return {t.width + chrome.button.width, t.height + chrome.button.height};
            return {t.width + chrome.check.width, t.height + chrome.check.height};
        }
        case ControlKind::Edit: {
            if (c.hasStyle(style::kMultiLine)) return {};
            const Size t = oneLine(text);
            return {t.width + chrome.edit.width, t.height + chrome.edit.height};
        }
        case ControlKind::ComboBox:
        case ControlKind::DropDownList: {
            Size t = oneLine(c.kind() == ControlKind::ComboBox ? text : u"");
            for (int i = 0; i < c.itemCount(); ++i)
                t.width = std::max(t.width, oneLine(c.itemText(i)).width);
            return {t.width + chrome.combo.width, t.height + chrome.combo.height};
        }
        case ControlKind::GroupBox: {
            if (text.empty()) return {};
            const Size t = oneLine(text);
            return {t.width + chrome.groupTitle, t.height};
        }
        default:
            return {};
    }
}

bool columnFits(const Control& list, const MeasureLine& measure, const ControlChrome& chrome) {
    if (list.kind() != ControlKind::ListView) return true;
    for (int i = 0; i < list.columnCount(); ++i) {
        const ListColumn col = list.column(i);
        if (col.width > 0 && measure(col.header).width + chrome.header > col.width) return false;
    }
    return true;
}

Rect shownRect(const Dialog& d, const Control& c) {
    Rect r = c.rect();
    if (c.kind() == ControlKind::ComboBox || c.kind() == ControlKind::DropDownList)
        r.bottom = r.top + std::min(r.height(), d.fitSize(c.id()).height);
    return r;
}

std::vector<LayoutIssue> findLayoutIssues(const Dialog& d, Rect area) {
    std::vector<LayoutIssue> out;
    collect(d, area, true, out);
    return out;
}

std::vector<LayoutIssue> findPlacementIssues(const Dialog& d, Rect area) {
    std::vector<LayoutIssue> out;
    collect(d, area, false, out);
    return out;
}

Size smallestFittingSize(Size low, Size high, const std::function<bool(Size)>& fits) {
    int lo = low.width;
    int hi = high.width;
    if (!fits({hi, high.height})) return high;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (fits({mid, high.height}))
            hi = mid;
        else
            lo = mid + 1;
    }
    const int width = hi;
    lo = low.height;
    hi = high.height;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (fits({width, mid}))
            hi = mid;
        else
            lo = mid + 1;
    }
    return {width, hi};
}

int widestFit(const Dialog& d, std::initializer_list<int> ids) {
    int w = 0;
    for (int id : ids)
        if (d.hasControl(id)) w = std::max(w, d.fitSize(id).width);
    return w;
}

}  // namespace ui
