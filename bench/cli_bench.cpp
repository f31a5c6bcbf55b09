// cli_bench: what zorm5816-cli costs a script, the program started as a
// process for every run, against zorm5816-sim on a pseudo-terminal.
//
//   scan      `zorm5816-cli scan --port 1` over a paced line with converters
//             at the addresses 1, 4 and 7: the ten addresses, from the start
//             of the process to its end. Target: median at most 1.5 s.
//   identify  `zorm5816-cli identify --port 1` against an instant simulator,
//             from the start of the process to its end, less the one
//             identification exchange it makes (timed in this process on the
//             same line with the same link). Target: median at most 50 ms.
//
//     cli_bench [--runs N]     (default 10)

#include "bench/quantile.h"
#include "bench/runs_option.h"
#include "data/context.h"
#include "data/param_files.h"
#include "link/drv232.h"
#include "link/port_names.h"
#include "link/posix_serial_port.h"
#include "sim/pty_process.h"
#include "tests/support/scratch_directory.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;
using zorm::bench::Quantile;

// Runs the program with `args`, its output thrown away; the time from the
// spawn to its end, or nothing when it did not end with status 0.
std::optional<double> TimedRun(std::vector<std::string> args) {
    args.insert(args.begin(), ZORM_CLI_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const Clock::time_point start = Clock::now();
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = -1;
    if (error != 0 || waitpid(pid, &status, 0) != pid) {
        return std::nullopt;
    }
    const double ms = Ms(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return ms;
}

// `runs` timed runs of the program, sorted; nothing when one failed.
std::optional<std::vector<double>> TimedRuns(int runs, const std::vector<std::string>& args) {
    std::vector<double> ms;
    for (int k = 0; k < runs; ++k) {
        const std::optional<double> run = TimedRun(args);
        if (!run) {
            std::fprintf(stderr, "cli_bench: %s %s did not end with status 0\n", ZORM_CLI_PROGRAM,
                         args.front().c_str());
            return std::nullopt;
        }
        ms.push_back(*run);
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

// The identification exchange alone, timed `runs` times on COM1 of `dir`.
std::optional<std::vector<double>> Exchanges(int runs, const fs::path& dir) {
    zorm::Context context;
    context.DeviceSettings.DeviceAddress = 1;
    context.DeviceSettings.RtsOnTransmit = 1;
    zorm::Drv232 link(context, [&dir](std::uint8_t n) -> std::unique_ptr<zorm::SerialPort> {
        return zorm::PosixSerialPort::Open(zorm::PortDevicePath(n, dir));
    });
    if (!link.OpenPort(1)) {
        std::fprintf(stderr, "cli_bench: cannot open %s/COM1\n", dir.c_str());
        return std::nullopt;
    }
    std::vector<double> ms;
    for (int k = 0; k < runs; ++k) {
        const Clock::time_point start = Clock::now();
        if (link.ReadDeviceType() == zorm::DeviceTypeError) {
            std::fprintf(stderr, "cli_bench: the simulator did not identify itself\n");
            return std::nullopt;
        }
        ms.push_back(Ms(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

void PrintRow(const char* name, const std::vector<double>& ms, double less = 0) {
    std::printf("%-22s %9.1f ms %9.1f ms %9.1f ms\n", name, Quantile(ms, 0.5) - less,
                ms.front() - less, ms.back() - less);
}

int Usage() {
    std::fprintf(stderr, "usage: cli_bench [--runs N]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<int> runArgument = zorm::bench::RunsOption(argc, argv, 10);
    if (!runArgument) {
        return Usage();
    }
    const int runs = *runArgument;

    const zorm::test::ScratchDirectory scratch;
    const std::string dir = scratch.Path().string();
    {
        // The settings the runs find: address 1, the search at port 1.
        const zorm::test::WorkingDirectory inside(scratch.Path());
        zorm::Context context;
        context.DeviceSettings = {1, 1, 1, 1, 0};
        if (!zorm::SaveParameters(context)) {
            std::fprintf(stderr, "cli_bench: cannot write Parametry.par in %s\n", dir.c_str());
            return 1;
        }
    }

    std::printf("%d runs of %s each, the program started as a process\n\n", runs, ZORM_CLI_PROGRAM);
    std::printf("%-22s %12s %12s %12s\n", "", "median", "min", "max");
    std::optional<std::vector<double>> scan;
    {
        zorm::sim::SimulatorProcess sim(
            ZORM_SIM_PROGRAM, {"--dir", dir, "--port", "1", "--address", "1,4,7", "--pace"});
        if (sim.ReadyLine().empty()) {
            std::fprintf(stderr, "cli_bench: the simulator did not start\n");
            return 1;
        }
        scan = TimedRuns(runs, {"scan", "--port", "1", "--data-dir", dir});
    }
    std::optional<std::vector<double>> identify;
    std::optional<std::vector<double>> exchange;
    {
        zorm::sim::SimulatorProcess sim(ZORM_SIM_PROGRAM, {"--dir", dir, "--port", "1"});
        if (sim.ReadyLine().empty()) {
            std::fprintf(stderr, "cli_bench: the simulator did not start\n");
            return 1;
        }
        exchange = Exchanges(runs, scratch.Path());
        if (exchange) {
            identify = TimedRuns(runs, {"identify", "--port", "1", "--data-dir", dir});
        }
    }
    if (!scan || !identify || !exchange) {
        return 1;
    }
    const double exchangeMedian = Quantile(*exchange, 0.5);
    PrintRow("scan (paced, 1,4,7)", *scan);
    PrintRow("identify", *identify);
    PrintRow("identify exchange", *exchange);
    PrintRow("identify - exchange", *identify, exchangeMedian);
    const bool scanMet = Quantile(*scan, 0.5) <= 1500;
    const bool startMet = Quantile(*identify, 0.5) - exchangeMedian <= 50;
    std::printf("\ntarget scan (median <= 1.5 s): %s\n", scanMet ? "met" : "NOT met");
    std::printf("target start-up (identify median - exchange median <= 50 ms): %s\n",
                startMet ? "met" : "NOT met");
    return 0;
}
