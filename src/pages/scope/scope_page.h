#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "app/app_context.h"
#include "app/main_page.h"
#include "drive/scope.h"
#include "drive/scope_trigger.h"
#include "pages/scope/plot_control.h"
#include "platform/file_io.h"
#include "ui/draw.h"

namespace pages {

// Page 2 of the main window (template 130): the oscilloscope. Samples up to
// three scope quantities of the drive at the chosen period and shows them on
// the PlotControl, with a cursor read-out, a value swatch per channel, pause,
// clear and the range dialog. It has a tab only when the language file names
// it (UI 3).
//
// Beneath the plot: the trigger (mode, channel, edge, level in the quantity's
// unit, pre-trigger share, arm, state), cursors A and B with their read-out,
// freeze with scrolling and zooming back through the recording, export of
// the window or the whole recording as CSV or PNG, and a hint when a channel
// samples the register of another. Period, points, grid and the three
// quantities are kept in the program's scope.ini.
//
// A view over drive::ScopeAcquisition, which does the sampling, and
// drive::ScopeTrigger, which finds the trigger point.
//
// Threads: acquire() runs on the poll thread, back to back while the page is
// the selected tab; everything else on the user interface thread. The page
// hands the channels, pause and sample period to the acquisition, which
// publishes them to the poll thread and queues its samples; the user
// interface thread moves them into the plot when it refreshes, so a cycle
// never waits for a render to end.
class ScopePage : public app::MainPage {
  public:
    static constexpr int kChannels = drive::ScopeAcquisition::kChannels;
    static constexpr int kPlotHost = 1011;
    static constexpr int kCursorX = 1085;
    static constexpr std::array<int, kChannels> kCursorY{1086, 1087, 1088};
    static constexpr std::array<int, kChannels> kSwatch{1038, 1039, 1040};
    static constexpr std::array<int, kChannels> kOnOff{1012, 1073, 1074};
    static constexpr std::array<int, kChannels> kQuantity{1070, 1071, 1072};
    static constexpr int kPeriodLabel = 1023;
    static constexpr int kPeriod = 1024;
    static constexpr int kPointsLabel = 1032;
    static constexpr int kPointsValue = 1031;
    static constexpr int kPointsSlider = 1020;
    static constexpr int kGainSlider = 1021;  // hidden, without effect
    static constexpr int kXGridLabel = 1028;
    static constexpr int kXGrid = 1027;
    static constexpr int kYGridLabel = 1030;
    static constexpr int kYGrid = 1029;
    static constexpr int kShowCoordinates = 1013;
    static constexpr int kRange = 1035;
    static constexpr int kClear = 1053;
    static constexpr int kPause = 1051;
    static constexpr int kTriggerMode = 1201;
    static constexpr int kTriggerChannel = 1202;
    static constexpr int kTriggerEdge = 1203;
    static constexpr int kLevelLabel = 1204;
    static constexpr int kLevel = 1205;
    static constexpr int kLevelUnit = 1206;
    static constexpr int kPreTriggerLabel = 1207;
    static constexpr int kPreTrigger = 1208;
    static constexpr int kArm = 1209;
    static constexpr int kTriggerState = 1210;
    static constexpr int kCursors = 1211;
    static constexpr int kCursorA = 1212;
    static constexpr int kCursorB = 1213;
    static constexpr int kFreeze = 1214;
    static constexpr int kScroll = 1215;
    static constexpr int kZoom = 1216;
    static constexpr int kExportCsv = 1217;
    static constexpr int kExportPng = 1218;
    static constexpr int kExportWhole = 1219;
    static constexpr int kCursorReadout = 1220;
    static constexpr int kHint = 1221;
    static constexpr int kSliderSteps = 1000;
    static constexpr std::array<int, 6> kZooms{1, 2, 5, 10, 20, 50};

    static constexpr std::array<int, 10> kPeriodsMs{5, 10, 20, 50, 100, 200, 300, 500, 800, 1000};
    static constexpr std::array<int, 5> kGridCounts{1, 5, 10, 20, 25};
    static constexpr std::array<ui::Color, kChannels> kColours{
        ui::Color{255, 0, 0}, ui::Color{0, 255, 0}, ui::Color{0, 0, 255}};

