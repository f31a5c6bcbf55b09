// log_bench: what a measurement pass spends on its line of the measurement
// log: the line's text (LogLine) and LogFile::Append, while the log's worker
// syncs the line before it to the disk. For comparison, the same lines
// written and synced (fdatasync) by the pass itself, as a log without the
// worker would do.
//
//     log_bench [--dir DIR] [--count N] [--interval-ms MS]
//
// The files go into a scratch folder made in DIR (default: the working
// directory; on a tmpfs a sync costs nothing, so run it where the data folder
// lives). Passes come --interval-ms apart (default 100; the shortest period
// of the periodic measurement is 1000 ms, a pass of three sensors takes some
// 150 ms of line time); 0 sends them back to back, so that each line waits
// for the sync of the one before.

#include "bench/quantile.h"
#include "data/log_file.h"
#include "data/measurement_log.h"

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;
using zorm::bench::Quantile;

const char* FileSystemName(const std::filesystem::path& dir) {
    struct statfs info {};
    if (::statfs(dir.c_str(), &info) != 0) {
        return "unknown";
    }
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:
        return "ext2/3/4";
    case 0x01021994:
        return "tmpfs";
    case 0x58465342:
        return "xfs";
    case 0x9123683E:
        return "btrfs";
    case 0x794C7630:
        return "overlayfs";
    case 0x6969:
        return "nfs";
    default:
        return "other";
    }
}

// A pass of three sensors, the first calibrated, its readings moving.
zorm::MeasurementPass PassNumber(int n) {
    zorm::MeasurementPass pass;
    pass.UnixMs = 1'741'940'813'589 + std::int64_t{n} * 1000;
    pass.UtcOffsetSeconds = 3600;
    for (std::size_t k = 0; k < 3; ++k) {
        pass.Sensors[k] = {zorm::SensorOutcome::Measured,
                           21500 + static_cast<int>(k) * 1000 + n % 97, k == 0,
                           21.5F + static_cast<float>(n % 97) / 100};
    }
    return pass;
}

void Print(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%-26s median %7.3f ms  p99 %7.3f ms  max %7.3f ms\n", what, Quantile(times, 0.5),
                Quantile(times, 0.99), times.back());
}

int Usage() {
    std::fprintf(stderr, "usage: log_bench [--dir DIR] [--count N] [--interval-ms MS]\n");
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    std::filesystem::path dir = ".";
    long count = 300;
    long intervalMs = 100;
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 == argc) {
            return Usage();
        }
        const char* value = argv[i + 1];
        if (std::strcmp(argv[i], "--dir") == 0) {
            dir = value;
        } else if (std::strcmp(argv[i], "--count") == 0) {
            count = std::strtol(value, nullptr, 10);
        } else if (std::strcmp(argv[i], "--interval-ms") == 0) {
            intervalMs = std::strtol(value, nullptr, 10);
        } else {
            return Usage();
        }
    }
    if (count < 1 || intervalMs < 0) {
        return Usage();
    }
    std::string pattern = (dir / "zorm-log-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("log_bench: mkdtemp");
        return 1;
    }
    const std::filesystem::path scratch = pattern;
    std::printf("log_bench: %ld passes %ld ms apart, files in %s (%s)\n", count, intervalMs,
                std::filesystem::absolute(scratch).c_str(), FileSystemName(scratch));

    std::string reason;
    std::unique_ptr<zorm::LogFile> log = zorm::LogFile::Create(scratch / "zaznam.csv", reason);
    if (!log || !log->Append(zorm::LogFileStart(','), reason)) {
        std::fprintf(stderr, "log_bench: %s\n", reason.c_str());
        return 1;
    }
    std::vector<double> withWorker;
    for (int n = 0; n < count; ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
        const auto start = Clock::now();
        const bool ok = log->Append(zorm::LogLine(PassNumber(n), ','), reason);
        withWorker.push_back(Ms(Clock::now() - start).count());
        if (!ok) {
            std::fprintf(stderr, "log_bench: %s\n", reason.c_str());
            return 1;
        }
    }
    log.reset();

    const int fd = ::open((scratch / "synchronous.csv").c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<double> inPass;
    for (int n = 0; n < count && fd >= 0; ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
        const auto start = Clock::now();
        const std::string line = zorm::LogLine(PassNumber(n), ',');
        const bool ok =
            ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
            ::fdatasync(fd) == 0;
        inPass.push_back(Ms(Clock::now() - start).count());
        if (!ok) {
            std::perror("log_bench: synchronous write");
            return 1;
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    std::filesystem::remove_all(scratch);

    Print("pass, worker syncs", withWorker);
    if (!inPass.empty()) {
        Print("pass, syncing itself", inPass);
    }
    std::printf("target: the pass's median <= 0.5 ms\n");
    return 0;
}
