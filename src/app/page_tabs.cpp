#include "app/page_tabs.h"

namespace app {

PageTabs::PageTabs(ui::Dialog& owner, int tabControlId)
    : owner_(owner), tabControlId_(tabControlId) {}

int PageTabs::addPage(std::u16string_view title, ui::Dialog& page, int templateId) {
    if (count_ >= kMaxPages) return 0;
    entries_[static_cast<std::size_t>(count_)] = {&page, templateId, std::u16string(title)};
    ++count_;
    return 1;
}

ui::Dialog* PageTabs::page(int index) const {
    return index >= 0 && index < count_ ? entries_[static_cast<std::size_t>(index)].page : nullptr;
}

int PageTabs::templateId(int index) const {
    return index >= 0 && index < count_ ? entries_[static_cast<std::size_t>(index)].templateId : 0;
}

const std::u16string& PageTabs::title(int index) const {
    static const std::u16string none;
    return index >= 0 && index < count_ ? entries_[static_cast<std::size_t>(index)].title : none;
}

void PageTabs::createPages(const std::function<void()>& afterTabsInserted) {
    ui::Control& tabs = tabControl();
    for (int i = 0; i < count_; ++i)
        tabs.insertItem(i, entries_[static_cast<std::size_t>(i)].title);
    if (afterTabsInserted) afterTabsInserted();
    for (int i = 0; i < count_; ++i)
        entries_[static_cast<std::size_t>(i)].page->create(owner_, tabControlId_);
    placePages();
}

void PageTabs::placePages() {
    if (count_ == 0) return;
    const ui::Control& tabs = tabControl();
    const ui::Rect client = tabs.clientRect();
    const ui::Rect item = tabs.itemRect(0);
    const ui::Rect place{item.left, item.bottom + 1, client.right - 2, client.bottom - 2};
    for (int i = 0; i < count_; ++i) {
        ui::Dialog& p = *entries_[static_cast<std::size_t>(i)].page;
        p.move(place);
        p.show(false);
    }
    show(current_);
}

int PageTabs::selectPage(int index) {
    if (index < 0 || index >= count_) return -1;
    if (index == current_) return index;
    const int previous = current_;
    entries_[static_cast<std::size_t>(current_)].page->show(false);
    current_ = index;
    show(index);
    tabControl().setSelection(index);
    return previous;
}

void PageTabs::tabClicked() {
    const int focused = tabControl().selection();
    if (focused < 0 || focused >= count_ || focused == current_) return;
    entries_[static_cast<std::size_t>(current_)].page->show(false);
    current_ = focused;
    show(focused);
}

void PageTabs::show(int index) {
    if (ui::Dialog* p = page(index)) p->show(true);
}

}  // namespace app