    explicit ScopePage(app::AppContext& context);
    ~ScopePage() override;

    // Poll thread: one acquisition cycle. Reads the enabled channels, queues
    // the values for the plot, then waits out the sample period from the
    // cycle's start (a cycle with nothing to read waits kIdleWaitMs). Returns the access code of
    // the cycle's last read (0 when nothing was read); a failed last read returns at once.
    std::uint8_t acquire();
    // User interface thread: the timer tick and every paint of the page.
    void refresh();
    // User interface thread: moves the samples acquired since the last call
    // into the plot (refresh does it first).
    void takeSamples();
    // Takes the controls over: on/off states, ranges (one channel's change
    // per call), points, period, grid and time base.
    void applyControls();
    // Moves the page to the main window's page rectangle and places its controls.
    void layout();

    std::uint8_t poll() override { return acquire(); }
    void refreshPage() override { refresh(); }
    void layoutPage() override { layout(); }

    // Export (user interface thread): the window shown or the whole recording,
    // to a file; the outcome names the file's failure. The buttons ask for the
    // file and then call these.
    platform::FileOutcome exportCsv(const std::filesystem::path& path, bool whole) const;
    platform::FileOutcome exportPng(const std::filesystem::path& path);
    // The text of the cursor read-out and of the duplicate hint, as shown.
    std::u16string cursorReadout() const;
    std::u16string duplicateHint() const;
    const drive::ScopeTrigger& trigger() const { return trigger_; }

    // --- State, for tests (any thread for the acquisition's).
    PlotControl& plot() { return plot_; }
    const PlotControl& plot() const { return plot_; }
    drive::ScopeAcquisition& acquisition() { return acquisition_; }
    int samplePeriodUs() const { return acquisition_.samplePeriodUs(); }
    int lastValue(int channel) const { return acquisition_.lastValue(channel); }
    bool paused() const { return acquisition_.paused(); }
    bool channelEnabled(int channel) const { return acquisition_.channelEnabled(channel); }
    // The list row the channel samples, -1 when it has none.
    int channelRow(int channel) const { return acquisition_.channelRow(channel); }

  protected:
    bool onInitDialog() override;
    void onCommand(int id) override;
    void onSelectionChange(int id) override;
    void onPaint(ui::DrawContext& dc) override;
    void onDestroy() override;

  private:
    // The user interface thread's copy of a channel; publish() hands it to
    // the acquisition. Without a row (an empty list) a channel cannot be on.
    struct Channel {
        bool enabled = false;
        bool hasRow = false;
        int row = 0;
        std::uint16_t address = 0;
    };

    void toggleChannel(int channel);
    void selectQuantity(int channel);
    void togglePause();
    void showCoordinates();
    void showTexts();
    int placeRows(int width, int bottom);
    void fillNewControls();
    void setupTrigger();
    void updateView();
    void showTriggerState();
    void toggleFreeze();
    void exportTo(bool png);
    void startTraces();
    void loadSettings();
    void saveSettings();
    std::string settingsText() const;
    drive::QuantityUnit unit(int channel) const;
    void publish(int channel);
    std::u16string_view uiText(std::size_t entry, std::u16string_view fallback) const;
    void discardSamples();

    app::AppContext& context_;
    PlotControl plot_;
    drive::ScopeAcquisition acquisition_;
    std::array<Channel, kChannels> channels_{};

    int points_ = 100;
    int showCoordinates_ = 0;
    // What applyControls last took over: points shown in 1031 and the period
    // handed to the acquisition (-1 before the first call).
    int pointsShown_ = -1;
    int periodTaken_ = -1;
    std::array<std::unique_ptr<ui::DrawContext>, kChannels> swatches_;

    drive::ScopeTrigger trigger_;
    // Per channel: its next sample starts a new trace.
    std::array<bool, kChannels> newTrace_{true, true, true};
    bool frozen_ = false;
    bool pausedBeforeFreeze_ = false;
    // scope.ini as read at start; written at the end only when different.
    std::string settingsRead_;
};

}  // namespace pages
