#pragma once
#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "ui/dialog.h"

namespace app {

// The pages of a tab control: at most kMaxPages, each with its window, its
// dialog template and its tab title, in insertion order, and the page shown
// now. Every page is placed in the tab control's client area below the tab
// items; one is shown at a time. User interface thread.
class PageTabs {
  public:
    static constexpr int kMaxPages = 16;

    PageTabs(ui::Dialog& owner, int tabControlId);

    // 1 when added, 0 when kMaxPages pages are already there (nothing added).
    int addPage(std::u16string_view title, ui::Dialog& page, int templateId);
    // Inserts a tab item per page with its title, calls `afterTabsInserted`
    // (the owner lays out again, now that tab item 0 has its size), creates
    // each page's window inside the tab control, then placePages.
    void createPages(const std::function<void()>& afterTabsInserted = {});
    // Moves every page below tab item 0, filling the tab control's client
    // area, hides it, then shows the current page.
    void placePages();
    // Shows the page at `index` and makes its tab the selected one. Returns the
    // previous index, the index itself when it is shown already (nothing
    // changes), or -1 for an index out of range.
    int selectPage(int index);
    // A mouse press on the tab control (after the control's own handling):
    // shows the selected tab's page when it is not the one shown.
    void tabClicked();

    int count() const { return count_; }
    int current() const { return current_; }
    ui::Dialog* page(int index) const;
    int templateId(int index) const;
    const std::u16string& title(int index) const;

  private:
    struct Entry {
        ui::Dialog* page = nullptr;
        int templateId = 0;
        std::u16string title;
    };
    void show(int index);
    ui::Control& tabControl() const { return owner_.control(tabControlId_); }

    ui::Dialog& owner_;
    int tabControlId_;
    std::array<Entry, kMaxPages> entries_{};
    int count_ = 0;
    int current_ = 0;
};

}  // namespace app
