// records_bench: what the calibration records cost.
//
// 1. The commit: the time History::Commit adds to a commit for its records
//    (one transaction of the local SQLite file, synchronous=FULL: the WAL is
//    on the disk when it returns), beside what SaveParameters already costs.
//    Rows: one record of 10 points (one sensor), and three records of 29
//    points (all three sensors at the most points).
// 2. The list: a record file of 10 000 records (a tenth of them with a tag
//    correction) and what the history window asks of it: opening it, the
//    first page of the list newest first, the list filtered by tag and
//    sensor and by a date range, one record's details, and the first page
//    through the History worker (the thread hop included).
//
//     records_bench [--commits N] [--dir DIR] [--postgres]
//
// DIR (default: a new folder in the working directory, removed afterwards)
// is where the files go: the disk under test; the benchmark names it.
// --postgres runs the list also against a throwaway PostgreSQL cluster on a
// Unix socket (tests/support/pg_cluster.h).

#include "bench/disk_of.h"
#include "bench/quantile.h"
#include "bench/record_files.h"
#include "data/param_files.h"
#include "records/history.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/random_records.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <sys/stat.h>
#include <sys/statvfs.h>

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
constexpr int PageRows = 500;
constexpr int QueryRuns = 50;

struct Figures {
    double Median = 0;
    double P99 = 0;
    double Max = 0;
};

Figures Measure(int runs, const std::function<bool()>& run) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        if (!run()) {
            std::fprintf(stderr, "records_bench: a run failed\n");
            std::exit(1);
        }
        ms.push_back(Ms(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {Quantile(ms, 0.5), Quantile(ms, 0.99), ms.back()};
}

void Print(const char* what, const Figures& f) {
    std::printf("  %-44s median %8.3f ms   p99 %8.3f ms   max %8.3f ms\n", what, f.Median, f.P99,
                f.Max);
}

void CommitPart(const fs::path& folder, int commits) {
    zorm::test::Random random(1);
    zorm::History history(QString::fromStdString((folder / zorm::HistoryFileName).string()),
                          std::nullopt);
    if (!history.Open()) {
        std::fprintf(stderr, "records_bench: %s\n", history.LastError().toStdString().c_str());
        std::exit(1);
    }
    std::int64_t time = 1'700'000'000'000;
    const auto records = [&](int count, int points) {
        std::vector<zorm::CalibrationRecord> batch;
        for (int i = 0; i < count; ++i) {
            batch.push_back(zorm::test::PlainRecord(random, ++time, points));
        }
        return batch;
    };
    std::printf("Commit, %d commits each, on %s\n", commits, zorm::bench::DiskOf(folder).c_str());
    const zorm::Context context;
    const fs::path current = fs::current_path();
    fs::current_path(folder);
    Print("SaveParameters (Parametry.par, as before)",
          Measure(commits, [&] { return zorm::SaveParameters(context); }));
    fs::current_path(current);
    const Figures one = Measure(commits, [&] { return history.Commit(records(1, 10)); });
    Print("History::Commit, 1 record of 10 points", one);
    Print("History::Commit, 3 records of 29 points",
          Measure(commits, [&] { return history.Commit(records(3, 29)); }));
    std::printf("  target (1 record, median <= 20 ms): %s\n", one.Median <= 20 ? "met" : "NOT met");
}

void ListPart(const zorm::DatabasePlace& place, const char* name) {
    zorm::bench::FillRecords(place, ListedRecords);
    std::printf("List over %d records, %s, %d runs each\n", ListedRecords, name, QueryRuns);
    Print("open (connect, set up, check the schema)", Measure(QueryRuns, [&] {
              zorm::RecordDatabase database(place);
              return database.Open();
          }));
    zorm::RecordDatabase database(place);
    database.Open();
    const auto list = [&](zorm::RecordFilter filter) {
        return [&database, filter] {
            const auto rows = database.List({filter, std::nullopt, PageRows});
            return rows && !rows->empty();
        };
    };
    Print("first page (500 rows), newest first", Measure(QueryRuns, list({})));
    zorm::RecordFilter tagged;
    tagged.Tag = "TT-7";
    tagged.Sensor = 2;
    Print("filtered: latest tag and sensor", Measure(QueryRuns, list(tagged)));
    zorm::RecordFilter week;
    week.FromUtcMs = zorm::bench::FirstRecordMs + zorm::bench::RecordSpacingMs * 5000;
    week.ToUtcMs = *week.FromUtcMs + 7 * 86'400'000LL;
    Print("filtered: one week", Measure(QueryRuns, list(week)));
    const auto first = database.List({{}, std::nullopt, 1});
    Print("one record with its trail", Measure(QueryRuns, [&] {
              const auto read = database.Read({first->front().Uuid});
              return read && read->size() == 1;
          }));
    if (place.Kind == zorm::Engine::Sqlite) {
        zorm::History history(place.File, std::nullopt);
        history.Open();
        Print("first page through the History worker", Measure(QueryRuns, [&] {
                  bool listed = false;
                  QEventLoop loop;
                  QObject::connect(&history, &zorm::History::Listed, &loop,
                                   [&](std::uint64_t, const zorm::RecordList& rows) {
                                       listed = rows.Rows.size() == PageRows;
                                       loop.quit();
                                   });
                  history.RequestList({{}, std::nullopt, PageRows});
                  loop.exec();
                  return listed;
              }));
    }
}

int Usage() {
    std::fprintf(stderr, "usage: records_bench [--commits N] [--dir DIR] [--postgres]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    int commits = 200;
    std::optional<fs::path> dir;
    bool postgres = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--commits" && i + 1 < argc) {
            commits = std::atoi(argv[++i]);
        } else if (arg == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (arg == "--postgres") {
            postgres = true;
        } else {
            return Usage();
        }
    }
    if (commits < 1) {
        return Usage();
    }
    const fs::path folder =
        (dir ? *dir : fs::current_path()) / ("records-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    CommitPart(folder / "", commits);
    ListPart(
        zorm::DatabasePlace::LocalFile(QString::fromStdString((folder / "list.sqlite").string())),
        "SQLite");
    fs::remove_all(folder);
    if (postgres) {
        zorm::test::PgCluster cluster;
        cluster.CreateDatabase("bench");
        ListPart(zorm::DatabasePlace::SharedServer(cluster.Url("bench")),
                 "PostgreSQL on a Unix socket");
    }
    return 0;
}
