#pragma once
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>

#include "app/app_context.h"
#include "app/main_page.h"
#include "pages/scope/plot_control.h"
#include "ui/draw.h"

namespace pages {

// Page 2 of the main window (template 130): the oscilloscope. Samples up to
// three scope quantities of the drive at the chosen period and shows them on
// the PlotControl, with a cursor read-out, a value swatch per channel, pause,
// clear and the range dialog. It has a tab only when the language file names
// it (UI 3).
//
// Threads: acquire() runs on the poll thread, back to back while the page is
// the selected tab; everything else on the user interface thread. What the
// poll thread reads of the page (pause, sample period, each channel's
// quantity with its on/off state) is held in atomic words written whole, so a
// cycle always sees a channel's row and address from the same row. It writes
// lastValue and queues its samples; the user interface thread moves them into
// the plot when it refreshes, so a cycle never waits for a render to end.
class ScopePage : public app::MainPage {
  public:
    static constexpr int kChannels = 3;
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
    // The read buffer: one value read alone, or a group of consecutive
    // registers at most 10 apart plus a last value of up to two registers.
    static constexpr int kBufferBytes = 24;
    static constexpr int kGroupSpan = 10;
    // Samples waiting for the next refresh: at the fastest rate (three
    // channels every 5 ms) more than ten seconds' worth.
    static constexpr std::uint32_t kQueueSize = 8192;
    static_assert((kQueueSize & (kQueueSize - 1)) == 0, "indices wrap at a multiple of the size");
    // The wait of a cycle that reads nothing (paused, no channel on), so that
    // the poll thread, which calls back to back, does not spin.
    static constexpr int kIdleWaitMs = 20;

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

    // --- State, for tests (any thread for the atomic ones).
    PlotControl& plot() { return plot_; }
    const PlotControl& plot() const { return plot_; }
    int samplePeriodUs() const { return samplePeriodUs_.load(std::memory_order_relaxed); }
    int lastValue(int channel) const;
    bool paused() const { return paused_.load(std::memory_order_relaxed) != 0; }
    bool channelEnabled(int channel) const;
    // The list row the channel samples, -1 when it has none.
    int channelRow(int channel) const;

  protected:
    bool onInitDialog() override;
    void onCommand(int id) override;
    void onSelectionChange(int id) override;
    void onPaint(ui::DrawContext& dc) override;
    void onDestroy() override;

  private:
    // One channel as the poll thread sees it, packed into one word. Without
    // a row (an empty list) a channel cannot be switched on.
    struct ChannelWord {
        bool enabled = false;
        bool hasRow = false;
        std::uint16_t row = 0;
        std::uint16_t address = 0;
        std::uint64_t pack() const;
        static ChannelWord unpack(std::uint64_t word);
    };
    struct Slot {
        int channel = 0;
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

    // Poll thread.
    std::uint8_t readAlone(const Slot& slot);
    std::uint8_t readGroup(const Slot* slots, int count);
    void deliver(const Slot& slot, const std::uint8_t* at);
    int rowSize(int row) const;
    // Returns once samplePeriodUs has passed since start.
    void waitOut(std::chrono::steady_clock::time_point start);

    app::AppContext& context_;
    PlotControl plot_;

    // User interface thread's copy of the channels; publish() hands one to
    // the poll thread.
    std::array<ChannelWord, kChannels> channels_{};
    std::array<std::atomic<std::uint64_t>, kChannels> published_{};
    std::atomic<std::int32_t> paused_{0};
    std::atomic<std::int32_t> samplePeriodUs_{10000};
    std::array<std::atomic<std::int32_t>, kChannels> lastValue_{};

    // Single producer (poll thread), single consumer (user interface thread).
    // The indices count up and wrap; a full queue drops the new sample.
    struct Sample {
        std::int32_t channel = 0;
        std::int32_t value = 0;
    };
    std::array<Sample, kQueueSize> queue_{};
    std::atomic<std::uint32_t> queueHead_{0};  // next to write
    std::atomic<std::uint32_t> queueTail_{0};  // next to read

    int points_ = 100;
    int showCoordinates_ = 0;
    // What applyControls last took over: points shown in 1031 and the period
    // turned into samplePeriodUs (-1 before the first call).
    int pointsShown_ = -1;
    int periodTaken_ = -1;
    std::array<std::unique_ptr<ui::DrawContext>, kChannels> swatches_;

    // Poll thread only: how late recent sleeps before the final spin woke up,
    // which sets how early the next one wakes; and the read buffer.
    std::chrono::microseconds lateness_{0};
    std::array<std::uint8_t, kBufferBytes> buffer_{};
};

}  // namespace pages
