// The scope plot on the desktop backend's drawing context: a full render of
// three channels of 20000 points each (the column pass, one call of pixel
// runs per curve), the same with the block copy to the host, the same with
// the cursors shown, and appending one sample to a full channel (a ring: it
// moves nothing). The target is a render within 1 ms.
//
// Run with QT_QPA_PLATFORM=offscreen where no display is present (set here
// when unset).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "pages/scope/plot_control.h"
#include "ui/qt/qt_backend.h"

namespace {

constexpr int kHost = 1011;

pages::PlotControl* g_plot = nullptr;
pages::PlotControl* g_empty = nullptr;
ui::DrawContext* g_memory = nullptr;

// A noisy sine that crosses the range now and then, as real signals do.
double signal(int k, int channel) {
    const double phase = k * 0.002 + channel * 2.0;
    return 900.0 * std::sin(phase) + 300.0 * std::sin(k * 0.37 + channel) +
           (k % 997 == 0 ? 5000.0 : 0.0);
}

void fill(pages::PlotControl& plot) {
    constexpr ui::Color colours[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    plot.setTimebase(5, pages::PlotControl::kCapacity, 10, 10);
    for (int ch = 0; ch < pages::PlotControl::kChannels; ++ch) {
        plot.setChannel(ch, colours[ch], 1);
        plot.setRange(ch, -1000.0, 1000.0);
    }
    for (int k = 0; k < pages::PlotControl::kCapacity; ++k)
        for (int ch = 0; ch < pages::PlotControl::kChannels; ++ch)
            plot.addSample(ch, signal(k, ch));
}

void BM_Render3x20000(benchmark::State& state) {
    for (auto _ : state) g_plot->render(*g_memory, ui::Point{200, 200});
    // The painter flushes when the image is read.
    benchmark::DoNotOptimize(g_memory->pixel({0, 0}));
}
BENCHMARK(BM_Render3x20000)->Unit(benchmark::kMillisecond);

// Background, labels, frame and grid alone: what every render costs.
void BM_RenderNoCurves(benchmark::State& state) {
    for (auto _ : state) g_empty->render(*g_memory, ui::Point{200, 200});
    benchmark::DoNotOptimize(g_memory->pixel({0, 0}));
}
BENCHMARK(BM_RenderNoCurves)->Unit(benchmark::kMillisecond);

void BM_Render3x20000Cursors(benchmark::State& state) {
    g_plot->setCursors(true, 0.25, 0.75);
    for (auto _ : state) g_plot->render(*g_memory, ui::Point{200, 200});
    benchmark::DoNotOptimize(g_memory->pixel({0, 0}));
    g_plot->setCursors(false, 0.25, 0.75);
}
BENCHMARK(BM_Render3x20000Cursors)->Unit(benchmark::kMillisecond);

void BM_Draw3x20000(benchmark::State& state) {
    for (auto _ : state) g_plot->draw();
}
BENCHMARK(BM_Draw3x20000)->Unit(benchmark::kMillisecond);

void BM_AddSampleFull20000(benchmark::State& state) {
    int k = 0;
    for (auto _ : state) g_plot->addSample(0, signal(k++, 0));
}
BENCHMARK(BM_AddSampleFull20000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    ui::qt::QtBackend backend;
    ui::Dialog main(resources::kMainDialog);
    ui::Dialog page(resources::kScopePage);
    pages::PlotControl plot;
    pages::PlotControl empty;
    int status = 0;
    backend.setModalHook([&](ui::Dialog&) {
        if (!page.create(main, 1064)) {
            status = 1;
        } else {
            page.show(true);
            plot.attach(&page, kHost);
            plot.setShowLabels(1);
            fill(plot);
            empty.attach(&page, kHost);
            empty.setShowLabels(1);
            empty.setTimebase(5, pages::PlotControl::kCapacity, 10, 10);
            for (int ch = 0; ch < pages::PlotControl::kChannels; ++ch)
                empty.setRange(ch, -1000.0, 1000.0);
            g_empty = &empty;
            auto memory = ui::createMemoryContext(plot.clientRect().size());
            g_plot = &plot;
            g_memory = memory.get();
            benchmark::RunSpecifiedBenchmarks();
            g_memory = nullptr;
            g_plot = nullptr;
        }
        main.endDialog(ui::kIdOk);
    });
    main.runModal();
    benchmark::Shutdown();
    return status;
}
