// assistant_bench: what the calibration assistant's panel costs per tick of
// the calibration window, with the panel open and its window at the longest,
// 300 s: 900 readings of the 333 ms tick through a cubic in force. One tick
// is AssistantPanel::Tick (the reading kept, the statistics and the verdict
// in bits and °C, the figures, and the chart's line of 900 points with its
// axes), timed alone; then the painting of the whole panel into a pixmap,
// which Qt does after the tick (it repaints less: the figures and the
// chart), timed with it.
//
//     assistant_bench [--runs N]     (default 2000)

#include "bench/quantile.h"
#include "bench/runs_option.h"
#include "data/context.h"
#include "tests/support/scratch_directory.h"
#include "windows/assistant_panel.h"
#include "windows/message_box.h"

#include <QApplication>
#include <QDialog>
#include <QPixmap>
#include <QSpinBox>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;
using zorm::bench::Quantile;

constexpr int WarmUp = 100;

// No box is expected; one would be a failure of the benchmark's folder.
class NoBoxes : public zorm::MessageBoxService {
public:
    zorm::BoxAnswer Show(zorm::BoxKind, const QString& text, zorm::BoxButtons) override {
        std::fprintf(stderr, "assistant_bench: %s\n", text.toUtf8().constData());
        return zorm::BoxAnswer::Ok;
    }
};

// A bath settling slowly, a bit of scatter on it.
std::int32_t Reading(int k) {
    return 30000 + static_cast<std::int32_t>(std::lround(200 * std::exp(-k / 2000.0))) +
           (k * 7) % 3 - 1;
}

void Print(const char* what, std::vector<double>& ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%s: median %.3f ms, p99 %.3f ms, max %.3f ms\n", what, Quantile(ms, 0.5),
                Quantile(ms, 0.99), ms.back());
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<int> runs = zorm::bench::RunsOption(argc, argv, 2000);
    if (!runs) {
        std::fprintf(stderr, "usage: assistant_bench [--runs N]\n");
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    // Opening the panel remembers it in Stanice.ini: not in the caller's
    // folder.
    const zorm::test::ScratchDirectory scratch(zorm::test::ScratchDirectory::Enter);

    zorm::Context context;
    // A Pt100-like cubic in force for sensor 1.
    context.UserParams.Coefficients.A3(1) = 2e-15;
    context.UserParams.Coefficients.A2(1) = 1.1e-9;
    context.UserParams.Coefficients.A1(1) = 0.0103;
    context.UserParams.Coefficients.A0(1) = -221.7;
    NoBoxes boxes;
    QDialog window;
    window.resize(733, 632);
    zorm::AssistantPanel panel(context, boxes, window);
    double now = 0;
    panel.SetClock([&now] { return now; });
    panel.Toggle();
    panel.findChild<QSpinBox*>(QStringLiteral("Okno"))->setValue(300);
    window.show();
    QCoreApplication::processEvents();

    panel.CollectionStarted(1);
    int k = 0;
    for (; k < 900; ++k, now += 0.333) {
        panel.Tick(1, Reading(k));
    }
    std::vector<double> ticks;
    std::vector<double> painted;
    for (int run = 0; run < WarmUp + *runs; ++run, ++k, now += 0.333) {
        const auto start = Clock::now();
        panel.Tick(1, Reading(k));
        const auto ticked = Clock::now();
        const QPixmap drawn = panel.grab();
        const auto end = Clock::now();
        if (run >= WarmUp) {
            ticks.push_back(Ms(ticked - start).count());
            painted.push_back(Ms(end - start).count());
        }
    }
    const zorm::StabilityJudgement& judged = panel.Judgement();
    std::printf("assistant_bench: %d ticks, %d readings in the 300 s window, judged in %s\n", *runs,
                judged.Bits ? judged.Bits->Count : 0, judged.Celsius ? "°C" : "bits");
    Print("tick (statistics, figures, chart)", ticks);
    Print("tick and painting the panel      ", painted);
    std::printf("target: tick median <= 1 ms\n");
    return 0;
}
