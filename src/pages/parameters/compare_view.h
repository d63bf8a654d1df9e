#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/page_jobs.h"
#include "drive/compare.h"
#include "ui/dialog.h"

namespace pages {

// The compare view (template 142): the drive's parameters side by side with a
// source (the factory values, a .dat file or a drive model's set), differing
// rows highlighted, a filter "only differences", a check box per row, and
// "Write checked", which writes the checked parameters after a confirmation
// stating their count, reads each back and shows the report, which can be
// saved as text. A view over drive::ParameterCompare.
//
// The read and the write run as jobs on the program's job thread; the view
// shows their progress and their end on the user interface thread. Closing
// while a job runs cancels it and closes when it has ended.
class CompareView : public ui::Dialog {
  public:
    static constexpr int kSourceCombo = 1201;
    static constexpr int kOnlyDifferences = 1202;
    static constexpr int kList = 1203;
    static constexpr int kSummary = 1204;
    static constexpr int kWriteButton = 1205;
    static constexpr int kSaveReport = 1206;
    static constexpr int kReport = 1207;
    static constexpr int kProgress = 1208;
    static constexpr int kCompareButton = 1209;
    // The confirmation's text (template 143).
    static constexpr int kConfirmText = 1001;

    // List columns.
    static constexpr int kNumberColumn = 0;
    static constexpr int kNameColumn = 1;
    static constexpr int kDriveColumn = 2;
    static constexpr int kSourceColumn = 3;
    static constexpr int kUnitColumn = 4;

    // Items of the source combo: the factory values, a file (asked for when
    // chosen), then one per drive model set.
    static constexpr int kFactorySource = 0;
    static constexpr int kFileSource = 1;
    static constexpr int kFirstModelSource = 2;

    // The context and the service must outlive the view.
    CompareView(app::AppContext& context, drive::ParameterService& service);
    ~CompareView() override;

    // State for tests.
    bool busy() const { return jobs_.busy(); }
    const drive::Comparison& comparison() const { return comparison_; }
    const std::optional<drive::VerifyReport>& report() const { return report_; }
    const std::string& reportText() const { return reportText_; }
    std::size_t checkedCount() const;
    // The list row that shows parameter `index`, -1 when filtered out.
    int rowOf(std::size_t index) const;

  protected:
    bool onInitDialog() override;
    void onCommand(int id) override;
    void onCancel() override;
    void onSelectionChange(int id) override;
    void onListCheck(int id, int row) override;
    void onDestroy() override;

  private:
    std::u16string words(std::u16string_view english, std::u16string_view chinese) const {
        return std::u16string(context_.words(english, chinese));
    }
    void chooseSource();
    void startCompare();
    void writeChecked();
    void saveReport();
    void fillList();
    void showSummary();
    void updateButtons();
    bool startJob(std::string name, std::function<void(drive::JobContext&)> body,
                  std::function<void()> onDone);

    app::AppContext& context_;
    drive::ParameterService& service_;
    drive::ParameterCompare compare_;
    drive::CompareSource source_;
    int sourceItem_ = kFactorySource;
    drive::Comparison comparison_;
    std::vector<bool> checked_;       // by parameter index
    std::vector<std::size_t> shown_;  // parameter index of each list row
    std::optional<drive::VerifyReport> report_;
    std::string reportText_;
    bool closeRequested_ = false;

    // Last: its destructor waits for a job that uses the members above.
    app::PageJobs jobs_;
};

// The parameter page's "Compare": runs the compare view modally.
void openCompareView(app::AppContext& context, drive::ParameterService& service);

}  // namespace pages
