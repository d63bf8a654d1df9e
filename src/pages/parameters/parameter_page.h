#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "app/app_context.h"
#include "app/main_page.h"
#include "app/page_jobs.h"
#include "drive/parameters.h"

namespace pages {

// Page 1 of the main window (template 131): every drive parameter with its
// drive value and file value, the detail of the selected one, writing one
// parameter, and the bulk operations (backup, load, import, factory values,
// EEPROM save): a view over drive::ParameterService.
//
// Every operation that talks to the drive (writing one parameter, backup,
// import, factory values, the EEPROM stores) runs as a job on the program's
// job thread: while it runs the page shows its progress, its buttons are
// disabled, and the other pages stay usable.
//
// Threads: readDriveValues runs on the poll thread and touches no control;
// the jobs run on the job thread and report through post; everything else
// belongs to the user interface thread.
class ParameterPage : public app::MainPage {
  public:
    // Control ids of template 131.
    static constexpr int kGroup = 1087;
    static constexpr int kBackupButton = 1084;
    static constexpr int kLoadButton = 1086;
    static constexpr int kImportButton = 1085;
    static constexpr int kFactoryButton = 1089;
    static constexpr int kEepromButton = 1088;
    static constexpr int kModelCombo = 1100;
    static constexpr int kList = 1011;
    static constexpr int kDetailLabel = 1059;
    static constexpr int kDetail = 1063;
    static constexpr int kCurrentLabel = 1054;
    static constexpr int kCurrentValue = 1055;
    static constexpr int kNewLabel = 1056;
    static constexpr int kNewValue = 1012;
    static constexpr int kWriteButton = 1057;
    static constexpr int kMemoryMode = 1095;
    static constexpr int kEepromMode = 1096;
    static constexpr int kProgress = 1094;
    static constexpr int kCompareButton = 1102;

    // List columns.
    static constexpr int kNumberColumn = 0;
    static constexpr int kNameColumn = 1;
    static constexpr int kDriveColumn = 2;
    static constexpr int kFileColumn = 3;
    static constexpr int kUnitColumn = 4;

    // The poll reads 12-register blocks into a buffer of this many bytes.
    static constexpr std::size_t kReadBufferBytes = drive::ParameterService::kReadBufferBytes;
    // Values a drive model set holds (the first parameters of the table).
    static constexpr std::size_t kModelValues = 100;

    explicit ParameterPage(app::AppContext& context);
    ~ParameterPage() override;

    // Poll thread: reads every parameter register in 12-register blocks and,
    // only when every block succeeded, stores the drive values. Returns 0 or
    // the drive access result code of the first failing block.
    std::uint8_t readDriveValues();
    // User interface thread, every timer tick while shown: the drive model,
    // the list cells that changed, the selection's detail.
    void refreshView();
    // Moves the page to the main window's page rectangle and places its controls.
    void layoutControls();

    // Button handlers (user interface thread). Those that talk to the drive
    // start a job and return; its outcome shows when it ends. writeSelected
    // refuses a text that is not a whole number of the parameter's type inside
    // its range, naming the range and unit, and sends nothing then. Import and
    // factory restore ask first, stating how many parameters they write.
    void writeSelected();
    void backupToFile();
    void loadFromFile();
    void importFileValues();
    void restoreFactoryValues();
    void saveToEeprom();

    std::uint8_t poll() override { return readDriveValues(); }
    void refreshPage() override { refreshView(); }
    void layoutPage() override { layoutControls(); }

    // State for tests and the shell.
    int lastShownRow() const { return lastShownRow_; }
    bool fileLoaded() const { return service_.fileLoaded(); }
    std::uint32_t saveTimeoutMs() const { return service_.saveTimeoutMs(); }
    // Parameters that the poll can read (the leading ones that fit the read
    // buffer and the register space); all of them for a usable table.
    std::size_t readableCount() const { return service_.readableCount(); }
    // True while a job of this page runs (its buttons are disabled).
    bool busy() const { return jobs_.busy(); }
    // Where the file values came from: the loaded file's name or the drive
    // model's; empty before either.
    const std::u16string& sourceName() const { return sourceName_; }
    drive::ParameterService& service() { return service_; }

  protected:
    bool onInitDialog() override;
    void onCommand(int id) override;
    void onSelectionChange(int id) override;
    void onListClick(int id, int row) override;
    void onDestroy() override;
    ui::KeyAction preTranslateKey(ui::Key key) override;

  private:
    data::ParameterTable& parameters() { return context_.language.parameters(); }
    const data::ParameterTable& parameters() const { return context_.language.parameters(); }
    std::u16string uiText(std::size_t index, std::u16string_view english,
                          std::u16string_view chinese) const {
        return std::u16string(context_.uiText(index, english, chinese));
    }
    std::u16string words(std::u16string_view english, std::u16string_view chinese) const {
        return std::u16string(context_.words(english, chinese));
    }

    void initList();
    void applyDriveModel();
    void showSelection();
    std::u16string detailText(const data::ParameterDefinition& p) const;
    std::u16string driveText(std::size_t i) const;
    void setCell(int row, int column, const std::u16string& text);
    void setProgress(int position);
    // Starts a job of this page: buttons disabled until its end, progress
    // shown as it reports.
    bool startJob(std::string name, std::function<void(drive::JobContext&)> body,
                  std::function<void()> onDone);
    void showBusy(bool busy);
    // A language file's text (or ours) with its caption entry; the detail
    // on a line of its own.
    void showMessage(std::size_t textEntry, std::u16string_view english,
                     std::u16string_view chinese, std::size_t captionEntry, ui::MessageIcon icon,
                     std::u16string_view detail = {});
    // "P00.07 takes 10 to 5000 ohm" in the chosen language.
    std::u16string rangeWords(std::size_t index) const;
    std::u16string entryRefusal(std::size_t index, std::u16string_view entered,
                                const drive::Result& why) const;
    std::u16string valueOutOfRange(std::size_t index, std::uint32_t value) const;
    std::u16string fileCheckWords(const data::ValueFileResult& result) const;
    // What went wrong in a bulk write: the first parameter that failed and
    // why, the link failure that stopped it, and the counts.
    std::u16string bulkFailureWords(const drive::BulkReport& report) const;
    // Parameters that a bulk write sends (writable, of a known type).
    std::size_t writableCount();
    // The "New value" edit shows the selected parameter's drive value and
    // follows it until the user types there.
    void showDriveValueInEntry(const std::u16string& value);
    // After a bulk write a typed text no longer refers to what the drive
    // holds: the entry shows the drive value again and follows it.
    void followDriveValue();
    void updateGroupCaption();
    app::AppContext& context_;
    drive::ParameterService service_;

    int writeMode_ = 0;
    int lastShownRow_ = -1;
    bool modelWarned_ = false;
    std::u16string sourceName_;
    bool sourceIsModel_ = false;
    // The group's caption without the source name.
    std::u16string groupCaption_;
    // The text the page last put in "New value"; another text was typed.
    std::u16string shownEntry_;
    // The EEPROM store-all in progress: its start, for the time-based bar.
    bool storing_ = false;
    std::chrono::steady_clock::time_point storeStart_{};

    // Last: its destructor waits for a job that uses the service above.
    app::PageJobs jobs_;
};

}  // namespace pages
