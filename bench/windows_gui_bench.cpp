// The Windows GUI's speed, run under Wine (or on Windows) by
// bench/windows_gui_bench.py; no Google Benchmark in the cross build, so it
// times its own repetitions and prints medians.
//
//   windows_gui_bench render [N]   the scope plot, 3 channels x 20000 points, rendered
//                                  on a GDI memory context; the same without curves;
//                                  render + block copy to the plot's window
//   windows_gui_bench startup      milliseconds from the process's creation to the
//                                  first painted main window (English, no drive)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "app/dialogs.h"
#include "app/start.h"
#include "main/page_set.h"
#include "pages/scope/plot_control.h"
#include "resources/resources.h"
#include "ui/win32/win32_backend.h"

namespace {

constexpr int kHost = 1011;

double signal(int k, int channel) {
    const double phase = k * 0.002 + channel * 2.0;
    return 900.0 * std::sin(phase) + 300.0 * std::sin(k * 0.37 + channel) +
           (k % 997 == 0 ? 5000.0 : 0.0);
}

void setUp(pages::PlotControl& plot, bool curves) {
    constexpr ui::Color colours[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    plot.setShowLabels(1);
    plot.setTimebase(5, pages::PlotControl::kCapacity, 10, 10);
    for (int ch = 0; ch < pages::PlotControl::kChannels; ++ch) {
        plot.setChannel(ch, colours[ch], 1);
        plot.setRange(ch, -1000.0, 1000.0);
    }
    if (!curves) return;
    for (int k = 0; k < pages::PlotControl::kCapacity; ++k)
        for (int ch = 0; ch < pages::PlotControl::kChannels; ++ch)
            plot.addSample(ch, signal(k, ch));
}

double threadCpuMs() {
    FILETIME created{}, exited{}, kernel{}, user{};
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& f) {
        return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

// The median wall time of one run, and the thread's CPU time per run (the
// mean: the clock behind thread times ticks coarsely).
struct Timing {
    double wallMs;
    double cpuMs;
};

Timing measure(int n, const std::function<void()>& body) {
    std::vector<double> times;
    body();  // warm-up
    const double cpu0 = threadCpuMs();
    for (int i = 0; i < n; ++i) {
        const auto start = std::chrono::steady_clock::now();
        body();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    const double cpu = (threadCpuMs() - cpu0) / n;
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], cpu};
}

int render(int n) {
    ui::win32::Win32Backend backend;
    ui::Dialog main(resources::kMainDialog);
    ui::Dialog page(resources::kScopePage);
    pages::PlotControl plot;
    pages::PlotControl empty;
    if (!main.createModeless() || !page.create(main, 1064)) return 1;
    page.show(true);
    plot.attach(&page, kHost);
    setUp(plot, true);
    empty.attach(&page, kHost);
    setUp(empty, false);
    auto memory = ui::createMemoryContext(plot.clientRect().size());
    // Reading a pixel waits for GDI to finish the drawing.
    const Timing full = measure(n, [&] {
        plot.render(*memory, ui::Point{200, 200});
        (void)memory->pixel({0, 0});
    });
    const Timing bare = measure(n, [&] {
        empty.render(*memory, ui::Point{200, 200});
        (void)memory->pixel({0, 0});
    });
    const Timing draw = measure(n, [&] {
        plot.draw();
        GdiFlush();
    });
    // The drawing calls of a curve alone: a column of a third of the height and
    // a join to the next column, 820 columns.
    const Timing calls = measure(n, [&] {
        memory->setPen(ui::PenStyle::Solid, {255, 0, 0}, 1);
        for (int x = 0; x < 820; ++x) {
            memory->fillRect({x, 100 + x % 200, x + 1, 300 + x % 200}, {255, 0, 0});
            memory->moveTo({x, 200});
            memory->lineTo({x + 1, 210});
        }
        (void)memory->pixel({0, 0});
    });
    const auto show = [n](const char* what, Timing t) {
        std::printf("%-36s median %7.3f ms wall, %7.3f ms CPU (%d runs)\n", what, t.wallMs, t.cpuMs,
                    n);
    };
    show("render 3x20000 on GDI", full);
    show("render without curves", bare);
    show("render + copy to the window", draw);
    show("820 columns of fill + line", calls);
    return 0;
}

double sinceProcessStartMs() {
    FILETIME created{}, exited{}, kernel{}, user{}, now{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimePreciseAsFileTime(&now);
    const auto ticks = [](const FILETIME& f) {
        return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    return static_cast<double>(ticks(now) - ticks(created)) / 10000.0;
}

int startup() {
    ui::win32::Win32Backend backend;
    backend.setChineseText(false);
    app::StartOptions start;
    start.language = app::LanguageDialog::English;
    double ms = -1;
    // The hook runs inside the main window's loop, after the window was shown
    // and its first paint done.
    backend.setModalHook([&](ui::Dialog& d) {
        if (d.templateId() != resources::kMainDialog) return;
        ms = sinceProcessStartMs();
        d.userClose();
    });
    const int result = app::runApplication(start, servo_main::makePages);
    std::printf("start to first painted main window: %.1f ms\n", ms);
    return result == 0 && ms > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "render") == 0)
        return render(argc >= 3 ? std::atoi(argv[2]) : 30);
    if (argc >= 2 && std::strcmp(argv[1], "startup") == 0) return startup();
    std::fputs("usage: windows_gui_bench render [N] | startup\n", stderr);
    return 2;
}
