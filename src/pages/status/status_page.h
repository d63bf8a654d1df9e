#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "app/app_context.h"
#include "app/main_page.h"
#include "data/language.h"

namespace pages {

// The holding registers that one status poll reads: from the lowest item
// address up to the last register of the highest item (its high word for a
// 32-bit item). Empty when there are no items.
struct StatusBlock {
    std::uint16_t firstAddress = 0;
    std::uint32_t byteCount = 0;  // 2 per register, at most 65536 registers
};
StatusBlock statusBlock(std::span<const data::StatusItem> items);

// The text of a status value as the list shows it while connected: with a
// divisor the value divided, three decimals; otherwise its decimal text.
std::u16string statusValueText(const data::StatusItem& item);

// Page 0 of the main window (template 135). The upper part chooses baud rate,
// port and station and connects to or disconnects from the drive; the lower
// part shows the status items of the language file, the current alarm and
// the digital inputs and outputs.
//
// Threads: pollStatus runs on the poll thread and touches no control; it
// leaves values, I/O states and the alarm for refreshStatus. Everything else
// belongs to the user interface thread.
class StatusPage : public app::MainPage {
  public:
    static constexpr int kConnectionGroup = 1084;
    static constexpr int kBaudGroup = 1076;
    static constexpr int kFirstBaudButton = 1070;  // 1070 to 1075: 4800 to 115200 bit/s
    static constexpr int kPortGroup = 1077;
    static constexpr int kFirstPortButton = 1078;  // 1078 to 1083: COM1 to COM6
    static constexpr int kStationLabel = 1036;
    static constexpr int kStationList = 1037;
    static constexpr int kConnectButton = 1065;
    static constexpr int kInfoText = 1096;
    static constexpr int kStatusGroup = 1069;
    static constexpr int kStatusList = 1068;
    static constexpr int kAlarmText = 1103;
    static constexpr int kIoGroup = 1097;
    static constexpr int kInputGroup = 1090;
    static constexpr int kOutputGroup = 1091;
    static constexpr int kFirstInputBox = 1012;  // 1012 to 1021: X0 to X9
    static constexpr std::array<int, 8> kOutputBoxes{1092, 1093, 1094, 1095,
                                                     1098, 1099, 1100, 1101};  // Y0 to Y7

    static constexpr std::array<std::uint32_t, 6> kBaudRates{4800,  9600,  19200,
                                                             38400, 57600, 115200};
    static constexpr int kPortCount = 6;
    static constexpr int kStationCount = 64;
    static constexpr int kInputCount = 10;
    static constexpr int kOutputCount = 8;
    // Status registers are read 12 at a time.
    static constexpr std::uint32_t kPieceBytes = 24;
    // Status item 8 holds the alarm code.
    static constexpr std::size_t kAlarmItem = 8;
    // The link's timing from a connect on.
    static constexpr std::uint16_t kLinkTimeoutMs = 200;
    static constexpr std::uint8_t kLinkRetries = 5;
    // Disconnect waits this long after clearing `connected`, so that the poll
    // loop leaves the link alone before it is disabled.
    static constexpr int kDisconnectWaitMs = 100;

    explicit StatusPage(app::AppContext& context);

    // Poll thread: reads the status block, the inputs and the outputs, and
    // notes a new alarm value; returns the drive access result code.
    std::uint8_t pollStatus();
    // User interface thread, every timer tick while shown: the value column,
    // the check boxes and a new alarm text.
    void refreshStatus();
    // Moves the page to the main window's page rectangle and places its controls.
    void layout();
    // Button 1065: connect while disconnected, disconnect while connected.
    void toggleConnection();
    // Writes the text of alarm table entry `value` into 1103.
    void showAlarm(std::int32_t value);
    // Writes output check box n's state (Y0 to Y7) to coil n.
    void writeOutput(int output);

    // The states and alarm value last read (any thread).
    int inputState(int index) const;
    int outputState(int index) const;
    std::int32_t lastAlarm() const { return lastAlarm_.load(std::memory_order_relaxed); }

    std::uint8_t poll() override { return pollStatus(); }
    void refreshPage() override { refreshStatus(); }
    void layoutPage() override { layout(); }

  protected:
    bool onInitDialog() override;
    void onCommand(int id) override;
    void onListClick(int id, int row) override;

  private:
    void connect();
    void disconnect();
    void setUpList();
    void applyTexts();
    void showConnectionState();
    void showPortDevices();

    app::AppContext& context_;
    int baudChoice_ = 5;  // 115200 bit/s
    int portChoice_ = 0;  // COM1
    std::array<std::atomic<std::uint8_t>, kInputCount> inputs_{};
    std::array<std::atomic<std::uint8_t>, kOutputCount> outputs_{};
    // Poll thread writes, any thread reads.
    std::atomic<std::int32_t> lastAlarm_{-1};
    // A new alarm value for the user interface thread: (sequence << 32) | value,
    // one word so that the value always comes with its own sequence.
    std::atomic<std::uint64_t> alarmNotice_{0};
    std::uint32_t shownAlarmSequence_ = 0;  // user interface thread
};

}  // namespace pages
