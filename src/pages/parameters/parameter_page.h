#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "app/app_context.h"
#include "app/main_page.h"
#include "app/main_window.h"

namespace pages {

// Page 1 of the main window (template 131): every drive parameter with its
// drive value and file value, the detail of the selected one, writing one
// parameter, and the bulk operations (backup, load, import, factory values,
// EEPROM save). The EEPROM store-all command runs on the page's own worker
// thread while the user interface thread shows its progress.
//
// Threads: readDriveValues runs on the poll thread and touches no control;
// the worker thread runs the store-all command only; everything else belongs
// to the user interface thread.
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

    // List columns.
    static constexpr int kNumberColumn = 0;
    static constexpr int kNameColumn = 1;
    static constexpr int kDriveColumn = 2;
    static constexpr int kFileColumn = 3;

    // Holding register whose writes store parameters in the drive's EEPROM:
    // a table position stores that parameter, kStoreAll stores every one.
    static constexpr std::uint16_t kEepromCommandRegister = 0xFFFF;
    static constexpr std::uint16_t kStoreAll = 0xFFFF;

    // The poll reads 12-register blocks into a buffer of this many bytes.
    static constexpr std::size_t kReadBufferBytes = 512;
    static constexpr std::uint16_t kBlockRegisters = 12;
    // Values a drive model set holds (the first parameters of the table).
    static constexpr std::size_t kModelValues = 100;
    static constexpr std::uint32_t kDefaultSaveTimeoutMs = 3100;
    // The longest text that the entered value conversion reads whole.
    static constexpr std::size_t kMaxEntryBytes = 19;

    // An empty launcher starts a std::thread; a launcher that throws
    // std::system_error (or returns a thread that is not joinable) leaves the
    // page without its EEPROM worker.
    explicit ParameterPage(app::AppContext& context, app::ThreadLauncher launcher = {});
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

    // Button handlers (user interface thread).
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
    bool fileLoaded() const { return fileLoaded_; }
    std::uint32_t saveTimeoutMs() const { return saveTimeoutMs_; }
    bool workerRunning() const { return worker_.joinable(); }
    // Parameters that the poll can read (the leading ones that fit the read
    // buffer and the register space); all of them for a usable table.
    std::size_t readableCount() const { return readable_; }

  protected:
    bool onInitDialog() override;
    void onCommand(int id) override;
    void onSelectionChange(int id) override;
    void onListClick(int id, int row) override;
    void onDestroy() override;
    ui::KeyAction preTranslateKey(ui::Key key) override;

  private:
    data::ParameterTable& parameters() { return context_.language.parameters(); }
    std::u16string uiText(std::size_t index, std::u16string_view fallback) const;

    void planReads();
    void initList();
    void startWorker();
    void stopWorkerThread();
    void eepromWorker();
    void storeAll();
    void applyDriveModel();
    void showSelection();
    std::u16string detailText(const data::ParameterDefinition& p) const;
    std::u16string driveText(std::size_t i) const;
    void setCell(int row, int column, const std::u16string& text);
    void setProgress(int position);
    void restoreLinkTiming();
    // "%s Error" for a parameter (the text is never translated).
    void showParameterError(const data::ParameterDefinition& p);

    app::AppContext& context_;
    app::ThreadLauncher launcher_;

    // Read plan, fixed at construction (the table never changes size).
    std::uint16_t firstAddress_ = 0;
    int blocks_ = 0;
    std::size_t readable_ = 0;
    bool tableFits_ = true;

    int writeMode_ = 0;
    int lastShownRow_ = -1;
    bool fileLoaded_ = false;
    bool modelWarned_ = false;
    std::uint32_t saveTimeoutMs_ = kDefaultSaveTimeoutMs;

    // EEPROM worker: saveEvent is an auto-reset event (a flag under the mutex).
    std::thread worker_;
    std::mutex eventMutex_;
    std::condition_variable eventSignal_;
    bool saveEvent_ = false;
    std::atomic<bool> stopWorker_{false};
    // Bit value 2 = busy, bit value 1 = the last store-all succeeded.
    std::atomic<std::uint32_t> saveState_{0};
};

}  // namespace pages
