#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "app/app_context.h"
#include "app/main_page.h"
#include "drive/scope.h"
#include "pages/scope/plot_control.h"
#include "ui/draw.h"

namespace pages {

// Page 2 of the main window (template 130): the oscilloscope. Samples up to
// three scope quantities of the drive at the chosen period and shows them on
// the PlotControl, with a cursor read-out, a value swatch per channel, pause,
// clear and the range dialog. It has a tab only when the language file names
// it (UI 3).
//
// A view over drive::ScopeAcquisition, which does the sampling.
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
};

}  // namespace pages
