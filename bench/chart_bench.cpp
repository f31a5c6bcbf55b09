// chart_bench: what it costs to redraw the chart window with a full day of
// passes: the program's TGraf (offscreen) over a reading history of 86 400
// passes one second apart (259 200 values of three sensors; the readings
// wander, with spikes and a few gaps), span "vše". One redraw is Prekresli
// (the thinning to the plot's width, the scale, the traces) and the
// painting of the whole window into a pixmap.
//
//     chart_bench [--passes N] [--runs N] [--width W --height H] [--span ITEM]
//
// --passes sets the history's size (default 86 400; 259 200 is three days
// at 1 s, or one sample per second of each value); --span the item of
// "Časový úsek" (0: 1 min, 1: 10 min, 2: 1 h, 3: vše, the default).

#include "bench/quantile.h"
#include "data/reading_history.h"
#include "windows/Graf.h"

#include <QApplication>
#include <QComboBox>
#include <QPixmap>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;
using zorm::bench::Quantile;

constexpr int WarmUp = 10;

zorm::ReadingHistory DayOfPasses(std::size_t passes) {
    zorm::ReadingHistory history(passes);
    std::mt19937 random(86400);
    std::normal_distribution<float> noise(0, 2);
    std::uniform_int_distribution<int> roll(0, 9999);
    std::array<float, 3> level{21500, 22500, 23500};
    const std::int64_t start = 1'741'940'813'589;
    for (std::size_t n = 0; n < passes; ++n) {
        zorm::ChartSample sample;
        sample.UnixMs = start + static_cast<std::int64_t>(n) * 1000;
        for (std::size_t k = 0; k < 3; ++k) {
            level[k] += noise(random);
            const int r = roll(random);
            const float raw = r < 2   ? std::numeric_limits<float>::quiet_NaN()
                              : r < 5 ? level[k] + 3000
                                      : level[k];
            sample.Raw[k] = raw;
            sample.Celsius[k] = raw / 100 - 200;
        }
        history.Push(sample);
    }
    return history;
}

int Usage() {
    std::fprintf(stderr, "usage: chart_bench [--passes N] [--runs N] [--width W --height H] "
                         "[--span 0..3]\n");
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    long passes = 86'400;
    long runs = 200;
    long width = 760;
    long height = 480;
    long span = 3;
    for (int i = 1; i < argc; ++i) {
        long* value = nullptr;
        if (std::strcmp(argv[i], "--passes") == 0) {
            value = &passes;
        } else if (std::strcmp(argv[i], "--runs") == 0) {
            value = &runs;
        } else if (std::strcmp(argv[i], "--width") == 0) {
            value = &width;
        } else if (std::strcmp(argv[i], "--height") == 0) {
            value = &height;
        } else if (std::strcmp(argv[i], "--span") == 0) {
            value = &span;
        }
        if (value == nullptr || i + 1 == argc) {
            return Usage();
        }
        *value = std::strtol(argv[++i], nullptr, 10);
    }
    if (passes < 1 || runs < 1 || width < 100 || height < 100 || span < 0 || span > 3) {
        return Usage();
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);

    const zorm::ReadingHistory history = DayOfPasses(static_cast<std::size_t>(passes));
    zorm::TGraf chart(history);
    chart.resize(static_cast<int>(width), static_cast<int>(height));
    chart.findChild<QComboBox*>("Rozsah")->setCurrentIndex(static_cast<int>(span));
    chart.show();
    chart.PassAdded(true);
    QCoreApplication::processEvents();

    std::vector<double> times;
    for (long run = 0; run < WarmUp + runs; ++run) {
        const auto start = Clock::now();
        chart.Prekresli();
        const QPixmap drawn = chart.grab();
        const double ms = Ms(Clock::now() - start).count();
        if (run >= WarmUp) {
            times.push_back(ms);
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("chart_bench: %ld passes (%ld values), span item %ld, window %ld x %ld, %ld "
                "redraws\n",
                passes, 3 * passes, span, width, height, runs);
    std::printf("redraw  median %.3f ms  p99 %.3f ms  max %.3f ms  (target: median <= 16 ms)\n",
                Quantile(times, 0.5), Quantile(times, 0.99), times.back());
    return 0;
}
