#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "app/app_context.h"
#include "drive/bus_monitor.h"
#include "modbus/transaction_log.h"
#include "ui/dialog.h"

namespace app {

// The bus monitor (template 144): a window of its own beside the main window
// that lists the master's attempts as drive::BusMonitor decodes them, failed
// ones highlighted; with Pause/Resume, Clear, "errors only", a function
// filter, saving the rows shown as text or CSV, and a count of the rows shown
// and held.
//
// Threads: user interface thread only. Its timer takes the new records from
// the transaction log, which never makes the link wait, and adds only the new
// rows to the list; the poll loop does not know it exists.
class BusMonitorWindow : public ui::Dialog {
  public:
    static constexpr int kPauseButton = 1301;
    static constexpr int kClearButton = 1302;
    static constexpr int kErrorsOnly = 1303;
    static constexpr int kFunctionLabel = 1304;
    static constexpr int kFunctionCombo = 1305;
    static constexpr int kSaveText = 1306;
    static constexpr int kSaveCsv = 1307;
    static constexpr int kCount = 1308;
    static constexpr int kList = 1309;

    static constexpr int kRefreshTimer = 1;
    static constexpr int kRefreshPeriodMs = 250;
    // The function filter's items after "all functions", in this order.
    static constexpr std::uint8_t kFunctions[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0F, 0x10};

    // startMicros: the monotonic time shown as 0 (the main window's start,
    // so that a monitor opened again shows the same times). The context and
    // the log must outlive the window.
    BusMonitorWindow(const AppContext& context, const modbus::TransactionLog& log,
                     std::uint64_t startMicros);
    ~BusMonitorWindow() override;

    // Shows the window again, in front, when it exists (a close in progress
    // is called off).
    void bringBack();
    // Takes the records that arrived since the last call into the list; the
    // timer's work.
    void refresh();
    // nullptr while the window does not exist.
    const drive::BusMonitor* model() const { return monitor_.get(); }

  protected:
    bool onInitDialog() override;
    void onCommand(int id) override;
    void onCancel() override;
    void onSelectionChange(int id) override;
    void onTimer(int id) override;
    void onSize(ui::SizeState state, int width, int height) override;
    void onDestroy() override;

  private:
    std::u16string words(std::u16string_view english, std::u16string_view chinese) const {
        return std::u16string(context_.words(english, chinese));
    }
    void layout(ui::Size client);
    void fitMinimumSize();
    void setColumns();
    void applyFilter();
    void fillList(bool rebuild);
    void showCount();
    void save(bool csv);

    const AppContext& context_;
    const modbus::TransactionLog& log_;
    std::uint64_t startMicros_;
    std::unique_ptr<drive::BusMonitor> monitor_;
    // The sequence number of each list row, oldest first.
    std::deque<std::uint64_t> shown_;
    bool closing_ = false;
};

}  // namespace app
