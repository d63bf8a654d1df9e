#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>

#include "app/app_context.h"
#include "app/main_page.h"
#include "app/page_jobs.h"
#include "drive/link_health.h"
#include "drive/status.h"
#include "pages/status/port_chooser.h"

namespace pages {

// Page 0 of the main window (template 135). The upper part chooses baud rate,
// port and station and connects to or disconnects from the drive; the lower
// part shows the status items of the language file, the current alarm and
// the digital inputs and outputs: a view over the drive session and the
// StatusService.
//
// Values are shown as live only while they come from a poll made since the
// link last became healthy; those read before a fault are marked stale, and
// a new connection shows nothing of the previous one. The inputs are
// indicators; an output box writes its coil, after a confirmation on the
// first write of each connection. Every change of the alarm value is kept in
// a history shown under the current alarm. The link group shows the link's
// health in detail (the status line has the short readout), a hint when the
// port is a USB adapter whose latency timer delays every answer, and opens
// the bus monitor.
//
// Threads: pollStatus and watch run on the poll thread and touch no control;
// the service keeps values, I/O states and the alarm for refreshStatus.
// Everything else belongs to the user interface thread.
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
    // The link's health: rate and round trip, the counts since connect, the
    // last error, the USB latency hint with its command, and the bus monitor.
    static constexpr int kLinkGroup = 1190;
    static constexpr int kLinkRate = 1191;
    static constexpr int kLinkCounts = 1192;
    static constexpr int kLinkLastError = 1193;
    static constexpr int kLatencyHint = 1194;
    static constexpr int kLatencyCommand = 1195;
    static constexpr int kBusMonitorButton = 1196;
    // The latency timer is read again every this many refreshes (2 s), so
    // that a timer lowered while connected takes the hint away.
    static constexpr int kLatencyRecheckTicks = 20;

    static constexpr std::array<std::uint32_t, 6> kBaudRates{4800,  9600,  19200,
                                                             38400, 57600, 115200};
    static constexpr int kPortCount = 6;
    static constexpr int kStationCount = 64;
    static constexpr int kInputCount = drive::StatusService::kInputCount;
    static constexpr int kOutputCount = drive::StatusService::kOutputCount;

    explicit StatusPage(app::AppContext& context);

    // Poll thread: reads the status block, the inputs and the outputs, and
    // notes a new alarm value; returns the drive access result code.
    std::uint8_t pollStatus();
    // User interface thread, every timer tick while shown: the value column,
    // the check boxes and a new alarm text.
    void refreshStatus();
    // Moves the page to the main window's page rectangle and places its controls.
    void layout();
    // Button 1065: connect while disconnected, disconnect while connected
    // (refused while a job runs: it would be cut off half-way).
    void toggleConnection();
    // Writes the text of alarm table entry `value` into 1103.
    void showAlarm(std::int32_t value);
    // Writes output check box n's state (Y0 to Y7) to coil n, as a job: the
    // link may be held by another job's long request.
    void writeOutput(int output);
    // True while the page's output write runs.
    bool busy() const { return jobs_.busy(); }
    // Where the USB latency timers are read: "/" on a live system, a fake
    // tree in tests. Reads the connected port's timer again at once.
    void setSystemRoot(std::filesystem::path root);
    // The hint shown for the connected port, if any.
    const std::optional<drive::LatencyHint>& latencyHint() const { return latencyHint_; }

    // The states and alarm value last read (any thread).
    int inputState(int index) const { return service_.inputState(index); }
    int outputState(int index) const { return service_.outputState(index); }
    std::int32_t lastAlarm() const { return service_.lastAlarm(); }
    drive::StatusService& service() { return service_; }
    // The port list, parity and scan beside the COM buttons.
    PortChooser& ports() { return ports_; }

    // One change of the alarm value, as the history keeps it.
    struct AlarmRecord {
        std::u16string time;  // local time, "HH:MM:SS"
        std::int32_t code = 0;
        std::u16string text;  // the alarm's content
    };
    static constexpr std::size_t kHistoryLimit = 200;
    // Newest last.
    const std::deque<AlarmRecord>& alarmHistory() const { return history_; }

    // The text that marks a value read before the current fault.
    std::u16string staleMark() const;
    // A register word shown bit by bit, bit 15 (31) first, in groups of four:
    // "267  0000 0001 0000 1011".
    static std::u16string withBits(std::u16string_view value, std::uint32_t word, int bits);

    std::uint8_t poll() override { return pollStatus(); }
    std::uint8_t watch() override { return service_.pollAlarm().accessCode(); }
    std::u16string statusAlarm() override;
    void refreshPage() override { refreshStatus(); }
    void layoutPage() override { layout(); }

  protected:
    bool onInitDialog() override;
    void onCommand(int id) override;
    void onListClick(int id, int row) override;
    void onSelectionChange(int id) override { ports_.onSelectionChange(id); }
    void onTimer(int id) override { ports_.onTimer(id); }
    void onDestroy() override;

  private:
    void connect();
    void disconnect();
    void setUpList();
    void applyTexts();
    void showConnectionState();
    void showPortDevices();
    // The program's own text in the chosen language.
    std::u16string say(std::u16string_view english, std::u16string_view chinese) const;
    // Takes in a new alarm notice: the history, and the alarm text.
    void takeAlarm();
    void showAlarmText();
    // The text of alarm value `value`: its code and content (and cause).
    struct AlarmWords {
        std::int32_t code = 0;
        std::u16string_view content;
        std::u16string_view cause;
    };
    AlarmWords alarmWords(std::int32_t value) const;
    void showIo(drive::Freshness freshness);
    // The link group from the context's LinkHealth, and the latency hint.
    void showLinkHealth();
    void checkLatency();
    void showLatencyHint();
    void placeLinkGroup(int left, int top, int width, int bottom);
    std::u16string latencyHintText(const drive::LatencyHint& hint) const;
    std::u16string lastErrorText(const modbus::TransactionRecord& record) const;
    // Undoes a click on an input indicator, and one on an output box that is
    // not to be written.
    void restoreBox(int id, int state);

    app::AppContext& context_;
    drive::StatusService service_;
    int baudChoice_ = 5;  // 115200 bit/s
    int portChoice_ = 0;  // COM1
    std::uint32_t shownAlarmSequence_ = 0;
    PortChooser ports_;
    // The alarm block of 1103 (without the history); empty while unknown.
    std::u16string alarmBlock_;
    std::deque<AlarmRecord> history_;
    // The connection on which the user agreed to write outputs (0 = none).
    std::uint64_t outputsConfirmed_ = 0;
    // The device of the link opened by this page ("" while none).
    std::string linkDevice_;
    std::filesystem::path systemRoot_ = "/";
    std::optional<drive::LatencyHint> latencyHint_;
    int latencyTicks_ = 0;
    // Last: its destructor waits for a job that uses the service above.
    app::PageJobs jobs_;
};

}  // namespace pages
