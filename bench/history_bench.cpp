// history_bench: what the calibration records cost the windows (offscreen).
//
// 1. The commit: "Uložit na disk" of the calibration window after a fit of
//    ten points collected against the in-process simulator, 200 times, with
//    the records (SQLite, synchronous=FULL: on the disk when it returns) and
//    without them, alternately; and the call that the commit makes for its
//    records (RecordKeeper::Commit: Stanice.ini read, the record made, the
//    transaction) with the same arguments, alone.
// 2. The history window over 10 000 records: from its construction until
//    the first page of the list stands in its table and the window has
//    painted, 50 times; the first opening (the worker's connection made) is
//    printed apart.
//
//     history_bench [--commits N] [--dir DIR]
//
// DIR (default: the working directory) is where the files go: the disk
// under test; a folder of its own is made there and removed afterwards.

#include "bench/disk_of.h"
#include "bench/quantile.h"
#include "bench/record_files.h"
#include "data/context.h"
#include "link/drv232.h"
#include "records/record_keeper.h"
#include "sim/sim_port.h"
#include "windows/Historie.h"
#include "windows/Kalibrace.h"
#include "windows/message_box.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableWidget>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;
using zorm::bench::Quantile;

constexpr int ListedRecords = 10'000;
constexpr int OpenRuns = 50;

class CountedBoxes : public zorm::MessageBoxService {
public:
    zorm::BoxAnswer Show(zorm::BoxKind, const QString& text, zorm::BoxButtons) override {
        std::fprintf(stderr, "history_bench: a box: %s\n", text.toStdString().c_str());
        std::exit(1);
    }
};

class NoModal : public zorm::ModalRunner {
public:
    int Run(QDialog&) override { return 0; }
};

void Print(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("  %-52s median %8.3f ms   p99 %8.3f ms   max %8.3f ms\n", what, Quantile(ms, 0.5),
                Quantile(ms, 0.99), ms.back());
}

void CommitPart(int commits) {
    zorm::Context context;
    context.DeviceSettings.PortNumber = 1;
    context.DeviceSettings.DeviceAddress = 1;
    context.DeviceType = "ZORM5816A";
    zorm::sim::SimPorts ports;
    zorm::sim::SimLine line = ports.Add(1);
    zorm::Drv232 link(context, ports.Opener());
    link.OpenPort(1);
    CountedBoxes boxes;
    NoModal modal;
    zorm::History history(QString::fromLatin1(zorm::HistoryFileName), std::nullopt);
    history.Open();
    zorm::RecordKeeper records(history, "bench");
    zorm::TKalibrace window(context, link, boxes, modal);
    window.FormActivate();
    auto* entry = window.findChild<QLineEdit*>(QStringLiteral("Edit1"));

    std::vector<double> with;
    std::vector<double> without;
    for (int run = 0; run < 2 * commits; ++run) {
        window.Button1Click();
        for (int k = 0; k < 10; ++k) {
            line.Converter().Config().Raw[0] = 8000 + 5000 * k + run % 7;
            window.Timer1Timer();
            window.BitBtn5Click();
            entry->setText(QString::number(-20.0 + 12.5 * k + 0.01 * (run % 5), 'f', 2));
            window.BitBtn5Click();
        }
        window.BitBtn6Click();
        const bool recorded = run % 2 == 0;
        window.SetRecords(recorded ? &records : nullptr);
        const auto start = Clock::now();
        window.BitBtn3Click();
        (recorded ? with : without).push_back(Ms(Clock::now() - start).count());
    }
    std::vector<double> keeper;
    const zorm::SensorParamSet before = context.UserParams;
    for (int run = 0; run < commits; ++run) {
        const auto start = Clock::now();
        if (!records.Commit(context.WorkParams, before, {{1, std::nullopt}}, {"ZORM5816A", 1, 1})) {
            std::fprintf(stderr, "history_bench: %s\n", records.LastError().toStdString().c_str());
            std::exit(1);
        }
        keeper.push_back(Ms(Clock::now() - start).count());
    }
    std::printf("Commit of one sensor of 10 points in the calibration window, %d each, on %s\n",
                commits, zorm::bench::DiskOf(fs::current_path()).c_str());
    Print("Uložit na disk without records", without);
    Print("Uložit na disk with its record", with);
    Print("the records alone (RecordKeeper::Commit)", keeper);
}

void OpenPart(const fs::path& folder) {
    const QString file = QString::fromStdString((folder / "list.sqlite").string());
    zorm::bench::FillRecords(zorm::DatabasePlace::LocalFile(file), ListedRecords);
    zorm::Context context;
    zorm::sim::SimPorts ports;
    zorm::Drv232 link(context, ports.Opener());
    CountedBoxes boxes;
    NoModal modal;
    zorm::History history(file, std::nullopt);
    history.Open();
    zorm::RecordKeeper records(history, "bench");
    std::vector<double> ms;
    double first = 0;
    for (int run = 0; run <= OpenRuns; ++run) {
        const auto start = Clock::now();
        zorm::THistorie window(context, link, records, boxes, modal);
        window.show();
        while (window.Ceka()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        window.repaint();
        const double took = Ms(Clock::now() - start).count();
        if (window.findChild<QTableWidget*>(QStringLiteral("Seznam"))->rowCount() !=
            zorm::THistorie::PageRows) {
            std::fprintf(stderr, "history_bench: the first page is not full\n");
            std::exit(1);
        }
        (run == 0 ? first : ms.emplace_back()) = took;
    }
    std::printf("History window over %d records, %d openings\n", ListedRecords, OpenRuns);
    std::printf("  %-52s %8.3f ms\n", "first opening (the worker's connection made)", first);
    Print("opening until the first page is painted", ms);
}

int Usage() {
    std::fprintf(stderr, "usage: history_bench [--commits N] [--dir DIR]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    int commits = 200;
    fs::path dir = fs::current_path();
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--commits" && i + 1 < argc) {
            commits = std::atoi(argv[++i]);
        } else if (arg == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else {
            return Usage();
        }
    }
    if (commits < 1) {
        return Usage();
    }
    const fs::path folder = fs::absolute(dir) / ("history-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    CommitPart(commits);
    OpenPart(folder);
    fs::current_path(previous);
    fs::remove_all(folder);
    return 0;
}
