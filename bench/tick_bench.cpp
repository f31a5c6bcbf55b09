// tick_bench: the real period of the calibration window's reading tick
// while the main window's periodic measurement runs too, both on one port:
// the real program's windows (offscreen), Drv232 and the POSIX port against
// zorm5816-sim --pace on a pseudo-terminal.
//
// The main window measures all three sensors every second; the calibration
// window collects sensor 1. Each exchange takes about 50 ms of line time, so
// every few ticks one falls due while a pass of the main window holds the
// line. The ticks must come 333 ms apart on average and never closer.
//
// usage: tick_bench [--seconds N]   (default 30)

#include "data/context.h"
#include "link/drv232.h"
#include "link/serial_port.h"
#include "sim/pty_process.h"
#include "tests/support/scratch_directory.h"
#include "windows/Kalibrace.h"
#include "windows/ZORM5801.h"
#include "windows/message_box.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace {

// Boxes answer at once: the benchmark has nobody to close them.
class SilentBoxes : public zorm::MessageBoxService {
public:
    int Shown = 0;
    zorm::BoxAnswer Show(zorm::BoxKind, const QString&, zorm::BoxButtons) override {
        ++Shown;
        return zorm::BoxAnswer::Ok;
    }
};

// Notes the moment each timeout of a timer is delivered, before the timer's
// own handlers run.
class TimeoutClock : public QObject {
public:
    TimeoutClock(QTimer* timer, const QElapsedTimer& clock) : clock_(clock) {
        timer->installEventFilter(this);
    }
    std::vector<double> Ms;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Timer) {
            Ms.push_back(static_cast<double>(clock_.nsecsElapsed()) / 1e6);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer& clock_;
};

// Runs the calibration window for the benchmark's time: sensor 1 collects,
// nothing is entered.
class TimedCalibration : public zorm::ModalRunner {
public:
    TimedCalibration(int seconds, const QElapsedTimer& clock) : seconds_(seconds), clock_(clock) {}
    std::vector<double> Ticks;
    QString Status;

    int Run(QDialog& dialog) override {
        auto& calibration = static_cast<zorm::TKalibrace&>(dialog);
        calibration.FormActivate();
        TimeoutClock ticks(calibration.findChild<QTimer*>("Timer1"), clock_);
        calibration.Button1Click();
        QEventLoop loop;
        QTimer::singleShot(seconds_ * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        Ticks = ticks.Ms;
        Status = calibration.findChild<QLabel*>("Label4")->text();
        return QDialog::Rejected;
    }

private:
    int seconds_;
    const QElapsedTimer& clock_;
};

void Report(const char* what, const std::vector<double>& times, double periodMs) {
    std::vector<double> gaps;
    for (std::size_t i = 1; i < times.size(); ++i) {
        gaps.push_back(times[i] - times[i - 1]);
    }
    if (gaps.empty()) {
        std::printf("%-10s no two events\n", what);
        return;
    }
    const double mean = std::accumulate(gaps.begin(), gaps.end(), 0.0) / gaps.size();
    std::sort(gaps.begin(), gaps.end());
    std::printf("%-10s %4zu gaps  mean %8.3f ms  min %8.3f  median %8.3f  max %8.3f  "
                "mean/period %.4f\n",
                what, gaps.size(), mean, gaps.front(), gaps[gaps.size() / 2], gaps.back(),
                mean / periodMs);
}

} // namespace

int main(int argc, char* argv[]) {
    int seconds = 30;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::max(2, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: tick_bench [--seconds N]\n");
            return 2;
        }
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);

    zorm::test::ScratchDirectory scratch(zorm::test::ScratchDirectory::Enter);
    zorm::sim::SimulatorProcess simulator(
        ZORM_SIM_PROGRAM, {"--dir", scratch.Path().string(), "--port", "1", "--pace"});
    if (simulator.ReadyLine().empty()) {
        std::fprintf(stderr, "tick_bench: the simulator did not start\n");
        return 1;
    }

    zorm::Context context;
    context.DeviceSettings.DeviceAddress = 1;
    context.DeviceSettings.RtsOnTransmit = 1;
    zorm::Drv232 link(context, zorm::SystemPortOpener());
    SilentBoxes boxes;
    QElapsedTimer clock;
    clock.start();
    TimedCalibration calibration(seconds, clock);
    zorm::THlavni main(context, link, boxes, calibration);
    // No Parametry.par here: the start-up says so, searches from port 1 and
    // finds the simulator there.
    main.FormActivate();
    if (!link.IsOpen()) {
        std::fprintf(stderr, "tick_bench: the converter was not found\n");
        return 1;
    }
    for (const char* sensor : {"CheckBox1", "CheckBox2", "CheckBox3"}) {
        main.findChild<QCheckBox*>(sensor)->setChecked(true);
    }
    TimeoutClock passes(main.findChild<QTimer*>("Timer1"), clock);
    main.findChild<QPushButton*>("BitBtn3")->click(); // periodic, 1 s
    std::printf("tick_bench: %d s of collection, main window measuring 3 sensors every 1 s\n",
                seconds);
    main.findChild<QAction*>("Parametry1")->trigger();

    Report("ticks", calibration.Ticks, 333.0);
    Report("passes", passes.Ms, 1000.0);
    std::printf("status line at the end: \"%s\"\n", calibration.Status.toUtf8().constData());
    return 0;
}
